// "Data Capture": stored values on opening, sliders that reach the card when released
// and are stored only on OK, the channel-count rule of a multiplexing card with its
// message, and the property pages of a stopped group.

#include <gtest/gtest.h>

#include <filesystem>

#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include "platform/capture/PVProp.h"
#include "server/engine/tests/EngineTestFixture.h"
#include "server/settings/Settings.h"
#include "server/ui/dialogs/DataCaptureDialog.h"
#include "server/ui/dialogs/tests/DialogTestSupport.h"

namespace halvard::ui::dialogs {
namespace {

namespace s = halvard::settings;

class DataCapture : public engine::testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    testing::App();
  }
  std::unique_ptr<CDataCaptureDialog> Open(const engine::CameraGroup* live) {
    auto dialog = std::make_unique<CDataCaptureDialog>(testing::ModuleText, kGroup, "Input 1", live,
                                                       [this] { ++pagesShown; });
    testing::RecordMessages(*dialog, messages);
    return dialog;
  }
  static void Release(QSlider& slider, int value) {
    slider.setSliderDown(true);
    slider.setValue(value);
    slider.setSliderDown(false);
  }
  static std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (const capture::PvCall& call : capture::PvCallLog()) {
      std::string text = call.function;
      for (long long a : call.args) {
        text += " " + std::to_string(a);
      }
      calls.push_back(text);
    }
    return calls;
  }

  static constexpr const char* kGroup = "BT878 Capture 0";
  std::vector<std::string> messages;
  int pagesShown = 0;
};

TEST_F(DataCapture, OpensOnStoredValuesAndTheSlidersSpanTheCardsRange) {
  auto dialog = Open(nullptr);
  CaptureValues values = dialog->Values();
  EXPECT_EQ(values.standardIndex, s::LanguageDefaultDataFormat());
  EXPECT_EQ(values.resolutionIndex, 0u);
  EXPECT_EQ(values.colorIndex, 0u);
  EXPECT_EQ(values.hdLevel, 0u);
  for (int i = 0; i < kPictureControlCount; ++i) {
    EXPECT_EQ(values.picture[static_cast<std::size_t>(i)], 5000u);
    EXPECT_EQ(dialog->Slider(i)->maximum(), 10000);
  }
  EXPECT_EQ(dialog->findChild<QComboBox*>("resolution")->itemText(2).toStdString(), "640 x 288");
  s::kDataHueNight.Write(kGroup, "Input 1", 1234);
  s::kCardHdSimulationLevel.Write(kGroup, 2);
  values = Open(nullptr)->Values();
  EXPECT_EQ(values.picture[7], 1234u);
  EXPECT_EQ(values.hdLevel, 2u);
}

TEST_F(DataCapture, ReleasedSlidersReachTheCardAtOnceAndAreStoredOnlyOnOk) {
  engine::CameraRoster& roster = MakeRoster();
  const engine::CameraGroup* group = roster.FindGroup(kGroup);
  ASSERT_NE(group, nullptr);
  {
    auto dialog = Open(group);
    capture::ClearPvCallLog();
    dialog->Slider(0)->setSliderDown(true);
    dialog->Slider(0)->setValue(6000);  // dragging: nothing yet
    EXPECT_TRUE(Calls().empty());
    dialog->Slider(0)->setSliderDown(false);
    Release(*dialog->Slider(7), 9000);  // night hue
    EXPECT_EQ(Calls(), (std::vector<std::string>{"PV_SetBrightness 0 1 6000", "PV_SetHue 0 1 9000"}));
    dialog->reject();
  }
  EXPECT_TRUE(testing::StoredValues(s::CameraKeyPath(kGroup, "Input 1")).empty());

  auto dialog = Open(group);
  Release(*dialog->Slider(2), 7000);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(testing::StoredValues(s::CameraKeyPath(kGroup, "Input 1")), (std::vector<std::string>{"Data Saturation"}));
  EXPECT_EQ(s::kDataSaturation.Read(kGroup, "Input 1"), 7000u);
}

TEST_F(DataCapture, AMultiplexingCardsInputCountFollowsTheResolutionWithItsMessage) {
  MakeRoster();
  ASSERT_EQ(s::ReadCardInputAmount(kGroup, 0), 4u);
  auto dialog = Open(nullptr);
  dialog->findChild<QComboBox*>("resolution")->setCurrentIndex(3);  // 640 x 480
  dialog->findChild<QComboBox*>("standard")->setCurrentIndex(3);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(s::ReadCardInputAmount(kGroup, 0), 1u);
  EXPECT_EQ(s::kDataResolution.Read(kGroup), 3u);
  EXPECT_EQ(s::ReadStoredDataFormat(kGroup), 3u);
  EXPECT_EQ(s::kDataFormatOption.Read(kGroup), 1u) << "a chosen standard is used from now on";
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsInputCountChanged)}));

  messages.clear();
  dialog = Open(nullptr);
  dialog->findChild<QComboBox*>("resolution")->setCurrentIndex(2);
  dialog->accept();
  EXPECT_EQ(s::ReadCardInputAmount(kGroup, 0), 4u);
  EXPECT_EQ(messages.size(), 1u);
  messages.clear();
  dialog = Open(nullptr);
  dialog->findChild<QComboBox*>("resolution")->setCurrentIndex(1);  // still four inputs
  dialog->accept();
  EXPECT_TRUE(messages.empty());
}

TEST_F(DataCapture, PropertyPagesOfAStoppedGroupExplainWhyNot) {
  engine::CameraRoster& roster = MakeRoster();
  auto dialog = Open(roster.FindGroup(kGroup));
  dialog->findChild<QPushButton*>("propertyPages")->click();
  EXPECT_EQ(messages, (std::vector<std::string>{testing::ModuleText(kIdsGroupNotRunning)}));
  EXPECT_EQ(pagesShown, 0);
}

TEST_F(DataCapture, RendersOffscreen) {
  auto dialog = Open(nullptr);
  EXPECT_TRUE(std::filesystem::exists(testing::RenderToPng(*dialog, "data-capture")));
}

}  // namespace
}  // namespace halvard::ui::dialogs
