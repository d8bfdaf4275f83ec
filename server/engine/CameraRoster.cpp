#include "server/engine/CameraRoster.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "platform/base/Text.h"
#include "platform/capture/CaptureDevices.h"
#include "platform/capture/PVProp.h"
#include "platform/media/Interfaces.h"
#include "platform/media/Types.h"
#include "platform/media/Uuids.h"
#include "platform/registry/Registry.h"
#include "server/archive/Archive.h"
#include "server/archive/CleanUp.h"
#include "server/engine/CardAdjustments.h"
#include "server/engine/GroupPipeline.h"
#include "server/motion/MotionEvent.h"
#include "server/settings/Settings.h"

namespace halvard::engine {

namespace s = halvard::settings;
using halvard::text::EqualsNoCase;

// ---- names -----------------------------------------------------------------------------

namespace {

constexpr std::string_view kForbiddenNameCharacters = "\\/:*?\"<>|";
constexpr std::size_t kMaxNameCharacters = 99;

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++count;
    }
  }
  return count;
}

bool IsForbidden(unsigned char c) {
  return c < 0x20 || c == 0x7F || kForbiddenNameCharacters.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

bool IsValidFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || Utf8Length(name) > kMaxNameCharacters) {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [](char c) { return IsForbidden(static_cast<unsigned char>(c)); });
}

std::string MakeStorableName(std::string_view deviceName) {
  std::string name;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < deviceName.size(); ++i) {
    const auto c = static_cast<unsigned char>(deviceName[i]);
    const bool starts = (c & 0xC0) != 0x80;
    if (starts && characters == kMaxNameCharacters) {
      break;
    }
    characters += starts ? 1 : 0;
    name += IsForbidden(c) ? '_' : static_cast<char>(c);
  }
  if (name.empty() || name == "." || name == "..") {
    return "_";
  }
  return name;
}

// ---- command line ----------------------------------------------------------------------

CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLineOptions options;
  options.arguments = arguments;
  bool seenMonitor = false;
  bool seenGroups = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!seenMonitor && EqualsNoCase(arguments[i], "-M")) {
      seenMonitor = true;
      if (i + 1 < arguments.size()) {
        // A non-number reads as 0 (selects no display), as the decimal conversion does.
        const std::string& text = arguments[i + 1];
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        options.monitor = end == text.c_str() ? 0 : static_cast<int>(std::clamp(value, -1000000L, 1000000L));
      } else {
        options.monitor = 0;
      }
    } else if (!seenGroups && EqualsNoCase(arguments[i], "-G")) {
      seenGroups = true;
      for (std::size_t j = i + 1; j < arguments.size() && !EqualsNoCase(arguments[j], "-M"); ++j) {
        options.groupFilter.push_back(arguments[j]);
      }
    }
  }
  return options;
}

// ---- groups ----------------------------------------------------------------------------

CameraGroup::CameraGroup(std::string devicePath, std::string displayName, int cardIndex, DWORD inputCount)
    : m_devicePath(std::move(devicePath)),
      m_displayName(std::move(displayName)),
      m_cardIndex(cardIndex),
      m_inputCount(inputCount) {}

CameraGroup::~CameraGroup() = default;

std::string CameraGroup::CameraTitle(int input) const { return m_displayName + "-" + InputName(input); }

/// Access to a group's private state for the pipeline's functions.
struct GroupAccess {
  static std::unique_ptr<GroupGraph>& Graph(CameraGroup& group) { return group.m_graph; }
  static void SetAnyEnabled(CameraGroup& group, bool any) { group.m_anyInputEnabled = any; }
};

// ---- roster ----------------------------------------------------------------------------

