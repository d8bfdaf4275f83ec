#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "server/archive/Archive.h"
#include "server/archive/ArchiveCommands.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::archive;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
using Status = ArchiveCommandResult::Status;

namespace {

constexpr const char* kDay = "2007-05-01, TUE MAY 01";
constexpr const char* kFile = "13H-05M-22S.wmv";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class ArchiveCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::WriteVideoFileRoot("G", "I", m_dir.Path().string() + "/archive/");
    m_recording = ItemPath("G", "I", kDay, kFile);
    Write(m_recording, "video");
    ASSERT_TRUE(RegisterArchiveFile("G", "I", m_recording));
    for (const char* still : {"00-00-01-000.bmp", "00-12-34-250.bmp"}) {
      Write(ItemPath("G", "I", kDay, kFile, still), std::string("bmp ") + still);
      settings::CreateKey(ArchiveIndexKey("G", "I", kDay, kFile, still));
    }
    Write(ItemPath("G", "I", kDay, "14H-00M-00S.wmv"), "other");
  }
  [[nodiscard]] std::string Out() const { return m_dir.Path().string() + "/out"; }
  [[nodiscard]] static ArchiveItem Recording() { return {"G", "I", kDay, kFile, {}}; }
  [[nodiscard]] static ArchiveItem Still(const char* name) { return {"G", "I", kDay, kFile, name}; }
  [[nodiscard]] static bool KeyExists(const std::string& parent, const std::string& name) {
    const auto keys = settings::SubKeyNames(parent);
    return std::find(keys.begin(), keys.end(), name) != keys.end();
  }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  std::string m_recording;
};

TEST_F(ArchiveCommandsTest, CopiesReplaceFilesOfTheSameName) {
  fs::create_directories(Out());
  Write(Out() + "/" + kFile, "an older copy, longer than the recording");
  ArchiveCommandResult r = CopyRecordingFile(Recording(), Out());  // no trailing '/'
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_EQ(Slurp(Out() + "/" + kFile), "video");

  r = CopyStillPictures(Recording(), Out() + "/");
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_EQ(Slurp(Out() + "/13H-05M-22S/00-12-34-250.bmp"), "bmp 00-12-34-250.bmp");
  EXPECT_TRUE(fs::exists(Out() + "/13H-05M-22S/00-00-01-000.bmp"));
  // A second copy overwrites.
  EXPECT_TRUE(CopyStillPictures(Recording(), Out()).Ok());

  fs::create_directories(Out() + "/one");
  r = CopyStillPicture(Still("00-00-01-000.bmp"), Out() + "/one");
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_EQ(Slurp(Out() + "/one/00-00-01-000.bmp"), "bmp 00-00-01-000.bmp");
}

TEST_F(ArchiveCommandsTest, CopyFailuresLoseNothing) {
  // Onto itself: refused, the recording keeps its content.
  const std::string dayFolder = ItemPath("G", "I", kDay);
  ArchiveCommandResult r = CopyRecordingFile(Recording(), dayFolder);
  EXPECT_EQ(r.status, Status::Failed);
  EXPECT_FALSE(r.systemText.empty());
  EXPECT_EQ(Slurp(m_recording), "video");
  // Stills into their own folder would copy without end.
  EXPECT_EQ(CopyStillPictures(Recording(), StillFolderOf(m_recording)).status, Status::Failed);
  // A missing target folder, a missing source.
  r = CopyRecordingFile(Recording(), Out() + "/missing");
  EXPECT_EQ(r.status, Status::Failed);
  EXPECT_FALSE(r.systemText.empty());
  EXPECT_EQ(CopyRecordingFile({"G", "I", kDay, "09H-00M-00S.wmv", {}}, Out()).status, Status::Failed);
  EXPECT_EQ(CopyRecordingFile(Recording(), "").status, Status::InvalidItem);
  EXPECT_EQ(CopyStillPicture(Recording(), Out()).status, Status::InvalidItem);
}

