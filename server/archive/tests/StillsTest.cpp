#include <gtest/gtest.h>

#include <string>

#include "server/archive/Archive.h"
#include "server/archive/Stills.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::archive;
namespace settings = halvard::settings;

namespace {

constexpr std::int64_t kSecond = 10'000'000;

TEST(StillNames, HoursMinutesSecondsAndTruncatedMilliseconds) {
  EXPECT_EQ(StillPictureName(7'542'500'000), "00-12-34-250.bmp");
  EXPECT_EQ(StillPictureName(7200 * kSecond + 5 * kSecond + kSecond / 2), "02-00-05-500.bmp");
  EXPECT_EQ(StillPictureName(0), "00-00-00-000.bmp");
  // 0.2999999 s is still in millisecond 299: the position is cut, never rounded up.
  EXPECT_EQ(StillPictureName(2'999'999), "00-00-00-299.bmp");
  EXPECT_EQ(StillPictureName(59 * kSecond + 9'999'999), "00-00-59-999.bmp");
  EXPECT_EQ(StillPictureName(3600 * kSecond - 1), "00-59-59-999.bmp");
  // A graph that reports a position before the start names the first millisecond.
  EXPECT_EQ(StillPictureName(-5), "00-00-00-000.bmp");
  // Beyond 99 hours the hours take three digits rather than wrapping.
  EXPECT_EQ(StillPictureName(100 * 3600 * kSecond), "100-00-00-000.bmp");
}

TEST(StillNames, PathsStayInTheRecordingsStillFolder) {
  EXPECT_EQ(StillPicturePath("/a/G/I/day/13H-05M-22S.wmv", "00-00-01-000.bmp"),
            "/a/G/I/day/13H-05M-22S/00-00-01-000.bmp");
  EXPECT_EQ(StillPicturePath("/a/day/clip.avi", "x.bmp"), "");  // no still folder
  EXPECT_EQ(StillPicturePath("/a/day/f.wmv", "../x.bmp"), "");
  EXPECT_EQ(StillPicturePath("/a/day/f.wmv", ""), "");
  EXPECT_TRUE(IsStillPicturePath("/a/x/00-00-01-000.BMP"));
  EXPECT_FALSE(IsStillPicturePath("/a/x/13H-05M-22S.wmv"));
  EXPECT_FALSE(IsStillPicturePath(".bmp"));
}

TEST(StillIndex, ASecondSaveAtOnePositionListsOnePicture) {
  const halvard::testing::ScopedRegistry store;
  const std::string day = "2007-05-01, TUE MAY 01";
  ASSERT_TRUE(RegisterStillPicture("G", "I", day, "13H-05M-22S.wmv", "00-12-34-250.bmp"));
  ASSERT_TRUE(RegisterStillPicture("G", "I", day, "13H-05M-22S.wmv", "00-12-34-250.bmp"));
  const std::string fileKey = ArchiveIndexKey("G", "I", day, "13H-05M-22S.wmv");
  EXPECT_EQ(settings::SubKeyNames(fileKey), std::vector<std::string>{"00-12-34-250.bmp"});
  // Names that would reach another key or folder create nothing.
  EXPECT_FALSE(RegisterStillPicture("G", "I", day, "13H-05M-22S.wmv", "a\\b.bmp"));
  EXPECT_FALSE(RegisterStillPicture("G", "I", "..", "13H-05M-22S.wmv", "x.bmp"));
  EXPECT_FALSE(RegisterStillPicture("", "I", day, "13H-05M-22S.wmv", "x.bmp"));
  EXPECT_EQ(settings::SubKeyNames(fileKey).size(), 1u);
}

}  // namespace
