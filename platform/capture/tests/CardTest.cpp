#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "platform/capture/CaptureDevices.h"
#include "platform/capture/CardState.h"
#include "platform/capture/PVProp.h"
#include "platform/capture/SimulatedCard.h"
#include "platform/capture/V4l2Device.h"
#include "tests/support/TestSupport.h"

namespace halvard::capture {
namespace {

// Every test starts from a fresh card table, library and two simulated cards, with an
// empty device folder so that a camera of the machine never shows up.
class CardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HALVARD_SIMULATED_CARDS", "2", 1);
    setenv("HALVARD_V4L2_DIR", m_devDir.Path().c_str(), 1);
    setenv("HALVARD_SIMULATED_CONTROL", m_devDir.File("motion").c_str(), 1);
    ResetCardStates();
    ResetPvLibrary();
    ClearPvCallLog();
    for (int card = 0; card < kMaxCards; ++card) {
      for (int input = 0; input < kCardInputs; ++input) {
        SetSimulatedMotion(card, input, false);
      }
    }
  }
  void TearDown() override {
    unsetenv("HALVARD_SIMULATED_CARDS");
    unsetenv("HALVARD_V4L2_DIR");
    unsetenv("HALVARD_SIMULATED_CONTROL");
  }

  // Runs n frames of a card and counts them per channel byte.
  static std::map<int, int> RunFrames(CSimulatedCard& card, int n) {
    std::vector<BYTE> frame(FrameBytes(card.Layout(), card.Size()));
    std::map<int, int> counts;
    for (int i = 0; i < n; ++i) {
      const int channel = card.NextFrame(frame.data(), frame.size(), 0);
      if (channel >= 0) {
        EXPECT_EQ(frame[0], channel);
        ++counts[frame[0]];
      }
    }
    return counts;
  }

  testing::TempDir m_devDir;
};

TEST(MuxSequence, FollowsSourceAndEnabledInputs) {
  EXPECT_EQ(NextMuxChannel(-1, 0xF, 4, true), 0);
  EXPECT_EQ(NextMuxChannel(0, 0xF, 4, true), 1);
  EXPECT_EQ(NextMuxChannel(3, 0xF, 4, true), 0);
  EXPECT_EQ(NextMuxChannel(0, 0b1010, 4, true), 1);
  EXPECT_EQ(NextMuxChannel(1, 0b1010, 4, true), 3);
  EXPECT_EQ(NextMuxChannel(3, 0b1010, 4, true), 1);
  EXPECT_EQ(NextMuxChannel(-1, 0, 4, true), -1);
  EXPECT_EQ(NextMuxChannel(-1, 0xF0, 4, true), -1);  // only inputs 0 ... 3 count
  EXPECT_EQ(NextMuxChannel(2, 0xF, 2, true), 2);     // one source alone
  EXPECT_EQ(NextMuxChannel(2, 0xB, 2, true), -1);    // ... when it is enabled
  EXPECT_EQ(NextMuxChannel(1, 0b1100, 4, false), 2); // full height: lowest enabled input
  EXPECT_EQ(NextMuxChannel(1, 0xF, 9, true), 2);     // unknown source multiplexes
}

TEST_F(CardTest, HundredFramesGiveTwentyFivePerInput) {
  CSimulatedCard card(0);
  const auto counts = RunFrames(card, 100);
  EXPECT_EQ(counts, (std::map<int, int>{{0, 25}, {1, 25}, {2, 25}, {3, 25}}));
  EXPECT_EQ(card.FramesOf(2), 25u);
}

