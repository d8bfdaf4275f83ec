#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/RecordingLocator.h"
#include "server/ui/output/tests/OutputTestSupport.h"
#include "tests/support/TestSupport.h"

using halvard::time::MakeLocalTime;
using namespace halvard::ui;
namespace settings = halvard::settings;

namespace {

class RecordingLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { settings::WriteVideoFileRoot("Card A", "Gate", m_root.Path().string() + "/"); }

  // An index entry as the recording writes it, with the file's play length.
  void Index(const std::string& day, const std::string& file, std::optional<double> seconds, const std::string& input = "Gate") {
    settings::CreateKey(std::string(settings::kCameraGroupPath) + "\\Card A\\" + input + "\\" + day + "\\" + file);
    if (seconds) {
      m_lengths[m_root.Path().string() + "/Card A/" + input + "/" + day + "/" + file] = *seconds;
    }
  }
  DurationReader Lengths() const {
    return [this](const std::string& path) -> std::optional<double> {
      const auto it = m_lengths.find(path);
      return it != m_lengths.end() ? std::optional<double>(it->second) : std::nullopt;
    };
  }
  std::optional<RecordingLocation> Find(std::time_t moment, std::time_t playFrom) const {
    return FindRecordingAt("Card A", "Gate", moment, playFrom, Lengths());
  }

  halvard::testing::ScopedRegistry m_registry;
  halvard::testing::TempDir m_root;
  outputtest::ScopedTimeZone m_zone{"CET-1CEST,M3.5.0,M10.5.0/3"};
  std::map<std::string, double> m_lengths;
};

constexpr const char* kDay = "2026-06-10, WED JUN 10";
constexpr const char* kDayBefore = "2026-06-09, TUE JUN 09";

TEST_F(RecordingLocatorTest, TheFileHoldingTheMomentPlaysFromItsOffset) {
  Index(kDay, "13H-00M-00S.wmv", 1200);
  Index(kDay, "13H-20M-00S.wmv", 1200);
  Index(kDay, "13H-40M-00S.wmv", 1200);
  const std::time_t event = MakeLocalTime(2026, 6, 10, 13, 25, 15);
  const auto found = Find(event, event - 5);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->dayName, kDay);
  EXPECT_EQ(found->fileName, "13H-20M-00S.wmv");
  EXPECT_EQ(found->path, m_root.Path().string() + "/Card A/Gate/" + kDay + "/13H-20M-00S.wmv");
  EXPECT_EQ(found->fileStart, MakeLocalTime(2026, 6, 10, 13, 20, 0));
  EXPECT_EQ(found->offsetSeconds, 310);

  // The last seconds of a file stay in that file.
  const std::time_t late = MakeLocalTime(2026, 6, 10, 13, 19, 58);
  EXPECT_EQ(Find(late, late - 5)->fileName, "13H-00M-00S.wmv");
  EXPECT_EQ(Find(late, late - 5)->offsetSeconds, 1193);
}

TEST_F(RecordingLocatorTest, AnEventInTheFirstFiveSecondsOfAFilePlaysFromItsStart) {
  Index(kDay, "13H-00M-00S.wmv", 1200);
  Index(kDay, "13H-20M-01S.wmv", 1200);
  const std::time_t event = MakeLocalTime(2026, 6, 10, 13, 20, 3);
  const auto found = Find(event, event - 5);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->fileName, "13H-20M-01S.wmv");
  EXPECT_EQ(found->offsetSeconds, 0);

  // The first file of a run: an event just before the recording began (the camera was
  // started a moment after the motion) plays the file from its start.
  Index(kDay, "15H-00M-30S.wmv", 1200);
  const std::time_t before = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  ASSERT_TRUE(Find(before, before - 5));
  EXPECT_EQ(Find(before, before - 5)->fileName, "15H-00M-30S.wmv");
  EXPECT_EQ(Find(before, before - 5)->offsetSeconds, 0);
  const std::time_t tooEarly = MakeLocalTime(2026, 6, 10, 14, 59, 0);
  EXPECT_FALSE(Find(tooEarly, tooEarly));
}

TEST_F(RecordingLocatorTest, GapsFindNothingAndTheFileBeingWrittenCountsAsRunning) {
  Index(kDay, "10H-00M-00S.wmv", 600);  // stopped at 10:10
  const std::time_t gap = MakeLocalTime(2026, 6, 10, 10, 30, 0);
  EXPECT_FALSE(Find(gap, gap));
  const std::time_t inside = MakeLocalTime(2026, 6, 10, 10, 10, 0);
  EXPECT_EQ(Find(inside, inside)->offsetSeconds, 600);

  Index(kDay, "14H-00M-00S.wmv", std::nullopt);  // no duration in its header yet
  const std::time_t now = MakeLocalTime(2026, 6, 10, 14, 15, 0);
  ASSERT_TRUE(Find(now, now));
  EXPECT_EQ(Find(now, now)->offsetSeconds, 900);
  const std::time_t hoursLater = MakeLocalTime(2026, 6, 10, 17, 0, 0);
  EXPECT_FALSE(Find(hoursLater, hoursLater));
}

