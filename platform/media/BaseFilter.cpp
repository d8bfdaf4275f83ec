#include "platform/media/BaseFilter.h"

#include <cstring>
#include <cwchar>

namespace {

void CopyName(WCHAR* target, std::size_t capacity, const std::wstring& name) {
  const std::size_t n = std::min(name.size(), capacity - 1);
  std::wmemcpy(target, name.data(), n);
  target[n] = 0;
}

}  // namespace

// ---- CBaseFilter ------------------------------------------------------------------------

CBaseFilter::CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* /*phr*/)
    : CBaseFilter(name, outer, lock, clsid) {}

CBaseFilter::~CBaseFilter() {
  if (m_pClock != nullptr) {
    m_pClock->Release();
    m_pClock = nullptr;
  }
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IBaseFilter) {
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  }
  if (riid == IID_IMediaFilter) {
    return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  }
  if (riid == IID_IPersist) {
    return GetInterface(static_cast<IPersist*>(this), ppv);
  }
  if (riid == IID_IAMFilterMiscFlags && GetMiscFlags() != 0) {
    return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) {
    return E_POINTER;
  }
  *clsid = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        const HRESULT pinHr = pin->Inactive();
        if (FAILED(pinHr) && SUCCEEDED(hr)) {
          hr = pinHr;
        }
      }
    }
  }
  m_State = State_Stopped;
  return hr;
}

HRESULT CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        const HRESULT hr = pin->Active();
        if (FAILED(hr)) {
          // Undo what was activated, so a failed pause leaves the filter stopped.
          for (int k = 0; k < i; ++k) {
            CBasePin* done = GetPin(k);
            if (done != nullptr && done->IsConnected()) {
              (void)done->Inactive();
            }
          }
          return hr;
        }
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(m_pLock);
  m_tStart = start;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) {
      return hr;
    }
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        const HRESULT hr = pin->Run(start);
        if (FAILED(hr)) {
          return hr;
        }
      }
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD /*msTimeout*/, FILTER_STATE* state) {
  if (state == nullptr) {
    return E_POINTER;
  }
  *state = m_State;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(m_pLock);
  if (clock != nullptr) {
    clock->AddRef();
  }
  if (m_pClock != nullptr) {
    m_pClock->Release();
  }
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  *clock = m_pClock;
  if (m_pClock != nullptr) {
    m_pClock->AddRef();
  }
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  if (ppEnum == nullptr) {
    return E_POINTER;
  }
  *ppEnum = new (std::nothrow) CEnumPins(this, nullptr);
  return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** ppPin) {
  if (ppPin == nullptr) {
    return E_POINTER;
  }
  *ppPin = nullptr;
  if (id == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = GetPin(i);
    if (pin != nullptr && pin->PinName() == id) {
      *ppPin = pin;
      pin->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  CopyName(info->achName, MAX_FILTER_NAME, m_name);
  info->pGraph = m_pGraph;
  if (m_pGraph != nullptr) {
    m_pGraph->AddRef();
  }
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(m_pLock);
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph != nullptr) {
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      m_pSink = sink;  // not counted: the graph outlives our membership
      sink->Release();
    }
  }
  m_name = name != nullptr ? name : L"";
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
  if (vendorInfo != nullptr) {
    *vendorInfo = nullptr;
  }
  return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = m_pSink;
  if (sink == nullptr) {
    return E_NOTIMPL;
  }
  // EC_COMPLETE carries the filter, as the graph counts renderers by it.
  if (eventCode == EC_COMPLETE && param2 == 0) {
    param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  }
  return sink->Notify(eventCode, param1, param2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* pmt) {
  if (m_pGraph == nullptr) {
    return E_NOINTERFACE;
  }
  IFilterGraph2* graph2 = nullptr;
  if (SUCCEEDED(m_pGraph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2)))) {
    const HRESULT hr = graph2->ReconnectEx(pin, pmt);
    graph2->Release();
    return hr;
  }
  return m_pGraph->Reconnect(pin);
}

bool CBaseFilter::IsActive() { return m_State != State_Stopped; }
bool CBaseFilter::IsStopped() { return m_State == State_Stopped; }

HRESULT CBaseFilter::StreamTime(CRefTime& streamTime) {
  if (m_pClock == nullptr) {
    return VFW_E_NO_CLOCK;
  }
  REFERENCE_TIME now = 0;
  const HRESULT hr = m_pClock->GetTime(&now);
  if (FAILED(hr)) {
    return hr;
  }
  streamTime = now - m_tStart;
  return S_OK;
}

