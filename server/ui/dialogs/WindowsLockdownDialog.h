#pragma once
/// "Windows Lockdown": for each workstation setting an unattended surveillance station
/// wants (automatic logon, remote desktop, AutoRun, the classic visual style, taskbar
/// auto-hide), the action or "No change. Let user decide.", and the power settings. OK
/// applies and remembers every choice that changed, through system::ApplyLockdownChoices;
/// a refused automatic logon keeps the dialog open with nothing changed.
///
/// Threads: the user-interface thread (OK waits for the desktop tools).

#include "server/system/Lockdown.h"
#include "server/ui/dialogs/DialogBase.h"

class QCheckBox;
class QGridLayout;
class QLineEdit;
class QRadioButton;
class QVBoxLayout;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsWindowsLockdownTitle = 4593;
inline constexpr UINT kIdsAutoLogonRefused = 4611;
inline constexpr UINT kIdsLockdownRestart = 4612;
inline constexpr UINT kIdsLockdownNotes = 4613;

class CWindowsLockdownDialog final : public CDialogBase {
 public:
  /// `lockdown` must outlive the dialog.
  CWindowsLockdownDialog(TextFunction texts, system::ISystemLockdown& lockdown, QWidget* parent = nullptr);
  [[nodiscard]] system::LockdownChoices Choices() const;

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  /// One box: its action and the "no change" button, the action chosen when `on`.
  QRadioButton* Section(QVBoxLayout* layout, UINT box, UINT action, UINT remark, bool on, const char* name,
                        QGridLayout** extra = nullptr);

  system::ISystemLockdown& m_lockdown;
  QRadioButton* m_autoLogon = nullptr;
  QLineEdit* m_user = nullptr;
  QLineEdit* m_password = nullptr;
  QRadioButton* m_remoteDesktop = nullptr;
  QRadioButton* m_autorun = nullptr;
  QRadioButton* m_classic = nullptr;
  QRadioButton* m_autoHide = nullptr;
  QCheckBox* m_power = nullptr;
};

}  // namespace halvard::ui::dialogs
