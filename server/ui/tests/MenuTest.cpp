// The menus of the server's windows: the main menu bar in its three situations (no
// document window, a camera window active, a recorded-file window active), the context
// menus of the tree and of the camera window, with their items in order, mnemonics,
// separators and status-bar prompts (text before "\n"; the tooltip after it).

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

#include "server/ui/Commands.h"
#include "server/ui/MainFrame.h"
#include "server/ui/VMDoc.h"
#include "server/ui/VMFrame.h"
#include "server/ui/WorkspaceModel.h"
#include "server/ui/tests/UiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui {
namespace {

using Menus = std::map<std::string, std::vector<std::string>>;

// Every menu of the bar: its items' texts, "-" for a separator.
Menus MenuBarOf(const CMainFrame& frame) {
  Menus menus;
  for (QAction* title : frame.menuBar()->actions()) {
    std::vector<std::string>& items = menus[title->text().toStdString()];
    for (QAction* item : title->menu()->actions()) {
      items.push_back(item->isSeparator() ? "-" : item->text().toStdString());
    }
  }
  return menus;
}

std::vector<std::string> Labels(const std::vector<MenuEntry>& entries) {
  std::vector<std::string> labels;
  for (const MenuEntry& e : entries) {
    labels.push_back(e.IsSeparator() ? "-" : testing::ModuleText(e.label));
  }
  return labels;
}

const std::vector<std::string> kView = {"&Toolbar", "&Status Bar", "&Workspace", "&Output"};
const std::vector<std::string> kWindow = {"&Cascade", "Tile H&orizontally", "&Tile Vertically", "&Arrange Icons"};
const std::vector<std::string> kHelp = {"&Contents...", "&Index...", "&Search...", "-",
                                        "&About Halvard Surveillance Server..."};

class Menu : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    frame = std::make_unique<CMainFrame>(testing::ModuleText);
  }
  halvard::testing::ScopedRegistry registry;
  std::unique_ptr<CMainFrame> frame;
};

TEST_F(Menu, TheMainMenusOfTheThreeSituations) {
  EXPECT_EQ(frame->MenuTitles(), (std::vector<std::string>{"&System", "&View", "&Help"}));
  EXPECT_EQ(MenuBarOf(*frame), (Menus{{"&System", {"&Lock Desktop", "-", "&Windows Lockdown...", "-", "E&xit"}},
                                      {"&View", kView},
                                      {"&Help", kHelp}}));

  // A camera window active: "&Window" before "&Help".
  CVMDoc doc(*frame, nullptr, 0, "G", "C");
  auto* camera = new CVMFrame(doc, "G-C");
  frame->DocumentArea()->addSubWindow(camera);
  camera->show();
  frame->DocumentArea()->setActiveSubWindow(camera);
  EXPECT_EQ(frame->Situation(), MenuSituation::CameraWindow);
  EXPECT_EQ(frame->MenuTitles(), (std::vector<std::string>{"&System", "&View", "&Window", "&Help"}));
  EXPECT_EQ(MenuBarOf(*frame), (Menus{{"&System", {"&Lock Desktop", "-", "&Windows Lockdown...", "-", "E&xit"}},
                                      {"&View", kView},
                                      {"&Window", kWindow},
                                      {"&Help", kHelp}}));

  // A recorded-file window active: "&System" holds only "E&xit".
  auto* file = frame->DocumentArea()->addSubWindow(new QWidget);
  file->show();
  frame->DocumentArea()->setActiveSubWindow(file);
  EXPECT_EQ(frame->Situation(), MenuSituation::VideoFileWindow);
  EXPECT_EQ(MenuBarOf(*frame),
            (Menus{{"&System", {"E&xit"}}, {"&View", kView}, {"&Window", kWindow}, {"&Help", kHelp}}));
  delete file;
  delete camera;  // before its document goes
}

TEST_F(Menu, TheMainMenuPrompts) {
  const std::map<UINT, std::pair<std::string, std::string>> prompts = {
      {kCmdLockDesktop, {"Lock the desktop, which will need password to unlock.", ""}},
      {kCmdViewWorkspace, {"Show or hide the workspace window", ""}},
      {kCmdViewOutput, {"Show or hide the output window", ""}},
      {kCmdHelpContents, {"Display the table of the online help document.", ""}},
      {kCmdHelpSearch, {"Search the online help document.", "Search"}},
      {kCmdHelpIndex, {"Display the index of the online help document.", ""}},
      {kCmdStartAll, {"Start all the cameras.", "Start all the cameras."}},
      {kCmdStopAll, {"Stop all the cameras and close all recording files.",
                     "Stop all the cameras and close all recording files."}},
  };
  for (const auto& [command, prompt] : prompts) {
    const QAction* action = frame->CommandAction(command);
    ASSERT_NE(action, nullptr) << command;
    EXPECT_EQ(action->statusTip().toStdString(), prompt.first) << command;
    if (!prompt.second.empty()) {
      EXPECT_EQ(action->toolTip().toStdString(), prompt.second) << command;
    }
  }
  EXPECT_EQ(testing::ModuleText(kIdsReady), "Ready");
  EXPECT_EQ(testing::ModuleText(kIdsCameraTemplate).find("Camera (*.cam)") != std::string::npos, true);
  EXPECT_NE(testing::ModuleText(kIdsVideoFileTemplate)
                .find("Video Files (*.avi;*.qt;*.mov;*.mpg;*.mpeg;*.mlv;*.asf;*.wma;*.wmv)"),
            std::string::npos);
}

