#pragma once
/// "Boot Schedule": starting every camera and locking the desktop when the software
/// starts, and the weekly reboot schedule (a master switch, then a check box and an
/// hour per weekday, enabled only while the master switch is on). Nothing is applied at
/// once: the next start and the next reboot check read the values.
///
/// Threads: the user-interface thread.

#include <array>

#include "server/system/RebootSchedule.h"
#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/SettingsChanges.h"

class QCheckBox;
class QComboBox;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsBootScheduleTitle = 4500;

/// The writes of the boot schedule values that differ between `stored` and `values`.
[[nodiscard]] CSettingsChanges BootScheduleChanges(const system::BootScheduleSettings& stored,
                                                   const system::BootScheduleSettings& values);

class CBootScheduleDialog final : public CDialogBase {
 public:
  explicit CBootScheduleDialog(TextFunction texts, QWidget* parent = nullptr);
  [[nodiscard]] system::BootScheduleSettings Values() const;

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  system::BootScheduleSettings m_stored;
  QCheckBox* m_autoStart = nullptr;
  QCheckBox* m_lockDesktop = nullptr;
  QCheckBox* m_reboot = nullptr;
  std::array<QCheckBox*, 7> m_days{};
  std::array<QComboBox*, 7> m_hours{};
};

}  // namespace halvard::ui::dialogs
