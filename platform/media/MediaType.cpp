#include "platform/media/MediaType.h"

#include <cstdio>
#include <cstring>

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat != nullptr) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk != nullptr) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt != nullptr) {
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
  }
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (target == nullptr || source == nullptr) {
    return E_POINTER;
  }
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat != nullptr) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
      target->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk != nullptr) {
    target->pUnk->AddRef();
  }
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (pmt == nullptr) {
    return nullptr;
  }
  if (FAILED(CopyMediaType(pmt, source))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

const VIDEOINFOHEADER* GetVideoInfoHeader(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || mt.pbFormat == nullptr || mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return nullptr;
  }
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& mt) {
  const VIDEOINFOHEADER* vih = GetVideoInfoHeader(mt);
  return vih == nullptr ? nullptr : &vih->bmiHeader;
}

// ---- CMediaType -------------------------------------------------------------------------

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType) : AM_MEDIA_TYPE{} {
  InitMediaType();
  majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} {
  InitMediaType();
  (void)Set(other);
}

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE{} {
  InitMediaType();
  (void)Set(other);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  (void)Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  (void)Set(other);
  return *this;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

bool CMediaType::operator==(const CMediaType& other) const {
  return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
         cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& other) { return Set(static_cast<const AM_MEDIA_TYPE&>(other)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == static_cast<const AM_MEDIA_TYPE*>(this)) {
    return S_OK;
  }
  FreeMediaType(*this);
  return CopyMediaType(this, &other);
}

bool CMediaType::IsValid() const { return majortype != GUID_NULL; }

ULONG CMediaType::GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    bFixedSizeSamples = FALSE;
  } else {
    lSampleSize = size;
    bFixedSizeSamples = TRUE;
  }
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return true;
  }
  BYTE* block = AllocFormatBuffer(length);
  if (block == nullptr) {
    return false;
  }
  std::memcpy(block, format, length);
  return true;
}

void CMediaType::ResetFormatBuffer() {
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == 0) {
    return nullptr;
  }
  if (cbFormat == length && pbFormat != nullptr) {
    std::memset(pbFormat, 0, length);
    return pbFormat;
  }
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) {
    return nullptr;
  }
  std::memset(block, 0, length);
  ResetFormatBuffer();
  pbFormat = block;
  cbFormat = length;
  return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == 0) {
    return nullptr;
  }
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) {
    return nullptr;
  }
  std::memset(block, 0, length);
  if (pbFormat != nullptr) {
    std::memcpy(block, pbFormat, std::min(length, cbFormat));
  }
  ResetFormatBuffer();
  pbFormat = block;
  cbFormat = length;
  return block;
}

void CMediaType::InitMediaType() {
  FreeMediaType(*this);
  majortype = GUID_NULL;
  subtype = GUID_NULL;
  formattype = GUID_NULL;
  bFixedSizeSamples = TRUE;
  bTemporalCompression = FALSE;
  lSampleSize = 1;
  pUnk = nullptr;
}

bool CMediaType::IsPartiallySpecified() const {
  return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType* partial) const {
  if (partial->majortype != GUID_NULL && majortype != partial->majortype) {
    return false;
  }
  if (partial->subtype != GUID_NULL && subtype != partial->subtype) {
    return false;
  }
  if (partial->formattype != GUID_NULL) {
    if (formattype != partial->formattype || cbFormat != partial->cbFormat) {
      return false;
    }
    if (cbFormat != 0 && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) {
      return false;
    }
  }
  return true;
}

namespace halvard::media {

WORD BitCountOf(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_UYVY || subtype == MEDIASUBTYPE_RGB565 ||
      subtype == MEDIASUBTYPE_RGB555) {
    return 16;
  }
  if (subtype == MEDIASUBTYPE_RGB24) {
    return 24;
  }
  if (subtype == MEDIASUBTYPE_RGB32) {
    return 32;
  }
  if (subtype == MEDIASUBTYPE_RGB8) {
    return 8;
  }
  return 0;
}

CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  mt.SetTemporalCompression(FALSE);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (vih == nullptr) {
    return mt;
  }
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biSize = sizeof(BITMAPINFOHEADER);
  bmi.biWidth = width;
  bmi.biHeight = height;
  bmi.biPlanes = 1;
  bmi.biBitCount = BitCountOf(subtype);
  bmi.biCompression = subtype == MEDIASUBTYPE_YUY2 ? MAKEFOURCC('Y', 'U', 'Y', '2') : BI_RGB;
  bmi.biSizeImage = DIBSIZE(bmi);
  vih->AvgTimePerFrame = avgTimePerFrame;
  if (avgTimePerFrame > 0) {
    vih->dwBitRate = static_cast<DWORD>(static_cast<double>(bmi.biSizeImage) * 8.0 *
                                        (static_cast<double>(UNITS) / static_cast<double>(avgTimePerFrame)));
  }
  vih->rcSource = RECT{0, 0, 0, 0};  // whole picture
  vih->rcTarget = RECT{0, 0, 0, 0};
  mt.SetSampleSize(bmi.biSizeImage);
  return mt;
}

std::string GuidName(const GUID& guid) {
  struct Known {
    const GUID* guid;
    const char* name;
  };
  static const Known kKnown[] = {
      {&GUID_NULL, "GUID_NULL"},
      {&MEDIATYPE_Video, "MEDIATYPE_Video"},
      {&MEDIATYPE_Audio, "MEDIATYPE_Audio"},
      {&MEDIATYPE_Stream, "MEDIATYPE_Stream"},
      {&MEDIATYPE_Interleaved, "MEDIATYPE_Interleaved"},
      {&MEDIASUBTYPE_YUY2, "MEDIASUBTYPE_YUY2"},
      {&MEDIASUBTYPE_UYVY, "MEDIASUBTYPE_UYVY"},
      {&MEDIASUBTYPE_I420, "MEDIASUBTYPE_I420"},
      {&MEDIASUBTYPE_RGB8, "MEDIASUBTYPE_RGB8"},
      {&MEDIASUBTYPE_RGB555, "MEDIASUBTYPE_RGB555"},
      {&MEDIASUBTYPE_RGB565, "MEDIASUBTYPE_RGB565"},
      {&MEDIASUBTYPE_RGB24, "MEDIASUBTYPE_RGB24"},
      {&MEDIASUBTYPE_RGB32, "MEDIASUBTYPE_RGB32"},
      {&MEDIASUBTYPE_PCM, "MEDIASUBTYPE_PCM"},
      {&FORMAT_None, "FORMAT_None"},
      {&FORMAT_VideoInfo, "FORMAT_VideoInfo"},
      {&FORMAT_VideoInfo2, "FORMAT_VideoInfo2"},
      {&FORMAT_WaveFormatEx, "FORMAT_WaveFormatEx"},
      {&PIN_CATEGORY_CAPTURE, "PIN_CATEGORY_CAPTURE"},
      {&PIN_CATEGORY_PREVIEW, "PIN_CATEGORY_PREVIEW"},
  };
  for (const Known& k : kKnown) {
    if (*k.guid == guid) {
      return k.name;
    }
  }
  return halvard::com::FormatGuid(guid);
}

std::string DescribeMediaType(const AM_MEDIA_TYPE& mt) {
  std::string text = GuidName(mt.majortype) + " " + GuidName(mt.subtype);
  if (const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(mt)) {
    char size[64];
    std::snprintf(size, sizeof(size), " %dx%d %u-bit", static_cast<int>(bmi->biWidth), static_cast<int>(bmi->biHeight),
                  static_cast<unsigned>(bmi->biBitCount));
    text += size;
  } else if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof(wfx));
    char format[64];
    std::snprintf(format, sizeof(format), " %u Hz %u ch %u-bit", static_cast<unsigned>(wfx.nSamplesPerSec),
                  static_cast<unsigned>(wfx.nChannels), static_cast<unsigned>(wfx.wBitsPerSample));
    text += format;
  }
  return text;
}

}  // namespace halvard::media
