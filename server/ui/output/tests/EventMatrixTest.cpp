#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"
#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/tests/OutputTestSupport.h"
#include "tests/support/TestSupport.h"

using halvard::time::MakeLocalTime;
using namespace halvard::ui;
namespace settings = halvard::settings;

namespace {

// Central European time: clocks go forward on the last Sunday of March at 02:00 and back
// on the last Sunday of October at 03:00.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

class EventMatrixTest : public ::testing::Test {
 protected:
  halvard::testing::ScopedRegistry m_registry;
  outputtest::ScopedTimeZone m_zone{kCentralEurope};
  const std::vector<CameraName> m_cameras{{"Card A", "Gate"}, {"Card A", "Yard"}, {"Card B", "Hall"}};
};

TEST_F(EventMatrixTest, EventsAllTodayGiveTwoDaysOfCellsAtTheDefaultResolution) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Gate", MakeLocalTime(2026, 6, 10, 8, 0, 0));
  source.Add("Card A", "Gate", MakeLocalTime(2026, 6, 10, 8, 1, 30));
  source.Add("Card B", "Hall", MakeLocalTime(2026, 6, 10, 14, 59, 59));

  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.ResolutionMinutes(), 3);
  EXPECT_EQ(matrix.StartTime(), MakeLocalTime(2026, 6, 10));
  EXPECT_EQ(matrix.CellCount(), 960);
  EXPECT_EQ(matrix.TotalWidth(), 2880);
  EXPECT_EQ(matrix.PageWidth(), 1440);
  EXPECT_EQ(matrix.LineWidth(), 60);

  ASSERT_EQ(matrix.RowCount(), 3);
  EXPECT_EQ(matrix.Rows()[0].label, "Card A-Gate");
  EXPECT_EQ(matrix.Rows()[2].label, "Card B-Hall");
  EXPECT_EQ(matrix.Rows()[0].cells, (std::vector<int>{160, 160}));
  EXPECT_EQ(matrix.Rows()[0].offsets, (std::vector<int>{0, 90}));
  EXPECT_TRUE(matrix.Rows()[1].cells.empty());
  EXPECT_EQ(matrix.Rows()[2].cells, (std::vector<int>{299}));
  EXPECT_EQ(matrix.Rows()[2].offsets, (std::vector<int>{179}));

  // Rows share the client height, never thinner than 20 pixels.
  matrix.Layout(250);
  EXPECT_DOUBLE_EQ(matrix.RowHeight(), 50.0);
  EXPECT_EQ(matrix.TotalHeight(), 250);
  matrix.Layout(60);
  EXPECT_DOUBLE_EQ(matrix.RowHeight(), 20.0);
  EXPECT_EQ(matrix.TotalHeight(), 100);
  matrix.Layout(0);  // a collapsed pane keeps the last layout
  EXPECT_DOUBLE_EQ(matrix.RowHeight(), 20.0);
}

TEST_F(EventMatrixTest, TheEarliestFirstEventDayStartsTheMatrixAndTheStoredResolutionSetsTheCells) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Yard", MakeLocalTime(2026, 6, 8, 23, 59, 0));
  source.Add("Card B", "Hall", MakeLocalTime(2026, 6, 9, 1, 0, 0));

  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.StartTime(), MakeLocalTime(2026, 6, 8));
  EXPECT_EQ(matrix.CellCount(), 4 * 480);  // two whole days passed, plus two
  EXPECT_EQ(matrix.Rows()[1].cells, (std::vector<int>{479}));

  settings::kEmTimeResolution.Write(0);
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.ResolutionMinutes(), 2);
  EXPECT_EQ(matrix.CellCount(), 4 * 720);
  EXPECT_EQ(matrix.Rows()[2].cells, (std::vector<int>{750}));

  settings::kEmTimeResolution.Write(5);
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.ResolutionMinutes(), 20);
  EXPECT_EQ(matrix.CellCount(), 4 * 72);

  // A hand-edited index outside the table reads as the default, never past the table.
  settings::kEmTimeResolution.Write(6);
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.ResolutionMinutes(), 3);
  EXPECT_EQ(matrix.ResolutionIndex(), 1u);
}

TEST_F(EventMatrixTest, AGarbledFirstDateCannotMakeTheMatrixCenturiesWide) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Gate", MakeLocalTime(1901, 1, 1, 0, 0, 0));
  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  EXPECT_EQ(matrix.StartTime(), MakeLocalTime(2000, 1, 1));
  EXPECT_GT(matrix.TotalWidth(), 0);
}

