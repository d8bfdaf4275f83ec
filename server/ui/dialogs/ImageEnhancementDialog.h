#pragma once
/// "Intelligent Detail Enhancement (IDE)": the enhancement level of a camera group's
/// pictures ("Card IDE Level": off, level 1, level 2). The splitter takes the level when
/// the group's graph is built, so a change applies when the cameras restart.
///
/// Threads: the user-interface thread.

#include <string>

#include "server/ui/dialogs/DialogBase.h"
#include "server/ui/dialogs/SettingsChanges.h"

class QButtonGroup;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsImageEnhancementTitle = 4586;
/// The levels the dialog offers (a higher stored level is shown and kept as it is).
inline constexpr DWORD kIdeLevels = 3;

/// The write of the level when it differs from the stored one.
[[nodiscard]] CSettingsChanges ImageEnhancementChanges(const std::string& group, DWORD stored, DWORD level);

class CImageEnhancementDialog final : public CDialogBase {
 public:
  CImageEnhancementDialog(TextFunction texts, std::string group, QWidget* parent = nullptr);
  /// The level chosen.
  [[nodiscard]] DWORD Level() const;

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  std::string m_group;
  DWORD m_stored;
  QButtonGroup* m_levels = nullptr;
};

}  // namespace halvard::ui::dialogs
