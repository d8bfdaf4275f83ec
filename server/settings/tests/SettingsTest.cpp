#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::settings;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  halvard::testing::ScopedRegistry m_store;
};

// Writes a raw value the accessors would never write themselves.
void RawSet(std::string_view keyPath, std::string_view name, DWORD type, std::vector<BYTE> data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, keyPath, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) {
      m_old = old;
      m_had = true;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_had) {
      setenv(m_name, m_old.c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

}  // namespace

TEST_F(SettingsTest, MissingValuesReadTheirDefaultsAndWritesCreateKeys) {
  EXPECT_EQ(kBootAutoStart.Read(), 1u);
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 400u);
  EXPECT_EQ(kAudioBitrate.Read("G", "Input 0"), 24u);
  EXPECT_EQ(kPtzScanActiveIndex.Read("G", "Input 0"), 0xFFFFFFFFu);
  EXPECT_EQ(kLastStartup.Read(), "");
  EXPECT_EQ(ReadRebootTime(3), 7u);
  EXPECT_EQ(ReadInputName("G", 3), "Input 3");

  kVideoBitrate.Write("G", "Input 0", 250);
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 250u);
  EXPECT_EQ(kVideoBitrate.Read("g", "INPUT 0"), 250u);  // keys are case-insensitive
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 1"), 400u);
  WriteRebootTime(6, 23);
  EXPECT_EQ(ReadRebootTime(6), 23u);
  EXPECT_TRUE(ValueExists(kSystemPath, "Reboot Saturday Time"));
  EXPECT_EQ(ReadRebootTime(7), 7u);  // out of range: default, nothing written
}

TEST_F(SettingsTest, DwordsOfSizeZeroOrAnotherShapeReadAsDefault) {
  const std::string cam = CameraKeyPath("G", "Input 0");
  RawSet(cam, "Video Bitrate", REG_DWORD, {});
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 400u);
  RawSet(cam, "Video Bitrate", REG_DWORD, {1, 2});
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 400u);
  RawSet(cam, "Video Bitrate", REG_SZ, halvard::text::ToWideBytes("a long text that is no number"));
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 400u);
  RawSet(cam, "Video Bitrate", REG_DWORD, {0x2C, 0x01, 0, 0});
  EXPECT_EQ(kVideoBitrate.Read("G", "Input 0"), 300u);
}

TEST_F(SettingsTest, StringsLongerThanNinetyNineCharactersReadAsDefault) {
  const std::string ninetyNine(99, 'a');
  WriteVideoFileRoot("G", "Input 0", ninetyNine);
  EXPECT_EQ(ReadVideoFileRoot("G", "Input 0"), ninetyNine);
  WriteVideoFileRoot("G", "Input 0", std::string(120, 'b'));
  EXPECT_EQ(ReadVideoFileRoot("G", "Input 0"), DataRoot() + "VideoArchive/");
  // Characters, not bytes: 99 two-byte characters still fit.
  std::string accented;
  for (int i = 0; i < 99; ++i) {
    accented += "\xC3\xA9";
  }
  kAudioSource.Write("G", "Input 0", accented);
  EXPECT_EQ(kAudioSource.Read("G", "Input 0"), accented);
  // An existing empty string is a value, not a missing one.
  WriteMotionSoundFile("G", "Input 0", "");
  EXPECT_EQ(ReadMotionSoundFile("G", "Input 0"), "");
  // A binary value under a string's name is not a string.
  RawSet(CameraKeyPath("G", "Input 0"), "Audio Source", REG_BINARY, {'x', 0});
  EXPECT_EQ(kAudioSource.Read("G", "Input 0"), "");
}

