#include "filters/splitter/DetailEnhancement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "filters/splitter/OverlayRenderer.h"
#include "filters/tests/PaddedPicture.h"
#include "filters/tests/SyntheticVideo.h"

namespace halvard::splitter {
namespace {

using halvard::testing::CLcg;

// ---- colour conversion ----------------------------------------------------------------

TEST(ColourConversion, ForwardWeightsRoundAndSaturate) {
  // One 2 x 2 picture per colour, bytes B, G, R.
  struct Case {
    std::uint8_t b, g, r;
    std::uint8_t y, cb, cr;
  };
  const Case cases[] = {
      {255, 255, 255, 255, 128, 128},  // white
      {0, 0, 0, 0, 128, 128},          // black
      {255, 0, 0, 29, 255, 107},       // blue: Cb 256 saturates
      {0, 0, 255, 76, 85, 255},        // red: Cr 256 saturates
      {0, 255, 0, 150, 44, 21},        // green
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> rgb;
    for (int i = 0; i < 4; ++i) {
      rgb.insert(rgb.end(), {c.b, c.g, c.r});
    }
    std::uint8_t luma[4];
    std::uint8_t cb = 0;
    std::uint8_t cr = 0;
    RgbToYcc420(rgb.data(), 6, 2, 2, luma, &cb, &cr);
    EXPECT_EQ(luma[0], c.y);
    EXPECT_EQ(luma[3], c.y);
    EXPECT_EQ(cb, c.cb);
    EXPECT_EQ(cr, c.cr);
  }
}

TEST(ColourConversion, ChromaComesFromTheFirstRowOfEachPair) {
  // Row 0: a blue and a black pixel; row 1 (ignored for chroma): red.
  const std::uint8_t rgb[12] = {255, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255};
  std::uint8_t luma[4];
  std::uint8_t cb = 0;
  std::uint8_t cr = 0;
  RgbToYcc420(rgb, 6, 2, 2, luma, &cb, &cr);
  EXPECT_EQ(cb, (255 + 128) >> 1);
  EXPECT_EQ(cr, (107 + 128) >> 1);
}

TEST(ColourConversion, BackTablesAreInUnitsOf128) {
  const auto& t = BackConversionTables();
  EXPECT_EQ(t.cbToBlue[128], 0);
  EXPECT_EQ(t.crToRed[128], 0);
  EXPECT_EQ(t.cbToBlue[255], 28806);   // 1.772 x 127 x 128 = 28805.6
  EXPECT_EQ(t.cbToBlue[0], -29032);    // 1.772 x -128 x 128 = -29032.4
  EXPECT_EQ(t.cbToGreen[255], -5594);  // -0.34414 x 127 x 128 = -5594.3
  EXPECT_EQ(t.crToGreen[0], 11700);    // 0.71414 x 128 x 128 = 11700.47
  EXPECT_EQ(t.crToRed[255], 22791);    // 1.402 x 127 x 128 = 22790.9
}

TEST(ColourConversion, GreyRoundTripStaysGrey) {
  const int w = 16;
  const int h = 8;
  CLcg random(7);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w * h * 3));
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = rgb[i + 1] = rgb[i + 2] = random.Byte();
  }
  std::vector<std::uint8_t> luma(static_cast<std::size_t>(w * h));
  std::vector<std::uint8_t> cb(static_cast<std::size_t>(w * h / 4));
  std::vector<std::uint8_t> cr(cb.size());
  RgbToYcc420(rgb.data(), w * 3, w, h, luma.data(), cb.data(), cr.data());
  std::vector<std::uint8_t> back(rgb.size());
  YccToRgb420(luma.data(), cb.data(), cr.data(), w, h, back.data(), w * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    EXPECT_LE(std::abs(static_cast<int>(back[i]) - rgb[i]), 1) << "byte " << i;
  }
}

TEST(ColourConversion, BackConversionClampsEachChannel) {
  const std::uint8_t luma[4] = {250, 250, 5, 5};
  const std::uint8_t cb = 255;
  const std::uint8_t cr = 0;
  std::uint8_t rgb[12];
  YccToRgb420(luma, &cb, &cr, 2, 2, rgb, 6);
  EXPECT_EQ(rgb[0], 255);  // 250 + 225 clamps
  EXPECT_EQ(rgb[2], 71);   // 250 + ((-22970 + 64) >> 7) = 250 - 179
  EXPECT_EQ(rgb[6], 230);  // 5 + 225
  EXPECT_EQ(rgb[8], 0);    // 5 - 179 clamps
}

