#pragma once
/// The motion filter component "ZelMotion": its class identifier, custom interface and
/// parameter block, and the command it posts. This is what the server includes.

#include "filters/FilterEvents.h"
#include "platform/com/Com.h"
#include "platform/window/Window.h"

/// {8A1650A2-3AA9-477A-A21F-7905BF404311}
HALVARD_DEFINE_GUID(CLSID_ZelMotion, 0x8A1650A2, 0x3AA9, 0x477A, 0xA2, 0x1F, 0x79, 0x05, 0xBF, 0x40, 0x43, 0x11);
/// {1D82D78A-8CB1-4E84-B1E1-3AE17CA61066}
HALVARD_DEFINE_GUID(IID_IMotionDetect, 0x1D82D78A, 0x8CB1, 0x4E84, 0xB1, 0xE1, 0x3A, 0xE1, 0x7C, 0xA6, 0x10, 0x66);

/// Command identifier of the motion message (WM_COMMAND, lParam 0).
constexpr WPARAM ID_MOTION_DETECTED = 324;

/// The parameter block: twelve fields in this order. The window handle is 32-bit; the
/// area bitmap's address is pointer-sized.
struct MotionParams {
  DWORD holdPeriodMs;     ///< 0: analysis pauses this long after a detection
  DWORD rearmPeriodMs;    ///< 1: quiet needed after the hold before a new message
  HWND notifyWindow;      ///< 2: receives the motion message; 0 = nobody
  DWORD reserved;         ///< 3: stored and returned, not used
  LONG width;             ///< 4: frame width in pixels
  LONG height;            ///< 5: frame height in pixels
  LONG topMargin;         ///< 6: rows excluded at the top of the picture
  LONG bottomMargin;      ///< 7: rows excluded at the bottom
  LONG bytesPerPixel;     ///< 8: 2 = YUY2, 3 = RGB24; other values: no analysis
  LONG blockSize;         ///< 9: edge of a square block in pixels
  LONG threshold;         ///< 10: largest block-brightness change that is no motion
  BYTE* areaBitmap;       ///< 11: out: the filter's 720-byte area bitmap (one bit per block)
};
static_assert(sizeof(HWND) == 4, "window handles stay 32-bit");

/// Custom interface of the motion filter.
struct IMotionDetect : IUnknown {
  /// Fills fields 0 to 10 with the current values and field 11 with the address of the
  /// filter's area bitmap (the same address for the filter's lifetime; the caller may
  /// write the bitmap through it). S_OK; E_POINTER for a null pointer.
  virtual HRESULT GetParams(MotionParams* params) = 0;
  /// Takes fields 0 to 2 into the notification state and 3 to 10 into the detector,
  /// which restarts its frame pairs; the notification state (idle, holding, watching)
  /// stays. S_OK; E_POINTER; E_INVALIDARG when the geometry cannot be analysed (block
  /// size below 1, negative sizes, margins taller than the picture, or more than 5760
  /// blocks, the capacity of the area bitmap) - nothing is changed then; E_OUTOFMEMORY.
  virtual HRESULT SetParams(const MotionParams* params) = 0;

 protected:
  ~IMotionDetect() = default;
};
template <>
inline constexpr const IID* kIidOf<IMotionDetect> = &IID_IMotionDetect;
