#pragma once
/// The scheduled reboot sequence, the end-of-session sequence, and the wait that keeps
/// the user interface running.

#include <functional>
#include <string>
#include <string_view>

#include "platform/base/WinTypes.h"
#include "server/system/RebootSchedule.h"
#include "server/system/SystemRestart.h"

namespace halvard::system {

/// Waits `periodMs` while the Qt event loop keeps dispatching events and timers, so the
/// windows stay drawn and other timers fire during the wait. Without a Qt application
/// it simply sleeps. Thread: the user-interface thread.
void MessagePumpWait(DWORD periodMs);

/// What the sequences need from the server. Every hook may be empty.
struct RebootHooks {
  /// Stops every camera group of this process (rotation timers, pipelines, recordings).
  std::function<void()> stopAllGroups;
  /// Starts the groups again; used when the restart is refused, so that the server
  /// goes on recording instead of sitting stopped.
  std::function<void()> startAllGroups;
  /// Posts a close request to the main window (taken up after the sequence returns).
  std::function<void()> postCloseRequest;
  /// Tells the operator about a refused restart (a line of the output pane).
  std::function<void(std::string_view)> reportFailure;
  /// The wait; MessagePumpWait when empty.
  std::function<void(DWORD periodMs)> wait;
  /// The time written to "Last Shutdown"; the system clock when empty.
  WallClock clock;
};

inline constexpr DWORD kRebootWaitMs = 15000;
inline constexpr DWORD kRestartCountdownSeconds = 10;
inline constexpr DWORD kSessionEndWaitMs = 4500;

/// The scheduled reboot, run when the reboot check is due: stops all groups, writes
/// "Last Shutdown" with the long date and time, waits kRebootWaitMs pumping events,
/// asks `restart` for a restart in kRestartCountdownSeconds with `shutdownMessage`,
/// and, once the system has accepted, posts the close request.
/// Results: S_OK when the restart is on its way; otherwise the restart's failure code,
/// after the failure was reported and the groups were started again (the server stays
/// open and recording).
/// Thread: the user-interface thread.
[[nodiscard]] HRESULT RunScheduledReboot(const RebootHooks& hooks, ISystemRestart& restart,
                                         std::string_view shutdownMessage);

/// The end of the user's session (logout or a shutdown started elsewhere): stops all
/// groups, writes "Last Shutdown" and waits kSessionEndWaitMs pumping events, after
/// which the session may end. Thread: the user-interface thread.
void PrepareForSessionEnd(const RebootHooks& hooks);

/// Writes "Last Shutdown" (or, with kLastStartup, "Last Startup") as the long date
/// and time of `when`.
void WriteLastShutdown(std::time_t when);
void WriteLastStartup(std::time_t when);

}  // namespace halvard::system
