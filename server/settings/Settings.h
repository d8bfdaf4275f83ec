#pragma once
/// The settings schema: every value of the system, group and camera levels with its
/// type and default, its reader and writer, the lookup tables that turn stored
/// indexes into working quantities, and the defaults that are computed.
///
/// All values live under HKEY_LOCAL_MACHINE\Software\Tesmark\Halvard Surveillance Server:
///   System                        system values
///   Camera Group                  roster index: value name = device path, data = group name
///   Camera Group\<group>          group values, including the input names "Input %d"
///   Camera Group\<group>\<input>  camera values
///
/// Groups and cameras are addressed by (group display name, input display name).
/// Reads never fail: a missing key or value, a value of another type or size, a string
/// longer than 99 characters, or an unusable store gives the default. Writes create
/// keys as needed; their failures are dropped, as the callers do not check them.
/// Nothing is cached: every read goes to the store, so another process's change is seen
/// at the next read.
///
/// Threads: any thread (the store serialises calls).

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::settings {

// ---- key paths -------------------------------------------------------------------

inline constexpr std::string_view kRootPath = "Software\\Tesmark\\Halvard Surveillance Server";
inline constexpr std::string_view kSystemPath = "Software\\Tesmark\\Halvard Surveillance Server\\System";
inline constexpr std::string_view kCameraGroupPath = "Software\\Tesmark\\Halvard Surveillance Server\\Camera Group";

/// "Camera Group\<group>".
[[nodiscard]] std::string GroupKeyPath(std::string_view group);
/// "Camera Group\<group>\<input>".
[[nodiscard]] std::string CameraKeyPath(std::string_view group, std::string_view input);

// ---- storage primitives (HKEY_LOCAL_MACHINE) ---------------------------------------

/// Size of the read buffer of every value read: 200 bytes, so a string holds at most 99
/// characters.
inline constexpr DWORD kReadBufferBytes = 200;

/// The DWORD, or `def` when the key or value is missing, the stored size is 0, or the
/// value is not a 4-byte REG_DWORD.
[[nodiscard]] DWORD ReadDword(std::string_view keyPath, std::string_view name, DWORD def);
void WriteDword(std::string_view keyPath, std::string_view name, DWORD value);

/// The string, or `def` when the key or value is missing, is not REG_SZ, or does not
/// fit the 200-byte buffer (more than 99 characters). An empty stored string reads "".
[[nodiscard]] std::string ReadSz(std::string_view keyPath, std::string_view name, std::string_view def);
void WriteSz(std::string_view keyPath, std::string_view name, std::string_view value);

/// Fills `buffer` only when the value exists and its size is exactly buffer.size().
[[nodiscard]] bool ReadBin(std::string_view keyPath, std::string_view name, std::span<BYTE> buffer);
void WriteBin(std::string_view keyPath, std::string_view name, std::span<const BYTE> data);

void CreateKey(std::string_view keyPath);
/// Deletes the key with all its sub-keys and values.
void DeleteKeyTree(std::string_view keyPath);
void DeleteValue(std::string_view keyPath, std::string_view name);

/// Moves a key tree (values in order, then sub-keys) in one transaction. False, with
/// nothing changed, when the source does not exist, the target exists, or a value does
/// not fit the copy buffers (256-character names, 7,680-byte data).
[[nodiscard]] bool MoveKeyTree(std::string_view sourcePath, std::string_view targetPath);

/// Name of the first value (creation order) whose string data equals `text`
/// case-insensitively; empty when none.
[[nodiscard]] std::string FindValueByData(std::string_view keyPath, std::string_view text);

/// Names of the sub-keys of a key (enumeration order), and of its values (creation order).
[[nodiscard]] std::vector<std::string> SubKeyNames(std::string_view keyPath);
[[nodiscard]] std::vector<std::string> ValueNames(std::string_view keyPath);

/// Whether a value exists (of any type or size).
[[nodiscard]] bool ValueExists(std::string_view keyPath, std::string_view name);

// ---- value descriptors -----------------------------------------------------------

/// A DWORD value of the system key.
struct SystemDword {
  std::string_view name;
  DWORD def;
  [[nodiscard]] DWORD Read() const;
  void Write(DWORD value) const;
};

/// A string value of the system key.
struct SystemSz {
  std::string_view name;
  std::string_view def;
  [[nodiscard]] std::string Read() const;
  void Write(std::string_view value) const;
};

/// A DWORD value of a group key.
struct GroupDword {
  std::string_view name;
  DWORD def;
  [[nodiscard]] DWORD Read(std::string_view group) const;
  void Write(std::string_view group, DWORD value) const;
};

/// A string value of a group key.
struct GroupSz {
  std::string_view name;
  std::string_view def;
  [[nodiscard]] std::string Read(std::string_view group) const;
  void Write(std::string_view group, std::string_view value) const;
};

/// A DWORD value of a camera key.
struct CameraDword {
  std::string_view name;
  DWORD def;
  [[nodiscard]] DWORD Read(std::string_view group, std::string_view input) const;
  void Write(std::string_view group, std::string_view input, DWORD value) const;
};

/// A string value of a camera key.
struct CameraSz {
  std::string_view name;
  std::string_view def;
  [[nodiscard]] std::string Read(std::string_view group, std::string_view input) const;
  void Write(std::string_view group, std::string_view input, std::string_view value) const;
};

// ---- table S: system values ------------------------------------------------------

inline constexpr SystemDword kBootAutoStart{"Boot Auto Start", 1};
inline constexpr SystemDword kPrivacyLockDesktop{"Privacy Lock Desktop", 1};
inline constexpr SystemDword kLanguageOption{"Language Option", 0};
inline constexpr SystemSz kLastStartup{"Last Startup", ""};
inline constexpr SystemSz kLastShutdown{"Last Shutdown", ""};
inline constexpr SystemDword kEmTimeResolution{"EM Time Resolution", 1};
inline constexpr SystemDword kReboot{"Reboot", 1};
inline constexpr SystemDword kLockdownAutoLogon{"Lockdown Auto Logon", 0};
inline constexpr SystemDword kLockdownDisableAutorun{"Lockdown Disable Autorun", 0};
inline constexpr SystemDword kLockdownAutoHide{"Lockdown Auto-hide", 0};
inline constexpr SystemDword kLockdownVisualClassic{"Lockdown Visual Classic", 0};
inline constexpr SystemDword kLockdownEnableRemoteDesktop{"Lockdown Enable Remote Desktop", 0};
inline constexpr SystemSz kSysUserId{"Sys UserID", ""};
inline constexpr SystemSz kSysPassword{"Sys Password", ""};
inline constexpr SystemSz kSysDisplayName{"Sys Display Name", ""};
/// MiB the archive keeps free on each file system that holds recordings: below it the
/// oldest day folders that hold no file being written are removed.
inline constexpr SystemDword kVideoFreeSpaceReserve{"Video Free Space Reserve", 2048};

/// Weekday names as the reboot values spell them, Sunday first (index = tm_wday).
inline constexpr std::string_view kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                      "Thursday", "Friday", "Saturday"};
/// "Reboot <weekday>" (default 1) and "Reboot <weekday> Time" (default 7), weekday 0..6
/// from Sunday. Out-of-range weekdays read their defaults and write nothing.
[[nodiscard]] DWORD ReadRebootDay(int weekday);
void WriteRebootDay(int weekday, DWORD value);
[[nodiscard]] DWORD ReadRebootTime(int weekday);
void WriteRebootTime(int weekday, DWORD value);
[[nodiscard]] std::string RebootDayName(int weekday);
[[nodiscard]] std::string RebootTimeName(int weekday);

