#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::motion;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
using halvard::time::CManualWallClock;
using halvard::time::MakeLocalTime;
using halvard::time::ScopedWallClock;

namespace {

std::tm Local(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Line(int year, int month, int day, int hour, int minute, int second) {
  return EventTimeText(Local(MakeLocalTime(year, month, day, hour, minute, second)));
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::WriteMotionEventDir("G", "I", Dir());
    settings::kCardFriendlyName.Write("G", "BT878 Capture 0");
  }
  [[nodiscard]] std::string Dir() const { return m_dir.Path().string() + "/events/"; }
  [[nodiscard]] std::string Log() const { return Dir() + "BT878 Capture 0-I.txt"; }
  void WriteLog(const std::string& text) const {
    fs::create_directories(Dir());
    std::ofstream(Log(), std::ios::binary) << text;
  }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  CManualWallClock m_clock{MakeLocalTime(2007, 5, 10, 10, 0, 0)};
  ScopedWallClock m_scoped{m_clock.Source()};
};

// Runs a block under another time zone, restoring the process's afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      m_old = old;
      m_had = true;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_had) {
      setenv("TZ", m_old.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string m_old;
  bool m_had = false;
};

TEST(EventTimeText, FormatsAndParsesBack) {
  const std::time_t t = MakeLocalTime(2007, 5, 1, 13, 5, 22);
  EXPECT_EQ(EventTimeText(Local(t)), "13:05:22, TUE 05/01/2007");
  EXPECT_EQ(ParseEventLine("13:05:22, TUE 05/01/2007"), t);
  EXPECT_EQ(ParseEventLine("13:05:22, TUE 05/01/2007\r"), t);
  // The scanning rules: blanks are free, the weekday is any word, signs are numbers.
  EXPECT_EQ(ParseEventLine("  13:5:22,TUE   5/1/2007"), t);
  EXPECT_EQ(ParseEventLine("13:05:22, XYZ 05/01/2007 trailing"), t);
  EXPECT_EQ(ParseEventLine("13:05:82, TUE 05/01/2007"), t + 60);  // normalised as mktime does
  EXPECT_EQ(ParseEventLine("13:05:22, TUE 05/01/20071"), MakeLocalTime(20071, 5, 1, 13, 5, 22));
  EXPECT_EQ(ParseEventLine("13:05:22, TUESDAY 05/01/2007"), t);
  EXPECT_EQ(ParseEventLine("13:05:22,  TUE 05/01/2007"), t);
  for (const char* bad : {"", "13:05:22", "13:05:22 TUE 05/01/2007", "13:05:22, 05/01/2007",
                          "x13:05:22, TUE 05/01/2007", "13-05-22, TUE 05/01/2007", "13:05:22, TUE 05/01/"}) {
    EXPECT_FALSE(ParseEventLine(bad).has_value()) << bad;
  }
  // Huge numbers are clamped, never overflow.
  (void)ParseEventLine("99999999999999:1:1, X 1/1/99999999999");
  (void)ParseEventLine("-99999999999999:-1:-1, X -1/-1/-99999999999");
  // Only the first 63 characters count.
  EXPECT_FALSE(ParseEventLine(std::string(60, ' ') + "13:05:22, TUE 05/01/2007").has_value());
}

TEST(EventTimeText, DaylightSavingDaysParseAsLocalTime) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) {
    GTEST_SKIP() << "no time-zone data";
  }
  ScopedTimeZone zone("Europe/Berlin");
  // The spring and autumn changes of 2007 and the days around them.
  for (int day : {24, 25, 26}) {
    for (int hour : {0, 1, 3, 12, 23}) {
      const std::time_t t = MakeLocalTime(2007, 3, day, hour, 30, 15);
      EXPECT_EQ(ParseEventLine(EventTimeText(Local(t))), t) << day << " " << hour;
    }
  }
  // (02:00 to 03:00 of the autumn day happens twice; mktime may pick either.)
  for (int hour : {0, 1, 3, 23}) {
    const std::time_t t = MakeLocalTime(2007, 10, 28, hour, 0, 0);
    EXPECT_EQ(ParseEventLine(Line(2007, 10, 28, hour, 0, 0)), t) << hour;
  }
}

