#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/media/ColourConversion.h"
#include "platform/media/MediaType.h"

namespace {

using halvard::media::ConstPictureRef;
using halvard::media::ConvertPicture;
using halvard::media::MakeVideoType;
using halvard::media::PictureRef;

TEST(MediaType, CopiesOwnTheirFormatBlockAndCompareByContent) {
  CMediaType a = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240);
  ASSERT_EQ(a.FormatLength(), sizeof(VIDEOINFOHEADER));
  CMediaType b = a;
  EXPECT_NE(a.Format(), b.Format());
  EXPECT_TRUE(a == b);
  reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biWidth = 352;
  EXPECT_FALSE(a == b);

  AM_MEDIA_TYPE* copy = CreateMediaType(&a);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(CMediaType(*copy) == a);
  DeleteMediaType(copy);

  const BITMAPINFOHEADER* bmi = GetBitmapInfoHeader(a);
  ASSERT_NE(bmi, nullptr);
  EXPECT_EQ(bmi->biBitCount, 16);
  EXPECT_EQ(bmi->biSizeImage, 320u * 240u * 2u);
  EXPECT_EQ(bmi->biCompression, MAKEFOURCC('Y', 'U', 'Y', '2'));
  EXPECT_EQ(a.GetSampleSize(), 320u * 240u * 2u);
}

TEST(MediaType, PartialTypesMatchOnlyWhatTheySpecify) {
  const CMediaType rgb = MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48);
  CMediaType partial(&MEDIATYPE_Video);
  EXPECT_TRUE(partial.IsPartiallySpecified());
  EXPECT_TRUE(rgb.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_YUY2);
  EXPECT_FALSE(rgb.MatchesPartial(&partial));
  CMediaType audio(&MEDIATYPE_Audio);
  EXPECT_FALSE(rgb.MatchesPartial(&audio));
  EXPECT_FALSE(rgb.IsPartiallySpecified());
}

TEST(MediaType, TooSmallFormatBlocksGiveNoHeader) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetFormatType(&FORMAT_VideoInfo);
  mt.AllocFormatBuffer(20);  // shorter than a VIDEOINFOHEADER
  EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);
}

TEST(ColourConversion, Yuy2BlackWhiteAndGreyBecomeTheirRgbValues) {
  // One row of four pixels: black, black, white, white (studio range), then a grey row.
  const BYTE yuy2[] = {16, 128, 16, 128, 235, 128, 235, 128, 126, 128, 126, 128, 126, 128, 126, 128};
  std::vector<BYTE> rgb(4 * 2 * 3);
  const ConstPictureRef in{yuy2, 8, 4, 2, MEDIASUBTYPE_YUY2, false};
  const PictureRef out{rgb.data(), 12, 4, 2, MEDIASUBTYPE_RGB24, false};
  ASSERT_TRUE(ConvertPicture(in, out));
  EXPECT_EQ(rgb[0], 0);
  EXPECT_EQ(rgb[2], 0);
  EXPECT_EQ(rgb[6], 255);
  EXPECT_EQ(rgb[8], 255);
  EXPECT_NEAR(rgb[12], 128, 1);
  EXPECT_NEAR(rgb[13], 128, 1);
}

TEST(ColourConversion, BottomUpRgbBecomesUprightAndRoundTripsThroughYuy2) {
  // 2 x 2 RGB24 bottom-up: stored row 0 is the bottom (display row 1).
  const BYTE bottomUp[] = {10, 10, 10, 10, 10, 10, 0, 0,  // bottom row (padded to 8 bytes)
                           200, 200, 200, 200, 200, 200, 0, 0};
  std::vector<BYTE> yuy2(2 * 2 * 2);
  ASSERT_TRUE(ConvertPicture(ConstPictureRef{bottomUp, 8, 2, 2, MEDIASUBTYPE_RGB24, true},
                             PictureRef{yuy2.data(), 4, 2, 2, MEDIASUBTYPE_YUY2, false}));
  EXPECT_GT(yuy2[0], yuy2[4]);  // the top row of the YUY2 picture is the bright one
  std::vector<BYTE> back(2 * 2 * 4);
  ASSERT_TRUE(ConvertPicture(ConstPictureRef{yuy2.data(), 4, 2, 2, MEDIASUBTYPE_YUY2, false},
                             PictureRef{back.data(), 8, 2, 2, MEDIASUBTYPE_RGB32, true}));
  EXPECT_NEAR(back[0], 10, 2);   // stored first = bottom = dark
  EXPECT_NEAR(back[8], 200, 2);  // top = bright
}

TEST(ColourConversion, RefusesUnknownFormatsAndSizeMismatch) {
  BYTE buffer[64] = {};
  EXPECT_FALSE(ConvertPicture(ConstPictureRef{buffer, 8, 2, 2, MEDIASUBTYPE_I420, false},
                              PictureRef{buffer, 8, 2, 2, MEDIASUBTYPE_RGB32, false}));
  EXPECT_FALSE(ConvertPicture(ConstPictureRef{buffer, 8, 2, 2, MEDIASUBTYPE_RGB32, false},
                              PictureRef{buffer, 8, 2, 3, MEDIASUBTYPE_RGB32, false}));
  // A buffer shorter than its picture is not described.
  const CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB24, 10, 10);
  ConstPictureRef picture{};
  EXPECT_FALSE(halvard::media::DescribePicture(mt, buffer, sizeof(buffer), &picture));
}

TEST(Strings, BstrAndVariantOwnTheirText) {
  BSTR text = SysAllocString(L"FriendlyName");
  EXPECT_EQ(SysStringLen(text), 12u);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  EXPECT_EQ(halvard::media::ToUtf8(v.bstrVal), "FriendlyName");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(halvard::media::FromUtf8("Kamera ä"), std::wstring(L"Kamera ä"));
}

}  // namespace