/// Directory servers "Internet Server %02d", slots 0..3. Slots 0 and 1 default to
/// empty; 2 and 3 to hosts of the reserved ".invalid" domain, which never resolve, so no
/// default ever reaches a third party.
inline constexpr int kInternetServerSlots = 4;
[[nodiscard]] std::string InternetServerName(int slot);
[[nodiscard]] std::string InternetServerDefault(int slot);
[[nodiscard]] std::string ReadInternetServer(int slot);
void WriteInternetServer(int slot, std::string_view host);

/// The system value "Internet IP" as stored, with the automatic address as default.
[[nodiscard]] std::string ReadSystemInternetIp();
void WriteSystemInternetIp(std::string_view address);
inline constexpr std::string_view kInternetIpName = "Internet IP";

/// The automatic address (Part of internet monitoring). Replaceable so that tests and
/// tools need no network look-up; the default provider answers "127.0.0.1" until the
/// internet module installs the real one.
using AddressProvider = std::function<std::string()>;
void SetAutomaticAddressProvider(AddressProvider provider);
[[nodiscard]] std::string AutomaticAddress();

// ---- table G: group values -------------------------------------------------------

inline constexpr GroupSz kCardFriendlyName{"Card Friendly Name", ""};
inline constexpr GroupDword kCardScreen{"Card Screen", 1};
inline constexpr GroupDword kCardScreenDelay{"Card Screen Delay", 5};
inline constexpr GroupDword kDataFormatOption{"Data Format Option", 0};
inline constexpr GroupDword kDataResolution{"Data Resolution", 0};
inline constexpr GroupDword kDataColor{"Data Color", 0};
inline constexpr GroupDword kCardHdSimulationLevel{"Card HD Simulation Level", 0};
inline constexpr GroupDword kCardIdeLevel{"Card IDE Level", 0};
inline constexpr GroupDword kVideoFileLength{"Video File Length", 1};
inline constexpr std::string_view kCardInputAmountName = "Card Input Amount";
inline constexpr std::string_view kDataFormatName = "Data Format";

