#pragma once
/// The workspace tree: camera groups, inputs, archive days, recordings and stills, as
/// WorkspaceModel builds them. Context menus by depth (mouse on an item's icon or
/// label, or the context-menu key), double clicks, and rebuilds; every command goes to
/// the handler the main frame installs.

#include <functional>
#include <string>
#include <vector>

#include <QIcon>
#include <QTreeWidget>

#include "platform/base/WinTypes.h"
#include "server/ui/Commands.h"
#include "server/ui/WorkspaceModel.h"

namespace halvard::ui {

/// The strip of 16-pixel tree images: 2 x depth, then 2 x depth + 1 selected.
[[nodiscard]] std::vector<QIcon> WorkspaceIconStrip();

/// Threads: the user-interface thread only.
class CWorkspaceMonitor final : public QTreeWidget {
 public:
  using TextFunction = std::function<std::string(UINT id)>;
  /// Runs a command on an item (the item is the selected one).
  using CommandHandler = std::function<void(UINT command, QTreeWidgetItem* item)>;
  /// The label of a menu entry on an item (the group's Start/Stop switches).
  using LabelFunction = std::function<std::string(const MenuEntry& entry, QTreeWidgetItem* item)>;

  static constexpr int kDepthRole = Qt::UserRole;
  static constexpr int kControlId = 1011;

  explicit CWorkspaceMonitor(TextFunction texts, QWidget* parent = nullptr);

  void SetCommandHandler(CommandHandler handler) { m_handler = std::move(handler); }
  void SetLabelFunction(LabelFunction labels) { m_labels = std::move(labels); }

  /// Rebuilds the whole tree for the groups (roster order); the last group is selected
  /// and every group expanded.
  void Rebuild(const std::vector<std::string>& groups);
  /// Rebuilds one group's item in place (or adds it).
  void RefreshGroup(const std::string& group);
  /// Rebuilds one input's item.
  void RefreshInput(const std::string& group, const std::string& input);

  [[nodiscard]] QTreeWidgetItem* Root() const { return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr; }
  [[nodiscard]] static int DepthOf(const QTreeWidgetItem* item);
  /// The texts of an item and its ancestors below the root (group first).
  [[nodiscard]] static std::vector<std::string> NamesOf(const QTreeWidgetItem* item);
  /// The item of the names below the root, or null.
  [[nodiscard]] QTreeWidgetItem* FindItem(const std::vector<std::string>& names) const;

  /// The context menu of an item as it would be shown: (command, label) pairs; a
  /// separator is (0, "").
  [[nodiscard]] std::vector<std::pair<UINT, std::string>> MenuOf(QTreeWidgetItem* item) const;
  /// Shows the item's menu at a global position (the tests call the pieces instead).
  void ShowMenu(QTreeWidgetItem* item, const QPoint& globalPos);
  /// Runs the double-click command of an item.
  void RunDoubleClick(QTreeWidgetItem* item);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const TreeNode& node);
  void InsertSorted(QTreeWidgetItem* parent, QTreeWidgetItem* item);
  [[nodiscard]] bool OnIconOrLabel(QTreeWidgetItem* item, const QPoint& viewportPos) const;

  TextFunction m_texts;
  CommandHandler m_handler;
  LabelFunction m_labels;
  std::vector<QIcon> m_icons;
};

}  // namespace halvard::ui
