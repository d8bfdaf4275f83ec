#include "server/system/RebootSchedule.h"

#include <QDateTime>
#include <QLocale>

#include <cstdio>

#include "server/settings/Settings.h"

namespace halvard::system {

namespace settings = halvard::settings;

std::time_t SystemWallClock() { return std::time(nullptr); }

RebootSchedule ReadRebootSchedule() {
  RebootSchedule schedule;
  schedule.enabled = settings::kReboot.Read() != 0;
  for (int day = 0; day < 7; ++day) {
    schedule.days[static_cast<std::size_t>(day)] = settings::ReadRebootDay(day) != 0;
    schedule.hours[static_cast<std::size_t>(day)] = settings::ReadRebootTime(day);
  }
  return schedule;
}

BootScheduleSettings ReadBootScheduleSettings() {
  BootScheduleSettings values;
  values.bootAutoStart = settings::kBootAutoStart.Read() != 0;
  values.lockDesktop = settings::kPrivacyLockDesktop.Read() != 0;
  values.schedule = ReadRebootSchedule();
  return values;
}

void WriteBootScheduleSettings(const BootScheduleSettings& values) {
  settings::kBootAutoStart.Write(values.bootAutoStart ? 1 : 0);
  settings::kPrivacyLockDesktop.Write(values.lockDesktop ? 1 : 0);
  for (int day = 0; day < 7; ++day) {
    settings::WriteRebootDay(day, values.schedule.days[static_cast<std::size_t>(day)] ? 1 : 0);
  }
  settings::kReboot.Write(values.schedule.enabled ? 1 : 0);
  for (int day = 0; day < 7; ++day) {
    settings::WriteRebootTime(day, values.schedule.hours[static_cast<std::size_t>(day)]);
  }
}

std::optional<std::time_t> ScheduledTimeOfDay(const RebootSchedule& schedule, std::time_t now) {
  if (!schedule.enabled) {
    return std::nullopt;
  }
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr || local.tm_wday < 0 || local.tm_wday > 6) {
    return std::nullopt;
  }
  const auto day = static_cast<std::size_t>(local.tm_wday);
  if (!schedule.days[day]) {
    return std::nullopt;
  }
  // An hour the dialog cannot produce would otherwise be carried into another day.
  if (schedule.hours[day] > 23) {
    return std::nullopt;
  }
  local.tm_hour = static_cast<int>(schedule.hours[day]);
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  const std::time_t at = std::mktime(&local);
  if (at == static_cast<std::time_t>(-1)) {
    return std::nullopt;
  }
  return at;
}

CRebootCheck::CRebootCheck(WallClock clock) : m_clock(std::move(clock)) {}

bool CRebootCheck::IsRebootDue() { return IsRebootDue(ReadRebootSchedule()); }

bool CRebootCheck::IsRebootDue(const RebootSchedule& schedule) {
  const std::lock_guard lock(m_mutex);
  const std::time_t now = m_clock ? m_clock() : SystemWallClock();
  const std::optional<std::time_t> at = ScheduledTimeOfDay(schedule, now);
  const bool due = at && m_lastCheck && *m_lastCheck < *at && *at <= now;
  // Moved on a due check as well: should the restart be refused, the server keeps
  // running, and the next tick must not stop every group again for the same hour.
  m_lastCheck = now;
  return due;
}

std::optional<std::time_t> CRebootCheck::LastCheck() const {
  const std::lock_guard lock(m_mutex);
  return m_lastCheck;
}

void CRebootCheck::SetClock(WallClock clock) {
  const std::lock_guard lock(m_mutex);
  m_clock = std::move(clock);
}

void CRebootCheck::Reset() {
  const std::lock_guard lock(m_mutex);
  m_lastCheck.reset();
}

CRebootCheck& ProcessRebootCheck() {
  static CRebootCheck check;
  return check;
}

std::string RebootHourLabel(int hour) {
  if (hour < 0 || hour > 23) {
    return {};
  }
  char label[8];
  std::snprintf(label, sizeof label, "%02d%s", hour, hour <= 12 ? "AM" : "PM");
  return label;
}

std::string LongDateTimeText(std::time_t when) {
  const QDateTime local = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when));
  return QLocale::system().toString(local, QLocale::LongFormat).toStdString();
}

}  // namespace halvard::system