TEST_F(RecordingLocatorTest, ARecordingRunningPastMidnightIsFoundInTheEarlierDay) {
  Index(kDayBefore, "23H-30M-00S.wmv", 1200);
  Index(kDayBefore, "23H-50M-00S.wmv", 1200);
  Index(kDay, "00H-10M-00S.wmv", 1200);
  const std::time_t afterMidnight = MakeLocalTime(2026, 6, 10, 0, 5, 0);
  const auto found = Find(afterMidnight, afterMidnight);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->dayName, kDayBefore);
  EXPECT_EQ(found->fileName, "23H-50M-00S.wmv");
  EXPECT_EQ(found->offsetSeconds, 900);

  // And a moment just before midnight whose file starts right after it.
  const std::string nextDay = "2026-06-11, THU JUN 11";
  Index(nextDay, "00H-00M-20S.wmv", 1200);
  Index(kDay, "23H-00M-00S.wmv", 1800);  // ends 23:30
  const std::time_t beforeMidnight = MakeLocalTime(2026, 6, 10, 23, 59, 50);
  ASSERT_TRUE(Find(beforeMidnight, beforeMidnight));
  EXPECT_EQ(Find(beforeMidnight, beforeMidnight)->dayName, nextDay);
}

TEST_F(RecordingLocatorTest, IndexNamesThatAreNoRecordingsOrLeaveTheFolderAreSkipped) {
  Index(kDay, "13H-00M-00S.wmv", 1200);
  Index(kDay, "notes", 1200);
  Index("..", "13H-00M-00S.wmv", 1200);
  Index("2026-06-10 but not a day name /..", "13H-10M-00S.wmv", 1200);
  Index(kDay, "..", 1200);
  const std::time_t t = MakeLocalTime(2026, 6, 10, 13, 15, 0);
  const auto found = Find(t, t);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path, m_root.Path().string() + "/Card A/Gate/" + kDay + "/13H-00M-00S.wmv");
  EXPECT_FALSE(FindRecordingAt("..", "Gate", t, t, Lengths()));
  EXPECT_FALSE(FindRecordingAt("Card A", "Ga/te", t, t, Lengths()));
  EXPECT_FALSE(FindRecordingAt("Card A", "Yard", t, t, Lengths()));  // no index at all

  EXPECT_EQ(RecordingStartOf(kDay, "07H-08M-09S.wmv"), MakeLocalTime(2026, 6, 10, 7, 8, 9));
  EXPECT_FALSE(RecordingStartOf(kDay, "25H-00M-00S.wmv"));
  EXPECT_FALSE(RecordingStartOf("WED JUN 10", "07H-08M-09S.wmv"));
}

TEST_F(RecordingLocatorTest, TheWindowsMediaDurationIsReadFromARealFileHeader) {
  const std::string wmv = m_root.File("clip.wmv");
  const auto made = halvard::testing::RunCommand(
      "ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 3 -c:v wmv1 -f asf " +
          halvard::testing::ShellQuote(wmv),
      true);
  if (made.status != 0) {
    GTEST_SKIP() << "ffmpeg could not write an ASF file: " << made.output;
  }
  const DurationReader duration = WindowsMediaDuration();
  const auto seconds = duration(wmv);
  ASSERT_TRUE(seconds);
  EXPECT_NEAR(*seconds, 3.0, 0.5);

  // A live stream's header, like that of a file still being written, has no length yet.
  const std::string live = m_root.File("live.wmv");
  ASSERT_EQ(halvard::testing::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 2 -c:v wmv1 "
                                         "-f asf_stream " + halvard::testing::ShellQuote(live), true)
                .status,
            0);
  EXPECT_FALSE(duration(live));

  std::ofstream(m_root.File("text.wmv")) << "not a recording";
  EXPECT_FALSE(duration(m_root.File("text.wmv")));
  EXPECT_FALSE(duration(m_root.File("missing.wmv")));
}

// The whole road of a double click: matrix cell, then file and offset.
TEST_F(RecordingLocatorTest, ADoubleClickOnAnEventLocatesItsFileAndOffset) {
  Index(kDay, "08H-00M-00S.wmv", 1200);
  Index(kDay, "08H-20M-00S.wmv", 1200);
  const std::time_t now = MakeLocalTime(2026, 6, 10, 9, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Gate", MakeLocalTime(2026, 6, 10, 8, 20, 2));
  CEventMatrix matrix;
  matrix.Load({{"Card A", "Gate"}}, source, now);
  matrix.Layout(60);
  const int x = matrix.Rows()[0].cells[0] * CEventMatrix::kCellWidth + 1;
  const auto request = matrix.DoubleClick(x, 30);
  ASSERT_TRUE(request);
  const auto found = FindRecordingAt(request->camera.group, request->camera.input, request->moment,
                                     request->playFrom, Lengths());
  ASSERT_TRUE(found);
  EXPECT_EQ(found->fileName, "08H-20M-00S.wmv");
  EXPECT_EQ(found->offsetSeconds, 0);

  // An empty cell plays from the cell's start.
  const auto empty = matrix.DoubleClick(x + 3 * 5, 30);
  ASSERT_TRUE(empty);
  const auto emptyFound = FindRecordingAt("Card A", "Gate", empty->moment, empty->playFrom, Lengths());
  ASSERT_TRUE(emptyFound);
  EXPECT_EQ(emptyFound->offsetSeconds, 33 * 60 - 20 * 60);  // the cell of 08:33:00
}

}  // namespace
