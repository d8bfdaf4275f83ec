// The main frame as the operator and the engine use it: confirmations, the tree's
// archive commands on real folders and keys, message boxes that keep timers running,
// menus by situation, the status bar, lines from other threads, and closing.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <QAction>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>

#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"
#include "server/ui/MainFrame.h"
#include "server/ui/WorkspaceMonitor.h"
#include "server/ui/tests/UiTestSupport.h"

namespace halvard::ui {
namespace {

namespace st = halvard::settings;
namespace fs = std::filesystem;

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return done();
}

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    st::DeleteKeyTree(st::kCameraGroupPath);
    roster.groups = {"Card A"};
    roster.cameras = {{"Card A", "Input 0"}};
    frame = std::make_unique<CMainFrame>(testing::ModuleText);
    frame->SetRoster(&roster);
    frame->show();
  }
  void TearDown() override {
    frame->SetRoster(nullptr);
    frame.reset();
  }

  testing::CRecordingRoster roster;
  std::unique_ptr<CMainFrame> frame;
};

TEST_F(MainFrameTest, StopAllAsksFirstAndStopsOnlyOnYes) {
  roster.running = {"Card A"};
  {
    testing::CBoxAnswerer no(QMessageBox::No);
    frame->RunCommand(kCmdStopAll);
    ASSERT_EQ(no.texts.size(), 1u);
    EXPECT_EQ(no.texts[0], testing::ModuleText(kIdsAskStopAll));
  }
  EXPECT_TRUE(roster.calls.empty());
  {
    testing::CBoxAnswerer yes(QMessageBox::Yes);
    frame->RunCommand(kCmdStopAll);
  }
  EXPECT_EQ(roster.calls, std::vector<std::string>{"StopAll"});
  // Start All runs at once, without a question.
  frame->RunCommand(kCmdStartAll);
  EXPECT_EQ(roster.calls.back(), "StartAll");
}

TEST_F(MainFrameTest, DeletingADayThroughTheTreeRemovesFolderKeyAndItem) {
  const std::string day = "2026-12-01, TUE DEC 01";
  const std::string dayKey = st::CameraKeyPath("Card A", "Input 0") + "\\" + day;
  st::CreateKey(dayKey + "\\10H-00M-00S.wmv");
  st::CreateKey(st::CameraKeyPath("Card A", "Input 0") + "\\2026-12-02, WED DEC 02");
  const fs::path folder = fs::path(st::DataRoot()) / "VideoArchive" / "Card A" / "Input 0" / day;
  fs::create_directories(folder / "10H-00M-00S");
  std::ofstream(folder / "10H-00M-00S.wmv") << "recording";
  frame->RefreshTree();
  QTreeWidgetItem* item = frame->Workspace()->FindItem({"Card A", "Input 0", day});
  ASSERT_NE(item, nullptr);

  // No keeps everything.
  {
    testing::CBoxAnswerer no(QMessageBox::No);
    frame->RunTreeCommand(kCmdDeleteDay, item);
  }
  EXPECT_TRUE(fs::exists(folder));
  ASSERT_EQ(frame->Workspace()->FindItem({"Card A", "Input 0", day}), item);

  testing::CBoxAnswerer yes(QMessageBox::Yes);
  frame->RunTreeCommand(kCmdDeleteDay, item);
  ASSERT_EQ(yes.texts.size(), 1u);
  EXPECT_NE(yes.texts[0].find(day), std::string::npos) << "the question names the folder";
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(fs::exists(folder.parent_path()));
  EXPECT_EQ(st::SubKeyNames(st::CameraKeyPath("Card A", "Input 0")), std::vector<std::string>{"2026-12-02, WED DEC 02"});
  EXPECT_EQ(frame->Workspace()->FindItem({"Card A", "Input 0", day}), nullptr);
  EXPECT_NE(frame->Workspace()->FindItem({"Card A", "Input 0", "2026-12-02, WED DEC 02"}), nullptr);
}

