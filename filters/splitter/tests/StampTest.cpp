#include "filters/splitter/OverlayRenderer.h"
#include "filters/splitter/Stamp.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvard::splitter {
namespace {

TEST(StampText, FormatsTimeAndFixedEnglishWeekday) {
  StampTime t;
  t.year = 2009;
  t.month = 2;
  t.day = 1;
  t.dayOfWeek = 0;
  t.hour = 9;
  t.minute = 5;
  t.second = 3;
  t.milliseconds = 70;
  EXPECT_EQ(FormatStampText(t), "09:05:03.07 Sun 02/01/09");
  t.dayOfWeek = 6;
  t.milliseconds = 999;
  t.year = 2100;
  EXPECT_EQ(FormatStampText(t), "09:05:03.99 Sat 02/01/00");
}

TEST(StampText, LocalTimeIsPlausible) {
  const StampTime t = LocalStampTime();
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.dayOfWeek, 0);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_LE(t.milliseconds, 999);
}

// A 10 x 2 bitmap, rows of 2 bytes: row 0 = 1010000000, row 1 = 0111111111.
const std::uint8_t kBits[4] = {0xA0, 0x00, 0x7F, 0xC0};
const MonoBitmap kStamp{kBits, 10, 2, 2};

TEST(StampBlit, Yuy2WhiteBitsBecomeWhiteLumaAndChromaNeutral) {
  const int width = 12;
  const int height = 3;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width * 2 * height), 77);
  BlitStampYuy2(frame.data(), width * 2, width, height, kStamp, RowOrder::TopDown);
  EXPECT_EQ(frame[0], 255);
  EXPECT_EQ(frame[1], 128);
  EXPECT_EQ(frame[2], 0);
  EXPECT_EQ(frame[3], 128);
  EXPECT_EQ(frame[4], 255);
  EXPECT_EQ(frame[18], 0);   // pixel 9 of row 0
  EXPECT_EQ(frame[20], 77);  // pixel 10: outside the stamp
  EXPECT_EQ(frame[24 + 0], 0);
  EXPECT_EQ(frame[24 + 2], 255);
  EXPECT_EQ(frame[24 + 18], 255);
  EXPECT_EQ(frame[48], 77);  // row 2 untouched
}

TEST(StampBlit, ClippedToSmallFrames) {
  // A frame narrower and lower than the stamp, in an exactly sized buffer.
  std::vector<std::uint8_t> yuy2(4 * 2 * 1, 77);
  BlitStampYuy2(yuy2.data(), 8, 4, 1, kStamp, RowOrder::TopDown);
  EXPECT_EQ(yuy2, (std::vector<std::uint8_t>{255, 128, 0, 128, 255, 128, 0, 128}));
  std::vector<std::uint8_t> rgb(3 * 3 * 1, 77);
  BlitStampRgb24(rgb.data(), 9, 3, 1, kStamp, RowOrder::BottomUp);
  EXPECT_EQ(rgb, (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 255, 255, 255}));
  // Nothing at all for an empty frame.
  BlitStampYuy2(nullptr, 0, 0, 0, kStamp, RowOrder::TopDown);
}

TEST(StampBlit, Rgb24BottomUpStartsAtTheLastStoredRow) {
  const int width = 10;
  const int height = 4;
  const int stride = width * 3;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(stride * height), 77);
  BlitStampRgb24(frame.data(), stride, width, height, kStamp, RowOrder::BottomUp);
  const std::uint8_t* displayRow0 = frame.data() + 3 * stride;
  const std::uint8_t* displayRow1 = frame.data() + 2 * stride;
  EXPECT_EQ(displayRow0[0], 255);
  EXPECT_EQ(displayRow0[1], 255);
  EXPECT_EQ(displayRow0[3], 0);
  EXPECT_EQ(displayRow1[0], 0);
  EXPECT_EQ(displayRow1[5], 255);
  EXPECT_EQ(frame[0], 77);  // bottom rows untouched
  EXPECT_EQ(frame[static_cast<std::size_t>(stride)], 77);
}

TEST(OverlayRenderer, StampIsUprightOnRgb24AndMatchesYuy2) {
  const int width = 160;
  const int height = 40;
  const std::string text = "09:05:03.07 Sun 02/01/09";

  COverlayRenderer yuy2Renderer;
  yuy2Renderer.SetGeometry(width, height, RowOrder::TopDown);
  std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(width * 2 * height), 100);
  yuy2Renderer.Draw(yuy2.data(), width * 2, ColourFormat::Yuy2, text);
  const MonoBitmap bitmap = yuy2Renderer.LastBitmap();
  ASSERT_NE(bitmap.bits, nullptr);
  EXPECT_GT(bitmap.width, 60);
  EXPECT_LT(bitmap.width, width);
  EXPECT_GE(bitmap.height, 10);
  EXPECT_LE(bitmap.height, 13);
  EXPECT_EQ(bitmap.widthBytes % 2, 0);
  EXPECT_GE(bitmap.widthBytes * 8, bitmap.width);

  COverlayRenderer rgbRenderer;
  rgbRenderer.SetGeometry(width, height, RowOrder::BottomUp);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * 3 * height), 100);
  rgbRenderer.Draw(rgb.data(), width * 3, ColourFormat::Rgb24, text);

  int black = 0;
  int white = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* yRow = yuy2.data() + y * width * 2;
    const std::uint8_t* rgbRow = rgb.data() + (height - 1 - y) * width * 3;  // display row y
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(rgbRow[3 * x], yRow[2 * x]) << x << "," << y;
      ASSERT_EQ(rgbRow[3 * x + 1], yRow[2 * x]);
      ASSERT_EQ(rgbRow[3 * x + 2], yRow[2 * x]);
      const bool inside = x < bitmap.width && y < bitmap.height;
      if (!inside) {
        ASSERT_EQ(yRow[2 * x], 100) << x << "," << y;
      } else {
        black += yRow[2 * x] == 0;
        white += yRow[2 * x] == 255;
      }
    }
  }
  EXPECT_EQ(black + white, bitmap.width * bitmap.height);
  EXPECT_GT(black, 100);
  EXPECT_GT(white, black);
  // The top row of the box is above every glyph: white.
  for (int x = 0; x < bitmap.width; ++x) {
    EXPECT_EQ(yuy2[static_cast<std::size_t>(2 * x)], 255) << x;
  }
}

TEST(OverlayRenderer, SameTextTwiceGivesTheSameBitsAndFallbackFontWorks) {
  COverlayRenderer renderer;
  renderer.SetGeometry(200, 20, RowOrder::TopDown);
  std::vector<std::uint8_t> a(200 * 2 * 20, 0);
  std::vector<std::uint8_t> b(200 * 2 * 20, 0);
  renderer.Draw(a.data(), 400, ColourFormat::Yuy2, "12:34:56.78 Wed 03/04/26");
  renderer.Draw(b.data(), 400, ColourFormat::Yuy2, "12:34:56.78 Wed 03/04/26");
  EXPECT_EQ(a, b);

  COverlayRenderer fixed(StampFont::StockFixed);
  EXPECT_TRUE(fixed.UsesStockFont());
  fixed.SetGeometry(200, 20, RowOrder::TopDown);
  std::vector<std::uint8_t> c(200 * 2 * 20, 0);
  fixed.Draw(c.data(), 400, ColourFormat::Yuy2, "12:34");
  EXPECT_EQ(fixed.LastBitmap().width, 5 * 8);
  EXPECT_EQ(fixed.LastBitmap().height, 13);
}

}  // namespace
}  // namespace halvard::splitter