// ---- CBasePin -----------------------------------------------------------------------------

CBasePin::CBasePin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* /*phr*/, LPCWSTR name,
                   PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_name(name != nullptr ? name : L""), m_dir(dir), m_pLock(lock), m_pFilter(filter) {}

CBasePin::~CBasePin() {
  // A pin destroyed while connected (its filter died without a graph teardown) must not
  // keep its peer.
  if (m_Connected != nullptr) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IPin) {
    return GetInterface(static_cast<IPin*>(this), ppv);
  }
  if (riid == IID_IKsPropertySet && m_category != GUID_NULL) {
    return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
  if (receivePin == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) {
    return VFW_E_ALREADY_CONNECTED;
  }
  if (!IsStopped() && !m_bCanReconnectWhenActive) {
    return VFW_E_NOT_STOPPED;
  }
  if (m_dir != PINDIR_OUTPUT) {
    return VFW_E_INVALID_DIRECTION;
  }
  const CMediaType partial = pmt != nullptr ? CMediaType(*pmt) : CMediaType();
  return AgreeMediaType(receivePin, &partial);
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* pmt) {
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    (void)BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = receivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = receivePin->ReceiveConnection(this, pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) {
          return hr;
        }
        (void)receivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  (void)BreakConnect();
  if (m_Connected != nullptr) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  return hr;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* pmt, IEnumMediaTypes* ppEnum) {
  HRESULT hr = ppEnum->Reset();
  if (FAILED(hr)) {
    return hr;
  }
  HRESULT failure = S_FALSE;
  for (;;) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    hr = ppEnum->Next(1, &candidate, &fetched);
    if (hr != S_OK || fetched != 1) {
      return failure == S_FALSE ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
    }
    const CMediaType type(*candidate);
    DeleteMediaType(candidate);
    if (pmt == nullptr || type.MatchesPartial(pmt)) {
      hr = AttemptConnection(receivePin, &type);
      if (SUCCEEDED(hr)) {
        return hr;
      }
      // Remember a specific reason; the generic refusals fold into "no acceptable types".
      if (failure == S_FALSE || (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED)) {
        failure = hr;
      }
    }
  }
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* pmt) {
  if (pmt != nullptr && !pmt->IsPartiallySpecified()) {
    return AttemptConnection(receivePin, pmt);
  }
  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool mine = (attempt == 0) == m_bTryMyTypesFirst;
    IEnumMediaTypes* enumTypes = nullptr;
    HRESULT hr = mine ? EnumMediaTypes(&enumTypes) : receivePin->EnumMediaTypes(&enumTypes);
    if (SUCCEEDED(hr) && enumTypes != nullptr) {
      hr = TryMediaTypes(receivePin, pmt, enumTypes);
      enumTypes->Release();
      if (SUCCEEDED(hr)) {
        return S_OK;
      }
      if (hr != VFW_E_NO_ACCEPTABLE_TYPES) {
        failure = hr;
      }
    }
  }
  // A refused type is reported as such rather than the generic failure.
  if (failure == VFW_E_TYPE_NOT_ACCEPTED) {
    failure = VFW_E_NO_ACCEPTABLE_TYPES;
  }
  return failure;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (connector == nullptr || pmt == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) {
    return VFW_E_ALREADY_CONNECTED;
  }
  if (!IsStopped() && !m_bCanReconnectWhenActive) {
    return VFW_E_NOT_STOPPED;
  }
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    (void)BreakConnect();
    return hr;
  }
  const CMediaType type(*pmt);
  hr = CheckMediaType(&type);
  if (hr != S_OK) {
    (void)BreakConnect();
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
      hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    return hr;
  }
  m_Connected = connector;
  m_Connected->AddRef();
  hr = SetMediaType(&type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(connector);
    if (SUCCEEDED(hr)) {
      return S_OK;
    }
  }
  m_Connected->Release();
  m_Connected = nullptr;
  (void)BreakConnect();
  return hr;
}

HRESULT CBasePin::DisconnectInternal() {
  if (m_Connected == nullptr) {
    (void)BreakConnect();
    return S_FALSE;
  }
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) {
    return hr;
  }
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

