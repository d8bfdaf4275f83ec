#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/time/Time.h"
#include "server/archive/Archive.h"
#include "server/archive/CleanUp.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::archive;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
using halvard::time::CManualWallClock;
using halvard::time::MakeLocalTime;
using halvard::time::ScopedWallClock;

namespace {

std::string Day(int year, int month, int day) {
  const std::time_t t = MakeLocalTime(year, month, day, 12);
  std::tm local{};
  localtime_r(&t, &local);
  return DayName(local);
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* input : {"A", "B"}) {
      settings::WriteVideoFileRoot("G", input, Root());
      settings::WriteMotionEventDir("G", input, Root() + "events/");
    }
  }
  [[nodiscard]] std::string Root() const { return m_dir.Path().string() + "/"; }

  // A day of a camera as the recording leaves it: folder, one file, index key.
  std::string AddDay(const std::string& input, const std::string& day) {
    const std::string file = ItemPath("G", input, day, "10H-00M-00S.wmv");
    EXPECT_TRUE(CreateParentFolders(file));
    std::ofstream(file) << "video";
    EXPECT_TRUE(RegisterArchiveFile("G", input, file));
    return file;
  }
  [[nodiscard]] std::vector<std::string> DayKeys(const std::string& input) const {
    return settings::SubKeyNames(ArchiveIndexKey("G", input));
  }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  CManualWallClock m_clock{MakeLocalTime(2007, 5, 10, 10, 0, 0)};
  ScopedWallClock m_scoped{m_clock.Source()};
};

TEST(CleanUpAge, DayAgeCountsWholeDaysFromTheEndOfTheDay) {
  const std::time_t now = MakeLocalTime(2007, 5, 10, 10, 0, 0);
  EXPECT_EQ(DayAge("2007-05-10, THU MAY 10", now), 0);
  EXPECT_EQ(DayAge("2007-05-09, WED MAY 09", now), 0);  // 10 h since its last second
  EXPECT_EQ(DayAge("2007-05-08", now), 1);
  EXPECT_EQ(DayAge("2007-05-06", now), 3);
  EXPECT_EQ(DayAge("2007-05-11", now), -1);   // the future is never old
  EXPECT_EQ(DayAge("2007-05-20", now), -10);
  EXPECT_EQ(DayAge("2007-5-6", now), 3);
  for (const char* bad : {"", "Holiday", "2007-05", "..", "x2007-05-06", "99999999999-1-1", "2007-2147483647-1"}) {
    EXPECT_EQ(DayAge(bad, now), 1000) << bad;
  }
}

TEST_F(CleanUpTest, DefaultHistoryKeepsTodayAndThreeDays) {
  std::vector<std::string> kept;
  for (int day : {10, 9, 8, 7}) {
    kept.push_back(Day(2007, 5, day));
    AddDay("A", kept.back());
  }
  const std::string old1 = Day(2007, 5, 6);
  const std::string old2 = Day(2007, 4, 30);
  AddDay("A", old1);
  AddDay("A", old2);
  // Days whose names are not dates go, too; ".." only from the index.
  const std::string keepOut = Root() + "G/keep-me";
  std::ofstream(keepOut) << "outside the day folders";
  settings::CreateKey(ArchiveIndexKey("G", "A", "Spare"));
  fs::create_directories(Root() + "G/A/Spare");
  settings::CreateKey(ArchiveIndexKey("G", "A", ".."));
  // Camera B keeps one day only (history 1: today and yesterday by the formula).
  settings::kVideoHistory.Write("G", "B", 1);
  AddDay("B", Day(2007, 5, 10));
  AddDay("B", Day(2007, 5, 9));
  AddDay("B", Day(2007, 5, 8));

  const CleanUpResult result = CleanUpArchive({{"G", "A"}, {"G", "B"}});

  std::vector<std::string> expectA = kept;
  std::sort(expectA.begin(), expectA.end());
  EXPECT_EQ(DayKeys("A"), expectA);
  for (const std::string& day : kept) {
    EXPECT_TRUE(fs::exists(ItemPath("G", "A", day, "10H-00M-00S.wmv"))) << day;
  }
  EXPECT_FALSE(fs::exists(ItemPath("G", "A", old1)));
  EXPECT_FALSE(fs::exists(ItemPath("G", "A", old2)));
  EXPECT_FALSE(fs::exists(Root() + "G/A/Spare"));
  EXPECT_TRUE(fs::exists(keepOut));
  EXPECT_TRUE(fs::is_directory(Root() + "G/A"));
  EXPECT_EQ(DayKeys("B"), (std::vector<std::string>{Day(2007, 5, 9), Day(2007, 5, 10)}));
  EXPECT_EQ(result.removedDayKeys.size(), 5u);  // A: two old days, "Spare", ".."; B: one
  EXPECT_NE(std::find(result.removedDayKeys.begin(), result.removedDayKeys.end(), ArchiveIndexKey("G", "A", "..")),
            result.removedDayKeys.end());

  // Another run finds nothing more to do.
  EXPECT_TRUE(CleanUpArchive({{"G", "A"}, {"G", "B"}}).removedDayKeys.empty());
}

TEST_F(CleanUpTest, ADayWithAFileBeingWrittenIsKept) {
  settings::kVideoHistory.Write("G", "A", 0);  // nothing is old enough to keep
  const std::string writing = AddDay("A", Day(2007, 5, 10));
  AddDay("A", Day(2007, 5, 9));
  const CleanUpResult result = CleanUpArchive({{"G", "A"}}, {writing});
  EXPECT_EQ(result.removedDayKeys, std::vector<std::string>{ArchiveIndexKey("G", "A", Day(2007, 5, 9))});
  EXPECT_TRUE(fs::exists(writing));
  EXPECT_EQ(DayKeys("A"), std::vector<std::string>{Day(2007, 5, 10)});
}

