#pragma once
/// A built-in test source (CLSID_HalvardTestSource) for tests, tools and benchmarks: one
/// output pin "Capture" (PIN_CATEGORY_CAPTURE) that produces a moving grey ramp whose
/// first byte is the frame number (modulo 256), as YUY2 (default, 320 x 240), RGB24 or
/// RGB32 at any size set through the pin's IAMStreamConfig. Frames carry time stamps at
/// the frame rate of the format (25 per second by default) unless told otherwise.

#include "platform/media/Interfaces.h"

/// Extra controls of the test source.
struct IHalvardTestSource : IUnknown {
  /// Ends the stream (end of stream downstream) after count frames; 0 = never (default).
  virtual HRESULT SetFrameLimit(LONG count) = 0;
  /// TRUE (default): frames carry time stamps; FALSE: none (renderers show them at once).
  virtual HRESULT SetTimestamps(BOOL stamped) = 0;
  /// Frames delivered downstream since the last start.
  virtual HRESULT GetFramesDelivered(LONG* count) = 0;

 protected:
  ~IHalvardTestSource() = default;
};
HALVARD_DEFINE_GUID(IID_IHalvardTestSource, 0x4C0E5C1A, 0x6F2B, 0x4B8E, 0x9A, 0x51, 0x2D, 0x7E, 0x13, 0x64, 0xA0, 0x04);
HALVARD_IID_OF(IHalvardTestSource);

namespace halvard::media {
HRESULT CreateTestSource(REFIID riid, void** ppv);
}  // namespace halvard::media