HRESULT CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) {
    return VFW_E_NOT_STOPPED;
  }
  return DisconnectInternal();
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  *pin = m_Connected;
  if (m_Connected == nullptr) {
    return VFW_E_NOT_CONNECTED;
  }
  m_Connected->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  if (m_Connected == nullptr) {
    std::memset(pmt, 0, sizeof(*pmt));
    pmt->lSampleSize = 1;
    pmt->bFixedSizeSamples = TRUE;
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) {
    return E_POINTER;
  }
  info->pFilter = m_pFilter;
  if (m_pFilter != nullptr) {
    m_pFilter->AddRef();
  }
  CopyName(info->achName, MAX_PIN_NAME, m_name);
  info->dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* dir) {
  if (dir == nullptr) {
    return E_POINTER;
  }
  *dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) { return halvard::media::AllocWideString(m_name.c_str(), id); }

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  const CMediaType type(*pmt);
  const HRESULT hr = CheckMediaType(&type);
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) {
    return E_POINTER;
  }
  *ppEnum = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  return *ppEnum == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin** /*pins*/, ULONG* /*count*/) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) { return E_NOTIMPL; }

HRESULT CBasePin::Get(REFGUID propSet, DWORD id, void*, DWORD, void* propertyData, DWORD dataLength, DWORD* returned) {
  if (propSet != AMPROPSETID_Pin) {
    return E_PROP_SET_UNSUPPORTED;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return E_PROP_ID_UNSUPPORTED;
  }
  if (propertyData == nullptr && returned == nullptr) {
    return E_POINTER;
  }
  if (returned != nullptr) {
    *returned = sizeof(GUID);
  }
  if (propertyData == nullptr) {
    return S_OK;
  }
  if (dataLength < sizeof(GUID)) {
    return E_UNEXPECTED;
  }
  std::memcpy(propertyData, &m_category, sizeof(GUID));
  return S_OK;
}

HRESULT CBasePin::QuerySupported(REFGUID propSet, DWORD id, DWORD* typeSupport) {
  if (propSet != AMPROPSETID_Pin) {
    return E_PROP_SET_UNSUPPORTED;
  }
  if (id != AMPROPERTY_PIN_CATEGORY) {
    return E_PROP_ID_UNSUPPORTED;
  }
  if (typeSupport != nullptr) {
    *typeSupport = KSPROPERTY_SUPPORT_GET;
  }
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int /*position*/, CMediaType* /*pmt*/) { return E_UNEXPECTED; }

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) { return m_mt.Set(*pmt); }

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION dir;
  const HRESULT hr = pin->QueryDirection(&dir);
  if (FAILED(hr)) {
    return hr;
  }
  return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin* /*receivePin*/) { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() {
  m_bRunTimeError = false;
  return S_OK;
}
HRESULT CBasePin::Run(REFERENCE_TIME /*start*/) { return S_OK; }

// ---- enumerators ------------------------------------------------------------------------------

PinEnumTraits::Guard::Guard(CBaseFilter* filter) : lock(filter->FilterLock()) {}

LONG PinEnumTraits::Version(CBaseFilter* filter) { return filter->GetPinVersion(); }

bool PinEnumTraits::Take(CBaseFilter* filter, int* position, IPin** pin) {
  const int total = filter->GetPinCount();
  while (*position < total) {
    CBasePin* found = filter->GetPin((*position)++);
    if (found != nullptr) {
      found->AddRef();
      *pin = found;
      return true;
    }
  }
  return false;
}

bool PinEnumTraits::Step(CBaseFilter* filter, int* position) {
  if (*position >= filter->GetPinCount()) {
    return false;
  }
  ++*position;
  return true;
}

LONG MediaTypeEnumTraits::Version(CBasePin* pin) { return pin->GetMediaTypeVersion(); }

bool MediaTypeEnumTraits::Take(CBasePin* pin, int* position, AM_MEDIA_TYPE** type) {
  CMediaType preferred;
  if (pin->GetMediaType(*position, &preferred) != S_OK) {
    return false;
  }
  ++*position;
  *type = CreateMediaType(&preferred);
  return *type != nullptr;
}

bool MediaTypeEnumTraits::Step(CBasePin* pin, int* position) {
  CMediaType preferred;
  if (pin->GetMediaType(*position, &preferred) != S_OK) {
    return false;
  }
  ++*position;
  return true;
}

// ---- CBaseOutputPin ---------------------------------------------------------------------------

CBaseOutputPin::CBaseOutputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (m_pAllocator != nullptr) {
    (void)m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) {
    return hr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* /*receivePin*/) { return DecideAllocator(m_pInputPin, &m_pAllocator); }

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) {
      return hr;
    }
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::Active() {
  if (m_pAllocator == nullptr) {
    return VFW_E_NO_ALLOCATOR;
  }
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = false;
  if (m_pAllocator == nullptr) {
    return VFW_E_NO_ALLOCATOR;
  }
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** alloc) {
  if (pin == nullptr || alloc == nullptr) {
    return E_POINTER;
  }
  if (*alloc != nullptr) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  ALLOCATOR_PROPERTIES props{};
  (void)pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) {
    props.cbAlign = 1;
  }
  HRESULT hr = pin->GetAllocator(alloc);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*alloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*alloc, FALSE);
      if (SUCCEEDED(hr)) {
        return S_OK;
      }
    }
  }
  if (*alloc != nullptr) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  hr = InitAllocator(alloc);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*alloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*alloc, FALSE);
      if (SUCCEEDED(hr)) {
        return S_OK;
      }
    }
  }
  if (*alloc != nullptr) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** alloc) { return CMemAllocator::Create(alloc); }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
  if (sample == nullptr) {
    return E_POINTER;
  }
  *sample = nullptr;
  IMemAllocator* allocator = m_pAllocator;
  if (allocator == nullptr) {
    return VFW_E_NO_ALLOCATOR;
  }
  return allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  IMemInputPin* pin = m_pInputPin;
  if (pin == nullptr) {
    return VFW_E_NOT_CONNECTED;
  }
  return pin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  IPin* peer = m_Connected;
  return peer == nullptr ? VFW_E_NOT_CONNECTED : peer->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  IPin* peer = m_Connected;
  return peer == nullptr ? VFW_E_NOT_CONNECTED : peer->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  IPin* peer = m_Connected;
  return peer == nullptr ? VFW_E_NOT_CONNECTED : peer->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  IPin* peer = m_Connected;
  return peer == nullptr ? VFW_E_NOT_CONNECTED : peer->NewSegment(start, stop, rate);
}

