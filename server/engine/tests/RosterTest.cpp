// The roster: discovery, names, command line, renames, delete, starts that cannot run,
// and the card adjustments.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

#include "platform/capture/NetworkCamera.h"
#include "platform/capture/PVProp.h"
#include "platform/time/Time.h"
#include "server/engine/CardAdjustments.h"
#include "server/engine/tests/EngineTestFixture.h"

namespace halvard::engine::testing {
namespace {

namespace s = halvard::settings;
namespace fs = std::filesystem;

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines) {
    if (line.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// ---- command line and names ------------------------------------------------------------

TEST(CommandLine, OptionsAreCaseInsensitiveFirstOccurrenceCountsAndGroupsRunToTheMonitor) {
  auto options = ParseCommandLine({"-g", "A", "B C", "-m", "3", "-G", "X", "-M", "4"});
  EXPECT_EQ(options.monitor, 3);
  EXPECT_EQ(options.groupFilter, (std::vector<std::string>{"A", "B C"}));
  options = ParseCommandLine({"-G", "-M", "2"});
  EXPECT_TRUE(options.groupFilter.empty()) << "-G without names: every group starts";
  EXPECT_EQ(options.monitor, 2);
  EXPECT_EQ(ParseCommandLine({}).monitor, 1);
  EXPECT_EQ(ParseCommandLine({"-M", "two"}).monitor, 0) << "a non-number selects no display";
  EXPECT_EQ(ParseCommandLine({"-M"}).monitor, 0);
  EXPECT_EQ(ParseCommandLine({"-G", "A", "B"}).groupFilter.size(), 2u);
}

TEST(FolderNames, NamesThatWouldLeaveTheirFolderOrCannotBeReadBackAreRefused) {
  EXPECT_TRUE(IsValidFolderName("Front door"));
  EXPECT_TRUE(IsValidFolderName("Caméra 1"));
  for (const char* bad : {"", ".", "..", "a/b", "a\\b", "x:", "why?", "a*", "\"q\"", "<", ">", "|", "tab\there"}) {
    EXPECT_FALSE(IsValidFolderName(bad)) << bad;
  }
  EXPECT_TRUE(IsValidFolderName(std::string(99, 'x')));
  EXPECT_FALSE(IsValidFolderName(std::string(100, 'x'))) << "a stored name over 99 characters reads back as default";
  EXPECT_EQ(MakeStorableName("USB2.0 Camera: HD/UVC"), "USB2.0 Camera_ HD_UVC");
  EXPECT_EQ(MakeStorableName(".."), "_");
  EXPECT_EQ(MakeStorableName(std::string(120, 'y')).size(), 99u);
  EXPECT_EQ(MakeStorableName("BT878 Capture 0"), "BT878 Capture 0");
}

// ---- discovery -------------------------------------------------------------------------

using Discovery = EngineTest;

TEST_F(Discovery, NewDeviceIsWrittenToTheStoreAndKnownOnesKeepTheirNames) {
  ::setenv("HALVARD_SIMULATED_CARDS", "2", 1);
  CameraRoster& first = MakeRoster();
  ASSERT_EQ(first.Groups().size(), 2u);
  EXPECT_EQ(first.TotalInputCount(), 8u);
  const CameraGroup& card1 = *first.Groups()[1];
  EXPECT_EQ(card1.DisplayName(), "BT878 Capture 1");
  EXPECT_EQ(card1.CardIndex(), 1);
  EXPECT_EQ(card1.InputNames(), (std::vector<std::string>{"Input 0", "Input 1", "Input 2", "Input 3"}));
  EXPECT_EQ(s::ReadSz(s::kCameraGroupPath, card1.DevicePath(), ""), "BT878 Capture 1");
  EXPECT_EQ(s::kCardFriendlyName.Read("BT878 Capture 1"), "BT878 Capture 1");
  EXPECT_EQ(s::ReadCardInputAmount("BT878 Capture 1", 0), 4u);
  EXPECT_EQ(s::SubKeyNames(s::GroupKeyPath("BT878 Capture 1")).size(), 4u);

  // The operator's names survive the next discovery; the device keeps its identity.
  s::WriteSz(s::kCameraGroupPath, card1.DevicePath(), "Garage");
  ASSERT_TRUE(s::MoveKeyTree(s::GroupKeyPath("BT878 Capture 1"), s::GroupKeyPath("Garage")));
  s::WriteInputName("Garage", 2, "Side door");
  s::WriteCardInputAmount("Garage", 2);
  CameraRoster& second = MakeRoster();
  ASSERT_NE(second.FindGroup("Garage"), nullptr);
  EXPECT_EQ(second.FindGroup("Garage")->InputCount(), 2u);
  EXPECT_EQ(second.FindGroup("garage"), nullptr) << "groups are found case-sensitively";
  EXPECT_EQ(second.TotalInputCount(), 6u);
}

TEST_F(Discovery, StoredGroupsWithoutTheirDeviceJoinTheRosterWithTheirCardIndex) {
  s::WriteSz(s::kCameraGroupPath, "v4l2:bttv:PCI:0000:05:00.0", "Old card");
  s::kCardFriendlyName.Write("Old card", "BT878 Capture B");
  s::WriteSz(s::kCameraGroupPath, "v4l2:uvcvideo:usb-1", "Webcam");
  s::kCardFriendlyName.Write("Webcam", "USB Camera");
  s::WriteSz(s::kCameraGroupPath, "v4l2:other", "Webcam");  // a second path to the same name
  CameraRoster& roster = MakeRoster();
  ASSERT_EQ(roster.Groups().size(), 3u);
  const CameraGroup* old = roster.FindGroup("Old card");
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->CardIndex(), 11);
  EXPECT_EQ(old->InputCount(), 4u);
  const CameraGroup* webcam = roster.FindGroup("Webcam");
  ASSERT_NE(webcam, nullptr);
  EXPECT_EQ(webcam->CardIndex(), 0);
  EXPECT_EQ(webcam->InputCount(), 1u);
  EXPECT_EQ(roster.TotalInputCount(), 9u);

  // Starting the absent card fails at the device look-up and leaves it stopped.
  EXPECT_FALSE(roster.StartGroup(*roster.FindGroup("Webcam")));
  EXPECT_TRUE(roster.FindGroup("Webcam")->IsStopped());
  EXPECT_TRUE(Contains(host->Messages(), "<228>"));
  EXPECT_TRUE(Contains(host->Lines(), "<180>"));
  EXPECT_FALSE(host->HasTimer(reinterpret_cast<TimerId>(roster.FindGroup("Webcam"))));
}

TEST_F(Discovery, DeleteRemovesTheGroupFromStoreAndRosterAndItIsFoundAgainAsNew) {
  const std::string path = MakeRoster().Groups()[0]->DevicePath();
  s::WriteSz(s::kCameraGroupPath, path, "Renamed");
  ASSERT_TRUE(s::MoveKeyTree(s::GroupKeyPath("BT878 Capture 0"), s::GroupKeyPath("Renamed")));
  CameraRoster& renamed = MakeRoster();
  ASSERT_NE(renamed.FindGroup("Renamed"), nullptr);
  renamed.DeleteGroup("Renamed");
  EXPECT_TRUE(renamed.Groups().empty());
  EXPECT_FALSE(s::ValueExists(s::kCameraGroupPath, path));
  EXPECT_TRUE(s::SubKeyNames(s::GroupKeyPath("Renamed")).empty());
  EXPECT_EQ(MakeRoster().Groups()[0]->DisplayName(), "BT878 Capture 0");
}

// ---- renames ---------------------------------------------------------------------------

using Renames = EngineTest;

TEST_F(Renames, InputRenameMovesArchiveFolderAndCameraKeyAndRefusesBadNames) {
  CameraRoster& roster = MakeRoster();
  const std::string group = "BT878 Capture 0";
  const fs::path folder = ArchiveRoot() / group / "Input 1" / "2007-05-01, TUE MAY 01";
  fs::create_directories(folder);
  std::ofstream(folder / "13H-05M-22S.wmv") << "x";
  s::CreateKey(s::CameraKeyPath(group, "Input 1") + "\\2007-05-01, TUE MAY 01\\13H-05M-22S.wmv");
  s::kVideoHistory.Write(group, "Input 1", 9);

  EXPECT_TRUE(roster.RenameInput(group, "Input 1", "Door"));
  EXPECT_TRUE(fs::exists(ArchiveRoot() / group / "Door" / "2007-05-01, TUE MAY 01" / "13H-05M-22S.wmv"));
  EXPECT_FALSE(fs::exists(ArchiveRoot() / group / "Input 1"));
  EXPECT_EQ(s::ReadInputName(group, 1), "Door");
  EXPECT_EQ(s::kVideoHistory.Read(group, "Door"), 9u);
  EXPECT_EQ(s::SubKeyNames(s::CameraKeyPath(group, "Door")).size(), 1u);
  EXPECT_EQ(roster.FindGroup(group)->InputName(1), "Door");

  // A camera whose archive does not exist yet is renamed silently.
  EXPECT_TRUE(roster.RenameInput(group, "Input 3", "Yard"));
  EXPECT_TRUE(host->Messages().empty());

  for (const char* bad : {"door", "INPUT 0", "why?", "", "..", "a/b"}) {
    EXPECT_FALSE(roster.RenameInput(group, "Input 2", bad)) << bad;
  }
  EXPECT_EQ(host->Messages().size(), 6u);
  EXPECT_EQ(host->Messages().back(), "<122>");
  EXPECT_EQ(s::ReadInputName(group, 2), "Input 2");

  // A target folder that exists already: 173 <name> 174, nothing renamed.
  fs::create_directories(ArchiveRoot() / group / "Input 2");
  fs::create_directories(ArchiveRoot() / group / "Taken");
  EXPECT_FALSE(roster.RenameInput(group, "Input 2", "Taken"));
  EXPECT_TRUE(Contains(host->Messages(), "<173> Taken <174>"));
  EXPECT_EQ(s::ReadInputName(group, 2), "Input 2");
  EXPECT_TRUE(fs::exists(ArchiveRoot() / group / "Input 2"));
}

TEST_F(Renames, GroupRenameMovesEveryRootAndKeyAndMovesBackOnFailure) {
  CameraRoster& roster = MakeRoster();
  const std::string group = "BT878 Capture 0";
  const std::string otherRoot = DataRoot() + "Second/";
  s::WriteVideoFileRoot(group, "Input 3", otherRoot);
  fs::create_directories(ArchiveRoot() / group / "Input 0");
  fs::create_directories(fs::path(otherRoot) / group / "Input 3");

  EXPECT_TRUE(roster.RenameGroup(group, "Front"));
  EXPECT_TRUE(fs::exists(ArchiveRoot() / "Front" / "Input 0"));
  EXPECT_TRUE(fs::exists(fs::path(otherRoot) / "Front" / "Input 3"));
  EXPECT_EQ(s::ReadSz(s::kCameraGroupPath, roster.Groups()[0]->DevicePath(), ""), "Front");
  EXPECT_EQ(s::ReadVideoFileRoot("Front", "Input 3"), otherRoot);
  EXPECT_EQ(roster.Groups()[0]->DisplayName(), "Front");

  // The second root's target exists: the first root's folder is moved back.
  fs::create_directories(fs::path(otherRoot) / "Back");
  EXPECT_FALSE(roster.RenameGroup("Front", "Back"));
  EXPECT_TRUE(fs::exists(ArchiveRoot() / "Front" / "Input 0"));
  EXPECT_FALSE(fs::exists(ArchiveRoot() / "Back"));
  EXPECT_EQ(roster.Groups()[0]->DisplayName(), "Front");
  EXPECT_EQ(s::ReadSz(s::kCameraGroupPath, roster.Groups()[0]->DevicePath(), ""), "Front");

  // Names that would leave the archive root, and an existing group key, are refused.
  for (const char* bad : {"../x", "..", "a/b", ""}) {
    EXPECT_FALSE(roster.RenameGroup("Front", bad)) << bad;
  }
  s::CreateKey(s::GroupKeyPath("Existing"));
  EXPECT_FALSE(roster.RenameGroup("Front", "existing"));
  EXPECT_EQ(roster.Groups()[0]->DisplayName(), "Front");
  EXPECT_TRUE(fs::exists(ArchiveRoot() / "Front" / "Input 0"));
  EXPECT_TRUE(s::SubKeyNames(s::GroupKeyPath("Existing")).empty());
}

// ---- starts that cannot run and the card ------------------------------------------------

using GroupStart = EngineTest;

TEST_F(GroupStart, NoEnabledInputReportsTheGroupAndStaysStopped) {
  CameraRoster& roster = MakeRoster();
  CameraGroup& group = *roster.Groups()[0];
  for (const auto& input : group.InputNames()) {
    s::kInputEnabled.Write(group.DisplayName(), input, 0);
  }
  EXPECT_FALSE(roster.StartGroup(group));
  EXPECT_TRUE(group.IsStopped());
  EXPECT_EQ(host->Lines(), (std::vector<std::string>{"<178> BT878 Capture 0 <179>"}));
  EXPECT_TRUE(host->windows.empty());
}

TEST_F(GroupStart, CardLibraryServesOneResolutionPerProcess) {
  ::setenv("HALVARD_SIMULATED_CARDS", "2", 1);
  CameraRoster& roster = MakeRoster();
  s::kDataResolution.Write("BT878 Capture 1", 3);  // 640 x 480 needs no library
  bool initialised = false;
  EXPECT_TRUE(PrepareCardLibrary(*roster.Groups()[1], &initialised));
  EXPECT_FALSE(initialised) << "a first group at 640 x 480 leaves the library alone";
  EXPECT_TRUE(PrepareCardLibrary(*roster.Groups()[0], &initialised));
  EXPECT_TRUE(initialised);
  EXPECT_FALSE(PrepareCardLibrary(*roster.Groups()[1], &initialised)) << "message 176";
}

TEST_F(GroupStart, ANetworkCameraBesideACardLeavesTheCardLibraryAlone) {
  s::WriteSz(std::string(halvard::capture::kNetworkCamerasPath), "Driveway", "rtsp://127.0.0.1:9/live");
  CameraRoster& roster = MakeRoster();
  ASSERT_EQ(roster.Groups().size(), 2u);
  CameraGroup& card = *roster.Groups()[0];
  CameraGroup& network = *roster.Groups()[1];
  ASSERT_EQ(network.DisplayName(), "Driveway");
  EXPECT_EQ(card.CardIndex(), 0);
  EXPECT_EQ(network.CardIndex(), -1);
  // The card's group took the library at 320 x 240; the camera at 640 x 480 still starts.
  s::kDataResolution.Write("Driveway", 3);
  bool initialised = false;
  EXPECT_TRUE(PrepareCardLibrary(card, &initialised));
  ASSERT_TRUE(initialised);
  halvard::capture::ClearPvCallLog();
  EXPECT_TRUE(PrepareCardLibrary(network, &initialised));
  // Nothing it does reaches card 0: not its picture settings, sliders or closed window.
  ApplyPictureSettings(network);
  PreviewPictureControl(network, 0, PictureControl::Brightness, 9000);
  EXPECT_TRUE(CameraWindowClosedMustStop(network, 0));
  EXPECT_TRUE(halvard::capture::PvCallLog().empty()) << halvard::capture::PvCallLog().front().Text();
  // Known only from the store once the camera's value is gone: still no card.
  s::DeleteValue(std::string(halvard::capture::kNetworkCamerasPath), "Driveway");
  CameraRoster& again = MakeRoster();
  ASSERT_NE(again.FindGroup("Driveway"), nullptr);
  EXPECT_EQ(again.FindGroup("Driveway")->CardIndex(), -1);
}

TEST_F(GroupStart, PictureSettingsFollowDayAndNightAtStart) {
  CameraRoster& roster = MakeRoster();
  const CameraGroup& group = *roster.Groups()[0];
  s::kDataBrightness.Write(group.DisplayName(), "Input 1", 7000);
  s::kDataBrightnessNight.Write(group.DisplayName(), "Input 1", 2000);
  s::kInputEnabled.Write(group.DisplayName(), "Input 3", 0);
  (void)PV_HWInit();
  const auto callsAt = [&](int hour, int minute, int second) {
    halvard::time::CManualWallClock clock(halvard::time::MakeLocalTime(2007, 5, 1, hour, minute, second));
    halvard::time::ScopedWallClock scoped(clock.Source());
    halvard::capture::ClearPvCallLog();
    ApplyPictureSettings(group);
    std::vector<std::string> texts;
    for (const auto& call : halvard::capture::PvCallLog()) {
      texts.push_back(call.Text());
    }
    return texts;
  };
  auto calls = callsAt(19, 59, 59);
  ASSERT_EQ(calls.size(), 24u);
  EXPECT_EQ(calls[7], "PV_SetBrightness(0, 1, 7000) = 1");
  EXPECT_EQ(calls[18], "PV_EnableVideoSource(0, 3, 0) = 1");
  EXPECT_EQ(calls[23], "PV_SetAGC(0, 1) = 1");
  calls = callsAt(20, 0, 0);
  EXPECT_EQ(calls[7], "PV_SetBrightness(0, 1, 2000) = 1");
  EXPECT_EQ(callsAt(7, 0, 0)[7], "PV_SetBrightness(0, 1, 7000) = 1");
}

TEST_F(GroupStart, ResolutionRuleOfAMultiplexingCard) {
  MakeRoster();
  const std::string group = "BT878 Capture 0";
  EXPECT_TRUE(ApplyResolutionInputCount(group, 3));
  EXPECT_EQ(s::ReadCardInputAmount(group, 0), 1u);
  EXPECT_FALSE(ApplyResolutionInputCount(group, 3));
  EXPECT_TRUE(ApplyResolutionInputCount(group, 2));
  EXPECT_EQ(s::ReadCardInputAmount(group, 0), 4u);
  s::kCardFriendlyName.Write("Webcam", "USB Camera");
  EXPECT_FALSE(ApplyResolutionInputCount("Webcam", 3));
}

}  // namespace
}  // namespace halvard::engine::testing
