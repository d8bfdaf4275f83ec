// The workspace tree built from the roster's groups and the archive index: depths,
// texts, order, images, and the menus of every depth.

#include <gtest/gtest.h>

#include "server/settings/Settings.h"
#include "server/ui/Commands.h"
#include "server/ui/WorkspaceModel.h"
#include "server/ui/WorkspaceMonitor.h"
#include "server/ui/tests/UiTestSupport.h"

namespace halvard::ui {
namespace {

namespace st = halvard::settings;

class WorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    st::DeleteKeyTree(st::kCameraGroupPath);
    // Two groups; "card b" sorts after "Card A" case-insensitively although 'c' > 'C'.
    st::WriteCardInputAmount("card b", 1);
    st::WriteInputName("card b", 0, "Yard");
    st::WriteCardInputAmount("Card A", 2);
    st::WriteInputName("Card A", 0, "Gate");
    st::WriteInputName("Card A", 1, "door");
    const std::string door = st::CameraKeyPath("Card A", "door");
    st::CreateKey(door + "\\2026-12-02, WED DEC 02\\09H-00M-00S.wmv");
    st::CreateKey(door + "\\2026-12-01, TUE DEC 01\\23H-59M-58S.wmv\\00-00-01-000.bmp");
    st::CreateKey(door + "\\2026-12-01, TUE DEC 01\\08H-30M-00S.wmv");
  }
};

std::vector<std::string> Texts(const TreeNode& node) {
  std::vector<std::string> texts;
  for (const TreeNode& child : node.children) {
    texts.push_back(child.text);
  }
  return texts;
}

TEST_F(WorkspaceTest, TreeFromRosterAndIndexIsSortedWithDepths) {
  // The roster order (b first) does not decide the display order; a repeated group is
  // listed once.
  const TreeNode root = BuildWorkspaceTree("Camera Groups", {"card b", "Card A", "card b"});
  EXPECT_EQ(root.depth, kDepthRoot);
  EXPECT_EQ(Texts(root), (std::vector<std::string>{"Card A", "card b"}));
  const TreeNode& cardA = root.children[0];
  EXPECT_EQ(cardA.depth, kDepthGroup);
  EXPECT_EQ(Texts(cardA), (std::vector<std::string>{"door", "Gate"}));
  const TreeNode& door = cardA.children[0];
  EXPECT_EQ(door.depth, kDepthInput);
  ASSERT_EQ(Texts(door), (std::vector<std::string>{"2026-12-01, TUE DEC 01", "2026-12-02, WED DEC 02"}));
  const TreeNode& day = door.children[0];
  EXPECT_EQ(day.depth, kDepthDay);
  EXPECT_EQ(Texts(day), (std::vector<std::string>{"08H-30M-00S.wmv", "23H-59M-58S.wmv"}));
  ASSERT_EQ(day.children[1].children.size(), 1u);
  EXPECT_EQ(day.children[1].depth, kDepthFile);
  EXPECT_EQ(day.children[1].children[0].depth, kDepthStill);
  EXPECT_EQ(day.children[1].children[0].text, "00-00-01-000.bmp");
  // A group without a stored input count lists four default inputs.
  const TreeNode fresh = BuildGroupNode("New Card");
  EXPECT_EQ(Texts(fresh), (std::vector<std::string>{"Input 0", "Input 1", "Input 2", "Input 3"}));
}

TEST_F(WorkspaceTest, WidgetShowsTheModelWithImagesByDepthAndFindsItems) {
  CWorkspaceMonitor tree(testing::ModuleText);
  tree.Rebuild({"card b", "Card A"});
  QTreeWidgetItem* root = tree.Root();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0).toStdString(), testing::ModuleText(kIdsTreeRoot));
  QTreeWidgetItem* still =
      tree.FindItem({"Card A", "door", "2026-12-01, TUE DEC 01", "23H-59M-58S.wmv", "00-00-01-000.bmp"});
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(CWorkspaceMonitor::DepthOf(still), kDepthStill);
  EXPECT_EQ(CWorkspaceMonitor::NamesOf(still).size(), 5u);
  // The last group of the roster is selected, and shows its selected image.
  ASSERT_NE(tree.currentItem(), nullptr);
  EXPECT_EQ(tree.currentItem()->text(0).toStdString(), "Card A");
  const std::vector<QIcon> strip = WorkspaceIconStrip();
  ASSERT_EQ(strip.size(), 12u);
  EXPECT_EQ(tree.currentItem()->icon(0).pixmap(16).toImage(),
            strip[SelectedImageOf(kDepthGroup)].pixmap(16).toImage());
  EXPECT_EQ(still->icon(0).pixmap(16).toImage(), strip[ImageOf(kDepthStill)].pixmap(16).toImage());
  EXPECT_NE(strip[ImageOf(kDepthDay)].pixmap(16).toImage(), strip[ImageOf(kDepthFile)].pixmap(16).toImage());

  // A refresh of one input picks up a new recording; the rest stays.
  st::CreateKey(st::CameraKeyPath("Card A", "door") + "\\2026-12-02, WED DEC 02\\10H-00M-00S.wmv");
  tree.RefreshInput("Card A", "door");
  EXPECT_NE(tree.FindItem({"Card A", "door", "2026-12-02, WED DEC 02", "10H-00M-00S.wmv"}), nullptr);
  EXPECT_NE(tree.FindItem({"card b", "Yard"}), nullptr);

  // A whole rebuild (after a rotation) keeps the operator's open items open.
  tree.FindItem({"Card A", "door"})->setExpanded(true);
  tree.FindItem({"Card A", "door", "2026-12-02, WED DEC 02"})->setExpanded(true);
  tree.Rebuild({"card b", "Card A"});
  EXPECT_TRUE(tree.FindItem({"Card A", "door", "2026-12-02, WED DEC 02"})->isExpanded());
  EXPECT_FALSE(tree.FindItem({"Card A", "Gate"})->isExpanded());
}

