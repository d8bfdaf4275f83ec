// The order of the start-up and its conditions, recorded through the steps.

#include <gtest/gtest.h>

#include "server/app/StartupSequence.h"
#include "server/settings/Settings.h"

namespace halvard::app {
namespace {

namespace st = halvard::settings;

class CRecordingSteps final : public IStartupSteps {
 public:
  std::vector<std::string> steps;
  bool resources = true;
  std::vector<std::string> filter;
  int monitor = 0;

  void InitialiseProfileAndCom() override { steps.push_back("com"); }
  bool LoadResources() override {
    steps.push_back("resources");
    return resources;
  }
  void DiscoverRoster() override { steps.push_back("discover"); }
  void RegisterDocumentTemplates() override { steps.push_back("templates"); }
  void CreateMainFrame() override { steps.push_back("frame"); }
  void ApplyCommandLine(const engine::CommandLineOptions& options) override {
    steps.push_back("command line");
    filter = options.groupFilter;
  }
  void PlaceOnMonitor(int m) override {
    steps.push_back("place");
    monitor = m;
  }
  void ShowMaximised() override { steps.push_back("maximised"); }
  void PostCleanUpAndArmTimer() override { steps.push_back("275+1983"); }
  void StartAll(const std::vector<std::string>&) override { steps.push_back("start all"); }
  void PostLockDesktop() override { steps.push_back("32851"); }
  void StartTourTimer() override { steps.push_back("1982"); }
  void WriteLastStartup() override { steps.push_back("last startup"); }
};

TEST(StartupTest, StepsRunInOrderWithTheDefaults) {
  st::kBootAutoStart.Write(1);
  st::kPrivacyLockDesktop.Write(1);
  CRecordingSteps steps;
  ASSERT_TRUE(RunStartup(steps, {"-g", "Card A", "Card B", "-M", "2"}));
  EXPECT_EQ(steps.steps, (std::vector<std::string>{"com", "resources", "discover", "templates", "frame",
                                                   "command line", "place", "maximised", "275+1983", "start all",
                                                   "32851", "1982", "last startup"}));
  EXPECT_EQ(steps.filter, (std::vector<std::string>{"Card A", "Card B"}));
  EXPECT_EQ(steps.monitor, 2);
}

TEST(StartupTest, AutoStartAndLockFollowTheirSettings) {
  st::kBootAutoStart.Write(0);
  st::kPrivacyLockDesktop.Write(0);
  CRecordingSteps steps;
  ASSERT_TRUE(RunStartup(steps, {}));
  EXPECT_EQ(std::count(steps.steps.begin(), steps.steps.end(), "start all"), 0);
  EXPECT_EQ(std::count(steps.steps.begin(), steps.steps.end(), "32851"), 0);
  EXPECT_EQ(steps.steps.back(), "last startup");
  EXPECT_EQ(steps.monitor, 1) << "no -M: display 1";
  st::kBootAutoStart.Write(1);
  st::kPrivacyLockDesktop.Write(1);
}

TEST(StartupTest, AMissingResourceModuleEndsTheStartUp) {
  CRecordingSteps steps;
  steps.resources = false;
  EXPECT_FALSE(RunStartup(steps, {}));
  EXPECT_EQ(steps.steps, (std::vector<std::string>{"com", "resources"}));
}

}  // namespace
}  // namespace halvard::app
