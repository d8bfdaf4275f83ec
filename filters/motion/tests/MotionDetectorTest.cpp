#include "filters/motion/MotionDetector.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/com/Com.h"

namespace halvard::motion {
namespace {

// A 64 x 48 YUY2 camera picture with blocks of 16 below a top margin of 16: 4 x 2 blocks.
class DetectorTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;

  void SetUp() override {
    area.assign(kAreaBitmapBytes, 0xFF);
    ASSERT_EQ(detector.Configure(Settings(2)), S_OK);
  }
  static DetectorSettings Settings(int bytesPerPixel, int threshold = 10) {
    DetectorSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.topMargin = 16;
    s.bottomMargin = 0;
    s.bytesPerPixel = bytesPerPixel;
    s.blockSize = 16;
    s.threshold = threshold;
    return s;
  }
  std::vector<std::uint8_t> Flat(std::uint8_t luma, int bytesPerPixel = 2) const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth * kHeight * bytesPerPixel), luma);
  }
  // Sets the luma of a display rectangle of a YUY2 picture.
  static void Paint(std::vector<std::uint8_t>& frame, int x0, int y0, int w, int h, std::uint8_t luma) {
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        frame[static_cast<std::size_t>((y * kWidth + x) * 2)] = luma;
      }
    }
  }
  bool Feed(const std::vector<std::uint8_t>& frame) {
    return detector.Analyse(frame.data(), frame.size(), area.data());
  }

  CMotionDetector detector;
  std::vector<std::uint8_t> area;
};

TEST_F(DetectorTest, GridFollowsTheGeometry) {
  EXPECT_EQ(detector.Grid().columns, 4);
  EXPECT_EQ(detector.Grid().rows, 2);
  EXPECT_EQ(detector.Grid().shift, 6);
  EXPECT_EQ(detector.FrameBytes(), static_cast<std::uint64_t>(kWidth * kHeight * 2));
}

TEST_F(DetectorTest, StillPictureNeverMoves) {
  const auto still = Flat(80);
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(Feed(still));
  }
}

TEST_F(DetectorTest, ChangeAcrossTwoPairsIsReportedOnTheFourthFrame) {
  auto a = Flat(80);
  auto b = Flat(80);
  Paint(b, 16, 16, 16, 16, 200);
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(b));  // first pair moved: remembered only
  EXPECT_FALSE(Feed(a));
  EXPECT_TRUE(Feed(b));   // second pair moved too
  EXPECT_FALSE(Feed(a));
  EXPECT_TRUE(Feed(b));   // still moving
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(a));  // a quiet pair clears the flag
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(b));
}

TEST_F(DetectorTest, LastingChangeBetweenPairsIsNeverReported) {
  const auto before = Flat(80);
  const auto after = Flat(200);
  EXPECT_FALSE(Feed(before));
  EXPECT_FALSE(Feed(before));
  for (int i = 0; i < 10; ++i) {
    EXPECT_FALSE(Feed(after));
  }
}

TEST_F(DetectorTest, ThresholdIsExclusive) {
  // The block mean follows the luma exactly on a flat picture.
  ASSERT_EQ(detector.Configure(Settings(2, 20)), S_OK);
  const auto a = Flat(100);
  auto atThreshold = Flat(100);
  Paint(atThreshold, 0, 16, 16, 16, 120);
  auto overThreshold = Flat(100);
  Paint(overThreshold, 0, 16, 16, 16, 121);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(Feed(a));
    EXPECT_FALSE(Feed(atThreshold));
  }
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(overThreshold));
  EXPECT_FALSE(Feed(a));
  EXPECT_TRUE(Feed(overThreshold));
}

TEST_F(DetectorTest, UnwatchedBlocksMarginAndRightEdgeAreIgnored) {
  // 70 pixels wide: 4 columns of 16, so pixels 64..69 lie outside the grid.
  DetectorSettings s = Settings(2);
  s.width = 70;
  ASSERT_EQ(detector.Configure(s), S_OK);
  area.assign(kAreaBitmapBytes, 0xFF);
  area[0] = static_cast<std::uint8_t>(~0x01);  // block (0, 0) not watched
  const std::size_t size = static_cast<std::size_t>(70 * kHeight * 2);
  std::vector<std::uint8_t> a(size, 80);
  std::vector<std::uint8_t> b(size, 80);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < 70; ++x) {
      const bool inMargin = y < 16;
      const bool inUnwatched = y >= 16 && y < 32 && x < 16;
      const bool rightOfGrid = x >= 64;
      if (inMargin || inUnwatched || rightOfGrid) {
        b[static_cast<std::size_t>((y * 70 + x) * 2)] = 250;
      }
    }
  }
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(detector.Analyse(a.data(), a.size(), area.data()));
    EXPECT_FALSE(detector.Analyse(b.data(), b.size(), area.data()));
  }
}

