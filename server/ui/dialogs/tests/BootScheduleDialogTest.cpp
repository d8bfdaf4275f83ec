// "Boot Schedule": the stored schedule on opening, the day rows following the master
// switch, and OK writing only what changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>

#include "server/settings/Settings.h"
#include "server/ui/dialogs/BootScheduleDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class BootSchedule : public ::testing::Test {
 protected:
  void SetUp() override { testing::App(); }
  std::unique_ptr<CBootScheduleDialog> Open() {
    auto dialog = std::make_unique<CBootScheduleDialog>(testing::ModuleText);
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  halvard::testing::ScopedRegistry registry;
  std::vector<std::string> messages;
};

TEST_F(BootSchedule, OpensOnTheScheduleAndTheDaysFollowTheMasterSwitch) {
  auto dialog = Open();
  EXPECT_TRUE(dialog->findChild<QCheckBox*>("autoStart")->isChecked());
  EXPECT_TRUE(dialog->findChild<QCheckBox*>("lockDesktop")->isChecked());
  EXPECT_TRUE(dialog->findChild<QCheckBox*>("reboot")->isChecked());
  auto* sunday = dialog->findChild<QComboBox*>("hour0");
  EXPECT_EQ(sunday->count(), 24);
  EXPECT_EQ(sunday->currentText().toStdString(), "07AM");
  EXPECT_EQ(sunday->itemText(13).toStdString(), "13PM");
  dialog->findChild<QCheckBox*>("reboot")->setChecked(false);
  EXPECT_FALSE(dialog->findChild<QCheckBox*>("day3")->isEnabled());
  EXPECT_FALSE(dialog->findChild<QComboBox*>("hour6")->isEnabled());

  s::kReboot.Write(0);
  s::WriteRebootTime(2, 22);
  dialog = Open();
  EXPECT_FALSE(dialog->findChild<QComboBox*>("hour2")->isEnabled());
  EXPECT_EQ(dialog->findChild<QComboBox*>("hour2")->currentIndex(), 22);
}

TEST_F(BootSchedule, OkWritesOnlyWhatChangedAndCancelNothing) {
  {
    auto dialog = Open();
    dialog->findChild<QCheckBox*>("day1")->setChecked(false);
    dialog->reject();
  }
  EXPECT_TRUE(testing::StoredValues(std::string(s::kSystemPath)).empty());

  auto dialog = Open();
  dialog->findChild<QCheckBox*>("day1")->setChecked(false);
  dialog->findChild<QComboBox*>("hour5")->setCurrentIndex(3);
  dialog->findChild<QCheckBox*>("lockDesktop")->setChecked(false);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  std::vector<std::string> values = testing::StoredValues(std::string(s::kSystemPath));
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::string>{"Privacy Lock Desktop", "Reboot Friday Time", "Reboot Monday"}));
  EXPECT_EQ(s::ReadRebootTime(5), 3u);
  EXPECT_EQ(s::ReadRebootDay(1), 0u);
  EXPECT_EQ(s::kPrivacyLockDesktop.Read(), 0u);
}

TEST_F(BootSchedule, RendersOffscreen) {
  auto dialog = Open();
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "boot-schedule")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
