#pragma once
/// The weekly reboot schedule: the reboot check that every camera group runs from its
/// file-rotation tick, the hour labels of the schedule dialog, and the long time text
/// written to "Last Startup" and "Last Shutdown".
///
/// The check is due at the first tick after the scheduled hour: a check is due when
/// the previous check of the process happened before today's scheduled time and the
/// scheduled time has come (last check < T <= now). The first check of a process is
/// never due, so a server started after the hour does not reboot that day.

#include <array>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/WinTypes.h"

namespace halvard::system {

/// Wall-clock time in seconds since the epoch. Replaceable for tests.
using WallClock = std::function<std::time_t()>;
/// std::time(nullptr).
[[nodiscard]] std::time_t SystemWallClock();

/// The stored schedule ("Reboot", "Reboot <weekday>", "Reboot <weekday> Time").
struct RebootSchedule {
  bool enabled = true;
  std::array<bool, 7> days{true, true, true, true, true, true, true};  ///< Sunday first
  std::array<DWORD, 7> hours{7, 7, 7, 7, 7, 7, 7};                      ///< 0..23
};
[[nodiscard]] RebootSchedule ReadRebootSchedule();

/// The values of the "Boot Schedule" dialog. Nothing is applied when they are written:
/// the next reboot check reads them.
struct BootScheduleSettings {
  bool bootAutoStart = true;  ///< "Boot Auto Start"
  bool lockDesktop = true;    ///< "Privacy Lock Desktop"
  RebootSchedule schedule;
};
[[nodiscard]] BootScheduleSettings ReadBootScheduleSettings();
/// Writes in the dialog's order: "Boot Auto Start", "Privacy Lock Desktop", the seven
/// day values, "Reboot", the seven hours.
void WriteBootScheduleSettings(const BootScheduleSettings& values);

/// Today's scheduled reboot time for the day of `now` in local time (daylight saving
/// decided by the system), or nullopt when the schedule is off, the day is off, or the
/// stored hour is not 0..23.
[[nodiscard]] std::optional<std::time_t> ScheduledTimeOfDay(const RebootSchedule& schedule, std::time_t now);

/// The reboot check with its last-check time.
///
/// Threads: any; the last-check time is guarded by a mutex, so the checks of several
/// groups (all on the user-interface thread in the server) never race.
class CRebootCheck {
 public:
  explicit CRebootCheck(WallClock clock = SystemWallClock);

  /// Reads the schedule from the settings store and decides at the clock's now.
  [[nodiscard]] bool IsRebootDue();
  /// The same decision against a given schedule.
  [[nodiscard]] bool IsRebootDue(const RebootSchedule& schedule);

  /// The last check, nullopt before the first one.
  [[nodiscard]] std::optional<std::time_t> LastCheck() const;
  void SetClock(WallClock clock);
  /// Forgets the last check (as a fresh process).
  void Reset();

 private:
  mutable std::mutex m_mutex;
  WallClock m_clock;
  std::optional<std::time_t> m_lastCheck;
};

/// The check shared by every group of this process.
[[nodiscard]] CRebootCheck& ProcessRebootCheck();

/// Label of an hour in the schedule dialog's lists: "00AM" .. "12AM", "13PM" .. "23PM"
/// (24-hour clock number; "AM" up to 12). Empty for hours outside 0..23.
[[nodiscard]] std::string RebootHourLabel(int hour);

/// The locale's long date and time of `when` in local time, e.g.
/// "Sunday, December 6, 2026 7:00:00 AM UTC" in an English locale.
[[nodiscard]] std::string LongDateTimeText(std::time_t when);

}  // namespace halvard::system
