#include "server/settings/Settings.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/base/Text.h"
#include "platform/registry/Registry.h"

namespace halvard::settings {
namespace {

// Owns an open key handle.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (m_key != nullptr) {
      RegCloseKey(m_key);
    }
  }
  [[nodiscard]] bool Open(std::string_view path) { return RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &m_key) == ERROR_SUCCESS; }
  [[nodiscard]] bool Create(std::string_view path) { return RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, &m_key) == ERROR_SUCCESS; }
  [[nodiscard]] HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

std::string Format(const char* pattern, int n) {
  std::array<char, 64> buffer{};
  std::snprintf(buffer.data(), buffer.size(), pattern, n);
  return buffer.data();
}

bool ValidWeekday(int weekday) { return weekday >= 0 && weekday < 7; }

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') {
    path.push_back('/');
  }
  return path;
}

std::mutex& ProviderLock() {
  static std::mutex lock;
  return lock;
}
AddressProvider& Provider() {
  static AddressProvider provider;
  return provider;
}

std::string Hex(std::span<const BYTE> data) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  for (BYTE b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace

// ---- key paths -------------------------------------------------------------------

std::string GroupKeyPath(std::string_view group) {
  std::string path(kCameraGroupPath);
  path += '\\';
  path += group;
  return path;
}

std::string CameraKeyPath(std::string_view group, std::string_view input) {
  std::string path = GroupKeyPath(group);
  path += '\\';
  path += input;
  return path;
}

// ---- storage primitives ----------------------------------------------------------

DWORD ReadDword(std::string_view keyPath, std::string_view name, DWORD def) {
  Key key;
  if (!key.Open(keyPath)) {
    return def;
  }
  // The buffer is declared with the 200-byte size of every read; only a REG_DWORD of
  // exactly four bytes is a usable number (anything else would be read past or short).
  std::array<BYTE, kReadBufferBytes> buffer{};
  DWORD size = kReadBufferBytes;
  DWORD type = REG_NONE;
  if (RegQueryValueEx(key.Get(), name, &type, buffer.data(), &size) != ERROR_SUCCESS || size != sizeof(DWORD) ||
      type != REG_DWORD) {
    return def;
  }
  DWORD value = 0;
  std::memcpy(&value, buffer.data(), sizeof value);
  return value;
}

void WriteDword(std::string_view keyPath, std::string_view name, DWORD value) {
  Key key;
  if (key.Create(keyPath)) {
    BYTE bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    (void)RegSetValueEx(key.Get(), name, REG_DWORD, bytes, sizeof value);
  }
}

std::string ReadSz(std::string_view keyPath, std::string_view name, std::string_view def) {
  Key key;
  if (!key.Open(keyPath)) {
    return std::string(def);
  }
  std::array<BYTE, kReadBufferBytes> buffer{};
  DWORD size = kReadBufferBytes;
  DWORD type = REG_NONE;
  if (RegQueryValueEx(key.Get(), name, &type, buffer.data(), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::string(def);
  }
  return text::FromWideBytes(buffer.data(), size);
}

void WriteSz(std::string_view keyPath, std::string_view name, std::string_view value) {
  Key key;
  if (key.Create(keyPath)) {
    const std::vector<BYTE> bytes = text::ToWideBytes(value);
    (void)RegSetValueEx(key.Get(), name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
}

bool ReadBin(std::string_view keyPath, std::string_view name, std::span<BYTE> buffer) {
  Key key;
  if (!key.Open(keyPath)) {
    return false;
  }
  DWORD size = 0;
  if (RegQueryValueEx(key.Get(), name, nullptr, nullptr, &size) != ERROR_SUCCESS || size != buffer.size()) {
    return false;
  }
  std::vector<BYTE> data(size);
  if (RegQueryValueEx(key.Get(), name, nullptr, data.data(), &size) != ERROR_SUCCESS || size != buffer.size()) {
    return false;  // changed in between by another process
  }
  std::copy(data.begin(), data.end(), buffer.begin());
  return true;
}

void WriteBin(std::string_view keyPath, std::string_view name, std::span<const BYTE> data) {
  Key key;
  if (key.Create(keyPath)) {
    (void)RegSetValueEx(key.Get(), name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
}

void CreateKey(std::string_view keyPath) {
  Key key;
  (void)key.Create(keyPath);
}

void DeleteKeyTree(std::string_view keyPath) { (void)RegDeleteTree(HKEY_LOCAL_MACHINE, keyPath); }

void DeleteValue(std::string_view keyPath, std::string_view name) {
  Key key;
  if (key.Open(keyPath)) {
    (void)RegDeleteValue(key.Get(), name);
  }
}

bool MoveKeyTree(std::string_view sourcePath, std::string_view targetPath) {
  return RegMoveTree(HKEY_LOCAL_MACHINE, sourcePath, targetPath, 256, 7680) == ERROR_SUCCESS;
}

std::string FindValueByData(std::string_view keyPath, std::string_view text) {
  Key key;
  if (!key.Open(keyPath)) {
    return {};
  }
  const std::string folded = text::FoldCase(text);
  std::string name;
  std::array<BYTE, 7680> data{};
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LONG rc = RegEnumValue(key.Get(), i, &name, &type, data.data(), &size);
    if (rc == ERROR_NO_MORE_ITEMS || (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)) {
      return {};
    }
    if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
        text::FoldCase(text::FromWideBytes(data.data(), size)) == folded) {
      return name;
    }
  }
}

std::vector<std::string> SubKeyNames(std::string_view keyPath) {
  std::vector<std::string> names;
  Key key;
  if (!key.Open(keyPath)) {
    return names;
  }
  std::string name;
  for (DWORD i = 0; RegEnumKeyEx(key.Get(), i, &name) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> ValueNames(std::string_view keyPath) {
  std::vector<std::string> names;
  Key key;
  if (!key.Open(keyPath)) {
    return names;
  }
  std::string name;
  for (DWORD i = 0; RegEnumValue(key.Get(), i, &name, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i) {
    names.push_back(name);
  }
  return names;
}

bool ValueExists(std::string_view keyPath, std::string_view name) {
  Key key;
  return key.Open(keyPath) && RegQueryValueEx(key.Get(), name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// ---- descriptors -----------------------------------------------------------------

DWORD SystemDword::Read() const { return ReadDword(kSystemPath, name, def); }
void SystemDword::Write(DWORD value) const { WriteDword(kSystemPath, name, value); }
std::string SystemSz::Read() const { return ReadSz(kSystemPath, name, def); }
void SystemSz::Write(std::string_view value) const { WriteSz(kSystemPath, name, value); }
DWORD GroupDword::Read(std::string_view group) const { return ReadDword(GroupKeyPath(group), name, def); }
void GroupDword::Write(std::string_view group, DWORD value) const { WriteDword(GroupKeyPath(group), name, value); }
std::string GroupSz::Read(std::string_view group) const { return ReadSz(GroupKeyPath(group), name, def); }
void GroupSz::Write(std::string_view group, std::string_view value) const {
  WriteSz(GroupKeyPath(group), name, value);
}
DWORD CameraDword::Read(std::string_view group, std::string_view input) const {
  return ReadDword(CameraKeyPath(group, input), name, def);
}
void CameraDword::Write(std::string_view group, std::string_view input, DWORD value) const {
  WriteDword(CameraKeyPath(group, input), name, value);
}
std::string CameraSz::Read(std::string_view group, std::string_view input) const {
  return ReadSz(CameraKeyPath(group, input), name, def);
}
void CameraSz::Write(std::string_view group, std::string_view input, std::string_view value) const {
  WriteSz(CameraKeyPath(group, input), name, value);
}

// ---- system values ---------------------------------------------------------------

std::string RebootDayName(int weekday) {
  return ValidWeekday(weekday) ? "Reboot " + std::string(kWeekdayNames[weekday]) : std::string();
}
std::string RebootTimeName(int weekday) {
  return ValidWeekday(weekday) ? RebootDayName(weekday) + " Time" : std::string();
}
DWORD ReadRebootDay(int weekday) { return ValidWeekday(weekday) ? ReadDword(kSystemPath, RebootDayName(weekday), 1) : 1; }
void WriteRebootDay(int weekday, DWORD value) {
  if (ValidWeekday(weekday)) {
    WriteDword(kSystemPath, RebootDayName(weekday), value);
  }
}
DWORD ReadRebootTime(int weekday) {
  return ValidWeekday(weekday) ? ReadDword(kSystemPath, RebootTimeName(weekday), 7) : 7;
}
void WriteRebootTime(int weekday, DWORD value) {
  if (ValidWeekday(weekday)) {
    WriteDword(kSystemPath, RebootTimeName(weekday), value);
  }
}

std::string InternetServerName(int slot) { return Format("Internet Server %02d", slot); }
std::string InternetServerDefault(int slot) {
  switch (slot) {
    case 2: return "directory1.halvard.invalid";
    case 3: return "directory2.halvard.invalid";
    default: return "";
  }
}
std::string ReadInternetServer(int slot) {
  if (slot < 0 || slot >= kInternetServerSlots) {
    return {};
  }
  return ReadSz(kSystemPath, InternetServerName(slot), InternetServerDefault(slot));
}
void WriteInternetServer(int slot, std::string_view host) {
  if (slot >= 0 && slot < kInternetServerSlots) {
    WriteSz(kSystemPath, InternetServerName(slot), host);
  }
}

void SetAutomaticAddressProvider(AddressProvider provider) {
  std::lock_guard lock(ProviderLock());
  Provider() = std::move(provider);
}

std::string AutomaticAddress() {
  AddressProvider provider;
  {
    std::lock_guard lock(ProviderLock());
    provider = Provider();
  }
  return provider ? provider() : std::string("127.0.0.1");
}

std::string ReadSystemInternetIp() {
  // The automatic address is looked up only when no manual address is stored: it may
  // cost a host-name resolution.
  if (ValueExists(kSystemPath, kInternetIpName)) {
    const std::string sentinel(1, '\x01');
    std::string stored = ReadSz(kSystemPath, kInternetIpName, sentinel);
    if (stored != sentinel) {
      return stored;
    }
  }
  return AutomaticAddress();
}
void WriteSystemInternetIp(std::string_view address) { WriteSz(kSystemPath, kInternetIpName, address); }

// ---- group values ----------------------------------------------------------------

DWORD ReadCardInputAmount(std::string_view group, DWORD deviceInputCount) {
  return ReadDword(GroupKeyPath(group), kCardInputAmountName, deviceInputCount);
}
void WriteCardInputAmount(std::string_view group, DWORD count) {
  WriteDword(GroupKeyPath(group), kCardInputAmountName, count);
}

std::string InputValueName(int index) { return Format("Input %d", index); }
std::string ReadInputName(std::string_view group, int index) {
  const std::string name = InputValueName(index);
  return ReadSz(GroupKeyPath(group), name, name);
}
void WriteInputName(std::string_view group, int index, std::string_view name) {
  WriteSz(GroupKeyPath(group), InputValueName(index), name);
}
std::vector<std::string> ReadInputNames(std::string_view group, DWORD count) {
  std::vector<std::string> names;
  // A damaged count must not make the reader allocate without bound; no card has more
  // inputs than a byte counts.
  count = std::min<DWORD>(count, 256);
  names.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    names.push_back(ReadInputName(group, static_cast<int>(i)));
  }
  return names;
}

std::optional<int> InputPosition(std::string_view group, std::string_view input) {
  const auto names = ReadInputNames(group, ReadCardInputAmount(group, kDefaultCardChannels));
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (text::EqualsNoCase(names[i], input)) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

int CardIndexFromName(std::string_view deviceName) {
  constexpr std::string_view kPrefix = "BT878 Capture ";
  if (deviceName.find("BT878") == std::string_view::npos || !deviceName.starts_with(kPrefix) ||
      deviceName.size() <= kPrefix.size()) {
    return 0;
  }
  // The character is taken as the Windows design's narrow character: a byte.
  const int c = static_cast<unsigned char>(deviceName[kPrefix.size()]);
  return c <= 64 ? c - 48 : c - 55;
}

DWORD DeviceInputCount(std::string_view deviceName) {
  return deviceName.find("BT878") != std::string_view::npos ? kDefaultCardChannels : 1;
}

int ReadCardIndex(std::string_view group) { return CardIndexFromName(kCardFriendlyName.Read(group)); }

DWORD UserLanguageId() {
  const char* locale = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') {
      locale = v;
      break;
    }
  }
  if (locale == nullptr) {
    return 0x0409;
  }
  const std::string_view tag(locale);
  struct Entry {
    std::string_view prefix;
    DWORD id;
  };
  // Longer prefixes first, so "zh_HK" wins over "zh".
  static constexpr Entry kTable[] = {
      {"zh_CN", 0x0804}, {"zh_HK", 0x0C04}, {"zh_TW", 0x0404}, {"zh_SG", 0x1004}, {"zh_MO", 0x1404},
      {"zh", 0x0804},    {"en_GB", 0x0809}, {"en", 0x0409},    {"de", 0x0407},    {"fr", 0x040C},
      {"es", 0x0C0A},    {"it", 0x0410},    {"ja", 0x0411},    {"ko", 0x0412},    {"nl", 0x0413},
      {"pt", 0x0416},    {"ru", 0x0419},    {"pl", 0x0415},    {"sv", 0x041D},    {"tr", 0x041F},
  };
  for (const Entry& e : kTable) {
    if (tag.starts_with(e.prefix)) {
      return e.id;
    }
  }
  return 0x0409;
}

DWORD LanguageDefaultDataFormat() {
  const DWORD lang = UserLanguageId();
  return (lang == 0x0804 || lang == 0x0C04) ? 3 : 1;
}

DWORD ReadStoredDataFormat(std::string_view group) {
  return ReadDword(GroupKeyPath(group), kDataFormatName, LanguageDefaultDataFormat());
}

DWORD ReadDataFormat(std::string_view group) {
  if (kDataFormatOption.Read(group) == 0) {
    return LanguageDefaultDataFormat();
  }
  return ReadStoredDataFormat(group);
}

void WriteDataFormat(std::string_view group, DWORD index) { WriteDword(GroupKeyPath(group), kDataFormatName, index); }

// ---- camera values ---------------------------------------------------------------

DWORD DefaultInternetPort(std::string_view group, std::string_view input) {
  const int position = InputPosition(group, input).value_or(0);
  return static_cast<DWORD>(10000 + 4 * ReadCardIndex(group) + position);
}

DWORD ReadInternetPort(std::string_view group, std::string_view input) {
  return ReadDword(CameraKeyPath(group, input), kInternetPortName, DefaultInternetPort(group, input));
}
void WriteInternetPort(std::string_view group, std::string_view input, DWORD port) {
  WriteDword(CameraKeyPath(group, input), kInternetPortName, port);
}

std::string DataRoot() {
  if (const char* d = std::getenv("HALVARD_DATA"); d != nullptr && *d != '\0') {
    return WithSlash(d);
  }
  std::string base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    base = std::string(h) + "/.local/share";
  } else {
    base = "/tmp";
  }
  return WithSlash(base + "/halvard");
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return "./";
  }
  return WithSlash(self.parent_path().string());
}

std::string ReadVideoFileRoot(std::string_view group, std::string_view input) {
  return ReadSz(CameraKeyPath(group, input), kVideoFileRootName, DataRoot() + "VideoArchive/");
}
void WriteVideoFileRoot(std::string_view group, std::string_view input, std::string_view path) {
  WriteSz(CameraKeyPath(group, input), kVideoFileRootName, path);
}
std::string ReadMotionEventDir(std::string_view group, std::string_view input) {
  return ReadSz(CameraKeyPath(group, input), kMotionEventDirName, DataRoot() + "EventArchive/");
}
void WriteMotionEventDir(std::string_view group, std::string_view input, std::string_view path) {
  WriteSz(CameraKeyPath(group, input), kMotionEventDirName, path);
}
std::string ReadMotionSoundFile(std::string_view group, std::string_view input) {
  return ReadSz(CameraKeyPath(group, input), kMotionSoundFileName, ProgramFolder() + "Motion.wav");
}
void WriteMotionSoundFile(std::string_view group, std::string_view input, std::string_view path) {
  WriteSz(CameraKeyPath(group, input), kMotionSoundFileName, path);
}

std::vector<BYTE> ReadMotionMark(std::string_view group, std::string_view input) {
  std::vector<BYTE> mark(kMotionMarkBytes, 0xFF);
  if (!ReadBin(CameraKeyPath(group, input), kMotionMarkName, mark)) {
    std::fill(mark.begin(), mark.end(), BYTE{0xFF});
  }
  return mark;
}
void WriteMotionMark(std::string_view group, std::string_view input, std::span<const BYTE> mark) {
  WriteBin(CameraKeyPath(group, input), kMotionMarkName, mark);
}

std::string PresetValueName(int preset) { return Format("Preset %03d", preset); }
std::string ReadPresetName(std::string_view group, std::string_view input, int preset, std::string_view defaultName) {
  return ReadSz(CameraKeyPath(group, input), PresetValueName(preset), defaultName);
}
void WritePresetName(std::string_view group, std::string_view input, int preset, std::string_view name) {
  WriteSz(CameraKeyPath(group, input), PresetValueName(preset), name);
}

std::string ScanRunAsName(int tour) { return Format("PTZ Scan #%d Run As", tour); }
std::string ScanPresetName(int tour) { return Format("PTZ Scan #%d Preset", tour); }
std::string ScanTimeName(int tour) { return Format("PTZ Scan #%d Time", tour); }

std::string ReadInternetIp(std::string_view group, std::string_view input) {
  if (kInternetIpManu.Read(group, input) != 0) {
    return ReadSystemInternetIp();
  }
  return AutomaticAddress();
}

// ---- picture size ----------------------------------------------------------------

PictureSize EffectivePictureSize(DWORD resolutionIndex, DWORD hdLevel) {
  const CaptureSize& base = Lookup(kCaptureSizes, resolutionIndex, kDataResolution.def);
  if (hdLevel > 0) {
    // Levels above the dialog's 2 would ask for pictures no filter can make.
    const auto level = static_cast<LONG>(std::min<DWORD>(hdLevel, 2));
    return {level * 640, 2 * level * base.height};
  }
  return {base.width, base.height};
}

PictureSize ReadEffectivePictureSize(std::string_view group) {
  return EffectivePictureSize(kDataResolution.Read(group), kCardHdSimulationLevel.Read(group));
}

// ---- listing ---------------------------------------------------------------------

namespace {

struct RowSource {
  std::string keyPath;
  std::vector<SettingRow>* rows;

  void Dword(std::string_view name, DWORD def, std::string defText = {}) const {
    const bool isDefault = !StoredDword(name);
    const DWORD value = ReadDword(keyPath, name, def);
    rows->push_back({std::string(name), ValueType::Dword, std::to_string(static_cast<LONG>(value)),
                     defText.empty() ? std::to_string(def) : defText, isDefault});
  }
  void Sz(std::string_view name, std::string_view def, std::string defText = {}) const {
    const std::string sentinel(1, '\x01');
    const std::string stored = ReadSz(keyPath, name, sentinel);
    const bool isDefault = stored == sentinel;
    rows->push_back({std::string(name), ValueType::Sz, isDefault ? std::string(def) : stored,
                     defText.empty() ? "\"" + std::string(def) + "\"" : defText, isDefault});
  }
  void Bin(std::string_view name, std::size_t size, std::string defText) const {
    std::vector<BYTE> data(size);
    const bool stored = ReadBin(keyPath, name, data);
    rows->push_back({std::string(name), ValueType::Bin, stored ? Hex(data) : std::string(), std::move(defText),
                     !stored});
  }
  // A DWORD counts as stored only when it is readable (four bytes, REG_DWORD).
  [[nodiscard]] bool StoredDword(std::string_view name) const {
    return ReadDword(keyPath, name, 0) != 0 || ReadDword(keyPath, name, 1) != 1;
  }
};

}  // namespace

std::vector<SettingRow> ListSettings(Level level, std::string_view group, std::string_view input) {
  std::vector<SettingRow> rows;
  if (level == Level::System) {
    const RowSource s{std::string(kSystemPath), &rows};
    for (const SystemDword* v : {&kBootAutoStart, &kPrivacyLockDesktop, &kLanguageOption}) {
      s.Dword(v->name, v->def);
    }
    s.Sz(kLastStartup.name, kLastStartup.def, "none");
    s.Sz(kLastShutdown.name, kLastShutdown.def, "none");
    s.Dword(kEmTimeResolution.name, kEmTimeResolution.def);
    s.Dword(kVideoFreeSpaceReserve.name, kVideoFreeSpaceReserve.def);
    s.Dword(kReboot.name, kReboot.def);
    for (int d = 0; d < 7; ++d) {
      s.Dword(RebootDayName(d), 1);
    }
    for (int d = 0; d < 7; ++d) {
      s.Dword(RebootTimeName(d), 7);
    }
    for (const SystemDword* v : {&kLockdownAutoLogon, &kLockdownDisableAutorun, &kLockdownAutoHide,
                                 &kLockdownVisualClassic, &kLockdownEnableRemoteDesktop}) {
      s.Dword(v->name, v->def);
    }
    {
      const bool stored = ValueExists(kSystemPath, kInternetIpName);
      rows.push_back({std::string(kInternetIpName), ValueType::Sz, ReadSystemInternetIp(), "automatic address",
                      !stored});
    }
    for (int slot = 0; slot < kInternetServerSlots; ++slot) {
      s.Sz(InternetServerName(slot), InternetServerDefault(slot));
    }
    for (const SystemSz* v : {&kSysUserId, &kSysPassword, &kSysDisplayName}) {
      s.Sz(v->name, v->def);
    }
    return rows;
  }

  if (level == Level::Group) {
    const RowSource s{GroupKeyPath(group), &rows};
    const std::string friendly = kCardFriendlyName.Read(group);
    const DWORD deviceCount = DeviceInputCount(friendly);
    s.Sz(kCardFriendlyName.name, kCardFriendlyName.def);
    s.Dword(kCardInputAmountName, deviceCount, std::to_string(deviceCount) + " (device's input count)");
    const DWORD count = std::min<DWORD>(ReadCardInputAmount(group, deviceCount), 256);
    for (DWORD i = 0; i < count; ++i) {
      const std::string name = InputValueName(static_cast<int>(i));
      s.Sz(name, name);
    }
    s.Dword(kCardScreen.name, kCardScreen.def);
    s.Dword(kCardScreenDelay.name, kCardScreenDelay.def);
    s.Dword(kDataFormatOption.name, kDataFormatOption.def);
    {
      const DWORD def = LanguageDefaultDataFormat();
      const bool stored = ValueExists(GroupKeyPath(group), kDataFormatName);
      rows.push_back({std::string(kDataFormatName), ValueType::Dword, std::to_string(static_cast<LONG>(ReadDataFormat(group))),
                      std::to_string(def) + " (language default)", !stored || kDataFormatOption.Read(group) == 0});
    }
    for (const GroupDword* v :
         {&kDataResolution, &kDataColor, &kCardHdSimulationLevel, &kCardIdeLevel, &kVideoFileLength}) {
      s.Dword(v->name, v->def);
    }
    return rows;
  }

  const std::string key = CameraKeyPath(group, input);
  const RowSource s{key, &rows};
  for (const CameraDword* v : {&kInputEnabled}) {
    s.Dword(v->name, v->def);
  }
  s.Sz(kInputOriginalName.name, kInputOriginalName.def);
  for (const CameraDword* v : {&kPrivacyMinimizeWindow, &kDataBrightness, &kDataBrightnessNight, &kDataContrast,
                               &kDataContrastNight, &kDataSaturation, &kDataSaturationNight, &kDataHue,
                               &kDataHueNight, &kInputRecordingVideo}) {
    s.Dword(v->name, v->def);
  }
  s.Sz(kVideoFileRootName, DataRoot() + "VideoArchive/");
  for (const CameraDword* v : {&kVideoHistory, &kVideoBitrate, &kVideoFrameRate, &kVideoKeyFrameInterval,
                               &kVideoMotionQuality, &kAudio}) {
    s.Dword(v->name, v->def);
  }
  s.Sz(kAudioSource.name, kAudioSource.def);
  for (const CameraDword* v : {&kAudioBitrate, &kAudioSampleRate, &kAudioAudition, &kInputVideoMonitoring}) {
    s.Dword(v->name, v->def);
  }
  {
    const DWORD def = DefaultInternetPort(group, input);
    s.Dword(kInternetPortName, def, std::to_string(def) + " (10000 + 4 x card + input)");
  }
  for (const CameraDword* v : {&kInternetIpManu, &kPrivacyNoIpUpdate, &kInternetBroadcasting}) {
    s.Dword(v->name, v->def);
  }
  s.Sz(kInternetBroadcastingNote.name, kInternetBroadcastingNote.def);
  for (const CameraDword* v :
       {&kInputMotionDetection, &kMotionSensitivitySize, &kMotionSensitivityBrightness}) {
    s.Dword(v->name, v->def);
  }
  s.Bin(kMotionMarkName, kMotionMarkBytes, "every cell marked");
  if (rows.back().isDefault) {
    rows.back().effective = Hex(ReadMotionMark(group, input));
  }
  for (const CameraDword* v : {&kMotionNoMotion, &kMotionNoAlarm}) {
    s.Dword(v->name, v->def);
  }
  s.Sz(kMotionEventDirName, DataRoot() + "EventArchive/");
  s.Dword(kMotionSound.name, kMotionSound.def);
  s.Sz(kMotionSoundFileName, ProgramFolder() + "Motion.wav");
  for (const CameraDword* v : {&kInputPtz, &kPtzProtocol, &kPtzAddress, &kPtzCom, &kPtzBpp, &kPtzAutoFocus,
                               &kPtzAutoIris, &kPtzAutoGainControl, &kPtzAutoBlc, &kPtzAutoWhiteBalance}) {
    s.Dword(v->name, v->def);
  }
  for (int preset = 1; preset <= 127; ++preset) {
    const std::string name = PresetValueName(preset);
    if (ValueExists(key, name)) {
      s.Sz(name, "", "resource text 240");
    }
  }
  s.Dword(kPtzScanActiveIndex.name, kPtzScanActiveIndex.def, "-1");
  for (int tour = 0; tour < 4; ++tour) {
    if (ValueExists(key, ScanRunAsName(tour))) {
      s.Dword(ScanRunAsName(tour), 0);
    }
    if (ValueExists(key, ScanPresetName(tour))) {
      s.Bin(ScanPresetName(tour), kScanPresetBytes, "none");
    }
    if (ValueExists(key, ScanTimeName(tour))) {
      s.Bin(ScanTimeName(tour), kScanTimeBytes, "none");
    }
  }
  return rows;
}

}  // namespace halvard::settings
