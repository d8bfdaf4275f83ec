// The simulated card in a real graph: card -> Smart Tee -> (capture side) sink,
// (preview side) video renderer on a memory surface.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/capture/CaptureSource.h"
#include "platform/capture/CardState.h"
#include "platform/capture/DeviceEnumerator.h"
#include "platform/capture/PVProp.h"
#include "platform/capture/tests/TestSink.h"
#include "platform/media/BuiltinClasses.h"
#include "platform/media/VideoSurface.h"
#include "tests/support/TestSupport.h"

namespace halvard::capture {
namespace {

using testing::CTestSink;

class CaptureGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HALVARD_SIMULATED_CARDS", "1", 1);
    setenv("HALVARD_V4L2_DIR", m_dir.Path().c_str(), 1);
    setenv("HALVARD_SIMULATED_CONTROL", m_dir.File("motion").c_str(), 1);
    ResetCardStates();
    ResetPvLibrary();
    media::RegisterBuiltinMediaClasses();
    RegisterCaptureClasses();
    m_objectsBefore = CBaseObject::ObjectsActive();
  }
  void TearDown() override {
    unsetenv("HALVARD_SIMULATED_CARDS");
    unsetenv("HALVARD_V4L2_DIR");
    unsetenv("HALVARD_SIMULATED_CONTROL");
  }

  static ComPtr<IPin> Pin(IBaseFilter* filter, const wchar_t* name) {
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(name, pin.ReleaseAndGetAddressOf()), S_OK) << media::ToUtf8(name);
    return pin;
  }
  static ComPtr<IPin> FirstInput(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      PIN_DIRECTION dir{};
      pin->QueryDirection(&dir);
      if (dir == PINDIR_INPUT) {
        return pin;
      }
    }
    return nullptr;
  }

  ::halvard::testing::TempDir m_dir;
  LONG m_objectsBefore = 0;
};

TEST_F(CaptureGraphTest, RunsPausesStopsReconnectsAndTearsDown) {
  {
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(com::CreateInstance(CLSID_FilterGraph, &graph), S_OK);
    ComPtr<IBaseFilter> card;
    ASSERT_EQ(FindDeviceFilter(CLSID_VideoInputDeviceCategory, "BT878 Capture 0", card.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IBaseFilter> tee;
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(com::CreateInstance(CLSID_SmartTee, &tee), S_OK);
    ASSERT_EQ(com::CreateInstance(CLSID_VideoRenderer, &renderer), S_OK);
    auto* sinkObject = new CTestSink();
    ComPtr<IBaseFilter> sink(static_cast<IBaseFilter*>(sinkObject));
    ComPtr<media::CMemorySurface> surface;
    {
      media::CMemorySurface* s = media::CMemorySurface::Create();
      surface = ComPtr<media::CMemorySurface>::Attach(s);
    }
    ComPtr<IVideoSurfaceHost> host;
    ASSERT_EQ(renderer.As(&host), S_OK);
    ASSERT_EQ(host->SetSurface(surface.Get()), S_OK);

    ASSERT_EQ(graph->AddFilter(card.Get(), L"VidCap"), S_OK);
    ASSERT_EQ(graph->AddFilter(tee.Get(), L"Tee"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.Get(), L"VidRender"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);

    // An unconnected graph runs (nothing to do) and stops.
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph.As(&control), S_OK);

    ComPtr<IPin> capture = Pin(card.Get(), L"Capture");
    ComPtr<IPin> teeIn = FirstInput(tee.Get());
    ASSERT_EQ(graph->Connect(capture.Get(), teeIn.Get()), S_OK);
    ComPtr<IPin> teeCapture = Pin(tee.Get(), L"Capture");
    ComPtr<IPin> teePreview = Pin(tee.Get(), L"Preview");
    ASSERT_EQ(graph->Connect(teeCapture.Get(), sinkObject->InputPin()), S_OK);
    ASSERT_EQ(graph->Connect(teePreview.Get(), FirstInput(renderer.Get()).Get()), S_OK);

    // A format change while running is refused; the bad type earlier, too.
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(capture.As(&config), S_OK);

    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(sinkObject->WaitFrames(8), 8u);
    EXPECT_TRUE(surface->WaitForFrames(1, 10000));
    const CMediaType other = media::MakeVideoType(MEDIASUBTYPE_RGB24, 640, 288);
    EXPECT_EQ(config->SetFormat(const_cast<CMediaType*>(&other)), VFW_E_NOT_STOPPED);
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    const std::size_t before = sinkObject->Channels().size();
    EXPECT_GT(sinkObject->WaitFrames(before + 4), before);
    ASSERT_EQ(control->Stop(), S_OK);
    const std::vector<int> channels = sinkObject->Channels();
    for (std::size_t i = 1; i < channels.size(); ++i) {
      // The capture side of the tee gets every frame, in the card's order.
      EXPECT_EQ(channels[i], (channels[i - 1] + 1) % 4) << i;
    }

    // Another format while stopped: the pin reconnects through the graph and the tee
    // passes the new type on.
    ASSERT_EQ(config->SetFormat(const_cast<CMediaType*>(&other)), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(capture->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
    FreeMediaType(connected);
    ASSERT_EQ(graph->Reconnect(teeCapture.Get()), S_OK);
    sinkObject->Clear();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(sinkObject->WaitFrames(4), 4u);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(sinkObject->Lengths().front(), 640 * 288 * 3);

    // A bad media type and an unconnected pin give their documented results.
    const CMediaType bad = media::MakeVideoType(MEDIASUBTYPE_RGB32, 320, 240);
    EXPECT_EQ(config->SetFormat(const_cast<CMediaType*>(&bad)), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(capture->QueryAccept(&bad), S_FALSE);
    ComPtr<IPin> peer;
    ASSERT_EQ(graph->Disconnect(teePreview.Get()), S_OK);
    EXPECT_EQ(teePreview->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);

    // Teardown as the pipeline does it: remove every filter, release everything.
    for (IBaseFilter* f : {sink.Get(), renderer.Get(), tee.Get(), card.Get()}) {
      EXPECT_EQ(graph->RemoveFilter(f), S_OK);
    }
    host->SetSurface(nullptr);
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsBefore) << "every object of the graph must be gone";
}

TEST_F(CaptureGraphTest, RenderStreamBuildsThePreviewOfTheCard) {
  {
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(com::CreateInstance(CLSID_CaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(com::CreateInstance(CLSID_FilterGraph, &graph), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ComPtr<IBaseFilter> card;
    ASSERT_EQ(FindDeviceFilter(CLSID_VideoInputDeviceCategory, "BT878 Capture 0", card.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(graph->AddFilter(card.Get(), L"VidCap"), S_OK);

    // What the pipeline asks of the capture pin before it connects anything.
    ComPtr<IAMAnalogVideoDecoder> decoder;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, card.Get(), IID_IAMAnalogVideoDecoder,
                                     decoder.PutVoid()),
              S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, card.Get(), IID_IAMStreamConfig,
                                     config.PutVoid()),
              S_OK);

    auto* sinkObject = new CTestSink();
    ComPtr<IBaseFilter> sink(static_cast<IBaseFilter*>(sinkObject));
    ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, card.Get(), nullptr, sink.Get()), S_OK);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph.As(&control), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(sinkObject->WaitFrames(4), 4u);
    ASSERT_EQ(control->Stop(), S_OK);
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsBefore);
}

}  // namespace
}  // namespace halvard::capture
