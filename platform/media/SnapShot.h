#pragma once
/// The snapshot filter (CLSID_ZelSnapShot): a pass-through for video that keeps the last
/// picture it passed and hands it out as a 24-bit bottom-up DIB through ISnapShot.
/// Accepts MEDIATYPE_Video with YUY2 (16 bits), RGB24 (24) or RGB32 (32) and a
/// VIDEOINFOHEADER; anything else gives VFW_E_TYPE_NOT_ACCEPTED.

#include "platform/media/Interfaces.h"

struct ISnapShot : IUnknown {
  /// The current picture as a packed DIB: a BITMAPINFOHEADER (biBitCount 24, BI_RGB,
  /// positive height, i.e. rows bottom-up, each row padded to four bytes) followed by the
  /// pixels. With dib null, *size receives the bytes needed.
  /// Results: S_OK; E_POINTER (size null); E_OUTOFMEMORY (*size too small; *size then
  /// holds the bytes needed); VFW_E_NOT_CONNECTED (input unconnected); VFW_E_WRONG_STATE
  /// (no picture has passed since the connection).
  virtual HRESULT GetCurrentImage(LONG* size, BYTE* dib) = 0;

 protected:
  ~ISnapShot() = default;
};

HALVARD_IID_OF(ISnapShot);

namespace halvard::media {
HRESULT CreateSnapShotFilter(REFIID riid, void** ppv);
}  // namespace halvard::media
