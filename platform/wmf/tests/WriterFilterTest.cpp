// The writer filter in a media graph: pins from the profile, accepted and refused
// inputs, its own file and added sinks, and the interfaces the pipeline uses.

#include <gtest/gtest.h>

#include "platform/media/BaseFilter.h"
#include "platform/media/MediaType.h"
#include "platform/media/TestSource.h"
#include "platform/media/Types.h"
#include "platform/wmf/AsfWriterFilter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::wmf {
namespace {

using halvard::com::CreateInstance;

std::vector<ComPtr<IPin>> InputPins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> pinEnum;
  EXPECT_EQ(filter->EnumPins(pinEnum.ReleaseAndGetAddressOf()), S_OK);
  IPin* pin = nullptr;
  while (pinEnum->Next(1, &pin, nullptr) == S_OK) {
    pins.push_back(ComPtr<IPin>::Attach(pin));
  }
  return pins;
}

std::string PinName(IPin* pin) {
  PIN_INFO info{};
  EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
  if (info.pFilter != nullptr) {
    info.pFilter->Release();
  }
  return halvard::media::ToUtf8(info.achName);
}

class WriterFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateInstance(CLSID_FilterGraph, &m_graph), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_WMAsfWriter, &m_writer), S_OK);
    ASSERT_EQ(m_graph->AddFilter(m_writer.Get(), L"Mux"), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_HalvardTestSource, &m_source), S_OK);
    ASSERT_EQ(m_graph->AddFilter(m_source.Get(), L"VidCap"), S_OK);
  }
  void TearDown() override {
    ComPtr<IMediaControl> control;
    if (SUCCEEDED(m_graph.As(&control))) {
      (void)control->Stop();
    }
  }
  ComPtr<IPin> SourcePin() {
    ComPtr<IEnumPins> pins;
    (void)m_source->EnumPins(pins.ReleaseAndGetAddressOf());
    IPin* pin = nullptr;
    (void)pins->Next(1, &pin, nullptr);
    return ComPtr<IPin>::Attach(pin);
  }
  HRESULT ConnectSource(const GUID& subtype, LONG width, LONG height) {
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = SourcePin().As(&config);
    if (FAILED(hr)) {
      return hr;
    }
    CMediaType format = halvard::media::MakeVideoType(subtype, width, height, 400000);
    hr = config->SetFormat(&format);
    if (FAILED(hr)) {
      return hr;
    }
    return m_graph->ConnectDirect(SourcePin().Get(), InputPins(m_writer.Get())[1].Get(), nullptr);
  }

  ComPtr<IGraphBuilder> m_graph;
  ComPtr<IBaseFilter> m_writer;
  ComPtr<IBaseFilter> m_source;
};

