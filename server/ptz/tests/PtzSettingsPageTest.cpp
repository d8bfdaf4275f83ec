#include "server/ptz/PtzSettingsPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ptz/tests/PseudoTerminal.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::ptz {
namespace {

namespace st = halvard::settings;
using testing::Bytes;
using testing::CPseudoTerminal;

constexpr char kGroup[] = "Card B";
constexpr char kInput[] = "Yard";

class PtzSettingsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_line.Ok());
    (void)m_controller.configure(1, 2400, 1);
  }
  halvard::testing::ScopedRegistry m_registry;
  CPseudoTerminal m_line{1};
  CPtzController m_controller;
  PtzTexts m_texts;
};

TEST_F(PtzSettingsPageTest, PageSettingsRoundTripAndBindTheController) {
  PtzPageSettings values = LoadPageSettings(kGroup, kInput);
  EXPECT_EQ(values.enabled, 0u);
  EXPECT_EQ(values.speedIndex, 1u);
  EXPECT_EQ(values.address, 1u);
  values.enabled = 1;
  values.speedIndex = 4;
  values.address = 200;
  values.autoIris = kModeOff;
  SavePageSettings(kGroup, kInput, values);
  const PtzPageSettings stored = LoadPageSettings(kGroup, kInput);
  EXPECT_EQ(stored.autoIris, static_cast<DWORD>(kModeOff));
  EXPECT_EQ(stored.address, 200u);

  CPtzController controller;
  EXPECT_TRUE(ConfigureFromSettings(controller, kGroup, kInput));
  EXPECT_EQ(controller.Address(), 200);
  EXPECT_EQ(controller.Port().BaudRate(), 19200u);
  EXPECT_EQ(AddressListText(7), "007");
  EXPECT_EQ(PortListText(6), "6");
  EXPECT_EQ(StepTableColumnWidths(1100), (std::array<int, 4>{100, 500, 200, 300}));
  EXPECT_EQ(StepTableColumnWidths(1105), (std::array<int, 4>{100, 500, 200, 305}));
}

TEST_F(PtzSettingsPageTest, FocusButtonsFocusPauseAndStop) {
  std::vector<int> pauses;
  std::vector<std::vector<BYTE>> seen;
  const SleepFunction sleep = [&](int ms) {
    pauses.push_back(ms);
    seen.push_back(m_line.Read(7));
  };
  EXPECT_TRUE(FocusButton(&m_controller, kFocusNear, sleep));
  EXPECT_TRUE(FocusButton(&m_controller, kFocusFar, sleep));
  EXPECT_EQ(pauses, (std::vector<int>{10, 10}));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], Bytes({0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(seen[1], Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01,  // the first stop
                            0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81}));
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_FALSE(FocusButton(nullptr, kFocusNear, sleep));
  EXPECT_EQ(pauses.size(), 2u);
}

TEST_F(PtzSettingsPageTest, ImageAdjustmentListsSendOnlyOnAndOff) {
  EXPECT_FALSE(ImageAdjustmentSelected(&m_controller, ImageAdjustment::AutoFocus, kModeAuto));
  EXPECT_FALSE(ImageAdjustmentSelected(&m_controller, ImageAdjustment::AutoFocus, 3));
  EXPECT_FALSE(ImageAdjustmentSelected(nullptr, ImageAdjustment::AutoFocus, kModeOff));
  EXPECT_TRUE(m_line.ReadAvailable().empty());
  EXPECT_TRUE(ImageAdjustmentSelected(&m_controller, ImageAdjustment::AutoFocus, kModeOff));
  EXPECT_TRUE(ImageAdjustmentSelected(&m_controller, ImageAdjustment::AutoWhiteBalance, kModeOn));
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x2B, 0x00, 0x02, 0x2E,  //
                                    0xFF, 0x01, 0x00, 0x33, 0x00, 0x01, 0x35}));
}