// ---- wavelet transform ----------------------------------------------------------------

TEST(Lifting, HandWorkedRamp) {
  const std::uint8_t x[4] = {10, 20, 30, 40};
  std::int16_t out[4];
  LiftForwardLine(x, out, 4);
  // d0 = 20 - ((9 x 60 - 60 + 8) >> 4) = 1, d1 = 40 - ((9 x 60 - 20 + 8) >> 4) = 7,
  // s0 = 10 + ((1 + 1 + 2) >> 2) = 11, s1 = 30 + ((1 + 7 + 2) >> 2) = 32.
  EXPECT_EQ(out[0], 11);
  EXPECT_EQ(out[1], 32);
  EXPECT_EQ(out[2], 1);
  EXPECT_EQ(out[3], 7);
  std::int16_t back[4];
  LiftInverseLine(out, back, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(back[i], x[i]);
  }
}

TEST(Lifting, LinesAreLosslessForEveryEvenLength) {
  CLcg random(3);
  for (int n = 4; n <= 64; n += 2) {
    std::vector<std::int16_t> x(static_cast<std::size_t>(n));
    for (auto& v : x) {
      v = static_cast<std::int16_t>(static_cast<int>(random.Next() % 1200) - 300);
    }
    std::vector<std::int16_t> coefficients(x.size());
    std::vector<std::int16_t> back(x.size());
    LiftForwardLine(x.data(), coefficients.data(), n);
    LiftInverseLine(coefficients.data(), back.data(), n);
    EXPECT_EQ(back, x) << "length " << n;
  }
}

TEST(Lifting, ColumnPassesEqualLinePassesOnColumns) {
  const int w = 5;
  const int h = 12;
  CLcg random(11);
  std::vector<std::int16_t> plane(static_cast<std::size_t>(w * h));
  for (auto& v : plane) {
    v = static_cast<std::int16_t>(random.Byte());
  }
  std::vector<std::int16_t> columns(plane.size());
  LiftForwardColumns(plane.data(), w, columns.data(), w, w, h);
  for (int x = 0; x < w; ++x) {
    std::vector<std::int16_t> line(static_cast<std::size_t>(h));
    std::vector<std::int16_t> expected(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
      line[static_cast<std::size_t>(y)] = plane[static_cast<std::size_t>(y * w + x)];
    }
    LiftForwardLine(line.data(), expected.data(), h);
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ(columns[static_cast<std::size_t>(y * w + x)], expected[static_cast<std::size_t>(y)]) << x << "," << y;
    }
  }
  std::vector<std::int16_t> back(plane.size());
  LiftInverseColumns(columns.data(), w, back.data(), w, w, h);
  EXPECT_EQ(back, plane);
}

TEST(Lifting, CoarseCompressionKeepsTheMiddleRange) {
  EXPECT_EQ(CompressCoarse(127), 127);
  EXPECT_EQ(CompressCoarse(79), 79);
  EXPECT_EQ(CompressCoarse(175), 175);
  EXPECT_EQ(CompressCoarse(176), 175);  // 48 + 2 / 3
  EXPECT_EQ(CompressCoarse(178), 177);  // 48 + 6 / 3
  EXPECT_EQ(CompressCoarse(78), 79);    // -48 + (-2 / 3 truncated to 0)
  EXPECT_EQ(CompressCoarse(40), 53);    // -48 + (-78 / 3)
  EXPECT_EQ(CompressCoarse(230), 211);  // 48 + 110 / 3
  EXPECT_EQ(CompressCoarse(-200), -107);  // -48 + (-558 / 3)
}

TEST(Lifting, SupportedSizes) {
  EXPECT_TRUE(TransformSupports(16, 16));
  EXPECT_TRUE(TransformSupports(640, 480));
  EXPECT_FALSE(TransformSupports(12, 16));   // level-2 lines of 6 samples
  EXPECT_FALSE(TransformSupports(642, 480));  // not divisible by 4
  EXPECT_FALSE(TransformSupports(640, 482));
  EXPECT_FALSE(TransformSupports(0, 0));
}

// ---- histogram equalisation -----------------------------------------------------------

