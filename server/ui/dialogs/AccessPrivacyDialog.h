#pragma once
/// "Access & Privacy Control": the input's capture switch and its window's start-up
/// state, over CAccessPage.
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ui/dialogs/AccessPage.h"
#include "server/ui/dialogs/DialogBase.h"

class QCheckBox;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsAccessPrivacyTitle = 4200;

class CAccessPrivacyDialog final : public CDialogBase {
 public:
  CAccessPrivacyDialog(TextFunction texts, std::string group, std::string input, QWidget* parent = nullptr);
  [[nodiscard]] AccessValues Values() const;

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  CAccessPage m_page;
  QCheckBox* m_enabled = nullptr;
  QCheckBox* m_minimize = nullptr;
};

}  // namespace halvard::ui::dialogs
