#pragma once
/// The start-up steps of the real server: the resource module, the engine's roster, the
/// main frame as the engine's host, and what the start-up arms and posts. Owns all of
/// them for the life of the process; the destructor takes them down in reverse order
/// (roster first, so every group is stopped while its windows still exist).
///
/// Threads: the user-interface thread, with a QApplication.

#include <memory>
#include <string>

#include "server/app/EngineRoster.h"
#include "server/app/ResourceModule.h"
#include "server/app/StartupSequence.h"
#include "server/ui/MainFrame.h"

namespace halvard::app {

class CServerSteps final : public IStartupSteps {
 public:
  CServerSteps();
  ~CServerSteps() override;
  CServerSteps(const CServerSteps&) = delete;
  CServerSteps& operator=(const CServerSteps&) = delete;

  void InitialiseProfileAndCom() override;
  [[nodiscard]] bool LoadResources() override;
  void DiscoverRoster() override;
  void RegisterDocumentTemplates() override;
  void CreateMainFrame() override;
  void ApplyCommandLine(const engine::CommandLineOptions& options) override;
  void PlaceOnMonitor(int monitor) override;
  void ShowMaximised() override;
  void PostCleanUpAndArmTimer() override;
  void StartAll(const std::vector<std::string>& groupFilter) override;
  void PostLockDesktop() override;
  void StartTourTimer() override;
  void WriteLastStartup() override;

  /// The main frame (null before CreateMainFrame).
  [[nodiscard]] ui::CMainFrame* MainFrame() const { return m_frame.get(); }

 private:
  /// The engine's host: the main frame once it exists; before it (discovery runs
  /// first) texts from the module and lines to standard error.
  class CForwardingHost;

  CResourceModule m_resources;
  std::unique_ptr<CForwardingHost> m_host;
  std::unique_ptr<ui::CMainFrame> m_frame;
  std::unique_ptr<engine::CameraRoster> m_roster;
  std::unique_ptr<CEngineRoster> m_rosterOps;
  bool m_comInitialised = false;
};

}  // namespace halvard::app
