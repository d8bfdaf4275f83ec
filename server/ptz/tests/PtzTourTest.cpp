#include "server/ptz/PtzTour.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/ptz/PtzController.h"
#include "server/ptz/PtzTourRunner.h"
#include "server/ptz/tests/PseudoTerminal.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::ptz {
namespace {

namespace st = halvard::settings;
using testing::Bytes;
using testing::CPseudoTerminal;

constexpr char kGroup[] = "Card A";
constexpr char kInput[] = "Gate";

CPtzTour TourOf(std::initializer_list<std::pair<int, int>> steps) {
  CPtzTour tour;
  for (const auto& [preset, minutes] : steps) {
    EXPECT_TRUE(tour.InsertStep(preset, minutes, -1));
  }
  return tour;
}

std::vector<std::pair<int, int>> StepsOf(const CPtzTour& tour) {
  std::vector<std::pair<int, int>> steps;
  for (int i = 0; i < tour.StepCount(); ++i) {
    steps.emplace_back(tour.Preset(i), tour.StayMinutes(i));
  }
  return steps;
}

using Steps = std::vector<std::pair<int, int>>;

TEST(PtzTourStoreTest, SavedToursLoadBackWithTheirExactSizes) {
  halvard::testing::ScopedRegistry registry;
  const CPtzTour tour = TourOf({{5, 10}, {7, 20}, {127, 1440}});
  tour.Save(kGroup, kInput, 2);

  const std::string key = st::CameraKeyPath(kGroup, kInput);
  std::vector<BYTE> times(128);
  std::vector<BYTE> presets(32);
  ASSERT_TRUE(st::ReadBin(key, "PTZ Scan #2 Time", times));
  ASSERT_TRUE(st::ReadBin(key, "PTZ Scan #2 Preset", presets));
  EXPECT_EQ(std::vector<BYTE>(times.begin(), times.begin() + 12),
            Bytes({10, 0, 0, 0, 20, 0, 0, 0, 0xA0, 0x05, 0, 0}));
  EXPECT_EQ(presets[0], 5);
  EXPECT_EQ(presets[2], 127);
  EXPECT_EQ(presets[3], 0xFF);  // slots never written

  const CPtzTour loaded = CPtzTour::Load(kGroup, kInput, 2);
  EXPECT_EQ(StepsOf(loaded), (Steps{{5, 10}, {7, 20}, {127, 1440}}));
  EXPECT_EQ(CPtzTour::Load(kGroup, kInput, 1).StepCount(), 0);
  // Tour numbers outside 0..3 are neither stored nor read.
  tour.Save(kGroup, kInput, 4);
  EXPECT_FALSE(st::ValueExists(key, "PTZ Scan #4 Time"));
  EXPECT_EQ(CPtzTour::Load(kGroup, kInput, -1).StepCount(), 0);
}

TEST(PtzTourStoreTest, MissingOrMisSizedValuesReadAsEmptyTours) {
  halvard::testing::ScopedRegistry registry;
  const std::string key = st::CameraKeyPath(kGroup, kInput);
  std::vector<BYTE> shortTimes(124, 1);
  st::WriteBin(key, "PTZ Scan #0 Time", shortTimes);
  std::vector<BYTE> presets(32, 9);
  st::WriteBin(key, "PTZ Scan #0 Preset", presets);
  const CPtzTour shortTour = CPtzTour::Load(kGroup, kInput, 0);
  EXPECT_EQ(shortTour.StepCount(), 0);
  EXPECT_EQ(shortTour.Preset(0), 9);

  // Stay times without their presets: steps whose preset is unknown (0xFF).
  std::vector<BYTE> times(128, 0);
  times[0] = 15;
  st::WriteBin(key, "PTZ Scan #1 Time", times);
  std::vector<BYTE> longPresets(33, 4);
  st::WriteBin(key, "PTZ Scan #1 Preset", longPresets);
  const CPtzTour noPresets = CPtzTour::Load(kGroup, kInput, 1);
  EXPECT_EQ(noPresets.StepCount(), 1);
  EXPECT_EQ(noPresets.Preset(0), 0xFF);
}

TEST(PtzTourEditTest, InsertKeepsOrderAndRefusesAFullTour) {
  CPtzTour tour = TourOf({{1, 1}, {2, 2}});
  EXPECT_TRUE(tour.InsertStep(9, 5, 0));    // at the front
  EXPECT_TRUE(tour.InsertStep(8, 4, 2));    // in the middle
  EXPECT_TRUE(tour.InsertStep(7, 3, 40));   // above 31: after the last step
  EXPECT_TRUE(tour.InsertStep(6, 6, -5));   // any negative: after the last step
  EXPECT_EQ(StepsOf(tour), (Steps{{9, 5}, {1, 1}, {8, 4}, {2, 2}, {7, 3}, {6, 6}}));
  EXPECT_FALSE(tour.InsertStep(3, 0, 0));   // a zero stay would cut the tour
  EXPECT_FALSE(tour.InsertStep(3, -4, 0));

  while (tour.StepCount() < kTourSlots) {
    ASSERT_TRUE(tour.InsertStep(100, 10, 1));
  }
  const auto before = tour.StayTimes();
  EXPECT_FALSE(tour.InsertStep(3, 3, 0));
  EXPECT_FALSE(tour.InsertStep(3, 3, -1));
  EXPECT_EQ(tour.StayTimes(), before);
  EXPECT_EQ(tour.Preset(31), 6);  // the last step did not fall off
}

TEST(PtzTourEditTest, InsertBeforeAHoleKeepsHiddenSlotsHidden) {
  std::array<std::int32_t, kTourSlots> stay{};
  std::array<BYTE, kTourSlots> presets{};
  presets.fill(0xFF);
  stay[0] = 10;
  stay[2] = 99;  // behind the first empty slot: not part of the tour
  presets[0] = 1;
  presets[2] = 2;
  CPtzTour tour;
  tour.SetSlots(stay, presets);
  ASSERT_EQ(tour.StepCount(), 1);
  EXPECT_TRUE(tour.InsertStep(5, 5, -1));
  EXPECT_EQ(StepsOf(tour), (Steps{{1, 10}, {5, 5}}));
}

TEST(PtzTourEditTest, ReplaceRemoveAndMovesAtTheirLimits) {
  CPtzTour tour = TourOf({{1, 10}, {2, 20}, {3, 30}});
  EXPECT_FALSE(tour.ReplaceStep(9, 9, -1));
  EXPECT_FALSE(tour.ReplaceStep(9, 9, 3));   // past the last step
  EXPECT_FALSE(tour.ReplaceStep(9, 0, 1));
  EXPECT_TRUE(tour.ReplaceStep(9, 9, 2));
  EXPECT_EQ(StepsOf(tour), (Steps{{1, 10}, {2, 20}, {9, 9}}));

  EXPECT_FALSE(tour.MoveStepUp(0));
  EXPECT_FALSE(tour.MoveStepUp(-1));
  EXPECT_FALSE(tour.MoveStepUp(3));
  EXPECT_TRUE(tour.MoveStepUp(2));
  EXPECT_EQ(StepsOf(tour), (Steps{{1, 10}, {9, 9}, {2, 20}}));
  EXPECT_FALSE(tour.MoveStepDown(2));        // already last
  EXPECT_FALSE(tour.MoveStepDown(-1));
  EXPECT_TRUE(tour.MoveStepDown(0));
  EXPECT_EQ(StepsOf(tour), (Steps{{9, 9}, {1, 10}, {2, 20}}));

  EXPECT_FALSE(tour.RemoveStep(-1));
  EXPECT_FALSE(tour.RemoveStep(40));         // taken as 31: no step there
  EXPECT_TRUE(tour.RemoveStep(0));
  EXPECT_EQ(StepsOf(tour), (Steps{{1, 10}, {2, 20}}));
  EXPECT_TRUE(tour.RemoveStep(1));
  EXPECT_TRUE(tour.RemoveStep(0));
  EXPECT_EQ(tour.StepCount(), 0);
  EXPECT_EQ(tour.Preset(0), 0xFF);

  // Removing from a full tour frees the last slot.
  CPtzTour full;
  for (int i = 0; i < kTourSlots; ++i) {
    ASSERT_TRUE(full.InsertStep(i + 1, 1, -1));
  }
  EXPECT_TRUE(full.RemoveStep(99));          // taken as 31
  EXPECT_EQ(full.StepCount(), 31);
  EXPECT_EQ(full.StayMinutes(31), 0);
  EXPECT_EQ(full.Preset(30), 31);
}

TEST(PtzTourTimelineTest, CurrentStepFollowsTheBoundaries) {
  const CPtzTour tour = TourOf({{5, 10}, {7, 20}});
  auto at = [&](int anchor, int hour, int minute) {
    return CurrentStep(tour, anchor, (hour * 60 + minute) * 60);
  };
  EXPECT_EQ(at(0, 0, 0), 0);
  EXPECT_EQ(at(0, 0, 10), 0);  // a step ending on the current minute is still current
  EXPECT_EQ(at(0, 0, 11), 1);
  EXPECT_EQ(at(0, 0, 30), 1);
  EXPECT_EQ(at(0, 0, 31), std::nullopt);
  EXPECT_EQ(at(480, 0, 0), 0);  // before the anchor the first step applies
  EXPECT_EQ(at(480, 8, 10), 0);
  EXPECT_EQ(at(480, 8, 11), 1);
  EXPECT_EQ(StepBoundarySeconds(tour, 480, 2), (480 + 30) * 60);
  EXPECT_EQ(CurrentStep(CPtzTour(), 0, 0), std::nullopt);
}

TEST(PtzTourTextTest, StaysAreNotWrappedButWindowsAre) {
  EXPECT_EQ(StayTimeText(1500), "25:00");
  EXPECT_EQ(StepWindowText(23 * 60 + 30, 24 * 60 + 30), "23:30 - 00:30");
  EXPECT_EQ(StepWindowText(2 * 1440 + 5, 2 * 1440 + 65), "00:05 - 01:05");
  EXPECT_EQ(TourListText(2, "Active"), "#2: Active");
  EXPECT_EQ(InactiveTourText(3), "#3: Inactive");
}

// The runner, driven by a fixed clock, against a pseudo-terminal.
class PtzTourRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_line.Ok());
    (void)m_controller.configure(1, 2400, 1);
    st::kInputPtz.Write(kGroup, kInput, 1);
  }

  // Go to preset frames seen after one tick at hh:mm.
  std::vector<int> TickAt(int hour, int minute) {
    const PtzCamera cameras[] = {{kGroup, kInput}};
    const int sent = RunTourTick(
        cameras, [=] { return hour * 60 + minute; },
        [this](std::string_view group, std::string_view input) -> CPtzController* {
          return group == kGroup && input == kInput && m_documentOpen ? &m_controller : nullptr;
        });
    std::vector<int> presets;
    const std::vector<BYTE> bytes = sent > 0 ? m_line.Read(7 * static_cast<std::size_t>(sent)) : m_line.ReadAvailable();
    for (std::size_t i = 0; i + 7 <= bytes.size(); i += 7) {
      EXPECT_EQ(bytes[i + 3], 0x07);
      presets.push_back(bytes[i + 5]);
    }
    EXPECT_EQ(static_cast<int>(presets.size()), sent);
    return presets;
  }

  void Activate(int tour, int anchor) {
    WriteActiveTour(kGroup, kInput, tour);
    WriteTourAnchor(kGroup, kInput, tour, static_cast<DWORD>(anchor));
  }

  halvard::testing::ScopedRegistry m_registry;
  CPseudoTerminal m_line{1};
  CPtzController m_controller;
  bool m_documentOpen = true;
};

