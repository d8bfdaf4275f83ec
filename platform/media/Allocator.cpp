#include "platform/media/Allocator.h"

#include <cstdlib>
#include <cstring>

// ---- CMediaSample -----------------------------------------------------------------------------

CMediaSample::CMediaSample(LPCTSTR /*name*/, CBaseAllocator* allocator, HRESULT* /*phr*/, BYTE* buffer, LONG length)
    : m_pAllocator(allocator), m_pBuffer(buffer), m_cbBuffer(length) {}

CMediaSample::~CMediaSample() {
  if (m_pMediaType != nullptr) {
    DeleteMediaType(m_pMediaType);
  }
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMediaSample || riid == IID_IUnknown) {
    return GetInterface(static_cast<IMediaSample*>(this), ppv);
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

ULONG CMediaSample::Release() {
  const LONG count = m_cRef.fetch_sub(1) - 1;
  if (count == 0) {
    ResetProperties();
    m_pAllocator->ReleaseBuffer(this);
  }
  return static_cast<ULONG>(count);
}

void CMediaSample::ResetProperties() {
  m_timeValid = m_stopValid = m_mediaTimeValid = false;
  m_syncPoint = m_preroll = m_discontinuity = false;
  m_lActual = m_cbBuffer;
  if (m_pMediaType != nullptr) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
  if (length < 0) {
    return VFW_E_BUFFER_OVERFLOW;
  }
  m_pBuffer = buffer;
  m_cbBuffer = length;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (buffer == nullptr) {
    return E_POINTER;
  }
  *buffer = m_pBuffer;
  return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (start == nullptr || end == nullptr) {
    return E_POINTER;
  }
  if (!m_timeValid) {
    return VFW_E_SAMPLE_TIME_NOT_SET;
  }
  *start = m_Start;
  if (!m_stopValid) {
    *end = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *end = m_End;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (start == nullptr) {
    m_timeValid = m_stopValid = false;
    return S_OK;
  }
  m_Start = *start;
  m_timeValid = true;
  m_stopValid = end != nullptr;
  if (end != nullptr) {
    m_End = *end;
  }
  return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return m_syncPoint ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL isSyncPoint) {
  m_syncPoint = isSyncPoint != FALSE;
  return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return m_preroll ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL isPreroll) {
  m_preroll = isPreroll != FALSE;
  return S_OK;
}
LONG CMediaSample::GetActualDataLength() { return m_lActual; }
HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > m_cbBuffer) {
    return VFW_E_BUFFER_OVERFLOW;
  }
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mediaType) {
  if (mediaType == nullptr) {
    return E_POINTER;
  }
  *mediaType = nullptr;
  if (m_pMediaType == nullptr) {
    return S_FALSE;
  }
  *mediaType = CreateMediaType(m_pMediaType);
  return *mediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mediaType) {
  if (m_pMediaType != nullptr) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
  if (mediaType == nullptr) {
    return S_OK;
  }
  m_pMediaType = CreateMediaType(mediaType);
  return m_pMediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() { return m_discontinuity ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  m_discontinuity = discontinuity != FALSE;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (start == nullptr || end == nullptr) {
    return E_POINTER;
  }
  if (!m_mediaTimeValid) {
    return VFW_E_MEDIA_TIME_NOT_SET;
  }
  *start = m_MediaStart;
  *end = m_MediaEnd;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (start == nullptr) {
    m_mediaTimeValid = false;
    return S_OK;
  }
  if (end == nullptr) {
    return E_POINTER;
  }
  m_MediaStart = *start;
  m_MediaEnd = *end;
  m_mediaTimeValid = true;
  return S_OK;
}

// ---- CBaseAllocator -------------------------------------------------------------------------

CBaseAllocator::CBaseAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr) : CUnknown(name, outer, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMemAllocator) {
    return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  }
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (request == nullptr || actual == nullptr) {
    return E_POINTER;
  }
  std::lock_guard lock(m_lock);
  std::memset(actual, 0, sizeof(*actual));
  if (m_bCommitted) {
    return VFW_E_ALREADY_COMMITTED;
  }
  if (m_outstanding > 0 || static_cast<LONG>(m_all.size()) > static_cast<LONG>(m_free.size())) {
    return VFW_E_BUFFERS_OUTSTANDING;
  }
  const LONG align = request->cbAlign <= 0 ? 1 : request->cbAlign;
  if ((align & (align - 1)) != 0) {
    return VFW_E_BADALIGN;
  }
  if (request->cbBuffer < 0 || request->cBuffers < 0 || request->cbPrefix < 0) {
    return E_INVALIDARG;
  }
  m_lCount = request->cBuffers < 1 ? 1 : request->cBuffers;
  m_lSize = request->cbBuffer;
  m_lAlignment = align;
  m_lPrefix = request->cbPrefix;
  m_propertiesSet = true;
  actual->cBuffers = m_lCount;
  actual->cbBuffer = m_lSize;
  actual->cbAlign = m_lAlignment;
  actual->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (props == nullptr) {
    return E_POINTER;
  }
  std::lock_guard lock(m_lock);
  props->cBuffers = m_lCount;
  props->cbBuffer = m_lSize;
  props->cbAlign = m_lAlignment;
  props->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Commit() {
  std::lock_guard lock(m_lock);
  if (m_bCommitted) {
    return S_OK;
  }
  if (!m_propertiesSet) {
    return VFW_E_SIZENOTSET;
  }
  m_bDecommitInProgress = false;
  // Samples may still be out from before a decommit: they are the same objects, so
  // allocate only when the memory was freed.
  if (m_all.empty()) {
    const HRESULT hr = Alloc();
    if (FAILED(hr)) {
      return hr;
    }
  }
  m_bCommitted = true;
  return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
  {
    std::lock_guard lock(m_lock);
    if (!m_bCommitted) {
      return S_OK;
    }
    m_bCommitted = false;
    if (m_outstanding == 0) {
      Free();
    } else {
      m_bDecommitInProgress = true;
    }
  }
  m_freeAvailable.notify_all();
  return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** buffer, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) {
  if (buffer == nullptr) {
    return E_POINTER;
  }
  *buffer = nullptr;
  CMediaSample* sample = nullptr;
  {
    std::unique_lock lock(m_lock);
    for (;;) {
      if (!m_bCommitted) {
        return VFW_E_NOT_COMMITTED;
      }
      if (!m_free.empty()) {
        sample = m_free.back();
        m_free.pop_back();
        break;
      }
      if ((flags & AM_GBF_NOWAIT) != 0) {
        return VFW_E_TIMEOUT;
      }
      m_freeAvailable.wait(lock);
    }
    ++m_outstanding;
  }
  // Each sample out keeps its allocator alive.
  NonDelegatingAddRef();
  sample->m_cRef.store(1);
  sample->m_lActual = sample->m_cbBuffer;
  if (start != nullptr) {
    (void)sample->SetTime(start, end);
  }
  *buffer = sample;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* buffer) {
  if (buffer == nullptr) {
    return E_POINTER;
  }
  {
    std::lock_guard lock(m_lock);
    m_free.push_back(static_cast<CMediaSample*>(buffer));
    --m_outstanding;
    if (m_bDecommitInProgress && m_outstanding == 0) {
      m_bDecommitInProgress = false;
      Free();
    }
  }
  m_freeAvailable.notify_one();
  NonDelegatingRelease();  // may delete this allocator (last sample of a released one)
  return S_OK;
}