TEST_F(WriterFilter, HasOnePinPerProfileStreamNamedByItsConnection) {
  auto pins = InputPins(m_writer.Get());
  ASSERT_EQ(pins.size(), 2u);
  EXPECT_EQ(PinName(pins[0].Get()), "Audio");
  EXPECT_EQ(PinName(pins[1].Get()), "Video");

  // A video-only profile leaves one pin.
  testing::ProfileSpec spec;
  spec.withAudio = false;
  spec.width = 640;
  spec.height = 480;
  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(m_writer.As(&config), S_OK);
  ASSERT_EQ(config->ConfigureFilterUsingProfile(testing::MakeProfile(spec).Get()), S_OK);
  pins = InputPins(m_writer.Get());
  ASSERT_EQ(pins.size(), 1u);
  EXPECT_EQ(PinName(pins[0].Get()), "Video");

  ComPtr<IServiceProvider> services;
  ASSERT_EQ(m_writer.As(&services), S_OK);
  ComPtr<IWMWriterAdvanced> advanced;
  ASSERT_EQ(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid()), S_OK);
  DWORD sinks = 9;
  ASSERT_EQ(advanced->GetSinkCount(&sinks), S_OK);
  EXPECT_EQ(sinks, 0u);
  ComPtr<IUnknown> a;
  ComPtr<IUnknown> b;
  ASSERT_EQ(advanced->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  ASSERT_EQ(m_writer->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  EXPECT_EQ(a.Get(), b.Get()) << "the advanced interface answers for the filter";
  ComPtr<IConfigInterleaving> interleaving;
  ASSERT_EQ(m_writer.As(&interleaving), S_OK);
  EXPECT_EQ(interleaving->put_Mode(INTERLEAVE_FULL), S_OK);
}

TEST_F(WriterFilter, RefusesPicturesLargerThanTheChainOrOfOddSize) {
  for (const auto& [w, h] : {std::pair{1282, 960}, std::pair{1280, 964}, std::pair{321, 240}, std::pair{320, 241}}) {
    const HRESULT hr = ConnectSource(MEDIASUBTYPE_YUY2, w, h);
    EXPECT_TRUE(FAILED(hr)) << w << "x" << h;
    ComPtr<IPin> peer;
    EXPECT_EQ(InputPins(m_writer.Get())[1]->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  }
  EXPECT_TRUE(FAILED(ConnectSource(MEDIASUBTYPE_RGB32, 320, 240))) << "RGB32 is not taken";
  EXPECT_EQ(ConnectSource(MEDIASUBTYPE_YUY2, 1280, 960), S_OK);
  // Configuration is refused while a pin is connected.
  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(m_writer.As(&config), S_OK);
  EXPECT_EQ(config->ConfigureFilterUsingProfile(testing::MakeProfile({}).Get()), VFW_E_ALREADY_CONNECTED);
}

TEST_F(WriterFilter, RecordsAGraphIntoItsOwnFileAndAnAddedSink) {
  const halvard::testing::TempDir dir;
  ComPtr<IFileSinkFilter> fileName;
  ASSERT_EQ(m_writer.As(&fileName), S_OK);
  const std::wstring scratch = halvard::media::FromUtf8(dir.File("13H-05M-22S.wmv2"));
  ASSERT_EQ(fileName->SetFileName(scratch.c_str(), nullptr), S_OK);
  LPOLESTR current = nullptr;
  ASSERT_EQ(fileName->GetCurFile(&current, nullptr), S_OK);
  EXPECT_EQ(std::wstring(current), scratch);
  CoTaskMemFree(current);

  ComPtr<IServiceProvider> services;
  ASSERT_EQ(m_writer.As(&services), S_OK);
  ComPtr<IWMWriterAdvanced> advanced;
  ASSERT_EQ(services->QueryService(IID_IWMWriterAdvanced, IID_IWMWriterAdvanced, advanced.PutVoid()), S_OK);
  ComPtr<IWMWriterFileSink> sink;
  ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
  const std::string archive = dir.File("13H-05M-22S.wmv");
  ASSERT_EQ(sink->Open(archive.c_str()), S_OK);
  ASSERT_EQ(advanced->AddSink(sink.Get()), S_OK);

  ASSERT_EQ(ConnectSource(MEDIASUBTYPE_YUY2, 320, 240), S_OK);
  ComPtr<IHalvardTestSource> source;
  ASSERT_EQ(m_source.As(&source), S_OK);
  ASSERT_EQ(source->SetFrameLimit(50), S_OK);  // 2 s at 25 frames/s
  ComPtr<IMediaControl> control;
  ASSERT_EQ(m_graph.As(&control), S_OK);
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(m_graph.As(&events), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  HRESULT hr = S_OK;
  do {
    hr = events->GetEvent(&code, &p1, &p2, 20000);
    (void)events->FreeEventParams(code, p1, p2);
  } while (hr == S_OK && code != EC_COMPLETE && code != EC_ERRORABORT);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  ASSERT_EQ(control->Stop(), S_OK);
  ComPtr<IWMWriterFileSink2> sinkControl;
  ASSERT_EQ(sink.As(&sinkControl), S_OK);
  ASSERT_EQ(sinkControl->Close(), S_OK);

  for (const std::string& file : {archive, dir.File("13H-05M-22S.wmv2")}) {
    auto info = testing::Probe(file);
    EXPECT_EQ(info["stream1.codec_name"], "wmv1") << file;
    EXPECT_EQ(info["stream1.width"], "320");
    EXPECT_EQ(info["stream1.height"], "240");
    EXPECT_NEAR(testing::DecodedSeconds(file), 2.0 - 1.0 / 30, 0.1) << file;
  }

  // Run again (a rotation): the own file is written anew.
  ASSERT_EQ(source->SetFrameLimit(25), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  do {
    hr = events->GetEvent(&code, &p1, &p2, 20000);
    (void)events->FreeEventParams(code, p1, p2);
  } while (hr == S_OK && code != EC_COMPLETE && code != EC_ERRORABORT);
  ASSERT_EQ(control->Stop(), S_OK);
  EXPECT_NEAR(testing::DecodedSeconds(dir.File("13H-05M-22S.wmv2")), 1.0 - 1.0 / 30, 0.1);
}

}  // namespace
}  // namespace halvard::wmf
