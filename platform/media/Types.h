#pragma once
/// Data types of the media pipeline: wide strings, BSTR and VARIANT, bitmap and video
/// headers, media types, pin and filter records, allocator properties, event codes,
/// seeking flags and the analogue video standards. Layouts follow the documented
/// structures field by field.

#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>

#include "platform/com/Com.h"
#include "platform/window/Window.h"

// ---- strings --------------------------------------------------------------------------
// Wide strings are wchar_t (L"..." literals), as in a Unicode build of the original
// design. Text crosses into the rest of the system as UTF-8 (halvard::media::ToUtf8).
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using OLECHAR = wchar_t;
using LPOLESTR = wchar_t*;
using LPCOLESTR = const wchar_t*;
using TCHAR = wchar_t;
using LPCTSTR = const wchar_t*;
/// Length-prefixed wide string owned by the callee's caller: SysAllocString / SysFreeString.
using BSTR = wchar_t*;
#ifndef TEXT
#define TEXT(x) L##x
#endif
/// Debug name of an object (kept for the documented constructor signatures).
#ifndef NAME
#define NAME(x) L##x
#endif

using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using DWORDLONG = std::uint64_t;
/// A window handle as the automation interfaces pass it.
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using OAFilterState = LONG;
/// Seconds as a double (automation time).
using REFTIME = double;
using HEVENT = ULONG_PTR;
using HSEMAPHORE = ULONG_PTR;
using COLORREF = DWORD;

constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
};

/// The automation variant, reduced to the members the pipeline uses.
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    ULONG ulVal;
    LONGLONG llVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BYTE bVal;
    std::int16_t iVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;
  };
};
void VariantInit(VARIANT* v);
/// Frees what the variant owns (a BSTR, a reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);

namespace halvard::media {
[[nodiscard]] std::string ToUtf8(const wchar_t* text);
[[nodiscard]] std::wstring FromUtf8(std::string_view text);
/// CoTaskMemAlloc copy of a wide string (for QueryId, GetCurFile and the like).
[[nodiscard]] HRESULT AllocWideString(const wchar_t* text, LPWSTR* out);
}  // namespace halvard::media

// ---- bitmaps (RECT, POINT and SIZE are in platform/base/WinTypes.h) ---------------------

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  ///< positive: rows stored bottom-up; negative: top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;  ///< BI_RGB or a FOURCC
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType;  ///< "BM"
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD MAKEFOURCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

