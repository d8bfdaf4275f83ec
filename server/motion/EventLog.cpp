#include "server/motion/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/time/Time.h"
#include "server/settings/Settings.h"

namespace halvard::motion {
namespace {

constexpr const char* kWeekdays[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
// The reading buffer of the log holds 63 characters and the terminator.
constexpr std::size_t kLineChars = 63;
// Numbers are clamped so that no later arithmetic (year - 1900, day + 1, ...) overflows.
constexpr long kFieldLimit = 100000000;

struct EventFields {
  int hour, minute, second, month, day, year;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The scanning rules of "%d:%d:%d, %*s %d/%d/%d": %d and %s skip leading white space,
// a blank in the format skips any white space (also none), other characters must match.
class CScanner {
 public:
  CScanner(const char* begin, const char* end) : m_p(begin), m_end(end) {}

  bool Int(int* out) {
    SkipSpace();
    bool negative = false;
    if (m_p < m_end && (*m_p == '+' || *m_p == '-')) {
      negative = *m_p == '-';
      ++m_p;
    }
    if (m_p == m_end || *m_p < '0' || *m_p > '9') {
      return false;
    }
    long value = 0;
    while (m_p < m_end && *m_p >= '0' && *m_p <= '9') {
      if (value < kFieldLimit) {
        value = value * 10 + (*m_p - '0');
      }
      ++m_p;
    }
    value = value > kFieldLimit ? kFieldLimit : value;
    *out = static_cast<int>(negative ? -value : value);
    return true;
  }
  bool Literal(char c) {
    if (m_p < m_end && *m_p == c) {
      ++m_p;
      return true;
    }
    return false;
  }
  void SkipSpace() {
    while (m_p < m_end && IsSpace(*m_p)) {
      ++m_p;
    }
  }
  bool SkipWord() {
    SkipSpace();
    const char* start = m_p;
    while (m_p < m_end && !IsSpace(*m_p)) {
      ++m_p;
    }
    return m_p != start;
  }

 private:
  const char* m_p;
  const char* m_end;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int Digits(const char* p, int n) {
  int value = 0;
  for (int i = 0; i < n; ++i) {
    value = value * 10 + (p[i] - '0');
  }
  return value;
}

// The lines this program writes, "13:05:22, TUE 05/01/2007", read at fixed places;
// exactly what the general scan gives for them, several times faster.
bool ScanWrittenLine(std::string_view line, EventFields* f) {
  constexpr std::size_t kLength = 24;
  if (line.size() < kLength || (line.size() > kLength && IsDigit(line[kLength]))) {
    return false;
  }
  const char* p = line.data();
  constexpr int kDigitAt[] = {0, 1, 3, 4, 6, 7, 14, 15, 17, 18, 20, 21, 22, 23};
  for (int i : kDigitAt) {
    if (!IsDigit(p[i])) {
      return false;
    }
  }
  if (p[2] != ':' || p[5] != ':' || p[8] != ',' || p[9] != ' ' || IsSpace(p[10]) || IsSpace(p[11]) ||
      IsSpace(p[12]) || p[13] != ' ' || p[16] != '/' || p[19] != '/') {
    return false;
  }
  f->hour = Digits(p, 2);
  f->minute = Digits(p + 3, 2);
  f->second = Digits(p + 6, 2);
  f->month = Digits(p + 14, 2);
  f->day = Digits(p + 17, 2);
  f->year = Digits(p + 20, 4);
  return true;
}

bool ScanEventLine(std::string_view line, EventFields* f) {
  if (line.size() > kLineChars) {
    line = line.substr(0, kLineChars);
  }
  if (ScanWrittenLine(line, f)) {
    return true;
  }
  CScanner s(line.data(), line.data() + line.size());
  if (!s.Int(&f->hour) || !s.Literal(':') || !s.Int(&f->minute) || !s.Literal(':') || !s.Int(&f->second) ||
      !s.Literal(',')) {
    return false;
  }
  s.SkipSpace();
  if (!s.SkipWord()) {
    return false;
  }
  s.SkipSpace();
  return s.Int(&f->month) && s.Literal('/') && s.Int(&f->day) && s.Literal('/') && s.Int(&f->year);
}

// Days since 1970-01-01 of a proleptic Gregorian date (linear in the day, so day 30 of
// February is 2 March, as mktime normalises it).
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// Local time of parsed fields. mktime checks the time-zone file at every call, far too
// slow for a year of events of sixteen cameras, so the midnight of each day is found
// from the UTC offset of the day before and confirmed with localtime_r (which does not
// re-check): on a day whose offset is the same at its first and last second (no
// daylight-saving change) the time of day simply adds. Other days, and fields out of
// range, go through mktime as a whole.
class CLocalTimeCache {
 public:
  std::optional<std::time_t> Convert(const EventFields& f) {
    const bool plainTime = f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59 && f.second >= 0 &&
                           f.second <= 59;
    if (plainTime) {
      if (!m_valid || f.year != m_year || f.month != m_month || f.day != m_day) {
        NewDay(f);
      }
      if (m_uniform) {
        return m_midnight + f.hour * 3600 + f.minute * 60 + f.second;
      }
    }
    const std::time_t t = time::MakeLocalTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
    if (t == -1) {
      return std::nullopt;
    }
    return t;
  }

 private:
  void NewDay(const EventFields& f) {
    m_year = f.year;
    m_month = f.month;
    m_day = f.day;
    m_valid = true;
    if (m_haveOffset && f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= 31 && f.year >= 1 && f.year <= 9999) {
      const std::time_t guess =
          static_cast<std::time_t>(DaysFromCivil(f.year, f.month, f.day) * 86400 - m_offset);
      std::tm start{};
      std::tm end{};
      const std::time_t last = guess + 86399;
      if (localtime_r(&guess, &start) != nullptr && localtime_r(&last, &end) != nullptr &&
          start.tm_year + 1900 == f.year && start.tm_mon + 1 == f.month && start.tm_mday == f.day &&
          start.tm_hour == 0 && start.tm_min == 0 && start.tm_sec == 0 && start.tm_gmtoff == m_offset &&
          end.tm_gmtoff == m_offset) {
        m_midnight = guess;
        m_uniform = true;
        return;
      }
    }
    m_midnight = time::MakeLocalTime(f.year, f.month, f.day);
    const std::time_t next = time::MakeLocalTime(f.year, f.month, f.day + 1);
    m_uniform = m_midnight != -1 && next != -1 && next - m_midnight == 86400;
    std::tm local{};
    if (m_uniform && localtime_r(&m_midnight, &local) != nullptr) {
      m_offset = local.tm_gmtoff;
      m_haveOffset = true;
    }
  }

  bool m_valid = false;
  bool m_uniform = false;
  bool m_haveOffset = false;
  long m_offset = 0;
  int m_year = 0, m_month = 0, m_day = 0;
  std::time_t m_midnight = 0;
};

// Replaces what a file name cannot hold.
std::string FileNamePart(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || c == '\\' || (static_cast<unsigned char>(c) < 0x20) || c == 0x7f) {
      c = '_';
    }
  }
  return out;
}

// The whole file in one read; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* data) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    data->reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    data->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// Walks the lines of a log: each call gives the next line without its line end.
class CLineReader {
 public:
  explicit CLineReader(std::string_view data) : m_data(data) {}
  bool Next(std::string_view* line, std::size_t* lineStart) {
    if (m_pos >= m_data.size()) {
      return false;
    }
    *lineStart = m_pos;
    const std::size_t end = m_data.find('\n', m_pos);
    const std::size_t stop = end == std::string_view::npos ? m_data.size() : end;
    *line = m_data.substr(m_pos, stop - m_pos);
    m_pos = end == std::string_view::npos ? m_data.size() : end + 1;
    return true;
  }

 private:
  std::string_view m_data;
  std::size_t m_pos = 0;
};

// The reading rule: calls accept(time, seconds field) for every counted event until it
// returns false; ends at the first line that does not parse.
template <class Accept>
void ForEachCountedEvent(std::string_view data, Accept accept) {
  CLocalTimeCache cache;
  std::time_t last = time::MakeLocalTime(2000, 1, 1);
  CLineReader reader(data);
  std::string_view line;
  std::size_t start = 0;
  while (reader.Next(&line, &start)) {
    EventFields f{};
    if (!ScanEventLine(line, &f)) {
      return;
    }
    const std::optional<std::time_t> t = cache.Convert(f);
    if (!t) {
      return;
    }
    if (*t > last) {
      last = *t;
      if (!accept(*t, f.second)) {
        return;
      }
    }
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string EventTimeText(const std::tm& local) {
  const char* weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? kWeekdays[local.tm_wday] : "???";
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d, %s %02d/%02d/%04d", local.tm_hour, local.tm_min, local.tm_sec,
                weekday, local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
  return text;
}

std::optional<std::time_t> ParseEventLine(std::string_view line) {
  EventFields f{};
  if (!ScanEventLine(line, &f)) {
    return std::nullopt;
  }
  CLocalTimeCache cache;
  return cache.Convert(f);
}

std::string EventLogPath(std::string_view group, std::string_view input) {
  if (group.empty() || input.empty()) {
    return {};
  }
  std::string card = settings::kCardFriendlyName.Read(group);
  if (card.empty()) {
    card = std::string(group);
    settings::kCardFriendlyName.Write(group, card);
  }
  std::string original = settings::kInputOriginalName.Read(group, input);
  if (original.empty()) {
    original = std::string(input);
    settings::kInputOriginalName.Write(group, input, original);
  }
  return settings::ReadMotionEventDir(group, input) + FileNamePart(card) + "-" + FileNamePart(original) + ".txt";
}

void AppendEventLog(std::string_view group, std::string_view input, std::string_view line) {
  const std::string path = EventLogPath(group, input);
  if (path.empty()) {
    return;
  }
  const std::string dir = settings::ReadMotionEventDir(group, input);
  if (!dir.empty()) {
    std::string folder = dir;
    while (folder.size() > 1 && folder.back() == '/') {
      folder.pop_back();
    }
    ::mkdir(folder.c_str(), 0777);  // one level; an error shows when the log is opened
  }
  std::string text(line.substr(0, line.find_first_of("\r\n")));
  text += "\r\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    return;
  }
  (void)WriteAll(fd, text);  // one write of a short line: appended whole or not at all
  ::close(fd);
}

std::time_t FirstEventDate(std::string_view group, std::string_view input) {
  const std::tm now = time::LocalTimeNow();
  const std::time_t today = time::MakeLocalTime(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  std::string data;
  if (!ReadWholeFile(EventLogPath(group, input), &data)) {
    return today;
  }
  CLineReader reader(data);
  std::string_view line;
  std::size_t start = 0;
  EventFields f{};
  if (!reader.Next(&line, &start) || !ScanEventLine(line, &f)) {
    return today;
  }
  const std::time_t first = time::MakeLocalTime(f.year, f.month, f.day);
  return first != -1 && first < today ? first : today;
}

int CountEvents(std::string_view group, std::string_view input) {
  std::string data;
  if (!ReadWholeFile(EventLogPath(group, input), &data)) {
    return 0;
  }
  int count = 0;
  ForEachCountedEvent(data, [&](std::time_t, int) {
    ++count;
    return true;
  });
  return count;
}

int ReadEventCells(std::string_view group, std::string_view input, std::time_t start, int resolutionMinutes,
                   int maxCount, int* cells, int* offsets) {
  if (resolutionMinutes < 1 || maxCount < 1 || cells == nullptr || offsets == nullptr) {
    return 0;
  }
  std::string data;
  if (!ReadWholeFile(EventLogPath(group, input), &data)) {
    return 0;
  }
  int filled = 0;
  const std::int64_t resolution = resolutionMinutes;
  ForEachCountedEvent(data, [&](std::time_t t, int seconds) {
    const std::int64_t minutes = (static_cast<std::int64_t>(t) - static_cast<std::int64_t>(start)) / 60;
    cells[filled] = static_cast<int>(minutes / resolution);
    offsets[filled] = static_cast<int>((minutes % resolution) * 60 + seconds);
    ++filled;
    return filled < maxCount;
  });
  return filled;
}

void TrimEventLog(std::string_view group, std::string_view input, int days) {
  const std::string path = EventLogPath(group, input);
  std::string data;
  if (path.empty() || !ReadWholeFile(path, &data)) {
    return;
  }
  const std::time_t cutOff = time::WallClockNow() - static_cast<std::time_t>(days) * 86400;
  CLocalTimeCache cache;
  CLineReader reader(data);
  std::string_view line;
  std::size_t lineStart = 0;
  std::optional<std::size_t> keepFrom;
  while (reader.Next(&line, &lineStart)) {
    EventFields f{};
    if (!ScanEventLine(line, &f)) {
      continue;
    }
    const std::optional<std::time_t> t = cache.Convert(f);
    if (t && *t >= cutOff) {
      keepFrom = lineStart;
      break;
    }
  }
  if (!keepFrom) {
    ::unlink(path.c_str());
    return;
  }
  if (*keepFrom == 0) {
    return;  // nothing to cut
  }
  const std::string scratch = path + "2";
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    return;
  }
  const bool written = WriteAll(fd, std::string_view(data).substr(*keepFrom)) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  // rename replaces the log in one step: a crash leaves either the old or the new log.
  if (!written || !closed || ::rename(scratch.c_str(), path.c_str()) != 0) {
    ::unlink(scratch.c_str());
  }
}

}  // namespace halvard::motion
