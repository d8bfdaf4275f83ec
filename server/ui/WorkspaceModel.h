#pragma once
/// The logic of the workspace tree: the items built from the roster's group names and
/// the archive's registry index, their images, the context menu of each depth and the
/// double-click command. CWorkspaceMonitor only shows what this builds.
///
/// Depths: 0 root, 1 camera group, 2 input, 3 archive day, 4 recording file, 5 still.
/// An item's index key is the "Camera Group" key followed by the texts of its
/// ancestors below the root and its own text, so the root's text never enters it.
///
/// Threads: the user-interface thread (reads the settings store).

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::ui {

inline constexpr int kDepthRoot = 0;
inline constexpr int kDepthGroup = 1;
inline constexpr int kDepthInput = 2;
inline constexpr int kDepthDay = 3;
inline constexpr int kDepthFile = 4;
inline constexpr int kDepthStill = 5;
inline constexpr int kDepthCount = 6;

/// One item with its children, in display order.
struct TreeNode {
  std::string text;
  int depth = 0;
  std::vector<TreeNode> children;
};

/// Orders item texts the way the tree inserts them: case-insensitively (ASCII), ties by
/// byte order so the order is total.
[[nodiscard]] bool TreeTextLess(std::string_view a, std::string_view b);

/// The item of a registry key and its sub-keys, every level sorted.
[[nodiscard]] TreeNode BuildIndexNode(const std::string& keyPath, std::string text, int depth);
/// An input's item (depth 2) with its days, files and stills.
[[nodiscard]] TreeNode BuildInputNode(std::string_view group, std::string_view input);
/// A group's item (depth 1): inputs by "Card Input Amount" (4 when not stored) and
/// their "Input %d" names.
[[nodiscard]] TreeNode BuildGroupNode(std::string_view group);
/// The whole tree: the root and one item per group name (a name given twice is listed
/// once).
[[nodiscard]] TreeNode BuildWorkspaceTree(std::string rootText, const std::vector<std::string>& groups);

/// The index key of the item whose texts below the root are `names` (group, input,
/// day, file, still; 1 to 5 names). Empty when a name is empty or holds '\', so that no
/// caller can ever delete a key other than the item's own.
[[nodiscard]] std::string IndexKeyOf(const std::vector<std::string>& names);

/// Image of an item in the icon strip: 2 x depth, and 2 x depth + 1 when selected.
[[nodiscard]] constexpr int ImageOf(int depth) { return 2 * depth; }
[[nodiscard]] constexpr int SelectedImageOf(int depth) { return 2 * depth + 1; }

/// One context-menu entry: a command with its label text number, or a separator.
struct MenuEntry {
  UINT command = 0;  ///< 0 for a separator
  UINT label = 0;    ///< the label's text number
  [[nodiscard]] bool IsSeparator() const { return command == 0; }
};
/// The context menu of a tree depth (empty for a depth out of range).
[[nodiscard]] std::vector<MenuEntry> ContextMenuOf(int depth);
/// The context menu of a camera window: the six input dialogs and image enhancement.
[[nodiscard]] std::vector<MenuEntry> CameraWindowMenu();
/// The command a double click runs on an item of the depth (0 = nothing).
[[nodiscard]] UINT DoubleClickCommand(int depth);

}  // namespace halvard::ui