TEST_F(Menu, TheContextMenusWithTheirItemsInOrder) {
  EXPECT_EQ(Labels(ContextMenuOf(kDepthRoot)),
            (std::vector<std::string>{"&Start All Cameras", "S&top All Cameras", "-", "&Boot Schedule..."}));
  EXPECT_EQ(Labels(ContextMenuOf(kDepthGroup)),
            (std::vector<std::string>{"Start/Stop", "-", "&Rename...", "Delete", "-", "Image Enhancement..."}));
  const std::vector<std::string> six = {"&Access && Privacy...", "&Data Capture...",
                                        "&Internet Video Monitoring...", "&Motion Detection...",
                                        "P&an-Tilt-Zoom...", "&Video Recording..."};
  EXPECT_EQ(Labels(ContextMenuOf(kDepthInput)), six);
  std::vector<std::string> window = six;
  window.insert(window.end(), {"-", "Ima&ge Enhancement..."});
  EXPECT_EQ(Labels(CameraWindowMenu()), window);
  EXPECT_EQ(Labels(ContextMenuOf(kDepthFile)),
            (std::vector<std::string>{"Pl&ay/Stop", "&Pause/Play", "S&tep Forward", "Play Faster", "Play Slower", "-",
                                      "&Save Current Picture", "-", "&Copy Video File To...",
                                      "C&opy Still Pictures To...", "-", "&Delete Video && Still Pictures",
                                      "D&elete Still Pictures", "-", "&Video Property"}));
  EXPECT_EQ(Labels(ContextMenuOf(kDepthDay)), (std::vector<std::string>{"&Delete From Disk"}));
  EXPECT_EQ(Labels(ContextMenuOf(kDepthStill)),
            (std::vector<std::string>{"&Play", "P&rint", "&Copy To...", "&Delete From Disk"}));
  // The event matrix's own menu lives in its pane; its texts are the module's.
  EXPECT_EQ(testing::ModuleText(2102), "Properties");
  EXPECT_EQ(testing::ModuleText(2103), "Event Matrix Reload");
  EXPECT_EQ(testing::ModuleText(2111), "Reload Event Matrix");
  EXPECT_EQ(testing::ModuleText(kCmdReloadEventMatrix), "Load or update event matrix");
}

TEST_F(Menu, TheContextMenuPrompts) {
  const std::map<UINT, std::string> prompts = {
      {kCmdStartStop, "Start or stop the device."},
      {kCmdRenameGroup, "Change the display name of this device. You can choose a friendly name. The new name must "
                        "be unique in the group."},
      {kCmdDeleteGroup, "Delete the device from the list. If the device is physically connected, it will be "
                        "discovered when restarting."},
      {kCmdImageEnhancement, "Turn on or turn off the Intelligent Detail Enhancement."},
      {kCmdPlayStop, "Open or close the video file."},
      {kCmdPauseContinue, "Pause/Continue the video file playback."},
      {kCmdStepForward, "Step forward the video frame by frame."},
      {kCmdSavePicture, "Save current video frame to image file.\nSave current video frame to image file"},
      {kCmdDeleteVideoAndStills, "Delete the video file and all of the still pictures under this video file."},
      {kCmdDeleteStills, "Delete all of the still pictures under this video file."},
      {kCmdVideoProperty, "Show video file property."},
      {kCmdDeleteDay, "Delete the video file folder from hard drive."},
      {kCmdStillPlay, "Open the still picture."},
      {kCmdStillPrint, "Print the still picture."},
      {kCmdStillDelete, "Delete the still picture from hard drive.\nDelete the still picture from hard drive."},
  };
  for (const auto& [command, prompt] : prompts) {
    EXPECT_EQ(testing::ModuleText(command), prompt) << command;
  }
  // Every item of the tree's and the camera window's menus has a label.
  for (int depth = 0; depth < kDepthCount; ++depth) {
    for (const MenuEntry& e : ContextMenuOf(depth)) {
      EXPECT_TRUE(e.IsSeparator() || !testing::ModuleText(e.label).empty()) << e.command;
    }
  }
}

}  // namespace
}  // namespace halvard::ui
