#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "platform/capture/CaptureSource.h"
#include "platform/capture/CardState.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/capture/PVProp.h"
#include "platform/capture/tests/TestSink.h"
#include "platform/media/MediaType.h"
#include "tests/support/TestSupport.h"

namespace halvard::capture {
namespace {

using testing::CTestSink;

class CaptureSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HALVARD_SIMULATED_CARDS", "3", 1);
    setenv("HALVARD_V4L2_DIR", m_dir.Path().c_str(), 1);
    setenv("HALVARD_SIMULATED_CONTROL", m_dir.File("motion").c_str(), 1);
    ResetCardStates();
    ResetPvLibrary();
    RegisterCaptureClasses();
    m_objectsBefore = CBaseObject::ObjectsActive();
  }
  void TearDown() override {
    EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsBefore) << "objects left alive";
    unsetenv("HALVARD_SIMULATED_CARDS");
    unsetenv("HALVARD_V4L2_DIR");
    unsetenv("HALVARD_SIMULATED_CONTROL");
  }

  static ComPtr<IEnumMoniker> VideoDevices() {
    ComPtr<ICreateDevEnum> devEnum;
    EXPECT_EQ(com::CreateInstance(CLSID_SystemDeviceEnum, &devEnum), S_OK);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0),
              S_OK);
    return monikers;
  }

  static std::string ReadProperty(IMoniker* moniker, const wchar_t* name, HRESULT* result = nullptr) {
    ComPtr<IPropertyBag> bag;
    EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = bag->Read(name, &v, nullptr);
    if (result != nullptr) {
      *result = hr;
    }
    std::string text = SUCCEEDED(hr) && v.vt == VT_BSTR ? media::ToUtf8(v.bstrVal) : std::string();
    VariantClear(&v);
    return text;
  }

  static ComPtr<IBaseFilter> Card(const std::string& name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(FindDeviceFilter(CLSID_VideoInputDeviceCategory, name, filter.ReleaseAndGetAddressOf()), S_OK);
    return filter;
  }

  static ComPtr<IAMStreamConfig> Config(IBaseFilter* filter) {
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(L"Capture", pin.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(pin.As(&config), S_OK);
    return config;
  }

  ::halvard::testing::TempDir m_dir;
  LONG m_objectsBefore = 0;
};

TEST_F(CaptureSourceTest, EnumeratorListsTheSimulatedCards) {
  ComPtr<IEnumMoniker> monikers = VideoDevices();
  std::vector<std::string> names;
  std::vector<std::string> paths;
  ComPtr<IMoniker> m;
  while (monikers->Next(1, m.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    names.push_back(ReadProperty(m.Get(), L"FriendlyName"));
    paths.push_back(ReadProperty(m.Get(), L"devicepath"));  // names are not case-sensitive
  }
  EXPECT_EQ(names, (std::vector<std::string>{"BT878 Capture 0", "BT878 Capture 1", "BT878 Capture 2"}));
  EXPECT_EQ(paths, (std::vector<std::string>{"simulated:0", "simulated:1", "simulated:2"}));

  // Several at once, skipping, cloning.
  ASSERT_EQ(monikers->Reset(), S_OK);
  IMoniker* batch[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(monikers->Next(4, batch, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 3u);
  for (ULONG i = 0; i < fetched; ++i) {
    batch[i]->Release();
  }
  ASSERT_EQ(monikers->Reset(), S_OK);
  EXPECT_EQ(monikers->Skip(2), S_OK);
  ComPtr<IEnumMoniker> clone;
  ASSERT_EQ(monikers->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(clone->Next(1, m.ReleaseAndGetAddressOf(), nullptr), S_OK);
  EXPECT_EQ(ReadProperty(m.Get(), L"FriendlyName"), "BT878 Capture 2");
  EXPECT_EQ(monikers->Skip(5), S_FALSE);

  // The property bag answers only its two names, as text, and cannot be written.
  HRESULT hr = S_OK;
  EXPECT_EQ(ReadProperty(m.Get(), L"CLSID", &hr), "");
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(2));
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  EXPECT_EQ(bag->Read(L"FriendlyName", &v, nullptr), MAKE_HRESULT_CODE(0x80020005));
  EXPECT_EQ(bag->Write(L"FriendlyName", &v), E_ACCESSDENIED);
  EXPECT_EQ(bag->Read(nullptr, &v, nullptr), E_POINTER);
}

TEST_F(CaptureSourceTest, EmptyOrUnknownCategoryAndMissingDevices) {
  ComPtr<ICreateDevEnum> devEnum;
  ASSERT_EQ(com::CreateInstance(CLSID_SystemDeviceEnum, &devEnum), S_OK);
  ComPtr<IEnumMoniker> monikers;
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, monikers.ReleaseAndGetAddressOf(), 0),
            S_FALSE);
  EXPECT_FALSE(monikers);
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0), E_POINTER);

  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(FindDeviceFilter(CLSID_VideoInputDeviceCategory, "BT878 Capture 7", filter.ReleaseAndGetAddressOf()),
            VFW_E_NOT_FOUND);
  // Names are compared exactly.
  EXPECT_EQ(FindDeviceFilter(CLSID_VideoInputDeviceCategory, "bt878 capture 0", filter.ReleaseAndGetAddressOf()),
            VFW_E_NOT_FOUND);

  // A card that goes away between listing and binding.
  monikers = VideoDevices();
  ComPtr<IMoniker> m;
  ASSERT_EQ(monikers->Skip(2), S_OK);
  ASSERT_EQ(monikers->Next(1, m.ReleaseAndGetAddressOf(), nullptr), S_OK);
  setenv("HALVARD_SIMULATED_CARDS", "2", 1);
  EXPECT_EQ(m->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid()), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_FALSE(filter);

  setenv("HALVARD_SIMULATED_CARDS", "0", 1);
  EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0),
            S_FALSE);
}

