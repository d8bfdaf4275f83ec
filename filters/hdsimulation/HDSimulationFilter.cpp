#include "filters/hdsimulation/HDSimulationFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/media/MediaType.h"

namespace {

constexpr HRESULT kTypeRefused = VFW_E_INVALID_MEDIA_TYPE;  // 0x80040248
constexpr LONG kMaxSide = 16384;
constexpr DWORD kFourccYuy2 = 0x32595559;  // "YUY2"

bool Picture(const AM_MEDIA_TYPE& mt, LONG* width, LONG* height) {
  const BITMAPINFOHEADER* header = GetBitmapInfoHeader(mt);
  if (header == nullptr || header->biWidth < 1 || header->biWidth > kMaxSide || header->biHeight == 0 ||
      std::abs(header->biHeight) > kMaxSide) {
    return false;
  }
  *width = header->biWidth;
  *height = std::abs(header->biHeight);
  return true;
}

}  // namespace

CUnknown* CHDSimulationFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CHDSimulationFilter(outer, phr);
  if (filter == nullptr && phr != nullptr) {
    *phr = E_OUTOFMEMORY;
  }
  return filter;
}

CHDSimulationFilter::CHDSimulationFilter(LPUNKNOWN outer, HRESULT* /*phr*/)
    : CTransformFilter(L"ZelHDSimulation", outer, CLSID_ZelHDSimulation) {}

HRESULT CHDSimulationFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  if (riid == IID_IHDSimulation) {
    return GetInterface(static_cast<IHDSimulation*>(this), ppv);
  }
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CHDSimulationFilter::SetOutputSize(LONG width, LONG height) {
  CAutoLock lock(&m_sizeLock);
  m_outWidth = width;
  m_outHeight = height;
  return S_OK;
}

HRESULT CHDSimulationFilter::CheckInputType(const CMediaType* mtIn) {
  if (mtIn == nullptr) {
    return E_POINTER;
  }
  LONG width = 0;
  LONG height = 0;
  // The transform works on two bytes per pixel: a YUY2 type claiming another bit count
  // is refused rather than trusted.
  if (*mtIn->FormatType() != FORMAT_VideoInfo || *mtIn->Subtype() != MEDIASUBTYPE_YUY2 ||
      !Picture(*mtIn, &width, &height) || GetBitmapInfoHeader(*mtIn)->biBitCount != 16) {
    return kTypeRefused;
  }
  return S_OK;
}

HRESULT CHDSimulationFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  LONG width = 0;
  LONG height = 0;
  // Both pins carry YUY2 (the checks saw to it): rows of two bytes per pixel, top-down.
  halvard::filters::VideoFormat format;
  if (Picture(*pmt, &width, &height)) {
    format.width = width;
    format.height = height;
    format.bytesPerPixel = 2;
    format.stride = static_cast<std::ptrdiff_t>(width) * 2;
  }
  if (direction == PINDIR_INPUT) {
    m_inFormat = format;
    m_faults.Reset();
  } else {
    m_outFormat = format;
    m_outSampleSize = static_cast<LONG>(pmt->GetSampleSize());
  }
  return S_OK;
}

HRESULT CHDSimulationFilter::BreakConnect(PIN_DIRECTION direction) {
  if (direction == PINDIR_INPUT) {
    m_inFormat = {};
    m_faults.Reset();
  } else {
    m_outFormat = {};
    m_outSampleSize = 0;
  }
  return S_OK;
}

HRESULT CHDSimulationFilter::Drop(FrameFault fault) {
  if (m_faults.First(fault)) {
    (void)NotifyEvent(kEventFrameFault, fault, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  }
  return S_FALSE;
}

HRESULT CHDSimulationFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (mtIn == nullptr || mtOut == nullptr) {
    return E_POINTER;
  }
  LONG width = 0;
  LONG height = 0;
  if (*mtIn->Subtype() != MEDIASUBTYPE_YUY2 || *mtOut->Subtype() != MEDIASUBTYPE_YUY2 ||
      !Picture(*mtOut, &width, &height)) {
    return kTypeRefused;
  }
  return S_OK;
}

