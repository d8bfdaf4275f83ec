#include "filters/hdsimulation/BicubicScaler.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "filters/tests/PaddedPicture.h"
#include "filters/tests/SyntheticVideo.h"

namespace halvard::hdsimulation {
namespace {

using halvard::testing::CLcg;

std::vector<std::uint8_t> RandomFrame(int width, int height, std::uint32_t seed) {
  CLcg random(seed);
  std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 2);
  for (auto& b : f) {
    b = random.Byte();
  }
  return f;
}

TEST(CubicKernel, SharpCubicValues) {
  const CubicKernel k;  // B = 0, C = 1
  EXPECT_DOUBLE_EQ(k(0.0), 1.0);
  EXPECT_DOUBLE_EQ(k(0.25), 0.890625);
  EXPECT_DOUBLE_EQ(k(-0.75), 0.296875);
  EXPECT_DOUBLE_EQ(k(1.0), 0.0);
  EXPECT_DOUBLE_EQ(k(1.25), -0.140625);
  EXPECT_DOUBLE_EQ(k(1.75), -0.046875);
  EXPECT_DOUBLE_EQ(k(2.0), 0.0);
  EXPECT_DOUBLE_EQ(k(3.0), 0.0);
  const CubicKernel mitchell{1.0 / 3.0, 1.0 / 3.0};
  EXPECT_NEAR(mitchell(0.0), 8.0 / 9.0, 1e-12);
}

TEST(FilterTable, DoublingUsesFourTapsWithTheWindowSlidingInwardsAtTheEdges) {
  const FilterTable t = BuildFilterTable(352, 704, CubicKernel{});
  ASSERT_EQ(t.taps, 4);
  ASSERT_EQ(t.destSize, 704);
  // Destination 0 sits at -0.25: window 0..3, weights k(0.25), k(1.25), 0, 0 normalised.
  EXPECT_EQ(t.first[0], 0);
  EXPECT_EQ(std::vector<int>(t.weights.begin(), t.weights.begin() + 4), (std::vector<int>{19456, -3072, 0, 0}));
  // Destination 4 sits at 1.75: window 0..3.
  EXPECT_EQ(t.first[4], 0);
  EXPECT_EQ(std::vector<int>(t.weights.begin() + 16, t.weights.begin() + 20),
            (std::vector<int>{-768, 4864, 14592, -2304}));
  // Destination 5 sits at 2.25: window 1..4.
  EXPECT_EQ(t.first[5], 1);
  EXPECT_EQ(std::vector<int>(t.weights.begin() + 20, t.weights.begin() + 24),
            (std::vector<int>{-2304, 14592, 4864, -768}));
  // The last destination sits at 351.25: window 348..351.
  EXPECT_EQ(t.first[703], 348);
  for (int i = 0; i < t.destSize; ++i) {
    const auto begin = t.weights.begin() + i * t.taps;
    EXPECT_EQ(std::accumulate(begin, begin + t.taps, 0), 16384) << i;
    EXPECT_LE(t.first[i] + t.taps, t.sourceSize);
  }
  EXPECT_EQ(t.packed.size(), t.weights.size());
}

TEST(FilterTable, ShrinkingWidensTheKernelToEightTaps) {
  const FilterTable t = BuildFilterTable(704, 352, CubicKernel{});
  EXPECT_EQ(t.taps, 8);
  for (int i = 0; i < t.destSize; ++i) {
    const auto begin = t.weights.begin() + i * t.taps;
    EXPECT_EQ(std::accumulate(begin, begin + t.taps, 0), 16384) << i;
    EXPECT_GE(t.first[i], 0);
    EXPECT_LE(t.first[i] + t.taps, 704);
  }
}

TEST(FilterTable, SourcesShorterThanTheWindowUseTheWholeSource) {
  const FilterTable t = BuildFilterTable(2, 7, CubicKernel{});
  EXPECT_EQ(t.taps, 2);
  for (int i = 0; i < t.destSize; ++i) {
    EXPECT_EQ(t.first[i], 0);
    EXPECT_EQ(t.weights[static_cast<std::size_t>(2 * i)] + t.weights[static_cast<std::size_t>(2 * i + 1)], 16384);
  }
}

TEST(Scaler, EqualSizeIsAByteCopy) {
  const auto src = RandomFrame(352, 288, 1);
  std::vector<std::uint8_t> dst(src.size());
  CBicubicScaler scaler;
  ASSERT_TRUE(scaler.Scale(src.data(), 352, 288, dst.data(), 352, 288));
  EXPECT_EQ(dst, src);
  EXPECT_EQ(scaler.BuildCount(), 0);
}

// Fills a YUY2 picture with one colour; the last pixel of an odd row keeps its U.
std::vector<std::uint8_t> FlatPicture(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(width * height * 2));
  for (int r = 0; r < height; ++r) {
    for (int x = 0; x < width; ++x) {
      f[static_cast<std::size_t>((r * width + x) * 2)] = y;
      f[static_cast<std::size_t>((r * width + x) * 2 + 1)] = x % 2 == 0 ? u : v;
    }
  }
  return f;
}

