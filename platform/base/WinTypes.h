#pragma once
/// Basic Windows-shaped types used by every platform stand-in and everything above.
/// Sizes are the Windows sizes (LONG and DWORD are 32-bit even on 64-bit Linux).

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using QWORD = std::uint64_t;
using HRESULT = std::int32_t;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using LRESULT = std::intptr_t;
/// Time in 100-nanosecond units.
using REFERENCE_TIME = std::int64_t;

// Geometry, shared by the media pipeline (pictures, windows) and text drawing.
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Calling-convention markers of the Windows declarations; empty here.
#define STDMETHODCALLTYPE
#define WINAPI
