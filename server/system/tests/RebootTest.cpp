#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "server/settings/Settings.h"
#include "server/system/ScheduledReboot.h"
#include "server/system/SystemRestart.h"
#include "server/system/SystemServices.h"
#include "tests/support/TestSupport.h"

using namespace halvard::system;
namespace settings = halvard::settings;

namespace {

// The clock of the tests: local time in a fixed zone with daylight saving.
class RebootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) {
      m_oldTz = tz;
      m_hadTz = true;
    }
    // Central European time, written out so that no zone database is needed.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    m_check.SetClock([this] { return m_now; });
    // Reboot on Sundays at 07 only.
    for (int day = 0; day < 7; ++day) {
      settings::WriteRebootDay(day, day == 0 ? 1 : 0);
    }
    settings::WriteRebootTime(0, 7);
  }
  void TearDown() override {
    if (m_hadTz) {
      setenv("TZ", m_oldTz.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  static std::time_t Local(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
  }

  bool CheckAt(std::time_t when) {
    m_now = when;
    return m_check.IsRebootDue();
  }

  halvard::testing::ScopedRegistry m_registry;
  CRebootCheck m_check;
  std::time_t m_now = 0;
  std::string m_oldTz;
  bool m_hadTz = false;
};

// 6 December 2026 is a Sunday.
constexpr int kYear = 2026;
constexpr int kMonth = 12;
constexpr int kSunday = 6;

TEST_F(RebootTest, TheFirstTickAfterTheHourReboots) {
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 6, 55)));
  EXPECT_TRUE(CheckAt(Local(kYear, kMonth, kSunday, 7, 5)));
  // The same hour does not reboot twice, should the server still be running.
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 25)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 23, 59)));
  // The Sunday after: due again.
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday + 7, 6, 59, 59)));
  EXPECT_TRUE(CheckAt(Local(kYear, kMonth, kSunday + 7, 7, 0, 0)));
}

TEST_F(RebootTest, ExactlyOnTheHourIsDueOnlyWhenThePreviousCheckWasBefore) {
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 6, 59, 59)));
  EXPECT_TRUE(CheckAt(Local(kYear, kMonth, kSunday, 7, 0, 0)));

  m_check.Reset();
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 0, 0)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 0, 0)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 10, 0)));
}

TEST_F(RebootTest, AServerStartedAfterTheHourDoesNotRebootThatDay) {
  for (int minutes = 8 * 60; minutes < 24 * 60; minutes += 20) {
    EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, minutes / 60, minutes % 60))) << minutes;
  }
  // Monday to Saturday are off.
  for (int day = kSunday + 1; day < kSunday + 7; ++day) {
    EXPECT_FALSE(CheckAt(Local(kYear, kMonth, day, 7, 5)));
  }
  EXPECT_TRUE(CheckAt(Local(kYear, kMonth, kSunday + 7, 7, 5)));
}

TEST_F(RebootTest, RebootSwitchedOffIsNeverDueButStillMovesTheLastCheck) {
  settings::kReboot.Write(0);
  for (int day = 0; day < 7; ++day) {
    settings::WriteRebootDay(day, 1);
  }
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 6, 55)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 5)));
  EXPECT_EQ(m_check.LastCheck(), Local(kYear, kMonth, kSunday, 7, 5));
  // Switched on again: the last check lies after 07:00, so today stays quiet.
  settings::kReboot.Write(1);
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, kSunday, 7, 25)));
}

TEST_F(RebootTest, TwoGroupsShareTheCheckAndOnlyTheFirstTickPastTheHourReboots) {
  // Group A ticks every 20 minutes from 06:30, group B every 10 minutes from 06:52.
  std::vector<std::pair<std::time_t, char>> ticks;
  for (int m = 6 * 60 + 30; m < 8 * 60; m += 20) {
    ticks.emplace_back(Local(kYear, kMonth, kSunday, m / 60, m % 60), 'A');
  }
  for (int m = 6 * 60 + 52; m < 8 * 60; m += 10) {
    ticks.emplace_back(Local(kYear, kMonth, kSunday, m / 60, m % 60), 'B');
  }
  std::sort(ticks.begin(), ticks.end());
  std::vector<char> rebooted;
  for (const auto& [when, group] : ticks) {
    if (CheckAt(when)) {
      rebooted.push_back(group);
      EXPECT_EQ(when, Local(kYear, kMonth, kSunday, 7, 2));
    }
  }
  EXPECT_EQ(rebooted, std::vector<char>{'B'});
}