HRESULT CHDSimulationFilter::GetMediaType(int position, CMediaType* pmt) {
  if (pmt == nullptr) {
    return E_POINTER;
  }
  if (!m_pInput->IsConnected()) {
    return E_UNEXPECTED;
  }
  if (position < 0) {
    return E_INVALIDARG;
  }
  if (position > 0) {
    return VFW_S_NO_MORE_ITEMS;
  }
  LONG width = 0;
  LONG height = 0;
  {
    CAutoLock lock(&m_sizeLock);
    width = m_outWidth;
    height = m_outHeight;
  }
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    return VFW_S_NO_MORE_ITEMS;
  }
  const CMediaType& input = m_pInput->CurrentMediaType();
  const VIDEOINFOHEADER* inputInfo = GetVideoInfoHeader(input);
  const LONG bytesPerPixel = 2;  // YUY2 in, YUY2 out
  const auto sampleSize = static_cast<ULONG>(height) * static_cast<ULONG>(bytesPerPixel) *
                          ((static_cast<ULONG>(width) + 3u) & ~3u);

  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Video);
  pmt->SetSubtype(input.Subtype());
  pmt->SetFormatType(&FORMAT_VideoInfo);
  pmt->SetSampleSize(sampleSize);
  pmt->SetTemporalCompression(FALSE);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(pmt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (info == nullptr) {
    return E_OUTOFMEMORY;
  }
  info->AvgTimePerFrame = inputInfo != nullptr ? inputInfo->AvgTimePerFrame : 0;
  if (info->AvgTimePerFrame > 0) {
    const unsigned long long bitRate =
        static_cast<unsigned long long>(sampleSize) * 8ULL * 10000000ULL / static_cast<unsigned long long>(info->AvgTimePerFrame);
    info->dwBitRate = static_cast<DWORD>(std::min<unsigned long long>(bitRate, std::numeric_limits<DWORD>::max()));
  }
  info->bmiHeader.biSize = 40;
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = static_cast<WORD>(bytesPerPixel * 8);
  info->bmiHeader.biCompression = kFourccYuy2;
  info->bmiHeader.biSizeImage = sampleSize;
  return S_OK;
}

HRESULT CHDSimulationFilter::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
  if (alloc == nullptr || request == nullptr) {
    return E_POINTER;
  }
  if (!m_pInput->IsConnected()) {
    return E_UNEXPECTED;
  }
  const auto size = static_cast<LONG>(m_pOutput->CurrentMediaType().GetSampleSize());
  request->cBuffers = 1;
  request->cbBuffer = size;
  if (request->cbAlign <= 0) {
    request->cbAlign = 1;
  }
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) {
    return hr;
  }
  if (actual.cBuffers < 1 || actual.cbBuffer < size) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CHDSimulationFilter::Transform(IMediaSample* in, IMediaSample* out) {
  // The output type's size is checked when it connects; the input's when it connects.
  if (!m_inFormat.Valid() || !m_outFormat.Valid()) {
    return Drop(kFrameFaultNoPicture);
  }
  const LONG inWidth = m_inFormat.width;
  const LONG inHeight = m_inFormat.height;
  const LONG outWidth = m_outFormat.width;
  const LONG outHeight = m_outFormat.height;
  BYTE* source = nullptr;
  BYTE* target = nullptr;
  if (FAILED(in->GetPointer(&source)) || FAILED(out->GetPointer(&target)) || source == nullptr || target == nullptr) {
    return Drop(kFrameFaultNoPicture);
  }
  const LONG inSize = in->GetSize();
  const LONG outSize = out->GetSize();
  const LONG outLength = std::min<LONG>(m_outSampleSize, outSize);

  if (inWidth == outWidth && inHeight == outHeight) {
    // The whole input buffer, as far as the output buffer holds it.
    std::memcpy(target, source, static_cast<std::size_t>(std::max<LONG>(std::min(inSize, outSize), 0)));
    out->SetActualDataLength(outLength);
    return S_OK;
  }
  if (inSize < m_inFormat.FrameBytes() || outSize < m_outFormat.FrameBytes()) {
    return Drop(kFrameFaultBufferTooSmall);  // a buffer that does not hold its picture: drop rather than overrun
  }
  if (!m_scaler.Scale(source, inWidth, inHeight, target, outWidth, outHeight)) {
    return Drop(kFrameFaultScaleFailed);
  }
  target[0] = source[0];  // the camera channel for the splitter
  out->SetActualDataLength(outLength);
  return S_OK;
}
