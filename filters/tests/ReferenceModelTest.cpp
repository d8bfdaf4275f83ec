// The C++ kernels against filters/tests/reference_model.py, a plain second
// implementation of the same arithmetic: both print one checksum per case.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "filters/hdsimulation/BicubicScaler.h"
#include "filters/splitter/DetailEnhancement.h"
#include "filters/tests/SyntheticVideo.h"
#include "tests/support/TestSupport.h"

namespace {

using halvard::testing::Checksum;
using halvard::testing::SyntheticFrame;

std::string Line(const char* format, int a, int b, int c, int d, std::uint64_t sum) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c, d, static_cast<unsigned long long>(sum));
  return text;
}

TEST(ReferenceModel, KernelsMatchTheSecondImplementation) {
  std::ostringstream ours;
  const int w = 48;
  const int h = 32;
  for (int format = 0; format < 2; ++format) {
    for (int level = 1; level <= 2; ++level) {
      const int bytesPerPixel = format == 0 ? 2 : 3;
      auto frame = SyntheticFrame(w, h, bytesPerPixel, 1);
      halvard::splitter::CEnhancementBuffers buffers(w, h);
      halvard::splitter::EnhanceFrame(
          frame.data(), w * bytesPerPixel, w, h,
          format == 0 ? halvard::splitter::ColourFormat::Yuy2 : halvard::splitter::ColourFormat::Rgb24, level,
          buffers);
      char text[64];
      std::snprintf(text, sizeof text, "enh fmt%d level%d %016llx\n", format, level,
                    static_cast<unsigned long long>(Checksum(frame)));
      ours << text;
    }
  }
  const int cases[][4] = {{22, 18, 44, 36}, {44, 36, 22, 18}, {21, 9, 47, 13}, {30, 20, 30, 47}};
  for (const auto& c : cases) {
    const auto src = SyntheticFrame(c[0], c[1], 2, 2);
    std::vector<std::uint8_t> dst(static_cast<std::size_t>(c[2] * c[3] * 2));
    halvard::hdsimulation::CBicubicScaler scaler(halvard::hdsimulation::SimdLevel::None);
    ASSERT_TRUE(scaler.Scale(src.data(), c[0], c[1], dst.data(), c[2], c[3]));
    ours << Line("scale %dx%d-%dx%d %016llx\n", c[0], c[1], c[2], c[3], Checksum(dst));
  }
  const auto model = halvard::testing::RunCommand(
      "python3 " + halvard::testing::ShellQuote(std::string(HALVARD_SOURCE_ROOT) + "/filters/tests/reference_model.py"));
  ASSERT_EQ(model.status, 0) << model.output;
  EXPECT_EQ(model.output, ours.str());
}

}  // namespace
