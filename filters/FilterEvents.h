#pragma once
/// The graph event our video filters post when they cannot process a frame, so that a
/// misconfigured camera is seen instead of failing in silence. Included by each filter's
/// public header, so the server that builds the graphs sees it.

#include <atomic>
#include <cstdint>

#include "platform/com/Com.h"

/// Posted through the filter's graph the first time in a connection that the filter drops
/// or skips a frame of one kind (later frames of that kind are handled the same way, not
/// posted again). param1: the FrameFault; param2: the posting filter's IBaseFilter
/// address, to tell which filter posted (no reference is held).
inline constexpr LONG kEventFrameFault = 0x8000 + 0x4F0;  // EC_USER + 0x4F0

enum FrameFault : LONG {
  kFrameFaultNoPicture = 1,       ///< no usable picture type or buffer: the frame was dropped
  kFrameFaultBufferTooSmall = 2,  ///< a sample smaller than its picture: left unprocessed or dropped
  kFrameFaultScaleFailed = 3,     ///< the scaler could not allocate its tables: dropped
  kFrameFaultMotionGeometry = 4,  ///< the motion settings do not describe the connected pictures
  kFrameFaultNoOutput = 5,        ///< a camera channel with no output pin: dropped
  kFrameFaultNoEnhancement = 6,   ///< a picture size the enhancement does not handle: not enhanced
};

/// Plain English for a fault, for the server's output line.
[[nodiscard]] inline const char* FrameFaultText(LONG fault) {
  switch (fault) {
    case kFrameFaultNoPicture:
      return "the frames carry no usable picture and are dropped";
    case kFrameFaultBufferTooSmall:
      return "the frames are smaller than their picture and are not processed";
    case kFrameFaultScaleFailed:
      return "the HD simulation could not prepare its scaler; frames are dropped";
    case kFrameFaultMotionGeometry:
      return "the motion detection settings do not match the camera's picture size; no motion is detected";
    case kFrameFaultNoOutput:
      return "frames of a camera channel without an output are dropped";
    case kFrameFaultNoEnhancement:
      return "the picture size cannot be enhanced; frames pass without enhancement";
    default:
      return "frames are not processed";
  }
}

namespace halvard::filters {

/// Which faults a connection has reported: First() is true once per kind until Reset().
/// First() runs on the streaming thread, Reset() while the filter connects or disconnects.
class CFrameFaultLog {
 public:
  [[nodiscard]] bool First(FrameFault fault) {
    const std::uint32_t bit = 1u << (static_cast<std::uint32_t>(fault) & 31u);
    return (m_reported.fetch_or(bit, std::memory_order_relaxed) & bit) == 0;
  }
  void Reset() { m_reported.store(0, std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> m_reported{0};
};

}  // namespace halvard::filters