TEST_F(CleanUpTest, EventLogsAreTrimmedWithTheHistoryAndDeletedWhenAllOld) {
  const std::string recent = "09:30:00, TUE 05/08/2007";
  halvard::motion::AppendEventLog("G", "A", "08:00:00, SAT 05/05/2007");
  halvard::motion::AppendEventLog("G", "A", "08:00:01, MON 05/07/2007");
  halvard::motion::AppendEventLog("G", "A", recent);
  halvard::motion::AppendEventLog("G", "B", "08:00:00, SAT 05/05/2007");
  const std::string logA = halvard::motion::EventLogPath("G", "A");
  const std::string logB = halvard::motion::EventLogPath("G", "B");
  ASSERT_TRUE(fs::exists(logB));

  (void)CleanUpArchive({{"G", "A"}, {"G", "B"}});
  // Cut-off: now - 3 days = 05/07 10:00.
  EXPECT_EQ(Slurp(logA), recent + "\r\n");
  EXPECT_FALSE(fs::exists(logB));
  EXPECT_FALSE(fs::exists(logA + "2"));
}

class FreeSpaceTest : public CleanUpTest {
 protected:
  // Free space grows by 1 MiB for every day folder removed below the root.
  FreeSpaceFunction Fake(std::size_t startFolders) {
    return [this, startFolders](const std::string& path) -> std::optional<std::uint64_t> {
      ++m_queries;
      EXPECT_TRUE(path.starts_with(m_dir.Path().string())) << path;
      std::size_t folders = 0;
      for (const char* input : {"A", "B"}) {
        std::error_code ec;
        for (fs::directory_iterator it(Root() + "G/" + input, ec), end; !ec && it != end; it.increment(ec)) {
          folders += it->is_directory() && !it->is_symlink() ? 1 : 0;
        }
      }
      return static_cast<std::uint64_t>(startFolders - folders) * 1024 * 1024;
    };
  }
  int m_queries = 0;
};

TEST_F(FreeSpaceTest, OldestDaysGoFirstAcrossCamerasButNeverTheOneBeingWritten) {
  const std::string writing = AddDay("A", Day(2007, 5, 1));
  AddDay("A", Day(2007, 5, 3));
  AddDay("A", Day(2007, 5, 5));
  AddDay("B", Day(2007, 5, 2));
  AddDay("B", Day(2007, 5, 4));
  settings::kVideoFreeSpaceReserve.Write(3);

  const FreeSpaceResult result = EnforceFreeSpaceReserve({{"G", "A"}, {"G", "B"}}, {writing}, Fake(5));
  EXPECT_TRUE(result.reserveMet);
  EXPECT_EQ(result.removedDayFolders,
            (std::vector<std::string>{ItemPath("G", "B", Day(2007, 5, 2)), ItemPath("G", "A", Day(2007, 5, 3)),
                                      ItemPath("G", "B", Day(2007, 5, 4))}));
  EXPECT_TRUE(fs::exists(writing));
  EXPECT_EQ(DayKeys("A"), (std::vector<std::string>{Day(2007, 5, 1), Day(2007, 5, 5)}));
  EXPECT_TRUE(DayKeys("B").empty());
}

TEST_F(FreeSpaceTest, UnreachableReserveRemovesWhatItMayAndSaysSo) {
  const std::string writing = AddDay("A", Day(2007, 5, 9));
  AddDay("A", Day(2007, 5, 8));
  // A link that looks like an old day, pointing out of the archive: never followed.
  const std::string outside = Root() + "outside";
  fs::create_directories(outside);
  std::ofstream(outside + "/precious") << "keep";
  fs::create_directory_symlink(outside, Root() + "G/A/2000-01-01, SAT JAN 01");

  settings::kVideoFreeSpaceReserve.Write(100);
  const FreeSpaceResult result = EnforceFreeSpaceReserve({{"G", "A"}, {"G", "B"}}, {writing}, Fake(2));
  EXPECT_FALSE(result.reserveMet);
  EXPECT_EQ(result.removedDayFolders, std::vector<std::string>{ItemPath("G", "A", Day(2007, 5, 8))});
  EXPECT_TRUE(fs::exists(writing));
  EXPECT_TRUE(fs::exists(outside + "/precious"));
}

TEST_F(FreeSpaceTest, EnoughSpaceOrUnknownSpaceRemovesNothing) {
  AddDay("A", Day(2007, 5, 1));
  settings::kVideoFreeSpaceReserve.Write(1);
  const auto plenty = [](const std::string&) -> std::optional<std::uint64_t> { return 1ull << 40; };
  EXPECT_TRUE(EnforceFreeSpaceReserve({{"G", "A"}}, {}, plenty).removedDayFolders.empty());
  const auto unknown = [](const std::string&) -> std::optional<std::uint64_t> { return std::nullopt; };
  const FreeSpaceResult result = EnforceFreeSpaceReserve({{"G", "A"}}, {}, unknown);
  EXPECT_TRUE(result.removedDayFolders.empty());
  EXPECT_FALSE(result.reserveMet);
  EXPECT_EQ(DayKeys("A").size(), 1u);
  // The real measurement answers for the test folder; a camera with a refused name is
  // not looked at.
  EXPECT_TRUE(SystemFreeSpace()(Root()).has_value());
  EXPECT_FALSE(SystemFreeSpace()(Root() + "missing/folder").has_value());
  EXPECT_TRUE(EnforceFreeSpaceReserve({{"..", "A"}}, {}, plenty).reserveMet);
}

}  // namespace
