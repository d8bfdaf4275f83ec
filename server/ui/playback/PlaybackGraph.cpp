#include "server/ui/playback/PlaybackGraph.h"

#include "platform/base/Text.h"
#include "platform/com/Com.h"
#include "platform/media/Interfaces.h"
#include "platform/media/Pins.h"
#include "platform/media/Types.h"
#include "platform/media/Uuids.h"
#include "platform/media/VideoSurface.h"

namespace halvard::ui::playback {

namespace {



/// The Windows Media demultiplexer's class.
constexpr GUID kClsidWmfDemux = {0x1A2B53DF, 0xA718, 0x45B3, {0xB3, 0x5C, 0x89, 0xBE, 0x4F, 0x5C, 0xB4, 0x29}};

std::wstring WidePath(const std::string& utf8) {
  const std::u16string units = text::Utf8ToUtf16(utf8);
  std::wstring wide;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t unit = units[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      wide.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00)));
      ++i;
    } else {
      wide.push_back(static_cast<wchar_t>(unit));
    }
  }
  return wide;
}


bool IsConnected(IPin* pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(peer.ReleaseAndGetAddressOf())) && peer;
}

class CMediaPlaybackGraph final : public IPlaybackGraph {
 public:
  ~CMediaPlaybackGraph() override { Release(); }

