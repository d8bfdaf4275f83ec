#pragma once
/// Shared parts of the output pane tests: the English texts of the pane, an event source
/// from a table, and a QApplication for the whole test program (created by a global
/// test environment, so every test runs with one).

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "server/ui/output/EventMatrix.h"
#include "server/ui/output/OutputTexts.h"

namespace halvard::ui::outputtest {

/// The texts the pane uses, as the string table words them.
[[nodiscard]] TextSource EnglishTexts();

/// Events per camera as times; FirstEventDate, CountEvents and ReadEventCells follow the
/// rules of the event logs (midnight of the first event's day or today, strictly
/// increasing times counted, cells and offsets from whole minutes).
class CTableEventSource final : public IEventSource {
 public:
  explicit CTableEventSource(std::time_t now) : m_now(now) {}
  void Add(const std::string& group, const std::string& input, std::time_t t) { m_events[group + "|" + input].push_back(t); }
  void SetNow(std::time_t now) { m_now = now; }

  [[nodiscard]] std::time_t FirstEventDate(std::string_view group, std::string_view input) override;
  [[nodiscard]] int CountEvents(std::string_view group, std::string_view input) override;
  [[nodiscard]] int ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                   int resolutionMinutes, int maxCount, int* cells, int* offsets) override;

 private:
  [[nodiscard]] std::vector<std::time_t> Counted(std::string_view group, std::string_view input) const;
  std::time_t m_now;
  std::map<std::string, std::vector<std::time_t>> m_events;
};

/// Sets TZ for the lifetime of the object (POSIX rule strings need no time-zone files).
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::string m_previous;
  bool m_had = false;
};

}  // namespace halvard::ui::outputtest
