// "Pan-Tilt-Zoom" and "Insert/Edit Preset Item": the stored choices on opening, OK
// writing only what changed, the head's buttons acting through the camera's controller
// at once, and the step dialog refusing a zero stay time and a full tour.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>

#include "server/ptz/PtzTour.h"
#include "server/ptz/tests/PseudoTerminal.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/PanTiltZoomDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class PanTiltZoom : public ::testing::Test {
 protected:
  void SetUp() override { testing::App(); }
  std::unique_ptr<CPanTiltZoomDialog> Open(ptz::CPtzController* controller = nullptr) {
    auto dialog = std::make_unique<CPanTiltZoomDialog>(testing::ModuleText, "G", "C", controller);
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  template <class W>
  static W* Get(QWidget& dialog, const char* name) {
    return dialog.findChild<W*>(name);
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }
  // Runs the step dialog of the next Insert or Edit through `fill`, then its OK.
  void NextStep(CPanTiltZoomDialog& dialog, int preset, int hours, int minutes) {
    dialog.SetStepDialogDriver([this, preset, hours, minutes](CPresetItemDialog& step) {
      testing::RecordMessages(step, messages);
      step.Presets()->setCurrentIndex(preset - 1);
      step.Hours()->setValue(hours);
      step.Minutes()->setValue(minutes);
      step.accept();
      stepAccepted = step.result() == QDialog::Accepted;
    });
  }
  static std::vector<std::string> Rows(QWidget& dialog) {
    std::vector<std::string> rows;
    auto* table = Get<QTreeWidget>(dialog, "steps");
    for (int i = 0; i < table->topLevelItemCount(); ++i) {
      rows.push_back((table->topLevelItem(i)->text(1) + " " + table->topLevelItem(i)->text(2)).toStdString());
    }
    return rows;
  }

  halvard::testing::ScopedRegistry registry;
  std::vector<std::string> messages;
  bool stepAccepted = false;
};

TEST_F(PanTiltZoom, OpensOnStoredValuesAndTheSwitchGreysTheRest) {
  auto dialog = Open();
  EXPECT_FALSE(Get<QCheckBox>(*dialog, "enabled")->isChecked());
  EXPECT_EQ(Get<QComboBox>(*dialog, "address")->currentText().toStdString(), "001");
  EXPECT_EQ(Get<QComboBox>(*dialog, "address")->count(), 256);
  EXPECT_EQ(Get<QComboBox>(*dialog, "baud")->currentText().toStdString(), "2400");
  EXPECT_EQ(Get<QComboBox>(*dialog, "port")->currentText().toStdString(), "1");
  EXPECT_EQ(Get<QComboBox>(*dialog, "autoIris")->currentText().toStdString(), "AUTO");
  EXPECT_EQ(Get<QComboBox>(*dialog, "presets")->count(), 127);
  EXPECT_EQ(Get<QComboBox>(*dialog, "tours")->currentText().toStdString(), "#0: Inactive");
  EXPECT_FALSE(Get<QComboBox>(*dialog, "baud")->isEnabled());
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  EXPECT_TRUE(Get<QComboBox>(*dialog, "baud")->isEnabled());

  s::kInputPtz.Write("G", "C", 1);
  s::kPtzBpp.Write("G", "C", 3);
  s::kPtzCom.Write("G", "C", 5);
  s::kPtzAutoBlc.Write("G", "C", 2);
  s::kPtzAddress.Write("G", "C", 200);
  ptz::WriteActiveTour("G", "C", 2);
  dialog = Open();
  EXPECT_TRUE(Get<QComboBox>(*dialog, "baud")->isEnabled());
  EXPECT_EQ(Get<QComboBox>(*dialog, "baud")->currentText().toStdString(), "9600");
  EXPECT_EQ(Get<QComboBox>(*dialog, "port")->currentText().toStdString(), "6");
  EXPECT_EQ(Get<QComboBox>(*dialog, "backlight")->currentText().toStdString(), "OFF");
  EXPECT_EQ(Get<QComboBox>(*dialog, "address")->currentText().toStdString(), "200");
  EXPECT_EQ(Get<QComboBox>(*dialog, "tours")->currentText().toStdString(), "#2: Active");
}

TEST_F(PanTiltZoom, OkStoresOnlyWhatChangedKeepsUnknownIndexesAndCancelNothing) {
  {
    auto dialog = Open();
    Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
    dialog->reject();
  }
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());

  s::kPtzBpp.Write("G", "C", 9);  // no list entry stands for it
  auto dialog = Open();
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  Get<QComboBox>(*dialog, "autoIris")->setCurrentIndex(2);
  Get<QComboBox>(*dialog, "address")->setCurrentIndex(17);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Sorted(testing::StoredValues(s::CameraKeyPath("G", "C"))),
            (std::vector<std::string>{"Input PTZ", "PTZ Address", "PTZ Auto Iris", "PTZ bpp"}));
  EXPECT_EQ(s::kPtzBpp.Read("G", "C"), 9u);
  EXPECT_EQ(s::kPtzAddress.Read("G", "C"), 17u);
  EXPECT_EQ(s::kPtzAutoIris.Read("G", "C"), 2u);
}