TEST_F(EventLogTest, CellsAcrossDaylightSavingChangesMatchLocalTime) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) {
    GTEST_SKIP() << "no time-zone data";
  }
  ScopedTimeZone zone("Europe/Berlin");
  const std::time_t start = MakeLocalTime(2007, 3, 20);
  std::vector<std::time_t> times;
  std::string log;
  for (const std::time_t from : {MakeLocalTime(2007, 3, 20), MakeLocalTime(2007, 10, 20)}) {
    for (std::time_t t = from; t < from + 16 * 86400; t += 5 * 3600 + 17 * 60 + 13) {
      const std::tm local = Local(t);
      if (local.tm_mon == 9 && local.tm_mday == 28 && local.tm_hour == 2) {
        continue;  // the repeated hour reads back as either of its two moments
      }
      times.push_back(t);
      log += EventTimeText(local) + "\r\n";
    }
  }
  WriteLog(log);
  std::vector<int> cells(times.size());
  std::vector<int> offsets(times.size());
  ASSERT_EQ(ReadEventCells("G", "I", start, 1, static_cast<int>(times.size()), cells.data(), offsets.data()),
            static_cast<int>(times.size()));
  for (std::size_t i = 0; i < times.size(); ++i) {
    ASSERT_EQ(cells[i], (times[i] - start) / 60) << EventTimeText(Local(times[i]));
    ASSERT_EQ(offsets[i], Local(times[i]).tm_sec);
  }
}

TEST_F(EventLogTest, PathNamesAreStoredAtFirstUseAndKeptAcrossRenames) {
  settings::kCardFriendlyName.Write("G", "");
  EXPECT_EQ(EventLogPath("G", "I"), Dir() + "G-I.txt");
  EXPECT_EQ(settings::kCardFriendlyName.Read("G"), "G");
  EXPECT_EQ(settings::kInputOriginalName.Read("G", "I"), "I");

  AppendEventLog("G", "I", "13:05:22, TUE 05/01/2007");
  // The input gets a new display name: its key moves, the stored names move with it.
  ASSERT_TRUE(settings::MoveKeyTree(settings::CameraKeyPath("G", "I"), settings::CameraKeyPath("G", "Door")));
  AppendEventLog("G", "Door", "13:05:23, TUE 05/01/2007");
  EXPECT_EQ(Slurp(Dir() + "G-I.txt"), "13:05:22, TUE 05/01/2007\r\n13:05:23, TUE 05/01/2007\r\n");
  EXPECT_EQ(EventLogPath("", "I"), "");
}

TEST_F(EventLogTest, NamesFromDevicesNeverLeaveTheEventFolder) {
  settings::kCardFriendlyName.Write("G", "USB2.0 PC/Camera\\x");
  settings::kInputOriginalName.Write("G", "I", "../../etc/passwd");
  const std::string path = EventLogPath("G", "I");
  EXPECT_EQ(path, Dir() + "USB2.0 PC_Camera_x-.._.._etc_passwd.txt");
  AppendEventLog("G", "I", "13:05:22, TUE 05/01/2007");
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1);
}

TEST_F(EventLogTest, AppendCreatesOneFolderLevelAndWritesWholeLines) {
  AppendEventLog("G", "I", "13:05:22, TUE 05/01/2007");
  AppendEventLog("G", "I", "13:05:23, TUE 05/01/2007\r\nforged line");
  EXPECT_EQ(Slurp(Log()), "13:05:22, TUE 05/01/2007\r\n13:05:23, TUE 05/01/2007\r\n");
  // Only the last level is created: a missing parent loses the line, nothing else.
  settings::WriteMotionEventDir("G", "J", m_dir.Path().string() + "/no/such/");
  AppendEventLog("G", "J", "13:05:22, TUE 05/01/2007");
  EXPECT_FALSE(fs::exists(m_dir.Path() / "no"));
}

TEST_F(EventLogTest, CountingSkipsRepeatsAndStopsAtTheFirstBadLine) {
  EXPECT_EQ(CountEvents("G", "I"), 0);  // no log
  WriteLog(Line(1999, 12, 31, 23, 0, 0) + "\r\n" +   // before 2000: not counted
           Line(2007, 5, 1, 13, 5, 22) + "\r\n" +    //
           Line(2007, 5, 1, 13, 5, 22) + "\r\n" +    // same second: counted once
           Line(2007, 5, 1, 13, 0, 0) + "\r\n" +     // earlier: skipped
           Line(2007, 5, 1, 13, 6, 0) + "\r\n" +     //
           "garbage\r\n" +                           // ends the reading
           Line(2007, 5, 1, 14, 0, 0) + "\r\n");
  EXPECT_EQ(CountEvents("G", "I"), 2);
  WriteLog(Line(2007, 5, 1, 13, 5, 22) + "\n" + Line(2007, 5, 1, 13, 5, 23));  // LF only, no last line end
  EXPECT_EQ(CountEvents("G", "I"), 2);
}