TEST_F(RebootTest, ScheduledHourFollowsTheDayAndItsStoredTime) {
  settings::WriteRebootDay(3, 1);  // Wednesday at 23
  settings::WriteRebootTime(3, 23);
  const int wednesday = kSunday + 3;
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, wednesday, 22, 50)));
  EXPECT_TRUE(CheckAt(Local(kYear, kMonth, wednesday, 23, 10)));

  // An hour no dialog can store never reboots rather than landing on another day.
  settings::WriteRebootTime(3, 30);
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, wednesday + 7, 5, 50)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, wednesday + 7, 6, 10)));
  EXPECT_FALSE(CheckAt(Local(kYear, kMonth, wednesday + 8, 6, 10)));
}

TEST_F(RebootTest, DaylightSavingDaysUseTheLocalHour) {
  // 25 October 2026: clocks go back at 03:00 CEST. 07:00 is CET.
  EXPECT_FALSE(CheckAt(Local(kYear, 10, 25, 6, 55)));
  EXPECT_TRUE(CheckAt(Local(kYear, 10, 25, 7, 5)));
  // 29 March 2026: 02:00 does not exist; the check falls on the first tick after it.
  settings::WriteRebootTime(0, 2);
  m_check.Reset();
  EXPECT_FALSE(CheckAt(Local(kYear, 3, 29, 1, 50)));
  EXPECT_TRUE(CheckAt(Local(kYear, 3, 29, 3, 10)));
}

TEST(BootSchedule, DefaultsAndTheDialogsValuesGoThroughTheStore) {
  halvard::testing::ScopedRegistry registry;
  BootScheduleSettings values = ReadBootScheduleSettings();
  EXPECT_TRUE(values.bootAutoStart);
  EXPECT_TRUE(values.lockDesktop);
  EXPECT_TRUE(values.schedule.enabled);
  for (int day = 0; day < 7; ++day) {
    EXPECT_TRUE(values.schedule.days[day]);
    EXPECT_EQ(values.schedule.hours[day], 7u);
  }
  values.bootAutoStart = false;
  values.schedule.enabled = false;
  values.schedule.days[6] = false;
  values.schedule.hours[6] = 23;
  WriteBootScheduleSettings(values);
  EXPECT_EQ(settings::kBootAutoStart.Read(), 0u);
  EXPECT_EQ(settings::kPrivacyLockDesktop.Read(), 1u);
  EXPECT_EQ(settings::kReboot.Read(), 0u);
  EXPECT_EQ(settings::ReadRebootDay(6), 0u);
  EXPECT_EQ(settings::ReadRebootTime(6), 23u);
  EXPECT_EQ(settings::ValueNames(settings::kSystemPath).front(), "Boot Auto Start");
}

TEST(RebootHourLabel, TwentyFourLabels) {
  EXPECT_EQ(RebootHourLabel(0), "00AM");
  EXPECT_EQ(RebootHourLabel(7), "07AM");
  EXPECT_EQ(RebootHourLabel(12), "12AM");
  EXPECT_EQ(RebootHourLabel(13), "13PM");
  EXPECT_EQ(RebootHourLabel(23), "23PM");
  EXPECT_EQ(RebootHourLabel(24), "");
  EXPECT_EQ(RebootHourLabel(-1), "");
}

// ---- the reboot sequence ------------------------------------------------------------

