#include "platform/media/CaptureGraphBuilder.h"

#include <mutex>
#include <set>
#include <vector>

#include "platform/media/CreateObject.h"
#include "platform/media/FilterGraph.h"
#include "platform/media/MediaType.h"
#include "platform/media/Unknown.h"

namespace halvard::media {
namespace {

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumPins;
  if (filter == nullptr || FAILED(filter->EnumPins(enumPins.ReleaseAndGetAddressOf())) || !enumPins) {
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

ComPtr<IPin> PeerOf(IPin* pin) {
  IPin* peer = nullptr;
  if (pin->ConnectedTo(&peer) != S_OK) {
    return nullptr;
  }
  return ComPtr<IPin>::Attach(peer);
}

ComPtr<IBaseFilter> FilterOf(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) {
    return nullptr;
  }
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  (void)pin->QueryDirection(&dir);
  return dir;
}

GUID CategoryOf(IPin* pin) {
  ComPtr<IKsPropertySet> props;
  GUID category = GUID_NULL;
  if (SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, props.PutVoid()))) {
    DWORD returned = 0;
    if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                          &returned))) {
      category = GUID_NULL;
    }
  }
  return category;
}

bool PinHasMajorType(IPin* pin, const GUID& major) {
  CMediaType connected;
  if (pin->ConnectionMediaType(&connected) == S_OK) {
    return connected.majortype == major;
  }
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types) {
    return true;  // a pin that cannot tell yet (its input is unconnected) is not excluded
  }
  bool any = false;
  for (;;) {
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &mt, &fetched) != S_OK || mt == nullptr) {
      break;
    }
    any = true;
    const bool match = mt->majortype == major;
    DeleteMediaType(mt);
    if (match) {
      return true;
    }
  }
  return !any;
}

bool IsPinCategory(const GUID* category) {
  return category != nullptr && *category != GUID_NULL && *category != LOOK_UPSTREAM_ONLY &&
         *category != LOOK_DOWNSTREAM_ONLY;
}

