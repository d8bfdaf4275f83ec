#include "platform/time/Time.h"

#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace halvard::time {
namespace {

std::shared_mutex g_sourceLock;
TimeSource g_source;  // empty = the real clock
WallClockSource g_wallSource;  // empty = std::time; guarded by g_sourceLock

}  // namespace

DWORD MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // the documented 32-bit wrap-around
}

ScopedTimeSource::ScopedTimeSource(TimeSource source) {
  std::unique_lock lock(g_sourceLock);
  m_previous = std::exchange(g_source, std::move(source));
}

ScopedTimeSource::~ScopedTimeSource() {
  std::unique_lock lock(g_sourceLock);
  g_source = std::move(m_previous);
}

DWORD CManualClock::Now() const { return m_nowMs.load(); }
void CManualClock::Set(DWORD nowMs) { m_nowMs.store(nowMs); }
void CManualClock::Advance(DWORD deltaMs) { m_nowMs.fetch_add(deltaMs); }
TimeSource CManualClock::Source() {
  return [this] { return Now(); };
}

ScopedWallClock::ScopedWallClock(WallClockSource source) {
  std::unique_lock lock(g_sourceLock);
  m_previous = std::exchange(g_wallSource, std::move(source));
}

ScopedWallClock::~ScopedWallClock() {
  std::unique_lock lock(g_sourceLock);
  g_wallSource = std::move(m_previous);
}

std::time_t WallClockNow() {
  {
    std::shared_lock lock(g_sourceLock);
    if (g_wallSource) {
      return g_wallSource();
    }
  }
  return std::time(nullptr);
}

std::tm LocalTimeNow() {
  const std::time_t now = WallClockNow();
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::time_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace halvard::time

DWORD timeGetTime() {
  {
    std::shared_lock lock(halvard::time::g_sourceLock);
    if (halvard::time::g_source) {
      return halvard::time::g_source();
    }
  }
  return halvard::time::MonotonicMs();
}
