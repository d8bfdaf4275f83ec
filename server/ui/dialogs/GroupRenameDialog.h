#pragma once
/// The rename of a camera group (command 230 on its tree item): one name box. OK
/// refuses a name that cannot be a folder and key name or that another group has, with
/// the dialog kept open and nothing renamed; otherwise the rename runs (the roster moves
/// the archive folders and the group key) and the dialog closes when it succeeds.
///
/// Threads: the user-interface thread.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "server/ui/dialogs/DialogBase.h"

class QLineEdit;

namespace halvard::ui::dialogs {

inline constexpr UINT kIdsGroupRenameTitle = 4614;
inline constexpr UINT kIdsGroupNameInvalid = 2008;
inline constexpr UINT kIdsGroupNameUsed = 2009;

class CGroupRenameDialog final : public CDialogBase {
 public:
  /// False when the rename was refused (the renamer has told the operator why).
  using Renamer = std::function<bool(std::string_view oldName, std::string_view newName)>;
  /// `groups`: the display names of every group (the renamed one among them).
  CGroupRenameDialog(TextFunction texts, std::string group, std::vector<std::string> groups, Renamer renamer,
                     QWidget* parent = nullptr);
  [[nodiscard]] QLineEdit* Edit() const { return m_name; }
  /// Whether OK renamed the group.
  [[nodiscard]] bool Renamed() const { return m_renamed; }

 protected:
  [[nodiscard]] bool Apply() override;

 private:
  std::string m_group;
  std::vector<std::string> m_groups;
  Renamer m_rename;
  QLineEdit* m_name = nullptr;
  bool m_renamed = false;
};

}  // namespace halvard::ui::dialogs
