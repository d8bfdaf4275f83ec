#pragma once
/// The order of the server's start-up. The steps are an interface so that the order and
/// its conditions are one function: the server runs it against its engine and windows
/// (CServerSteps), the tests against a recorder.
///
/// Threads: the user-interface thread.

#include <string>
#include <vector>

#include "server/engine/CameraRoster.h"

namespace halvard::app {

class IStartupSteps {
 public:
  virtual ~IStartupSteps() = default;
  /// The profile key and the component runtime.
  virtual void InitialiseProfileAndCom() = 0;
  /// The resource module; false ends the start-up (the step has told the operator).
  [[nodiscard]] virtual bool LoadResources() = 0;
  virtual void DiscoverRoster() = 0;
  virtual void RegisterDocumentTemplates() = 0;
  virtual void CreateMainFrame() = 0;
  /// The parsed command line ("-G", "-M").
  virtual void ApplyCommandLine(const engine::CommandLineOptions& options) = 0;
  virtual void PlaceOnMonitor(int monitor) = 0;
  virtual void ShowMaximised() = 0;
  /// Posts the archive clean-up (275) and arms its daily timer (1983).
  virtual void PostCleanUpAndArmTimer() = 0;
  /// Starts the groups of the filter (all for an empty one), synchronously.
  virtual void StartAll(const std::vector<std::string>& groupFilter) = 0;
  /// Posts the lock-desktop command (32851).
  virtual void PostLockDesktop() = 0;
  /// Arms the tour timer (1982).
  virtual void StartTourTimer() = 0;
  virtual void WriteLastStartup() = 0;
};

/// Runs the start-up: profile and COM, resources (false: stop), roster, templates, main
/// frame, command line, placement, maximised, clean-up and its timer, "Boot Auto Start"
/// → start all of the filter, "Privacy Lock Desktop" → lock, tour timer, "Last Startup".
/// `arguments` excludes the program name. True when the server is up.
[[nodiscard]] bool RunStartup(IStartupSteps& steps, const std::vector<std::string>& arguments);

}  // namespace halvard::app