TEST(Scaler, FlatColourStaysFlat) {
  const struct {
    int sw, sh, dw, dh;
  } sizes[] = {{352, 288, 704, 576}, {704, 576, 352, 288}, {320, 240, 640, 480}, {33, 17, 71, 9}, {64, 48, 64, 100}};
  for (const auto& s : sizes) {
    const auto src = FlatPicture(s.sw, s.sh, 200, 90, 30);
    const auto expected = FlatPicture(s.dw, s.dh, 200, 90, 30);
    for (SimdLevel level : {SimdLevel::None, DetectSimdLevel()}) {
      std::vector<std::uint8_t> dst(expected.size());
      CBicubicScaler scaler(level);
      ASSERT_TRUE(scaler.Scale(src.data(), s.sw, s.sh, dst.data(), s.dw, s.dh));
      EXPECT_EQ(dst, expected) << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh;
    }
  }
}

TEST(Scaler, DoublingTakesEachOutputFromFourSourcePixels) {
  // One bright luma sample in the middle of a dark picture reaches only the outputs
  // whose four taps include it: columns (and rows) 13 to 20.
  const int sw = 16;
  const int sh = 16;
  std::vector<std::uint8_t> src(static_cast<std::size_t>(sw * sh * 2), 128);
  for (std::size_t i = 0; i < src.size(); i += 2) {
    src[i] = 16;
  }
  src[static_cast<std::size_t>((8 * sw + 8) * 2)] = 235;
  std::vector<std::uint8_t> dst(static_cast<std::size_t>(sw * 2 * sh * 2 * 2));
  CBicubicScaler scaler(SimdLevel::None);
  ASSERT_TRUE(scaler.Scale(src.data(), sw, sh, dst.data(), sw * 2, sh * 2));
  const int dw = sw * 2;
  for (int y = 0; y < sh * 2; ++y) {
    for (int x = 0; x < dw; ++x) {
      const bool reached = x >= 13 && x <= 20 && y >= 13 && y <= 20;
      const int luma = dst[static_cast<std::size_t>((y * dw + x) * 2)];
      if (!reached) {
        ASSERT_EQ(luma, 16) << x << "," << y;
      }
    }
  }
  EXPECT_GT(dst[static_cast<std::size_t>((16 * dw + 16) * 2)], 150);
}

TEST(Scaler, TablesAreBuiltOncePerGeometry) {
  const auto src = RandomFrame(64, 48, 2);
  std::vector<std::uint8_t> dst(128 * 96 * 2);
  CBicubicScaler scaler;
  ASSERT_TRUE(scaler.Scale(src.data(), 64, 48, dst.data(), 128, 96));
  ASSERT_TRUE(scaler.Scale(src.data(), 64, 48, dst.data(), 128, 96));
  EXPECT_EQ(scaler.BuildCount(), 1);
  ASSERT_TRUE(scaler.Scale(src.data(), 64, 48, dst.data(), 96, 96));
  EXPECT_EQ(scaler.BuildCount(), 2);
  scaler.SetKernel(CubicKernel{1.0 / 3.0, 1.0 / 3.0});
  ASSERT_TRUE(scaler.Scale(src.data(), 64, 48, dst.data(), 96, 96));
  EXPECT_EQ(scaler.BuildCount(), 3);
}