std::vector<std::string> Labels(CWorkspaceMonitor& tree, QTreeWidgetItem* item) {
  std::vector<std::string> labels;
  for (const auto& [command, label] : tree.MenuOf(item)) {
    labels.push_back(command == 0 ? "-" : label);
  }
  return labels;
}

TEST_F(WorkspaceTest, ContextMenuTextsOfEveryDepth) {
  CWorkspaceMonitor tree(testing::ModuleText);
  tree.Rebuild({"Card A"});
  const std::string day = "2026-12-01, TUE DEC 01";
  EXPECT_EQ(Labels(tree, tree.Root()),
            (std::vector<std::string>{"&Start All Cameras", "S&top All Cameras", "-", "&Boot Schedule..."}));
  EXPECT_EQ(Labels(tree, tree.FindItem({"Card A"})),
            (std::vector<std::string>{"Start/Stop", "-", "&Rename...", "Delete", "-", "Image Enhancement..."}));
  EXPECT_EQ(Labels(tree, tree.FindItem({"Card A", "Gate"})),
            (std::vector<std::string>{"&Access && Privacy...", "&Data Capture...", "&Internet Video Monitoring...",
                                      "&Motion Detection...", "P&an-Tilt-Zoom...", "&Video Recording..."}));
  EXPECT_EQ(Labels(tree, tree.FindItem({"Card A", "door", day})), (std::vector<std::string>{"&Delete From Disk"}));
  EXPECT_EQ(Labels(tree, tree.FindItem({"Card A", "door", day, "08H-30M-00S.wmv"})),
            (std::vector<std::string>{"Pl&ay/Stop", "&Pause/Play", "S&tep Forward", "Play Faster", "Play Slower", "-",
                                      "&Save Current Picture", "-", "&Copy Video File To...",
                                      "C&opy Still Pictures To...", "-", "&Delete Video && Still Pictures",
                                      "D&elete Still Pictures", "-", "&Video Property"}));
  EXPECT_EQ(Labels(tree, tree.FindItem({"Card A", "door", day, "23H-59M-58S.wmv", "00-00-01-000.bmp"})),
            (std::vector<std::string>{"&Play", "P&rint", "&Copy To...", "&Delete From Disk"}));
  // The camera window's menu: the six dialogs and its own enhancement label.
  std::vector<std::string> camera;
  for (const MenuEntry& e : CameraWindowMenu()) {
    camera.push_back(e.IsSeparator() ? "-" : testing::ModuleText(e.label));
  }
  EXPECT_EQ(camera.size(), 8u);
  EXPECT_EQ(camera[6], "-");
  EXPECT_EQ(camera[7], "Ima&ge Enhancement...");
  // Every command on a menu has a label text; double clicks run what the depths say.
  for (int depth = 0; depth < kDepthCount; ++depth) {
    for (const MenuEntry& e : ContextMenuOf(depth)) {
      EXPECT_TRUE(e.IsSeparator() || !testing::ModuleText(e.label).empty()) << e.command;
    }
  }
  EXPECT_EQ(DoubleClickCommand(kDepthGroup), kCmdStartStop);
  EXPECT_EQ(DoubleClickCommand(kDepthDay), 0u);
  EXPECT_EQ(DoubleClickCommand(kDepthFile), kCmdPlayStop);
}

TEST_F(WorkspaceTest, IndexKeyOfRefusesNamesThatWouldNameAnotherKey) {
  EXPECT_EQ(IndexKeyOf({"Card A", "door"}), std::string(st::kCameraGroupPath) + "\\Card A\\door");
  EXPECT_EQ(IndexKeyOf({}), "");
  EXPECT_EQ(IndexKeyOf({"Card A", ""}), "");
  EXPECT_EQ(IndexKeyOf({"Card A", "a\\b"}), "");
  EXPECT_EQ(IndexKeyOf({"a", "b", "c", "d", "e", "f"}), "");
}

}  // namespace
}  // namespace halvard::ui
