#pragma once
/// What the main frame asks of the camera roster. The start-up layer implements it over
/// the engine's CameraRoster; tests implement it with a recorder, so the windows are
/// tested without capture devices.
///
/// Threads: the user-interface thread only.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace halvard::engine {
class CameraGroup;
}

namespace halvard::ui {

class IRosterOperations {
 public:
  virtual ~IRosterOperations() = default;
  /// Display names of the groups, in roster order.
  [[nodiscard]] virtual std::vector<std::string> GroupNames() const = 0;
  /// Whether the named group runs (false for an unknown name).
  [[nodiscard]] virtual bool IsGroupRunning(std::string_view group) const = 0;
  /// Every group of the filter (all for an empty filter), synchronously.
  virtual void StartAll(const std::vector<std::string>& groupFilter) = 0;
  virtual void StopAll() = 0;
  virtual void ToggleGroup(std::string_view group) = 0;
  /// False when refused (the engine has told the operator why).
  virtual bool RenameGroup(std::string_view oldName, std::string_view newName) = 0;
  virtual void DeleteGroup(std::string_view group) = 0;
  /// Every camera as (group, input) display names.
  [[nodiscard]] virtual std::vector<std::pair<std::string, std::string>> Cameras() const = 0;
  /// Camera windows in activate-all order.
  [[nodiscard]] virtual std::vector<std::pair<engine::CameraGroup*, int>> ActivateAllOrder() const = 0;
  /// The motion command of a camera's frame.
  virtual void OnMotionCommand(engine::CameraGroup& group, int input) = 0;
  /// The operator closed a camera window of a running group.
  virtual void OnCameraWindowClosed(engine::CameraGroup& group, int input) = 0;
  /// Recording files being written now (absolute paths).
  [[nodiscard]] virtual std::vector<std::string> FilesBeingWritten() const = 0;
};

}  // namespace halvard::ui