TEST(ScalerKernelTable, PortableFirstThenRisingLevelsChosenOnce) {
  const auto& table = ScalerKernelTable();
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.front().level, SimdLevel::None);
  for (std::size_t i = 1; i < table.size(); ++i) {
    EXPECT_GT(static_cast<int>(table[i].level), static_cast<int>(table[i - 1].level)) << table[i].name;
  }
  EXPECT_EQ(&ScalerKernelTable(), &table);
  EXPECT_EQ(DetectSimdLevel(), table.back().level);
  EXPECT_EQ(&ScalerKernelsFor(SimdLevel::None), &table.front());
  EXPECT_EQ(&ScalerKernelsFor(SimdLevel::Avx2), &table.back());
  for (const ScalerKernels& entry : table) {
    EXPECT_EQ(&ScalerKernelsFor(entry.level), &entry) << entry.name;
    EXPECT_NE(entry.horizontal, nullptr);
    EXPECT_NE(entry.vertical, nullptr);
  }
}

TEST(Scaler, PassesWriteOnlyTheirRows) {
  // Guard bytes around every row of every buffer (and after the scratch row): a pass that
  // writes one byte outside its rows fails here in any build. The row sizes leave every
  // remainder class of the 16- and 32-byte vectors, so a vector store that runs past the
  // end of a row is seen too.
  const struct {
    int sw, sh, dw, dh;
  } sizes[] = {{353, 7, 705, 13}, {1, 1, 3, 3}, {3, 2, 1, 1},  {7, 5, 7, 9},     {9, 4, 5, 4},
               {33, 9, 70, 19},  {64, 8, 128, 16}, {17, 3, 39, 37}, {15, 4, 31, 8}, {31, 5, 63, 11}};
  for (const auto& s : sizes) {
    const auto src = RandomFrame(s.sw, s.sh, 3);
    const FilterTable luma = BuildFilterTable(s.sw, s.dw, CubicKernel{});
    const FilterTable chroma =
        s.sw / 2 >= 1 && s.dw / 2 >= 1 ? BuildFilterTable(s.sw / 2, s.dw / 2, CubicKernel{}) : FilterTable{};
    const FilterTable vertical = BuildFilterTable(s.sh, s.dh, CubicKernel{});
    std::vector<std::uint8_t> expectedRows;
    std::vector<std::uint8_t> expectedColumns;
    for (const ScalerKernels& kernels : ScalerKernelTable()) {
      const std::string where = std::to_string(s.sw) + "x" + std::to_string(s.sh) + " -> " + std::to_string(s.dw) +
                                "x" + std::to_string(s.dh) + " " + kernels.name;
      testing::CPaddedPicture in(s.sw * 2, s.sh);
      in.Fill(src);
      testing::CPaddedPicture rows(s.dw * 2, s.sh);
      const std::size_t scratchSize = static_cast<std::size_t>(s.sw) * 2 + 32;
      testing::CPaddedPicture scratch(static_cast<int>(scratchSize * sizeof(std::int16_t)), 1);
      kernels.horizontal(in.Data(), in.Stride(), rows.Data(), rows.Stride(), s.sh, luma, chroma,
                         reinterpret_cast<std::int16_t*>(scratch.Data()));
      EXPECT_TRUE(rows.GuardsIntact()) << "horizontal " << where;
      EXPECT_TRUE(scratch.GuardsIntact()) << "scratch " << where;
      EXPECT_TRUE(in.GuardsIntact()) << "horizontal source " << where;

      testing::CPaddedPicture columns(s.sw * 2, s.dh);
      kernels.vertical(in.Data(), in.Stride(), columns.Data(), columns.Stride(), s.sw * 2, vertical);
      EXPECT_TRUE(columns.GuardsIntact()) << "vertical " << where;

      // The padded strides give the same bytes as the portable pass.
      if (kernels.level == SimdLevel::None) {
        expectedRows = rows.Pixels();
        expectedColumns = columns.Pixels();
      } else {
        EXPECT_EQ(rows.Pixels(), expectedRows) << where;
        EXPECT_EQ(columns.Pixels(), expectedColumns) << where;
      }

      // The whole scaler on gapless rows, guarded above and below.
      testing::CPaddedPicture whole(s.dw * 2, s.dh, testing::CPaddedPicture::Rows::Gapless);
      CBicubicScaler scaler(kernels);
      EXPECT_TRUE(scaler.Scale(src.data(), s.sw, s.sh, whole.Data(), s.dw, s.dh));
      EXPECT_TRUE(whole.GuardsIntact()) << "scale " << where;
    }
  }
  CBicubicScaler scaler;
  std::uint8_t byte = 0;
  EXPECT_FALSE(scaler.Scale(&byte, 0, 1, &byte, 1, 1));
  EXPECT_FALSE(scaler.Scale(&byte, 1, 1, &byte, 1, -1));
}

