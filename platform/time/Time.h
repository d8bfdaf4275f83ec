#pragma once
/// The multimedia timer: milliseconds since an arbitrary start, wrapping around after
/// 2^32 ms (about 49.7 days) exactly like the Windows call. Code that compares two
/// readings must use unsigned 32-bit arithmetic (now - then), never "now > then".
///
/// Tests replace the clock for the whole process with ScopedTimeSource; every caller of
/// timeGetTime (filters on streaming threads included) then reads the test's clock.

#include <atomic>
#include <functional>

#include "platform/base/WinTypes.h"

/// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits (or the installed test clock).
/// Thread-safe.
DWORD timeGetTime();

namespace halvard::time {

/// A replacement clock. Called from any thread; must be thread-safe.
using TimeSource = std::function<DWORD()>;

/// Installs a clock for the whole process until destruction, then restores the previous
/// one. Nesting is allowed (innermost wins). Create and destroy on one thread, while no
/// other thread is being started that relies on the clock being stable.
class ScopedTimeSource {
 public:
  explicit ScopedTimeSource(TimeSource source);
  ~ScopedTimeSource();
  ScopedTimeSource(const ScopedTimeSource&) = delete;
  ScopedTimeSource& operator=(const ScopedTimeSource&) = delete;

 private:
  TimeSource m_previous;
};

/// A manual clock for tests: starts at startMs, moves only when told.
class CManualClock {
 public:
  explicit CManualClock(DWORD startMs = 0) : m_nowMs(startMs) {}
  [[nodiscard]] DWORD Now() const;
  void Set(DWORD nowMs);
  /// Adds deltaMs with 32-bit wrap-around.
  void Advance(DWORD deltaMs);
  /// A TimeSource reading this clock (the clock must outlive its use).
  [[nodiscard]] TimeSource Source();

 private:
  std::atomic<DWORD> m_nowMs;
};

/// The real clock, ignoring any installed replacement.
[[nodiscard]] DWORD MonotonicMs();

}  // namespace halvard::time
