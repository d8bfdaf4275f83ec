#include "platform/media/Source.h"

#include <algorithm>

// ---- CSource --------------------------------------------------------------------------------

CSource::CSource(LPCTSTR name, LPUNKNOWN outer, CLSID clsid, HRESULT* /*phr*/)
    : CBaseFilter(name, outer, &m_cStateLock, clsid) {}

CSource::CSource(LPCTSTR name, LPUNKNOWN outer, CLSID clsid) : CBaseFilter(name, outer, &m_cStateLock, clsid) {}

CSource::~CSource() {
  while (!m_paStreams.empty()) {
    delete m_paStreams.back();  // its destructor removes it from the list
  }
}

int CSource::GetPinCount() {
  CAutoLock lock(&m_cStateLock);
  return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n) {
  CAutoLock lock(&m_cStateLock);
  if (n < 0 || n >= static_cast<int>(m_paStreams.size())) {
    return nullptr;
  }
  return m_paStreams[static_cast<std::size_t>(n)];
}

HRESULT CSource::AddPin(CSourceStream* pin) {
  CAutoLock lock(&m_cStateLock);
  m_paStreams.push_back(pin);
  IncrementPinVersion();
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin) {
  CAutoLock lock(&m_cStateLock);
  const auto it = std::find(m_paStreams.begin(), m_paStreams.end(), pin);
  if (it == m_paStreams.end()) {
    return S_FALSE;
  }
  m_paStreams.erase(it);
  IncrementPinVersion();
  return S_OK;
}

int CSource::FindPinNumber(IPin* pin) {
  CAutoLock lock(&m_cStateLock);
  for (std::size_t i = 0; i < m_paStreams.size(); ++i) {
    if (static_cast<IPin*>(m_paStreams[i]) == pin) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// ---- CSourceStream ----------------------------------------------------------------------------

CSourceStream::CSourceStream(LPCTSTR objectName, HRESULT* phr, CSource* filter, LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, filter->pStateLock(), phr, pinName), m_pFilter(filter) {
  (void)filter->AddPin(this);
}

CSourceStream::~CSourceStream() {
  if (m_thread.joinable()) {
    {
      std::lock_guard lock(m_requestLock);
      m_stopRequested = true;
    }
    m_requestSignal.notify_all();
    if (m_pAllocator != nullptr) {
      (void)m_pAllocator->Decommit();
    }
    m_thread.join();
  }
  (void)m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::Active() {
  CAutoLock lock(m_pFilter->pStateLock());
  if (m_thread.joinable()) {
    return S_FALSE;
  }
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) {
    return hr;
  }
  {
    std::lock_guard requestLock(m_requestLock);
    m_stopRequested = false;
  }
  try {
    m_thread = std::thread([this] { ThreadProc(); });
  } catch (...) {
    (void)CBaseOutputPin::Inactive();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CSourceStream::Inactive() {
  if (m_thread.joinable()) {
    {
      std::lock_guard requestLock(m_requestLock);
      m_stopRequested = true;
    }
    m_requestSignal.notify_all();
    // Decommitting wakes a thread waiting for a free buffer.
    if (m_pAllocator != nullptr) {
      (void)m_pAllocator->Decommit();
    }
    m_thread.join();
  }
  return CBaseOutputPin::Inactive();
}

bool CSourceStream::CheckRequest(Command* command) {
  std::lock_guard lock(m_requestLock);
  if (m_stopRequested) {
    if (command != nullptr) {
      *command = CMD_STOP;
    }
    return true;
  }
  return false;
}

void CSourceStream::ThreadProc() {
  HRESULT hr = OnThreadCreate();
  if (FAILED(hr)) {
    (void)OnThreadDestroy();
    (void)m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
    return;
  }
  hr = OnThreadStartPlay();
  if (SUCCEEDED(hr)) {
    (void)DoBufferProcessingLoop();
  }
  (void)OnThreadDestroy();
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
  while (!CheckRequest(nullptr)) {
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      // Decommitted: a stop is on its way.
      return S_OK;
    }
    hr = FillBuffer(sample);
    if (hr == S_OK) {
      hr = Deliver(sample);
      sample->Release();
      if (hr != S_OK) {
        // Downstream does not want more (stopping, flushing or failed): end quietly.
        return S_OK;
      }
    } else if (hr == S_FALSE) {
      sample->Release();
      (void)DeliverEndOfStream();
      return S_OK;
    } else {
      sample->Release();
      (void)DeliverEndOfStream();
      (void)m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
      return hr;
    }
  }
  return S_OK;
}

HRESULT CSourceStream::GetMediaType(CMediaType* /*pmt*/) { return E_UNEXPECTED; }

HRESULT CSourceStream::GetMediaType(int position, CMediaType* pmt) {
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (position > 0) {
    return VFW_S_NO_MORE_ITEMS;
  }
  return GetMediaType(pmt);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  // Any type the pin enumerates is accepted, whichever GetMediaType the pin overrides.
  constexpr int kMaxTypes = 1024;  // a pin that never ends its list cannot loop for ever
  for (int position = 0; position < kMaxTypes; ++position) {
    CMediaType mine;
    if (GetMediaType(position, &mine) != S_OK) {
      break;
    }
    if (mine == *pmt) {
      return S_OK;
    }
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}
