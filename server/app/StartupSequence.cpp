#include "server/app/StartupSequence.h"

#include "server/settings/Settings.h"

namespace halvard::app {

bool RunStartup(IStartupSteps& steps, const std::vector<std::string>& arguments) {
  steps.InitialiseProfileAndCom();
  if (!steps.LoadResources()) {
    return false;
  }
  steps.DiscoverRoster();
  steps.RegisterDocumentTemplates();
  steps.CreateMainFrame();
  const engine::CommandLineOptions options = engine::ParseCommandLine(arguments);
  steps.ApplyCommandLine(options);
  steps.PlaceOnMonitor(options.monitor);
  steps.ShowMaximised();
  steps.PostCleanUpAndArmTimer();
  if (settings::kBootAutoStart.Read() != 0) {
    steps.StartAll(options.groupFilter);
  }
  if (settings::kPrivacyLockDesktop.Read() != 0) {
    steps.PostLockDesktop();
  }
  steps.StartTourTimer();
  steps.WriteLastStartup();
  return true;
}

}  // namespace halvard::app
