#pragma once
/// The windows' view of the camera roster (ui::IRosterOperations) over the engine's
/// CameraRoster.
///
/// Threads: the user-interface thread only.

#include "server/engine/CameraRoster.h"
#include "server/ui/RosterOperations.h"

namespace halvard::app {

class CEngineRoster final : public ui::IRosterOperations {
 public:
  /// roster must outlive the object.
  explicit CEngineRoster(engine::CameraRoster& roster) : m_roster(roster) {}

  [[nodiscard]] std::vector<std::string> GroupNames() const override;
  [[nodiscard]] bool IsGroupRunning(std::string_view group) const override;
  void StartAll(const std::vector<std::string>& groupFilter) override { m_roster.StartAll(groupFilter); }
  void StopAll() override { m_roster.StopAll(); }
  void ToggleGroup(std::string_view group) override { m_roster.ToggleGroup(group); }
  bool RenameGroup(std::string_view oldName, std::string_view newName) override {
    return m_roster.RenameGroup(oldName, newName);
  }
  void DeleteGroup(std::string_view group) override { m_roster.DeleteGroup(group); }
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> Cameras() const override {
    return m_roster.Cameras();
  }
  [[nodiscard]] std::vector<std::pair<engine::CameraGroup*, int>> ActivateAllOrder() const override {
    return m_roster.ActivateAllOrder();
  }
  void OnMotionCommand(engine::CameraGroup& group, int input) override { m_roster.OnMotionCommand(group, input); }
  void OnCameraWindowClosed(engine::CameraGroup& group, int input) override {
    (void)m_roster.OnCameraWindowClosed(group, input);
  }
  [[nodiscard]] std::vector<std::string> FilesBeingWritten() const override { return m_roster.FilesBeingWritten(); }

 private:
  engine::CameraRoster& m_roster;
};

}  // namespace halvard::app