TEST_F(CardTest, DisabledInputsGetNoFrames) {
  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_EnableVideoSource(1, 0, 0));
  ASSERT_TRUE(PV_EnableVideoSource(1, 2, 0));
  CSimulatedCard card(1);
  EXPECT_EQ(RunFrames(card, 100), (std::map<int, int>{{1, 50}, {3, 50}}));

  // The other card is untouched.
  CSimulatedCard other(0);
  EXPECT_EQ(RunFrames(other, 8).size(), 4u);

  for (int i : {1, 3}) {
    ASSERT_TRUE(PV_EnableVideoSource(1, i, 0));
  }
  std::vector<BYTE> frame(FrameBytes(PixelLayout::Yuy2, {320, 240}), 0xAA);
  EXPECT_EQ(card.NextFrame(frame.data(), frame.size(), 0), -1);
  EXPECT_EQ(frame[0], 0xAA);  // nothing written

  ASSERT_TRUE(PV_EnableVideoSource(1, 3, 1));
  EXPECT_EQ(RunFrames(card, 10), (std::map<int, int>{{3, 10}}));
}

TEST_F(CardTest, FullHeightDeliversOneInputAndSourceSelectsOne) {
  CSimulatedCard card(0);
  card.SetFormat({640, 480}, PixelLayout::Rgb24);
  EXPECT_EQ(RunFrames(card, 12), (std::map<int, int>{{0, 12}}));

  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_SetVideoSource(0, 2));
  card.SetFormat({320, 240}, PixelLayout::Yuy2);
  EXPECT_EQ(RunFrames(card, 12), (std::map<int, int>{{2, 12}}));
  ASSERT_TRUE(PV_SetVideoSource(0, 4));
  EXPECT_EQ(RunFrames(card, 12).size(), 4u);
  EXPECT_FALSE(PV_SetVideoSource(0, 5));
  EXPECT_FALSE(PV_SetVideoSource(0, -1));
  EXPECT_EQ(GetCardState(0).source, 4);
}

TEST_F(CardTest, PictureControlsReachTheFramesOfTheirInputOnly) {
  CSimulatedCard card(0);
  std::vector<BYTE> before[4];
  for (auto& f : before) {
    f.resize(FrameBytes(PixelLayout::Yuy2, {320, 240}));
    ASSERT_GE(card.NextFrame(f.data(), f.size(), 0), 0);
  }
  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_SetSaturation(0, 1, 0));
  card.Restart();
  std::vector<BYTE> after[4];
  for (auto& f : after) {
    f.resize(before[0].size());
    ASSERT_GE(card.NextFrame(f.data(), f.size(), 0), 0);
  }
  for (std::size_t i = 1; i < after[1].size(); i += 2) {
    ASSERT_EQ(after[1][i], 128);  // input 1 lost its colour
  }
  // Input 2's chroma is what it was (the noise only touches luma).
  for (std::size_t i = 1; i < after[2].size(); i += 2) {
    ASSERT_EQ(after[2][i], before[2][i]);
  }
  const CardSnapshot s = GetCardState(0);
  EXPECT_EQ(s.inputs[1].saturation, 0u);
  EXPECT_EQ(s.inputs[2].saturation, 5000u);
}

TEST_F(CardTest, MotionSwitchMovesTheObjectOfOneInput) {
  CSimulatedCard card(0);
  const auto frameOf = [&](int input) {
    std::vector<BYTE> f(FrameBytes(PixelLayout::Yuy2, {320, 240}));
    for (;;) {
      if (card.NextFrame(f.data(), f.size(), 0) == input) {
        return f;
      }
    }
  };
  const auto changedPixels = [](const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    int n = 0;
    for (std::size_t i = 2; i < a.size(); i += 2) {
      n += std::abs(a[i] - b[i]) > 20 ? 1 : 0;
    }
    return n;
  };
  auto a0 = frameOf(0);
  auto a2 = frameOf(2);
  auto b0 = frameOf(0);
  auto b2 = frameOf(2);
  EXPECT_EQ(changedPixels(a0, b0), 0);
  EXPECT_EQ(changedPixels(a2, b2), 0);

  SetSimulatedMotion(0, 2, true);
  a0 = frameOf(0);
  a2 = frameOf(2);
  b0 = frameOf(0);
  b2 = frameOf(2);
  EXPECT_EQ(changedPixels(a0, b0), 0);
  EXPECT_GT(changedPixels(a2, b2), 100);

  SetSimulatedMotion(0, 2, false);
  a2 = frameOf(2);
  b2 = frameOf(2);
  EXPECT_EQ(changedPixels(a2, b2), 0);  // stops where it is
}