/// The channel count given to a new capture card of the multiplexing kind, and what
/// the workspace assumes for a group without a stored "Card Input Amount".
inline constexpr DWORD kDefaultCardChannels = 4;

/// "Card Input Amount" with the device's input count as default.
[[nodiscard]] DWORD ReadCardInputAmount(std::string_view group, DWORD deviceInputCount);
void WriteCardInputAmount(std::string_view group, DWORD count);

/// "Input %d": the display name of input i, default "Input %d" with i.
[[nodiscard]] std::string InputValueName(int index);
[[nodiscard]] std::string ReadInputName(std::string_view group, int index);
void WriteInputName(std::string_view group, int index, std::string_view name);
/// The display names of the group's inputs 0 .. count - 1.
[[nodiscard]] std::vector<std::string> ReadInputNames(std::string_view group, DWORD count);
/// Position (0-based) of an input by display name among the group's inputs (compared
/// case-insensitively, count from "Card Input Amount" with kDefaultCardChannels as
/// default); nullopt when no input has the name.
[[nodiscard]] std::optional<int> InputPosition(std::string_view group, std::string_view input);

/// Card index derived from a device name: "BT878 Capture " and one more character c give
/// c - 48 when c <= 64, else c - 55; every other name gives 0.
[[nodiscard]] int CardIndexFromName(std::string_view deviceName);
/// Input count of a newly found device: kDefaultCardChannels for "BT878" names, else 1.
[[nodiscard]] DWORD DeviceInputCount(std::string_view deviceName);
/// The group's card index from its stored "Card Friendly Name".
[[nodiscard]] int ReadCardIndex(std::string_view group);

/// Language default of the video standard: 3 (PAL-D) when the user's interface language
/// is Chinese (China, 0x0804) or Chinese (Hong Kong, 0x0C04), else 1 (NTSC-M).
[[nodiscard]] DWORD LanguageDefaultDataFormat();
/// The user's interface language as a Windows language identifier, from the locale
/// ($LC_ALL, $LC_MESSAGES, $LANG): zh_CN 0x0804, zh_HK 0x0C04, zh_TW 0x0404, other
/// languages by their primary identifier, 0x0409 (English, United States) otherwise.
[[nodiscard]] DWORD UserLanguageId();
/// Stored "Data Format" with the language default, ignored while "Data Format Option" is 0.
[[nodiscard]] DWORD ReadDataFormat(std::string_view group);
/// The stored "Data Format" itself (the dialog's selection), with the language default.
[[nodiscard]] DWORD ReadStoredDataFormat(std::string_view group);
void WriteDataFormat(std::string_view group, DWORD index);

