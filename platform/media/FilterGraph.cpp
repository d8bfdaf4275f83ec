#include "platform/media/FilterGraph.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/media/MediaType.h"
#include "platform/media/Sync.h"
#include "platform/media/Unknown.h"

namespace halvard::media {
namespace {

std::mutex g_sourceFactoriesLock;
std::vector<FileSourceFactory>& SourceFactories() {
  static auto* factories = new std::vector<FileSourceFactory>;
  return *factories;
}

struct DecoderClass {
  CLSID clsid;
  std::wstring name;
};
std::mutex g_decodersLock;
std::vector<DecoderClass>& Decoders() {
  static auto* decoders = new std::vector<DecoderClass>;
  return *decoders;
}

REFERENCE_TIME MonotonicTime100ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
             .count() /
         100;
}

// ---- system clock -------------------------------------------------------------------------

class CSystemClock final : public CUnknown, public IReferenceClock {
 public:
  CSystemClock() : CUnknown(L"System clock", nullptr) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IReferenceClock) {
      return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (time == nullptr) {
      return E_POINTER;
    }
    *time = MonotonicTime100ns();
    return S_OK;
  }
  // Filters here wait on their own (the renderer schedules with GetTime); advise
  // notifications are not offered.
  HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) override {
    if (cookie != nullptr) {
      *cookie = 0;
    }
    return E_NOTIMPL;
  }
  HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR* cookie) override {
    if (cookie != nullptr) {
      *cookie = 0;
    }
    return E_NOTIMPL;
  }
  HRESULT Unadvise(DWORD_PTR) override { return S_FALSE; }
};

// ---- filter enumerator ----------------------------------------------------------------------

class CEnumFilters final : public IEnumFilters {
 public:
  explicit CEnumFilters(std::vector<IBaseFilter*> filters, std::size_t position = 0)
      : m_filters(std::move(filters)), m_position(position) {
    for (IBaseFilter* f : m_filters) {
      f->AddRef();
    }
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IEnumFilters) {
      return GetInterface(static_cast<IEnumFilters*>(this), ppv);
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }
  ULONG Release() override {
    const LONG count = m_cRef.fetch_sub(1) - 1;
    if (count == 0) {
      delete this;
    }
    return static_cast<ULONG>(count);
  }
  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (filters == nullptr) {
      return E_POINTER;
    }
    if (fetched == nullptr && count > 1) {
      return E_INVALIDARG;
    }
    ULONG got = 0;
    while (got < count && m_position < m_filters.size()) {
      filters[got] = m_filters[m_position++];
      filters[got]->AddRef();
      ++got;
    }
    if (fetched != nullptr) {
      *fetched = got;
    }
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    m_position = std::min(m_filters.size(), m_position + count);
    return m_position < m_filters.size() || count == 0 ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    m_position = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFilters** ppEnum) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    *ppEnum = new (std::nothrow) CEnumFilters(m_filters, m_position);
    return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  ~CEnumFilters() {
    for (IBaseFilter* f : m_filters) {
      f->Release();
    }
  }
  std::atomic<LONG> m_cRef{1};
  std::vector<IBaseFilter*> m_filters;
  std::size_t m_position;
};

// ---- helpers ----------------------------------------------------------------------------------

template <class T>
ComPtr<T> QueryAs(IUnknown* unknown) {
  ComPtr<T> out;
  if (unknown != nullptr) {
    (void)unknown->QueryInterface(*kIidOf<T>, out.PutVoid());
  }
  return out;
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumPins;
  if (FAILED(filter->EnumPins(enumPins.ReleaseAndGetAddressOf())) || !enumPins) {
    return pins;
  }
  for (;;) {
    IPin* pin = nullptr;
    ULONG fetched = 0;
    if (enumPins->Next(1, &pin, &fetched) != S_OK || fetched == 0) {
      break;
    }
    pins.push_back(ComPtr<IPin>::Attach(pin));
  }
  return pins;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  (void)pin->QueryDirection(&dir);
  return dir;
}

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) {
    return nullptr;
  }
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

ComPtr<IPin> PeerOf(IPin* pin) {
  IPin* peer = nullptr;
  if (pin->ConnectedTo(&peer) != S_OK) {
    return nullptr;
  }
  return ComPtr<IPin>::Attach(peer);
}

struct QueuedEvent {
  LONG code;
  LONG_PTR param1;
  LONG_PTR param2;
};

// ---- the graph ------------------------------------------------------------------------------