TEST(Histogram, ToneCurve) {
  const auto& t = ToneCurve();
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[23], 46);
  EXPECT_EQ(t[24], 47);
  EXPECT_EQ(t[33], 56);
  EXPECT_EQ(t[34], 56);
  EXPECT_EQ(t[128], 141);
  EXPECT_EQ(t[192], 198);
  EXPECT_EQ(t[246], t[245]);
  EXPECT_EQ(t[255], 255);
}

TEST(Histogram, HandWorkedDistribution) {
  // D = 4 - 1 + 1 = 4; value 10: T[2 x 256 / 4] = T[128] = 141; value 20: T[192] = 198.
  std::uint8_t luma[4] = {0, 10, 10, 20};
  EqualiseHistogram(luma, 4);
  EXPECT_EQ(luma[0], 0);
  EXPECT_EQ(luma[1], (141 + 40 + 2) / 5);
  EXPECT_EQ(luma[2], (141 + 40 + 2) / 5);
  EXPECT_EQ(luma[3], (198 + 80 + 2) / 5);
}

TEST(Histogram, WhiteAndBlackKeepTheirEnds) {
  std::uint8_t luma[6] = {0, 0, 255, 255, 255, 0};
  EqualiseHistogram(luma, 6);
  EXPECT_EQ(luma[0], 0);
  EXPECT_EQ(luma[2], 255);
}

// ---- the frame operation --------------------------------------------------------------

class EnhanceTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;
  static std::vector<std::uint8_t> Yuy2(std::uint8_t luma) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(kWidth * kHeight * 2));
    for (std::size_t i = 0; i < f.size(); i += 2) {
      f[i] = luma;
      f[i + 1] = static_cast<std::uint8_t>(i * 7);
    }
    return f;
  }
  static double MeanLuma(const std::vector<std::uint8_t>& f) {
    double sum = 0;
    for (std::size_t i = 0; i < f.size(); i += 2) {
      sum += f[i];
    }
    return sum / (f.size() / 2.0);
  }
  CEnhancementBuffers buffers{kWidth, kHeight};
};

TEST_F(EnhanceTest, LevelOneIsLosslessInsideTheMiddleRange) {
  auto frame = Yuy2(0);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      frame[static_cast<std::size_t>((y * kWidth + x) * 2)] =
          static_cast<std::uint8_t>(100 + x / 2 + y / 3 + ((x * 7 + y * 3) % 5));
    }
  }
  const auto before = frame;
  EnhanceFrame(frame.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 1, buffers);
  EXPECT_EQ(frame, before);
}

TEST_F(EnhanceTest, DarkGreyGetsLighterAndBrightGreyDarker) {
  auto dark = Yuy2(40);
  EnhanceFrame(dark.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 1, buffers);
  EXPECT_GT(MeanLuma(dark), 50.0);
  auto bright = Yuy2(230);
  EnhanceFrame(bright.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 1, buffers);
  EXPECT_LT(MeanLuma(bright), 215.0);
}

TEST_F(EnhanceTest, BlackIsLiftedByTheCoarseBandNotByTheEqualisation) {
  // The equalisation alone leaves an all-black picture black (D = 1, h[0] = 0) ...
  std::vector<std::uint8_t> black(100, 0);
  EqualiseHistogram(black.data(), black.size());
  EXPECT_EQ(black, std::vector<std::uint8_t>(100, 0));
  // ... while the coarse-band compression lifts black to 127 + m(-127) = 27, which the
  // equalisation then maps to (T[255] + 4 x 27 + 2) / 5 = 73.
  auto level1 = Yuy2(0);
  EnhanceFrame(level1.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 1, buffers);
  auto level2 = Yuy2(0);
  EnhanceFrame(level2.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 2, buffers);
  for (std::size_t i = 0; i < level1.size(); i += 2) {
    ASSERT_EQ(level1[i], 27) << i;
    ASSERT_EQ(level2[i], 73) << i;
  }
}

TEST_F(EnhanceTest, Yuy2ChromaIsUntouched) {
  auto frame = halvard::testing::SyntheticFrame(kWidth, kHeight, 2, 3);
  const auto before = frame;
  EnhanceFrame(frame.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 2, buffers);
  bool lumaChanged = false;
  for (std::size_t i = 0; i < frame.size(); i += 2) {
    ASSERT_EQ(frame[i + 1], before[i + 1]) << i;
    lumaChanged = lumaChanged || frame[i] != before[i];
  }
  EXPECT_TRUE(lumaChanged);
}

