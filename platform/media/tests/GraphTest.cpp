#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/media/SnapShot.h"
#include "platform/media/TestSource.h"
#include "platform/media/VideoSurface.h"
#include "platform/media/tests/TestFilters.h"
#include "platform/window/Window.h"

namespace {

using namespace halvard::media;
using namespace halvard::media::testing;
using halvard::com::CreateInstance;

constexpr LONG kGraphNotify = WM_USER + 151;  // what a camera view would use

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_objectsBefore = CBaseObject::ObjectsActive();
    ASSERT_EQ(CreateInstance(CLSID_FilterGraph, &m_graph), S_OK);
    ASSERT_EQ(m_graph.As(&m_control), S_OK);
    ASSERT_EQ(m_graph.As(&m_events), S_OK);
  }
  void TearDown() override {
    m_control = nullptr;
    m_events = nullptr;
    m_graph = nullptr;
    // Every filter, pin, allocator and sample of the graph is gone.
    EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsBefore);
  }

  ComPtr<IBaseFilter> AddSource(LPCWSTR name = L"VidCap") {
    auto source = Create(CLSID_HalvardTestSource);
    EXPECT_TRUE(source);
    EXPECT_EQ(m_graph->AddFilter(source.Get(), name), S_OK);
    return source;
  }

  /// Source → Tee → (preview) renderer with a memory surface, (capture) counting sink.
  void BuildPreviewGraph(ComPtr<IBaseFilter>* source, ComPtr<IBaseFilter>* tee, ComPtr<IBaseFilter>* renderer,
                         ComPtr<IBaseFilter>* sink, CMemorySurface** surface) {
    *source = AddSource();
    *tee = Create(CLSID_SmartTee);
    *renderer = Create(CLSID_VideoRenderer);
    *sink = CCountingSink::Create();
    ASSERT_EQ(m_graph->AddFilter(tee->Get(), L"Tee"), S_OK);
    ASSERT_EQ(m_graph->AddFilter(renderer->Get(), L"VidRender"), S_OK);
    ASSERT_EQ(m_graph->AddFilter(sink->Get(), L"Mux"), S_OK);
    ASSERT_EQ(m_graph->Connect(FirstPin(source->Get(), PINDIR_OUTPUT).Get(), FirstPin(tee->Get(), PINDIR_INPUT).Get()),
              S_OK);
    auto teeOutputs = Pins(tee->Get(), PINDIR_OUTPUT);
    ASSERT_EQ(teeOutputs.size(), 2u);
    ASSERT_EQ(m_graph->Connect(teeOutputs[0].Get(), FirstPin(sink->Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(m_graph->Connect(teeOutputs[1].Get(), FirstPin(renderer->Get(), PINDIR_INPUT).Get()), S_OK);
    *surface = CMemorySurface::Create();
    ComPtr<IVideoSurfaceHost> host;
    ASSERT_EQ(renderer->As(&host), S_OK);
    ASSERT_EQ(host->SetSurface(*surface), S_OK);
  }

  LONG m_objectsBefore = 0;
  ComPtr<IGraphBuilder> m_graph;
  ComPtr<IMediaControl> m_control;
  ComPtr<IMediaEventEx> m_events;
};

TEST_F(GraphTest, SourceTeeRendererRunsPausesStopsReconnectsAndTearsDown) {
  ComPtr<IBaseFilter> source, tee, renderer, sink;
  CMemorySurface* surface = nullptr;
  BuildPreviewGraph(&source, &tee, &renderer, &sink, &surface);
  ComPtr<IHalvardTestSource> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetTimestamps(FALSE), S_OK);

  // Run: both branches see the frames.
  ASSERT_EQ(m_control->Pause(), S_OK);
  ASSERT_EQ(m_control->Run(), S_OK);
  OAFilterState state = -1;
  EXPECT_EQ(m_control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_TRUE(surface->WaitForFrames(20, 10000));
  EXPECT_TRUE(WaitFor([&] { return CCountingSink::From(sink.Get())->m_samples.load() >= 20; }));

  // Pause: the renderer holds, the picture stops changing.
  ASSERT_EQ(m_control->Pause(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const LONG pausedFrames = surface->FrameCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(surface->FrameCount(), pausedFrames);

  ASSERT_EQ(m_control->Stop(), S_OK);
  EXPECT_EQ(m_control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  // Reconnect the source with another format: RGB24 at 160 x 120 reaches the renderer.
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FirstPin(source.Get(), PINDIR_OUTPUT).As(&config), S_OK);
  CMediaType rgb = MakeVideoType(MEDIASUBTYPE_RGB24, 160, 120);
  // The tee's outputs are connected with YUY2: changing the format reconnects the whole chain.
  ASSERT_EQ(config->SetFormat(&rgb), S_OK);
  CMediaType connected;
  ASSERT_EQ(FirstPin(renderer.Get(), PINDIR_INPUT)->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
  ASSERT_EQ(m_control->Run(), S_OK);
  const LONG before = surface->FrameCount();
  EXPECT_TRUE(surface->WaitForFrames(before + 5, 10000));
  LONG width = 0;
  LONG height = 0;
  std::vector<BYTE> picture;
  ASSERT_TRUE(surface->LastPicture(&width, &height, &picture));
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  ASSERT_EQ(m_control->Stop(), S_OK);

  // Tear down: remove everything; the graph releases the rest.
  ComPtr<IVideoSurfaceHost> host;
  ASSERT_EQ(renderer.As(&host), S_OK);
  ASSERT_EQ(host->SetSurface(nullptr), S_OK);
  host = nullptr;
  surface->Release();
  EXPECT_EQ(m_graph->RemoveFilter(renderer.Get()), S_OK);
  EXPECT_EQ(m_graph->RemoveFilter(renderer.Get()), VFW_E_NOT_FOUND);
  EXPECT_EQ(renderer->AddRef(), 2u);  // ours and the one just taken
  EXPECT_EQ(renderer->Release(), 1u);
  config = nullptr;
  control = nullptr;
}

TEST_F(GraphTest, NamesAreUniqueAndFiltersCanBeFoundAndEnumerated) {
  auto a = Create(CLSID_SmartTee);
  auto b = Create(CLSID_SmartTee);
  auto c = Create(CLSID_SmartTee);
  EXPECT_EQ(m_graph->AddFilter(a.Get(), L"Tee"), S_OK);
  EXPECT_EQ(m_graph->AddFilter(b.Get(), L"Tee"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(m_graph->AddFilter(c.Get(), nullptr), S_OK);
  EXPECT_EQ(m_graph->AddFilter(a.Get(), L"Again"), VFW_E_DUPLICATE_NAME);
  FILTER_INFO info{};
  ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Tee 0001");
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(m_graph.Get()));
  info.pGraph->Release();

  ComPtr<IBaseFilter> found;
  EXPECT_EQ(m_graph->FindFilterByName(L"Tee 0001", found.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(found.Get(), b.Get());
  EXPECT_EQ(m_graph->FindFilterByName(L"tee 0001", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);
  EXPECT_EQ(found.Get(), nullptr);

  ComPtr<IEnumFilters> e;
  ASSERT_EQ(m_graph->EnumFilters(e.ReleaseAndGetAddressOf()), S_OK);
  int count = 0;
  IBaseFilter* f = nullptr;
  ULONG n = 0;
  while (e->Next(1, &f, &n) == S_OK) {
    ++count;
    f->Release();
  }
  EXPECT_EQ(count, 3);
  EXPECT_EQ(m_graph->RemoveFilter(b.Get()), S_OK);
  EXPECT_EQ(m_graph->FindFilterByName(L"Tee 0001", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, RefusedTypesAndUnconnectedPinsGiveTheDocumentedResults) {
  auto source = AddSource();
  auto rgbOnly = CCountingSink::Create({MEDIASUBTYPE_RGB32});
  auto renderer = Create(CLSID_VideoRenderer);
  ASSERT_EQ(m_graph->AddFilter(rgbOnly.Get(), L"Sink"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(renderer.Get(), L"VidRender"), S_OK);
  auto out = FirstPin(source.Get(), PINDIR_OUTPUT);
  auto sinkIn = FirstPin(rgbOnly.Get(), PINDIR_INPUT);

  // Unconnected pins.
  ComPtr<IPin> peer;
  EXPECT_EQ(out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer.Get(), nullptr);
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(out->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->Disconnect(), S_FALSE);
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(renderer.As(&window), S_OK);
  EXPECT_EQ(window->put_Visible(OATRUE), VFW_E_NOT_CONNECTED);
  ComPtr<ISnapShot> none;
  EXPECT_EQ(source.As(&none), E_NOINTERFACE);

  // A YUY2 source and an RGB32-only sink: no direct type...
  EXPECT_EQ(m_graph->ConnectDirect(out.Get(), sinkIn.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  CMediaType yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  EXPECT_EQ(sinkIn->QueryAccept(&yuy2), S_FALSE);
  EXPECT_EQ(m_graph->ConnectDirect(out.Get(), sinkIn.Get(), &yuy2), VFW_E_TYPE_NOT_ACCEPTED);
  // ...the wrong direction and a pin outside the graph are refused too...
  EXPECT_EQ(m_graph->ConnectDirect(sinkIn.Get(), out.Get(), nullptr), VFW_E_INVALID_DIRECTION);
  auto outsider = Create(CLSID_SmartTee);
  EXPECT_EQ(m_graph->ConnectDirect(out.Get(), FirstPin(outsider.Get(), PINDIR_INPUT).Get(), nullptr),
            VFW_E_NOT_IN_GRAPH);
  // ...but Connect goes through the colour converter.
  ASSERT_EQ(m_graph->Connect(out.Get(), sinkIn.Get()), S_OK);
  ComPtr<IBaseFilter> converter;
  ASSERT_EQ(m_graph->FindFilterByName(L"Color Space Converter", converter.ReleaseAndGetAddressOf()), S_OK);
  CMediaType arrived;
  ASSERT_EQ(sinkIn->ConnectionMediaType(&arrived), S_OK);
  EXPECT_EQ(arrived.subtype, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(out->Connect(sinkIn.Get(), nullptr), VFW_E_ALREADY_CONNECTED);

  // State changes with a connected graph refuse reconnection while running.
  ComPtr<IHalvardTestSource> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetTimestamps(FALSE), S_OK);
  ASSERT_EQ(m_control->Run(), S_OK);
  EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_TRUE(WaitFor([&] { return CCountingSink::From(rgbOnly.Get())->m_samples.load() >= 5; }));
  ASSERT_EQ(m_control->Stop(), S_OK);
  control = nullptr;
}

TEST_F(GraphTest, EndOfStreamPostsOneCompleteEventToTheNotifyWindow) {
  halvard::window::CMessageQueue queue;
  std::vector<MSG> received;
  const HWND view = halvard::window::CreateWindowHandle(
      [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        received.push_back(MSG{hwnd, message, wParam, lParam, 0});
        return 0;
      },
      &queue);
  ASSERT_EQ(m_events->SetNotifyWindow(static_cast<OAHWND>(view), kGraphNotify, 77), S_OK);

  ComPtr<IBaseFilter> source, tee, renderer, sink;
  CMemorySurface* surface = nullptr;
  BuildPreviewGraph(&source, &tee, &renderer, &sink, &surface);
  ComPtr<IHalvardTestSource> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetFrameLimit(10), S_OK);
  ASSERT_EQ(control->SetTimestamps(FALSE), S_OK);
  ASSERT_EQ(m_control->Run(), S_OK);

  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  ASSERT_EQ(m_events->GetEvent(&code, &p1, &p2, 10000), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);  // once, after both renderers finished
  EXPECT_EQ(m_events->FreeEventParams(code, p1, p2), S_OK);
  EXPECT_EQ(m_events->GetEvent(&code, &p1, &p2, 50), E_ABORT);
  EXPECT_EQ(CCountingSink::From(sink.Get())->m_samples.load(), 10);
  EXPECT_EQ(surface->FrameCount(), 10);

  EXPECT_TRUE(queue.PumpUntil([&] { return !received.empty(); }, 5000));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].message, static_cast<UINT>(kGraphNotify));
  EXPECT_EQ(received[0].lParam, 77);

  ASSERT_EQ(m_control->Stop(), S_OK);
  ASSERT_EQ(m_events->SetNotifyWindow(0, 0, 0), S_OK);
  halvard::window::DestroyWindowHandle(view);
  surface->Release();
  control = nullptr;
}

TEST_F(GraphTest, PausedRendererStepsOneFrameAtATime) {
  ComPtr<IBaseFilter> source, tee, renderer, sink;
  CMemorySurface* surface = nullptr;
  BuildPreviewGraph(&source, &tee, &renderer, &sink, &surface);
  ComPtr<IHalvardTestSource> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetTimestamps(FALSE), S_OK);
  ComPtr<IVideoFrameStep> step;
  ASSERT_EQ(m_graph.As(&step), S_OK);
  ASSERT_EQ(m_control->Pause(), S_OK);
  EXPECT_TRUE(surface->WaitForFrames(1, 5000));  // the paused picture
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(surface->FrameCount(), 1);
  ASSERT_EQ(step->Step(1, nullptr), S_OK);
  LONG code = 0;
  LONG_PTR p1 = 0;
  LONG_PTR p2 = 0;
  ASSERT_EQ(m_events->GetEvent(&code, &p1, &p2, 5000), S_OK);
  EXPECT_EQ(code, EC_STEP_COMPLETE);
  EXPECT_EQ(surface->FrameCount(), 2);
  ASSERT_EQ(m_control->Stop(), S_OK);
  surface->Release();
  control = nullptr;
}

TEST_F(GraphTest, SnapshotHandsOutTheCurrentPictureAsABottomUpDib) {
  auto source = AddSource();
  auto snap = Create(CLSID_ZelSnapShot);
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(snap.Get(), L"ZelSnapShot"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Sink"), S_OK);
  ComPtr<ISnapShot> snapshot;
  ASSERT_EQ(snap.As(&snapshot), S_OK);
  LONG size = 0;
  EXPECT_EQ(snapshot->GetCurrentImage(&size, nullptr), VFW_E_NOT_CONNECTED);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FirstPin(source.Get(), PINDIR_OUTPUT).As(&config), S_OK);
  CMediaType rgb = MakeVideoType(MEDIASUBTYPE_RGB24, 6, 4);
  ASSERT_EQ(config->SetFormat(&rgb), S_OK);
  ASSERT_EQ(m_graph->Connect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(), FirstPin(snap.Get(), PINDIR_INPUT).Get()),
            S_OK);
  ASSERT_EQ(m_graph->Connect(FirstPin(snap.Get(), PINDIR_OUTPUT).Get(), FirstPin(sink.Get(), PINDIR_INPUT).Get()),
            S_OK);
  EXPECT_EQ(snapshot->GetCurrentImage(&size, nullptr), VFW_E_WRONG_STATE);
  ComPtr<IHalvardTestSource> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetFrameLimit(1), S_OK);
  ASSERT_EQ(m_control->Run(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return CCountingSink::From(sink.Get())->m_endOfStream.load() == 1; }));
  ASSERT_EQ(snapshot->GetCurrentImage(&size, nullptr), S_OK);
  const LONG rowBytes = WIDTHBYTES(6 * 24);
  ASSERT_EQ(size, static_cast<LONG>(sizeof(BITMAPINFOHEADER)) + rowBytes * 4);
  std::vector<BYTE> dib(static_cast<std::size_t>(size));
  LONG small = size - 1;
  EXPECT_EQ(snapshot->GetCurrentImage(&small, dib.data()), E_OUTOFMEMORY);
  EXPECT_EQ(small, size);
  ASSERT_EQ(snapshot->GetCurrentImage(&size, dib.data()), S_OK);
  BITMAPINFOHEADER header;
  std::memcpy(&header, dib.data(), sizeof(header));
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biWidth, 6);
  EXPECT_EQ(header.biHeight, 4);
  // Frame 0 of the source: the ramp x + y at display row 0 (the last stored row), with the
  // frame number 0 in the first byte of the sample (stored row 0 = display bottom row).
  const BYTE* pixels = dib.data() + sizeof(header);
  const BYTE* topRow = pixels + 3 * rowBytes;
  EXPECT_EQ(topRow[3], 1 + 3);  // pixel (1, 0): stored row 3
  EXPECT_EQ(pixels[3], 1);      // pixel (1, 3): the bottom row is stored first
  ASSERT_EQ(m_control->Stop(), S_OK);
  config = nullptr;
  control = nullptr;
}

TEST_F(GraphTest, CaptureBuilderFindsPinsAndInterfacesAndRendersStreams) {
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CreateInstance(CLSID_CaptureGraphBuilder2, &builder), S_OK);
  ASSERT_EQ(builder->SetFiltergraph(m_graph.Get()), S_OK);
  EXPECT_EQ(builder->SetFiltergraph(m_graph.Get()), E_UNEXPECTED);
  auto source = AddSource();

  ComPtr<IPin> capture;
  ASSERT_EQ(builder->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, TRUE, 0,
                             capture.ReleaseAndGetAddressOf()),
            S_OK);
  ComPtr<IPin> none;
  EXPECT_EQ(builder->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, TRUE, 0,
                             none.ReleaseAndGetAddressOf()),
            E_FAIL);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), IID_IAMStreamConfig,
                                   config.PutVoid()),
            S_OK);
  ComPtr<IAMAnalogVideoDecoder> decoder;
  EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), IID_IAMAnalogVideoDecoder,
                                   decoder.PutVoid()),
            E_NOINTERFACE);

  // Preview from a filter with only a capture pin: a Smart Tee goes in, then the renderer.
  ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(), nullptr, nullptr), S_OK);
  ComPtr<IBaseFilter> tee;
  EXPECT_EQ(m_graph->FindFilterByName(L"Smart Tee", tee.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IBaseFilter> renderer;
  EXPECT_EQ(m_graph->FindFilterByName(L"Video Renderer", renderer.ReleaseAndGetAddressOf()), S_OK);
  // The capture stream then leaves from the tee's capture pin, through an intermediate filter.
  auto snap = Create(CLSID_ZelSnapShot);
  auto sink = CCountingSink::Create();
  ASSERT_EQ(m_graph->AddFilter(snap.Get(), L"ZelSnapShot"), S_OK);
  ASSERT_EQ(m_graph->AddFilter(sink.Get(), L"Mux"), S_OK);
  ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), snap.Get(), sink.Get()), S_OK);
  EXPECT_TRUE(FirstPin(sink.Get(), PINDIR_INPUT)->ConnectedTo(none.ReleaseAndGetAddressOf()) == S_OK);
  // A pin as the source: already connected.
  EXPECT_EQ(builder->RenderStream(nullptr, nullptr, capture.Get(), nullptr, sink.Get()), VFW_E_ALREADY_CONNECTED);
  ComPtr<IVideoWindow> window;
  EXPECT_EQ(builder->FindInterface(nullptr, nullptr, source.Get(), IID_IVideoWindow, window.PutVoid()), S_OK);
  EXPECT_EQ(window->put_Owner(0x1234), S_OK);
  OAHWND owner = 0;
  EXPECT_EQ(window->get_Owner(&owner), S_OK);
  EXPECT_EQ(owner, 0x1234);
}