class CFilterGraph final : public CUnknown,
                           public IFilterGraph2,
                           public IMediaControl,
                           public IMediaEventEx,
                           public IMediaEventSink,
                           public IMediaSeeking,
                           public IVideoFrameStep,
                           public IVideoWindow,
                           public IBasicVideo {
 public:
  CFilterGraph() : CUnknown(L"Filter graph", nullptr) {}
  ~CFilterGraph() override { Teardown(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_IFilterGraph) {
      return GetInterface(static_cast<IFilterGraph*>(this), ppv);
    }
    if (riid == IID_IGraphBuilder) {
      return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
    }
    if (riid == IID_IFilterGraph2) {
      return GetInterface(static_cast<IFilterGraph2*>(this), ppv);
    }
    if (riid == IID_IMediaControl) {
      return GetInterface(static_cast<IMediaControl*>(this), ppv);
    }
    if (riid == IID_IMediaEvent) {
      return GetInterface(static_cast<IMediaEvent*>(this), ppv);
    }
    if (riid == IID_IMediaEventEx) {
      return GetInterface(static_cast<IMediaEventEx*>(this), ppv);
    }
    if (riid == IID_IMediaEventSink) {
      return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    }
    if (riid == IID_IMediaSeeking) {
      return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    if (riid == IID_IVideoFrameStep) {
      return GetInterface(static_cast<IVideoFrameStep*>(this), ppv);
    }
    if (riid == IID_IVideoWindow) {
      return GetInterface(static_cast<IVideoWindow*>(this), ppv);
    }
    if (riid == IID_IBasicVideo) {
      return GetInterface(static_cast<IBasicVideo*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  // ---- IFilterGraph ----

  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (filter == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    for (const auto& entry : m_filters) {
      if (entry.filter.Get() == filter) {
        return VFW_E_DUPLICATE_NAME;  // the same filter twice
      }
    }
    std::wstring base;
    if (name != nullptr && *name != 0) {
      base = name;
    } else {
      FILTER_INFO info{};
      if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
        base = info.achName;
        if (info.pGraph != nullptr) {
          info.pGraph->Release();
        }
      }
      if (base.empty()) {
        base = L"Filter";
      }
    }
    if (base.size() > MAX_FILTER_NAME - 6) {
      base.resize(MAX_FILTER_NAME - 6);  // room for the suffix
    }
    std::wstring unique = base;
    HRESULT result = S_OK;
    for (int n = 1; NameTaken(unique); ++n) {
      wchar_t suffix[16];
      std::swprintf(suffix, 16, L" %04d", n);
      unique = base + suffix;
      result = VFW_S_DUPLICATE_NAME;
      if (n > 9999) {
        return VFW_E_DUPLICATE_NAME;
      }
    }
    const HRESULT hr = filter->JoinFilterGraph(static_cast<IFilterGraph*>(this), unique.c_str());
    if (FAILED(hr)) {
      return hr;
    }
    m_filters.push_back(Entry{ComPtr<IBaseFilter>(filter), unique});
    if (m_clock) {
      (void)filter->SetSyncSource(m_clock.Get());
    }
    ++m_version;
    return result;
  }

  HRESULT RemoveFilter(IBaseFilter* filter) override {
    if (filter == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    const auto it = std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter.Get() == filter; });
    if (it == m_filters.end()) {
      return VFW_E_NOT_FOUND;
    }
    ComPtr<IBaseFilter> keep = it->filter;
    (void)keep->Stop();
    for (const auto& pin : PinsOf(keep.Get())) {
      if (auto peer = PeerOf(pin.Get())) {
        (void)peer->Disconnect();
        (void)pin->Disconnect();
      }
    }
    (void)keep->SetSyncSource(nullptr);
    (void)keep->JoinFilterGraph(nullptr, nullptr);
    m_filters.erase(std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter.Get() == filter; }));
    ++m_version;
    return S_OK;
  }

  HRESULT EnumFilters(IEnumFilters** ppEnum) override {
    if (ppEnum == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    std::vector<IBaseFilter*> filters;
    // Most recently added first, as the original enumerates.
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it) {
      filters.push_back(it->filter.Get());
    }
    *ppEnum = new (std::nothrow) CEnumFilters(std::move(filters));
    return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override {
    if (filter == nullptr) {
      return E_POINTER;
    }
    *filter = nullptr;
    if (name == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    for (const auto& entry : m_filters) {
      if (entry.name == name) {
        *filter = entry.filter.Get();
        (*filter)->AddRef();
        return S_OK;
      }
    }
    return VFW_E_NOT_FOUND;
  }

  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) override {
    if (out == nullptr || in == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    HRESULT hr = CheckPinsInGraph(out, in);
    if (FAILED(hr)) {
      return hr;
    }
    return out->Connect(in, pmt);
  }

  HRESULT Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }

  HRESULT Disconnect(IPin* pin) override {
    if (pin == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    return pin->Disconnect();
  }

  HRESULT SetDefaultSyncSource() override {
    CAutoLock lock(&m_lock);
    ComPtr<IReferenceClock> clock;
    HRESULT hr = CreateSystemClock(IID_IReferenceClock, clock.PutVoid());
    if (FAILED(hr)) {
      return hr;
    }
    m_clock = clock;
    for (const auto& entry : m_filters) {
      (void)entry.filter->SetSyncSource(m_clock.Get());
    }
    return S_OK;
  }

  // ---- IGraphBuilder ----

  HRESULT Connect(IPin* out, IPin* in) override {
    if (out == nullptr || in == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    const HRESULT direct = ConnectDirect(out, in, nullptr);
    if (SUCCEEDED(direct) || direct == VFW_E_NOT_IN_GRAPH || direct == VFW_E_ALREADY_CONNECTED ||
        direct == VFW_E_INVALID_DIRECTION || direct == VFW_E_NOT_STOPPED) {
      return direct;
    }
    if (!IsVideoPin(out)) {
      return direct;
    }
    ComPtr<IBaseFilter> converter;
    if (FAILED(CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, converter.PutVoid()))) {
      return direct;
    }
    if (FAILED(AddFilter(converter.Get(), L"Color Space Converter"))) {
      return direct;
    }
    const auto pins = PinsOf(converter.Get());
    IPin* convIn = nullptr;
    IPin* convOut = nullptr;
    for (const auto& p : pins) {
      (DirectionOf(p.Get()) == PINDIR_INPUT ? convIn : convOut) = p.Get();
    }
    if (convIn != nullptr && convOut != nullptr && SUCCEEDED(ConnectDirect(out, convIn, nullptr)) &&
        SUCCEEDED(ConnectDirect(convOut, in, nullptr))) {
      return S_OK;
    }
    (void)RemoveFilter(converter.Get());
    return direct;
  }

  HRESULT Render(IPin* out) override {
    if (out == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    if (DirectionOf(out) != PINDIR_OUTPUT) {
      return VFW_E_INVALID_DIRECTION;
    }
    if (PeerOf(out)) {
      return VFW_E_ALREADY_CONNECTED;
    }
    const GUID major = MajorTypeOf(out);
    CLSID rendererClass = GUID_NULL;
    const wchar_t* rendererName = nullptr;
    if (major == MEDIATYPE_Video) {
      rendererClass = CLSID_VideoRenderer;
      rendererName = L"Video Renderer";
    } else if (major == MEDIATYPE_Audio) {
      rendererClass = CLSID_DSoundRender;
      rendererName = L"Audio Renderer";
    } else {
      return VFW_E_CANNOT_RENDER;
    }
    ComPtr<IBaseFilter> renderer;
    if (FAILED(CoCreateInstance(rendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.PutVoid()))) {
      return major == MEDIATYPE_Audio ? VFW_E_NO_AUDIO_HARDWARE : VFW_E_CANNOT_RENDER;
    }
    HRESULT hr = AddFilter(renderer.Get(), rendererName);
    if (FAILED(hr)) {
      return hr;
    }
    for (const auto& pin : PinsOf(renderer.Get())) {
      if (DirectionOf(pin.Get()) == PINDIR_INPUT && !PeerOf(pin.Get())) {
        hr = Connect(out, pin.Get());
        if (SUCCEEDED(hr)) {
          return S_OK;
        }
        break;
      }
    }
    (void)RemoveFilter(renderer.Get());
    return RenderThroughDecoder(out);
  }

  // A stream no renderer takes: through the first decoder that accepts it.
  HRESULT RenderThroughDecoder(IPin* out) {
    std::vector<DecoderClass> decoders;
    {
      std::lock_guard guard(g_decodersLock);
      decoders = Decoders();
    }
    for (const auto& decoder : decoders) {
      ComPtr<IBaseFilter> filter;
      if (FAILED(CoCreateInstance(decoder.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())) ||
          FAILED(AddFilter(filter.Get(), decoder.name.c_str()))) {
        continue;
      }
      IPin* in = nullptr;
      IPin* next = nullptr;
      const auto pins = PinsOf(filter.Get());
      for (const auto& p : pins) {
        if (DirectionOf(p.Get()) == PINDIR_INPUT && in == nullptr) {
          in = p.Get();
        }
      }
      if (in != nullptr && SUCCEEDED(ConnectDirect(out, in, nullptr))) {
        for (const auto& p : PinsOf(filter.Get())) {
          if (DirectionOf(p.Get()) == PINDIR_OUTPUT && next == nullptr) {
            next = p.Get();
            if (SUCCEEDED(Render(next))) {
              return S_OK;
            }
          }
        }
      }
      (void)RemoveFilter(filter.Get());
    }
    return VFW_E_CANNOT_RENDER;
  }

  HRESULT RenderFile(LPCWSTR file, LPCWSTR /*playList*/) override {
    ComPtr<IBaseFilter> source;
    HRESULT hr = AddSourceFilter(file, file, source.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
      return hr;
    }
    CAutoLock lock(&m_lock);
    int rendered = 0;
    int outputs = 0;
    for (const auto& pin : PinsOf(source.Get())) {
      if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) {
        continue;
      }
      ++outputs;
      if (SUCCEEDED(Render(pin.Get()))) {
        ++rendered;
      }
    }
    if (rendered == 0) {
      (void)RemoveFilter(source.Get());
      return VFW_E_CANNOT_RENDER;
    }
    return rendered == outputs ? S_OK : VFW_S_PARTIAL_RENDER;
  }

  HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) override {
    if (filter == nullptr || file == nullptr) {
      return E_POINTER;
    }
    *filter = nullptr;
    std::vector<FileSourceFactory> factories;
    {
      std::lock_guard lock(g_sourceFactoriesLock);
      factories = SourceFactories();
    }
    HRESULT hr = VFW_E_UNKNOWN_FILE_TYPE;
    for (const auto& factory : factories) {
      ComPtr<IBaseFilter> source;
      hr = factory(file, source.ReleaseAndGetAddressOf());
      if (SUCCEEDED(hr) && source) {
        hr = AddFilter(source.Get(), filterName);
        if (FAILED(hr)) {
          return hr;
        }
        *filter = source.Detach();
        return S_OK;
      }
      if (hr != VFW_E_UNKNOWN_FILE_TYPE) {
        return hr;
      }
    }
    return hr;
  }

  HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT Abort() override { return S_OK; }
  HRESULT ShouldOperationContinue() override { return S_OK; }

  // ---- IFilterGraph2 ----

  HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                    IBaseFilter** filter) override {
    if (moniker == nullptr || filter == nullptr) {
      return E_POINTER;
    }
    *filter = nullptr;
    ComPtr<IBaseFilter> source;
    HRESULT hr = moniker->BindToObject(ctx, nullptr, IID_IBaseFilter, source.PutVoid());
    if (FAILED(hr)) {
      return hr;
    }
    hr = AddFilter(source.Get(), filterName);
    if (FAILED(hr)) {
      return hr;
    }
    *filter = source.Detach();
    return S_OK;
  }

  HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* pmt) override {
    if (pin == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    ComPtr<IPin> peer = PeerOf(pin);
    if (!peer) {
      return VFW_E_NOT_CONNECTED;
    }
    if (m_state != State_Stopped) {
      return VFW_E_NOT_STOPPED;
    }
    ComPtr<IPin> out(pin);
    ComPtr<IPin> in = peer;
    if (DirectionOf(pin) == PINDIR_INPUT) {
      std::swap(out, in);
    }
    CMediaType previous;
    (void)out->ConnectionMediaType(&previous);
    (void)in->Disconnect();
    (void)out->Disconnect();
    HRESULT hr = out->Connect(in.Get(), pmt);
    if (FAILED(hr)) {
      // Put the old connection back, so a refused reconnection leaves the graph as it was.
      if (FAILED(out->Connect(in.Get(), &previous))) {
        (void)out->Connect(in.Get(), nullptr);
      }
    }
    return hr;
  }

  HRESULT RenderEx(IPin* out, DWORD /*flags*/, DWORD* /*context*/) override { return Render(out); }

  // ---- IMediaControl ----

  HRESULT Run() override {
    CAutoLock lock(&m_lock);
    if (m_state == State_Running) {
      return S_OK;
    }
    if (m_state == State_Stopped) {
      const HRESULT hr = PauseAll();
      if (FAILED(hr)) {
        return hr;
      }
    }
    if (!m_clock) {
      (void)SetDefaultSyncSource();
    }
    REFERENCE_TIME now = 0;
    (void)m_clock->GetTime(&now);
    // Resume where the pause left off: the stream time does not advance while paused.
    const REFERENCE_TIME start = now - m_pausedStreamTime + 10 * MILLISECONDS;
    ResetCompletion();
    for (IBaseFilter* filter : DownstreamFirst()) {
      const HRESULT hr = filter->Run(start);
      if (FAILED(hr)) {
        StopAll();
        return hr;
      }
    }
    m_runStart = start;
    m_state = State_Running;
    return S_OK;
  }

  HRESULT Pause() override {
    CAutoLock lock(&m_lock);
    if (m_state == State_Paused) {
      return S_OK;
    }
    if (m_state == State_Running && m_clock) {
      REFERENCE_TIME now = 0;
      (void)m_clock->GetTime(&now);
      m_pausedStreamTime = now - m_runStart;
    }
    return PauseAll();
  }

  HRESULT Stop() override {
    CAutoLock lock(&m_lock);
    StopAll();
    return S_OK;
  }

  HRESULT GetState(LONG /*msTimeout*/, OAFilterState* state) override {
    if (state == nullptr) {
      return E_POINTER;
    }
    *state = static_cast<OAFilterState>(m_state.load());
    return S_OK;
  }

  HRESULT RenderFile(BSTR file) override { return RenderFile(file, nullptr); }
  HRESULT AddSourceFilter(BSTR /*file*/, IUnknown** filterInfo) override {
    if (filterInfo != nullptr) {
      *filterInfo = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT get_FilterCollection(IUnknown** collection) override {
    if (collection != nullptr) {
      *collection = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT get_RegFilterCollection(IUnknown** collection) override {
    if (collection != nullptr) {
      *collection = nullptr;
    }
    return E_NOTIMPL;
  }
  HRESULT StopWhenReady() override {
    CAutoLock lock(&m_lock);
    const HRESULT hr = Pause();
    StopAll();
    return hr;
  }

  // ---- IMediaEvent(Ex) ----

  HRESULT GetEventHandle(OAEVENT* event) override {
    if (event == nullptr) {
      return E_POINTER;
    }
    // No waitable handle exists here: callers use GetEvent with a time-out or the
    // notification window.
    *event = 0;
    return E_NOTIMPL;
  }

  HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) override {
    if (eventCode == nullptr || param1 == nullptr || param2 == nullptr) {
      return E_POINTER;
    }
    *eventCode = 0;
    *param1 = 0;
    *param2 = 0;
    std::unique_lock lock(m_eventLock);
    const auto ready = [this] { return !m_events.empty(); };
    if (msTimeout < 0) {
      m_eventSignal.wait(lock, ready);
    } else if (!m_eventSignal.wait_for(lock, std::chrono::milliseconds(msTimeout), ready)) {
      return E_ABORT;
    }
    const QueuedEvent event = m_events.front();
    m_events.pop_front();
    *eventCode = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return S_OK;
  }

  HRESULT WaitForCompletion(LONG msTimeout, LONG* eventCode) override {
    if (eventCode == nullptr) {
      return E_POINTER;
    }
    *eventCode = 0;
    if (m_state != State_Running) {
      return VFW_E_WRONG_STATE;
    }
    std::unique_lock lock(m_eventLock);
    const auto done = [this] { return m_completionCode != 0; };
    if (msTimeout < 0) {
      m_eventSignal.wait(lock, done);
    } else if (!m_eventSignal.wait_for(lock, std::chrono::milliseconds(msTimeout), done)) {
      return E_ABORT;
    }
    *eventCode = m_completionCode;
    return S_OK;
  }

  HRESULT CancelDefaultHandling(LONG eventCode) override {
    std::lock_guard lock(m_eventLock);
    m_noDefault.insert(eventCode);
    return S_OK;
  }
  HRESULT RestoreDefaultHandling(LONG eventCode) override {
    std::lock_guard lock(m_eventLock);
    m_noDefault.erase(eventCode);
    return S_OK;
  }
  HRESULT FreeEventParams(LONG /*eventCode*/, LONG_PTR /*param1*/, LONG_PTR /*param2*/) override {
    // No event of this graph carries allocated parameters.
    return S_OK;
  }

  HRESULT SetNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instanceData) override {
    std::lock_guard lock(m_eventLock);
    m_notifyWindow = static_cast<HWND>(hwnd);
    m_notifyMessage = static_cast<UINT>(message);
    m_notifyInstance = instanceData;
    return S_OK;
  }
  HRESULT SetNotifyFlags(LONG flags) override {
    if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY) {
      return E_INVALIDARG;
    }
    std::lock_guard lock(m_eventLock);
    m_notifyFlags = flags;
    if (flags == AM_MEDIAEVENT_NONOTIFY) {
      m_events.clear();
    }
    return S_OK;
  }
  HRESULT GetNotifyFlags(LONG* flags) override {
    if (flags == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_eventLock);
    *flags = m_notifyFlags;
    return S_OK;
  }

  // ---- IMediaEventSink ----

  HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override {
    HWND window = 0;
    UINT message = 0;
    LONG_PTR instance = 0;
    {
      std::lock_guard lock(m_eventLock);
      const bool defaultHandling = m_noDefault.count(eventCode) == 0;
      if (eventCode == EC_COMPLETE && defaultHandling) {
        // One EC_COMPLETE for the graph, once every renderer has finished.
        if (++m_completeCount < m_renderersAtRun) {
          return S_OK;
        }
        param2 = 0;
      }
      if (defaultHandling && (eventCode == EC_REPAINT || eventCode == EC_ACTIVATE ||
                              eventCode == EC_DISPLAY_CHANGED || eventCode == EC_CLOCK_CHANGED)) {
        return S_OK;  // handled by the graph itself: nothing to do here
      }
      if (eventCode == EC_COMPLETE || eventCode == EC_ERRORABORT || eventCode == EC_USERABORT) {
        m_completionCode = eventCode;
      }
      if (m_notifyFlags == AM_MEDIAEVENT_NONOTIFY) {
        m_eventSignal.notify_all();
        return S_OK;
      }
      m_events.push_back(QueuedEvent{eventCode, param1, param2});
      window = m_notifyWindow;
      message = m_notifyMessage;
      instance = m_notifyInstance;
    }
    m_eventSignal.notify_all();
    if (window != 0) {
      (void)PostMessage(window, message, 0, instance);
    }
    return S_OK;
  }

  // ---- IMediaSeeking (routed to the renderers) ----

  HRESULT GetCapabilities(DWORD* capabilities) override {
    if (capabilities == nullptr) {
      return E_POINTER;
    }
    *capabilities = 0;
    auto targets = SeekTargets();
    if (targets.empty()) {
      return E_NOTIMPL;
    }
    DWORD all = 0xFFFFFFFF;
    for (const auto& t : targets) {
      DWORD caps = 0;
      if (SUCCEEDED(t->GetCapabilities(&caps))) {
        all &= caps;
      } else {
        all = 0;
      }
    }
    *capabilities = all;
    return S_OK;
  }
  HRESULT CheckCapabilities(DWORD* capabilities) override {
    if (capabilities == nullptr) {
      return E_POINTER;
    }
    DWORD have = 0;
    const HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr)) {
      return hr;
    }
    const DWORD wanted = *capabilities;
    *capabilities &= have;
    return *capabilities == wanted ? S_OK : (*capabilities == 0 ? E_FAIL : S_FALSE);
  }
  HRESULT IsFormatSupported(const GUID* format) override {
    if (format == nullptr) {
      return E_POINTER;
    }
    if (*format == TIME_FORMAT_MEDIA_TIME) {
      return S_OK;
    }
    return AllTargets([&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
  }
  HRESULT QueryPreferredFormat(GUID* format) override {
    if (format == nullptr) {
      return E_POINTER;
    }
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  HRESULT GetTimeFormat(GUID* format) override {
    if (format == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    *format = m_timeFormat;
    return S_OK;
  }
  HRESULT IsUsingTimeFormat(const GUID* format) override {
    if (format == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    return *format == m_timeFormat ? S_OK : S_FALSE;
  }
  HRESULT SetTimeFormat(const GUID* format) override {
    if (format == nullptr) {
      return E_POINTER;
    }
    CAutoLock lock(&m_lock);
    if (m_state != State_Stopped) {
      return VFW_E_WRONG_STATE;
    }
    const HRESULT hr = AllTargets([&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
    if (SUCCEEDED(hr)) {
      m_timeFormat = *format;
    }
    return hr;
  }
  HRESULT GetDuration(LONGLONG* duration) override {
    if (duration == nullptr) {
      return E_POINTER;
    }
    *duration = 0;
    auto targets = SeekTargets();
    if (targets.empty()) {
      return E_NOTIMPL;
    }
    HRESULT result = E_NOTIMPL;
    for (const auto& t : targets) {
      LONGLONG d = 0;
      if (SUCCEEDED(t->GetDuration(&d))) {
        *duration = std::max(*duration, d);
        result = S_OK;
      }
    }
    return result;
  }
  HRESULT GetStopPosition(LONGLONG* stop) override {
    return FirstTarget([&](IMediaSeeking* s) { return s->GetStopPosition(stop); }, stop);
  }
  HRESULT GetCurrentPosition(LONGLONG* current) override {
    return FirstTarget([&](IMediaSeeking* s) { return s->GetCurrentPosition(current); }, current);
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override {
    if (target == nullptr) {
      return E_POINTER;
    }
    const GUID& from = sourceFormat != nullptr ? *sourceFormat : m_timeFormat;
    const GUID& to = targetFormat != nullptr ? *targetFormat : m_timeFormat;
    if (from == to) {
      *target = source;
      return S_OK;
    }
    return FirstTarget(
        [&](IMediaSeeking* s) { return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat); }, target);
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
    CAutoLock lock(&m_lock);
    const FILTER_STATE before = m_state;
    // Seeking while running: pause around it so the renderers show the new position.
    if (before == State_Running) {
      (void)Pause();
    }
    const HRESULT hr = AllTargets([&](IMediaSeeking* s) {
      LONGLONG c = current != nullptr ? *current : 0;
      LONGLONG e = stop != nullptr ? *stop : 0;
      return s->SetPositions(current != nullptr ? &c : nullptr, currentFlags, stop != nullptr ? &e : nullptr, stopFlags);
    });
    // The sources start a new segment whose times count from 0 again, in any format.
    if (SUCCEEDED(hr) && current != nullptr &&
        (currentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) {
      m_pausedStreamTime = 0;
    }
    if (before == State_Running) {
      (void)Run();
    }
    return hr;
  }
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override {
    if (current == nullptr || stop == nullptr) {
      return E_POINTER;
    }
    HRESULT hr = GetCurrentPosition(current);
    if (FAILED(hr)) {
      return hr;
    }
    return GetStopPosition(stop);
  }
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    if (earliest == nullptr || latest == nullptr) {
      return E_POINTER;
    }
    *earliest = 0;
    return GetDuration(latest);
  }
  HRESULT SetRate(double rate) override {
    if (!(rate > 0.0) || !std::isfinite(rate)) {
      return E_INVALIDARG;
    }
    CAutoLock lock(&m_lock);
    const FILTER_STATE before = m_state;
    if (before == State_Running) {
      (void)Pause();
    }
    double previous = 1.0;
    (void)GetRate(&previous);
    LONGLONG shown = 0;
    const bool known = previous != rate && SUCCEEDED(GetCurrentPosition(&shown));
    const HRESULT hr = AllTargets([&](IMediaSeeking* s) { return s->SetRate(rate); });
    if (SUCCEEDED(hr) && previous != rate) {
      // The sources restart with times from 0 (so does the clock), from the picture
      // the renderer shows rather than from where reading had got to.
      if (known) {
        (void)AllTargets([&](IMediaSeeking* s) {
          LONGLONG at = shown;
          return s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        });
      }
      m_pausedStreamTime = 0;
    }
    if (before == State_Running) {
      (void)Run();
    }
    return hr;
  }
  HRESULT GetRate(double* rate) override {
    if (rate == nullptr) {
      return E_POINTER;
    }
    *rate = 1.0;
    return FirstTarget([&](IMediaSeeking* s) { return s->GetRate(rate); }, rate);
  }
  HRESULT GetPreroll(LONGLONG* preroll) override {
    if (preroll == nullptr) {
      return E_POINTER;
    }
    *preroll = 0;
    return S_OK;
  }

  // ---- IVideoFrameStep ----

  HRESULT Step(DWORD frames, IUnknown* stepObject) override {
    CAutoLock lock(&m_lock);
    auto stepper = FirstWith<IVideoFrameStep>(stepObject);
    if (!stepper) {
      return E_NOTIMPL;
    }
    if (m_state == State_Stopped) {
      const HRESULT hr = Pause();
      if (FAILED(hr)) {
        return hr;
      }
    } else if (m_state == State_Running) {
      (void)Pause();
    }
    return stepper->Step(frames, nullptr);
  }
  HRESULT CanStep(LONG multiple, IUnknown* stepObject) override {
    auto stepper = FirstWith<IVideoFrameStep>(stepObject);
    return stepper ? stepper->CanStep(multiple, nullptr) : S_FALSE;
  }
  HRESULT CancelStep() override {
    auto stepper = FirstWith<IVideoFrameStep>(nullptr);
    return stepper ? stepper->CancelStep() : S_OK;
  }

  // ---- IVideoWindow / IBasicVideo: forwarded to the renderer ----
#define HALVARD_VW(method, params, args)                  \
  HRESULT method params override {                        \
    auto target = FirstWith<IVideoWindow>(nullptr);       \
    return target ? target->method args : E_NOINTERFACE;  \
  }
#define HALVARD_BV(method, params, args)                  \
  HRESULT method params override {                        \
    auto target = FirstWith<IBasicVideo>(nullptr);        \
    return target ? target->method args : E_NOINTERFACE;  \
  }
  HALVARD_VW(put_Caption, (BSTR v), (v))
  HALVARD_VW(get_Caption, (BSTR * v), (v))
  HALVARD_VW(put_WindowStyle, (LONG v), (v))
  HALVARD_VW(get_WindowStyle, (LONG * v), (v))
  HALVARD_VW(put_WindowStyleEx, (LONG v), (v))
  HALVARD_VW(get_WindowStyleEx, (LONG * v), (v))
  HALVARD_VW(put_AutoShow, (LONG v), (v))
  HALVARD_VW(get_AutoShow, (LONG * v), (v))
  HALVARD_VW(put_WindowState, (LONG v), (v))
  HALVARD_VW(get_WindowState, (LONG * v), (v))
  HALVARD_VW(put_BackgroundPalette, (LONG v), (v))
  HALVARD_VW(get_BackgroundPalette, (LONG * v), (v))
  HALVARD_VW(put_Visible, (LONG v), (v))
  HALVARD_VW(get_Visible, (LONG * v), (v))
  HALVARD_VW(put_Left, (LONG v), (v))
  HALVARD_VW(get_Left, (LONG * v), (v))
  HALVARD_VW(put_Width, (LONG v), (v))
  HALVARD_VW(get_Width, (LONG * v), (v))
  HALVARD_VW(put_Top, (LONG v), (v))
  HALVARD_VW(get_Top, (LONG * v), (v))
  HALVARD_VW(put_Height, (LONG v), (v))
  HALVARD_VW(get_Height, (LONG * v), (v))
  HALVARD_VW(put_Owner, (OAHWND v), (v))
  HALVARD_VW(get_Owner, (OAHWND * v), (v))
  HALVARD_VW(put_MessageDrain, (OAHWND v), (v))
  HALVARD_VW(get_MessageDrain, (OAHWND * v), (v))
  HALVARD_VW(get_BorderColor, (LONG * v), (v))
  HALVARD_VW(put_BorderColor, (LONG v), (v))
  HALVARD_VW(get_FullScreenMode, (LONG * v), (v))
  HALVARD_VW(put_FullScreenMode, (LONG v), (v))
  HALVARD_VW(SetWindowForeground, (LONG v), (v))
  HALVARD_VW(NotifyOwnerMessage, (OAHWND h, LONG m, LONG_PTR w, LONG_PTR l), (h, m, w, l))
  HALVARD_VW(SetWindowPosition, (LONG a, LONG b, LONG c, LONG d), (a, b, c, d))
  HALVARD_VW(GetWindowPosition, (LONG * a, LONG* b, LONG* c, LONG* d), (a, b, c, d))
  HALVARD_VW(GetMinIdealImageSize, (LONG * a, LONG* b), (a, b))
  HALVARD_VW(GetMaxIdealImageSize, (LONG * a, LONG* b), (a, b))
  HALVARD_VW(GetRestorePosition, (LONG * a, LONG* b, LONG* c, LONG* d), (a, b, c, d))
  HALVARD_VW(HideCursor, (LONG v), (v))
  HALVARD_VW(IsCursorHidden, (LONG * v), (v))
  HALVARD_BV(get_AvgTimePerFrame, (REFTIME * v), (v))
  HALVARD_BV(get_BitRate, (LONG * v), (v))
  HALVARD_BV(get_BitErrorRate, (LONG * v), (v))
  HALVARD_BV(get_VideoWidth, (LONG * v), (v))
  HALVARD_BV(get_VideoHeight, (LONG * v), (v))
  HALVARD_BV(put_SourceLeft, (LONG v), (v))
  HALVARD_BV(get_SourceLeft, (LONG * v), (v))
  HALVARD_BV(put_SourceWidth, (LONG v), (v))
  HALVARD_BV(get_SourceWidth, (LONG * v), (v))
  HALVARD_BV(put_SourceTop, (LONG v), (v))
  HALVARD_BV(get_SourceTop, (LONG * v), (v))
  HALVARD_BV(put_SourceHeight, (LONG v), (v))
  HALVARD_BV(get_SourceHeight, (LONG * v), (v))
  HALVARD_BV(put_DestinationLeft, (LONG v), (v))
  HALVARD_BV(get_DestinationLeft, (LONG * v), (v))
  HALVARD_BV(put_DestinationWidth, (LONG v), (v))
  HALVARD_BV(get_DestinationWidth, (LONG * v), (v))
  HALVARD_BV(put_DestinationTop, (LONG v), (v))
  HALVARD_BV(get_DestinationTop, (LONG * v), (v))
  HALVARD_BV(put_DestinationHeight, (LONG v), (v))
  HALVARD_BV(get_DestinationHeight, (LONG * v), (v))
  HALVARD_BV(SetSourcePosition, (LONG a, LONG b, LONG c, LONG d), (a, b, c, d))
  HALVARD_BV(GetSourcePosition, (LONG * a, LONG* b, LONG* c, LONG* d), (a, b, c, d))
  HALVARD_BV(SetDefaultSourcePosition, (), ())
  HALVARD_BV(SetDestinationPosition, (LONG a, LONG b, LONG c, LONG d), (a, b, c, d))
  HALVARD_BV(GetDestinationPosition, (LONG * a, LONG* b, LONG* c, LONG* d), (a, b, c, d))
  HALVARD_BV(SetDefaultDestinationPosition, (), ())
  HALVARD_BV(GetVideoSize, (LONG * a, LONG* b), (a, b))
  HALVARD_BV(GetVideoPaletteEntries, (LONG a, LONG b, LONG* c, LONG* d), (a, b, c, d))
  HALVARD_BV(GetCurrentImage, (LONG * a, LONG* b), (a, b))
  HALVARD_BV(IsUsingDefaultSource, (), ())
  HALVARD_BV(IsUsingDefaultDestination, (), ())
#undef HALVARD_VW
#undef HALVARD_BV

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    std::wstring name;
  };

  bool NameTaken(const std::wstring& name) const {
    return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.name == name; });
  }

  bool InGraph(IBaseFilter* filter) const {
    return std::any_of(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter.Get() == filter; });
  }

  HRESULT CheckPinsInGraph(IPin* out, IPin* in) {
    auto outFilter = FilterOfPin(out);
    auto inFilter = FilterOfPin(in);
    if (!outFilter || !inFilter || !InGraph(outFilter.Get()) || !InGraph(inFilter.Get())) {
      return VFW_E_NOT_IN_GRAPH;
    }
    if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT) {
      return VFW_E_INVALID_DIRECTION;
    }
    return S_OK;
  }

  static GUID MajorTypeOf(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types) {
      return GUID_NULL;
    }
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &mt, &fetched) != S_OK || mt == nullptr) {
      return GUID_NULL;
    }
    const GUID major = mt->majortype;
    DeleteMediaType(mt);
    return major;
  }

  static bool IsVideoPin(IPin* pin) { return MajorTypeOf(pin) == MEDIATYPE_Video; }

  /// Filters ordered so that every filter comes before those upstream of it.
  std::vector<IBaseFilter*> DownstreamFirst() {
    std::map<IBaseFilter*, std::set<IBaseFilter*>> downstream;
    for (const auto& entry : m_filters) {
      auto& set = downstream[entry.filter.Get()];
      for (const auto& pin : PinsOf(entry.filter.Get())) {
        if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) {
          continue;
        }
        if (auto peer = PeerOf(pin.Get())) {
          if (auto f = FilterOfPin(peer.Get())) {
            set.insert(f.Get());
          }
        }
      }
    }
    std::vector<IBaseFilter*> order;
    std::set<IBaseFilter*> placed;
    while (order.size() < m_filters.size()) {
      bool progress = false;
      for (const auto& entry : m_filters) {
        IBaseFilter* f = entry.filter.Get();
        if (placed.count(f) != 0) {
          continue;
        }
        const auto& below = downstream[f];
        const bool ready = std::all_of(below.begin(), below.end(),
                                       [&](IBaseFilter* d) { return placed.count(d) != 0 || !InGraph(d); });
        if (ready) {
          order.push_back(f);
          placed.insert(f);
          progress = true;
        }
      }
      if (!progress) {  // a cycle cannot be built, but never loop for ever
        for (const auto& entry : m_filters) {
          if (placed.insert(entry.filter.Get()).second) {
            order.push_back(entry.filter.Get());
          }
        }
      }
    }
    return order;
  }

  HRESULT PauseAll() {
    if (!m_clock) {
      (void)SetDefaultSyncSource();
    }
    if (m_state == State_Stopped) {
      m_pausedStreamTime = 0;
      ResetCompletion();
    }
    for (IBaseFilter* filter : DownstreamFirst()) {
      const HRESULT hr = filter->Pause();
      if (FAILED(hr)) {
        StopAll();
        return hr;
      }
    }
    m_state = State_Paused;
    return S_OK;
  }

  void StopAll() {
    for (IBaseFilter* filter : DownstreamFirst()) {
      (void)filter->Stop();
    }
    m_state = State_Stopped;
    m_pausedStreamTime = 0;
  }

  void ResetCompletion() {
    int renderers = 0;
    for (const auto& entry : m_filters) {
      if (IsRenderer(entry.filter.Get())) {
        ++renderers;
      }
    }
    std::lock_guard lock(m_eventLock);
    m_renderersAtRun = std::max(renderers, 1);
    m_completeCount = 0;
    m_completionCode = 0;
  }

  static bool IsRenderer(IBaseFilter* filter) {
    if (auto flags = QueryAs<IAMFilterMiscFlags>(filter)) {
      if ((flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) != 0) {
        return true;
      }
    }
    bool connectedInput = false;
    for (const auto& pin : PinsOf(filter)) {
      if (DirectionOf(pin.Get()) == PINDIR_OUTPUT) {
        return false;
      }
      connectedInput = connectedInput || PeerOf(pin.Get()) != nullptr;
    }
    return connectedInput;
  }

  std::vector<ComPtr<IMediaSeeking>> SeekTargets() {
    CAutoLock lock(&m_lock);
    std::vector<ComPtr<IMediaSeeking>> targets;
    for (const auto& entry : m_filters) {
      bool connectedOutput = false;
      for (const auto& pin : PinsOf(entry.filter.Get())) {
        if (DirectionOf(pin.Get()) == PINDIR_OUTPUT && PeerOf(pin.Get())) {
          connectedOutput = true;
        }
      }
      if (connectedOutput) {
        continue;
      }
      if (auto seeking = QueryAs<IMediaSeeking>(entry.filter.Get())) {
        targets.push_back(seeking);
      }
    }
    return targets;
  }

  template <class F>
  HRESULT AllTargets(F call) {
    auto targets = SeekTargets();
    if (targets.empty()) {
      return E_NOTIMPL;
    }
    HRESULT result = S_OK;
    bool any = false;
    for (const auto& t : targets) {
      const HRESULT hr = call(t.Get());
      if (SUCCEEDED(hr)) {
        any = true;
      } else if (result == S_OK) {
        result = hr;
      }
    }
    return any ? S_OK : result;
  }

  template <class F, class T>
  HRESULT FirstTarget(F call, T* out) {
    if (out == nullptr) {
      return E_POINTER;
    }
    HRESULT last = E_NOTIMPL;
    for (const auto& t : SeekTargets()) {
      last = call(t.Get());
      if (SUCCEEDED(last)) {
        return last;
      }
    }
    return last;
  }

  template <class T>
  ComPtr<T> FirstWith(IUnknown* preferred) {
    if (preferred != nullptr) {
      return QueryAs<T>(preferred);
    }
    CAutoLock lock(&m_lock);
    // The first added first (the renderer of a playback graph is added early).
    for (const auto& entry : m_filters) {
      if (auto found = QueryAs<T>(entry.filter.Get())) {
        return found;
      }
    }
    return nullptr;
  }

  void Teardown() {
    CAutoLock lock(&m_lock);
    StopAll();
    for (const auto& entry : m_filters) {
      for (const auto& pin : PinsOf(entry.filter.Get())) {
        (void)pin->Disconnect();
      }
    }
    for (const auto& entry : m_filters) {
      (void)entry.filter->SetSyncSource(nullptr);
      (void)entry.filter->JoinFilterGraph(nullptr, nullptr);
    }
    m_filters.clear();
    m_clock = nullptr;
  }

  CCritSec m_lock;  // building and state changes
  std::vector<Entry> m_filters;
  LONG m_version = 0;
  std::atomic<FILTER_STATE> m_state{State_Stopped};
  ComPtr<IReferenceClock> m_clock;
  REFERENCE_TIME m_runStart = 0;
  REFERENCE_TIME m_pausedStreamTime = 0;
  GUID m_timeFormat = TIME_FORMAT_MEDIA_TIME;

  std::mutex m_eventLock;
  std::condition_variable m_eventSignal;
  std::deque<QueuedEvent> m_events;
  std::set<LONG> m_noDefault;
  HWND m_notifyWindow = 0;
  UINT m_notifyMessage = 0;
  LONG_PTR m_notifyInstance = 0;
  LONG m_notifyFlags = 0;
  int m_renderersAtRun = 1;
  int m_completeCount = 0;
  LONG m_completionCode = 0;
};

}  // namespace

void AddFileSourceFactory(FileSourceFactory factory) {
  std::lock_guard lock(g_sourceFactoriesLock);
  SourceFactories().push_back(std::move(factory));
}

void AddRenderDecoder(REFCLSID clsid, std::wstring_view name) {
  std::lock_guard lock(g_decodersLock);
  for (const auto& decoder : Decoders()) {
    if (decoder.clsid == clsid) {
      return;
    }
  }
  Decoders().push_back(DecoderClass{clsid, std::wstring(name)});
}

HRESULT CreateFilterGraph(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* graph = new (std::nothrow) CFilterGraph();
  if (graph == nullptr) {
    return E_OUTOFMEMORY;
  }
  graph->NonDelegatingAddRef();
  const HRESULT hr = graph->NonDelegatingQueryInterface(riid, ppv);
  graph->NonDelegatingRelease();
  return hr;
}

HRESULT CreateSystemClock(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  auto* clock = new (std::nothrow) CSystemClock();
  if (clock == nullptr) {
    return E_OUTOFMEMORY;
  }
  clock->NonDelegatingAddRef();
  const HRESULT hr = clock->NonDelegatingQueryInterface(riid, ppv);
  clock->NonDelegatingRelease();
  return hr;
}

}  // namespace halvard::media