  GraphError Build(const std::string& path, const VideoFileInfo& info, HWND notify, IVideoSurface* surface) {
    if (info.windowsMedia) {
      if (FAILED(com::CreateInstance(CLSID_CaptureGraphBuilder2, &m_builder))) {
        return {kIdsNoGraphBuilder, E_FAIL, "CoCreateInstance"};
      }
      if (FAILED(com::CreateInstance(CLSID_FilterGraph, &m_graph))) {
        return {kIdsNoFilterGraph, E_FAIL, "CoCreateInstance"};
      }
      (void)m_builder->SetFiltergraph(m_graph.Get());
      const std::wstring wide = WidePath(path);
      HRESULT hr = com::CreateInstance(CLSID_AsyncReader, &m_source);
      if (SUCCEEDED(hr)) {
        hr = m_graph->AddFilter(m_source.Get(), L"Async Reader");
      }
      ComPtr<IFileSourceFilter> load;
      if (SUCCEEDED(hr)) {
        hr = m_source.As(&load);
      }
      if (SUCCEEDED(hr)) {
        hr = load->Load(wide.c_str(), nullptr);
      }
      if (FAILED(hr)) {
        return {0, hr, "IFileSourceFilter::Load"};
      }
      hr = com::CreateInstance(kClsidWmfDemux, &m_demux);
      if (SUCCEEDED(hr)) {
        hr = m_graph->AddFilter(m_demux.Get(), L"WMF Demux");
      }
      if (FAILED(hr)) {
        return {0, hr, "AddFilter"};
      }
      if (FAILED(m_builder->RenderStream(nullptr, nullptr, m_source.Get(), nullptr, m_demux.Get()))) {
        return {kIdsSourceNotConnected, E_FAIL, "RenderStream"};
      }
      int rendered = 0;
      for (const auto& pin : media::PinsOf(m_demux.Get(), PINDIR_OUTPUT)) {
        if (!IsConnected(pin.Get()) && SUCCEEDED(m_graph->Render(pin.Get()))) {
          ++rendered;
        }
      }
      if (rendered == 0) {
        return {0, VFW_E_CANNOT_RENDER, "Render"};
      }
    } else {
      if (FAILED(com::CreateInstance(CLSID_FilterGraph, &m_graph))) {
        return {kIdsNoFilterGraph, E_FAIL, "CoCreateInstance"};
      }
      const HRESULT hr = m_graph->RenderFile(WidePath(path).c_str(), nullptr);
      if (FAILED(hr)) {
        return {0, hr, "RenderFile"};
      }
    }
    if (FAILED(m_graph.As(&m_control)) || FAILED(m_graph.As(&m_seeking)) || FAILED(m_graph.As(&m_events))) {
      return {0, E_NOINTERFACE, "QueryInterface"};
    }
    if (!info.windowsMedia) {
      // Positions of the direct route are frames; a graph that cannot count frames
      // stays in media time.
      m_frames = SUCCEEDED(m_seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
      m_frameRate = info.frameRate > 0 ? info.frameRate : 25.0;
    }
    (void)m_events->SetNotifyWindow(static_cast<OAHWND>(notify), static_cast<LONG>(kMsgGraphNotify), 0);
    AttachSurface(surface, notify);
    (void)m_graph.As(&m_step);
    return {};
  }

  HRESULT Run() override { return m_control ? m_control->Run() : E_UNEXPECTED; }
  HRESULT Pause() override { return m_control ? m_control->Pause() : E_UNEXPECTED; }
  HRESULT Stop() override { return m_control ? m_control->Stop() : E_UNEXPECTED; }

  GraphState State() override {
    OAFilterState state = State_Stopped;
    if (!m_control || FAILED(m_control->GetState(100, &state))) {
      return GraphState::Stopped;
    }
    return state == State_Running ? GraphState::Running
           : state == State_Paused ? GraphState::Paused
                                   : GraphState::Stopped;
  }

  bool CanSeek() override {
    DWORD capabilities = AM_SEEKING_CanSeekAbsolute;
    return m_seeking && m_seeking->CheckCapabilities(&capabilities) == S_OK;
  }

  std::int64_t Duration() override {
    LONGLONG duration = 0;
    return m_seeking && SUCCEEDED(m_seeking->GetDuration(&duration)) && duration > 0 ? duration : 0;
  }

  std::int64_t Position() override {
    LONGLONG position = 0;
    return m_seeking && SUCCEEDED(m_seeking->GetCurrentPosition(&position)) && position > 0 ? position : 0;
  }

  HRESULT SetPosition(std::int64_t position) override {
    if (!m_seeking) {
      return E_UNEXPECTED;
    }
    LONGLONG current = position;
    return m_seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }

  double Rate() override {
    double rate = 1.0;
    return m_seeking && SUCCEEDED(m_seeking->GetRate(&rate)) ? rate : 1.0;
  }
  HRESULT SetRate(double rate) override { return m_seeking ? m_seeking->SetRate(rate) : E_UNEXPECTED; }
  HRESULT StepFrame() override { return m_step ? m_step->Step(1, nullptr) : E_NOINTERFACE; }

  std::vector<long> TakeEvents() override {
    std::vector<long> codes;
    if (!m_events) {
      return codes;
    }
    LONG code = 0;
    LONG_PTR p1 = 0;
    LONG_PTR p2 = 0;
    while (m_events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
      (void)m_events->FreeEventParams(code, p1, p2);
      codes.push_back(code);
    }
    return codes;
  }

  double UnitsPerSecond() override { return m_frames ? m_frameRate : 1e7; }

  bool VideoSize(LONG* width, LONG* height) override {
    ComPtr<IBasicVideo> basic;
    return m_window && SUCCEEDED(m_window.As(&basic)) && SUCCEEDED(basic->GetVideoSize(width, height));
  }

  void Release() {
    if (m_control) {
      (void)m_control->Stop();
    }
    if (m_events) {
      (void)m_events->SetNotifyWindow(0, 0, 0);
    }
    if (m_window) {
      (void)m_window->put_Visible(0);
      (void)m_window->put_Owner(0);
    }
    m_window.Reset();
    m_step.Reset();
    m_events.Reset();
    m_seeking.Reset();
    m_control.Reset();
    m_demux.Reset();
    m_source.Reset();
    m_builder.Reset();
    m_graph.Reset();
  }

 private:
  void AttachSurface(IVideoSurface* surface, HWND owner) {
    ComPtr<IEnumFilters> filters;
    if (FAILED(m_graph->EnumFilters(filters.ReleaseAndGetAddressOf()))) {
      return;
    }
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
      const ComPtr<IBaseFilter> owned = ComPtr<IBaseFilter>::Attach(filter);
      ComPtr<IVideoSurfaceHost> host;
      if (surface != nullptr && SUCCEEDED(owned.As(&host))) {
        (void)host->SetSurface(surface);
      }
      if (!m_window && SUCCEEDED(owned.As(&m_window))) {
        (void)m_window->put_Owner(static_cast<OAHWND>(owner));
        (void)m_window->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
        (void)m_window->put_Visible(-1);
        (void)m_window->put_MessageDrain(static_cast<OAHWND>(owner));
      }
    }
  }

  ComPtr<ICaptureGraphBuilder2> m_builder;
  ComPtr<IGraphBuilder> m_graph;
  ComPtr<IBaseFilter> m_source;
  ComPtr<IBaseFilter> m_demux;
  ComPtr<IMediaControl> m_control;
  ComPtr<IMediaSeeking> m_seeking;
  ComPtr<IMediaEventEx> m_events;
  ComPtr<IVideoFrameStep> m_step;
  ComPtr<IVideoWindow> m_window;
  bool m_frames = false;
  double m_frameRate = 25.0;
};

}  // namespace

std::unique_ptr<IPlaybackGraph> CreatePlaybackGraph(const std::string& path, const VideoFileInfo& info, HWND notify,
                                                    IVideoSurface* surface, GraphError* error) {
  auto graph = std::make_unique<CMediaPlaybackGraph>();
  const GraphError result = graph->Build(path, info, notify, surface);
  if (result.hr != S_OK || result.textId != 0) {
    graph->Release();
    if (error != nullptr) {
      *error = result;
    }
    return nullptr;
  }
  return graph;
}

}  // namespace halvard::ui::playback