TEST_F(MainFrameTest, AMessageBoxKeepsTimersRunning) {
  int ticks = 0;
  frame->SetTimer(42, 20, [&ticks] { ++ticks; });
  int ticksWhileOpen = -1;
  // The box stays up until the timer has fired several times behind it.
  QTimer closer;
  closer.setInterval(10);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box != nullptr && ticks >= 5) {
      ticksWhileOpen = ticks;
      box->button(QMessageBox::Ok)->click();
    }
  });
  closer.start();
  frame->SetMessageBoxesShown(true);
  frame->ShowMessage("Recording goes on.");
  EXPECT_GE(ticksWhileOpen, 5);
  // Killing the timer from its own callback is safe, and it fires no more.
  frame->SetTimer(42, 5, [&] {
    ++ticks;
    frame->KillTimer(42);
  });
  const int before = ticks;
  Pump(100);
  EXPECT_EQ(ticks, before + 1);
}

TEST_F(MainFrameTest, MenusStatusBarAndTitle) {
  EXPECT_EQ(frame->windowTitle().toStdString(), "Halvard Surveillance Server");
  EXPECT_EQ(frame->MenuTitles(), (std::vector<std::string>{"&System", "&View", "&Help"}));
  EXPECT_EQ(frame->StatusText(), "Ready");
  // A hovered command shows its prompt, the text before "\n".
  frame->statusBar()->showMessage(frame->CommandAction(kCmdStopAll)->statusTip());
  EXPECT_EQ(frame->StatusText(), "Stop all the cameras and close all recording files.");
  EXPECT_EQ(frame->CommandAction(kCmdLockDesktop)->statusTip().toStdString(),
            "Lock the desktop, which will need password to unlock.");
  EXPECT_EQ(frame->CommandAction(kCmdHelpSearch)->toolTip().toStdString(), "Search");
  frame->statusBar()->clearMessage();
  EXPECT_EQ(frame->StatusText(), "Ready");

  // Another document window than a camera's: the recorded-file menus.
  auto* other = frame->DocumentArea()->addSubWindow(new QWidget);
  other->show();
  frame->DocumentArea()->setActiveSubWindow(other);
  EXPECT_EQ(frame->MenuTitles(), (std::vector<std::string>{"&System", "&View", "&Window", "&Help"}));
  EXPECT_EQ(frame->Situation(), MenuSituation::VideoFileWindow);
}

TEST_F(MainFrameTest, LinesFromOtherThreadsReachThePane) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 25; ++i) {
        frame->ReportLine("worker " + std::to_string(t) + " line " + std::to_string(i));
      }
    });
  }
  for (auto& t : threads) {
    t.join();
  }
  auto* pane = frame->findChild<QListWidget*>();
  ASSERT_NE(pane, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return pane->count() == 100; }));
}

TEST_F(MainFrameTest, LockDesktopOnAPlatformWithoutGrabIsOneLine) {
  auto* pane = frame->findChild<QListWidget*>();
  frame->RunCommand(kCmdLockDesktop);
  ASSERT_TRUE(PumpUntil([&] { return pane->count() == 1; }));
  EXPECT_EQ(pane->item(0)->text().toStdString().rfind(testing::ModuleText(kIdsLockUnavailable), 0), 0u);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainFrameTest, ClosingStopsEveryGroupAndWritesLastShutdown) {
  st::kLastShutdown.Write("");
  bool observed = false;
  frame->SetCloseObserver([&] { observed = true; });
  frame->close();
  EXPECT_TRUE(frame->Closed());
  EXPECT_TRUE(observed);
  EXPECT_EQ(roster.calls, std::vector<std::string>{"StopAll"});
  EXPECT_FALSE(st::kLastShutdown.Read().empty());
}

}  // namespace
}  // namespace halvard::ui

namespace halvard::ui {
namespace {

// On the offscreen platform nobody can close a box: a message (a camera that cannot
// start at boot, say) goes to the log and the caller goes on at once.
TEST(HeadlessMessages, NeverWaitForSomebodyToCloseThem) {
  testing::App();
  CMainFrame frame(testing::ModuleText);
  frame.ShowMessage("The capture device of this camera group is not present.");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace halvard::ui
