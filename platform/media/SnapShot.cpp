#include "platform/media/SnapShot.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/media/ColourConversion.h"
#include "platform/media/CreateObject.h"
#include "platform/media/TransInPlace.h"

namespace halvard::media {
namespace {

bool IsSnapshotType(const CMediaType& mt) {
  if (mt.majortype != MEDIATYPE_Video) {
    return false;
  }
  const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt);
  return bmi != nullptr && IsConvertibleSubtype(mt.subtype) && bmi->biBitCount == BitCountOf(mt.subtype) &&
         bmi->biWidth > 0 && bmi->biHeight != 0 && bmi->biWidth <= 16384 && bmi->biHeight <= 16384 &&
         bmi->biHeight >= -16384;
}

class CSnapShotFilter final : public CTransInPlaceFilter, public ISnapShot {
 public:
  CSnapShotFilter(HRESULT* phr)
      : CTransInPlaceFilter(L"ZelSnapShot", nullptr, CLSID_ZelSnapShot, phr, /*modifiesData=*/false) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    if (riid == IID_ISnapShot) {
      return GetInterface(static_cast<ISnapShot*>(this), ppv);
    }
    return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckInputType(const CMediaType* mtIn) override {
    return IsSnapshotType(*mtIn) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT Transform(IMediaSample* sample) override {
    BYTE* data = nullptr;
    (void)sample->GetPointer(&data);
    ConstPictureRef picture{};
    if (!DescribePicture(m_pInput->CurrentMediaType(), data, sample->GetActualDataLength(), &picture)) {
      return S_OK;  // passed on untouched, just not kept
    }
    std::lock_guard lock(m_pictureLock);
    m_picture.assign(data, data + static_cast<std::size_t>(picture.stride) * static_cast<std::size_t>(picture.height));
    m_pictureType = m_pInput->CurrentMediaType();
    m_hasPicture = true;
    return S_OK;
  }

  HRESULT BreakConnect(PIN_DIRECTION dir) override {
    if (dir == PINDIR_INPUT) {
      std::lock_guard lock(m_pictureLock);
      m_hasPicture = false;
      m_picture.clear();
    }
    return S_OK;
  }

  HRESULT GetCurrentImage(LONG* size, BYTE* dib) override {
    if (size == nullptr) {
      return E_POINTER;
    }
    if (m_pInput == nullptr || !m_pInput->IsConnected()) {
      return VFW_E_NOT_CONNECTED;
    }
    std::lock_guard lock(m_pictureLock);
    if (!m_hasPicture) {
      return VFW_E_WRONG_STATE;
    }
    ConstPictureRef in{};
    if (!DescribePicture(m_pictureType, m_picture.data(), static_cast<LONG>(m_picture.size()), &in)) {
      return VFW_E_WRONG_STATE;
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = in.width;
    header.biHeight = in.height;  // positive: bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = DIBSIZE(header);
    const LONG needed = static_cast<LONG>(sizeof(header) + header.biSizeImage);
    if (dib == nullptr) {
      *size = needed;
      return S_OK;
    }
    if (*size < needed) {
      *size = needed;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dib, &header, sizeof(header));
    BYTE* pixels = dib + sizeof(header);
    std::memset(pixels, 0, header.biSizeImage);
    const PictureRef out{pixels, WIDTHBYTES(in.width * 24), in.width, in.height, MEDIASUBTYPE_RGB24, true};
    if (!ConvertPicture(in, out)) {
      return E_FAIL;
    }
    *size = needed;
    return S_OK;
  }

 private:
  std::mutex m_pictureLock;
  std::vector<BYTE> m_picture;
  CMediaType m_pictureType;
  bool m_hasPicture = false;
};

}  // namespace

HRESULT CreateSnapShotFilter(REFIID riid, void** ppv) {
  HRESULT constructed = S_OK;  // the base filter never reports through it
  return CreateObject<CSnapShotFilter>(riid, ppv, &constructed);
}

}  // namespace halvard::media