TEST_F(EnhanceTest, Rgb24GreyStaysGrey) {
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth * kHeight * 3));
  CLcg random(5);
  for (std::size_t i = 0; i < frame.size(); i += 3) {
    frame[i] = frame[i + 1] = frame[i + 2] = static_cast<std::uint8_t>(20 + random.Next() % 200);
  }
  for (int level = 1; level <= 2; ++level) {
    EnhanceFrame(frame.data(), kWidth * 3, kWidth, kHeight, ColourFormat::Rgb24, level, buffers);
    for (std::size_t i = 0; i < frame.size(); i += 3) {
      ASSERT_LE(std::abs(frame[i] - frame[i + 1]), 1) << i;
      ASSERT_LE(std::abs(frame[i + 2] - frame[i + 1]), 1) << i;
    }
  }
}

TEST_F(EnhanceTest, UnsupportedSizesAndMismatchedBuffersAreSkipped) {
  CEnhancementBuffers tooSmall(12, 12);
  EXPECT_FALSE(tooSmall.Valid());
  CEnhancementBuffers odd(62, 48);
  EXPECT_FALSE(odd.Valid());
  std::vector<std::uint8_t> frame(62 * 48 * 2, 30);
  const auto before = frame;
  EnhanceFrame(frame.data(), 62 * 2, 62, 48, ColourFormat::Yuy2, 2, odd);
  EXPECT_EQ(frame, before);
  // Buffers made for another size are never used on this frame.
  EnhanceFrame(frame.data(), 62 * 2, 62, 48, ColourFormat::Yuy2, 2, buffers);
  EXPECT_EQ(frame, before);
  // Level 0 changes nothing.
  auto grey = Yuy2(40);
  const auto greyBefore = grey;
  EnhanceFrame(grey.data(), kWidth * 2, kWidth, kHeight, ColourFormat::Yuy2, 0, buffers);
  EXPECT_EQ(grey, greyBefore);
}

// ---- bounds -----------------------------------------------------------------------------

TEST(FrameOperations, EnhancementAndStampWriteOnlyTheirRows) {
  // Guards around every row: an enhancement or stamp writing one byte past a row fails
  // here in any build, and padded rows give the same picture as gapless ones.
  const struct {
    int width, height;
  } sizes[] = {{64, 48}, {160, 40}, {36, 20}, {20, 6}, {7, 3}};
  for (const auto& size : sizes) {
    for (ColourFormat format : {ColourFormat::Yuy2, ColourFormat::Rgb24}) {
      const int bytesPerPixel = format == ColourFormat::Rgb24 ? 3 : 2;
      const int rowBytes = size.width * bytesPerPixel;
      const auto source = halvard::testing::SyntheticFrame(size.width, size.height, bytesPerPixel, 1);
      for (int level = 0; level <= 2; ++level) {
        const std::string where = std::to_string(size.width) + "x" + std::to_string(size.height) + " bytes " +
                                  std::to_string(bytesPerPixel) + " level " + std::to_string(level);
        const RowOrder order = format == ColourFormat::Rgb24 ? RowOrder::BottomUp : RowOrder::TopDown;
        auto expected = source;
        CEnhancementBuffers gaplessBuffers(size.width, size.height);
        EnhanceFrame(expected.data(), rowBytes, size.width, size.height, format, level, gaplessBuffers);
        COverlayRenderer gaplessOverlay;
        gaplessOverlay.SetGeometry(size.width, size.height, order);
        gaplessOverlay.Draw(expected.data(), rowBytes, format, "12:34:56.78 Wed 03/04/26");

        halvard::testing::CPaddedPicture frame(rowBytes, size.height);
        frame.Fill(source);
        CEnhancementBuffers buffers(size.width, size.height);
        EnhanceFrame(frame.Data(), frame.Stride(), size.width, size.height, format, level, buffers);
        EXPECT_TRUE(frame.GuardsIntact()) << "enhancement " << where;
        COverlayRenderer overlay;
        overlay.SetGeometry(size.width, size.height, order);
        overlay.Draw(frame.Data(), frame.Stride(), format, "12:34:56.78 Wed 03/04/26");
        EXPECT_TRUE(frame.GuardsIntact()) << "stamp " << where;
        EXPECT_EQ(frame.Pixels(), expected) << where;
      }
    }
  }
}

}  // namespace
}  // namespace halvard::splitter
