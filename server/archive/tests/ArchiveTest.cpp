#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/time/Time.h"
#include "server/archive/Archive.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::archive;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
using halvard::time::CManualWallClock;
using halvard::time::MakeLocalTime;
using halvard::time::ScopedWallClock;

namespace {

std::tm Local(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

void Touch(const fs::path& path, const std::string& text = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override { settings::WriteVideoFileRoot("G", "I", m_dir.Path().string() + "/"); }
  [[nodiscard]] std::string Root() const { return m_dir.Path().string() + "/"; }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
};

// A German locale: an installed one, else one compiled into `dir` (LOCPATH).
bool UseGermanLocale(const halvard::testing::TempDir& dir) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      return true;
    }
  }
  const std::string target = dir.File("de_DE.UTF-8");
  (void)halvard::testing::RunCommand("localedef -i de_DE -f UTF-8 " +
                                                  halvard::testing::ShellQuote(target) + " 2>&1");
  if (!fs::exists(target)) {
    return false;
  }
  setenv("LOCPATH", dir.Path().c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(ArchiveNames, DayAndFileNamesUseFixedEnglishAbbreviations) {
  // Whatever the locale says, the names stay English: the archive sorts and parses them.
  const halvard::testing::TempDir localeDir;
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  const bool localized = UseGermanLocale(localeDir);
  if (localized) {
    const std::tm tuesday = Local(MakeLocalTime(2007, 5, 1, 12));
    char text[32] = {};
    std::strftime(text, sizeof text, "%a", &tuesday);
    EXPECT_STRNE(text, "Tue");  // the locale is really in effect
  }
  const std::tm may1 = Local(MakeLocalTime(2007, 5, 1, 13, 5, 22));
  EXPECT_EQ(DayName(may1), "2007-05-01, TUE MAY 01");
  EXPECT_EQ(RecordingFileName(may1), "13H-05M-22S.wmv");
  const char* weekdays[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (int month = 1; month <= 12; ++month) {
    const std::tm t = Local(MakeLocalTime(2024, month, 3, 7, 8, 9));
    const std::string name = DayName(t);
    EXPECT_EQ(name.substr(12, 3), weekdays[t.tm_wday]) << name;
    EXPECT_EQ(name.substr(16, 3), months[month - 1]) << name;
    EXPECT_EQ(RecordingFileName(t), "07H-08M-09S.wmv");
  }
  std::tm broken = may1;
  broken.tm_wday = 9;
  broken.tm_mon = -1;
  EXPECT_EQ(DayName(broken).substr(12, 7), "??? ???");
  std::setlocale(LC_ALL, saved.c_str());
  unsetenv("LOCPATH");
  if (!localized) {
    GTEST_SKIP() << "no non-English locale installed; names checked under the C locale only";
  }
}

TEST_F(ArchiveTest, RecordingPathsFollowTheWallClockAcrossMidnight) {
  CManualWallClock clock(MakeLocalTime(2007, 5, 1, 23, 59, 59));
  ScopedWallClock scoped(clock.Source());
  const std::string dir = Root() + "G/I";
  EXPECT_EQ(MakeCameraArchiveDir("G", "I"), dir);
  const std::string before = MakeRecordingPath("G", "I");
  EXPECT_EQ(before, dir + "/2007-05-01, TUE MAY 01/23H-59M-59S.wmv");
  // A restart within the same second gives the same name.
  EXPECT_EQ(MakeRecordingPath("G", "I"), before);
  clock.Advance(1);
  EXPECT_EQ(MakeRecordingPath("G", "I"), dir + "/2007-05-02, WED MAY 02/00H-00M-00S.wmv");
  EXPECT_EQ(MakeRecordingPathAt("G", "I", Local(MakeLocalTime(2008, 2, 29, 1, 2, 3))),
            dir + "/2008-02-29, FRI FEB 29/01H-02M-03S.wmv");
}

TEST_F(ArchiveTest, RootIsUsedAsStored) {
  settings::WriteVideoFileRoot("G", "I", Root() + "box");
  EXPECT_EQ(MakeCameraArchiveDir("G", "I"), Root() + "boxG/I");
  settings::WriteVideoFileRoot("G", "J", "relative/");
  EXPECT_EQ(MakeCameraArchiveDir("G", "J"), "relative/G/J");
}

TEST_F(ArchiveTest, NamesThatCouldLeaveTheArchiveAreRefused) {
  for (const char* bad : {"", ".", "..", "a/b", "/", "a\\b"}) {
    SCOPED_TRACE(std::string("name '") + bad + "'");
    EXPECT_FALSE(IsSafeName(bad));
    EXPECT_EQ(MakeCameraArchiveDir(bad, "I"), "");
    EXPECT_EQ(MakeCameraArchiveDir("G", bad), "");
    EXPECT_EQ(MakeRecordingPath(bad, "I"), "");
    EXPECT_EQ(ItemPath("G", "I", bad), "");
    if (*bad != '\0') {  // an empty file or still name means a day or file item
      EXPECT_EQ(ItemPath("G", "I", "D", bad), "");
      EXPECT_EQ(ItemPath("G", "I", "D", "F.wmv", bad), "");
    }
  }
  EXPECT_FALSE(IsSafeName(std::string_view("a\0b", 3)));
  EXPECT_TRUE(IsSafeName("..."));
  EXPECT_TRUE(IsSafeName("2007-05-01, TUE MAY 01"));
  // A still needs its recording.
  EXPECT_EQ(ItemPath("G", "I", "D", "", "S.bmp"), "");
  EXPECT_EQ(ItemPath("G", "I", "D", "F.avi", "S.bmp"), "");
}

TEST_F(ArchiveTest, ItemPathsAndIndexKeys) {
  const std::string day = "2007-05-01, TUE MAY 01";
  EXPECT_EQ(ItemPath("G", "I", day), Root() + "G/I/" + day);
  EXPECT_EQ(ItemPath("G", "I", day, "13H-05M-22S.wmv"), Root() + "G/I/" + day + "/13H-05M-22S.wmv");
  EXPECT_EQ(ItemPath("G", "I", day, "13H-05M-22S.wmv", "00-12-34-250.bmp"),
            Root() + "G/I/" + day + "/13H-05M-22S/00-12-34-250.bmp");

  const std::string camera = std::string(settings::kCameraGroupPath) + "\\G\\I";
  EXPECT_EQ(ArchiveIndexKey("G", "I"), camera);
  EXPECT_EQ(ArchiveIndexKey("G", "I", day, "F.wmv", "S.bmp"), camera + "\\" + day + "\\F.wmv\\S.bmp");
  // Registry names cannot leave their key: "..", '/' stay removable from the index.
  EXPECT_EQ(ArchiveIndexKey("G", "I", ".."), camera + "\\..");
  EXPECT_EQ(ArchiveIndexKey("G", "I", "a/b"), camera + "\\a/b");
  EXPECT_EQ(ArchiveIndexKey("", "I"), "");
  EXPECT_EQ(ArchiveIndexKey("G", "I", "D\\E"), "");
  EXPECT_EQ(ArchiveIndexKey("G", "I", "", "F.wmv"), "");  // a gap would name another key
}

TEST(ArchiveStills, StillFolderIsTheRecordingLessItsExtension) {
  EXPECT_EQ(StillFolderOf("/a/D/13H-05M-22S.wmv"), "/a/D/13H-05M-22S");
  EXPECT_EQ(StillFolderOf("/a/D/13H-05M-22S.WMV"), "/a/D/13H-05M-22S");
  // Never the day folder or the file itself.
  EXPECT_EQ(StillFolderOf("/a/D/.wmv"), "");
  EXPECT_EQ(StillFolderOf(".wmv"), "");
  EXPECT_EQ(StillFolderOf("/a/D/abcd"), "");
  EXPECT_EQ(StillFolderOf("/a/D/13H-05M-22S.wmv2"), "");
}

TEST_F(ArchiveTest, ParentFoldersAndIndexOfANewRecording) {
  CManualWallClock clock(MakeLocalTime(2007, 5, 1, 13, 5, 22));
  ScopedWallClock scoped(clock.Source());
  const std::string path = MakeRecordingPath("G", "I");
  EXPECT_TRUE(CreateParentFolders(path));
  EXPECT_TRUE(fs::is_directory(Root() + "G/I/2007-05-01, TUE MAY 01"));
  EXPECT_TRUE(CreateParentFolders(path));  // existing chain
  EXPECT_TRUE(CreateParentFolders("no-folder"));

  EXPECT_TRUE(RegisterArchiveFile("G", "I", path));
  EXPECT_EQ(settings::SubKeyNames(ArchiveIndexKey("G", "I")), std::vector<std::string>{"2007-05-01, TUE MAY 01"});
  EXPECT_EQ(settings::SubKeyNames(ArchiveIndexKey("G", "I", "2007-05-01, TUE MAY 01")),
            std::vector<std::string>{"13H-05M-22S.wmv"});
  // Always reports success, even for a path it cannot index.
  EXPECT_TRUE(RegisterArchiveFile("G", "I", "flat.wmv"));
  EXPECT_TRUE(RegisterArchiveFile("G", "I", "/x/../.."));
  EXPECT_EQ(settings::SubKeyNames(ArchiveIndexKey("G", "I")).size(), 1u);

  // A file where a folder should be: creation fails and says so.
  Touch(Root() + "blocked");
  EXPECT_FALSE(CreateParentFolders(Root() + "blocked/day/file.wmv"));
}

TEST_F(ArchiveTest, MovesRenameFoldersAndNeverReplaceATarget) {
  const std::string from = Root() + "G/Old";
  const std::string to = Root() + "G/New";

  MoveOutcome missing = MoveArchiveDir(from, to);
  EXPECT_EQ(missing.result, MoveOutcome::Result::SourceMissing);
  EXPECT_TRUE(missing.Ok());
  EXPECT_FALSE(fs::exists(to));

  Touch(from + "/2007-05-01, TUE MAY 01/13H-05M-22S.wmv", "video");
  fs::create_directories(to);  // even an empty folder is not replaced
  const MoveOutcome exists = MoveArchiveDir(from, to);
  EXPECT_EQ(exists.result, MoveOutcome::Result::TargetExists);
  EXPECT_FALSE(exists.Ok());
  EXPECT_FALSE(exists.systemText.empty());
  EXPECT_TRUE(fs::exists(from + "/2007-05-01, TUE MAY 01/13H-05M-22S.wmv"));

  fs::remove(to);
  const MoveOutcome moved = MoveArchiveDir(from, to);
  EXPECT_EQ(moved.result, MoveOutcome::Result::Moved);
  EXPECT_TRUE(moved.systemText.empty());
  EXPECT_FALSE(fs::exists(from));
  EXPECT_EQ(Slurp(to + "/2007-05-01, TUE MAY 01/13H-05M-22S.wmv"), "video");

  EXPECT_EQ(MoveArchiveDir("", to).result, MoveOutcome::Result::Failed);
  // No parent for the target: a plain failure with the system's text.
  const MoveOutcome noParent = MoveArchiveDir(to, Root() + "nowhere/at/all");
  EXPECT_EQ(noParent.result, MoveOutcome::Result::Failed);
  EXPECT_FALSE(noParent.systemText.empty());
  EXPECT_TRUE(fs::exists(to));
}

TEST_F(ArchiveTest, MoveIntoAReadOnlyFolderIsAccessDenied) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind the super-user";
  }
  Touch(Root() + "G/Old/file", "x");
  fs::create_directories(Root() + "locked");
  fs::permissions(Root() + "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const MoveOutcome denied = MoveArchiveDir(Root() + "G/Old", Root() + "locked/New");
  fs::permissions(Root() + "locked", fs::perms::owner_all);
  EXPECT_EQ(denied.result, MoveOutcome::Result::AccessDenied);
  EXPECT_TRUE(fs::exists(Root() + "G/Old/file"));
}

TEST_F(ArchiveTest, MoveAcrossFileSystemsCopiesThenRemoves) {
  struct stat a {};
  struct stat b {};
  if (::stat(Root().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
      ::access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no second writable file system";
  }
  char pattern[] = "/dev/shm/halvard-move-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string other = pattern;
  Touch(Root() + "G/Old/day/file.wmv", "video");
  fs::create_symlink("file.wmv", Root() + "G/Old/day/link");
  const MoveOutcome moved = MoveArchiveDir(Root() + "G/Old", other + "/New");
  EXPECT_EQ(moved.result, MoveOutcome::Result::Moved);
  EXPECT_FALSE(fs::exists(Root() + "G/Old"));
  EXPECT_EQ(Slurp(other + "/New/day/file.wmv"), "video");
  EXPECT_TRUE(fs::is_symlink(other + "/New/day/link"));
  fs::remove_all(other);
}

}  // namespace
