#include "server/system/ScheduledReboot.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

#include "platform/com/Com.h"
#include "server/settings/Settings.h"

namespace halvard::system {

void MessagePumpWait(DWORD periodMs) {
  if (QCoreApplication::instance() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
    return;
  }
  // A local loop with a one-shot timer: the timer is a child of the loop, so nothing
  // fires into a finished wait.
  QEventLoop loop;
  QTimer timer(&loop);
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(std::chrono::milliseconds(periodMs));
  loop.exec(QEventLoop::AllEvents);
}

void WriteLastShutdown(std::time_t when) { settings::kLastShutdown.Write(LongDateTimeText(when)); }
void WriteLastStartup(std::time_t when) { settings::kLastStartup.Write(LongDateTimeText(when)); }

namespace {

std::time_t Now(const RebootHooks& hooks) { return hooks.clock ? hooks.clock() : SystemWallClock(); }

void Wait(const RebootHooks& hooks, DWORD periodMs) {
  if (hooks.wait) {
    hooks.wait(periodMs);
  } else {
    MessagePumpWait(periodMs);
  }
}

}  // namespace

HRESULT RunScheduledReboot(const RebootHooks& hooks, ISystemRestart& restart, std::string_view shutdownMessage) {
  if (hooks.stopAllGroups) {
    hooks.stopAllGroups();
  }
  WriteLastShutdown(Now(hooks));
  Wait(hooks, kRebootWaitMs);

  std::string failure;
  const HRESULT hr = restart.RestartSystem(shutdownMessage, kRestartCountdownSeconds, &failure);
  if (SUCCEEDED(hr)) {
    if (hooks.postCloseRequest) {
      hooks.postCloseRequest();
    }
    return S_OK;
  }
  if (hooks.reportFailure) {
    hooks.reportFailure("The scheduled reboot did not take place: " + failure);
  }
  if (hooks.startAllGroups) {
    hooks.startAllGroups();
  }
  return hr;
}

void PrepareForSessionEnd(const RebootHooks& hooks) {
  if (hooks.stopAllGroups) {
    hooks.stopAllGroups();
  }
  WriteLastShutdown(Now(hooks));
  Wait(hooks, kSessionEndWaitMs);
}

}  // namespace halvard::system
