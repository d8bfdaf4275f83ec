// "Windows Lockdown" over a recording lockdown, and the desktop lock's "Enter
// Password:" prompt, which only the password leaves.

#include <gtest/gtest.h>

#include <filesystem>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "platform/com/Com.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/PasswordDialog.h"
#include "server/ui/dialogs/WindowsLockdownDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class Lockdown : public ::testing::Test {
 protected:
  void SetUp() override { testing::App(); }
  std::unique_ptr<CWindowsLockdownDialog> Open() {
    auto dialog = std::make_unique<CWindowsLockdownDialog>(testing::ModuleText, lockdown);
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  template <class W>
  static W* Get(QWidget& dialog, const char* name) {
    return dialog.findChild<W*>(name);
  }
  halvard::testing::ScopedRegistry registry;
  system::CRecordingLockdown lockdown;
  std::vector<std::string> messages;
};

TEST_F(Lockdown, OpensOnTheRememberedChoicesWithTheLogonBoxesFollowingTheirButton) {
  auto dialog = Open();
  EXPECT_TRUE(Get<QRadioButton>(*dialog, "autoLogonNoChange")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>(*dialog, "classicNoChange")->isChecked());
  EXPECT_FALSE(Get<QLineEdit>(*dialog, "userName")->isEnabled());
  EXPECT_TRUE(Get<QCheckBox>(*dialog, "power")->isChecked());
  Get<QRadioButton>(*dialog, "autoLogon")->setChecked(true);
  EXPECT_TRUE(Get<QLineEdit>(*dialog, "password")->isEnabled());
  EXPECT_EQ(Get<QLineEdit>(*dialog, "password")->echoMode(), QLineEdit::Password);

  s::kLockdownAutoHide.Write(1);
  s::kLockdownDisableAutorun.Write(1);
  dialog = Open();
  EXPECT_TRUE(Get<QRadioButton>(*dialog, "autoHide")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>(*dialog, "autorun")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>(*dialog, "remoteDesktopNoChange")->isChecked());
}

TEST_F(Lockdown, ARefusedLogonKeepsTheDialogOpenWithNothingChanged) {
  auto dialog = Open();
  Get<QRadioButton>(*dialog, "autoLogon")->setChecked(true);
  Get<QRadioButton>(*dialog, "classic")->setChecked(true);
  Get<QLineEdit>(*dialog, "userName")->setText("guard");
  lockdown.SetAnswer("AutoLogon", E_FAIL);  // as the desktop answers without a password
  dialog->accept();
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsAutoLogonRefused)}));
  EXPECT_EQ(s::kLockdownVisualClassic.Read(), 0u);
  EXPECT_EQ(s::kLockdownAutoLogon.Read(), 0u);

  EXPECT_EQ(lockdown.Calls().size(), 1u);
  messages.clear();
  lockdown.SetAnswer("AutoLogon", S_OK);
  Get<QLineEdit>(*dialog, "password")->setText("secret");
  Get<QCheckBox>(*dialog, "power")->setChecked(false);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(s::kLockdownAutoLogon.Read(), 1u);
  EXPECT_EQ(s::kLockdownVisualClassic.Read(), 1u);
  const std::vector<std::string> calls = lockdown.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1], "AutoLogon Enable user=guard password=set");
  EXPECT_EQ(calls[2], "VisualStyle Classic");
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsLockdownRestart)}));

  // What the desktop could not do is listed, not dropped.
  lockdown.SetAnswer("Taskbar", S_FALSE);
  dialog = Open();
  Get<QRadioButton>(*dialog, "autoHide")->setChecked(true);
  dialog->accept();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind(testing::ModuleText(kIdsLockdownNotes), 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "windows-lockdown")));
}

TEST(PasswordPrompt, OnlyThePasswordLeavesIt) {
  testing::App();
  halvard::testing::ScopedRegistry registry;
  s::kSysPassword.Write("Open Sesame");
  system::CRecordingZelLock kiosk;
  system::CRecordingScreenSaver screenSaver;
  system::CDesktopLock lock(2, kiosk, screenSaver);
  lock.Open();
  CPasswordDialog prompt(testing::ModuleText, lock);
  EXPECT_EQ(prompt.windowTitle().toStdString(), "Enter Password:");
  EXPECT_FALSE(prompt.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  prompt.reject();  // Escape and the title bar do nothing
  prompt.Edit()->setText("open sesame");
  prompt.accept();
  EXPECT_TRUE(prompt.Refused());
  EXPECT_TRUE(prompt.Edit()->text().isEmpty());
  EXPECT_NE(prompt.result(), QDialog::Accepted);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(prompt, "enter-password")));
  prompt.Edit()->setText("Open Sesame");
  prompt.accept();
  EXPECT_EQ(prompt.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace halvard::ui::dialogs
