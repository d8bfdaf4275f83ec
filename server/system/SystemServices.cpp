#include "server/system/SystemServices.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/com/Com.h"
#include "server/settings/Settings.h"
#include "server/system/LinuxLockdown.h"

namespace halvard::system {

namespace {
constexpr const char* kChangesOff =
    "changes to this computer are switched off for this process (HALVARD_SYSTEM_CHANGES=off)";
}  // namespace

bool SystemChangesAllowed() {
  const char* value = std::getenv("HALVARD_SYSTEM_CHANGES");
  return value == nullptr || std::string_view(value) != "off";
}

HRESULT CRefusedRestart::RestartSystem(std::string_view, DWORD, std::string* failure) {
  if (failure != nullptr) {
    *failure = m_reason;
  }
  return E_ACCESSDENIED;
}

CommandOutcome CRefusingRunner::Run(const std::vector<std::string>&) {
  CommandOutcome outcome;
  outcome.exitCode = CommandOutcome::kNotStarted;
  outcome.output = m_reason;
  return outcome;
}

bool CRefusingRunner::HasProgram(const std::string&) { return true; }

ICommandRunner& ProcessCommandRunner() {
  static CProcessRunner runner(std::chrono::minutes(2));
  return runner;
}

ISystemRestart& ProcessSystemRestart() {
  static CLogindRestart logind(ProcessCommandRunner());
  static CRefusedRestart refused(kChangesOff);
  if (!SystemChangesAllowed()) {
    return refused;
  }
  return logind;
}

ISystemLockdown& ProcessSystemLockdown() {
  static std::mutex mutex;
  static std::unique_ptr<CLinuxLockdown> real;
  static std::unique_ptr<CLinuxLockdown> contained;
  static CRefusingRunner refusing(kChangesOff);
  const std::lock_guard lock(mutex);
  if (SystemChangesAllowed()) {
    if (!real) {
      real = std::make_unique<CLinuxLockdown>(LinuxDesktop::FromEnvironment(), ProcessCommandRunner());
    }
    return *real;
  }
  if (!contained) {
    LinuxDesktop desktop = LinuxDesktop::FromEnvironment();
    desktop.root = settings::DataRoot() + "system-root";
    contained = std::make_unique<CLinuxLockdown>(desktop, refusing);
  }
  return *contained;
}

IScreenSaver& ProcessScreenSaver() {
  static CDesktopScreenSaver screenSaver(ProcessCommandRunner(), LinuxDesktop::FromEnvironment().hasX11Display);
  return screenSaver;
}

IZelLock& ProcessZelLock() {
  static CZelLock zelLock;
  return zelLock;
}

}  // namespace halvard::system