namespace {

/// The card library's number for a group's device: derived from a card's name, -1 for a
/// network camera, which the library never serves (whatever the camera is called).
int CardIndexOf(const std::string& devicePath, const std::string& name) {
  return capture::IsNetworkDevicePath(devicePath) ? -1 : s::CardIndexFromName(name);
}

/// Input names are capped so a damaged "Card Input Amount" cannot make us allocate
/// without bound (the settings reader caps at 256 too).
constexpr DWORD kMaxInputs = 256;

struct DeviceEntry {
  std::string friendlyName;
  std::string devicePath;
};

std::vector<DeviceEntry> EnumerateVideoDevices() {
  std::vector<DeviceEntry> devices;
  ComPtr<ICreateDevEnum> devEnum;
  if (FAILED(com::CreateInstance(CLSID_SystemDeviceEnum, &devEnum))) {
    return devices;
  }
  ComPtr<IEnumMoniker> monikers;
  if (devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0) != S_OK) {
    return devices;
  }
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) {
      continue;
    }
    const auto read = [&](const wchar_t* name, std::string* out) {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_BSTR;
      if (FAILED(bag->Read(name, &v, nullptr))) {
        return false;
      }
      *out = media::ToUtf8(v.bstrVal);
      VariantClear(&v);
      return true;
    };
    DeviceEntry entry;
    if (read(L"FriendlyName", &entry.friendlyName) && read(L"DevicePath", &entry.devicePath)) {
      devices.push_back(std::move(entry));
    }
  }
  return devices;
}

/// Every value of "Camera Group": (device path, display name).
std::vector<std::pair<std::string, std::string>> ReadGroupIndex() {
  std::vector<std::pair<std::string, std::string>> index;
  for (const std::string& path : s::ValueNames(s::kCameraGroupPath)) {
    index.emplace_back(path, s::ReadSz(s::kCameraGroupPath, path, ""));
  }
  return index;
}

std::vector<std::string> InputNamesOf(std::string_view group, DWORD count) {
  return s::ReadInputNames(group, std::min(count, kMaxInputs));
}

}  // namespace

CameraRoster::CameraRoster(IEngineHost& host) : m_host(host), m_freeSpace(archive::SystemFreeSpace()) {}

void CameraRoster::NoteReserveUnmet(bool unmet) {
  if (unmet && !m_reserveUnmet) {
    m_host.ReportLine(m_host.Text(2003));
  }
  m_reserveUnmet = unmet;
}

CameraRoster::~CameraRoster() {
  StopAll();
  m_host.KillTimer(reinterpret_cast<TimerId>(this));
  m_groups.clear();
  if (m_libraryInitialised) {
    (void)PV_HWUnInit();
  }
}

DWORD CameraRoster::Discover() {
  m_groups.clear();
  // Device pass.
  for (const DeviceEntry& device : EnumerateVideoDevices()) {
    // A device name becomes a key and folder name: what a folder name cannot hold is
    // replaced (a V4L2 board name may hold '/').
    const std::string name = MakeStorableName(device.friendlyName);
    m_groups.push_back(std::make_unique<CameraGroup>(device.devicePath, name, CardIndexOf(device.devicePath, name),
                                                     s::DeviceInputCount(name)));
  }
  // Store pass.
  for (const auto& group : m_groups) {
    const std::string stored = s::ReadSz(s::kCameraGroupPath, group->m_devicePath, "");
    if (!stored.empty() && s::ValueExists(s::kCameraGroupPath, group->m_devicePath)) {
      group->m_displayName = stored;
      group->m_inputCount = std::min(s::ReadCardInputAmount(stored, group->m_inputCount), kMaxInputs);
    } else {
      const std::string& name = group->m_displayName;
      s::WriteSz(s::kCameraGroupPath, group->m_devicePath, name);
      s::CreateKey(s::GroupKeyPath(name));
      s::WriteCardInputAmount(name, group->m_inputCount);
      for (DWORD i = 0; i < group->m_inputCount; ++i) {
        const std::string input = s::InputValueName(static_cast<int>(i));
        s::WriteInputName(name, static_cast<int>(i), input);
        s::CreateKey(s::CameraKeyPath(name, input));
      }
      s::kCardFriendlyName.Write(name, name);
    }
    group->m_inputNames = InputNamesOf(group->m_displayName, group->m_inputCount);
    group->m_inputCount = static_cast<DWORD>(group->m_inputNames.size());
  }
  // Registry pass: groups known only from the store (their card is absent now).
  for (const auto& [path, name] : ReadGroupIndex()) {
    if (name.empty() || FindGroup(name) != nullptr) {
      continue;
    }
    const std::string friendly = s::kCardFriendlyName.Read(name);
    const DWORD count = std::min(s::ReadCardInputAmount(name, s::DeviceInputCount(friendly)), kMaxInputs);
    auto group = std::make_unique<CameraGroup>(path, name, CardIndexOf(path, friendly), count);
    group->m_inputNames = InputNamesOf(name, count);
    group->m_inputCount = static_cast<DWORD>(group->m_inputNames.size());
    m_groups.push_back(std::move(group));
  }
  m_totalInputs = 0;
  for (const auto& group : m_groups) {
    m_totalInputs += group->m_inputCount;
  }
  return m_totalInputs;
}

