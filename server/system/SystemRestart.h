#pragma once
/// Restarting the workstation: one interface, the systemd-logind implementation used
/// by the server, and a recording one for tests.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/system/CommandRunner.h"
#include "server/system/RebootSchedule.h"

namespace halvard::system {

/// Asks the system to restart the computer.
class ISystemRestart {
 public:
  virtual ~ISystemRestart() = default;
  /// Schedules a restart `countdownSeconds` from now, showing `message` to every
  /// logged-in user; running programs are ended by the restart itself.
  /// Results: S_OK when the system accepted the request; E_ACCESSDENIED when it
  /// refused it (the caller lacks the right to restart); E_FAIL when the restart
  /// service could not be reached or failed. On failure nothing has changed and
  /// *failure (cleared on entry, may be null) says why.
  [[nodiscard]] virtual HRESULT RestartSystem(std::string_view message, DWORD countdownSeconds,
                                              std::string* failure) = 0;
};

/// Restart through systemd-logind on the system bus (via busctl), with the caller's
/// own privileges as the login manager's policy grants them: sets the wall message,
/// then schedules a reboot at now + countdown. When the schedule is refused the
/// previous wall message is put back, so a refusal leaves nothing behind.
class CLogindRestart final : public ISystemRestart {
 public:
  /// runner and clock must outlive the object; the clock gives the wall time that the
  /// countdown is added to.
  explicit CLogindRestart(ICommandRunner& runner, WallClock clock = SystemWallClock);
  [[nodiscard]] HRESULT RestartSystem(std::string_view message, DWORD countdownSeconds, std::string* failure) override;

 private:
  ICommandRunner& m_runner;
  WallClock m_clock;
};

/// Records the requests and answers with a set result. Threads: any.
class CRecordingRestart final : public ISystemRestart {
 public:
  struct Request {
    std::string message;
    DWORD countdownSeconds = 0;
  };
  explicit CRecordingRestart(HRESULT answer = 0) : m_answer(answer) {}
  [[nodiscard]] HRESULT RestartSystem(std::string_view message, DWORD countdownSeconds, std::string* failure) override;
  void SetAnswer(HRESULT answer);
  [[nodiscard]] std::vector<Request> Requests() const;

 private:
  mutable std::mutex m_mutex;
  HRESULT m_answer;
  std::vector<Request> m_requests;
};

}  // namespace halvard::system