LONG CBaseAllocator::OutstandingCount() {
  std::lock_guard lock(m_lock);
  return m_outstanding;
}

// ---- CMemAllocator ----------------------------------------------------------------------------

CMemAllocator::CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
  std::lock_guard lock(m_lock);
  Free();
}

HRESULT CMemAllocator::Create(IMemAllocator** allocator) {
  if (allocator == nullptr) {
    return E_POINTER;
  }
  HRESULT hr = S_OK;
  auto* created = new (std::nothrow) CMemAllocator(L"CMemAllocator", nullptr, &hr);
  if (created == nullptr) {
    *allocator = nullptr;
    return E_OUTOFMEMORY;
  }
  return created->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
}

HRESULT CMemAllocator::Alloc() {
  const std::size_t align = static_cast<std::size_t>(m_lAlignment);
  const std::size_t slot = (static_cast<std::size_t>(m_lSize) + static_cast<std::size_t>(m_lPrefix) + align - 1) / align * align;
  const std::size_t total = std::max<std::size_t>(slot * static_cast<std::size_t>(m_lCount), align);
  const std::size_t blockAlign = std::max<std::size_t>(align, 16);
  m_pBuffer = static_cast<BYTE*>(std::aligned_alloc(blockAlign, (total + blockAlign - 1) / blockAlign * blockAlign));
  if (m_pBuffer == nullptr) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  for (LONG i = 0; i < m_lCount; ++i) {
    auto sample = std::make_unique<CMediaSample>(L"CMediaSample", this, &hr,
                                                 m_pBuffer + slot * static_cast<std::size_t>(i) + static_cast<std::size_t>(m_lPrefix),
                                                 m_lSize);
    m_free.push_back(sample.get());
    m_all.push_back(std::move(sample));
  }
  return S_OK;
}

void CMemAllocator::Free() {
  m_free.clear();
  m_all.clear();
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}