TEST_F(PtzTourRunnerTest, TourAnchoredAtMidnight) {
  TourOf({{5, 10}, {7, 20}}).Save(kGroup, kInput, 1);
  Activate(1, 0);
  EXPECT_EQ(TickAt(0, 0), std::vector<int>{5});
  EXPECT_EQ(TickAt(0, 10), std::vector<int>{5});
  EXPECT_EQ(TickAt(0, 11), std::vector<int>{7});
  EXPECT_EQ(TickAt(0, 30), std::vector<int>{7});
  EXPECT_TRUE(TickAt(0, 31).empty());
  EXPECT_TRUE(TickAt(23, 59).empty());
}

TEST_F(PtzTourRunnerTest, TourAnchoredInTheMorningAndAcrossMidnight) {
  TourOf({{5, 10}, {7, 20}}).Save(kGroup, kInput, 0);
  Activate(0, 8 * 60);
  EXPECT_EQ(TickAt(0, 0), std::vector<int>{5});
  EXPECT_EQ(TickAt(8, 10), std::vector<int>{5});
  EXPECT_EQ(TickAt(8, 11), std::vector<int>{7});
  EXPECT_TRUE(TickAt(8, 31).empty());

  TourOf({{3, 30}, {4, 30}}).Save(kGroup, kInput, 2);
  Activate(2, 23 * 60 + 30);
  EXPECT_EQ(TickAt(23, 45), std::vector<int>{3});
  EXPECT_EQ(TickAt(0, 15), std::vector<int>{3});  // before the anchor: first step
}

TEST_F(PtzTourRunnerTest, CamerasWithoutATourOrControllerGetNothing) {
  TourOf({{5, 10}}).Save(kGroup, kInput, 0);
  EXPECT_TRUE(TickAt(0, 0).empty());  // no active tour
  Activate(3, 0);
  EXPECT_TRUE(TickAt(0, 0).empty());  // the active tour is empty
  Activate(0, 0);
  m_documentOpen = false;
  EXPECT_TRUE(TickAt(0, 0).empty());
  m_documentOpen = true;
  st::kInputPtz.Write(kGroup, kInput, 0);
  EXPECT_TRUE(TickAt(0, 0).empty());
  st::kInputPtz.Write(kGroup, kInput, 1);
  EXPECT_EQ(TickAt(0, 0), std::vector<int>{5});

  // A step whose preset value was lost is not sent as preset 255.
  st::DeleteValue(st::CameraKeyPath(kGroup, kInput), st::ScanPresetName(0));
  EXPECT_TRUE(TickAt(0, 0).empty());
}

}  // namespace
}  // namespace halvard::ptz
