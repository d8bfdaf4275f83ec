#include "server/ui/output/EventMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"

namespace halvard::ui {

namespace {

constexpr const char* kWeekdays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};

// A log far larger than a year of events of a busy camera is cut here, so one runaway
// file cannot take the memory of the whole server.
constexpr int kMaxEventsPerRow = 1 << 22;

std::tm LocalOf(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

const char* WeekdayOf(const std::tm& local) {
  return local.tm_wday >= 0 && local.tm_wday < 7 ? kWeekdays[local.tm_wday] : "???";
}

}  // namespace

CEventMatrix::CEventMatrix() {
  ReadResolution();
  m_start = halvard::time::WallClockNow();
  m_cellCount = 1440 / m_resolutionMinutes;
}

int CEventMatrix::ResolutionMinutesOf(DWORD index) {
  return kResolutionsMinutes[index < kResolutionCount ? index : 1];
}

void CEventMatrix::ReadResolution() {
  const DWORD stored = settings::kEmTimeResolution.Read();
  m_resolutionIndex = stored < kResolutionCount ? stored : settings::kEmTimeResolution.def;
  m_resolutionMinutes = ResolutionMinutesOf(m_resolutionIndex);
}

void CEventMatrix::Load(const std::vector<CameraName>& cameras, IEventSource& source, std::time_t now) {
  m_rows.clear();
  ReadResolution();

  const std::time_t today = MidnightOf(now);
  const std::time_t earliest = halvard::time::MakeLocalTime(kEarliestYear, 1, 1);
  std::time_t start = today;
  for (const CameraName& camera : cameras) {
    start = std::min(start, source.FirstEventDate(camera.group, camera.input));
  }
  // FirstEventDate gives midnights; a source that does not is brought to one, so day
  // bands and cell boundaries stay aligned.
  m_start = std::max(MidnightOf(start), std::min(earliest, today));

  const std::int64_t days = (now - m_start) / 86400;
  const std::int64_t cells = (days + 2) * (1440 / m_resolutionMinutes);
  // The matrix must stay addressable by 32-bit scroll positions.
  m_cellCount = static_cast<int>(std::min<std::int64_t>(cells, 0x7FFFFFFF / kCellWidth));

  m_rows.reserve(cameras.size());
  for (const CameraName& camera : cameras) {
    EventRow row;
    row.camera = camera;
    row.label = camera.group + "-" + camera.input;
    const int count = std::clamp(source.CountEvents(camera.group, camera.input), 0, kMaxEventsPerRow);
    row.cells.resize(static_cast<std::size_t>(count));
    row.offsets.resize(static_cast<std::size_t>(count));
    int filled = 0;
    if (count > 0) {
      filled = std::clamp(source.ReadEventCells(camera.group, camera.input, m_start, m_resolutionMinutes, count,
                                                row.cells.data(), row.offsets.data()),
                          0, count);
    }
    row.cells.resize(static_cast<std::size_t>(filled));
    row.offsets.resize(static_cast<std::size_t>(filled));
    // Hit-testing bisects the cells; a log read by the counting rule is ascending, but
    // the order is what the bisection relies on, so it is made sure of here.
    if (!std::is_sorted(row.cells.begin(), row.cells.end())) {
      std::vector<std::size_t> order(row.cells.size());
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::stable_sort(order.begin(), order.end(),
                       [&row](std::size_t a, std::size_t b) { return row.cells[a] < row.cells[b]; });
      std::vector<int> cellsSorted;
      std::vector<int> offsetsSorted;
      cellsSorted.reserve(order.size());
      offsetsSorted.reserve(order.size());
      for (std::size_t i : order) {
        cellsSorted.push_back(row.cells[i]);
        offsetsSorted.push_back(row.offsets[i]);
      }
      row.cells = std::move(cellsSorted);
      row.offsets = std::move(offsetsSorted);
    }
    m_rows.push_back(std::move(row));
  }
  // A cursor from the previous load would name another moment now.
  m_cursorX = 0;
  m_cursorText.clear();
}

void CEventMatrix::Layout(int clientHeight) {
  if (clientHeight <= 0) {
    return;
  }
  m_rowHeight = std::max(kMinRowHeight, static_cast<double>(clientHeight) / (RowCount() + 2));
}

int CEventMatrix::TotalHeight() const { return static_cast<int>(std::ceil((RowCount() + 2) * m_rowHeight)); }

double CEventMatrix::XOfTime(std::time_t t) const {
  return static_cast<double>(t - m_start) / 60.0 * kCellWidth / m_resolutionMinutes;
}

std::time_t CEventMatrix::TimeOfCell(int cell) const {
  return m_start + static_cast<std::time_t>(cell) * m_resolutionMinutes * 60;
}

int CEventMatrix::CellAtX(int x) { return x >= 0 ? x / kCellWidth : -((-x + kCellWidth - 1) / kCellWidth); }

int CEventMatrix::RowAtY(double y) const {
  if (y < 0) {
    return -1;
  }
  const int row = static_cast<int>(std::floor(y / m_rowHeight)) - 1;
  return row >= 0 && row < RowCount() ? row : -1;
}

std::vector<DayBand> CEventMatrix::DaysBetween(double fromX, double toX) const {
  std::vector<DayBand> days;
  const double total = TotalWidth();
  toX = std::min(toX, total);
  // Jump close to the first visible day: a day is one page wide but for clock changes,
  // which move a midnight by an hour at most per change; noon of the estimated day is
  // always within that day, then step back one day to be safe.
  const auto estimate = static_cast<std::int64_t>(std::floor(std::max(0.0, fromX) / PageWidth())) - 1;
  std::time_t midnight = m_start;
  if (estimate > 0) {
    midnight = MidnightOf(m_start + static_cast<std::time_t>(estimate) * 86400 + 43200);
  }
  double x = XOfTime(midnight);
  while (x < toX) {
    const std::tm local = LocalOf(midnight);
    const int year = local.tm_year + 1900;
    const int month = local.tm_mon + 1;
    // The next midnight from 25 hours on, so days of 23 and 25 hours get their true width.
    const std::time_t next = MidnightOf(midnight + 25 * 3600);
    DayBand day;
    day.midnight = midnight;
    day.x = x;
    day.endX = XOfTime(next);
    day.morningEndX = XOfTime(halvard::time::MakeLocalTime(year, month, local.tm_mday, 6));
    day.eveningStartX = XOfTime(halvard::time::MakeLocalTime(year, month, local.tm_mday, 20));
    if (day.endX > fromX) {
      day.label = DayLabelOf(midnight);
      days.push_back(std::move(day));
    }
    if (next <= midnight) {
      break;  // a broken time zone; never loop for ever
    }
    midnight = next;
    x = XOfTime(midnight);
  }
  return days;
}

std::pair<std::size_t, std::size_t> CEventMatrix::EventsBetween(int row, int fromCell, int toCell) const {
  if (row < 0 || row >= RowCount()) {
    return {0, 0};
  }
  const std::vector<int>& cells = m_rows[static_cast<std::size_t>(row)].cells;
  const auto first = std::lower_bound(cells.begin(), cells.end(), fromCell);
  const auto last = std::lower_bound(first, cells.end(), toCell);
  return {static_cast<std::size_t>(first - cells.begin()), static_cast<std::size_t>(last - cells.begin())};
}

std::optional<std::size_t> CEventMatrix::FindEventInCell(int row, int cell) const {
  const auto [first, last] = EventsBetween(row, cell, cell + 1);
  if (first == last) {
    return std::nullopt;
  }
  return first;
}

bool CEventMatrix::Click(int x) {
  const int cell = CellAtX(x);
  if (cell < 0 || cell >= m_cellCount) {
    return false;
  }
  m_cursorX = kCellWidth * cell;
  m_cursorText = CursorTextOf(TimeOfCell(cell));
  return true;
}

std::optional<PlayRequest> CEventMatrix::DoubleClick(int x, double y) const {
  const int row = RowAtY(y);
  const int cell = CellAtX(x);
  if (row < 0 || cell < 0 || cell >= m_cellCount) {
    return std::nullopt;
  }
  PlayRequest request;
  request.row = row;
  request.camera = m_rows[static_cast<std::size_t>(row)].camera;
  request.moment = TimeOfCell(cell);
  request.playFrom = request.moment;
  if (const auto event = FindEventInCell(row, cell)) {
    request.moment += m_rows[static_cast<std::size_t>(row)].offsets[*event];
    request.playFrom = request.moment - kPlayLeadSeconds;
    request.onEvent = true;
  }
  return request;
}

std::string CEventMatrix::CursorTextOf(std::time_t t) {
  const std::tm local = LocalOf(t);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %s, %02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, WeekdayOf(local), local.tm_hour, local.tm_min);
  return text;
}

std::string CEventMatrix::DayLabelOf(std::time_t midnight) {
  const std::tm local = LocalOf(midnight);
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d %s", local.tm_mon + 1, local.tm_mday, WeekdayOf(local));
  return text;
}

std::time_t CEventMatrix::MidnightOf(std::time_t t) {
  const std::tm local = LocalOf(t);
  return halvard::time::MakeLocalTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace halvard::ui
