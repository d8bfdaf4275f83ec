// The group rename (refusing names that cannot be folder and key names or that another
// group has, through the main frame's tree command), About, and the picture export
// dialogs that no command opens.

#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include "server/ui/Commands.h"
#include "server/ui/MainFrame.h"
#include "server/ui/WorkspaceMonitor.h"
#include "server/ui/dialogs/AboutDialog.h"
#include "server/ui/dialogs/GroupRenameDialog.h"
#include "server/ui/dialogs/PictureExportDialogs.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

TEST(GroupRename, RefusesBadAndTakenNamesAndRenamesThroughTheRoster) {
  testing::App();
  std::vector<std::pair<std::string, std::string>> renames;
  bool allow = true;
  CGroupRenameDialog dialog(testing::ModuleText, "Card A", {"Card A", "Yard"},
                            [&](std::string_view from, std::string_view to) {
                              renames.emplace_back(from, to);
                              return allow;
                            });
  std::vector<std::string> messages;
  testing::RecordMessages(dialog, messages);
  EXPECT_EQ(dialog.Edit()->text().toStdString(), "Card A");
  for (const char* bad : {"Front/Back", "", "..", "a:b", "YARD"}) {
    dialog.Edit()->setText(bad);
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
  }
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], testing::ModuleText(kIdsGroupNameInvalid));
  EXPECT_EQ(messages[4], testing::ModuleText(kIdsGroupNameUsed));
  EXPECT_TRUE(renames.empty());

  allow = false;  // the roster refuses (a folder could not move): the dialog stays
  dialog.Edit()->setText("Gate");
  dialog.accept();
  EXPECT_FALSE(dialog.Renamed());
  allow = true;
  dialog.Edit()->setText("card a ");  // differs from the old name by more than case
  dialog.accept();
  EXPECT_TRUE(dialog.Renamed());
  EXPECT_EQ(renames.back(), (std::pair<std::string, std::string>{"Card A", "card a "}));
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(dialog, "group-rename")));
}

TEST(GroupRename, TheTreeCommandOpensItForTheGroupItem) {
  testing::App();
  halvard::testing::ScopedRegistry registry;
  ui::testing::CRecordingRoster roster;
  roster.groups = {"Card A"};
  CMainFrame frame(testing::ModuleText);
  frame.SetRoster(&roster);
  frame.RefreshTree();
  QTimer::singleShot(50, [] {
    auto* dialog = dynamic_cast<CGroupRenameDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->Edit()->setText("Gate");
    dialog->accept();
  });
  frame.RunTreeCommand(kCmdRenameGroup, frame.Workspace()->FindItem({"Card A"}));
  EXPECT_EQ(roster.calls, (std::vector<std::string>{"Rename Card A Gate"}));
}

TEST(About, ShowsTheProgramAndItsVersion) {
  testing::App();
  CAboutDialog about(testing::ModuleText);
  EXPECT_EQ(about.windowTitle().toStdString(), "About Halvard Surveillance Server");
  EXPECT_EQ(about.VersionLine().rfind("Version ", 0), 0u);
  EXPECT_GT(about.VersionLine().size(), std::string("Version ").size());
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(about, "about")));
}

TEST(PictureExport, SavePictureOffersJpegQualityOnlyForJpeg) {
  testing::App();
  CSavePictureDialog dialog(testing::ModuleText);
  EXPECT_TRUE(dialog.Jpeg());
  auto* quality = dialog.findChild<QSlider*>("quality");
  EXPECT_TRUE(quality->isEnabled());
  dialog.findChild<QRadioButton*>("bmp")->setChecked(true);
  EXPECT_FALSE(quality->isEnabled());
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(dialog, "save-picture")));
}

TEST(PictureExport, BmpSequenceRefusesBadNamesAndAnInvertedRange) {
  testing::App();
  CBmpSequenceDialog dialog(testing::ModuleText, 300);
  std::vector<std::string> messages;
  testing::RecordMessages(dialog, messages);
  EXPECT_EQ(dialog.To()->value(), 300);
  dialog.Prefix()->setText("../up");
  dialog.accept();
  dialog.Prefix()->setText("door-");
  dialog.From()->setValue(200);
  dialog.To()->setValue(100);
  dialog.accept();
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsAffixInvalid),
                                                testing::ModuleText(kIdsFrameRangeInvalid)}));
  dialog.To()->setValue(250);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(dialog, "bmp-sequence")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
