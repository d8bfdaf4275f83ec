#include "platform/gdi/Gdi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

HFONT Arial() {
  return CreateFontA(-10, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
}

// Renders text into a fresh bitmap of its extent, as the time stamp does.
struct Rendered {
  SIZE extent{};
  BITMAP info{};
  std::vector<std::uint8_t> bits;
  [[nodiscard]] bool White(int x, int y) const {
    return (bits[static_cast<std::size_t>(y * info.bmWidthBytes + x / 8)] >> (7 - x % 8)) & 1;
  }
};

Rendered Render(HDC dc, const std::string& text) {
  Rendered r;
  EXPECT_TRUE(GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &r.extent));
  HBITMAP bitmap = CreateCompatibleBitmap(dc, r.extent.cx, r.extent.cy);
  EXPECT_NE(bitmap, nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  EXPECT_TRUE(PatBlt(dc, 0, 0, r.extent.cx, r.extent.cy, WHITENESS));
  EXPECT_TRUE(TextOutA(dc, 0, 0, text.c_str(), static_cast<int>(text.size())));
  EXPECT_EQ(GetObjectA(bitmap, sizeof r.info, &r.info), static_cast<int>(sizeof(BITMAP)));
  r.bits.resize(static_cast<std::size_t>(r.info.bmWidthBytes * r.info.bmHeight));
  EXPECT_EQ(GetBitmapBits(bitmap, static_cast<LONG>(r.bits.size()), r.bits.data()), static_cast<LONG>(r.bits.size()));
  SelectObject(dc, previous);
  EXPECT_TRUE(DeleteObject(bitmap));
  return r;
}

TEST(Gdi, ArialResolvesAndMeasuresTenPixelText) {
  HFONT font = Arial();
  ASSERT_NE(font, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE one{};
  SIZE eight{};
  SIZE both{};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "0", 1, &one));
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "8", 1, &eight));
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "08", 2, &both));
  EXPECT_EQ(one.cx, eight.cx);  // figures share one advance
  EXPECT_EQ(both.cx, one.cx + eight.cx);
  EXPECT_EQ(one.cy, 11);  // ascent 9 + descent 2 at a 10-pixel character height
  EXPECT_GE(one.cx, 4);
  EXPECT_LE(one.cx, 7);

  const Rendered r = Render(dc, "09:05:03.07 Sun 02/01/09");
  EXPECT_EQ(r.info.bmWidth, r.extent.cx);
  EXPECT_EQ(r.info.bmHeight, r.extent.cy);
  EXPECT_EQ(r.info.bmBitsPixel, 1);
  EXPECT_EQ(r.info.bmWidthBytes, ((r.extent.cx + 15) / 16) * 2);
  int black = 0;
  for (int y = 0; y < r.extent.cy; ++y) {
    for (int x = 0; x < r.extent.cx; ++x) {
      black += r.White(x, y) ? 0 : 1;
    }
  }
  EXPECT_GT(black, 80);
  EXPECT_LT(black, r.extent.cx * r.extent.cy / 2);

  // The same text again gives the same bits.
  const Rendered again = Render(dc, "09:05:03.07 Sun 02/01/09");
  EXPECT_EQ(again.bits, r.bits);

  EXPECT_FALSE(DeleteObject(font));  // still selected
  SelectObject(dc, previous);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteObject(font));
}

TEST(Gdi, StockFixedFontNeedsNoFile) {
  HGDIOBJ fixed = GetStockObject(ANSI_FIXED_FONT);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(GetStockObject(12345), nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, fixed);
  SIZE size{};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "AB", 2, &size));
  EXPECT_EQ(size.cx, 16);
  EXPECT_EQ(size.cy, 13);
  const Rendered r = Render(dc, "1");
  // The figure one has ink in its middle column.
  bool ink = false;
  for (int y = 0; y < 13; ++y) {
    ink = ink || !r.White(3, y);
  }
  EXPECT_TRUE(ink);
  EXPECT_FALSE(DeleteObject(fixed));  // stock objects live for the process
  EXPECT_TRUE(DeleteDC(dc));
}

TEST(Gdi, BitmapsArePaddedToWordsAndClipDrawing) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, 20, 3);
  BITMAP info{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidthBytes, 4);
  std::uint8_t bits[12];
  std::memset(bits, 0xAA, sizeof bits);
  EXPECT_EQ(GetBitmapBits(bitmap, sizeof bits, bits), 12);
  EXPECT_EQ(bits[0], 0);  // a new bitmap is black
  SelectObject(dc, bitmap);
  EXPECT_TRUE(PatBlt(dc, -5, 1, 100, 100, WHITENESS));
  EXPECT_FALSE(PatBlt(dc, 0, 0, 1, 1, 0x00CC0020));  // only whiteness and blackness
  // Text far outside the bitmap is clipped, nothing else happens.
  EXPECT_TRUE(TextOutA(dc, -1000, -1000, "clipped", 7));
  EXPECT_TRUE(TextOutA(dc, 15, 0, "W", 1));
  EXPECT_EQ(GetBitmapBits(bitmap, sizeof bits, bits), 12);
  EXPECT_EQ(bits[0], 0);            // row 0 stays black left of the text
  EXPECT_EQ(bits[4], 0xFF);         // row 1 white
  EXPECT_EQ(bits[6] & 0xF0, 0xF0);  // pixels 16..19 of row 1 inside the bitmap
  EXPECT_EQ(GetBitmapBits(bitmap, 2, bits), 2);
  EXPECT_EQ(GetBitmapBits(nullptr, 2, bits), 0);
  EXPECT_FALSE(DeleteObject(bitmap));  // selected
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_TRUE(DeleteObject(bitmap));

  HBITMAP empty = CreateCompatibleBitmap(nullptr, 0, 5);
  ASSERT_EQ(GetObjectA(empty, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, 1);
  EXPECT_EQ(info.bmHeight, 1);
  EXPECT_TRUE(DeleteObject(empty));
  EXPECT_EQ(CreateCompatibleBitmap(nullptr, -1, 5), nullptr);
}

TEST(Gdi, NullArgumentsAreRefused) {
  SIZE size{};
  EXPECT_FALSE(GetTextExtentPoint32A(nullptr, "a", 1, &size));
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_FALSE(GetTextExtentPoint32A(dc, "a", 1, nullptr));
  EXPECT_FALSE(GetTextExtentPoint32A(dc, "a", -1, &size));
  EXPECT_FALSE(TextOutA(dc, 0, 0, nullptr, 3));
  EXPECT_EQ(SelectObject(dc, nullptr), nullptr);
  EXPECT_FALSE(DeleteObject(nullptr));
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(nullptr));
}

}  // namespace
