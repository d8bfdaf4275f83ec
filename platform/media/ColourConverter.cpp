// The colour converter (CLSID_Colour): "XForm In" / "XForm Out", YUY2, RGB24 and RGB32
// in any direction at the same picture size. The output offers RGB32, RGB24 and YUY2
// (RGB bottom-up, as DIBs are).

#include "platform/media/ColourConverter.h"

#include "platform/media/ColourConversion.h"
#include "platform/media/CreateObject.h"
#include "platform/media/Transform.h"

namespace halvard::media {
namespace {

const GUID* const kOutputSubtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2};

bool IsConvertibleVideo(const CMediaType& mt) {
  if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo) {
    return false;
  }
  const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
  return bmi != nullptr && IsConvertibleSubtype(mt.subtype) && bmi->biBitCount == BitCountOf(mt.subtype) &&
         bmi->biWidth > 0 && bmi->biHeight != 0 && bmi->biWidth <= 16384 && bmi->biHeight <= 16384 &&
         bmi->biHeight >= -16384;
}

LONG AbsHeight(const BITMAPINFOHEADER& bmi) { return bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight; }

class CColourConverter final : public CTransformFilter {
 public:
  CColourConverter() : CTransformFilter(L"Colour converter", nullptr, CLSID_Colour) {}

  HRESULT CheckInputType(const CMediaType* mtIn) override {
    return IsConvertibleVideo(*mtIn) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override {
    if (!IsConvertibleVideo(*mtIn) || !IsConvertibleVideo(*mtOut)) {
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const BITMAPINFOHEADER* in = GetBitmapInfoHeader(*mtIn);
    const BITMAPINFOHEADER* out = GetBitmapInfoHeader(*mtOut);
    return in->biWidth == out->biWidth && AbsHeight(*in) == AbsHeight(*out) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (m_pInput == nullptr || !m_pInput->IsConnected()) {
      return E_UNEXPECTED;
    }
    if (position < 0) {
      return E_INVALIDARG;
    }
    if (position >= static_cast<int>(std::size(kOutputSubtypes))) {
      return VFW_S_NO_MORE_ITEMS;
    }
    const CMediaType& input = m_pInput->CurrentMediaType();
    const VIDEOINFOHEADER* vih = GetVideoInfoHeader(input);
    *pmt = MakeVideoType(*kOutputSubtypes[position], vih->bmiHeader.biWidth, AbsHeight(vih->bmiHeader),
                         vih->AvgTimePerFrame);
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
    const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(m_pOutput->CurrentMediaType());
    if (bmi == nullptr) {
      return E_UNEXPECTED;
    }
    ALLOCATOR_PROPERTIES wanted = *request;
    wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 2);
    wanted.cbBuffer = std::max<LONG>(wanted.cbBuffer, static_cast<LONG>(DIBSIZE(*bmi)));
    wanted.cbAlign = std::max<LONG>(wanted.cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(&wanted, &actual);
    if (FAILED(hr)) {
      return hr;
    }
    return actual.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    (void)in->GetPointer(&src);
    (void)out->GetPointer(&dst);
    ConstPictureRef from{};
    ConstPictureRef to{};
    if (!DescribePicture(m_pInput->CurrentMediaType(), src, in->GetActualDataLength(), &from) ||
        !DescribePicture(m_pOutput->CurrentMediaType(), dst, out->GetSize(), &to)) {
      return S_FALSE;  // a short sample: dropped rather than read past its end
    }
    const PictureRef target{dst, to.stride, to.width, to.height, to.subtype, to.bottomUp};
    if (!ConvertPicture(from, target)) {
      return S_FALSE;
    }
    (void)out->SetActualDataLength(to.stride * to.height);
    return S_OK;
  }
};

}  // namespace

HRESULT CreateColourConverter(REFIID riid, void** ppv) { return CreateObject<CColourConverter>(riid, ppv); }

}  // namespace halvard::media
