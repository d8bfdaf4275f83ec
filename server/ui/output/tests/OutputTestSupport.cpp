#include "server/ui/output/tests/OutputTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/time/Time.h"
#include "server/ui/output/EventMatrix.h"

namespace halvard::ui::outputtest {

namespace {

class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "ui_output_tests";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { m_app.reset(); }

 private:
  std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

TextSource EnglishTexts() {
  static const std::map<unsigned, std::string> kTexts{
      {kTextMessageLogTab, "Messages"},
      {kTextEventMatrixTab, "Event Matrix"},
      {kTextMenuProperties, "Properties"},
      {kTextMenuReload, "Event Matrix Reload"},
      {kTextPropertiesTitle, "Event Matrix Properties"},
      {kTextResolutionChoice, "%02d minutes"},
      {kTextOk, "OK"},
      {kTextCancel, "Cancel"},
      {kTextRecordingNotFound, "No recording of this camera holds that moment."},
      {kTextRecordingCannotOpen, "The recording could not be opened:"},
      {kTextPropertiesPrompt, "Choose the time one cell of the event matrix stands for."},
      {kTextReloadPrompt, "Reload Event Matrix"},
      {kTextResolutionLabel, "Time resolution of one cell:"},
  };
  return [](unsigned id) {
    const auto it = kTexts.find(id);
    return it != kTexts.end() ? it->second : std::string();
  };
}

std::vector<std::time_t> CTableEventSource::Counted(std::string_view group, std::string_view input) const {
  std::vector<std::time_t> counted;
  const auto it = m_events.find(std::string(group) + "|" + std::string(input));
  if (it == m_events.end()) {
    return counted;
  }
  std::time_t last = halvard::time::MakeLocalTime(2000, 1, 1);
  for (std::time_t t : it->second) {
    if (t > last) {
      counted.push_back(t);
      last = t;
    }
  }
  return counted;
}

std::time_t CTableEventSource::FirstEventDate(std::string_view group, std::string_view input) {
  const std::time_t today = CEventMatrix::MidnightOf(m_now);
  const auto it = m_events.find(std::string(group) + "|" + std::string(input));
  if (it == m_events.end() || it->second.empty()) {
    return today;
  }
  return std::min(today, CEventMatrix::MidnightOf(it->second.front()));
}

int CTableEventSource::CountEvents(std::string_view group, std::string_view input) {
  return static_cast<int>(Counted(group, input).size());
}

int CTableEventSource::ReadEventCells(std::string_view group, std::string_view input, std::time_t start,
                                      int resolutionMinutes, int maxCount, int* cells, int* offsets) {
  int filled = 0;
  for (std::time_t t : Counted(group, input)) {
    if (filled >= maxCount) {
      break;
    }
    const std::int64_t minutes = (t - start) / 60;
    std::tm local{};
    localtime_r(&t, &local);
    cells[filled] = static_cast<int>(minutes / resolutionMinutes);
    offsets[filled] = static_cast<int>(minutes % resolutionMinutes) * 60 + local.tm_sec;
    ++filled;
  }
  return filled;
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  if (const char* previous = std::getenv("TZ")) {
    m_previous = previous;
    m_had = true;
  }
  setenv("TZ", tz, 1);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (m_had) {
    setenv("TZ", m_previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace halvard::ui::outputtest