struct SequenceLog {
  std::vector<std::string> steps;
  RebootHooks Hooks(std::time_t now) {
    RebootHooks hooks;
    hooks.stopAllGroups = [this] { steps.push_back("stop"); };
    hooks.startAllGroups = [this] { steps.push_back("start"); };
    hooks.postCloseRequest = [this] { steps.push_back("close"); };
    hooks.reportFailure = [this](std::string_view text) { steps.push_back("report: " + std::string(text)); };
    hooks.wait = [this](DWORD ms) {
      steps.push_back("wait " + std::to_string(ms) + " shutdown=" + settings::kLastShutdown.Read());
    };
    hooks.clock = [now] { return now; };
    return hooks;
  }
};

TEST(ScheduledReboot, StopsWritesWaitsRestartsAndCloses) {
  halvard::testing::ScopedRegistry registry;
  const std::time_t now = 1796540400;  // a Sunday morning
  SequenceLog log;
  CRecordingRestart restart(S_OK);
  EXPECT_EQ(RunScheduledReboot(log.Hooks(now), restart, "The surveillance server restarts the computer."), S_OK);

  const std::string shutdown = LongDateTimeText(now);
  EXPECT_FALSE(shutdown.empty());
  EXPECT_EQ(settings::kLastShutdown.Read(), shutdown);
  EXPECT_EQ(log.steps, (std::vector<std::string>{"stop", "wait 15000 shutdown=" + shutdown, "close"}));
  ASSERT_EQ(restart.Requests().size(), 1u);
  EXPECT_EQ(restart.Requests()[0].message, "The surveillance server restarts the computer.");
  EXPECT_EQ(restart.Requests()[0].countdownSeconds, 10u);
}

TEST(ScheduledReboot, ARefusedRestartKeepsTheServerRunning) {
  halvard::testing::ScopedRegistry registry;
  SequenceLog log;
  CRecordingRestart restart(E_ACCESSDENIED);
  EXPECT_EQ(RunScheduledReboot(log.Hooks(1796540400), restart, "message"), E_ACCESSDENIED);
  ASSERT_EQ(log.steps.size(), 4u);
  EXPECT_EQ(log.steps[0], "stop");
  EXPECT_EQ(log.steps[2].rfind("report: The scheduled reboot did not take place", 0), 0u) << log.steps[2];
  EXPECT_EQ(log.steps[3], "start");
  EXPECT_EQ(restart.Requests().size(), 1u);
}

TEST(ScheduledReboot, SessionEndStopsWritesAndWaits) {
  halvard::testing::ScopedRegistry registry;
  SequenceLog log;
  PrepareForSessionEnd(log.Hooks(1796540400));
  EXPECT_EQ(log.steps,
            (std::vector<std::string>{"stop", "wait 4500 shutdown=" + LongDateTimeText(1796540400)}));
}

TEST(MessagePumpWait, TimersAndPostedCallsRunDuringTheWait) {
  // Tests never need a display; the runner's environment may not say so.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int argc = 1;
  char name[] = "system_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  int fired = 0;
  QTimer::singleShot(5, [&] { ++fired; });
  QMetaObject::invokeMethod(&app, [&] { ++fired; }, Qt::QueuedConnection);
  QElapsedTimer elapsed;
  elapsed.start();
  MessagePumpWait(60);
  EXPECT_EQ(fired, 2);
  EXPECT_GE(elapsed.elapsed(), 55);
}

// ---- systemd-logind ------------------------------------------------------------------

class LogindRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_runner.SetInstalled({"busctl"});
    m_runner.AddResponder([](const std::vector<std::string>& argv, CommandOutcome* out) {
      if (argv.back() == "WallMessage") {
        out->output = R"({"type":"s","data":"earlier \"note\""})";
        return true;
      }
      if (argv.back() == "EnableWallMessages") {
        out->output = R"({"type":"b","data":false})";
        return true;
      }
      return false;
    });
  }
  CRecordingRunner m_runner;
  std::time_t m_now = 1796540400;
};

