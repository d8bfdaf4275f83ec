// "Internet Video Monitoring": the stored choices on opening, the controls that follow
// the switches, the server list edited in the dialog and stored by OK alone, and the
// refusals that leave the store untouched.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "server/settings/Settings.h"
#include "server/ui/dialogs/InternetMonitoringDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class InternetMonitoring : public ::testing::Test {
 protected:
  void SetUp() override { testing::App(); }
  std::unique_ptr<CInternetMonitoringDialog> Open() {
    auto dialog = std::make_unique<CInternetMonitoringDialog>(
        testing::ModuleText, "G", "C", std::vector<std::string>{"192.168.1.5", "85.1.2.3"});
    testing::RecordMessages(*dialog, messages);
    dialog->SetQuestionFunction([this](const std::string& text) {
      questions.push_back(text);
      return true;
    });
    return dialog;
  }
  template <class W>
  static W* Get(QWidget& dialog, const char* name) {
    return dialog.findChild<W*>(name);
  }
  static std::vector<std::string> Listed(QWidget& dialog) {
    std::vector<std::string> hosts;
    auto* list = Get<QListWidget>(dialog, "servers");
    for (int i = 0; i < list->count(); ++i) {
      hosts.push_back(list->item(i)->text().toStdString());
    }
    return hosts;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  halvard::testing::ScopedRegistry registry;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
};

TEST_F(InternetMonitoring, OpensOnStoredValuesWithControlsFollowingTheirSwitches) {
  auto dialog = Open();
  EXPECT_FALSE(Get<QCheckBox>(*dialog, "enabled")->isChecked());
  EXPECT_FALSE(Get<QLineEdit>(*dialog, "port")->isEnabled());
  EXPECT_EQ(Get<QLineEdit>(*dialog, "port")->text().toStdString(), std::to_string(s::DefaultInternetPort("G", "C")));
  EXPECT_EQ(Listed(*dialog), (std::vector<std::string>{s::InternetServerDefault(2), s::InternetServerDefault(3)}));

  s::kInputVideoMonitoring.Write("G", "C", 1);
  s::kInternetIpManu.Write("G", "C", 1);
  s::WriteSystemInternetIp("85.1.2.3");
  s::WriteInternetPort("G", "C", 12345);
  s::kInternetBroadcastingNote.Write("G", "C", "front door");
  dialog = Open();
  EXPECT_TRUE(Get<QCheckBox>(*dialog, "enabled")->isChecked());
  EXPECT_TRUE(Get<QComboBox>(*dialog, "address")->isEnabled());
  EXPECT_EQ(Get<QComboBox>(*dialog, "address")->currentText().toStdString(), "85.1.2.3");
  EXPECT_EQ(Get<QLineEdit>(*dialog, "port")->text().toStdString(), "12345");
  EXPECT_EQ(Get<QLineEdit>(*dialog, "note")->text().toStdString(), "front door");
  EXPECT_FALSE(Get<QLineEdit>(*dialog, "note")->isEnabled());
  Get<QCheckBox>(*dialog, "publish")->setChecked(true);
  EXPECT_TRUE(Get<QLineEdit>(*dialog, "note")->isEnabled());
  Get<QCheckBox>(*dialog, "manualAddress")->setChecked(false);
  EXPECT_FALSE(Get<QComboBox>(*dialog, "address")->isEnabled());

  // A manual address no interface has any more is still offered, not replaced.
  s::WriteSystemInternetIp("10.9.9.9");
  dialog = Open();
  EXPECT_EQ(Get<QComboBox>(*dialog, "address")->currentText().toStdString(), "10.9.9.9");
}

