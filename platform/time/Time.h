#pragma once
/// The multimedia timer: milliseconds since an arbitrary start, wrapping around after
/// 2^32 ms (about 49.7 days) exactly like the Windows call. Code that compares two
/// readings must use unsigned 32-bit arithmetic (now - then), never "now > then".
///
/// Tests replace the clock for the whole process with ScopedTimeSource; every caller of
/// timeGetTime (filters on streaming threads included) then reads the test's clock.

#include <atomic>
#include <ctime>
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

// ---- wall clock -----------------------------------------------------------------------

/// Seconds since the epoch. Every local-time rule of the server (file names, day and
/// night, clean-up, event times, reboot check) reads this clock, so tests replace it
/// once for the whole process.
using WallClockSource = std::function<std::time_t()>;

/// The wall clock: std::time(nullptr), or the installed replacement. Thread-safe.
[[nodiscard]] std::time_t WallClockNow();

/// WallClockNow() broken down in local time (localtime_r).
[[nodiscard]] std::tm LocalTimeNow();

/// Installs a wall clock for the whole process until destruction (innermost wins).
/// Same rules as ScopedTimeSource.
class ScopedWallClock {
 public:
  explicit ScopedWallClock(WallClockSource source);
  ~ScopedWallClock();
  ScopedWallClock(const ScopedWallClock&) = delete;
  ScopedWallClock& operator=(const ScopedWallClock&) = delete;

 private:
  WallClockSource m_previous;
};

/// A manual wall clock for tests: moves only when told.
class CManualWallClock {
 public:
  explicit CManualWallClock(std::time_t start) : m_now(start) {}
  [[nodiscard]] std::time_t Now() const { return m_now.load(); }
  void Set(std::time_t now) { m_now.store(now); }
  void Advance(std::time_t seconds) { m_now.fetch_add(seconds); }
  /// A source reading this clock (the clock must outlive its use).
  [[nodiscard]] WallClockSource Source() {
    return [this] { return Now(); };
  }

 private:
  std::atomic<std::time_t> m_now;
};

/// The local time of a calendar moment (mktime with tm_isdst = -1).
[[nodiscard]] std::time_t MakeLocalTime(int year, int month, int day, int hour = 0, int minute = 0,
                                        int second = 0);

}  // namespace halvard::time
