// "Access & Privacy Control": the two switches, the second only while the first is on.

#include <gtest/gtest.h>

#include <filesystem>

#include <QCheckBox>

#include "server/settings/Settings.h"
#include "server/ui/dialogs/AccessPrivacyDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class AccessPrivacy : public ::testing::Test {
 protected:
  void SetUp() override { testing::App(); }
  std::unique_ptr<CAccessPrivacyDialog> Open() {
    auto dialog = std::make_unique<CAccessPrivacyDialog>(testing::ModuleText, "G", "C");
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  static QCheckBox* Box(QWidget& dialog, const char* name) { return dialog.findChild<QCheckBox*>(name); }

  halvard::testing::ScopedRegistry registry;
  std::vector<std::string> messages;
};

TEST_F(AccessPrivacy, OpensOnStoredValuesAndTheMinimiseChoiceFollowsTheInputSwitch) {
  auto dialog = Open();
  EXPECT_TRUE(Box(*dialog, "inputEnabled")->isChecked());
  EXPECT_FALSE(Box(*dialog, "minimizeWindow")->isChecked());
  EXPECT_TRUE(Box(*dialog, "minimizeWindow")->isEnabled());
  Box(*dialog, "inputEnabled")->setChecked(false);
  EXPECT_FALSE(Box(*dialog, "minimizeWindow")->isEnabled());

  s::kInputEnabled.Write("G", "C", 0);
  s::kPrivacyMinimizeWindow.Write("G", "C", 1);
  dialog = Open();
  EXPECT_FALSE(Box(*dialog, "inputEnabled")->isChecked());
  EXPECT_TRUE(Box(*dialog, "minimizeWindow")->isChecked());
  EXPECT_FALSE(Box(*dialog, "minimizeWindow")->isEnabled());
}

TEST_F(AccessPrivacy, OkStoresOnlyWhatChangedAndCancelNothing) {
  {
    auto dialog = Open();
    Box(*dialog, "minimizeWindow")->setChecked(true);
    dialog->reject();
  }
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());

  auto dialog = Open();
  Box(*dialog, "minimizeWindow")->setChecked(true);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(testing::StoredValues(s::CameraKeyPath("G", "C")), (std::vector<std::string>{"Privacy Minimize Window"}));

  // Switching the input off keeps the greyed minimise choice as it was stored.
  dialog = Open();
  Box(*dialog, "inputEnabled")->setChecked(false);
  Box(*dialog, "minimizeWindow")->setChecked(false);
  dialog->accept();
  EXPECT_EQ(s::kInputEnabled.Read("G", "C"), 0u);
  EXPECT_EQ(s::kPrivacyMinimizeWindow.Read("G", "C"), 1u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AccessPrivacy, RendersOffscreen) {
  auto dialog = Open();
  const std::string path = testing::RenderToPng(*dialog, "access-privacy");
  EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace halvard::ui::dialogs