TEST_F(GraphTest, RendererWindowFollowsIVideoWindowAndReportsTheVideoSize) {
  auto source = AddSource();
  ASSERT_EQ(m_graph->Render(FirstPin(source.Get(), PINDIR_OUTPUT).Get()), S_OK);
  EXPECT_EQ(m_graph->Render(FirstPin(source.Get(), PINDIR_OUTPUT).Get()), VFW_E_ALREADY_CONNECTED);
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(m_graph.As(&window), S_OK);  // through the graph, as the playback view does
  ComPtr<IBasicVideo> basic;
  ASSERT_EQ(m_graph.As(&basic), S_OK);
  LONG w = 0;
  LONG h = 0;
  ASSERT_EQ(basic->GetVideoSize(&w, &h), S_OK);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(window->put_Owner(42), S_OK);
  EXPECT_EQ(window->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN), S_OK);
  EXPECT_EQ(window->SetWindowPosition(0, 0, 640, 480), S_OK);
  EXPECT_EQ(window->SetWindowPosition(0, 0, -1, 480), E_INVALIDARG);
  EXPECT_EQ(window->put_Visible(OATRUE), S_OK);
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(m_graph->FindFilterByName(L"Video Renderer", renderer.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IVideoSurfaceHost> host;
  ASSERT_EQ(renderer.As(&host), S_OK);
  ComPtr<IVideoSurface> surface;
  ASSERT_EQ(host->GetSurface(surface.ReleaseAndGetAddressOf()), S_OK);  // the default memory surface
  const VideoWindowState state = static_cast<CMemorySurface*>(surface.Get())->WindowState();
  EXPECT_EQ(state.owner, 42u);
  EXPECT_EQ(state.width, 640);
  EXPECT_TRUE(state.visible);
  EXPECT_EQ(state.style, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
  BSTR caption = nullptr;
  BSTR text = SysAllocString(L"Camera 1");
  ASSERT_EQ(window->put_Caption(text), S_OK);  // the caller keeps its string
  SysFreeString(text);
  ASSERT_EQ(window->get_Caption(&caption), S_OK);
  EXPECT_STREQ(caption, L"Camera 1");
  SysFreeString(caption);
}

}  // namespace
