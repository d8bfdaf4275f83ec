#pragma once
/// "About Halvard Surveillance Server": the program's name, what it does, its version
/// and where its texts come from; one "OK".
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ui/dialogs/DialogBase.h"

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsAboutTitle = 4615;

class CAboutDialog final : public CDialogBase {
 public:
  explicit CAboutDialog(TextFunction texts, QWidget* parent = nullptr);
  /// The version line shown ("Version 0.1").
  [[nodiscard]] std::string VersionLine() const;

 protected:
  [[nodiscard]] bool Apply() override { return true; }
};

}  // namespace halvard::ui::dialogs
