#include "tools/halvard-graph/FilterProperties.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using halvard::graphtool::MotionArea;
using halvard::graphtool::MotionSettings;
using halvard::graphtool::PropertyList;
using halvard::graphtool::ScalerSettings;
using halvard::graphtool::UpstreamVideo;

bool Bit(const std::array<BYTE, 720>& bitmap, int i) { return ((bitmap[i / 8] >> (i % 8)) & 1) != 0; }

int CountBits(const std::array<BYTE, 720>& bitmap) {
  int n = 0;
  for (int i = 0; i < 5760; ++i) {
    n += Bit(bitmap, i) ? 1 : 0;
  }
  return n;
}

TEST(FilterProperties, SplitterTakesChannelsColourAndLevelOverItsCurrentConfiguration) {
  SplitterConfig c{4, 0, 0};
  std::string error;
  ASSERT_EQ(halvard::graphtool::ParseSplitterProperties({{"colour", "RGB24"}, {"level", "2"}}, &c, &error), S_OK);
  EXPECT_EQ(c.channelCount, 4);
  EXPECT_EQ(c.colourFormat, 1);
  EXPECT_EQ(c.enhancementLevel, 2);
  ASSERT_EQ(halvard::graphtool::ParseSplitterProperties({{"colour", "0"}, {"channels", "1000"}}, &c, &error), S_OK);
  EXPECT_EQ(c.colourFormat, 0);
  EXPECT_EQ(c.channelCount, 1000);

  const SplitterConfig before = c;
  for (const PropertyList& bad : std::vector<PropertyList>{{{"level", "3"}},
                                                           {{"level", "-1"}},
                                                           {{"channels", "1001"}},
                                                           {{"channels", "4x"}},
                                                           {{"colour", "RGB32"}},
                                                           {{"colour", "2"}},
                                                           {{"chanels", "4"}}}) {
    error.clear();
    EXPECT_EQ(halvard::graphtool::ParseSplitterProperties(bad, &c, &error), E_INVALIDARG) << bad[0].first;
    EXPECT_NE(error.find(bad[0].first), std::string::npos) << error;
  }
  EXPECT_EQ(c.channelCount, before.channelCount);
  EXPECT_EQ(c.colourFormat, before.colourFormat);
}

TEST(FilterProperties, ScalerLevelScalesTheInputHeight) {
  ScalerSettings s;
  std::string error;
  ASSERT_EQ(halvard::graphtool::ParseScalerProperties({{"level", "2"}}, &s, &error), S_OK);
  LONG w = 0;
  LONG h = 0;
  ASSERT_EQ(halvard::graphtool::ScalerOutputSize(s, 240, &w, &h, &error), S_OK);
  EXPECT_EQ(w, 1280);
  EXPECT_EQ(h, 960);
  ASSERT_EQ(halvard::graphtool::ScalerOutputSize(s, 288, &w, &h, &error), S_OK);
  EXPECT_EQ(h, 1152);
  // Without a connected input the level has nothing to scale.
  EXPECT_EQ(halvard::graphtool::ScalerOutputSize(s, std::nullopt, &w, &h, &error), E_INVALIDARG);
  EXPECT_NE(error.find("input"), std::string::npos);

  ScalerSettings size;
  ASSERT_EQ(halvard::graphtool::ParseScalerProperties({{"width", "704"}, {"height", "576"}}, &size, &error), S_OK);
  ASSERT_EQ(halvard::graphtool::ScalerOutputSize(size, std::nullopt, &w, &h, &error), S_OK);
  EXPECT_EQ(w, 704);
  EXPECT_EQ(h, 576);
  EXPECT_EQ(halvard::graphtool::ScalerOutputSize(ScalerSettings{}, 240, &w, &h, &error), S_FALSE);

  for (const PropertyList& bad : std::vector<PropertyList>{{{"width", "704"}},
                                                           {{"level", "2"}, {"width", "640"}, {"height", "480"}},
                                                           {{"level", "0"}},
                                                           {{"width", "0"}, {"height", "480"}},
                                                           {{"size", "1"}}}) {
    ScalerSettings t;
    EXPECT_EQ(halvard::graphtool::ParseScalerProperties(bad, &t, &error), E_INVALIDARG) << bad[0].first;
  }
}