TEST_F(DetectorTest, Rgb24RowsAreCountedFromTheTopOfThePicture) {
  ASSERT_EQ(detector.Configure(Settings(3)), S_OK);
  const auto a = Flat(80, 3);
  auto topChange = Flat(80, 3);
  // The top margin is the last 16 stored rows: a change there is ignored.
  for (int memoryRow = kHeight - 16; memoryRow < kHeight; ++memoryRow) {
    for (int x = 0; x < kWidth * 3; ++x) {
      topChange[static_cast<std::size_t>(memoryRow * kWidth * 3 + x)] = 250;
    }
  }
  auto lowChange = Flat(80, 3);
  for (int x = 0; x < kWidth * 3; ++x) {
    lowChange[static_cast<std::size_t>(kWidth * 3 + x)] = 250;  // memory row 1 = display row 46
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(detector.Analyse(a.data(), a.size(), area.data()));
    EXPECT_FALSE(detector.Analyse(topChange.data(), topChange.size(), area.data()));
  }
  EXPECT_FALSE(detector.Analyse(a.data(), a.size(), area.data()));
  EXPECT_FALSE(detector.Analyse(lowChange.data(), lowChange.size(), area.data()));
  EXPECT_FALSE(detector.Analyse(a.data(), a.size(), area.data()));
  EXPECT_TRUE(detector.Analyse(lowChange.data(), lowChange.size(), area.data()));
}

TEST_F(DetectorTest, ReconfigureResetsTheCounterAndTheFlag) {
  auto a = Flat(80);
  auto b = Flat(80);
  Paint(b, 16, 16, 16, 16, 200);
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(b));
  ASSERT_EQ(detector.Configure(Settings(2)), S_OK);
  EXPECT_FALSE(Feed(a));
  EXPECT_FALSE(Feed(b));  // the earlier pair no longer counts
  EXPECT_FALSE(Feed(a));
  EXPECT_TRUE(Feed(b));
}

TEST_F(DetectorTest, UnsupportedPixelSizeAndShortFramesReadNothing) {
  DetectorSettings s = Settings(4);
  ASSERT_EQ(detector.Configure(s), S_OK);
  EXPECT_EQ(detector.FrameBytes(), 0u);
  std::vector<std::uint8_t> any(16, 0);
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(detector.Analyse(any.data(), any.size(), area.data()));
  }
  // A sample one byte short of the geometry is not read (the sanitizers would see it).
  ASSERT_EQ(detector.Configure(Settings(2)), S_OK);
  auto a = Flat(80);
  auto b = Flat(80);
  Paint(b, 0, 16, 64, 32, 200);
  std::vector<std::uint8_t> shortB(b.begin(), b.end() - 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(Feed(a));
    EXPECT_FALSE(detector.Analyse(shortB.data(), shortB.size(), area.data()));
  }
}

TEST(DetectorConfigure, RefusesGeometriesThatCannotBeAnalysed) {
  CMotionDetector detector;
  DetectorSettings s;
  s.width = 640;
  s.height = 480;
  s.topMargin = 16;
  s.bytesPerPixel = 2;
  s.blockSize = 16;
  s.threshold = 15;
  ASSERT_EQ(detector.Configure(s), S_OK);

  DetectorSettings tooMany = s;
  tooMany.blockSize = 4;  // 160 x 116 blocks do not fit the 5760-bit area bitmap
  EXPECT_EQ(detector.Configure(tooMany), E_INVALIDARG);
  EXPECT_EQ(detector.Settings().blockSize, 16);  // the previous settings stay
  EXPECT_EQ(detector.BlockCount(), 40 * 29);

  DetectorSettings zeroBlock = s;
  zeroBlock.blockSize = 0;
  EXPECT_EQ(detector.Configure(zeroBlock), E_INVALIDARG);
  DetectorSettings negative = s;
  negative.width = -640;
  EXPECT_EQ(detector.Configure(negative), E_INVALIDARG);
  DetectorSettings margins = s;
  margins.topMargin = 400;
  margins.bottomMargin = 100;
  EXPECT_EQ(detector.Configure(margins), E_INVALIDARG);

  DetectorSettings exactlyFull = s;
  exactlyFull.width = 96 * 8;  // 96 x 60 blocks of 8 = 5760
  exactlyFull.height = 60 * 8;
  exactlyFull.topMargin = 0;
  exactlyFull.blockSize = 8;
  EXPECT_EQ(detector.Configure(exactlyFull), S_OK);
  EXPECT_EQ(detector.BlockCount(), kMaxBlocks);
}