TEST_F(SettingsTest, PathDefaultsComeFromTheDataRootAndProgramFolder) {
  halvard::testing::TempDir dir;
  {
    ScopedEnv data("HALVARD_DATA", dir.Path().c_str());
    EXPECT_EQ(ReadVideoFileRoot("G", "I"), dir.Path().string() + "/VideoArchive/");
    EXPECT_EQ(ReadMotionEventDir("G", "I"), dir.Path().string() + "/EventArchive/");
  }
  {
    ScopedEnv data("HALVARD_DATA", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", "/srv/x");
    EXPECT_EQ(DataRoot(), "/srv/x/halvard/");
  }
  const std::string sound = ReadMotionSoundFile("G", "I");
  EXPECT_TRUE(sound.ends_with("/tests/Motion.wav")) << sound;
}

TEST_F(SettingsTest, BinaryValuesReadOnlyAtTheirExactSize) {
  std::vector<BYTE> mark = ReadMotionMark("G", "I");
  ASSERT_EQ(mark.size(), kMotionMarkBytes);
  EXPECT_TRUE(std::all_of(mark.begin(), mark.end(), [](BYTE b) { return b == 0xFF; }));
  mark[0] = 0x0F;
  WriteMotionMark("G", "I", mark);
  EXPECT_EQ(ReadMotionMark("G", "I")[0], 0x0F);
  WriteMotionMark("G", "I", std::vector<BYTE>(719, 0));  // wrong size: every cell again
  EXPECT_EQ(ReadMotionMark("G", "I")[0], 0xFF);

  std::vector<BYTE> buffer(32, 7);
  EXPECT_FALSE(ReadBin(CameraKeyPath("G", "I"), "Nothing", buffer));
  EXPECT_EQ(buffer, std::vector<BYTE>(32, 7));
}

TEST_F(SettingsTest, DataFormatFollowsTheOptionAndTheLanguage) {
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv messages("LC_MESSAGES", nullptr);
  {
    ScopedEnv lang("LANG", "en_US.UTF-8");
    WriteDataFormat("G", 5);
    EXPECT_EQ(ReadDataFormat("G"), 1u);  // stored 5 ignored while the option is 0
    kDataFormatOption.Write("G", 1);
    EXPECT_EQ(ReadDataFormat("G"), 5u);
    DeleteValue(GroupKeyPath("G"), "Data Format");
    EXPECT_EQ(ReadDataFormat("G"), 1u);
  }
  for (const char* tag : {"zh_CN.UTF-8", "zh_HK.UTF-8"}) {
    ScopedEnv lang("LANG", tag);
    EXPECT_EQ(LanguageDefaultDataFormat(), 3u) << tag;
  }
  ScopedEnv lang("LANG", "zh_TW.UTF-8");
  EXPECT_EQ(UserLanguageId(), 0x0404u);
  EXPECT_EQ(LanguageDefaultDataFormat(), 1u);
}

TEST_F(SettingsTest, CardIndexAndInputCountFromTheDeviceName) {
  EXPECT_EQ(CardIndexFromName("BT878 Capture 0"), 0);
  EXPECT_EQ(CardIndexFromName("BT878 Capture 7"), 7);
  EXPECT_EQ(CardIndexFromName("BT878 Capture B"), 11);
  EXPECT_EQ(CardIndexFromName("BT878 Capture !"), 33 - 48);  // other characters: other numbers
  EXPECT_EQ(CardIndexFromName("BT878 Capture "), 0);
  EXPECT_EQ(CardIndexFromName("Card BT878 Capture 3"), 0);
  EXPECT_EQ(CardIndexFromName("USB Camera"), 0);
  EXPECT_EQ(DeviceInputCount("USB Camera"), 1u);
  EXPECT_EQ(DeviceInputCount("BT878 Capture 1"), kDefaultCardChannels);
}

TEST_F(SettingsTest, InternetPortDefaultsToCardAndPosition) {
  kCardFriendlyName.Write("BT878 Capture 1", "BT878 Capture 1");
  EXPECT_EQ(ReadInternetPort("BT878 Capture 1", "Input 2"), 10006u);
  EXPECT_EQ(ReadInternetPort("BT878 Capture 1", "input 0"), 10004u);
  // Renamed inputs keep their position; the port follows the position, not the name.
  WriteInputName("BT878 Capture 1", 3, "Gate");
  EXPECT_EQ(ReadInternetPort("BT878 Capture 1", "Gate"), 10007u);
  EXPECT_EQ(ReadInternetPort("BT878 Capture 1", "Unknown"), 10004u);
  WriteInternetPort("BT878 Capture 1", "Gate", 8080);
  EXPECT_EQ(ReadInternetPort("BT878 Capture 1", "Gate"), 8080u);
  EXPECT_EQ(InputPosition("BT878 Capture 1", "GATE"), 3);
  EXPECT_EQ(InputPosition("BT878 Capture 1", "Input 3"), std::nullopt);
}

TEST_F(SettingsTest, PictureSizeAfterEnlargement) {
  kCardHdSimulationLevel.Write("G", 2);
  auto size = ReadEffectivePictureSize("G");
  EXPECT_EQ(size.width, 1280);
  EXPECT_EQ(size.height, 960);
  kCardHdSimulationLevel.Write("G", 1);
  kDataResolution.Write("G", 2);
  size = ReadEffectivePictureSize("G");
  EXPECT_EQ(size.width, 640);
  EXPECT_EQ(size.height, 576);
  kCardHdSimulationLevel.Write("G", 0);
  kDataResolution.Write("G", 1);
  size = ReadEffectivePictureSize("G");
  EXPECT_EQ(size.width, 640);
  EXPECT_EQ(size.height, 240);
  // A stored index outside the table reads the default row, never past the table.
  kDataResolution.Write("G", 77);
  size = ReadEffectivePictureSize("G");
  EXPECT_EQ(size.width, 320);
  EXPECT_EQ(Lookup(kFileLengthMinutes, 9, kVideoFileLength.def), 20u);
  EXPECT_EQ(Lookup(kSerialSpeeds, 4, 1), 19200u);
}

TEST_F(SettingsTest, MovingACameraKeyOntoAnExistingNameChangesNothing) {
  kVideoBitrate.Write("G", "Front", 100);
  kVideoBitrate.Write("G", "Back", 200);
  CreateKey(CameraKeyPath("G", "Front") + "\\2026-12-07");
  EXPECT_FALSE(MoveKeyTree(CameraKeyPath("G", "Front"), CameraKeyPath("G", "back")));
  EXPECT_EQ(kVideoBitrate.Read("G", "Front"), 100u);
  EXPECT_EQ(kVideoBitrate.Read("G", "Back"), 200u);
  EXPECT_TRUE(MoveKeyTree(CameraKeyPath("G", "Front"), CameraKeyPath("G", "Door")));
  EXPECT_EQ(kVideoBitrate.Read("G", "Door"), 100u);
  EXPECT_EQ(SubKeyNames(CameraKeyPath("G", "Door")), std::vector<std::string>{"2026-12-07"});
  EXPECT_EQ(SubKeyNames(GroupKeyPath("G")), (std::vector<std::string>{"Back", "Door"}));
  EXPECT_FALSE(MoveKeyTree(CameraKeyPath("G", "Front"), CameraKeyPath("G", "Other")));
}

TEST_F(SettingsTest, FindValueByDataIsCaseInsensitiveAndTakesTheFirst) {
  WriteSz(kCameraGroupPath, "\\\\?\\pci#dev_1", "BT878 Capture 0");
  WriteSz(kCameraGroupPath, "\\\\?\\pci#dev_2", "Garage");
  WriteSz(kCameraGroupPath, "\\\\?\\pci#dev_3", "garage");
  EXPECT_EQ(FindValueByData(kCameraGroupPath, "GARAGE"), "\\\\?\\pci#dev_2");
  EXPECT_EQ(FindValueByData(kCameraGroupPath, "Porch"), "");
  EXPECT_EQ(FindValueByData("Software\\Nowhere", "x"), "");
  EXPECT_EQ(ValueNames(kCameraGroupPath).size(), 3u);
}

TEST_F(SettingsTest, InternetAddressAndServers) {
  SetAutomaticAddressProvider([] { return std::string("203.0.113.9"); });
  EXPECT_EQ(ReadInternetIp("G", "I"), "203.0.113.9");
  WriteSystemInternetIp("198.51.100.2");
  EXPECT_EQ(ReadInternetIp("G", "I"), "203.0.113.9");  // manual address not chosen
  kInternetIpManu.Write("G", "I", 1);
  EXPECT_EQ(ReadInternetIp("G", "I"), "198.51.100.2");
  DeleteValue(kSystemPath, kInternetIpName);
  EXPECT_EQ(ReadInternetIp("G", "I"), "203.0.113.9");
  SetAutomaticAddressProvider(nullptr);

  EXPECT_EQ(ReadInternetServer(0), "");
  EXPECT_EQ(ReadInternetServer(1), "");
  for (int slot : {2, 3}) {
    const std::string host = ReadInternetServer(slot);
    EXPECT_TRUE(host.ends_with(".invalid")) << host;  // reserved: never resolves
  }
  WriteInternetServer(0, "127.0.0.1:8080");
  EXPECT_EQ(ReadInternetServer(0), "127.0.0.1:8080");
  EXPECT_EQ(ReadInternetServer(4), "");
}

TEST(SettingsDamagedStore, ReadsGiveDefaultsAndWritesAreDropped) {
  halvard::testing::TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string(4096, '\x7f');
  }
  setenv("HALVARD_REGISTRY", path.c_str(), 1);
  halvard::registry::ResetStore();
  ::testing::internal::CaptureStderr();
  kVideoBitrate.Write("G", "I", 1);
  EXPECT_EQ(kVideoBitrate.Read("G", "I"), 400u);
  EXPECT_EQ(kCardFriendlyName.Read("G"), "");
  EXPECT_EQ(ReadInternetPort("G", "I"), 10000u);
  EXPECT_FALSE(MoveKeyTree("a", "b"));
  EXPECT_TRUE(ListSettings(Level::Camera, "G", "I").size() > 40);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("settings store"), std::string::npos);
  halvard::registry::ResetStore();
}

