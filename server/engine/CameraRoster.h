#pragma once
/// The camera roster: the server's ordered list of camera groups (one per video capture
/// device) with their inputs, discovered from the devices and reconciled with the
/// settings store, and the operations the operator runs on them: start, stop, rename,
/// delete.
///
/// Identity: a group is its device path; the "Camera Group" index maps the path to the
/// display name, which names the group key and the archive folder. An input is its
/// position; its display name ("Input %d" of the group key) names the camera key.
///
/// Threads: the user-interface thread only (start, stop, rotation and every operator
/// command run there, one after another).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/WinTypes.h"
#include "server/engine/EngineHost.h"

namespace halvard::engine {

struct GroupGraph;  // the running filter graph of a group (GroupPipeline.h)

/// One capture device and its inputs.
class CameraGroup {
 public:
  CameraGroup(std::string devicePath, std::string displayName, int cardIndex, DWORD inputCount);
  ~CameraGroup();
  CameraGroup(const CameraGroup&) = delete;
  CameraGroup& operator=(const CameraGroup&) = delete;

  [[nodiscard]] const std::string& DevicePath() const { return m_devicePath; }
  [[nodiscard]] const std::string& DisplayName() const { return m_displayName; }
  /// The card library's number of the group's card; -1 for a network camera.
  [[nodiscard]] int CardIndex() const { return m_cardIndex; }
  [[nodiscard]] DWORD InputCount() const { return m_inputCount; }
  [[nodiscard]] const std::vector<std::string>& InputNames() const { return m_inputNames; }
  [[nodiscard]] const std::string& InputName(int input) const { return m_inputNames.at(static_cast<std::size_t>(input)); }
  /// "group-input", the title of the input's camera document.
  [[nodiscard]] std::string CameraTitle(int input) const;
  [[nodiscard]] bool IsStopped() const { return m_graph == nullptr; }
  [[nodiscard]] bool AnyInputEnabled() const { return m_anyInputEnabled; }
  /// The running graph (null while stopped).
  [[nodiscard]] GroupGraph* Graph() const { return m_graph.get(); }

 private:
  friend class CameraRoster;
  friend struct GroupAccess;

  std::string m_devicePath;
  std::string m_displayName;
  int m_cardIndex = 0;
  DWORD m_inputCount = 0;
  std::vector<std::string> m_inputNames;
  bool m_anyInputEnabled = false;
  std::unique_ptr<GroupGraph> m_graph;
};

/// Options of the process command line: "-G" group names, "-M" monitor number.
struct CommandLineOptions {
  std::vector<std::string> arguments;  ///< after the program name
  int monitor = 1;
  std::vector<std::string> groupFilter;
};
/// Options are matched case-insensitively; the first occurrence of each counts. "-M"
/// takes the next argument as a decimal number (a non-number reads 0); "-G" takes every
/// following argument up to the next "-M" or the end.
[[nodiscard]] CommandLineOptions ParseCommandLine(const std::vector<std::string>& arguments);

/// Whether a name may become a folder and key name: not empty, at most 99 characters,
/// none of \ / : * ? " < > | nor a control character, not "." or "..".
[[nodiscard]] bool IsValidFolderName(std::string_view name);
/// A device's friendly name made storable: every character a folder name may not hold
/// becomes '_', "." and ".." become "_", and the name is cut to 99 characters (at a
/// character boundary). Valid names come back unchanged.
[[nodiscard]] std::string MakeStorableName(std::string_view deviceName);

class CameraRoster {
 public:
  explicit CameraRoster(IEngineHost& host);
  /// Stops every group and releases the card library when this process initialised it.
  ~CameraRoster();
  CameraRoster(const CameraRoster&) = delete;
  CameraRoster& operator=(const CameraRoster&) = delete;

  /// Builds the roster: the device pass, the store pass (first-time devices are written
  /// to the store), the registry pass (groups known only from the store). Returns the
  /// total input count.
  DWORD Discover();

  [[nodiscard]] const std::vector<std::unique_ptr<CameraGroup>>& Groups() const { return m_groups; }
  /// Exact, case-sensitive.
  [[nodiscard]] CameraGroup* FindGroup(std::string_view displayName) const;
  [[nodiscard]] DWORD TotalInputCount() const { return m_totalInputs; }

  /// Starts a stopped group (nothing when it runs). True when it runs afterwards.
  bool StartGroup(CameraGroup& group);
  /// Stops a running group: rotation timer, graph, camera documents.
  void StopGroup(CameraGroup& group);
  /// Starts it when stopped, else stops it.
  void ToggleGroup(std::string_view displayName);
  /// Every group in the filter (case-insensitive), or every group for an empty filter.
  void StartAll(const std::vector<std::string>& groupFilter);
  void StopAll();

  /// Renames a group: archive folders of every input, group key, "Camera Group" index.
  /// False (a message shown, nothing changed) on failure.
  bool RenameGroup(std::string_view oldName, std::string_view newName);
  /// Renames an input of a group: validation (message 122), archive folder (173/174,
  /// 175), "Input %d", camera key, document title, tree node. False on failure.
  bool RenameInput(std::string_view group, std::string_view oldName, std::string_view newName);
  /// Deletes a stopped or running group from the store and the roster.
  void DeleteGroup(std::string_view displayName);

  /// The camera windows in activate-all order: groups in order, each group's inputs from
  /// the last to the first.
  [[nodiscard]] std::vector<std::pair<CameraGroup*, int>> ActivateAllOrder() const;

  /// The motion command (324) of an input's frame: event log line, output line, sound.
  void OnMotionCommand(CameraGroup& group, int input);
  /// The operator closed a camera window of a running group. True when the group was
  /// stopped as a consequence.
  bool OnCameraWindowClosed(CameraGroup& group, int input);

  /// The capture device's own property pages (message 123 while the group is stopped).
  void ShowDevicePropertyPages(CameraGroup& group);
  /// A camera view changed size: its picture fills the new client area.
  void OnViewResized(CameraGroup& group, int input, LONG width, LONG height);

  /// Files being written right now by every running group (absolute paths).
  [[nodiscard]] std::vector<std::string> FilesBeingWritten() const;
  /// Every camera of the roster as (group, input) display names.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> Cameras() const;

  /// Whether this process initialised the card library.
  [[nodiscard]] bool CardLibraryInitialised() const { return m_libraryInitialised; }

  [[nodiscard]] IEngineHost& Host() const { return m_host; }

  /// Bytes free for the archive on the file system of a path (nullopt: unknown). The
  /// default asks the file system; tests inject a small disk.
  using FreeSpaceFn = std::function<std::optional<std::uint64_t>(const std::string& path)>;
  void SetFreeSpaceFunction(FreeSpaceFn freeSpace) { m_freeSpace = std::move(freeSpace); }
  [[nodiscard]] const FreeSpaceFn& FreeSpaceFunction() const { return m_freeSpace; }
  /// The free-space guard could not (or could again) meet the reserve: one line when
  /// that changes, not one a minute.
  void NoteReserveUnmet(bool unmet);

 private:
  friend struct GroupAccess;
  IEngineHost& m_host;
  std::vector<std::unique_ptr<CameraGroup>> m_groups;
  DWORD m_totalInputs = 0;
  bool m_libraryInitialised = false;
  FreeSpaceFn m_freeSpace;
  bool m_reserveUnmet = false;
};

}  // namespace halvard::engine