TEST_F(EventMatrixTest, DaysOfTheClockChangesAreTwentyFiveAndTwentyThreeHoursWide) {
  // Autumn: Sunday 25 October 2026 has 25 hours.
  std::time_t now = MakeLocalTime(2026, 10, 26, 12, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Gate", MakeLocalTime(2026, 10, 24, 10, 0, 0));
  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  ASSERT_EQ(matrix.StartTime(), MakeLocalTime(2026, 10, 24));
  EXPECT_EQ(matrix.CellCount(), 4 * 480);  // 2 days and 13 hours since the start

  std::vector<DayBand> days = matrix.DaysBetween(0, matrix.TotalWidth());
  ASSERT_EQ(days.size(), 4u);
  EXPECT_EQ(days[0].label, "10-24 SAT");
  EXPECT_EQ(days[1].label, "10-25 SUN");
  EXPECT_EQ(days[2].label, "10-26 MON");
  EXPECT_EQ(days[3].label, "10-27 TUE");
  EXPECT_DOUBLE_EQ(days[0].endX - days[0].x, 24 * 60.0);
  EXPECT_DOUBLE_EQ(days[1].x, 1440.0);
  EXPECT_DOUBLE_EQ(days[1].endX - days[1].x, 25 * 60.0);
  EXPECT_DOUBLE_EQ(days[2].x, 2940.0);
  // The night of the long day ends at 06:00 on the clock, seven hours after midnight.
  EXPECT_DOUBLE_EQ(days[1].morningEndX - days[1].x, 7 * 60.0);
  EXPECT_DOUBLE_EQ(days[1].eveningStartX - days[1].x, 21 * 60.0);
  EXPECT_DOUBLE_EQ(days[2].morningEndX - days[2].x, 6 * 60.0);
  // An event after the change lands on its clock time within the long day.
  source.Add("Card A", "Gate", MakeLocalTime(2026, 10, 25, 12, 0, 0));
  matrix.Load(m_cameras, source, now);
  EXPECT_DOUBLE_EQ(matrix.XOfTime(MakeLocalTime(2026, 10, 25, 12, 0, 0)), days[1].x + 13 * 60.0);
  EXPECT_EQ(matrix.Rows()[0].cells.back() * CEventMatrix::kCellWidth, 1440 + 13 * 60);

  // Spring: Sunday 29 March 2026 has 23 hours.
  now = MakeLocalTime(2026, 3, 30, 9, 0, 0);
  outputtest::CTableEventSource spring(now);
  spring.Add("Card A", "Gate", MakeLocalTime(2026, 3, 28, 10, 0, 0));
  matrix.Load(m_cameras, spring, now);
  days = matrix.DaysBetween(0, matrix.TotalWidth());
  ASSERT_GE(days.size(), 3u);
  EXPECT_EQ(days[1].label, "03-29 SUN");
  EXPECT_DOUBLE_EQ(days[1].endX - days[1].x, 23 * 60.0);
  EXPECT_DOUBLE_EQ(days[2].x, 1440.0 + 1380.0);
  EXPECT_DOUBLE_EQ(days[1].morningEndX - days[1].x, 5 * 60.0);

  // A range in the middle yields only the days it meets, found without walking from the start.
  const std::vector<DayBand> middle = matrix.DaysBetween(1500, 1600);
  ASSERT_EQ(middle.size(), 1u);
  EXPECT_EQ(middle[0].label, "03-29 SUN");
}

TEST_F(EventMatrixTest, LeftClickSnapsTheCursorToTheCellAndNamesItsStart) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  EXPECT_TRUE(matrix.CursorText().empty());

  EXPECT_TRUE(matrix.Click(1000));  // cell 333: 999 minutes after midnight
  EXPECT_EQ(matrix.CursorX(), 999);
  EXPECT_EQ(matrix.CursorText(), "2026-06-10 WED, 16:39");
  EXPECT_TRUE(matrix.Click(2));
  EXPECT_EQ(matrix.CursorX(), 0);
  EXPECT_EQ(matrix.CursorText(), "2026-06-10 WED, 00:00");
  EXPECT_TRUE(matrix.Click(2879));
  EXPECT_EQ(matrix.CursorText(), "2026-06-11 THU, 23:57");
  // Outside the cells nothing changes.
  EXPECT_FALSE(matrix.Click(2880));
  EXPECT_FALSE(matrix.Click(-1));
  EXPECT_EQ(matrix.CursorText(), "2026-06-11 THU, 23:57");

  // A reload forgets the cursor: its moment may no longer be where it was drawn.
  matrix.Load(m_cameras, source, now);
  EXPECT_TRUE(matrix.CursorText().empty());
}