TEST_F(ArchiveCommandsTest, DeleteRecordingIsRefusedWhilePlayingThenRemovesStillsFileAndKey) {
  const std::string dayKey = ArchiveIndexKey("G", "I", kDay);
  ArchiveCommandResult r = DeleteRecordingAndStills(Recording(), Playback::Open);
  EXPECT_EQ(r.status, Status::OpenForPlayback);
  EXPECT_TRUE(fs::exists(m_recording));
  EXPECT_TRUE(KeyExists(dayKey, kFile));

  r = DeleteRecordingAndStills(Recording(), Playback::Closed);
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_FALSE(fs::exists(m_recording));
  EXPECT_FALSE(fs::exists(StillFolderOf(m_recording)));
  EXPECT_FALSE(KeyExists(dayKey, kFile));
  EXPECT_TRUE(fs::exists(ItemPath("G", "I", kDay, "14H-00M-00S.wmv")));  // the day stays
  // Already gone: nothing left to do is success.
  EXPECT_TRUE(DeleteRecordingAndStills(Recording(), Playback::Closed).Ok());
}

TEST_F(ArchiveCommandsTest, DeleteStillsKeepsTheRecording) {
  const std::string fileKey = ArchiveIndexKey("G", "I", kDay, kFile);
  ASSERT_EQ(settings::SubKeyNames(fileKey).size(), 2u);
  ArchiveCommandResult r = DeleteStillPicture(Still("00-00-01-000.bmp"));
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_EQ(settings::SubKeyNames(fileKey), std::vector<std::string>{"00-12-34-250.bmp"});
  EXPECT_FALSE(fs::exists(ItemPath("G", "I", kDay, kFile, "00-00-01-000.bmp")));

  r = DeleteStillPictures(Recording());
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_FALSE(fs::exists(StillFolderOf(m_recording)));
  EXPECT_TRUE(settings::SubKeyNames(fileKey).empty());
  EXPECT_TRUE(KeyExists(ArchiveIndexKey("G", "I", kDay), kFile));
  EXPECT_EQ(Slurp(m_recording), "video");
}

TEST_F(ArchiveCommandsTest, DeleteDayRemovesFolderAndKeyTree) {
  const ArchiveCommandResult r = DeleteDayFolder({"G", "I", kDay, {}, {}});
  EXPECT_TRUE(r.Ok()) << r.systemText;
  EXPECT_FALSE(fs::exists(ItemPath("G", "I", kDay)));
  EXPECT_TRUE(settings::SubKeyNames(ArchiveIndexKey("G", "I")).empty());
  EXPECT_TRUE(fs::is_directory(MakeCameraArchiveDir("G", "I")));
}

TEST_F(ArchiveCommandsTest, ItemsWithNamesLeavingTheArchiveAreRefused) {
  const std::string cameraDir = MakeCameraArchiveDir("G", "I");
  for (const ArchiveItem& item : std::vector<ArchiveItem>{{"G", "I", "..", {}, {}},
                                                          {"G", "..", kDay, {}, {}},
                                                          {"G", "I", "", {}, {}},
                                                          {"G", "I", kDay, "../..", {}},
                                                          {"G", "I", kDay, kFile, ".."},
                                                          {"G/..", "I", kDay, kFile, {}}}) {
    SCOPED_TRACE(item.group + "|" + item.input + "|" + item.day + "|" + item.file + "|" + item.still);
    if (item.file.empty() || item.group != "G") {  // the others name a valid day
      EXPECT_EQ(DeleteDayFolder(item).status, Status::InvalidItem);
    }
    EXPECT_EQ(DeleteStillPicture(item).status, Status::InvalidItem);
    if (item.still.empty()) {
      EXPECT_EQ(DeleteRecordingAndStills(item, Playback::Closed).status, Status::InvalidItem);
      EXPECT_EQ(DeleteStillPictures(item).status, Status::InvalidItem);
    }
  }
  EXPECT_TRUE(fs::exists(m_recording));
  EXPECT_TRUE(fs::exists(ItemPath("G", "I", kDay, kFile, "00-12-34-250.bmp")));
  EXPECT_TRUE(fs::is_directory(cameraDir));
}

}  // namespace