CameraGroup* CameraRoster::FindGroup(std::string_view displayName) const {
  for (const auto& group : m_groups) {
    if (group->m_displayName == displayName) {
      return group.get();
    }
  }
  return nullptr;
}

bool CameraRoster::StartGroup(CameraGroup& group) {
  if (!group.IsStopped()) {
    return true;
  }
  if (!PrepareCardLibrary(group, &m_libraryInitialised)) {
    m_host.ShowMessage(m_host.Text(176));
    return false;
  }
  auto graph = std::make_unique<GroupGraph>();
  graph->inputs.resize(group.m_inputCount);
  bool any = false;
  for (DWORD i = 0; i < group.m_inputCount; ++i) {
    InputSlot& slot = graph->inputs[i];
    slot.enabled = s::kInputEnabled.Read(group.m_displayName, group.m_inputNames[i]) != 0;
    any = any || slot.enabled;
  }
  group.m_anyInputEnabled = any;
  if (group.m_cardIndex >= 0) {
    (void)PV_SetVideoSource(group.m_cardIndex, 4);
  }
  if (!any) {
    m_host.ReportLine(m_host.Text(178) + " " + group.m_displayName + " " + m_host.Text(179));
    return false;
  }
  group.m_graph = std::move(graph);
  bool opened = true;
  for (DWORD i = 0; i < group.m_inputCount && opened; ++i) {
    InputSlot& slot = group.m_graph->inputs[i];
    const std::string& input = group.m_inputNames[i];
    CameraWindowShow show = CameraWindowShow::Hidden;
    if (slot.enabled) {
      show = s::kPrivacyMinimizeWindow.Read(group.m_displayName, input) != 0 ? CameraWindowShow::Minimized
                                                                             : CameraWindowShow::Normal;
    }
    opened = m_host.OpenCameraWindow(group, static_cast<int>(i), group.CameraTitle(static_cast<int>(i)), show,
                                     &slot.window);
  }
  if (!opened || !StartGroupPipeline(*this, group)) {
    StopGroup(group);
    return false;
  }
  m_host.PostActivateAndTile();
  CameraGroup* target = &group;
  m_host.SetTimer(reinterpret_cast<TimerId>(&group), RotationPeriodMs(group.m_displayName),
                  [this, target] { (void)OnRotationTimer(*this, *target); });
  // The free-space guard runs at least once a minute while any group records.
  m_host.SetTimer(reinterpret_cast<TimerId>(this), 60'000, [this] { EnforceArchiveReserve(*this); });
  m_host.RefreshGroupNode(group);
  return true;
}

void CameraRoster::StopGroup(CameraGroup& group) {
  m_host.KillTimer(reinterpret_cast<TimerId>(&group));
  if (group.m_graph) {
    TeardownGroupPipeline(*group.m_graph);
    m_host.CloseCameraWindows(group);
    group.m_graph.reset();
  }
  const bool anyRunning =
      std::any_of(m_groups.begin(), m_groups.end(), [](const auto& g) { return !g->IsStopped(); });
  if (!anyRunning) {
    m_host.KillTimer(reinterpret_cast<TimerId>(this));
  }
}

void CameraRoster::ToggleGroup(std::string_view displayName) {
  CameraGroup* group = FindGroup(displayName);
  if (group == nullptr) {
    return;
  }
  if (group->IsStopped()) {
    (void)StartGroup(*group);
  } else {
    StopGroup(*group);
  }
}

void CameraRoster::StartAll(const std::vector<std::string>& groupFilter) {
  // By index: a start may show a message box whose loop runs other commands.
  for (std::size_t i = 0; i < m_groups.size(); ++i) {
    CameraGroup& group = *m_groups[i];
    const bool wanted = groupFilter.empty() ||
                        std::any_of(groupFilter.begin(), groupFilter.end(),
                                    [&](const std::string& name) { return EqualsNoCase(name, group.m_displayName); });
    if (wanted) {
      (void)StartGroup(group);
    }
  }
}

void CameraRoster::StopAll() {
  for (std::size_t i = 0; i < m_groups.size(); ++i) {
    StopGroup(*m_groups[i]);
  }
}

namespace {

/// The message of a failed archive move.
std::string MoveFailureMessage(IEngineHost& host, const archive::MoveOutcome& outcome, const std::string& target) {
  using Result = archive::MoveOutcome::Result;
  switch (outcome.result) {
    case Result::TargetExists:
      return outcome.systemText + " " + host.Text(173) + " " + target + " " + host.Text(174);
    case Result::AccessDenied:
      return outcome.systemText + " " + host.Text(175);
    default:
      return outcome.systemText;
  }
}

}  // namespace

bool CameraRoster::RenameGroup(std::string_view oldName, std::string_view newName) {
  CameraGroup* group = FindGroup(oldName);
  if (group == nullptr) {
    return false;
  }
  // A group name becomes the archive folder and key name: it must stay one folder level.
  if (!IsValidFolderName(newName)) {
    m_host.ShowMessage(m_host.Text(2008));
    return false;
  }
  if (oldName == newName) {
    return true;
  }
  const std::vector<std::string> keys = s::SubKeyNames(s::kCameraGroupPath);
  if (std::any_of(keys.begin(), keys.end(), [&](const std::string& key) { return EqualsNoCase(key, newName); })) {
    m_host.ShowMessage(m_host.Text(2009));
    return false;
  }
  const std::string oldText(oldName);
  const std::string newText(newName);
  // Every input's archive root; inputs sharing one root move the folder once (a missing
  // source then counts as success).
  std::vector<std::pair<std::string, std::string>> moved;
  for (int i = 0; i < static_cast<int>(group->m_inputCount); ++i) {
    const std::string root = s::ReadVideoFileRoot(oldText, group->m_inputNames[static_cast<std::size_t>(i)]);
    const std::string from = root + oldText;
    const std::string to = root + newText;
    const archive::MoveOutcome outcome = archive::MoveArchiveDir(from, to);
    if (!outcome.Ok()) {
      m_host.ShowMessage(MoveFailureMessage(m_host, outcome, to));
      for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
        (void)archive::MoveArchiveDir(it->second, it->first);
      }
      return false;
    }
    if (outcome.result == archive::MoveOutcome::Result::Moved) {
      moved.emplace_back(from, to);
    }
  }
  if (!s::MoveKeyTree(s::GroupKeyPath(oldText), s::GroupKeyPath(newText))) {
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
      (void)archive::MoveArchiveDir(it->second, it->first);
    }
    m_host.ShowMessage(m_host.Text(2009));
    return false;
  }
  s::WriteSz(s::kCameraGroupPath, group->m_devicePath, newText);
  group->m_displayName = newText;
  if (!group->IsStopped()) {
    for (int i = 0; i < static_cast<int>(group->m_inputCount); ++i) {
      m_host.RetitleCameraWindow(*group, i, group->CameraTitle(i));
    }
  }
  m_host.RefreshTree();
  return true;
}