class CCaptureGraphBuilder final : public CUnknown, public ICaptureGraphBuilder2 {
 public:
  CCaptureGraphBuilder() : CUnknown(L"Capture graph builder", nullptr) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_ICaptureGraphBuilder2) {
      return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (graph == nullptr) {
      return E_POINTER;
    }
    std::lock_guard lock(m_lock);
    if (m_graph) {
      return E_UNEXPECTED;
    }
    m_graph = ComPtr<IGraphBuilder>(graph);
    return S_OK;
  }

  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (graph == nullptr) {
      return E_POINTER;
    }
    *graph = nullptr;
    ComPtr<IGraphBuilder> g;
    const HRESULT hr = Graph(&g);
    if (FAILED(hr)) {
      return hr;
    }
    *graph = g.Detach();
    return S_OK;
  }

  HRESULT SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter** mux, IFileSinkFilter** sink) override {
    if (mux != nullptr) {
      *mux = nullptr;
    }
    if (sink != nullptr) {
      *sink = nullptr;
    }
    return E_NOTIMPL;
  }

  HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                        void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (filter == nullptr) {
      return E_POINTER;
    }
    std::set<IBaseFilter*> visited;
    if (category != nullptr && *category == LOOK_UPSTREAM_ONLY) {
      return SearchFrom(filter, PINDIR_INPUT, riid, ppv, visited, false) ? S_OK : E_NOINTERFACE;
    }
    if (category != nullptr && *category == LOOK_DOWNSTREAM_ONLY) {
      return SearchFrom(filter, PINDIR_OUTPUT, riid, ppv, visited, false) ? S_OK : E_NOINTERFACE;
    }
    if (SUCCEEDED(filter->QueryInterface(riid, ppv))) {
      return S_OK;
    }
    if (IsPinCategory(category)) {
      ComPtr<IPin> pin;
      if (SUCCEEDED(FindPin(filter, PINDIR_OUTPUT, category, type, FALSE, 0, pin.ReleaseAndGetAddressOf()))) {
        if (SUCCEEDED(pin->QueryInterface(riid, ppv))) {
          return S_OK;
        }
        if (auto peer = PeerOf(pin.Get())) {
          if (auto next = FilterOf(peer.Get())) {
            visited.insert(filter);
            if (SearchFilter(next.Get(), PINDIR_OUTPUT, riid, ppv, visited)) {
              return S_OK;
            }
          }
        }
      }
      return E_NOINTERFACE;
    }
    for (const auto& pin : PinsOf(filter)) {
      if (type != nullptr && !PinHasMajorType(pin.Get(), *type)) {
        continue;
      }
      if (SUCCEEDED(pin->QueryInterface(riid, ppv))) {
        return S_OK;
      }
    }
    if (SearchFrom(filter, PINDIR_OUTPUT, riid, ppv, visited, true) ||
        SearchFrom(filter, PINDIR_INPUT, riid, ppv, visited, true)) {
      return S_OK;
    }
    return E_NOINTERFACE;
  }

  HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                       IBaseFilter* sink) override {
    if (source == nullptr) {
      return E_POINTER;
    }
    ComPtr<IGraphBuilder> graph;
    HRESULT hr = Graph(&graph);
    if (FAILED(hr)) {
      return hr;
    }
    ComPtr<IPin> out;
    hr = SourcePin(graph.Get(), category, type, source, &out);
    if (FAILED(hr)) {
      return hr;
    }
    if (intermediate != nullptr) {
      ComPtr<IPin> in;
      if (FAILED(FindPin(intermediate, PINDIR_INPUT, nullptr, nullptr, TRUE, 0, in.ReleaseAndGetAddressOf()))) {
        return E_FAIL;
      }
      hr = graph->Connect(out.Get(), in.Get());
      if (FAILED(hr)) {
        return hr;
      }
      if (FAILED(FindPin(intermediate, PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, out.ReleaseAndGetAddressOf()))) {
        return sink == nullptr ? S_OK : E_FAIL;
      }
    }
    if (sink == nullptr) {
      return graph->Render(out.Get());
    }
    ComPtr<IPin> in;
    if (FAILED(FindPin(sink, PINDIR_INPUT, nullptr, nullptr, TRUE, 0, in.ReleaseAndGetAddressOf()))) {
      return E_FAIL;
    }
    return graph->Connect(out.Get(), in.Get());
  }

  HRESULT ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*, WORD,
                        WORD) override {
    return E_NOTIMPL;
  }
  HRESULT AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
  HRESULT CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override { return E_NOTIMPL; }

  HRESULT FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* type, BOOL unconnected,
                  int index, IPin** pin) override {
    if (pin == nullptr) {
      return E_POINTER;
    }
    *pin = nullptr;
    if (source == nullptr) {
      return E_POINTER;
    }
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, filter.PutVoid()))) {
      // A pin given as the source: it is its own only candidate.
      ComPtr<IPin> given;
      if (FAILED(source->QueryInterface(IID_IPin, given.PutVoid()))) {
        return E_NOINTERFACE;
      }
      if (index == 0 && Matches(given.Get(), dir, category, type, unconnected)) {
        *pin = given.Detach();
        return S_OK;
      }
      return E_FAIL;
    }
    int found = 0;
    for (const auto& candidate : PinsOf(filter.Get())) {
      if (!Matches(candidate.Get(), dir, category, type, unconnected)) {
        continue;
      }
      if (found++ == index) {
        *pin = ComPtr<IPin>(candidate).Detach();
        return S_OK;
      }
    }
    return E_FAIL;
  }

 private:
  HRESULT Graph(ComPtr<IGraphBuilder>* graph) {
    std::lock_guard lock(m_lock);
    if (!m_graph) {
      const HRESULT hr = CreateFilterGraph(IID_IGraphBuilder, m_graph.PutVoid());
      if (FAILED(hr)) {
        return hr;
      }
    }
    *graph = m_graph;
    return S_OK;
  }

  static bool Matches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* type, BOOL unconnected) {
    if (DirectionOf(pin) != dir) {
      return false;
    }
    if (IsPinCategory(category) && CategoryOf(pin) != *category) {
      return false;
    }
    if (type != nullptr && *type != GUID_NULL && !PinHasMajorType(pin, *type)) {
      return false;
    }
    return !(unconnected && PeerOf(pin));
  }

  HRESULT SourcePin(IGraphBuilder* graph, const GUID* category, const GUID* type, IUnknown* source,
                    ComPtr<IPin>* out) {
    ComPtr<IPin> pin;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, pin.PutVoid()))) {
      if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) {
        return VFW_E_INVALID_DIRECTION;
      }
      if (PeerOf(pin.Get())) {
        return VFW_E_ALREADY_CONNECTED;
      }
      *out = pin;
      return S_OK;
    }
    if (SUCCEEDED(FindPin(source, PINDIR_OUTPUT, category, type, TRUE, 0, pin.ReleaseAndGetAddressOf()))) {
      *out = pin;
      return S_OK;
    }
    if (!IsPinCategory(category)) {
      return E_FAIL;
    }
    // The capture pin may already feed a Smart Tee (inserted for a preview): use the tee.
    ComPtr<IPin> capture;
    if (FAILED(FindPin(source, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type, FALSE, 0, capture.ReleaseAndGetAddressOf()))) {
      return E_FAIL;
    }
    ComPtr<IBaseFilter> tee;
    if (auto peer = PeerOf(capture.Get())) {
      auto next = FilterOf(peer.Get());
      CLSID clsid = GUID_NULL;
      if (next && SUCCEEDED(next->GetClassID(&clsid)) && clsid == CLSID_SmartTee) {
        tee = next;
      } else {
        return E_FAIL;
      }
    } else if (*category == PIN_CATEGORY_PREVIEW) {
      HRESULT hr = CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, tee.PutVoid());
      if (FAILED(hr)) {
        return hr;
      }
      hr = graph->AddFilter(tee.Get(), L"Smart Tee");
      if (FAILED(hr)) {
        return hr;
      }
      ComPtr<IPin> teeIn;
      hr = FindPin(tee.Get(), PINDIR_INPUT, nullptr, nullptr, TRUE, 0, teeIn.ReleaseAndGetAddressOf());
      if (SUCCEEDED(hr)) {
        hr = graph->Connect(capture.Get(), teeIn.Get());
      }
      if (FAILED(hr)) {
        (void)graph->RemoveFilter(tee.Get());
        return hr;
      }
    } else {
      return E_FAIL;
    }
    return FindPin(tee.Get(), PINDIR_OUTPUT, category, nullptr, TRUE, 0, out->ReleaseAndGetAddressOf());
  }

  // Looks through the filters beyond filter's pins of direction dir.
  bool SearchFrom(IBaseFilter* filter, PIN_DIRECTION dir, REFIID riid, void** ppv, std::set<IBaseFilter*>& visited,
                  bool includePins) {
    visited.insert(filter);
    for (const auto& pin : PinsOf(filter)) {
      if (DirectionOf(pin.Get()) != dir) {
        continue;
      }
      auto peer = PeerOf(pin.Get());
      if (!peer) {
        continue;
      }
      if (includePins && SUCCEEDED(peer->QueryInterface(riid, ppv))) {
        return true;
      }
      auto next = FilterOf(peer.Get());
      if (next && SearchFilter(next.Get(), dir, riid, ppv, visited)) {
        return true;
      }
    }
    return false;
  }

  bool SearchFilter(IBaseFilter* filter, PIN_DIRECTION dir, REFIID riid, void** ppv, std::set<IBaseFilter*>& visited) {
    if (visited.count(filter) != 0) {
      return false;
    }
    if (SUCCEEDED(filter->QueryInterface(riid, ppv))) {
      return true;
    }
    for (const auto& pin : PinsOf(filter)) {
      if (SUCCEEDED(pin->QueryInterface(riid, ppv))) {
        return true;
      }
    }
    return SearchFrom(filter, dir, riid, ppv, visited, false);
  }

  std::mutex m_lock;
  ComPtr<IGraphBuilder> m_graph;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(REFIID riid, void** ppv) { return CreateObject<CCaptureGraphBuilder>(riid, ppv); }

}  // namespace halvard::media