/// Bytes per row of a DIB: rounded up to four bytes.
constexpr LONG WIDTHBYTES(LONG bits) { return ((bits + 31) & ~31) / 8; }
constexpr DWORD DIBWIDTHBYTES(const BITMAPINFOHEADER& bi) {
  return static_cast<DWORD>(WIDTHBYTES(bi.biWidth * static_cast<LONG>(bi.biBitCount)));
}
/// Image size of a DIB (absolute height).
constexpr DWORD DIBSIZE(const BITMAPINFOHEADER& bi) {
  return DIBWIDTHBYTES(bi) * static_cast<DWORD>(bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
}

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
constexpr WORD WAVE_FORMAT_PCM = 1;

// ---- media types, pins, filters -----------------------------------------------------------

/// A media type. The format block (pbFormat, cbFormat bytes) is task memory
/// (CoTaskMemAlloc); pUnk is unused and null. Use CMediaType to manage one.
struct AM_MEDIA_TYPE {
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

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct IBaseFilter;
struct IFilterGraph;

/// Filled by IPin::QueryPinInfo: pFilter carries a reference the caller releases.
struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

/// Filled by IBaseFilter::QueryFilterInfo: pGraph (may be null) carries a reference.
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

// IMemAllocator::GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;
constexpr DWORD AM_GBF_NODDSURFACELOCK = 8;

/// Filter flags (IAMFilterMiscFlags).
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;

/// A list of GUIDs in task memory (ISpecifyPropertyPages::GetPages).
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

/// File time (100 ns since 1601).
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

// ---- events ------------------------------------------------------------------------------

constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_PALETTE_CHANGED = 0x09;
constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr LONG EC_QUALITY_CHANGE = 0x0B;
constexpr LONG EC_SHUTTING_DOWN = 0x0C;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
constexpr LONG EC_PAUSED = 0x0E;
constexpr LONG EC_OPENING_FILE = 0x10;
constexpr LONG EC_BUFFERING_DATA = 0x11;
constexpr LONG EC_FULLSCREEN_LOST = 0x12;
constexpr LONG EC_ACTIVATE = 0x13;
constexpr LONG EC_NEED_RESTART = 0x14;
constexpr LONG EC_WINDOW_DESTROYED = 0x15;
constexpr LONG EC_DISPLAY_CHANGED = 0x16;
constexpr LONG EC_STARVATION = 0x17;
constexpr LONG EC_DEVICE_LOST = 0x1F;
constexpr LONG EC_STEP_COMPLETE = 0x24;
constexpr LONG EC_USER = 0x8000;

/// IMediaEventEx::SetNotifyFlags: no window notifications.
constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// ---- seeking -----------------------------------------------------------------------------

enum AM_SEEKING_SEEKING_FLAGS : DWORD {
  AM_SEEKING_NoPositioning = 0x0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20,
};

enum AM_SEEKING_SEEKING_CAPABILITIES : DWORD {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};

// ---- window styles (IVideoWindow) ----------------------------------------------------------

constexpr LONG WS_OVERLAPPED = 0x00000000;
constexpr LONG WS_POPUP = static_cast<LONG>(0x80000000u);
constexpr LONG WS_CHILD = 0x40000000;
constexpr LONG WS_VISIBLE = 0x10000000;
constexpr LONG WS_CLIPSIBLINGS = 0x04000000;
constexpr LONG WS_CLIPCHILDREN = 0x02000000;
constexpr LONG WS_CAPTION = 0x00C00000;
constexpr LONG WS_THICKFRAME = 0x00040000;
constexpr LONG WS_OVERLAPPEDWINDOW = 0x00CF0000;

constexpr LONG SW_HIDE = 0;
constexpr LONG SW_SHOWNORMAL = 1;
constexpr LONG SW_SHOWMINIMIZED = 2;
constexpr LONG SW_SHOWMAXIMIZED = 3;
constexpr LONG SW_SHOW = 5;
constexpr LONG SW_MINIMIZE = 6;
constexpr LONG SW_RESTORE = 9;

// ---- analogue video ------------------------------------------------------------------------

enum AnalogVideoStandard : LONG {
  AnalogVideo_None = 0x00000000,
  AnalogVideo_NTSC_M = 0x00000001,
  AnalogVideo_NTSC_M_J = 0x00000002,
  AnalogVideo_NTSC_433 = 0x00000004,
  AnalogVideo_PAL_B = 0x00000010,
  AnalogVideo_PAL_D = 0x00000020,
  AnalogVideo_PAL_G = 0x00000040,
  AnalogVideo_PAL_H = 0x00000080,
  AnalogVideo_PAL_I = 0x00000100,
  AnalogVideo_PAL_M = 0x00000200,
  AnalogVideo_PAL_N = 0x00000400,
  AnalogVideo_PAL_60 = 0x00000800,
  AnalogVideo_SECAM_B = 0x00001000,
  AnalogVideo_SECAM_D = 0x00002000,
  AnalogVideo_SECAM_G = 0x00004000,
  AnalogVideo_SECAM_H = 0x00008000,
  AnalogVideo_SECAM_K = 0x00010000,
  AnalogVideo_SECAM_K1 = 0x00020000,
  AnalogVideo_SECAM_L = 0x00040000,
  AnalogVideo_SECAM_L1 = 0x00080000,
  AnalogVideo_PAL_N_COMBO = 0x00100000,
};
constexpr LONG AnalogVideo_NTSC_Mask = 0x00000007;
constexpr LONG AnalogVideo_PAL_Mask = 0x00100FF0;
constexpr LONG AnalogVideo_SECAM_Mask = 0x000FF000;

/// Capabilities of one format of a video capture pin (IAMStreamConfig::GetStreamCaps).
struct VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;  ///< format type
  ULONG VideoStandard;
  SIZE InputSize;
  SIZE MinCroppingSize;
  SIZE MaxCroppingSize;
  int CropGranularityX;
  int CropGranularityY;
  int CropAlignX;
  int CropAlignY;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  int OutputGranularityX;
  int OutputGranularityY;
  int StretchTapsX;
  int StretchTapsY;
  int ShrinkTapsX;
  int ShrinkTapsY;
  LONGLONG MinFrameInterval;
  LONGLONG MaxFrameInterval;
  LONG MinBitsPerSecond;
  LONG MaxBitsPerSecond;
};

/// Capabilities of one format of an audio capture pin.
struct AUDIO_STREAM_CONFIG_CAPS {
  GUID guid;
  ULONG MinimumChannels;
  ULONG MaximumChannels;
  ULONG ChannelsGranularity;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG BitsPerSampleGranularity;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
  ULONG SampleFrequencyGranularity;
};

/// Pin property set (IKsPropertySet with AMPROPSETID_Pin): the category of a pin.
constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;
constexpr DWORD AMPROPERTY_PIN_MEDIUM = 1;
constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;

/// Time units per second and per millisecond (REFERENCE_TIME is 100 ns).
constexpr REFERENCE_TIME UNITS = 10000000;
constexpr REFERENCE_TIME MILLISECONDS = 10000;

/// ICreateDevEnum::CreateClassEnumerator flags.
constexpr DWORD CDEF_DEVMON_FILTER = 0x4;

/// Thread priorities (COutputQueue).
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;

constexpr DWORD INFINITE = 0xFFFFFFFF;

/// No palette: the video is not palettised.
constexpr HRESULT VFW_E_NO_PALETTE_AVAILABLE = MAKE_HRESULT_CODE(0x8004021A);

/// IKsPropertySet results: unknown property set / property.
constexpr HRESULT E_PROP_SET_UNSUPPORTED = MAKE_HRESULT_CODE(0x80070492);
constexpr HRESULT E_PROP_ID_UNSUPPORTED = MAKE_HRESULT_CODE(0x80070490);