TEST_F(LogindRestartTest, SetsTheMessageThenSchedulesTenSecondsAhead) {
  CLogindRestart restart(m_runner, [this] { return m_now; });
  std::string failure = "stale";
  EXPECT_EQ(restart.RestartSystem("-Restart now", 10, &failure), S_OK);
  EXPECT_EQ(failure, "");
  const auto commands = m_runner.Commands();
  ASSERT_EQ(commands.size(), 4u);
  const std::vector<std::string> call{"busctl", "--system", "--allow-interactive-authorization=no", "--", "call",
                                      "org.freedesktop.login1",
                                      "/org/freedesktop/login1", "org.freedesktop.login1.Manager"};
  auto expect = call;
  expect.insert(expect.end(), {"SetWallMessage", "sb", "-Restart now", "true"});
  EXPECT_EQ(commands[2], expect);
  expect = call;
  expect.insert(expect.end(), {"ScheduleShutdown", "st", "reboot", std::to_string((m_now + 10) * 1000000LL)});
  EXPECT_EQ(commands[3], expect);
}

TEST_F(LogindRestartTest, ARefusalPutsThePreviousMessageBack) {
  m_runner.AddResponder([](const std::vector<std::string>& argv, CommandOutcome* out) {
    if (argv.size() > 8 && argv[8] == "ScheduleShutdown") {
      out->exitCode = 1;
      out->output = "Call failed: Access denied\n";
      return true;
    }
    return false;
  });
  CLogindRestart restart(m_runner, [this] { return m_now; });
  std::string failure;
  EXPECT_EQ(restart.RestartSystem("Restart", 10, &failure), E_ACCESSDENIED);
  EXPECT_NE(failure.find("Access denied"), std::string::npos) << failure;
  const auto commands = m_runner.Commands();
  ASSERT_EQ(commands.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(commands[4].begin() + 8, commands[4].end()),
            (std::vector<std::string>{"SetWallMessage", "sb", "earlier \"note\"", "false"}));
}

TEST_F(LogindRestartTest, AnUnreachableLoginManagerChangesNothing) {
  CRecordingRunner runner;
  runner.SetInstalled({"busctl"});
  runner.AddResponder([](const std::vector<std::string>&, CommandOutcome* out) {
    out->exitCode = 1;
    out->output = "Failed to connect to bus: No such file or directory\n";
    return true;
  });
  CLogindRestart restart(runner, [this] { return m_now; });
  std::string failure;
  EXPECT_EQ(restart.RestartSystem("Restart", 10, &failure), E_FAIL);
  EXPECT_NE(failure.find("Failed to connect to bus"), std::string::npos) << failure;
  for (const auto& argv : runner.Commands()) {
    EXPECT_EQ(std::find(argv.begin(), argv.end(), "call"), argv.end());
  }

  CRecordingRunner none;
  CLogindRestart without(none);
  EXPECT_EQ(without.RestartSystem("Restart", 10, &failure), E_FAIL);
  EXPECT_TRUE(none.Commands().empty());
  EXPECT_NE(failure.find("busctl"), std::string::npos);
}

TEST(SystemServices, ProcessesWithSystemChangesOffNeverRestartTheComputer) {
  halvard::testing::ScopedRegistry registry;
  setenv("HALVARD_SYSTEM_CHANGES", "off", 1);
  std::string failure;
  EXPECT_EQ(ProcessSystemRestart().RestartSystem("message", 10, &failure), E_ACCESSDENIED);
  EXPECT_NE(failure.find("HALVARD_SYSTEM_CHANGES=off"), std::string::npos);

  LockdownNotes notes;
  EXPECT_EQ(ProcessSystemLockdown().ApplyRemoteDesktop(RemoteDesktop::Enable, &notes), S_FALSE);
  EXPECT_FALSE(notes.empty());
  EXPECT_EQ(ProcessSystemLockdown().ApplyPowerSettings(&notes), S_FALSE);
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes[0].find("HALVARD_SYSTEM_CHANGES=off"), std::string::npos) << notes[0];
}

}  // namespace