bool CameraRoster::RenameInput(std::string_view groupName, std::string_view oldName, std::string_view newName) {
  CameraGroup* group = FindGroup(groupName);
  if (group == nullptr) {
    return false;
  }
  const auto position = std::find(group->m_inputNames.begin(), group->m_inputNames.end(), oldName);
  if (position == group->m_inputNames.end()) {
    return false;
  }
  const int index = static_cast<int>(position - group->m_inputNames.begin());
  // The documented characters, plus what keeps the name one folder level that can be
  // read back: control characters, "." and "..", and more than 99 characters.
  bool valid = IsValidFolderName(newName);
  const std::string groupKey = s::GroupKeyPath(groupName);
  for (const std::string& value : s::ValueNames(groupKey)) {
    if (valid && EqualsNoCase(s::ReadSz(groupKey, value, ""), newName)) {
      valid = false;
    }
  }
  if (!valid) {
    m_host.ShowMessage(m_host.Text(122));
    return false;
  }
  const std::string groupText(groupName);
  const std::string oldText(oldName);
  const std::string newText(newName);
  const std::string root = s::ReadVideoFileRoot(groupText, oldText);
  const std::string to = root + groupText + "/" + newText;
  const archive::MoveOutcome outcome = archive::MoveArchiveDir(root + groupText + "/" + oldText, to);
  if (!outcome.Ok()) {
    m_host.ShowMessage(MoveFailureMessage(m_host, outcome, newText));
    return false;
  }
  s::WriteInputName(groupText, index, newText);
  (void)s::MoveKeyTree(s::CameraKeyPath(groupText, oldText), s::CameraKeyPath(groupText, newText));
  group->m_inputNames[static_cast<std::size_t>(index)] = newText;
  if (!group->IsStopped()) {
    m_host.RetitleCameraWindow(*group, index, group->CameraTitle(index));
  }
  m_host.RefreshGroupNode(*group);
  return true;
}

