#include <gtest/gtest.h>

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