HRESULT CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

// ---- CBaseInputPin ----------------------------------------------------------------------------

CBaseInputPin::CBaseInputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator != nullptr) {
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMemInputPin) {
    return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  }
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  if (m_pAllocator == nullptr) {
    const HRESULT hr = CMemAllocator::Create(&m_pAllocator);
    if (FAILED(hr)) {
      *allocator = nullptr;
      return hr;
    }
  }
  *allocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(m_pLock);
  allocator->AddRef();
  if (m_pAllocator != nullptr) {
    m_pAllocator->Release();
  }
  m_pAllocator = allocator;
  m_bReadOnly = readOnly != FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* /*props*/) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (!IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  if (IsStopped()) {
    return VFW_E_WRONG_STATE;
  }
  if (m_bFlushing) {
    return S_FALSE;
  }
  if (m_bRunTimeError) {
    return VFW_E_RUNTIME_ERROR;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (sample == nullptr) {
    return E_POINTER;
  }
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
    const CMediaType type(*changed);
    DeleteMediaType(changed);
    hr = CheckMediaType(&type);
    if (hr != S_OK) {
      (void)EndOfStream();
      (void)m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      m_bRunTimeError = true;
      return VFW_E_INVALIDMEDIATYPE;
    }
    (void)SetMediaType(&type);
  }
  return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (samples == nullptr || processed == nullptr) {
    return E_POINTER;
  }
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) {
      break;
    }
    ++*processed;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
  int outputs = 0;
  const int count = m_pFilter->GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = m_pFilter->GetPin(i);
    if (pin == nullptr || pin->Direction() != PINDIR_OUTPUT) {
      continue;
    }
    ++outputs;
    IPin* peer = pin->GetConnected();
    if (peer == nullptr) {
      continue;
    }
    IMemInputPin* input = nullptr;
    if (SUCCEEDED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)))) {
      const HRESULT hr = input->ReceiveCanBlock();
      input->Release();
      if (hr != S_FALSE) {
        return S_OK;
      }
    } else {
      return S_OK;
    }
  }
  return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
  m_bFlushing = true;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  m_bFlushing = false;
  m_bRunTimeError = false;
  return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    (void)m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = false;
  m_bFlushing = false;
  if (m_pAllocator == nullptr) {
    return VFW_E_NO_ALLOCATOR;
  }
  return m_pAllocator->Decommit();
}