TEST_F(CardTest, MotionControlFileOverridesAndParses) {
  SetSimulatedMotion(0, 1, true);
  {
    std::ofstream(m_devDir.File("motion")) << "0:2\n1:3, bogus 9:9 0:x\n";
  }
  ReloadMotionControl();
  EXPECT_FALSE(SimulatedMotion(0, 1));
  EXPECT_TRUE(SimulatedMotion(0, 2));
  EXPECT_TRUE(SimulatedMotion(1, 3));
  EXPECT_FALSE(SimulatedMotion(9, 9));
  {
    std::ofstream(m_devDir.File("motion")) << "none";
  }
  ReloadMotionControl();
  EXPECT_FALSE(SimulatedMotion(0, 2));
  EXPECT_EQ(MotionControlPath(), m_devDir.File("motion"));

  EXPECT_EQ(ParseMotionSet("all"), ~0ULL);
  EXPECT_EQ(ParseMotionSet(""), 0u);
  EXPECT_EQ(ParseMotionSet("1:0;0:3"), (1ULL << 4) | (1ULL << 3));
  EXPECT_EQ(ParseMotionSet("16:0 0:4 -1:0 :1 2:"), 0u);
  EXPECT_EQ(ParseMotionSet("15:3"), 1ULL << 63);
}

TEST_F(CardTest, LibraryCallsAreLoggedInOrderAndChecked) {
  EXPECT_FALSE(PV_SetVideoSource(0, 4));  // not initialised yet
  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_HWInit());
  EXPECT_TRUE(PV_SetVideoSource(0, 4));
  EXPECT_TRUE(PV_EnableVideoSource(0, 1, 0));
  EXPECT_TRUE(PV_SetBrightness(0, 1, 7000));
  EXPECT_TRUE(PV_SetContrast(0, 1, 12000));  // beyond the range: the maximum
  EXPECT_TRUE(PV_SetHue(0, 1, -5));           // below: zero
  EXPECT_TRUE(PV_SetAGC(0, 1));
  DWORD mask = 99;
  EXPECT_TRUE(PV_GetEnableChannel(0, &mask));
  EXPECT_EQ(mask, 0b1101u);
  EXPECT_FALSE(PV_SetBrightness(2, 0, 5000));  // only two cards
  EXPECT_FALSE(PV_EnableVideoSource(0, 4, 1));
  EXPECT_FALSE(PV_SetSaturation(-1, 0, 1));
  EXPECT_FALSE(PV_GetEnableChannel(0, nullptr));
  mask = 99;
  EXPECT_FALSE(PV_GetEnableChannel(7, &mask));
  EXPECT_EQ(mask, 0u);

  const CardSnapshot s = GetCardState(0);
  EXPECT_EQ(s.inputs[1].brightness, 7000u);
  EXPECT_EQ(s.inputs[1].contrast, 10000u);
  EXPECT_EQ(s.inputs[1].hue, 0u);
  EXPECT_TRUE(s.inputs[3].agc);

  EXPECT_TRUE(PV_HWUnInit());
  EXPECT_FALSE(PV_HWUnInit());
  EXPECT_FALSE(PV_SetHue(0, 0, 1));

  std::vector<std::string> texts;
  for (const PvCall& c : PvCallLog()) {
    texts.push_back(c.Text());
  }
  const std::vector<std::string> expected = {
      "PV_SetVideoSource(0, 4) = 0",     "PV_HWInit() = 1",
      "PV_HWInit() = 1",                 "PV_SetVideoSource(0, 4) = 1",
      "PV_EnableVideoSource(0, 1, 0) = 1", "PV_SetBrightness(0, 1, 7000) = 1",
      "PV_SetContrast(0, 1, 12000) = 1", "PV_SetHue(0, 1, -5) = 1",
      "PV_SetAGC(0, 1) = 1",             "PV_GetEnableChannel(0, 13) = 1",
      "PV_SetBrightness(2, 0, 5000) = 0", "PV_EnableVideoSource(0, 4, 1) = 0",
      "PV_SetSaturation(-1, 0, 1) = 0",  "PV_GetEnableChannel(0, 0) = 0",
      "PV_GetEnableChannel(7, 0) = 0",   "PV_HWUnInit() = 1",
      "PV_HWUnInit() = 0",               "PV_SetHue(0, 0, 1) = 0",
  };
  EXPECT_EQ(texts, expected);
}