// ---- table C: camera values ------------------------------------------------------

inline constexpr CameraDword kInputEnabled{"Input Enabled", 1};
inline constexpr CameraSz kInputOriginalName{"Input Original Name", ""};
inline constexpr CameraDword kPrivacyMinimizeWindow{"Privacy Minimize Window", 0};
inline constexpr CameraDword kDataBrightness{"Data Brightness", 5000};
inline constexpr CameraDword kDataBrightnessNight{"Data Brightness Night", 5000};
inline constexpr CameraDword kDataContrast{"Data Contrast", 5000};
inline constexpr CameraDword kDataContrastNight{"Data Contrast Night", 5000};
inline constexpr CameraDword kDataSaturation{"Data Saturation", 5000};
inline constexpr CameraDword kDataSaturationNight{"Data Saturation Night", 5000};
inline constexpr CameraDword kDataHue{"Data Hue", 5000};
inline constexpr CameraDword kDataHueNight{"Data Hue Night", 5000};
inline constexpr CameraDword kInputRecordingVideo{"Input Recording Video", 1};
inline constexpr CameraDword kVideoHistory{"Video History", 3};
inline constexpr CameraDword kVideoBitrate{"Video Bitrate", 400};
inline constexpr CameraDword kVideoFrameRate{"Video Frame Rate", 30};
inline constexpr CameraDword kVideoKeyFrameInterval{"Video Key Frame Interval", 3};
inline constexpr CameraDword kVideoMotionQuality{"Video Motion Quality", 95};
inline constexpr CameraDword kAudio{"Audio", 0};
inline constexpr CameraSz kAudioSource{"Audio Source", ""};
/// 24 rather than 8: the installed audio encoder produces nothing below 24 kbit/s, so a
/// default of 8 would leave every default camera unable to record.
inline constexpr CameraDword kAudioBitrate{"Audio Bitrate", 24};
inline constexpr CameraDword kAudioSampleRate{"Audio Sample Rate", 8};
inline constexpr CameraDword kAudioAudition{"Audio Audition", 1};
inline constexpr CameraDword kInputVideoMonitoring{"Input Video Monitoring", 0};
inline constexpr CameraDword kInternetIpManu{"Internet IP Manu", 0};
inline constexpr CameraDword kPrivacyNoIpUpdate{"Privacy No IP Update", 0};
inline constexpr CameraDword kInternetBroadcasting{"Internet Broadcasting", 0};
inline constexpr CameraSz kInternetBroadcastingNote{"Internet Broadcasting Note", ""};
inline constexpr CameraDword kInputMotionDetection{"Input Motion Detection", 0};
inline constexpr CameraDword kMotionSensitivitySize{"Motion Sensitivity Size", 1};
inline constexpr CameraDword kMotionSensitivityBrightness{"Motion Sensitivity Brightness", 2};
inline constexpr CameraDword kMotionNoMotion{"Motion No Motion", 1};
inline constexpr CameraDword kMotionNoAlarm{"Motion No Alarm", 0};
inline constexpr CameraDword kMotionSound{"Motion Sound", 0};
inline constexpr CameraDword kInputPtz{"Input PTZ", 0};
inline constexpr CameraDword kPtzProtocol{"PTZ Protocol", 0};
inline constexpr CameraDword kPtzAddress{"PTZ Address", 1};
inline constexpr CameraDword kPtzCom{"PTZ Com", 0};
inline constexpr CameraDword kPtzBpp{"PTZ bpp", 1};
inline constexpr CameraDword kPtzAutoFocus{"PTZ Auto Focus", 0};
inline constexpr CameraDword kPtzAutoIris{"PTZ Auto Iris", 0};
inline constexpr CameraDword kPtzAutoGainControl{"PTZ Auto Gain Control", 0};
inline constexpr CameraDword kPtzAutoBlc{"PTZ Auto BLC", 0};
inline constexpr CameraDword kPtzAutoWhiteBalance{"PTZ Auto White Balance", 0};
/// -1 (no active tour) is stored as the DWORD 0xFFFFFFFF.
inline constexpr CameraDword kPtzScanActiveIndex{"PTZ Scan Active Index", 0xFFFFFFFFu};