TEST_F(PanTiltZoom, HeadButtonsActAtOnceThroughTheController) {
  ptz::testing::CPseudoTerminal line(1);
  ASSERT_TRUE(line.Ok());
  ptz::CPtzController controller;
  ASSERT_TRUE(controller.configure(1, 2400, 1));
  auto dialog = Open(&controller);
  emit Get<QComboBox>(*dialog, "autoFocus")->activated(2);  // OFF: command 2 = 0x2B, data 2 = 2
  const std::vector<BYTE> frame = line.Read(7);
  ASSERT_EQ(frame.size(), 7u);
  EXPECT_EQ(frame[3], 0x2B);
  EXPECT_EQ(frame[5], 0x02);
  emit Get<QComboBox>(*dialog, "autoFocus")->activated(0);  // AUTO sends nothing
  EXPECT_TRUE(line.ReadAvailable().empty());

  Get<QComboBox>(*dialog, "presets")->setCurrentIndex(4);
  Get<QLineEdit>(*dialog, "presetName")->setText("Gate");
  dialog->SavePreset();
  EXPECT_EQ(line.Read(7).size(), 7u);
  EXPECT_EQ(Get<QComboBox>(*dialog, "presets")->itemText(4).toStdString(), "005: Gate");
  dialog->reject();  // the preset stays: its button stored it
  EXPECT_EQ(s::ReadPresetName("G", "C", 5, ""), "Gate");

  // Without an open camera nothing is sent or stored, and the operator is told why.
  dialog = Open();
  Get<QComboBox>(*dialog, "presets")->setCurrentIndex(6);
  Get<QLineEdit>(*dialog, "presetName")->setText("Roof");
  dialog->SavePreset();
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(4579)}));
  EXPECT_EQ(Get<QComboBox>(*dialog, "presets")->itemText(6).toStdString(), "007: (unnamed)");
}

TEST_F(PanTiltZoom, StepDialogRefusesAZeroStayAndAFullTourWithTheTourUnchanged) {
  auto dialog = Open();
  NextStep(*dialog, 3, 0, 0);
  dialog->InsertStep();
  EXPECT_FALSE(stepAccepted);
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsZeroStay)}));
  EXPECT_EQ(ptz::CPtzTour::Load("G", "C", 0).StepCount(), 0);
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath("G", "C")).empty());

  NextStep(*dialog, 3, 1, 30);
  dialog->InsertStep();
  EXPECT_TRUE(stepAccepted);
  NextStep(*dialog, 9, 0, 5);
  auto* table = Get<QTreeWidget>(*dialog, "steps");
  table->setCurrentItem(table->topLevelItem(0));
  dialog->InsertStep();  // at the selected step: the new one goes before it
  EXPECT_EQ(Rows(*dialog), (std::vector<std::string>{"Preset 009: (unnamed) 00:05", "Preset 003: (unnamed) 01:30"}));
  NextStep(*dialog, 4, 2, 0);
  dialog->EditStep();
  EXPECT_EQ(Rows(*dialog)[0], "Preset 004: (unnamed) 02:00");
  dialog->MoveStepDown();
  EXPECT_EQ(Rows(*dialog)[1], "Preset 004: (unnamed) 02:00");
  dialog->DeleteStep();
  EXPECT_EQ(Rows(*dialog), (std::vector<std::string>{"Preset 003: (unnamed) 01:30"}));

  ptz::CPtzTour full;
  for (int i = 0; i < ptz::kTourSlots; ++i) {
    ASSERT_TRUE(full.InsertStep(1, 1, -1));
  }
  full.Save("G", "C", 1);
  Get<QComboBox>(*dialog, "tours")->setCurrentIndex(1);
  messages.clear();
  NextStep(*dialog, 2, 0, 1);
  dialog->InsertStep();
  EXPECT_FALSE(stepAccepted);
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsTourFull)}));
  EXPECT_EQ(ptz::CPtzTour::Load("G", "C", 1).StepCount(), ptz::kTourSlots);

  dialog->ActivateTour();
  EXPECT_EQ(ptz::ReadActiveTour("G", "C"), 1);
  EXPECT_EQ(Get<QComboBox>(*dialog, "tours")->itemText(1).toStdString(), "#1: Active");
  dialog->DeactivateTour();
  EXPECT_EQ(Get<QComboBox>(*dialog, "tours")->itemText(1).toStdString(), "#1: Inactive");
}

TEST_F(PanTiltZoom, RendersOffscreen) {
  auto dialog = Open();
  Get<QCheckBox>(*dialog, "enabled")->setChecked(true);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "pan-tilt-zoom")));
  CPresetItemDialog step(testing::ModuleText, "G", "C", 0, ptz::StepDialogMode::Insert, -1, PtzTextsOf(*dialog));
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(step, "pan-tilt-zoom-preset-item")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
