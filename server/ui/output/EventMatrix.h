#pragma once
/// The event matrix without its widget: one row per camera, one column of cells per
/// "resolution" minutes from the matrix start (a local midnight), and every motion event
/// of a camera as the cell it falls in. This class holds the rows and answers every
/// geometry question of the view: sizes, day bands (true 23- and 25-hour days), the
/// cells of a row in a range of x, hit-testing a point to (row, time), the cursor text.
///
/// Coordinates are logical pixels of the whole matrix: a cell is kCellWidth pixels wide;
/// the top band (row height h) holds the cursor text, row i lies from (i + 1) h to
/// (i + 2) h, and the bottom band holds the time axis and the day labels.
///
/// Threads: the user-interface thread (load, layout, paint and clicks run there).

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::ui {

/// Where the matrix reads the motion events of a camera (the event logs in the server,
/// a table in tests).
class IEventSource {
 public:
  virtual ~IEventSource() = default;
  /// Midnight (local) of the first event's day, or of today when there is none.
  [[nodiscard]] virtual std::time_t FirstEventDate(std::string_view group, std::string_view input) = 0;
  /// How many events the camera's log holds under the counting rule (strictly increasing times).
  [[nodiscard]] virtual int CountEvents(std::string_view group, std::string_view input) = 0;
  /// Fills at most maxCount cell indexes and offsets (seconds within the cell) of the
  /// counted events relative to `start`; returns how many were filled.
  [[nodiscard]] virtual int ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                           int resolutionMinutes, int maxCount, int* cells, int* offsets) = 0;
};

/// One camera: group and input display names.
struct CameraName {
  std::string group;
  std::string input;
};

/// One row of the matrix.
struct EventRow {
  CameraName camera;
  std::string label;          ///< group + "-" + input
  std::vector<int> cells;     ///< ascending cell indexes, one per event (repeats allowed)
  std::vector<int> offsets;   ///< seconds within the cell, same order
};

/// One calendar day of the bottom band. Days are cut at true local midnights, so a day
/// of a clock change is 23 or 25 hours wide.
struct DayBand {
  std::time_t midnight = 0;
  double x = 0;          ///< x of the midnight
  double endX = 0;       ///< x of the next midnight
  double morningEndX = 0;    ///< x of 06:00 (night shading runs from x to here)
  double eveningStartX = 0;  ///< x of 20:00 (night shading runs from here to endX)
  std::string label;     ///< "%02d-%02d %s": month, day, weekday ("SUN" .. "SAT")
};

/// What a double click asks to play.
struct PlayRequest {
  int row = 0;
  CameraName camera;
  std::time_t moment = 0;    ///< the event's time, or the cell's start for a cell without one
  std::time_t playFrom = 0;  ///< where playing starts: kPlayLeadSeconds before an event
  bool onEvent = false;      ///< the cell held an event
};

class CEventMatrix {
 public:
  /// Pixels per cell.
  static constexpr int kCellWidth = 3;
  /// Row height never below this many pixels.
  static constexpr double kMinRowHeight = 20.0;
  /// Minutes per cell by "EM Time Resolution" index.
  static constexpr int kResolutionsMinutes[] = {2, 3, 5, 10, 15, 20};
  static constexpr DWORD kResolutionCount = 6;
  /// Events before this moment are never counted, so the matrix never starts earlier
  /// (a log with a garbled first date would otherwise make it centuries wide).
  static constexpr int kEarliestYear = 2000;
  /// Seconds a double click on an event starts before it.
  static constexpr int kPlayLeadSeconds = 5;

  /// Empty: no rows, start = now, one day of cells at the stored resolution.
  CEventMatrix();

  /// Minutes of a resolution index; an index outside the table (a hand-edited store)
  /// reads as the default index 1 (3 minutes).
  [[nodiscard]] static int ResolutionMinutesOf(DWORD index);

  /// Reloads the rows: resolution from "EM Time Resolution", start = the earliest
  /// FirstEventDate of all cameras but never after today's midnight nor before
  /// kEarliestYear, cell count = (whole days from start to now + 2) x cells per day,
  /// then every row's cells. `now` is the wall clock of the caller
  /// (halvard::time::WallClockNow in the server). Keeps the row height until Layout.
  void Load(const std::vector<CameraName>& cameras, IEventSource& source, std::time_t now);