void CameraRoster::DeleteGroup(std::string_view displayName) {
  const auto it = std::find_if(m_groups.begin(), m_groups.end(),
                               [&](const auto& group) { return group->m_displayName == displayName; });
  if (it == m_groups.end()) {
    return;
  }
  CameraGroup& group = **it;
  StopGroup(group);
  s::DeleteValue(s::kCameraGroupPath, group.m_devicePath);
  s::DeleteKeyTree(s::GroupKeyPath(group.m_displayName));
  m_totalInputs -= group.m_inputCount;
  m_groups.erase(it);
  m_host.RefreshTree();
}

std::vector<std::pair<CameraGroup*, int>> CameraRoster::ActivateAllOrder() const {
  std::vector<std::pair<CameraGroup*, int>> order;
  for (const auto& group : m_groups) {
    if (group->IsStopped()) {
      continue;
    }
    for (int i = static_cast<int>(group->m_inputCount) - 1; i >= 0; --i) {
      order.emplace_back(group.get(), i);
    }
  }
  return order;
}

void CameraRoster::OnMotionCommand(CameraGroup& group, int input) {
  if (input < 0 || input >= static_cast<int>(group.m_inputCount)) {
    return;
  }
  const std::string& inputName = group.InputName(input);
  const motion::MotionAlarm alarm = motion::ReadMotionAlarm(group.m_displayName, inputName);
  // The document's title names the camera in the message log: "group-input".
  m_host.ReportLine(
      motion::OnMotionDetected(group.m_displayName, inputName, group.CameraTitle(input), m_host.Text(177), alarm));
}

bool CameraRoster::OnCameraWindowClosed(CameraGroup& group, int input) {
  if (group.IsStopped()) {
    return false;
  }
  if (!CameraWindowClosedMustStop(group, input)) {
    return false;
  }
  StopGroup(group);
  m_host.RefreshGroupNode(group);
  return true;
}

void CameraRoster::ShowDevicePropertyPages(CameraGroup& group) {
  if (group.IsStopped() || !group.m_graph->source) {
    m_host.ShowMessage(m_host.Text(123));
    return;
  }
  m_host.ShowPropertyPages(group.m_graph->source.Get(), group.m_displayName);
}

void CameraRoster::OnViewResized(CameraGroup& group, int input, LONG width, LONG height) {
  if (group.IsStopped() || input < 0 || input >= static_cast<int>(group.m_graph->inputs.size())) {
    return;
  }
  InputSlot& slot = group.m_graph->inputs[static_cast<std::size_t>(input)];
  slot.window.clientWidth = width;
  slot.window.clientHeight = height;
  if (slot.videoWindow) {
    (void)slot.videoWindow->SetWindowPosition(0, 0, width, height);
  }
}

std::vector<std::string> CameraRoster::FilesBeingWritten() const {
  std::vector<std::string> files;
  for (const auto& group : m_groups) {
    if (group->m_graph) {
      for (const InputSlot& slot : group->m_graph->inputs) {
        if (!slot.recordingPath.empty()) {
          files.push_back(slot.recordingPath);
          files.push_back(slot.recordingPath + "2");
        }
      }
    }
  }
  return files;
}

std::vector<std::pair<std::string, std::string>> CameraRoster::Cameras() const {
  std::vector<std::pair<std::string, std::string>> cameras;
  for (const auto& group : m_groups) {
    for (const std::string& input : group->m_inputNames) {
      cameras.emplace_back(group->m_displayName, input);
    }
  }
  return cameras;
}

}  // namespace halvard::engine
