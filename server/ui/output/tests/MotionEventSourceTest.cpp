#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/MotionEventSource.h"
#include "server/ui/output/tests/OutputTestSupport.h"
#include "tests/support/TestSupport.h"

using halvard::time::MakeLocalTime;
using namespace halvard::ui;

namespace {

void Event(const std::string& group, const std::string& input, std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  halvard::motion::AppendEventLog(group, input, halvard::motion::EventTimeText(local));
}

// The matrix over the cameras' real event logs.
TEST(MotionEventSourceTest, TheMatrixReadsTheCamerasEventLogs) {
  halvard::testing::ScopedRegistry registry;
  outputtest::ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  halvard::time::CManualWallClock clock(now);
  halvard::time::ScopedWallClock wallClock(clock.Source());

  // The log folder is made one level deep; its parent, the data folder, exists in a server.
  std::filesystem::create_directories(halvard::settings::DataRoot());
  Event("Card A", "Gate", MakeLocalTime(2026, 6, 9, 8, 1, 30));
  Event("Card A", "Gate", MakeLocalTime(2026, 6, 9, 8, 1, 30));  // the same second: counted once
  Event("Card A", "Gate", MakeLocalTime(2026, 6, 10, 0, 0, 5));
  Event("Card A", "Yard", MakeLocalTime(2026, 6, 10, 14, 0, 0));

  CMotionEventSource source;
  CEventMatrix matrix;
  matrix.Load({{"Card A", "Gate"}, {"Card A", "Yard"}, {"Card A", "Silent"}}, source, now);
  EXPECT_EQ(matrix.StartTime(), MakeLocalTime(2026, 6, 9));
  EXPECT_EQ(matrix.CellCount(), 3 * 480);
  EXPECT_EQ(matrix.Rows()[0].cells, (std::vector<int>{160, 480}));
  EXPECT_EQ(matrix.Rows()[0].offsets, (std::vector<int>{90, 5}));
  EXPECT_EQ(matrix.Rows()[1].cells, (std::vector<int>{480 + 280}));
  EXPECT_TRUE(matrix.Rows()[2].cells.empty());
}

}  // namespace