  /// Row height from the client height: height / (rows + 2), at least kMinRowHeight.
  /// A height of 0 or less keeps the current row height.
  void Layout(int clientHeight);

  [[nodiscard]] int ResolutionMinutes() const { return m_resolutionMinutes; }
  [[nodiscard]] DWORD ResolutionIndex() const { return m_resolutionIndex; }
  [[nodiscard]] int CellsPerHour() const { return 60 / m_resolutionMinutes; }
  [[nodiscard]] std::time_t StartTime() const { return m_start; }
  [[nodiscard]] int CellCount() const { return m_cellCount; }
  [[nodiscard]] double RowHeight() const { return m_rowHeight; }
  [[nodiscard]] const std::vector<EventRow>& Rows() const { return m_rows; }
  [[nodiscard]] int RowCount() const { return static_cast<int>(m_rows.size()); }

  /// Total width: kCellWidth x cell count.
  [[nodiscard]] int TotalWidth() const { return kCellWidth * m_cellCount; }
  /// Total height: (rows + 2) x row height, rounded up.
  [[nodiscard]] int TotalHeight() const;
  /// Scroll steps: a page is one day wide and four rows high; a line is one hour and one row.
  [[nodiscard]] int PageWidth() const { return kCellWidth * 1440 / m_resolutionMinutes; }
  [[nodiscard]] int PageHeight() const { return static_cast<int>(4 * m_rowHeight); }
  [[nodiscard]] int LineWidth() const { return kCellWidth * 60 / m_resolutionMinutes; }
  [[nodiscard]] int LineHeight() const { return static_cast<int>(m_rowHeight); }
  /// Pixels per hour of the time axis.
  [[nodiscard]] double HourWidth() const { return kCellWidth * 60.0 / m_resolutionMinutes; }

  /// x of a moment (may be fractional, negative before the start).
  [[nodiscard]] double XOfTime(std::time_t t) const;
  /// Start of a cell: start + cell x resolution x 60 s.
  [[nodiscard]] std::time_t TimeOfCell(int cell) const;
  /// The cell under an x (floor division; may be outside 0 .. cell count - 1).
  [[nodiscard]] static int CellAtX(int x);
  /// The row under a y, or -1 in the top or bottom band or outside.
  [[nodiscard]] int RowAtY(double y) const;

  /// The days that meet the x range [fromX, toX) (all days: 0, TotalWidth()).
  [[nodiscard]] std::vector<DayBand> DaysBetween(double fromX, double toX) const;
  /// Index range [first, last) into a row's cells of the events whose cell lies in
  /// [fromCell, toCell).
  [[nodiscard]] std::pair<std::size_t, std::size_t> EventsBetween(int row, int fromCell, int toCell) const;
  /// Index of an event of the row in exactly this cell, if any (bisection).
  [[nodiscard]] std::optional<std::size_t> FindEventInCell(int row, int cell) const;

  /// Left click: the cursor snaps to the clicked cell's left edge and reads that cell's
  /// start as "%04d-%02d-%02d %s, %02d:%02d". Clicks outside the matrix's width are
  /// ignored (false).
  bool Click(int x);
  [[nodiscard]] int CursorX() const { return m_cursorX; }
  [[nodiscard]] const std::string& CursorText() const { return m_cursorText; }

  /// Double click: the row and moment to play, or nothing for a point outside the
  /// camera rows or the cells. On a cell with an event the moment is that event less
  /// kPlayLeadSeconds; on an empty cell it is the cell's start.
  [[nodiscard]] std::optional<PlayRequest> DoubleClick(int x, double y) const;

  /// Texts used by the view.
  [[nodiscard]] static std::string CursorTextOf(std::time_t t);
  [[nodiscard]] static std::string DayLabelOf(std::time_t midnight);
  /// Local midnight of the day holding t.
  [[nodiscard]] static std::time_t MidnightOf(std::time_t t);

 private:
  void ReadResolution();

  DWORD m_resolutionIndex = 1;
  int m_resolutionMinutes = 3;
  std::time_t m_start = 0;
  int m_cellCount = 0;
  double m_rowHeight = kMinRowHeight;
  std::vector<EventRow> m_rows;
  int m_cursorX = 0;
  std::string m_cursorText;
};

}  // namespace halvard::ui