TEST_F(CaptureSourceTest, CapturePinOffersTheFourSizesInBothLayouts) {
  ComPtr<IBaseFilter> card = Card("BT878 Capture 1");
  ComPtr<IAMStreamConfig> config = Config(card.Get());
  int count = 0;
  int size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, kCaptureFormatCount);
  ASSERT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* pmt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(config->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(*pmt);
    ASSERT_NE(vih, nullptr);
    EXPECT_EQ(pmt->subtype, i < 4 ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24);
    EXPECT_EQ(vih->bmiHeader.biWidth, kCaptureSizes[i % 4].width);
    EXPECT_EQ(vih->bmiHeader.biHeight, kCaptureSizes[i % 4].height);
    EXPECT_EQ(vih->bmiHeader.biBitCount, i < 4 ? 16 : 24);
    EXPECT_EQ(caps.InputSize.cx, kCaptureSizes[i % 4].width);
    DeleteMediaType(pmt);
  }
  AM_MEDIA_TYPE* pmt = nullptr;
  BYTE caps[sizeof(VIDEO_STREAM_CONFIG_CAPS)];
  EXPECT_EQ(config->GetStreamCaps(8, &pmt, caps), S_FALSE);
  EXPECT_EQ(config->GetStreamCaps(-1, &pmt, caps), E_INVALIDARG);

  // Default: 320 x 240 YUY2 at 25 frames/s.
  ASSERT_EQ(config->GetFormat(&pmt), S_OK);
  EXPECT_EQ(media::DescribeMediaType(*pmt), media::DescribeMediaType(media::MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240)));
  EXPECT_EQ(GetVideoInfoHeader(*pmt)->AvgTimePerFrame, 400000);

  // The pipeline edits width, height and subtype of that type and hands it back: the
  // stale image size and bit count must not matter.
  pmt->subtype = MEDIASUBTYPE_RGB24;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat);
  vih->bmiHeader.biWidth = 640;
  vih->bmiHeader.biHeight = 288;
  EXPECT_EQ(config->SetFormat(pmt), S_OK);
  DeleteMediaType(pmt);
  ASSERT_EQ(config->GetFormat(&pmt), S_OK);
  EXPECT_EQ(pmt->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(GetVideoInfoHeader(*pmt)->bmiHeader.biSizeImage, 640u * 3 * 288);

  // Sizes, layouts and types the card does not have.
  vih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat);
  vih->bmiHeader.biWidth = 720;
  vih->bmiHeader.biHeight = 576;
  EXPECT_EQ(config->SetFormat(pmt), VFW_E_INVALIDMEDIATYPE);
  vih->bmiHeader.biWidth = 320;
  vih->bmiHeader.biHeight = -240;  // top-down RGB
  EXPECT_EQ(config->SetFormat(pmt), VFW_E_INVALIDMEDIATYPE);
  vih->bmiHeader.biHeight = 240;
  pmt->subtype = MEDIASUBTYPE_RGB32;
  EXPECT_EQ(config->SetFormat(pmt), VFW_E_INVALIDMEDIATYPE);
  pmt->subtype = MEDIASUBTYPE_RGB24;
  pmt->majortype = MEDIATYPE_Audio;
  EXPECT_EQ(config->SetFormat(pmt), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
  DeleteMediaType(pmt);

  // The pin proposes the current format first.
  ComPtr<IPin> pin;
  ASSERT_EQ(card->FindPin(L"Capture", pin.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(types->Next(1, &pmt, nullptr), S_OK);
  EXPECT_EQ(pmt->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(GetVideoInfoHeader(*pmt)->bmiHeader.biWidth, 640);
  DeleteMediaType(pmt);
  // Category: capture.
  ComPtr<IKsPropertySet> ks;
  ASSERT_EQ(pin.As(&ks), S_OK);
  GUID category = GUID_NULL;
  DWORD returned = 0;
  ASSERT_EQ(ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned), S_OK);
  EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
}

TEST_F(CaptureSourceTest, AnalogueStandardsSetTheFrameRate) {
  ComPtr<IBaseFilter> card = Card("BT878 Capture 0");
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(card.As(&decoder), S_OK);  // the filter answers for its pin
  LONG available = 0;
  ASSERT_EQ(decoder->get_AvailableTVFormats(&available), S_OK);
  for (LONG s : {AnalogVideo_NTSC_M, AnalogVideo_NTSC_M_J, AnalogVideo_PAL_B, AnalogVideo_PAL_D, AnalogVideo_PAL_I,
                 AnalogVideo_SECAM_B, AnalogVideo_SECAM_D, AnalogVideo_SECAM_L}) {
    EXPECT_NE(available & s, 0) << s;
  }
  ASSERT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M), S_OK);
  LONG standard = 0;
  ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
  EXPECT_EQ(standard, AnalogVideo_NTSC_M);
  LONG lines = 0;
  ASSERT_EQ(decoder->get_NumberOfLines(&lines), S_OK);
  EXPECT_EQ(lines, 525);
  AM_MEDIA_TYPE* pmt = nullptr;
  ASSERT_EQ(Config(card.Get())->GetFormat(&pmt), S_OK);
  EXPECT_EQ(GetVideoInfoHeader(*pmt)->AvgTimePerFrame, 333667);
  DeleteMediaType(pmt);

  EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M | AnalogVideo_PAL_B), E_INVALIDARG);
  EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_SECAM_L1), E_INVALIDARG);
  EXPECT_EQ(decoder->put_TVFormat(0), E_INVALIDARG);
  ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
  EXPECT_EQ(standard, AnalogVideo_NTSC_M);
}

