#include "server/ui/WorkspaceModel.h"

#include <algorithm>
#include <cctype>

#include "server/settings/Settings.h"
#include "server/ui/Commands.h"

namespace halvard::ui {

namespace {

constexpr UINT kLabelCameraImageEnhancement = 3145;

MenuEntry Item(UINT command) { return MenuEntry{command, MenuLabelId(command)}; }
MenuEntry Separator() { return MenuEntry{}; }

void SortChildren(TreeNode& node) {
  std::stable_sort(node.children.begin(), node.children.end(),
                   [](const TreeNode& a, const TreeNode& b) { return TreeTextLess(a.text, b.text); });
}

}  // namespace

bool TreeTextLess(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) {
      return ca < cb;
    }
  }
  if (a.size() != b.size()) {
    return a.size() < b.size();
  }
  return a < b;
}

TreeNode BuildIndexNode(const std::string& keyPath, std::string text, int depth) {
  TreeNode node{std::move(text), depth, {}};
  // Nothing below a still exists in the archive; a deeper key someone added by hand is
  // not listed (the tree has no image or menu for it).
  if (depth < kDepthStill) {
    for (std::string& name : settings::SubKeyNames(keyPath)) {
      const std::string childPath = keyPath + "\\" + name;
      node.children.push_back(BuildIndexNode(childPath, std::move(name), depth + 1));
    }
    SortChildren(node);
  }
  return node;
}

TreeNode BuildInputNode(std::string_view group, std::string_view input) {
  return BuildIndexNode(settings::CameraKeyPath(group, input), std::string(input), kDepthInput);
}

TreeNode BuildGroupNode(std::string_view group) {
  TreeNode node{std::string(group), kDepthGroup, {}};
  const DWORD count = settings::ReadCardInputAmount(group, settings::kDefaultCardChannels);
  for (const std::string& input : settings::ReadInputNames(group, count)) {
    node.children.push_back(BuildInputNode(group, input));
  }
  SortChildren(node);
  return node;
}

TreeNode BuildWorkspaceTree(std::string rootText, const std::vector<std::string>& groups) {
  TreeNode root{std::move(rootText), kDepthRoot, {}};
  for (const std::string& group : groups) {
    // A group listed again replaces its earlier item, as a refresh of that group does.
    std::erase_if(root.children, [&](const TreeNode& n) { return n.text == group; });
    root.children.push_back(BuildGroupNode(group));
  }
  SortChildren(root);
  return root;
}

std::string IndexKeyOf(const std::vector<std::string>& names) {
  if (names.empty() || names.size() > static_cast<std::size_t>(kDepthStill)) {
    return {};
  }
  std::string key(settings::kCameraGroupPath);
  for (const std::string& name : names) {
    if (name.empty() || name.find('\\') != std::string::npos) {
      return {};
    }
    key += '\\';
    key += name;
  }
  return key;
}

std::vector<MenuEntry> ContextMenuOf(int depth) {
  switch (depth) {
    case kDepthRoot:
      return {Item(kCmdStartAll), Item(kCmdStopAll), Separator(), Item(kCmdBootSchedule)};
    case kDepthGroup:
      return {Item(kCmdStartStop), Separator(), Item(kCmdRenameGroup), Item(kCmdDeleteGroup), Separator(),
              Item(kCmdImageEnhancement)};
    case kDepthInput:
      return {Item(kCmdAccessPrivacy), Item(kCmdDataCapture), Item(kCmdInternetMonitoring),
              Item(kCmdMotionDetection), Item(kCmdPanTiltZoom), Item(kCmdVideoRecording)};
    case kDepthDay:
      return {Item(kCmdDeleteDay)};
    case kDepthFile:
      return {Item(kCmdPlayStop),    Item(kCmdPauseContinue), Item(kCmdStepForward),
              Item(kCmdPlayFaster),  Item(kCmdPlaySlower),    Separator(),
              Item(kCmdSavePicture), Separator(),             Item(kCmdCopyVideo),
              Item(kCmdCopyStills),  Separator(),             Item(kCmdDeleteVideoAndStills),
              Item(kCmdDeleteStills), Separator(),            Item(kCmdVideoProperty)};
    case kDepthStill:
      return {Item(kCmdStillPlay), Item(kCmdStillPrint), Item(kCmdStillCopy), Item(kCmdStillDelete)};
    default:
      return {};
  }
}

std::vector<MenuEntry> CameraWindowMenu() {
  std::vector<MenuEntry> menu = ContextMenuOf(kDepthInput);
  menu.push_back(Separator());
  menu.push_back(MenuEntry{kCmdImageEnhancement, kLabelCameraImageEnhancement});
  return menu;
}

UINT DoubleClickCommand(int depth) {
  switch (depth) {
    case kDepthRoot:
      return kCmdBootSchedule;
    case kDepthGroup:
      return kCmdStartStop;
    case kDepthInput:
      return kCmdAccessPrivacy;
    case kDepthFile:
      return kCmdPlayStop;
    case kDepthStill:
      return kCmdStillPlay;
    default:
      return 0;
  }
}

}  // namespace halvard::ui