TEST_F(CardTest, CallLogFileForOtherProcesses) {
  const std::string path = m_devDir.File("pvprop.log");
  setenv("HALVARD_PVPROP_LOG", path.c_str(), 1);
  ASSERT_TRUE(PV_HWInit());
  ASSERT_TRUE(PV_SetAGC(1, 1));
  unsetenv("HALVARD_PVPROP_LOG");
  std::ifstream in(path);
  std::string line1;
  std::string line2;
  std::getline(in, line1);
  std::getline(in, line2);
  EXPECT_EQ(line1, "PV_HWInit() = 1");
  EXPECT_EQ(line2, "PV_SetAGC(1, 1) = 1");
}

TEST_F(CardTest, NoCardNoLibrary) {
  setenv("HALVARD_SIMULATED_CARDS", "0", 1);
  EXPECT_FALSE(PV_HWInit());
  EXPECT_FALSE(PV_EnableVideoSource(0, 0, 1));
  DWORD mask = 5;
  EXPECT_FALSE(PV_GetEnableChannel(0, &mask));
  EXPECT_EQ(mask, 0u);
}

TEST_F(CardTest, EnumeratesSimulatedCardsByName) {
  setenv("HALVARD_SIMULATED_CARDS", "3", 1);
  // Files that are not capture devices are passed over without harm.
  std::ofstream(m_devDir.File("video0")) << "not a device";
  std::ofstream(m_devDir.File("video1x")) << "";
  const auto devices = EnumerateCaptureDevices();
  ASSERT_EQ(devices.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(devices[static_cast<std::size_t>(i)].friendlyName, "BT878 Capture " + std::to_string(i));
    EXPECT_EQ(devices[static_cast<std::size_t>(i)].card, i);
    EXPECT_EQ(devices[static_cast<std::size_t>(i)].kind, DeviceKind::Simulated);
  }
  EXPECT_NE(devices[0].devicePath, devices[1].devicePath);
  EXPECT_EQ(CardName(11), "BT878 Capture B");

  for (const char* bad : {"", "x", "-2", "3x"}) {
    setenv("HALVARD_SIMULATED_CARDS", bad, 1);
    EXPECT_EQ(SimulatedCardCount(), 0) << bad;
  }
  setenv("HALVARD_SIMULATED_CARDS", "99", 1);
  EXPECT_EQ(SimulatedCardCount(), kMaxCards);
}

TEST_F(CardTest, MissingV4l2DeviceFailsCleanly) {
  CV4l2Device device;
  EXPECT_EQ(device.Open(m_devDir.File("video7")), VFW_E_NO_CAPTURE_HARDWARE);
  std::ofstream(m_devDir.File("video8")) << "plain file";
  EXPECT_EQ(device.Open(m_devDir.File("video8")), VFW_E_NO_CAPTURE_HARDWARE);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.SetFormat({320, 240}, PixelLayout::Yuy2), E_UNEXPECTED);
  EXPECT_EQ(device.Start(), E_UNEXPECTED);
  BYTE buffer[16];
  EXPECT_EQ(device.ReadFrame(buffer, sizeof buffer, 10), VFW_E_NOT_RUNNING);
  EXPECT_TRUE(device.Controls().empty());
  EXPECT_EQ(StandardsFromV4l2(V4l2FromStandard(kStandardPalB | kStandardNtscM | kStandardSecamL)),
            kStandardPalB | kStandardNtscM | kStandardSecamL);
}

}  // namespace
}  // namespace halvard::capture
