#include "platform/media/Transform.h"

#include <cwchar>

// ---- CTransformInputPin -------------------------------------------------------------------

CTransformInputPin::CTransformInputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR name)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* pmt) {
  HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
  if (hr != S_OK) {
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  CTransformOutputPin* output = m_pTransformFilter->m_pOutput;
  if (output != nullptr && output->IsConnected()) {
    hr = m_pTransformFilter->CheckTransform(pmt, &output->CurrentMediaType());
    if (hr != S_OK) {
      return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
  }
  return S_OK;
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
  return FAILED(hr) ? hr : CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
  (void)m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
  return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) {
    return hr;
  }
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, pmt);
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) {
    return hr;
  }
  return m_pTransformFilter->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) {
    return hr;
  }
  return m_pTransformFilter->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) {
    return hr;
  }
  return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) {
    return VFW_E_NOT_CONNECTED;
  }
  const HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) {
    return hr;
  }
  return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  (void)CBasePin::NewSegment(start, stop, rate);
  return m_pTransformFilter->NewSegment(start, stop, rate);
}

// ---- CTransformOutputPin ----------------------------------------------------------------------

CTransformOutputPin::CTransformOutputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, name), m_pTransformFilter(filter) {}

CTransformOutputPin::~CTransformOutputPin() = default;

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMediaSeeking) {
    if (m_pPosition == nullptr) {
      HRESULT hr = S_OK;
      m_pPosition = std::make_unique<CPosPassThru>(L"Pass-through position", GetOwner(), &hr,
                                                   static_cast<IPin*>(m_pTransformFilter->m_pInput));
    }
    return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
  if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected()) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
  return FAILED(hr) ? hr : CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  (void)m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
  return FAILED(hr) ? hr : CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* pmt) {
  if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected()) {
    return E_UNEXPECTED;
  }
  return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), pmt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) {
    return hr;
  }
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
  return m_pTransformFilter->DecideBufferSize(alloc, request);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* pmt) {
  if (m_pTransformFilter->m_pInput != nullptr && m_pTransformFilter->m_pInput->IsConnected()) {
    return m_pTransformFilter->GetMediaType(position, pmt);
  }
  return VFW_S_NO_MORE_ITEMS;
}

// ---- CTransformFilter -----------------------------------------------------------------------

CTransformFilter::CTransformFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
  if (m_pInput == nullptr) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CTransformInputPin(L"Transform input pin", this, &hr, L"XForm In");
    if (m_pInput == nullptr) {
      return nullptr;
    }
    m_pOutput = new (std::nothrow) CTransformOutputPin(L"Transform output pin", this, &hr, L"XForm Out");
    if (m_pOutput == nullptr) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) {
    return m_pInput;
  }
  if (n == 1) {
    return m_pOutput;
  }
  return nullptr;
}

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin** ppPin) {
  if (ppPin == nullptr || id == nullptr) {
    return E_POINTER;
  }
  *ppPin = nullptr;
  CBasePin* pin = nullptr;
  if (std::wcscmp(id, L"In") == 0) {
    pin = GetPin(0);
  } else if (std::wcscmp(id, L"Out") == 0) {
    pin = GetPin(1);
  }
  if (pin != nullptr) {
    *ppPin = pin;
    pin->AddRef();
    return S_OK;
  }
  return CBaseFilter::FindPin(id, ppPin);
}

HRESULT CTransformFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) {
    return S_OK;
  }
  if (m_pInput == nullptr || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
    return S_OK;
  }
  // Input first, so that no new sample starts; then wait for the one in progress.
  (void)m_pInput->Inactive();
  CAutoLock receiveLock(&m_csReceive);
  (void)m_pOutput->Inactive();
  const HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
  }
  return hr;
}

HRESULT CTransformFilter::Pause() {
  CAutoLock lock(&m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) {
    // nothing to do
  } else if (m_pInput == nullptr || !m_pInput->IsConnected()) {
    // An unconnected input never sends data: tell downstream at once so it can complete.
    if (m_pOutput != nullptr && m_pOutput->IsConnected() && !m_bEOSDelivered) {
      (void)m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = true;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock receiveLock(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) {
      hr = CBaseFilter::Pause();
    }
  }
  m_bSampleSkipped = false;
  m_bQualityChanged = false;
  return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample* /*in*/, IMediaSample* /*out*/) { return E_UNEXPECTED; }

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION /*direction*/, const CMediaType* /*pmt*/) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION /*dir*/, IPin* /*pin*/) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION /*dir*/) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION /*direction*/, IPin* /*receivePin*/) { return S_OK; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* sample, IMediaSample** outSample) {
  *outSample = nullptr;
  DWORD flags = 0;
  if (m_bSampleSkipped) {
    flags |= AM_GBF_PREVFRAMESKIPPED;
  }
  if (sample->IsSyncPoint() != S_OK) {
    flags |= AM_GBF_NOTASYNCPOINT;
  }
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  IMediaSample* out = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, timed ? &start : nullptr, timed ? &stop : nullptr, flags);
  if (FAILED(hr)) {
    return hr;
  }
  if (timed) {
    (void)out->SetTime(&start, &stop);
  }
  (void)out->SetSyncPoint(sample->IsSyncPoint() == S_OK);
  (void)out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK || m_bSampleSkipped);
  (void)out->SetPreroll(sample->IsPreroll() == S_OK);
  LONGLONG mediaStart = 0;
  LONGLONG mediaStop = 0;
  if (sample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
    (void)out->SetMediaTime(&mediaStart, &mediaStop);
  }
  *outSample = out;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
  IMediaSample* out = nullptr;
  HRESULT hr = InitializeOutputSample(sample, &out);
  if (FAILED(hr)) {
    return hr;
  }
  hr = Transform(sample, out);
  if (FAILED(hr)) {
    out->Release();
    return hr;
  }
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(out);
    m_bSampleSkipped = false;
  } else {
    // S_FALSE: the transform chose to drop this sample; downstream sees a discontinuity.
    m_bSampleSkipped = true;
    hr = S_OK;
  }
  out->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream() { return m_pOutput->DeliverEndOfStream(); }
HRESULT CTransformFilter::BeginFlush() { return m_pOutput->DeliverBeginFlush(); }
HRESULT CTransformFilter::EndFlush() { return m_pOutput->DeliverEndFlush(); }
HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (m_pOutput != nullptr && m_pOutput->IsConnected()) {
    return m_pOutput->DeliverNewSegment(start, stop, rate);
  }
  return S_OK;
}
