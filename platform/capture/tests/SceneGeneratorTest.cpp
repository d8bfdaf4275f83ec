#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/capture/SceneGenerator.h"

namespace halvard::capture {
namespace {

std::vector<BYTE> Render(const SceneRequest& r) {
  CSceneGenerator gen;
  std::vector<BYTE> frame(FrameBytes(r.layout, r.size), 0xCD);
  EXPECT_TRUE(gen.Render(r, frame.data(), frame.size()));
  return frame;
}

// Luma of pixel (x, y) of a YUY2 frame.
int Luma(const std::vector<BYTE>& f, LONG width, LONG x, LONG y) {
  return f[static_cast<std::size_t>(y * width * 2 + x * 2)];
}

double MeanLuma(const std::vector<BYTE>& f) {
  double sum = 0;
  for (std::size_t i = 0; i < f.size(); i += 2) {
    sum += f[i];
  }
  return sum / static_cast<double>(f.size() / 2);
}

TEST(SceneGenerator, SameRequestSameBytesAndChannelInFirstByte) {
  for (PixelLayout layout : {PixelLayout::Yuy2, PixelLayout::Rgb24}) {
    for (FrameSize size : kCaptureSizes) {
      SceneRequest r;
      r.camera = 5;
      r.size = size;
      r.layout = layout;
      r.frameNumber = 77;
      r.motionStep = 12;
      r.clockSeconds = 3723;
      r.channelByte = 3;
      const auto a = Render(r);
      const auto b = Render(r);
      ASSERT_EQ(a, b) << size.width << "x" << size.height;
      EXPECT_EQ(a[0], 3);
      EXPECT_EQ(a.size(), FrameBytes(layout, size));
    }
  }
}

TEST(SceneGenerator, CamerasDifferAndNoiseIsFaint) {
  SceneRequest r;
  const auto cam0 = Render(r);
  r.camera = 1;
  const auto cam1 = Render(r);
  r.camera = 4;  // same scene kind on the next card: tinted differently
  const auto cam4 = Render(r);
  EXPECT_NE(cam0, cam1);
  EXPECT_NE(cam0, cam4);

  r.camera = 0;
  r.frameNumber = 1;
  const auto nextFrame = Render(r);
  EXPECT_NE(cam0, nextFrame);  // the noise changes
  int maxDiff = 0;
  for (std::size_t i = 1; i < cam0.size(); ++i) {
    maxDiff = std::max(maxDiff, std::abs(cam0[i] - nextFrame[i]));
  }
  EXPECT_LE(maxDiff, 4);
}

TEST(SceneGenerator, ClockChangesOnlyTheTopRows) {
  SceneRequest r;
  r.clockSeconds = 10 * 3600;
  const auto a = Render(r);
  r.clockSeconds = 10 * 3600 + 1;
  const auto b = Render(r);
  bool topChanged = false;
  for (LONG y = 0; y < 240; ++y) {
    for (LONG x = 0; x < 320; ++x) {
      if (Luma(a, 320, x, y) != Luma(b, 320, x, y)) {
        ASSERT_LT(y, 16) << "clock pixel outside the top rows at " << x << "," << y;
        ASSERT_GT(x, 320 / 2);
        topChanged = true;
      }
    }
  }
  EXPECT_TRUE(topChanged);
}

TEST(SceneGenerator, ObjectMovesOnlyWithTheMotionStep) {
  for (int camera = 0; camera < 4; ++camera) {
    SceneRequest r;
    r.camera = camera;
    const auto still = Render(r);
    r.motionStep = 10;
    const auto moved = Render(r);
    int changed = 0;
    for (std::size_t i = 0; i < still.size(); i += 2) {
      if (std::abs(still[i] - moved[i]) > 20) {
        ++changed;
      }
    }
    // A moving object changes a good part of the picture (far more than noise would).
    EXPECT_GT(changed, 320 * 240 / 40) << "camera " << camera;
    const auto p0 = CSceneGenerator::ObjectPosition(camera, {320, 240}, 0);
    const auto p1 = CSceneGenerator::ObjectPosition(camera, {320, 240}, 10);
    EXPECT_FALSE(p0.x == p1.x && p0.y == p1.y);
  }
  // The path stays inside the picture for many steps.
  for (std::uint32_t step = 0; step < 2000; step += 7) {
    const auto p = CSceneGenerator::ObjectPosition(3, {640, 480}, step);
    EXPECT_GE(p.x, 0);
    EXPECT_LE(p.x + 640 / 5, 640);
    EXPECT_GE(p.y, 0);
    EXPECT_LE(p.y + 480 / 4, 480);
  }
}

TEST(SceneGenerator, PictureControlsChangeThePicture) {
  SceneRequest r;
  const double neutral = MeanLuma(Render(r));
  r.controls.brightness = 10000;
  EXPECT_GT(MeanLuma(Render(r)), neutral + 60);
  r.controls.brightness = 0;
  EXPECT_LT(MeanLuma(Render(r)), neutral - 60);

  r.controls = {};
  r.controls.contrast = 0;  // luma flattened to mid grey
  const auto flat = Render(r);
  for (std::size_t i = 2; i < flat.size(); i += 2) {
    ASSERT_EQ(flat[i], 128);
  }

  r.controls = {};
  r.controls.saturation = 0;  // no colour left
  const auto grey = Render(r);
  for (std::size_t i = 1; i < grey.size(); i += 2) {
    ASSERT_EQ(grey[i], 128);
  }

  // Hue turned half-way round negates the colour difference.
  ControlMatrix m = MakeControlMatrix({5000, 5000, 5000, 10000, false});
  int y = 100;
  int u = 160;
  int v = 90;
  ApplyControls(m, y, u, v);
  EXPECT_EQ(y, 100);
  EXPECT_NEAR(u, 96, 1);
  EXPECT_NEAR(v, 166, 1);
  // Neutral controls leave samples alone; values above the range count as the maximum.
  m = MakeControlMatrix({});
  y = 37;
  u = 200;
  v = 20;
  ApplyControls(m, y, u, v);
  EXPECT_EQ(y, 37);
  EXPECT_EQ(u, 200);
  EXPECT_EQ(v, 20);
  EXPECT_EQ(MakeControlMatrix({99999, 5000, 5000, 5000, false}).lumaOffset,
            MakeControlMatrix({10000, 5000, 5000, 5000, false}).lumaOffset);
}

TEST(SceneGenerator, Rgb24IsTheBottomUpImageOfTheYuy2Picture) {
  SceneRequest r;
  r.camera = 2;
  r.size = {640, 288};
  r.motionStep = 5;
  r.clockSeconds = 45296;
  const auto yuy2 = Render(r);
  r.layout = PixelLayout::Rgb24;
  const auto rgb = Render(r);
  std::vector<BYTE> converted(rgb.size());
  Yuy2ToRgb24Dib(yuy2.data(), 640 * 2, 640, 288, converted.data(), FrameStride(PixelLayout::Rgb24, 640));
  // Equal except where the channel bytes sit (first pixel pair of the top row in YUY2,
  // first pixel of the bottom row in the DIB).
  const std::size_t topRow = static_cast<std::size_t>(287) * FrameStride(PixelLayout::Rgb24, 640);
  for (std::size_t i = 3; i < rgb.size(); ++i) {
    if (i >= topRow && i < topRow + 6) {
      continue;
    }
    ASSERT_EQ(rgb[i], converted[i]) << "byte " << i;
  }
}

TEST(SceneGenerator, RefusesBadBuffersAndSizes) {
  CSceneGenerator gen;
  SceneRequest r;
  std::vector<BYTE> small(100, 7);
  EXPECT_FALSE(gen.Render(r, small.data(), small.size()));
  EXPECT_EQ(small[0], 7);
  EXPECT_FALSE(gen.Render(r, nullptr, 1 << 20));
  r.size = {321, 240};
  std::vector<BYTE> big(FrameBytes(PixelLayout::Rgb24, {321, 240}));
  EXPECT_FALSE(gen.Render(r, big.data(), big.size()));
  r.size = {0, 240};
  EXPECT_FALSE(gen.Render(r, big.data(), big.size()));
}

TEST(CaptureFormats, SizesStridesAndRates) {
  EXPECT_TRUE(IsCaptureSize({640, 288}));
  EXPECT_FALSE(IsCaptureSize({720, 576}));
  EXPECT_EQ(FrameStride(PixelLayout::Yuy2, 320), 640);
  EXPECT_EQ(FrameStride(PixelLayout::Rgb24, 321), 964);
  EXPECT_EQ(FrameBytes(PixelLayout::Rgb24, {640, 480}), 640u * 3 * 480);
  EXPECT_EQ(StandardFrameDuration(kStandardNtscM), 333667);
  EXPECT_EQ(StandardFrameDuration(kStandardPalB), 400000);
  EXPECT_EQ(StandardFrameDuration(kStandardSecamL), 400000);
  EXPECT_EQ(StandardFrameDuration(kStandardNtscMJ | kStandardPalB), 333667);
}

}  // namespace
}  // namespace halvard::capture