TEST_F(EventLogTest, CellsAndOffsetsAtResolutionThree) {
  const std::time_t start = MakeLocalTime(2007, 5, 1, 10, 0, 0);
  WriteLog(Line(2007, 5, 1, 9, 59, 0) + "\r\n" +   // before the start: minutes -1
           Line(2007, 5, 1, 10, 0, 5) + "\r\n" +   // cell 0, 5 s
           Line(2007, 5, 1, 10, 0, 5) + "\r\n" +   // repeat: not a cell
           Line(2007, 5, 1, 10, 2, 30) + "\r\n" +  // cell 0, 2 min 30 s
           Line(2007, 5, 1, 10, 4, 10) + "\r\n" +  // cell 1, 1 min 10 s
           Line(2007, 5, 2, 10, 0, 0) + "\r\n");   // a day later: cell 480
  std::vector<int> cells(10, -7);
  std::vector<int> offsets(10, -7);
  ASSERT_EQ(ReadEventCells("G", "I", start, 3, 10, cells.data(), offsets.data()), 5);
  EXPECT_EQ(std::vector<int>(cells.begin(), cells.begin() + 5), (std::vector<int>{0, 0, 0, 1, 480}));
  EXPECT_EQ(std::vector<int>(offsets.begin(), offsets.begin() + 5), (std::vector<int>{-60, 5, 150, 70, 0}));
  EXPECT_EQ(cells[5], -7);
  // At most maxCount; bad arguments fill nothing.
  EXPECT_EQ(ReadEventCells("G", "I", start, 3, 2, cells.data(), offsets.data()), 2);
  EXPECT_EQ(ReadEventCells("G", "I", start, 0, 10, cells.data(), offsets.data()), 0);
  EXPECT_EQ(ReadEventCells("G", "I", start, 3, 0, cells.data(), offsets.data()), 0);
  EXPECT_EQ(ReadEventCells("G", "I", start, 3, 10, nullptr, offsets.data()), 0);
  EXPECT_EQ(ReadEventCells("G", "J", start, 3, 10, cells.data(), offsets.data()), 0);
}

TEST_F(EventLogTest, FirstEventDateIsTheFirstLinesDayOrToday) {
  const std::time_t today = MakeLocalTime(2007, 5, 10);
  EXPECT_EQ(FirstEventDate("G", "I"), today);
  WriteLog(Line(2007, 5, 3, 13, 5, 22) + "\r\n" + Line(2007, 5, 10, 9, 0, 0) + "\r\n");
  EXPECT_EQ(FirstEventDate("G", "I"), MakeLocalTime(2007, 5, 3));
  WriteLog(Line(2007, 5, 10, 9, 0, 0) + "\r\n");
  EXPECT_EQ(FirstEventDate("G", "I"), today);
  WriteLog(Line(2007, 5, 12, 9, 0, 0) + "\r\n");  // a clock that was ahead
  EXPECT_EQ(FirstEventDate("G", "I"), today);
  WriteLog("garbage\r\n" + Line(2007, 5, 3, 13, 5, 22) + "\r\n");
  EXPECT_EQ(FirstEventDate("G", "I"), today);
}

TEST_F(EventLogTest, TrimKeepsTheLastDaysUnchanged) {
  TrimEventLog("G", "I", 3);  // no log: nothing happens
  EXPECT_FALSE(fs::exists(Log()));
  // Cut-off: 2007-05-07 10:00:00.
  const std::string kept = Line(2007, 5, 7, 10, 0, 0) + "\r\n" + "garbage kept as it is\r\n" +
                           Line(2007, 5, 9, 8, 0, 0) + "\r\n";
  WriteLog(Line(2007, 5, 1, 8, 0, 0) + "\r\nnot a time\r\n" + Line(2007, 5, 7, 9, 59, 59) + "\r\n" + kept);
  TrimEventLog("G", "I", 3);
  EXPECT_EQ(Slurp(Log()), kept);
  EXPECT_FALSE(fs::exists(Log() + "2"));
  const auto before = fs::last_write_time(Log());
  TrimEventLog("G", "I", 3);  // nothing to cut: not rewritten
  EXPECT_EQ(fs::last_write_time(Log()), before);
  EXPECT_EQ(Slurp(Log()), kept);

  m_clock.Advance(10 * 86400);
  TrimEventLog("G", "I", 3);
  EXPECT_FALSE(fs::exists(Log()));
  EXPECT_FALSE(fs::exists(Log() + "2"));
}

}  // namespace
