#pragma once
/// The process's own instances of the system services, as the server uses them.
///
/// $HALVARD_SYSTEM_CHANGES=off keeps a process from changing the workstation: the
/// restart is refused with a message, and the lockdown records its settings-store
/// values but runs no tool and writes its display-manager files below
/// <data>/system-root/ instead of /. Test programs and demonstrations set it.

#include "server/system/CommandRunner.h"
#include "server/system/DesktopLock.h"
#include "server/system/Lockdown.h"
#include "server/system/SystemRestart.h"

namespace halvard::system {

/// False when $HALVARD_SYSTEM_CHANGES is "off" (read at each call).
[[nodiscard]] bool SystemChangesAllowed();

/// Desktop tools with a time-out of two minutes (room for an authorisation prompt).
[[nodiscard]] ICommandRunner& ProcessCommandRunner();
/// CLogindRestart, or a refusing restart when system changes are off.
[[nodiscard]] ISystemRestart& ProcessSystemRestart();
/// CLinuxLockdown on this desktop (see SystemChangesAllowed).
[[nodiscard]] ISystemLockdown& ProcessSystemLockdown();
[[nodiscard]] IScreenSaver& ProcessScreenSaver();
[[nodiscard]] IZelLock& ProcessZelLock();

/// A restart that is always refused (E_ACCESSDENIED) with the given reason.
class CRefusedRestart final : public ISystemRestart {
 public:
  explicit CRefusedRestart(std::string reason) : m_reason(std::move(reason)) {}
  [[nodiscard]] HRESULT RestartSystem(std::string_view message, DWORD countdownSeconds, std::string* failure) override;

 private:
  std::string m_reason;
};

/// A runner that runs nothing: every tool "could not be started" with the reason.
class CRefusingRunner final : public ICommandRunner {
 public:
  explicit CRefusingRunner(std::string reason) : m_reason(std::move(reason)) {}
  [[nodiscard]] CommandOutcome Run(const std::vector<std::string>& argv) override;
  [[nodiscard]] bool HasProgram(const std::string& name) override;

 private:
  std::string m_reason;
};

}  // namespace halvard::system
