// Per-frame checksums of synthetic sequences through the splitter's picture work
// (enhancement at levels 0, 1 and 2, then the stamp in the stock fixed font at a fixed
// time), kept in tests/ref/splitter.txt. Run with HALVARD_UPDATE_GOLDEN=1 to rewrite the
// file on purpose after a deliberate change of the arithmetic.

#include <gtest/gtest.h>

#include "filters/splitter/DetailEnhancement.h"
#include "filters/splitter/OverlayRenderer.h"
#include "filters/tests/SyntheticVideo.h"

namespace halvard::splitter {
namespace {

using halvard::testing::CGoldenFile;
using halvard::testing::Checksum;
using halvard::testing::SyntheticFrame;

TEST(SplitterGolden, SyntheticSequences) {
  CGoldenFile golden(std::string(HALVARD_REF_DIR) + "/splitter.txt");
  const int width = 176;
  const int height = 144;
  for (ColourFormat format : {ColourFormat::Yuy2, ColourFormat::Rgb24}) {
    const int bytesPerPixel = format == ColourFormat::Yuy2 ? 2 : 3;
    const char* formatName = format == ColourFormat::Yuy2 ? "yuy2" : "rgb24";
    for (int level = 0; level <= 2; ++level) {
      CEnhancementBuffers buffers(width, height);
      ASSERT_TRUE(buffers.Valid());
      COverlayRenderer overlay(StampFont::StockFixed);
      overlay.SetGeometry(width, height, format == ColourFormat::Yuy2 ? RowOrder::TopDown : RowOrder::BottomUp);
      for (int index = 0; index < 6; ++index) {
        auto frame = SyntheticFrame(width, height, bytesPerPixel, index);
        EnhanceFrame(frame.data(), width * bytesPerPixel, width, height, format, level, buffers);
        StampTime t{2009, 2, 1, 0, 9, 5, 3, 70 + 40 * index};
        overlay.Draw(frame.data(), width * bytesPerPixel, format, FormatStampText(t));
        const std::string name =
            std::string(formatName) + "-level" + std::to_string(level) + "-frame" + std::to_string(index);
        const std::uint64_t sum = Checksum(frame);
        EXPECT_EQ(CGoldenFile::Text(sum), golden.Check(name, sum)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace halvard::splitter
