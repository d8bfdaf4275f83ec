#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/kiosk/ZelLock.h"
#include "server/settings/Settings.h"
#include "server/system/DesktopLock.h"
#include "tests/support/TestSupport.h"

using namespace halvard::system;
namespace settings = halvard::settings;

namespace {

const std::vector<std::string> kKioskOn{"StartButton_Show_Hide(0)", "Taskbar_Show_Hide(0)",
                                        "AltTab2_Enable_Disable(0, 0)", "CtrlAltDel_Enable_Disable(0)",
                                        "TaskSwitching_Enable_Disable(0)"};
const std::vector<std::string> kKioskOff{"StartButton_Show_Hide(1)", "Taskbar_Show_Hide(1)",
                                         "AltTab2_Enable_Disable(0, 1)", "CtrlAltDel_Enable_Disable(1)",
                                         "TaskSwitching_Enable_Disable(1)"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class DesktopLockTest : public ::testing::Test {
 protected:
  halvard::testing::ScopedRegistry m_registry;
  CRecordingZelLock m_kiosk;
  CRecordingScreenSaver m_screenSaver;
};

TEST_F(DesktopLockTest, PasswordIsComparedExactly) {
  EXPECT_TRUE(UnlockPasswordMatches(""));  // no password stored: the empty box unlocks
  EXPECT_FALSE(UnlockPasswordMatches(" "));
  settings::kSysPassword.Write("");
  EXPECT_TRUE(UnlockPasswordMatches(""));
  settings::kSysPassword.Write("Guard-Ü 1");
  EXPECT_TRUE(UnlockPasswordMatches("Guard-Ü 1"));
  EXPECT_FALSE(UnlockPasswordMatches("guard-ü 1"));
  EXPECT_FALSE(UnlockPasswordMatches("Guard-Ü 1 "));
  EXPECT_FALSE(UnlockPasswordMatches("Guard-Ü"));
  EXPECT_FALSE(UnlockPasswordMatches(""));
}

TEST_F(DesktopLockTest, ALongPasswordIsNeverReplacedByTheEmptyDefault) {
  const std::string longPassword(150, 'k');
  settings::kSysPassword.Write(longPassword);
  EXPECT_EQ(settings::kSysPassword.Read(), "");  // past the readers' 99 characters
  EXPECT_FALSE(UnlockPasswordMatches(""));
  EXPECT_TRUE(UnlockPasswordMatches(longPassword));
}

TEST_F(DesktopLockTest, MonitorOneTakesTheDesktopUntilThePasswordIsRight) {
  settings::kSysPassword.Write("Secret");
  CDesktopLock lock(1, m_kiosk, m_screenSaver);
  EXPECT_TRUE(lock.IsKiosk());
  lock.Open();
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_EQ(m_screenSaver.Calls(), 1);
  EXPECT_EQ(m_kiosk.Calls(), kKioskOn);

  EXPECT_FALSE(lock.TryUnlock("secret"));
  EXPECT_FALSE(lock.TryUnlock(""));
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_EQ(m_kiosk.Calls(), kKioskOn);

  EXPECT_TRUE(lock.TryUnlock("Secret"));
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_EQ(m_kiosk.Calls(), Concat(kKioskOn, kKioskOff));
}

TEST_F(DesktopLockTest, OtherMonitorsLockWithoutTheKiosk) {
  CDesktopLock lock(2, m_kiosk, m_screenSaver);
  EXPECT_FALSE(lock.IsKiosk());
  lock.Open();
  EXPECT_EQ(m_screenSaver.Calls(), 1);
  EXPECT_TRUE(lock.TryUnlock(""));
  EXPECT_TRUE(m_kiosk.Calls().empty());
}

TEST_F(DesktopLockTest, ALockEndedWithTheProgramGivesTheDesktopBack) {
  {
    CDesktopLock lock(1, m_kiosk, m_screenSaver);
    lock.Open();
  }
  EXPECT_EQ(m_kiosk.Calls(), Concat(kKioskOn, kKioskOff));
}

TEST_F(DesktopLockTest, WithoutAScreenSaverServiceXsetSwitchesItOff) {
  // No session bus: the screen saver service cannot be asked.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/halvard-test-bus", 1);
  CRecordingRunner runner;
  std::string failure;
  {
    CDesktopScreenSaver withoutX(runner, /*hasX11Display=*/false);
    EXPECT_EQ(withoutX.SwitchOff(&failure), E_FAIL);
    EXPECT_NE(failure.find("screen saver"), std::string::npos) << failure;
    EXPECT_TRUE(runner.Commands().empty());

    // The lock holds all the same, and says why the screen saver is still on.
    CDesktopLock lock(2, m_kiosk, withoutX);
    std::string note;
    lock.Open(&note);
    EXPECT_TRUE(lock.IsLocked());
    EXPECT_FALSE(note.empty());
  }
  runner.SetInstalled({"xset"});
  CDesktopScreenSaver withX(runner, /*hasX11Display=*/true);
  EXPECT_EQ(withX.SwitchOff(&failure), S_OK);
  EXPECT_EQ(failure, "");
  EXPECT_EQ(runner.CommandLines(), std::vector<std::string>{"xset s off"});
}

// The real kiosk with a prompt as the user interface builds it: the kiosk window holds
// the input, and only the right password typed into the prompt gives the desktop back.
TEST_F(DesktopLockTest, TheKioskWindowGrabsAndForwardsToThePrompt) {
  // Tests never need a display; the runner's environment may not say so.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int argc = 1;
  char name[] = "system_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  settings::kSysPassword.Write("Secret");

  CZelLock kiosk;
  CDesktopLock lock(1, kiosk, m_screenSaver);
  QDialog prompt;
  prompt.setWindowModality(Qt::ApplicationModal);
  auto* box = new QLineEdit(&prompt);
  box->setEchoMode(QLineEdit::Password);
  auto* ok = new QPushButton("OK", &prompt);
  ok->setDefault(true);
  auto* layout = new QVBoxLayout(&prompt);
  layout->addWidget(box);
  layout->addWidget(ok);
  QObject::connect(ok, &QPushButton::clicked, &prompt, [&] {
    if (lock.TryUnlock(box->text().toStdString())) {
      prompt.accept();
    }
  });
  // As the prompt does it: the lock opens while the prompt is being set up.
  lock.Open();
  prompt.show();
  box->setFocus();

  QWidget* window = halvard::kiosk::Window();
  ASSERT_NE(window, nullptr);
  ASSERT_NE(prompt.windowHandle(), nullptr);
  EXPECT_EQ(prompt.windowHandle()->transientParent(), window->windowHandle());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isFullScreen());
  EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
  EXPECT_EQ(QWidget::keyboardGrabber(), window);
  EXPECT_EQ(QWidget::mouseGrabber(), window);

  // Keys reach the prompt only through the kiosk window; Return presses OK.
  QTest::keyClicks(window, "secret");
  EXPECT_EQ(box->text(), "secret");
  QTest::keyClick(window, Qt::Key_Return);
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_TRUE(prompt.isVisible());
  EXPECT_EQ(QWidget::keyboardGrabber(), window);

  box->clear();
  QTest::keyClicks(window, "Secret");
  // A click on OK, made on the kiosk window where OK lies.
  const QPoint onOk = window->mapFromGlobal(ok->mapToGlobal(ok->rect().center()));
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, onOk);
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_FALSE(prompt.isVisible());
  EXPECT_EQ(halvard::kiosk::Window(), nullptr);
  EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

}  // namespace