TEST_F(CaptureSourceTest, DeviceControlsAndPropertyPages) {
  ComPtr<IBaseFilter> card = Card("BT878 Capture 2");
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(card.As(&pages), S_OK);
  CAUUID list{};
  ASSERT_EQ(pages->GetPages(&list), S_OK);
  ASSERT_EQ(list.cElems, 1u);
  EXPECT_EQ(list.pElems[0], CLSID_CaptureDeviceControlsPage);
  CoTaskMemFree(list.pElems);

  ComPtr<ICaptureDeviceControls> controls;
  ASSERT_EQ(card.As(&controls), S_OK);
  LONG count = 0;
  ASSERT_EQ(controls->GetControlCount(&count), S_OK);
  std::map<std::string, LONG> index;
  for (LONG i = 0; i < count; ++i) {
    CAPTURE_DEVICE_CONTROL c{};
    ASSERT_EQ(controls->GetControl(i, &c), S_OK);
    index[media::ToUtf8(c.name)] = i;
  }
  ASSERT_TRUE(index.count("Input 3 Hue"));
  ASSERT_TRUE(index.count("Video Source"));
  ASSERT_TRUE(index.count("Input 1 Enabled"));
  EXPECT_EQ(controls->SetControl(index["Input 3 Hue"], 1234), S_OK);
  EXPECT_EQ(GetCardState(2).inputs[3].hue, 1234u);
  EXPECT_EQ(controls->SetControl(index["Input 1 Enabled"], 0), S_OK);
  EXPECT_EQ(GetCardState(2).enabledMask, 0b1101u);
  EXPECT_EQ(controls->SetControl(index["Input 3 Hue"], 10001), E_INVALIDARG);
  EXPECT_EQ(controls->SetControl(count, 0), E_INVALIDARG);
  CAPTURE_DEVICE_CONTROL c{};
  EXPECT_EQ(controls->GetControl(-1, &c), E_INVALIDARG);
  EXPECT_EQ(GetCardState(1).inputs[3].hue, 5000u);  // other cards untouched
}

