#include "filters/motion/MotionFilter.h"

#include <new>

#include "platform/time/Time.h"

CUnknown* CMotionFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CMotionFilter(outer, phr);
  if (filter == nullptr && phr != nullptr) {
    *phr = E_OUTOFMEMORY;
  }
  return filter;
}

CMotionFilter::CMotionFilter(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(L"ZelMotion Filter", outer, CLSID_ZelMotion, phr, /*modifiesData=*/false) {
  m_area.fill(0xFF);
}

HRESULT CMotionFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IMotionDetect) {
    return GetInterface(static_cast<IMotionDetect*>(this), ppv);
  }
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMotionFilter::GetParams(MotionParams* params) {
  if (params == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(&m_paramLock);
  const auto& s = m_detector.Settings();
  params->holdPeriodMs = m_notifier.HoldMs();
  params->rearmPeriodMs = m_notifier.RearmMs();
  params->notifyWindow = m_notifyWindow;
  params->reserved = s.reserved;
  params->width = s.width;
  params->height = s.height;
  params->topMargin = s.topMargin;
  params->bottomMargin = s.bottomMargin;
  params->bytesPerPixel = s.bytesPerPixel;
  params->blockSize = s.blockSize;
  params->threshold = s.threshold;
  params->areaBitmap = m_area.data();
  return S_OK;
}

HRESULT CMotionFilter::SetParams(const MotionParams* params) {
  if (params == nullptr) {
    return E_POINTER;
  }
  CAutoLock lock(&m_paramLock);
  halvard::motion::DetectorSettings s;
  s.reserved = params->reserved;
  s.width = params->width;
  s.height = params->height;
  s.topMargin = params->topMargin;
  s.bottomMargin = params->bottomMargin;
  s.bytesPerPixel = params->bytesPerPixel;
  s.blockSize = params->blockSize;
  s.threshold = params->threshold;
  const HRESULT hr = m_detector.Configure(s);
  if (hr == E_INVALIDARG) {
    return hr;  // nothing changed
  }
  m_notifier.SetPeriods(params->holdPeriodMs, params->rearmPeriodMs);
  m_notifyWindow = params->notifyWindow;
  m_faults.Reset();  // a new configuration reports its own mismatch
  return hr;
}

HRESULT CMotionFilter::CheckInputType(const CMediaType* mtIn) {
  if (mtIn == nullptr) {
    return E_POINTER;
  }
  if (*mtIn->Type() != MEDIATYPE_Video) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  const BITMAPINFOHEADER* header = GetBitmapInfoHeader(*mtIn);
  if (header == nullptr) {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  if ((*mtIn->Subtype() == MEDIASUBTYPE_RGB24 && header->biBitCount == 24) ||
      (*mtIn->Subtype() == MEDIASUBTYPE_YUY2 && header->biBitCount == 16)) {
    return S_OK;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMotionFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  if (direction == PINDIR_INPUT) {
    CAutoLock lock(&m_paramLock);
    m_format = halvard::filters::VideoFormatOf(*pmt);
    m_faults.Reset();
  }
  return S_OK;
}

HRESULT CMotionFilter::BreakConnect(PIN_DIRECTION direction) {
  if (direction == PINDIR_INPUT) {
    CAutoLock lock(&m_paramLock);
    m_format = {};
    m_faults.Reset();
  }
  return S_OK;
}

bool CMotionFilter::GeometryMatchesConnection() const {
  const auto& s = m_detector.Settings();
  return m_format.Valid() && m_format.width == s.width && m_format.height == s.height &&
         m_format.bytesPerPixel == s.bytesPerPixel;
}

void CMotionFilter::Report(FrameFault fault) {
  if (m_faults.First(fault)) {
    (void)NotifyEvent(kEventFrameFault, fault, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  }
}

HRESULT CMotionFilter::Transform(IMediaSample* sample) {
  const DWORD now = timeGetTime();
  LONG fault = 0;
  {
    CAutoLock lock(&m_paramLock);
    if (!m_notifier.BeginSample(now)) {
      return S_OK;  // holding: no pixel is read
    }
    bool motion = false;
    BYTE* buffer = nullptr;
    // The parameters are trusted only as far as the connection and the sample confirm
    // them, so that analysis never reads past the sample.
    if (sample != nullptr && SUCCEEDED(sample->GetPointer(&buffer)) && buffer != nullptr) {
      const LONG length = sample->GetActualDataLength();
      const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
      if (!GeometryMatchesConnection()) {
        fault = kFrameFaultMotionGeometry;
      } else if (size < m_detector.FrameBytes()) {
        fault = kFrameFaultBufferTooSmall;
      } else {
        motion = m_detector.Analyse(buffer, size, m_area.data());
      }
    }
    if (m_notifier.EndSample(now, motion) && m_notifyWindow != 0) {
      PostMessage(m_notifyWindow, WM_COMMAND, ID_MOTION_DETECTED, 0);
    }
  }
  // Posted outside the parameter lock: the graph's event queue has locks of its own.
  if (fault != 0) {
    Report(static_cast<FrameFault>(fault));
  }
  return S_OK;
}

halvard::motion::NotifyState CMotionFilter::NotifyState() {
  CAutoLock lock(&m_paramLock);
  return m_notifier.State();
}
