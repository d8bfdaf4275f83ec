#pragma once
/// Media-type structures and identifiers shared by the Windows Media stand-in: the
/// media-type record, the wave-format and video-info format blocks, and the GUIDs of
/// the major types, subtypes and format types the writer and the profiles use.
/// Layouts are the Windows layouts of WAVEFORMATEX (packed to 18 bytes), BITMAPINFOHEADER
/// and VIDEOINFOHEADER (88 bytes), so format blocks pass byte for byte to and from the
/// media pipeline's types of the same layout.

#include <cstdint>

#include "platform/base/WinTypes.h"
#include "platform/com/Com.h"

#pragma pack(push, 1)
/// Wave-format header; cbSize extra bytes follow it in a format block.
struct WMWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WMWAVEFORMATEX) == 18);

/// A media type as the Windows Media interfaces hand it out: the structure is followed
/// by its format block in the caller's buffer (GetMediaType with a size query).
struct WM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct WMRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct WMBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(WMBITMAPINFOHEADER) == 40);

struct WMVIDEOINFOHEADER {
  WMRECT rcSource;
  WMRECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  WMBITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(WMVIDEOINFOHEADER) == 88);

/// FourCC as the bitmap header's compression field stores it.
constexpr DWORD MakeFourCc(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

/// Subtype GUID of a FourCC or format tag: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID SubtypeFromFourCc(DWORD fourCc) {
  return GUID{fourCc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline constexpr WORD kWaveFormatWmAudio2 = 0x161;
inline constexpr WORD kWaveFormatPcm = 0x1;
inline constexpr DWORD kFourCcWmv1 = MakeFourCc('W', 'M', 'V', '1');
inline constexpr DWORD kFourCcYuy2 = MakeFourCc('Y', 'U', 'Y', '2');
inline constexpr DWORD kFourCcI420 = MakeFourCc('I', '4', '2', '0');
inline constexpr DWORD kBiRgb = 0;

HALVARD_DEFINE_GUID(WMMEDIATYPE_Video, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
HALVARD_DEFINE_GUID(WMMEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
HALVARD_DEFINE_GUID(WMFORMAT_VideoInfo, 0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
HALVARD_DEFINE_GUID(WMFORMAT_WaveFormatEx, 0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
inline constexpr GUID WMMEDIASUBTYPE_WMV1 = SubtypeFromFourCc(kFourCcWmv1);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV8 = SubtypeFromFourCc(kWaveFormatWmAudio2);
inline constexpr GUID WMMEDIASUBTYPE_PCM = SubtypeFromFourCc(kWaveFormatPcm);
inline constexpr GUID WMMEDIASUBTYPE_YUY2 = SubtypeFromFourCc(kFourCcYuy2);
inline constexpr GUID WMMEDIASUBTYPE_I420 = SubtypeFromFourCc(kFourCcI420);
HALVARD_DEFINE_GUID(WMMEDIASUBTYPE_RGB24, 0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