// ---- notification state machine ------------------------------------------------------

TEST(MotionNotifier, OneMessagePerEpisodeWithHoldAndRearm) {
  CMotionNotifier n;
  n.SetPeriods(1000, 5000);
  EXPECT_EQ(n.State(), NotifyState::Idle);
  ASSERT_TRUE(n.BeginSample(100));
  EXPECT_TRUE(n.EndSample(100, true));  // detection in idle: post
  EXPECT_EQ(n.State(), NotifyState::Holding);

  EXPECT_FALSE(n.BeginSample(600));   // holding: no analysis
  EXPECT_FALSE(n.BeginSample(1100));  // not yet more than the hold
  EXPECT_EQ(n.State(), NotifyState::Holding);
  EXPECT_FALSE(n.BeginSample(1101));  // hold over: watching, this sample still skipped
  EXPECT_EQ(n.State(), NotifyState::Watching);

  ASSERT_TRUE(n.BeginSample(1200));
  EXPECT_FALSE(n.EndSample(1200, true));  // detection while watching: silent new hold
  EXPECT_EQ(n.State(), NotifyState::Holding);
  EXPECT_FALSE(n.BeginSample(2201));
  EXPECT_EQ(n.State(), NotifyState::Watching);

  ASSERT_TRUE(n.BeginSample(7201));
  EXPECT_FALSE(n.EndSample(7201, false));  // exactly the re-arm period: still watching
  EXPECT_EQ(n.State(), NotifyState::Watching);
  ASSERT_TRUE(n.BeginSample(7202));
  EXPECT_FALSE(n.EndSample(7202, false));
  EXPECT_EQ(n.State(), NotifyState::Idle);

  ASSERT_TRUE(n.BeginSample(8000));
  EXPECT_TRUE(n.EndSample(8000, true));  // a new episode posts again
}

TEST(MotionNotifier, RearmZeroReturnsToIdleOnTheFirstQuietFrame) {
  CMotionNotifier n;
  n.SetPeriods(1000, 0);
  ASSERT_TRUE(n.BeginSample(0));
  EXPECT_TRUE(n.EndSample(0, true));
  EXPECT_FALSE(n.BeginSample(1001));
  ASSERT_TRUE(n.BeginSample(1002));
  EXPECT_FALSE(n.EndSample(1002, false));
  EXPECT_EQ(n.State(), NotifyState::Idle);
  ASSERT_TRUE(n.BeginSample(1003));
  EXPECT_TRUE(n.EndSample(1003, true));
}

TEST(MotionNotifier, ClockWrapDoesNotStallTheHold) {
  CMotionNotifier n;
  n.SetPeriods(180000, 900000);
  const DWORD nearWrap = 0xFFFFFFFFu - 1000;
  ASSERT_TRUE(n.BeginSample(nearWrap));
  EXPECT_TRUE(n.EndSample(nearWrap, true));
  // 200 s later the 32-bit clock has wrapped; the hold is over all the same.
  const DWORD later = nearWrap + 200000u;
  EXPECT_FALSE(n.BeginSample(later));
  EXPECT_EQ(n.State(), NotifyState::Watching);
}

TEST(MotionNotifier, DefaultsAreThreeAndFifteenMinutes) {
  CMotionNotifier n;
  EXPECT_EQ(n.HoldMs(), 180000u);
  EXPECT_EQ(n.RearmMs(), 900000u);
  EXPECT_EQ(n.State(), NotifyState::Idle);
  EXPECT_EQ(n.LastTransitionMs(), 0u);
}

}  // namespace
}  // namespace halvard::motion
