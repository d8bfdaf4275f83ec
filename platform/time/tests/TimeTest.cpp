#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/time/Time.h"

namespace {

using halvard::time::CManualClock;
using halvard::time::ScopedTimeSource;

TEST(TimeGetTime, FollowsTheMonotonicClock) {
  const DWORD a = timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const DWORD b = timeGetTime();
  // Unsigned difference: correct across a wrap-around as well.
  EXPECT_GE(static_cast<DWORD>(b - a), 19u);
  EXPECT_LT(static_cast<DWORD>(b - a), 10000u);
}

TEST(TimeGetTime, TestClockReplacesAndRestores) {
  CManualClock clock(0xFFFFFFF0u);
  {
    ScopedTimeSource scoped(clock.Source());
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(timeGetTime(), 0x10u);  // wrapped
    EXPECT_EQ(static_cast<DWORD>(timeGetTime() - 0xFFFFFFF0u), 0x20u);
    {
      CManualClock inner(5);
      ScopedTimeSource nested(inner.Source());
      EXPECT_EQ(timeGetTime(), 5u);
    }
    EXPECT_EQ(timeGetTime(), 0x10u);
  }
  const DWORD real = timeGetTime();
  EXPECT_LT(static_cast<DWORD>(real - halvard::time::MonotonicMs()) + 1000u, 2000u);
}

TEST(TimeGetTime, TestClockIsSeenFromOtherThreads) {
  CManualClock clock(1234);
  ScopedTimeSource scoped(clock.Source());
  DWORD seen = 0;
  std::thread([&] { seen = timeGetTime(); }).join();
  EXPECT_EQ(seen, 1234u);
}

}  // namespace

namespace {

TEST(WallClock, ReplacementIsSeenAndRestoredAndLocalTimeFollowsIt) {
  const std::time_t real = halvard::time::WallClockNow();
  EXPECT_LE(std::llabs(static_cast<long long>(real - std::time(nullptr))), 2);
  const std::time_t noon = halvard::time::MakeLocalTime(2007, 5, 1, 12, 30, 15);
  {
    halvard::time::CManualWallClock clock(noon);
    halvard::time::ScopedWallClock scoped(clock.Source());
    EXPECT_EQ(halvard::time::WallClockNow(), noon);
    clock.Advance(3600);
    const std::tm local = halvard::time::LocalTimeNow();
    EXPECT_EQ(local.tm_year, 107);
    EXPECT_EQ(local.tm_mon, 4);
    EXPECT_EQ(local.tm_mday, 1);
    EXPECT_EQ(local.tm_hour, 13);
    EXPECT_EQ(local.tm_min, 30);
    EXPECT_EQ(local.tm_wday, 2) << "1 May 2007 was a Tuesday";
  }
  EXPECT_LE(std::llabs(static_cast<long long>(halvard::time::WallClockNow() - std::time(nullptr))), 2);
}

}  // namespace
