#include "server/ui/dialogs/AccessPage.h"

#include "server/settings/Settings.h"

namespace halvard::ui::dialogs {

namespace s = halvard::settings;

CAccessPage::CAccessPage(std::string group, std::string input) : m_group(std::move(group)), m_input(std::move(input)) {
  m_stored.inputEnabled = s::kInputEnabled.Read(m_group, m_input) != 0;
  m_stored.minimizeWindow = s::kPrivacyMinimizeWindow.Read(m_group, m_input) != 0;
}

CSettingsChanges CAccessPage::Changes(const AccessValues& values) const {
  CSettingsChanges changes;
  const std::string group = m_group;
  const std::string input = m_input;
  if (values.inputEnabled != m_stored.inputEnabled) {
    const DWORD value = values.inputEnabled ? 1 : 0;
    changes.Add(std::string(s::kInputEnabled.name), [group, input, value] { s::kInputEnabled.Write(group, input, value); });
  }
  if (values.inputEnabled && values.minimizeWindow != m_stored.minimizeWindow) {
    const DWORD value = values.minimizeWindow ? 1 : 0;
    changes.Add(std::string(s::kPrivacyMinimizeWindow.name),
                [group, input, value] { s::kPrivacyMinimizeWindow.Write(group, input, value); });
  }
  return changes;
}

}  // namespace halvard::ui::dialogs