TEST_F(InternetMonitoring, BadValuesAreRefusedWithNothingWritten) {
  auto dialog = Open();
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  Get<QLineEdit>(*dialog, "port")->setText("70000");
  dialog->accept();
  EXPECT_NE(dialog->result(), QDialog::Accepted);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Use this fixed port for the camera must be a whole number from 1 to 65535.");
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());

  Get<QLineEdit>(*dialog, "port")->setText("0");
  dialog->accept();
  Get<QLineEdit>(*dialog, "port")->setText("80");
  Get<QCheckBox>(*dialog, "publish")->setChecked(true);
  Get<QLineEdit>(*dialog, "note")->setText("abc");  // three characters: too short to publish
  dialog->accept();
  Get<QCheckBox>(*dialog, "manualAddress")->setChecked(true);
  Get<QComboBox>(*dialog, "address")->setCurrentIndex(-1);
  Get<QLineEdit>(*dialog, "note")->setText("äöüß");  // four characters, eight bytes
  dialog->accept();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2], testing::ModuleText(kIdsNoteTooShort));
  EXPECT_EQ(messages[3], testing::ModuleText(kIdsSelectAddress));
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());
  EXPECT_TRUE(testing::StoredValues(std::string(s::kSystemPath)).empty());
}

TEST_F(InternetMonitoring, OkStoresOnlyWhatChangedAndWarnsAboutAPrivateAddress) {
  auto dialog = Open();
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  Get<QCheckBox>(*dialog, "manualAddress")->setChecked(true);
  Get<QComboBox>(*dialog, "address")->setCurrentIndex(0);  // 192.168.1.5
  Get<QLineEdit>(*dialog, "port")->setText(" 10500 ");
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("192.168.1.5 is a private address", 0), 0u) << messages[0];
  EXPECT_EQ(Sorted(testing::StoredValues(s::CameraKeyPath("G", "C"))),
            (std::vector<std::string>{"Input Video Monitoring", "Internet IP Manu", "Internet Port"}));
  EXPECT_EQ(testing::StoredValues(std::string(s::kSystemPath)), (std::vector<std::string>{"Internet IP"}));
  EXPECT_EQ(s::ReadSystemInternetIp(), "192.168.1.5");
  EXPECT_EQ(s::ReadInternetPort("G", "C"), 10500u);

  // Opened again and closed with OK untouched: nothing more is written.
  dialog = Open();
  messages.clear();
  dialog->accept();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(testing::StoredValues(s::CameraKeyPath("G", "C")).size(), 3u);
}

TEST_F(InternetMonitoring, TheServerListIsEditedInTheDialogAndStoredByOkOnly) {
  auto dialog = Open();
  dialog->SetHostFunction([] { return std::optional<std::string>("dir.example.net"); });
  dialog->AddServer();
  dialog->AddServer();
  EXPECT_EQ(Listed(*dialog).size(), 4u);
  dialog->AddServer();  // every place taken
  EXPECT_EQ(messages.back(), testing::ModuleText(kIdsServerListFull));
  dialog->SetHostFunction([] { return std::optional<std::string>("evil/host?x=1"); });
  dialog->AddServer();
  EXPECT_EQ(messages.back(), testing::ModuleText(kIdsHostInvalid));
  dialog->reject();
  EXPECT_TRUE(testing::StoredValues(std::string(s::kSystemPath)).empty());

  dialog = Open();
  auto* list = Get<QListWidget>(*dialog, "servers");
  dialog->RemoveServer();  // nothing selected
  EXPECT_EQ(messages.back(), testing::ModuleText(4541));
  list->setCurrentRow(0);
  dialog->RemoveServer();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find(s::InternetServerDefault(2)), std::string::npos);
  EXPECT_EQ(Listed(*dialog), (std::vector<std::string>{s::InternetServerDefault(3)}));
  dialog->accept();
  EXPECT_EQ(testing::StoredValues(std::string(s::kSystemPath)), (std::vector<std::string>{s::InternetServerName(2)}));
  EXPECT_EQ(s::ReadInternetServer(2), "");

  dialog = Open();
  dialog->ResetServers();
  dialog->accept();
  EXPECT_EQ(s::ReadInternetServer(2), s::InternetServerDefault(2));
}

TEST_F(InternetMonitoring, RendersOffscreen) {
  auto dialog = Open();
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "internet-monitoring")));
  CHostNameDialog add(testing::ModuleText);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(add, "internet-monitoring-add-server")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
