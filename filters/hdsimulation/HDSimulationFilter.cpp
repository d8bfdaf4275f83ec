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
  if (*mtIn->FormatType() != FORMAT_VideoInfo || *mtIn->Subtype() != MEDIASUBTYPE_YUY2 ||
      !Picture(*mtIn, &width, &height)) {
    return kTypeRefused;
  }
  m_inWidth = width;
  m_inHeight = height;
  m_bytesPerPixel = GetBitmapInfoHeader(*mtIn)->biBitCount / 8;
  return S_OK;
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
  const LONG bytesPerPixel = std::max<LONG>(m_bytesPerPixel, 1);
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
  LONG inWidth = 0;
  LONG inHeight = 0;
  LONG outWidth = 0;
  LONG outHeight = 0;
  if (!Picture(m_pInput->CurrentMediaType(), &inWidth, &inHeight) ||
      !Picture(m_pOutput->CurrentMediaType(), &outWidth, &outHeight)) {
    return S_FALSE;
  }
  BYTE* source = nullptr;
  BYTE* target = nullptr;
  if (FAILED(in->GetPointer(&source)) || FAILED(out->GetPointer(&target)) || source == nullptr || target == nullptr) {
    return S_FALSE;
  }
  const LONG inSize = in->GetSize();
  const LONG outSize = out->GetSize();
  const LONG outLength = std::min<LONG>(static_cast<LONG>(m_pOutput->CurrentMediaType().GetSampleSize()), outSize);

  if (inWidth == outWidth && inHeight == outHeight) {
    // The whole input buffer, as far as the output buffer holds it.
    std::memcpy(target, source, static_cast<std::size_t>(std::max<LONG>(std::min(inSize, outSize), 0)));
    out->SetActualDataLength(outLength);
    return S_OK;
  }
  const long long inNeeded = 2LL * inWidth * inHeight;
  const long long outNeeded = 2LL * outWidth * outHeight;
  if (inSize < inNeeded || outSize < outNeeded) {
    return S_FALSE;  // a buffer that does not hold its picture: drop rather than overrun
  }
  if (!m_scaler.Scale(source, inWidth, inHeight, target, outWidth, outHeight)) {
    return S_FALSE;
  }
  target[0] = source[0];  // the camera channel for the splitter
  out->SetActualDataLength(outLength);
  return S_OK;
}