TEST_F(EventMatrixTest, PositionsBeyondSixteenBitsKeepTheirTime) {
  settings::kEmTimeResolution.Write(0);  // 2 minutes: a year is 792,000 pixels wide
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Gate", MakeLocalTime(2025, 6, 10, 9, 0, 0));
  source.Add("Card A", "Gate", MakeLocalTime(2026, 6, 1, 12, 34, 56));
  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  ASSERT_GT(matrix.TotalWidth(), 700000);
  const int x = matrix.Rows()[0].cells[1] * 3 + 1;
  ASSERT_GT(x, 65535);
  EXPECT_TRUE(matrix.Click(x));
  EXPECT_EQ(matrix.CursorText(), "2026-06-01 MON, 12:34");
  matrix.Layout(100);
  const auto request = matrix.DoubleClick(x, 25);
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->onEvent);
  EXPECT_EQ(request->moment, MakeLocalTime(2026, 6, 1, 12, 34, 56));
}

TEST_F(EventMatrixTest, DoubleClickPlaysFiveSecondsBeforeAnEventOrFromTheCellStart) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  outputtest::CTableEventSource source(now);
  source.Add("Card A", "Yard", MakeLocalTime(2026, 6, 10, 8, 1, 30));
  source.Add("Card A", "Yard", MakeLocalTime(2026, 6, 10, 8, 2, 10));  // same cell, later
  source.Add("Card A", "Yard", MakeLocalTime(2026, 6, 10, 9, 0, 2));
  CEventMatrix matrix;
  matrix.Load(m_cameras, source, now);
  matrix.Layout(100);  // five bands of 20 pixels
  ASSERT_DOUBLE_EQ(matrix.RowHeight(), 20.0);

  // Row 1 ("Yard") lies from y = 40 to 60; cell 160 from x = 480 to 483.
  auto request = matrix.DoubleClick(481, 45);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->row, 1);
  EXPECT_EQ(request->camera.group, "Card A");
  EXPECT_EQ(request->camera.input, "Yard");
  EXPECT_TRUE(request->onEvent);
  const std::time_t moment = request->moment;
  EXPECT_TRUE(moment == MakeLocalTime(2026, 6, 10, 8, 1, 30) || moment == MakeLocalTime(2026, 6, 10, 8, 2, 10));
  EXPECT_EQ(request->playFrom, moment - 5);

  // The same place on a row without events: the cell's start.
  request = matrix.DoubleClick(481, 25);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->row, 0);
  EXPECT_FALSE(request->onEvent);
  EXPECT_EQ(request->playFrom, MakeLocalTime(2026, 6, 10, 8, 0, 0));
  EXPECT_EQ(request->moment, request->playFrom);

  // The bands above and below the rows, and outside the cells, play nothing.
  EXPECT_FALSE(matrix.DoubleClick(481, 10));
  EXPECT_FALSE(matrix.DoubleClick(481, 80));
  EXPECT_FALSE(matrix.DoubleClick(481, 1000));
  EXPECT_FALSE(matrix.DoubleClick(2880, 45));

  // Hit tests of the painting: events of a range, and a cell next to an event is empty.
  EXPECT_EQ(matrix.EventsBetween(1, 0, 960), (std::pair<std::size_t, std::size_t>{0, 3}));
  EXPECT_EQ(matrix.EventsBetween(1, 161, 960), (std::pair<std::size_t, std::size_t>{2, 3}));
  EXPECT_FALSE(matrix.FindEventInCell(1, 159));
  EXPECT_FALSE(matrix.FindEventInCell(1, 161));
  EXPECT_EQ(matrix.FindEventInCell(1, 180), 2u);
}

// A source that hands out cells in the wrong order and more than it was asked for.
class CCarelessSource final : public IEventSource {
 public:
  std::time_t FirstEventDate(std::string_view, std::string_view) override { return m_today; }
  int CountEvents(std::string_view, std::string_view) override { return 3; }
  int ReadEventCells(std::string_view, std::string_view, std::time_t, int, int maxCount, int* cells,
                     int* offsets) override {
    const int values[] = {50, 10, 30};
    for (int i = 0; i < maxCount && i < 3; ++i) {
      cells[i] = values[i];
      offsets[i] = i;
    }
    return 99;
  }
  std::time_t m_today = 0;
};

TEST_F(EventMatrixTest, RowsStaySortedAndBoundedWhateverTheSourceReturns) {
  const std::time_t now = MakeLocalTime(2026, 6, 10, 15, 0, 0);
  CCarelessSource source;
  source.m_today = MakeLocalTime(2026, 6, 10);
  CEventMatrix matrix;
  matrix.Load({{"G", "I"}}, source, now);
  ASSERT_EQ(matrix.RowCount(), 1);
  EXPECT_EQ(matrix.Rows()[0].cells, (std::vector<int>{10, 30, 50}));
  EXPECT_EQ(matrix.Rows()[0].offsets, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(matrix.FindEventInCell(0, 30), 1u);
}

}  // namespace
