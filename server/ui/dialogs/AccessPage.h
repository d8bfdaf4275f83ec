#pragma once
/// The values of a camera's "Access & Privacy Control" dialog: whether the input is
/// captured ("Input Enabled") and whether its window starts minimised ("Privacy
/// Minimize Window", which only means something while the input is enabled).
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ui/dialogs/SettingsChanges.h"

namespace halvard::ui::dialogs {

struct AccessValues {
  bool inputEnabled = true;
  bool minimizeWindow = false;
  friend bool operator==(const AccessValues&, const AccessValues&) = default;
};

class CAccessPage {
 public:
  /// Reads the stored values (defaults where nothing is stored).
  CAccessPage(std::string group, std::string input);
  [[nodiscard]] const AccessValues& Stored() const { return m_stored; }
  /// The writes of the values that differ from the stored ones. A disabled input keeps
  /// its stored minimise choice: the box is greyed, not cleared.
  [[nodiscard]] CSettingsChanges Changes(const AccessValues& values) const;

 private:
  std::string m_group;
  std::string m_input;
  AccessValues m_stored;
};

}  // namespace halvard::ui::dialogs
