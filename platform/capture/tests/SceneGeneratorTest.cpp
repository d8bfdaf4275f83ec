#include <gtest/gtest.h>

#include <algorithm>
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
  // At every size, so that motion detection, which leaves out the top 16 rows, never
  // sees the clock tick.
  for (FrameSize size : kCaptureSizes) {
    SceneRequest r;
    r.size = size;
    r.clockSeconds = 10 * 3600 + 59 * 60 + 59;
    const auto a = Render(r);
    r.clockSeconds += 1;  // every digit changes
    const auto b = Render(r);
    bool topChanged = false;
    for (LONG y = 0; y < size.height; ++y) {
      for (LONG x = 0; x < size.width; ++x) {
        if (Luma(a, size.width, x, y) != Luma(b, size.width, x, y)) {
          ASSERT_LT(y, 16) << "clock pixel outside the top rows at " << x << "," << y << " of " << size.width << "x"
                           << size.height;
          ASSERT_GT(x, size.width / 2);
          topChanged = true;
        }
      }
    }
    EXPECT_TRUE(topChanged) << size.width << "x" << size.height;
  }
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
  // The same picture except where the channel bytes sit (first pixel pair of the top
  // row in YUY2, first pixel of the bottom row in the DIB), and except for the noise:
  // RGB24 adds it after the conversion, which rounds its 298/256 luma steps to whole
  // levels, so a colour may differ by a level or two, never more.
  const std::size_t topRow = static_cast<std::size_t>(287) * FrameStride(PixelLayout::Rgb24, 640);
  int maxDiff = 0;
  std::size_t equal = 0;
  for (std::size_t i = 3; i < rgb.size(); ++i) {
    if (i >= topRow && i < topRow + 6) {
      continue;
    }
    const int d = std::abs(rgb[i] - converted[i]);
    maxDiff = std::max(maxDiff, d);
    equal += d == 0 ? 1 : 0;
  }
  EXPECT_LE(maxDiff, 2);
  EXPECT_GT(equal, rgb.size() / 2);
}

TEST(SceneGenerator, KeptScenesGiveWhatAFreshGeneratorGives) {
  // One generator serving a multiplexed card: more cameras than it keeps scenes for,
  // controls changing on the way, both layouts; each frame must equal a first render.
  CSceneGenerator shared;
  for (int frame = 0; frame < 24; ++frame) {
    SceneRequest r;
    r.camera = frame % 6;
    r.size = frame < 16 ? FrameSize{320, 240} : FrameSize{640, 288};
    r.layout = frame % 5 == 0 ? PixelLayout::Rgb24 : PixelLayout::Yuy2;
    r.frameNumber = static_cast<std::uint64_t>(frame);
    r.motionStep = static_cast<std::uint32_t>(frame * 3);
    r.clockSeconds = 86399 + static_cast<std::uint32_t>(frame);
    r.channelByte = static_cast<BYTE>(frame % 4);
    if (frame >= 8 && r.camera == 1) {
      r.controls.contrast = 9000;
      r.controls.hue = 2000;
    }
    std::vector<BYTE> frameBytes(FrameBytes(r.layout, r.size));
    ASSERT_TRUE(shared.Render(r, frameBytes.data(), frameBytes.size()));
    ASSERT_EQ(frameBytes, Render(r)) << "frame " << frame;
  }
}

TEST(SceneGenerator, SmallAndPaddedPicturesStayInsideTheirBuffer) {
  // The buffers are exactly the frame size, so the sanitizer catches any stray write.
  for (FrameSize size : {FrameSize{2, 2}, FrameSize{4, 2}, FrameSize{6, 20}, FrameSize{40, 4}, FrameSize{322, 30}}) {
    for (PixelLayout layout : {PixelLayout::Yuy2, PixelLayout::Rgb24}) {
      SceneRequest r;
      r.camera = 3;
      r.size = size;
      r.layout = layout;
      r.motionStep = 9;
      r.frameNumber = 4;
      const auto f = Render(r);
      ASSERT_EQ(f.size(), FrameBytes(layout, size));
      const LONG stride = FrameStride(layout, size.width);
      const LONG used = size.width * (layout == PixelLayout::Yuy2 ? 2 : 3);
      for (LONG row = 0; row < size.height; ++row) {
        for (LONG i = used; i < stride; ++i) {
          ASSERT_EQ(f[static_cast<std::size_t>(row * stride + i)], 0) << "padding of row " << row;
        }
      }
    }
  }
}

TEST(SceneGenerator, NoiseFollowsTheContrast) {
  SceneRequest r;
  r.controls.contrast = 10000;  // twice the neutral contrast: noise steps up to 4
  const auto a = Render(r);
  r.frameNumber = 1;
  const auto b = Render(r);
  int maxDiff = 0;
  for (std::size_t i = 2; i < a.size(); i += 2) {
    maxDiff = std::max(maxDiff, std::abs(a[i] - b[i]));
  }
  EXPECT_GT(maxDiff, 4);
  EXPECT_LE(maxDiff, 8);
}

TEST(SceneGenerator, NoiseKernelAddsAndSaturates) {
  const std::vector<BYTE> src{0, 1, 2, 128, 250, 255, 255, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 254};
  std::vector<BYTE> plus(src.size(), 0);
  std::vector<BYTE> minus(src.size(), 0);
  plus[1] = 3;
  minus[2] = 5;  // 2 - 5 stays 0
  plus[4] = 9;   // 250 + 9 stays 255
  minus[6] = 1;
  plus[18] = 4;  // past the 16-byte blocks: 254 + 4 stays 255
  minus[17] = 2;
  std::vector<BYTE> dst(src.size(), 0xAA);
  AddNoiseRow(src.data(), plus.data(), minus.data(), dst.data(), src.size());
  std::vector<BYTE> expected = src;
  expected[1] = 4;
  expected[2] = 0;
  expected[4] = 255;
  expected[6] = 254;
  expected[18] = 255;
  expected[17] = 98;
  EXPECT_EQ(dst, expected);
  // In place, and a length of zero writes nothing.
  std::vector<BYTE> inPlace = src;
  AddNoiseRow(inPlace.data(), plus.data(), minus.data(), inPlace.data(), inPlace.size());
  EXPECT_EQ(inPlace, expected);
  AddNoiseRow(src.data(), plus.data(), minus.data(), nullptr, 0);
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