TEST(Scaler, EveryTableEntryMatchesThePortablePassesBitForBit) {
  const auto& table = ScalerKernelTable();
  if (table.size() == 1) {
    GTEST_SKIP() << "only the portable passes on this processor";
  }
  for (int width = 8; width <= 96; ++width) {
    const int height = 6 + width % 5;
    const auto src = RandomFrame(width, height, static_cast<std::uint32_t>(width));
    const int targets[][2] = {{width * 2, height * 2}, {width * 2 + 1, height * 4}, {width + 3, height},
                              {width, height * 3},     {width / 2 + 1, height / 2 + 1}};
    for (const auto& target : targets) {
      const int dw = target[0];
      const int dh = target[1];
      std::vector<std::uint8_t> expected(static_cast<std::size_t>(dw * dh * 2));
      CBicubicScaler reference(table.front());
      ASSERT_TRUE(reference.Scale(src.data(), width, height, expected.data(), dw, dh));
      for (std::size_t k = 1; k < table.size(); ++k) {
        std::vector<std::uint8_t> actual(expected.size());
        CBicubicScaler simd(table[k]);
        ASSERT_TRUE(simd.Scale(src.data(), width, height, actual.data(), dw, dh));
        ASSERT_EQ(actual, expected) << width << "x" << height << " -> " << dw << "x" << dh << " " << table[k].name;
      }
    }
  }
}

TEST(ScalerGolden, SyntheticSequences) {
  halvard::testing::CGoldenFile golden(std::string(HALVARD_REF_DIR) + "/scaler.txt");
  const struct {
    int sw, sh, dw, dh, frames;
  } cases[] = {{352, 288, 704, 576, 3}, {320, 240, 640, 480, 2}, {640, 240, 1280, 960, 1}, {704, 576, 352, 288, 1},
               {176, 144, 352, 144, 1}, {176, 144, 176, 288, 1}};
  for (const auto& c : cases) {
    CBicubicScaler scaler(SimdLevel::None);
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(c.dw * c.dh * 2));
    for (int index = 0; index < c.frames; ++index) {
      const auto src = halvard::testing::SyntheticFrame(c.sw, c.sh, 2, index);
      ASSERT_TRUE(scaler.Scale(src.data(), c.sw, c.sh, dst.data(), c.dw, c.dh));
      const std::string name = std::to_string(c.sw) + "x" + std::to_string(c.sh) + "-" + std::to_string(c.dw) + "x" +
                               std::to_string(c.dh) + "-frame" + std::to_string(index);
      const std::uint64_t sum = halvard::testing::Checksum(dst);
      EXPECT_EQ(halvard::testing::CGoldenFile::Text(sum), golden.Check(name, sum)) << name;
    }
  }
}

}  // namespace
}  // namespace halvard::hdsimulation
