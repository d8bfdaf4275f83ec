#include <gtest/gtest.h>

#include "platform/base/Text.h"

using namespace halvard::text;

TEST(Text, Utf16LengthCountsSurrogatePairsAsTwo) {
  EXPECT_EQ(Utf16Length(""), 0u);
  EXPECT_EQ(Utf16Length("Input 2"), 7u);
  EXPECT_EQ(Utf16Length("\xC3\xA9t\xC3\xA9"), 3u);       // été
  EXPECT_EQ(Utf16Length("\xF0\x9F\x93\xB7"), 2u);        // camera emoji
  EXPECT_EQ(Utf16Length("\xFF\xFE"), 2u);                // invalid bytes count one each
}

TEST(Text, WideBytesRoundTripWithTerminator) {
  const auto bytes = ToWideBytes("A\xC3\xA9\xF0\x9F\x93\xB7");
  ASSERT_EQ(bytes.size(), (4u + 1u) * 2u);
  EXPECT_EQ(bytes[0], 'A');
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[8], 0);
  EXPECT_EQ(bytes[9], 0);
  EXPECT_EQ(FromWideBytes(bytes.data(), bytes.size()), "A\xC3\xA9\xF0\x9F\x93\xB7");
  // Stops at the first zero unit; an odd trailing byte is ignored; no data reads empty.
  const BYTE partial[] = {'a', 0, 0, 0, 'b', 0, 'c'};
  EXPECT_EQ(FromWideBytes(partial, sizeof partial), "a");
  const BYTE odd[] = {'x', 0, 'y'};
  EXPECT_EQ(FromWideBytes(odd, sizeof odd), "x");
  EXPECT_EQ(FromWideBytes(nullptr, 10), "");
}

TEST(Text, UnpairedSurrogatesBecomeReplacementCharacters) {
  std::u16string lone = u"a";
  lone.push_back(static_cast<char16_t>(0xD800));
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD");
}

TEST(Text, CaseFoldingIsUnicodeAndLocaleIndependent) {
  EXPECT_TRUE(EqualsNoCase("Camera Group", "CAMERA group"));
  EXPECT_TRUE(EqualsNoCase("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));  // été / ÉTÉ
  EXPECT_TRUE(EqualsNoCase("\xD0\xBA\xD0\xB0\xD0\xBC", "\xD0\x9A\xD0\x90\xD0\x9C"));  // Cyrillic
  EXPECT_FALSE(EqualsNoCase("Input 1", "Input 1 "));
  EXPECT_LT(CompareNoCase("alpha", "Beta"), 0);
  EXPECT_GT(CompareNoCase("gamma", "BETA"), 0);
  EXPECT_EQ(CompareNoCase("Same", "sAME"), 0);
}