TEST_F(SettingsTest, ListingMarksDefaultsAndShowsEffectiveValues) {
  kCardFriendlyName.Write("BT878 Capture 1", "BT878 Capture 1");
  kVideoFrameRate.Write("BT878 Capture 1", "Input 2", 15);
  const auto rows = ListSettings(Level::Camera, "BT878 Capture 1", "Input 2");
  auto find = [&](std::string_view name) {
    return std::find_if(rows.begin(), rows.end(), [&](const SettingRow& r) { return r.name == name; });
  };
  ASSERT_NE(find("Internet Port"), rows.end());
  EXPECT_EQ(find("Internet Port")->effective, "10006");
  EXPECT_TRUE(find("Internet Port")->isDefault);
  EXPECT_EQ(find("Video Frame Rate")->effective, "15");
  EXPECT_FALSE(find("Video Frame Rate")->isDefault);
  EXPECT_EQ(find("PTZ Scan Active Index")->effective, "-1");
  EXPECT_EQ(find("Motion Mark")->effective, std::string(1440, 'f'));
  EXPECT_EQ(find("Preset 001"), rows.end());  // families listed only where stored
  // Every row of the camera table appears once.
  for (std::string_view name : {"Input Enabled", "Video File Root", "Audio Bitrate", "Motion Sound File",
                                "PTZ Auto White Balance", "Internet Broadcasting Note"}) {
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [&](const SettingRow& r) { return r.name == name; }), 1)
        << name;
  }
  const auto group = ListSettings(Level::Group, "BT878 Capture 1");
  EXPECT_EQ(std::count_if(group.begin(), group.end(), [](const SettingRow& r) { return r.name.starts_with("Input "); }),
            4);
  const auto system = ListSettings(Level::System);
  EXPECT_EQ(std::count_if(system.begin(), system.end(), [](const SettingRow& r) { return r.name.starts_with("Reboot "); }),
            14);
  const auto reserve = std::find_if(system.begin(), system.end(),
                                    [](const SettingRow& r) { return r.name == "Video Free Space Reserve"; });
  ASSERT_NE(reserve, system.end());
  EXPECT_EQ(reserve->effective, "2048");
  EXPECT_TRUE(reserve->isDefault);
}