TEST_F(PtzSettingsPageTest, SavingAPresetNeedsTheControllerAndKeepsTheName) {
  m_texts.defaultPresetName = "No name";
  SavedPreset saved = SavePreset(kGroup, kInput, nullptr, 2, "Gate");
  EXPECT_EQ(saved.result, SavePresetResult::NotAvailable);
  EXPECT_FALSE(st::ValueExists(st::CameraKeyPath(kGroup, kInput), "Preset 003"));
  EXPECT_EQ(PresetListEntries(kGroup, kInput, m_texts)[2], "003: No name");

  saved = SavePreset(kGroup, kInput, &m_controller, 2, "Gate");
  EXPECT_EQ(saved.result, SavePresetResult::Saved);
  EXPECT_EQ(saved.listText, "003: Gate");
  EXPECT_EQ(m_line.Read(7), Bytes({0xFF, 0x01, 0x00, 0x03, 0x00, 0x03, 0x07}));
  const std::vector<std::string> entries = PresetListEntries(kGroup, kInput, m_texts);
  ASSERT_EQ(entries.size(), 127u);
  EXPECT_EQ(entries[2], "003: Gate");
  EXPECT_EQ(entries[126], "127: No name");

  EXPECT_EQ(SavePreset(kGroup, kInput, &m_controller, -1, "x").result, SavePresetResult::NoSelection);
  EXPECT_EQ(SavePreset(kGroup, kInput, &m_controller, 127, "x").result, SavePresetResult::NoSelection);

  // A name the store could not read back is cut, not lost; a two-unit character at
  // the limit is not split.
  const std::string longName = std::string(98, 'a') + "\xF0\x9F\x93\xB7" + "tail";
  saved = SavePreset(kGroup, kInput, &m_controller, 0, longName);
  EXPECT_EQ(PresetName(kGroup, kInput, 1, m_texts), std::string(98, 'a'));
  EXPECT_EQ(saved.listText, "001: " + std::string(98, 'a'));

  EXPECT_TRUE(GotoSelectedPreset(&m_controller, 2));
  EXPECT_FALSE(GotoSelectedPreset(nullptr, 2));
  EXPECT_FALSE(GotoSelectedPreset(&m_controller, -1));
  EXPECT_EQ(m_line.Read(14), Bytes({0xFF, 0x01, 0x00, 0x03, 0x00, 0x01, 0x05,  //
                                    0xFF, 0x01, 0x00, 0x07, 0x00, 0x03, 0x0B}));
}

TEST_F(PtzSettingsPageTest, StepDialogInsertsEditsAndRefusesAZeroStay) {
  EXPECT_EQ(StepDialogFill(kGroup, kInput, 0, -1).presetSelection, 0);
  StepDialogOutcome out = ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Insert, -1, 4, 0, 10);
  EXPECT_EQ(out.result, StepDialogResult::Applied);
  EXPECT_EQ(out.selection, std::nullopt);
  out = ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Insert, 0, 6, 1, 5);
  EXPECT_EQ(out.result, StepDialogResult::Applied);
  EXPECT_EQ(out.selection, 0);

  const StepDialogValues values = StepDialogFill(kGroup, kInput, 0, 0);
  EXPECT_EQ(values.presetSelection, 6);
  EXPECT_EQ(values.hours, 1);
  EXPECT_EQ(values.minutes, 5);

  out = ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Edit, 1, 9, 0, 0);
  EXPECT_EQ(out.result, StepDialogResult::ZeroStay);
  const CPtzTour tour = CPtzTour::Load(kGroup, kInput, 0);
  ASSERT_EQ(tour.StepCount(), 2);
  EXPECT_EQ(tour.Preset(1), 5);
  EXPECT_EQ(tour.StayMinutes(1), 10);

  out = ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Edit, 1, 9, 0, 45);
  EXPECT_EQ(out.result, StepDialogResult::Applied);
  EXPECT_EQ(CPtzTour::Load(kGroup, kInput, 0).Preset(1), 10);

  for (int i = 2; i < kTourSlots; ++i) {
    ASSERT_EQ(ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Insert, -1, 0, 0, 1).result,
              StepDialogResult::Applied);
  }
  EXPECT_EQ(ApplyStepDialog(kGroup, kInput, 0, StepDialogMode::Insert, 0, 0, 0, 1).result,
            StepDialogResult::TourFull);
  EXPECT_EQ(CPtzTour::Load(kGroup, kInput, 0).StepCount(), kTourSlots);
}

TEST_F(PtzSettingsPageTest, DeleteAndMovesSelectTheirNeighbours) {
  for (int preset : {1, 2, 3}) {
    ASSERT_EQ(ApplyStepDialog(kGroup, kInput, 1, StepDialogMode::Insert, -1, preset - 1, 0, 5).result,
              StepDialogResult::Applied);
  }
  EXPECT_EQ(MoveTourStepUp(kGroup, kInput, 1, 0), 0);
  EXPECT_EQ(MoveTourStepUp(kGroup, kInput, 1, 2), 1);
  EXPECT_EQ(MoveTourStepDown(kGroup, kInput, 1, 2), 2);
  EXPECT_EQ(MoveTourStepDown(kGroup, kInput, 1, 0), 1);
  CPtzTour tour = CPtzTour::Load(kGroup, kInput, 1);
  EXPECT_EQ(tour.Preset(0), 3);
  EXPECT_EQ(tour.Preset(1), 1);
  EXPECT_EQ(tour.Preset(2), 2);
  EXPECT_EQ(DeleteTourStep(kGroup, kInput, 1, 2), 1);
  EXPECT_EQ(DeleteTourStep(kGroup, kInput, 1, 0), 0);
  EXPECT_EQ(DeleteTourStep(kGroup, kInput, 1, 0), std::nullopt);
}