inline constexpr std::string_view kInternetPortName = "Internet Port";
inline constexpr std::string_view kVideoFileRootName = "Video File Root";
inline constexpr std::string_view kMotionEventDirName = "Motion Event Dir";
inline constexpr std::string_view kMotionSoundFileName = "Motion Sound File";
inline constexpr std::string_view kMotionMarkName = "Motion Mark";
/// "Motion Mark": 720 bytes, one bit per detection cell (5,760 cells).
inline constexpr DWORD kMotionMarkBytes = 720;

/// "Internet Port" with its computed default 10000 + 4 x card index + input position.
[[nodiscard]] DWORD DefaultInternetPort(std::string_view group, std::string_view input);
[[nodiscard]] DWORD ReadInternetPort(std::string_view group, std::string_view input);
void WriteInternetPort(std::string_view group, std::string_view input, DWORD port);

/// The data directory standing for the drive root: $HALVARD_DATA, else
/// ${XDG_DATA_HOME:-$HOME/.local/share}/halvard/, always ending in '/'.
[[nodiscard]] std::string DataRoot();
/// The folder of the running program, ending in '/'.
[[nodiscard]] std::string ProgramFolder();

/// "Video File Root", default DataRoot() + "VideoArchive/".
[[nodiscard]] std::string ReadVideoFileRoot(std::string_view group, std::string_view input);
void WriteVideoFileRoot(std::string_view group, std::string_view input, std::string_view path);
/// "Motion Event Dir", default DataRoot() + "EventArchive/".
[[nodiscard]] std::string ReadMotionEventDir(std::string_view group, std::string_view input);
void WriteMotionEventDir(std::string_view group, std::string_view input, std::string_view path);
/// "Motion Sound File", default ProgramFolder() + "Motion.wav".
[[nodiscard]] std::string ReadMotionSoundFile(std::string_view group, std::string_view input);
void WriteMotionSoundFile(std::string_view group, std::string_view input, std::string_view path);

/// "Motion Mark": the stored 720 bytes, or every cell marked (all bits set) when the
/// value is missing or of another size.
[[nodiscard]] std::vector<BYTE> ReadMotionMark(std::string_view group, std::string_view input);
void WriteMotionMark(std::string_view group, std::string_view input, std::span<const BYTE> mark);

/// "Preset %03d" (1..127): the preset's name, or `defaultName` (resource text 240).
[[nodiscard]] std::string PresetValueName(int preset);
[[nodiscard]] std::string ReadPresetName(std::string_view group, std::string_view input, int preset,
                                         std::string_view defaultName);
void WritePresetName(std::string_view group, std::string_view input, int preset, std::string_view name);

/// Names of the per-tour values, tour n = 0..3.
[[nodiscard]] std::string ScanRunAsName(int tour);
[[nodiscard]] std::string ScanPresetName(int tour);
[[nodiscard]] std::string ScanTimeName(int tour);
inline constexpr DWORD kScanPresetBytes = 32;
inline constexpr DWORD kScanTimeBytes = 128;

/// Effective "Internet IP" of a camera: with "Internet IP Manu" set, the system value
/// "Internet IP" with the automatic address as default; otherwise the automatic address.
[[nodiscard]] std::string ReadInternetIp(std::string_view group, std::string_view input);