TEST(FilterProperties, MotionFieldsByShortAndBlockNamesAndUpstreamGeometry) {
  MotionSettings s;
  std::string error;
  ASSERT_EQ(halvard::graphtool::ParseMotionProperties({{"hold", "300"},
                                                        {"rearmPeriodMs", "4000000000"},
                                                        {"top", "64"},
                                                        {"bottomMargin", "8"},
                                                        {"block", "32"},
                                                        {"threshold", "15"},
                                                        {"reserved", "7"},
                                                        {"height", "480"}},
                                                       &s, &error),
            S_OK)
      << error;
  MotionParams p{};
  p.holdPeriodMs = 180000;
  p.threshold = 19;
  p.width = 1;
  halvard::graphtool::MergeMotionParams(s, UpstreamVideo{1280, 960, 2}, &p);
  EXPECT_EQ(p.holdPeriodMs, 300u);
  EXPECT_EQ(p.rearmPeriodMs, 4000000000u);
  EXPECT_EQ(p.topMargin, 64);
  EXPECT_EQ(p.bottomMargin, 8);
  EXPECT_EQ(p.blockSize, 32);
  EXPECT_EQ(p.threshold, 15);
  EXPECT_EQ(p.reserved, 7u);
  EXPECT_EQ(p.width, 1280);   // from upstream
  EXPECT_EQ(p.height, 480);   // the line wins
  EXPECT_EQ(p.bytesPerPixel, 2);

  // Unknown upstream: fields not given keep the filter's values.
  MotionParams q{};
  q.width = 320;
  q.bytesPerPixel = 3;
  halvard::graphtool::MergeMotionParams(MotionSettings{}, std::nullopt, &q);
  EXPECT_EQ(q.width, 320);
  EXPECT_EQ(q.bytesPerPixel, 3);

  for (const PropertyList& bad : std::vector<PropertyList>{{{"window", "5"}},
                                                           {{"notifyWindow", "5"}},
                                                           {{"hold", "-1"}},
                                                           {{"hold", "4294967296"}},
                                                           {{"block", "3.5"}},
                                                           {{"threshold", ""}},
                                                           {{"area", "1:"}},
                                                           {{"area", "1,,2"}},
                                                           {{"area", "none"}},
                                                           {{"sensitivity", "2"}}}) {
    MotionSettings t;
    error.clear();
    EXPECT_EQ(halvard::graphtool::ParseMotionProperties(bad, &t, &error), E_INVALIDARG)
        << bad[0].first << "=" << bad[0].second;
    EXPECT_FALSE(error.empty());
  }
}

TEST(FilterProperties, AreaSetsTheBitsOfItsBlocksInDisplayOrder) {
  MotionParams p{};
  p.width = 320;
  p.height = 240;
  p.topMargin = 16;
  p.blockSize = 32;  // 10 columns, 7 rows
  std::array<BYTE, 720> bitmap{};
  bitmap.fill(0xFF);
  std::string error;

  MotionSettings s;
  ASSERT_EQ(halvard::graphtool::ParseMotionProperties({{"area", "all"}}, &s, &error), S_OK);
  ASSERT_EQ(halvard::graphtool::WriteMotionArea(*s.area, p, bitmap.data(), &error), S_OK);
  EXPECT_EQ(CountBits(bitmap), 70);
  EXPECT_TRUE(Bit(bitmap, 69));
  EXPECT_FALSE(Bit(bitmap, 70));  // bits past the grid are cleared

  ASSERT_EQ(halvard::graphtool::ParseMotionProperties({{"area", "0,3:2,69"}}, &s, &error), S_OK);
  ASSERT_EQ(halvard::graphtool::WriteMotionArea(*s.area, p, bitmap.data(), &error), S_OK);
  EXPECT_EQ(CountBits(bitmap), 3);
  EXPECT_TRUE(Bit(bitmap, 0));
  EXPECT_TRUE(Bit(bitmap, 3 + 2 * 10));
  EXPECT_TRUE(Bit(bitmap, 69));

  // Outside the grid: refused, bitmap untouched.
  const std::array<BYTE, 720> before = bitmap;
  for (const char* outside : {"70", "10:0", "0:7"}) {
    ASSERT_EQ(halvard::graphtool::ParseMotionProperties({{"area", outside}}, &s, &error), S_OK);
    EXPECT_EQ(halvard::graphtool::WriteMotionArea(*s.area, p, bitmap.data(), &error), E_INVALIDARG) << outside;
    EXPECT_NE(error.find("outside the grid of 10 x 7"), std::string::npos) << error;
  }
  EXPECT_TRUE(bitmap == before);

  // 640 x 480 in blocks of 4 is 19200 blocks: more than the bitmap holds.
  p.width = 640;
  p.height = 480;
  p.topMargin = 0;
  p.blockSize = 4;
  ASSERT_EQ(halvard::graphtool::ParseMotionProperties({{"area", "all"}}, &s, &error), S_OK);
  EXPECT_EQ(halvard::graphtool::WriteMotionArea(*s.area, p, bitmap.data(), &error), E_INVALIDARG);
  EXPECT_TRUE(bitmap == before);
}

}  // namespace
