#pragma once
/// The motion detector (block means of frame pairs) and the notification state machine
/// of the motion filter. Plain classes: the filter feeds them samples and times on its
/// streaming thread and posts the message they ask for.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "filters/motion/BlockMeans.h"
#include "platform/base/WinTypes.h"

namespace halvard::motion {

/// Geometry and sensitivity of the detector (fields 3 to 10 of the parameter block).
struct DetectorSettings {
  DWORD reserved = 0;
  LONG width = 0;
  LONG height = 0;
  LONG topMargin = 0;
  LONG bottomMargin = 0;
  LONG bytesPerPixel = 0;
  LONG blockSize = 0;
  LONG threshold = 0;
};

/// Compares the block means of consecutive frames in disjoint pairs (0 with 1, 2 with 3,
/// ...) and reports motion when two consecutive pairs each show a changed watched block.
/// Not thread-safe: configured on the server's thread before the graph runs and used on
/// the streaming thread afterwards (the filter serialises Configure with its lock).
class CMotionDetector {
 public:
  /// Takes new settings and rebuilds the grid, the two mean arrays, the frame counter
  /// and the motion flag.
  /// Results: S_OK; E_INVALIDARG (block size below 1, a negative width, height or
  /// margin, margins taller than the picture, or a grid of more than kMaxBlocks blocks;
  /// the previous settings stay); E_OUTOFMEMORY (the arrays cannot be allocated; the
  /// detector is then unconfigured and analyses nothing).
  [[nodiscard]] HRESULT Configure(const DetectorSettings& settings);

  [[nodiscard]] const DetectorSettings& Settings() const { return m_settings; }
  [[nodiscard]] const BlockGrid& Grid() const { return m_grid; }
  [[nodiscard]] int BlockCount() const { return m_grid.columns * m_grid.rows; }

  /// Bytes a frame must hold for the configured geometry (bytes per pixel x width x
  /// height, rows without gaps); 0 when the bytes per pixel are neither 2 nor 3.
  [[nodiscard]] std::uint64_t FrameBytes() const;

  /// Analyses one frame of `size` bytes. Returns true when motion is reported. Reads no
  /// pixel (and reports no motion) when unconfigured, for bytes per pixel other than 2
  /// or 3, or when the frame is smaller than FrameBytes(); such frames do not count
  /// towards a pair.
  [[nodiscard]] bool Analyse(const std::uint8_t* frame, std::size_t size, const std::uint8_t* areaBits);

 private:
  DetectorSettings m_settings;
  BlockGrid m_grid;
  std::unique_ptr<std::uint8_t[]> m_meansA;
  std::unique_ptr<std::uint8_t[]> m_meansB;
  bool m_configured = false;
  std::uint32_t m_frameCounter = 0;
  bool m_previousPairMoved = false;
};

enum class NotifyState { Idle, Holding, Watching };

/// One message per motion episode: a detection in Idle asks for a message, then the
/// filter is blind for the hold period, then watches; only a quiet spell longer than
/// the re-arm period returns it to Idle. Times are milliseconds of a 32-bit clock that
/// wraps; elapsed times are taken modulo 2^32 so the wrap after 49.7 days does not
/// stall the filter.
class CMotionNotifier {
 public:
  static constexpr DWORD kDefaultHoldMs = 180000;
  static constexpr DWORD kDefaultRearmMs = 900000;

  void SetPeriods(DWORD holdMs, DWORD rearmMs) {
    m_holdMs = holdMs;
    m_rearmMs = rearmMs;
  }
  [[nodiscard]] DWORD HoldMs() const { return m_holdMs; }
  [[nodiscard]] DWORD RearmMs() const { return m_rearmMs; }
  [[nodiscard]] NotifyState State() const { return m_state; }
  [[nodiscard]] DWORD LastTransitionMs() const { return m_lastTransitionMs; }

  /// Called first for every sample. Returns false while holding (the picture must not be
  /// read); ends the hold when it has elapsed.
  [[nodiscard]] bool BeginSample(DWORD nowMs);

  /// Called with the detector's verdict for an analysed sample. Returns true when the
  /// motion message must be posted (a detection while Idle).
  [[nodiscard]] bool EndSample(DWORD nowMs, bool motion);

 private:
  NotifyState m_state = NotifyState::Idle;
  DWORD m_lastTransitionMs = 0;
  DWORD m_holdMs = kDefaultHoldMs;
  DWORD m_rearmMs = kDefaultRearmMs;
};

}  // namespace halvard::motion