// ---- lookup tables ---------------------------------------------------------------

/// Analogue video standards ("Data Format", group). The flags are the capture
/// framework's AnalogVideoStandard values.
struct VideoStandard {
  std::string_view label;
  DWORD analogVideoStandard;
};
inline constexpr VideoStandard kVideoStandards[] = {
    {"NTSC J: Japan", 0x2},
    {"NTSC M: America, South Korea, Taiwan", 0x1},
    {"PAL B: Western Europ", 0x10},
    {"PAL D: Eastern Europe, China", 0x20},
    {"PAL I: UK, HongKong", 0x100},
    {"SECAM B/G: Middle East", 0x1000},
    {"SECAM D/K: Eastern Europe", 0x2000},
    {"SECAM L: France", 0x40000},
};

/// Capture sizes ("Data Resolution", group) with the capture-card library flag.
struct CaptureSize {
  LONG width;
  LONG height;
  bool needsCardLibrary;
};
inline constexpr CaptureSize kCaptureSizes[] = {
    {320, 240, true},
    {640, 240, true},
    {640, 288, true},
    {640, 480, false},
};

/// Colour depths ("Data Color", group).
enum class ColorFormat { Yuy2, Rgb24 };
struct ColorDepth {
  std::string_view label;
  ColorFormat format;
  int bytesPerPixel;
};
inline constexpr ColorDepth kColorDepths[] = {
    {"16bit", ColorFormat::Yuy2, 2},
    {"24bit", ColorFormat::Rgb24, 3},
};

/// Recording file lengths in minutes ("Video File Length", group).
inline constexpr DWORD kFileLengthMinutes[] = {10, 20, 30, 60, 120};
/// Motion tables (camera).
inline constexpr DWORD kMotionSizeBlocks[] = {64, 32, 16, 4};
inline constexpr DWORD kMotionBrightnessLevels[] = {23, 19, 15, 10, 6, 4};
inline constexpr DWORD kMotionNoMotionMinutes[] = {1, 2, 3, 5, 10};
inline constexpr DWORD kMotionNoAlarmFactors[] = {0, 2, 3};
/// Serial speeds in bit/s ("PTZ bpp", camera).
inline constexpr DWORD kSerialSpeeds[] = {1200, 2400, 4800, 9600, 19200};

/// Table lookup that never reads outside the table: an index past the end gives the
/// row of the value's default index.
template <class T, std::size_t N>
[[nodiscard]] constexpr const T& Lookup(const T (&table)[N], DWORD index, DWORD defaultIndex) {
  return table[index < N ? index : (defaultIndex < N ? defaultIndex : 0)];
}

/// Picture size after HD simulation: level L > 0 gives L x 640 by 2 x L x base height
/// (the base height of "Data Resolution"); else the base size.
struct PictureSize {
  LONG width;
  LONG height;
};
[[nodiscard]] PictureSize EffectivePictureSize(DWORD resolutionIndex, DWORD hdLevel);
[[nodiscard]] PictureSize ReadEffectivePictureSize(std::string_view group);

// ---- the schema as data (for listings) -------------------------------------------

enum class Level { System, Group, Camera };
enum class ValueType { Dword, Sz, Bin };

/// One row of the schema: a value name (patterns expanded), its type, how its default
/// reads, and whether the value is stored.
struct SettingRow {
  std::string name;
  ValueType type;
  std::string effective;  ///< the effective value as text (DWORDs decimal, BIN in hex)
  std::string defaultText;
  bool isDefault;         ///< no usable stored value: the default applies
};

/// Every value of a level with its effective value. Patterned families are expanded:
/// "Reboot <weekday>" for the seven days, "Internet Server %02d" for the four slots,
/// "Input %d" for the group's inputs, "Preset %03d" and the tour values only where
/// stored. group and input are ignored where the level does not use them.
[[nodiscard]] std::vector<SettingRow> ListSettings(Level level, std::string_view group = {},
                                                   std::string_view input = {});

}  // namespace halvard::settings
