#include "filters/motion/BlockMeans.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filters/tests/PaddedPicture.h"

namespace halvard::motion {
namespace {

std::vector<std::uint8_t> AllWatched() { return std::vector<std::uint8_t>(kAreaBitmapBytes, 0xFF); }

TEST(BlockMeans, ShiftFollowsTheSampledPixelCount) {
  EXPECT_EQ(MeanShift(1), 0);
  EXPECT_EQ(MeanShift(2), 0);
  EXPECT_EQ(MeanShift(3), 1);  // 9 / 4 = 2 samples
  EXPECT_EQ(MeanShift(4), 2);
  EXPECT_EQ(MeanShift(16), 6);
  EXPECT_EQ(MeanShift(32), 8);
  EXPECT_EQ(MeanShift(64), 10);
}

TEST(BlockMeans, Yuy2ReadsLumaOfEverySecondPixelOnEverySecondRow) {
  // 8 x 6 picture, top margin 2, blocks of 4: one row of two blocks.
  const int width = 8;
  const int height = 6;
  const int stride = width * 2;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride * height), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < stride; ++x) {
      frame[static_cast<std::size_t>(y * stride + x)] = static_cast<std::uint8_t>(y * 20 + x);
    }
  }
  BlockGrid grid{4, 2, 1, 2, MeanShift(4)};
  std::vector<std::uint8_t> means(2);
  const auto area = AllWatched();
  BlockMeansYuy2(frame.data(), stride, width, height, grid, area.data(), means.data());
  // Block 0: rows 2 and 4, bytes 0 and 4: (40 + 44 + 80 + 84) >> 2 = 62.
  EXPECT_EQ(means[0], 62);
  // Block 1: bytes 8 and 12 of the same rows: (48 + 52 + 88 + 92) >> 2 = 70.
  EXPECT_EQ(means[1], 70);
}

TEST(BlockMeans, Rgb24StartsAtTheTopOfTheDisplayedPicture) {
  // Rows stored bottom-up: memory row 3 is display row 0.
  const int width = 4;
  const int height = 4;
  const int stride = width * 3;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride * height), 0);
  for (int memoryRow = 0; memoryRow < height; ++memoryRow) {
    for (int x = 0; x < stride; ++x) {
      frame[static_cast<std::size_t>(memoryRow * stride + x)] = static_cast<std::uint8_t>(10 * (memoryRow + 1));
    }
  }
  frame[3 * stride + 0] = 100;  // blue of pixel 0, display row 0
  frame[3 * stride + 7] = 90;   // green of pixel 2, display row 0
  BlockGrid grid{4, 1, 1, 0, MeanShift(4)};
  std::uint8_t mean = 0;
  const auto area = AllWatched();
  BlockMeansRgb24(frame.data(), stride, width, height, grid, area.data(), &mean);
  // Display rows 0 and 2 = memory rows 3 and 1; pixels 0 and 2, blue + green:
  // (100 + 40) + (40 + 90) + (20 + 20) + (20 + 20) = 350, >> 3 = 43.
  EXPECT_EQ(mean, 43);
}

TEST(BlockMeans, ClearAreaBitsGiveZeroAndMeansKeepTheirLowBits) {
  // Blocks of 12: 36 samples, shift 5, so a white block sums past 255 after the shift.
  const int width = 24;
  const int height = 12;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width * 2 * height), 255);
  BlockGrid grid{12, 2, 1, 0, MeanShift(12)};
  std::vector<std::uint8_t> area(kAreaBitmapBytes, 0);
  area[0] = 0x02;  // only block 1 watched
  std::vector<std::uint8_t> means(2, 77);
  BlockMeansYuy2(frame.data(), width * 2, width, height, grid, area.data(), means.data());
  EXPECT_EQ(means[0], 0);
  EXPECT_EQ(means[1], static_cast<std::uint8_t>((36 * 255) >> 5));
}

TEST(BlockMeans, KernelsWriteOnlyTheirMeansAndLeaveTheFrameAlone) {
  // Guards around every frame row and around the means: a kernel writing one mean too
  // many, or into the picture, fails here in any build. Padded rows must also give the
  // same means as gapless ones.
  const struct {
    int width, height, block, topMargin, bottomMargin;
  } cases[] = {{64, 48, 16, 0, 0}, {70, 50, 16, 3, 5}, {33, 31, 4, 1, 2}, {8, 8, 8, 0, 0}, {17, 9, 3, 0, 1}};
  const auto area = AllWatched();
  for (const auto& c : cases) {
    for (int bytesPerPixel : {2, 3}) {
      BlockGrid grid;
      grid.blockSize = c.block;
      grid.columns = c.width / c.block;
      grid.rows = (c.height - c.topMargin - c.bottomMargin) / c.block;
      grid.topMargin = c.topMargin;
      grid.shift = MeanShift(c.block);
      const int count = grid.columns * grid.rows;
      std::vector<std::uint8_t> gapless(static_cast<std::size_t>(c.width * bytesPerPixel * c.height));
      for (std::size_t i = 0; i < gapless.size(); ++i) {
        gapless[i] = static_cast<std::uint8_t>(i * 7 + i / 13);
      }
      testing::CPaddedPicture frame(c.width * bytesPerPixel, c.height);
      frame.Fill(gapless);
      testing::CPaddedPicture means(count, 1);
      std::vector<std::uint8_t> expected(static_cast<std::size_t>(count));
      if (bytesPerPixel == 2) {
        BlockMeansYuy2(gapless.data(), c.width * 2, c.width, c.height, grid, area.data(), expected.data());
        BlockMeansYuy2(frame.Data(), frame.Stride(), c.width, c.height, grid, area.data(), means.Data());
      } else {
        BlockMeansRgb24(gapless.data(), c.width * 3, c.width, c.height, grid, area.data(), expected.data());
        BlockMeansRgb24(frame.Data(), frame.Stride(), c.width, c.height, grid, area.data(), means.Data());
      }
      const std::string where = std::to_string(c.width) + "x" + std::to_string(c.height) + " block " +
                                std::to_string(c.block) + " bytes " + std::to_string(bytesPerPixel);
      EXPECT_TRUE(means.GuardsIntact()) << where;
      EXPECT_TRUE(frame.GuardsIntact()) << where;
      EXPECT_EQ(frame.Pixels(), gapless) << where;
      EXPECT_EQ(means.Pixels(), expected) << where;
    }
  }
}

TEST(BlockMeans, PairComparisonUsesTheThresholdExclusively) {
  const std::uint8_t a[3] = {100, 50, 7};
  const std::uint8_t same[3] = {100, 50, 7};
  const std::uint8_t up[3] = {100, 60, 7};
  const std::uint8_t down[3] = {100, 39, 7};
  EXPECT_FALSE(PairShowsMotion(a, same, 3, 0));
  EXPECT_FALSE(PairShowsMotion(a, up, 3, 10));
  EXPECT_TRUE(PairShowsMotion(a, up, 3, 9));
  EXPECT_TRUE(PairShowsMotion(a, down, 3, 10));
  EXPECT_FALSE(PairShowsMotion(a, down, 3, 11));
  EXPECT_FALSE(PairShowsMotion(a, down, 1, 0));  // only the first block is compared
}

}  // namespace
}  // namespace halvard::motion
