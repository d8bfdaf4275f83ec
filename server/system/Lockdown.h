#pragma once
/// Locking the workstation down for unattended surveillance: automatic logon, remote
/// desktop, AutoRun of removable media, panel auto-hide, the plain (classic) visual
/// style and power management, as one interface; the logic of the lockdown dialog's
/// OK; and a recording implementation for tests.
///
/// Every implementation records, besides its real effect, the Windows-named values of
/// the settings store that the lockdown has always written, so that tools and
/// peers reading those values see what they expect (CLinuxLockdown does; see there).

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::system {

enum class AutoLogon { Disable, Enable };
enum class RemoteDesktop { Disable, Enable };
enum class Autorun { Allow, Disable };
enum class TaskbarHiding { Normal, AutoHide };
enum class VisualStyle { Default, Classic };
enum class PowerSettings { Leave, Apply };

/// Texts about what could not be applied on this desktop, one per item, for the user.
using LockdownNotes = std::vector<std::string>;

/// The lockdown actions. Every method clears *notes on entry (notes may be null).
/// Results common to all: S_OK when everything was applied; S_FALSE when the
/// settings-store values were written but part of the desktop's side could not be
/// applied (each such part is one line of *notes: nothing is left out silently).
/// Threads: the user-interface thread; the calls run desktop tools and wait for them.
class ISystemLockdown {
 public:
  virtual ~ISystemLockdown() = default;
  /// Automatic logon of `userName` after start-up. E_FAIL, with nothing changed, when
  /// enabling while no automatic logon was ever configured ("AutoAdminLogon" has no
  /// text) and the user name or the password is empty. With both given, the user name
  /// is recorded; the password is never written to any file.
  [[nodiscard]] virtual HRESULT ApplyAutoLogon(AutoLogon mode, std::string_view userName, std::string_view password,
                                               LockdownNotes* notes) = 0;
  [[nodiscard]] virtual HRESULT ApplyRemoteDesktop(RemoteDesktop mode, LockdownNotes* notes) = 0;
  [[nodiscard]] virtual HRESULT ApplyAutorun(Autorun mode, LockdownNotes* notes) = 0;
  [[nodiscard]] virtual HRESULT ApplyTaskbarAutoHide(TaskbarHiding mode, LockdownNotes* notes) = 0;
  [[nodiscard]] virtual HRESULT ApplyVisualStyle(VisualStyle mode, LockdownNotes* notes) = 0;
  /// Sleep and hibernation off, display kept on.
  [[nodiscard]] virtual HRESULT ApplyPowerSettings(LockdownNotes* notes) = 0;
};

/// The choices of the lockdown dialog.
struct LockdownChoices {
  AutoLogon autoLogon = AutoLogon::Disable;
  std::string userName;
  std::string password;
  RemoteDesktop remoteDesktop = RemoteDesktop::Disable;
  Autorun autorun = Autorun::Allow;
  TaskbarHiding taskbar = TaskbarHiding::Normal;
  VisualStyle visualStyle = VisualStyle::Default;
  PowerSettings power = PowerSettings::Apply;
};

/// The dialog's state on opening: each action chosen when its "Lockdown ..." setting
/// is 1; empty boxes; the power settings checked.
[[nodiscard]] LockdownChoices ReadLockdownChoices();

struct LockdownResult {
  enum class Outcome {
    Done,              ///< the dialog closes
    AutoLogonRefused,  ///< ask for the user name and password; the dialog stays open
  };
  Outcome outcome = Outcome::Done;
  /// A changed choice that only takes effect after a restart (remote desktop, AutoRun,
  /// visual style): tell the user before closing.
  bool restartNeeded = false;
  /// What could not be applied, from every action that ran.
  LockdownNotes notes;
};

/// The dialog's OK: applies and stores every choice that differs from its stored
/// "Lockdown ..." setting, in the order automatic logon, remote desktop, AutoRun,
/// taskbar, visual style, then the power settings when chosen. A refused automatic
/// logon stops everything before any other change.
[[nodiscard]] LockdownResult ApplyLockdownChoices(const LockdownChoices& choices, ISystemLockdown& lockdown);

/// Records every call and answers with the scripted result (S_OK unless set).
/// Threads: any.
class CRecordingLockdown final : public ISystemLockdown {
 public:
  [[nodiscard]] HRESULT ApplyAutoLogon(AutoLogon mode, std::string_view userName, std::string_view password,
                                       LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyRemoteDesktop(RemoteDesktop mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyAutorun(Autorun mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyTaskbarAutoHide(TaskbarHiding mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyVisualStyle(VisualStyle mode, LockdownNotes* notes) override;
  [[nodiscard]] HRESULT ApplyPowerSettings(LockdownNotes* notes) override;

  /// Calls so far, e.g. "AutoLogon Enable user=alice password=set", "RemoteDesktop
  /// Enable", "Autorun Disable", "Taskbar AutoHide", "VisualStyle Classic", "Power".
  [[nodiscard]] std::vector<std::string> Calls() const;
  /// The result of the next calls of one action ("AutoLogon", "RemoteDesktop", ...),
  /// with one note when the result is S_FALSE.
  void SetAnswer(std::string_view action, HRESULT answer);

 private:
  HRESULT Record(std::string_view action, std::string call, LockdownNotes* notes);

  mutable std::mutex m_mutex;
  std::vector<std::string> m_calls;
  std::vector<std::pair<std::string, HRESULT>> m_answers;
};

}  // namespace halvard::system