// Connects the card straight to a test sink (no graph) and runs it.
TEST_F(CaptureSourceTest, StreamsEnabledInputsInTurnAndStopsAtTheLimit) {
  ComPtr<IBaseFilter> card = Card("BT878 Capture 0");
  auto* sinkObject = new CTestSink();
  ComPtr<IBaseFilter> sink(static_cast<IBaseFilter*>(sinkObject));
  ComPtr<IPin> out;
  ASSERT_EQ(card->FindPin(L"Capture", out.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(out->Connect(sinkObject->InputPin(), nullptr), S_OK);

  ComPtr<IFrameCounter> counter;
  ASSERT_EQ(card.As(&counter), S_OK);
  ASSERT_EQ(counter->SetFrameLimit(8), S_OK);
  ASSERT_EQ(sink->Pause(), S_OK);
  ASSERT_EQ(card->Pause(), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(card->Run(0), S_OK);
  ASSERT_TRUE(sinkObject->WaitEndOfStream());
  EXPECT_EQ(sinkObject->Channels(), (std::vector<int>{0, 1, 2, 3, 0, 1, 2, 3}));
  EXPECT_EQ(sinkObject->Lengths().front(), 320 * 240 * 2);
  ASSERT_EQ(card->Stop(), S_OK);
  ASSERT_EQ(sink->Stop(), S_OK);
  LONGLONG n = 0;
  ASSERT_EQ(counter->GetChannelFrameCount(2, &n), S_OK);
  EXPECT_EQ(n, 2);

  // Two inputs switched off through the card library: the other two share the stream.
  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_EnableVideoSource(0, 0, 0));
  ASSERT_TRUE(PV_EnableVideoSource(0, 2, 0));
  sinkObject->Clear();
  ASSERT_EQ(sink->Pause(), S_OK);
  ASSERT_EQ(card->Pause(), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(card->Run(0), S_OK);
  ASSERT_TRUE(sinkObject->WaitEndOfStream());
  EXPECT_EQ(sinkObject->Channels(), (std::vector<int>{1, 3, 1, 3, 1, 3, 1, 3}));
  ASSERT_EQ(card->Stop(), S_OK);
  ASSERT_EQ(sink->Stop(), S_OK);

  // No input at all: nothing comes, and stopping does not hang.
  ASSERT_TRUE(PV_EnableVideoSource(0, 1, 0));
  ASSERT_TRUE(PV_EnableVideoSource(0, 3, 0));
  sinkObject->Clear();
  ASSERT_EQ(sink->Pause(), S_OK);
  ASSERT_EQ(card->Pause(), S_OK);
  EXPECT_EQ(sinkObject->WaitFrames(1, 200), 0u);
  ASSERT_EQ(card->Stop(), S_OK);
  ASSERT_EQ(sink->Stop(), S_OK);

  ASSERT_EQ(out->Disconnect(), S_OK);
  ASSERT_EQ(sinkObject->InputPin()->Disconnect(), S_OK);
  ASSERT_TRUE(PV_HWUnInit());
}

TEST_F(CaptureSourceTest, SimulatedCaptureClassIsCreatable) {
  ComPtr<IBaseFilter> filter;
  setenv("HALVARD_SIMULATED_CARDS", "0", 1);
  ASSERT_EQ(com::CreateInstance(CLSID_HalvardSimulatedCapture, &filter), S_OK);
  CLSID clsid = GUID_NULL;
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_HalvardSimulatedCapture);
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(filter.As(&flags), S_OK);
  EXPECT_EQ(flags->GetMiscFlags(), AM_FILTER_MISC_FLAGS_IS_SOURCE);
}

}  // namespace
}  // namespace halvard::capture