TEST_F(PtzSettingsPageTest, StepTableShowsWindowsFromTheChosenAnchor) {
  m_texts.defaultPresetName = "Unnamed";
  (void)SavePreset(kGroup, kInput, &m_controller, 4, "Door");
  (void)ApplyStepDialog(kGroup, kInput, 2, StepDialogMode::Insert, -1, 4, 0, 30);
  (void)ApplyStepDialog(kGroup, kInput, 2, StepDialogMode::Insert, -1, 6, 1, 0);

  EXPECT_EQ(StartListSelection(0), kStartAtMidnight);
  EXPECT_EQ(StartListSelection(1410), kStartAtActivation);
  EXPECT_EQ(TableAnchorMinutes(kStartAtMidnight, 1410, 600), 0);
  EXPECT_EQ(TableAnchorMinutes(kStartAtActivation, 1410, 600), 1410);
  EXPECT_EQ(TableAnchorMinutes(kStartAtActivation, 0, 600), 600);

  const std::vector<StepRow> rows = StepTable(kGroup, kInput, 2, 23 * 60 + 30, m_texts);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, "1");
  EXPECT_EQ(rows[0].preset, "Preset 005: Door");
  EXPECT_EQ(rows[0].stay, "00:30");
  EXPECT_EQ(rows[0].window, "23:30 - 00:00");
  EXPECT_EQ(rows[1].number, "2");
  EXPECT_EQ(rows[1].preset, "Preset 007: Unnamed");
  EXPECT_EQ(rows[1].stay, "01:00");
  EXPECT_EQ(rows[1].window, "00:00 - 01:00");
}

TEST_F(PtzSettingsPageTest, ActivationStampsTheAnchorAndRelabelsOnlyOnChange) {
  TourList list = TourListEntries(kGroup, kInput, m_texts);
  EXPECT_EQ(list.entries, (std::vector<std::string>{"#0: Inactive", "#1: Inactive", "#2: Inactive", "#3: Inactive"}));
  EXPECT_EQ(list.selection, 0);

  std::vector<Relabel> relabel = ActivateTour(kGroup, kInput, 2, kStartAtActivation, 8 * 60 + 15, m_texts);
  ASSERT_EQ(relabel.size(), 1u);
  EXPECT_EQ(relabel[0].tour, 2);
  EXPECT_EQ(relabel[0].text, "#2: Active");
  EXPECT_EQ(ReadActiveTour(kGroup, kInput), 2);
  EXPECT_EQ(ReadTourAnchor(kGroup, kInput, 2), 495u);
  list = TourListEntries(kGroup, kInput, m_texts);
  EXPECT_EQ(list.selection, 2);
  EXPECT_EQ(list.entries[2], "#2: Active");

  // Again: only the anchor changes.
  relabel = ActivateTour(kGroup, kInput, 2, kStartAtMidnight, 9 * 60, m_texts);
  EXPECT_TRUE(relabel.empty());
  EXPECT_EQ(ReadTourAnchor(kGroup, kInput, 2), 0u);

  relabel = ActivateTour(kGroup, kInput, 1, kStartAtMidnight, 0, m_texts);
  ASSERT_EQ(relabel.size(), 2u);
  EXPECT_EQ(relabel[0].text, "#2: Inactive");
  EXPECT_EQ(relabel[1].text, "#1: Active");

  EXPECT_TRUE(DeactivateTour(kGroup, kInput, 3).empty());  // not the active one
  EXPECT_EQ(ReadActiveTour(kGroup, kInput), 1);
  relabel = DeactivateTour(kGroup, kInput, 1);
  ASSERT_EQ(relabel.size(), 1u);
  EXPECT_EQ(relabel[0].text, "#1: Inactive");
  EXPECT_EQ(ReadActiveTour(kGroup, kInput), -1);
}

}  // namespace
}  // namespace halvard::ptz
