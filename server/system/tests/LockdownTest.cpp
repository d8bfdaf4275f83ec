#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "server/settings/Settings.h"
#include "server/system/Lockdown.h"
#include "tests/support/TestSupport.h"

using namespace halvard::system;
namespace settings = halvard::settings;

namespace {

class LockdownDialogTest : public ::testing::Test {
 protected:
  halvard::testing::ScopedRegistry m_registry;
  CRecordingLockdown m_lockdown;
};

TEST_F(LockdownDialogTest, OpensWithTheStoredChoicesAndThePowerBoxChecked) {
  LockdownChoices choices = ReadLockdownChoices();
  EXPECT_EQ(choices.autoLogon, AutoLogon::Disable);
  EXPECT_EQ(choices.remoteDesktop, RemoteDesktop::Disable);
  EXPECT_EQ(choices.autorun, Autorun::Allow);
  EXPECT_EQ(choices.taskbar, TaskbarHiding::Normal);
  EXPECT_EQ(choices.visualStyle, VisualStyle::Default);
  EXPECT_EQ(choices.power, PowerSettings::Apply);

  settings::kLockdownAutoLogon.Write(1);
  settings::kLockdownDisableAutorun.Write(1);
  settings::kLockdownVisualClassic.Write(2);  // only 1 selects the action
  choices = ReadLockdownChoices();
  EXPECT_EQ(choices.autoLogon, AutoLogon::Enable);
  EXPECT_EQ(choices.autorun, Autorun::Disable);
  EXPECT_EQ(choices.visualStyle, VisualStyle::Default);
  EXPECT_TRUE(choices.userName.empty());
}

TEST_F(LockdownDialogTest, UnchangedChoicesWriteNothing) {
  LockdownChoices choices = ReadLockdownChoices();
  choices.power = PowerSettings::Leave;
  const LockdownResult result = ApplyLockdownChoices(choices, m_lockdown);
  EXPECT_EQ(result.outcome, LockdownResult::Outcome::Done);
  EXPECT_FALSE(result.restartNeeded);
  EXPECT_TRUE(m_lockdown.Calls().empty());
  EXPECT_FALSE(settings::ValueExists(settings::kSystemPath, "Lockdown Auto Logon"));
  EXPECT_FALSE(settings::ValueExists(settings::kSystemPath, "Lockdown Auto-hide"));
}

TEST_F(LockdownDialogTest, EveryChangeIsAppliedInOrderAndStored) {
  LockdownChoices choices;
  choices.autoLogon = AutoLogon::Enable;
  choices.userName = "guard";
  choices.password = "pw";
  choices.remoteDesktop = RemoteDesktop::Enable;
  choices.autorun = Autorun::Disable;
  choices.taskbar = TaskbarHiding::AutoHide;
  choices.visualStyle = VisualStyle::Classic;
  m_lockdown.SetAnswer("Taskbar", S_FALSE);
  const LockdownResult result = ApplyLockdownChoices(choices, m_lockdown);
  EXPECT_EQ(result.outcome, LockdownResult::Outcome::Done);
  EXPECT_TRUE(result.restartNeeded);
  EXPECT_EQ(m_lockdown.Calls(),
            (std::vector<std::string>{"AutoLogon Enable user=guard password=set", "RemoteDesktop Enable",
                                      "Autorun Disable", "Taskbar AutoHide", "VisualStyle Classic", "Power"}));
  EXPECT_EQ(result.notes, std::vector<std::string>{"Taskbar could not be applied"});
  EXPECT_EQ(settings::kLockdownAutoLogon.Read(), 1u);
  EXPECT_EQ(settings::kLockdownEnableRemoteDesktop.Read(), 1u);
  EXPECT_EQ(settings::kLockdownDisableAutorun.Read(), 1u);
  EXPECT_EQ(settings::kLockdownAutoHide.Read(), 1u);
  EXPECT_EQ(settings::kLockdownVisualClassic.Read(), 1u);

  // Back to "No change. Let user decide.": the off state of each.
  const LockdownResult back = ApplyLockdownChoices(LockdownChoices{}, m_lockdown);
  EXPECT_TRUE(back.restartNeeded);
  const auto calls = m_lockdown.Calls();
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 6, calls.end()),
            (std::vector<std::string>{"AutoLogon Disable user= password=empty", "RemoteDesktop Disable",
                                      "Autorun Allow", "Taskbar Normal", "VisualStyle Default", "Power"}));
  EXPECT_EQ(settings::kLockdownAutoLogon.Read(), 0u);
  EXPECT_EQ(settings::kLockdownVisualClassic.Read(), 0u);
}

TEST_F(LockdownDialogTest, ARefusedAutomaticLogonKeepsTheDialogOpenWithNothingElseDone) {
  m_lockdown.SetAnswer("AutoLogon", E_FAIL);
  LockdownChoices choices;
  choices.autoLogon = AutoLogon::Enable;
  choices.remoteDesktop = RemoteDesktop::Enable;
  const LockdownResult result = ApplyLockdownChoices(choices, m_lockdown);
  EXPECT_EQ(result.outcome, LockdownResult::Outcome::AutoLogonRefused);
  EXPECT_FALSE(result.restartNeeded);
  EXPECT_EQ(m_lockdown.Calls(), std::vector<std::string>{"AutoLogon Enable user= password=empty"});
  EXPECT_FALSE(settings::ValueExists(settings::kSystemPath, "Lockdown Auto Logon"));
  EXPECT_FALSE(settings::ValueExists(settings::kSystemPath, "Lockdown Enable Remote Desktop"));
}

TEST_F(LockdownDialogTest, TheTaskbarAloneNeedsNoRestart) {
  LockdownChoices choices;
  choices.taskbar = TaskbarHiding::AutoHide;
  choices.power = PowerSettings::Leave;
  const LockdownResult result = ApplyLockdownChoices(choices, m_lockdown);
  EXPECT_FALSE(result.restartNeeded);
  EXPECT_EQ(m_lockdown.Calls(), std::vector<std::string>{"Taskbar AutoHide"});
}

}  // namespace
