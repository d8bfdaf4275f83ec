#include "shell/Launcher.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>

#include "platform/registry/Registry.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::shell {

// Readable failure messages.
void PrintTo(const ScreenLaunch& l, std::ostream* os) {
  *os << "{screen " << l.screen << ", delay " << l.delaySeconds << ", groups";
  for (const std::string& g : l.groups) {
    *os << " [" << g << "]";
  }
  *os << "}";
}

namespace {

using settings::kCameraGroupPath;
using Tokens = std::vector<std::string>;

TEST(LauncherCommandLine, QuotesEveryTokenAndSplitsBackExactly) {
  ScreenLaunch launch{2, {"BT878 Capture 0", "Gate"}, 5};
  const Tokens tokens = LaunchArguments("/opt/halvard/bin/Halvard", launch);
  EXPECT_EQ(tokens, (Tokens{"/opt/halvard/bin/Halvard", "-G", "BT878 Capture 0", "Gate", "-M", "2"}));
  const std::string line = BuildCommandLine(tokens);
  EXPECT_EQ(line, R"("/opt/halvard/bin/Halvard" "-G" "BT878 Capture 0" "Gate" "-M" "2")");
  EXPECT_EQ(SplitCommandLine(line), tokens);

  // The launch without groups is the program alone.
  EXPECT_EQ(LaunchArguments("/x/Halvard", ScreenLaunch{}), (Tokens{"/x/Halvard"}));
  EXPECT_EQ(BuildCommandLine({"/x/Halvard"}), R"("/x/Halvard")");

  // Names the store may hold that would otherwise break the quoting come back intact.
  const Tokens awkward{"/dir with blanks/Halvard", "-G", "say \"hi\"", "ends\\", "a\\\\b", "tab\there", "", "-M", "1"};
  EXPECT_EQ(SplitCommandLine(BuildCommandLine(awkward)), awkward);
  EXPECT_EQ(BuildCommandLine({"ends\\"}), R"("ends\\")");
  EXPECT_EQ(BuildCommandLine({"a\"b"}), R"("a\"b")");
}

TEST(LauncherCommandLine, SplitsHandWrittenLines) {
  EXPECT_EQ(SplitCommandLine(""), Tokens{});
  EXPECT_EQ(SplitCommandLine("  a   b\t c  "), (Tokens{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine(R"("a b"c "" d)"), (Tokens{"a bc", "", "d"}));
  // Backslashes are literal except before a quotation mark.
  EXPECT_EQ(SplitCommandLine(R"(C:\dir\x.exe a\\\"b c\\"d e")"), (Tokens{R"(C:\dir\x.exe)", R"(a\"b)", R"(c\d e)"}));
  // An unclosed quotation runs to the end.
  EXPECT_EQ(SplitCommandLine(R"(-G "Yard -M 1)"), (Tokens{"-G", "Yard -M 1"}));
}

// Reads the "Card Screen" and "Card Screen Delay" of named groups from tables.
struct FakeGroups {
  std::map<std::string, DWORD, std::less<>> screen;
  std::map<std::string, DWORD, std::less<>> delay;
  std::vector<ScreenLaunch> Plan(const Tokens& groups) const {
    std::vector<GroupLaunchEntry> entries;
    for (const std::string& g : groups) {
      entries.push_back({"device " + g, g});
    }
    return PlanLaunches(
        entries,
        [&](std::string_view g) {
          const auto it = screen.find(g);
          return it == screen.end() ? DWORD{1} : it->second;
        },
        [&](std::string_view g) {
          const auto it = delay.find(g);
          return it == delay.end() ? DWORD{5} : it->second;
        });
  }
};

TEST(LauncherPlan, OneStartPerDisplayInDisplayOrder) {
  FakeGroups f;
  f.screen = {{"A", 2}, {"B", 1}, {"C", 2}, {"D", 4}};
  f.delay = {{"A", 3}, {"C", 9}, {"B", 0}};
  EXPECT_EQ(f.Plan({"A", "B", "C", "D"}),
            (std::vector<ScreenLaunch>{{1, {"B"}, 0}, {2, {"A", "C"}, 9}, {4, {"D"}, 5}}));

  // Two groups on display 2 and none on 1: one server with both.
  f = {};
  f.screen = {{"A", 2}, {"B", 2}};
  EXPECT_EQ(f.Plan({"A", "B"}), (std::vector<ScreenLaunch>{{2, {"A", "B"}, 5}}));
}

TEST(LauncherPlan, GroupsOutsideTheDisplaysAreLeftOut) {
  FakeGroups f;
  f.screen = {{"Far", 5}, {"Zero", 0}, {"Near", 3}};
  EXPECT_EQ(f.Plan({"Far", "Zero", "Near"}), (std::vector<ScreenLaunch>{{3, {"Near"}, 5}}));
  // With no group on a display 1 ... 4 (or none at all) one server without arguments
  // starts, and no pause follows it.
  EXPECT_EQ(f.Plan({"Far", "Zero"}), (std::vector<ScreenLaunch>{ScreenLaunch{}}));
  EXPECT_EQ(f.Plan({}), (std::vector<ScreenLaunch>{ScreenLaunch{}}));
}

class LauncherStore : public ::testing::Test {
 protected:
  static void SetRaw(std::string_view name, DWORD type, const std::vector<BYTE>& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kCameraGroupPath, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, name, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  halvard::testing::ScopedRegistry m_registry;
};

TEST_F(LauncherStore, CreatesTheMissingKeyAndFindsNoGroup) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kCameraGroupPath, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  std::vector<std::string> notes;
  EXPECT_TRUE(CollectGroupEntries(&notes).empty());
  EXPECT_TRUE(notes.empty());
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kCameraGroupPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(PlanLaunches({}), (std::vector<ScreenLaunch>{ScreenLaunch{}}));
}

TEST_F(LauncherStore, EntriesInStoreOrderWithoutRepeatedNames) {
  settings::WriteSz(kCameraGroupPath, "/dev/video2", "Yard");
  settings::WriteSz(kCameraGroupPath, "/dev/video0", "Gate");
  settings::WriteSz(kCameraGroupPath, "/dev/video9", "Yard");  // the same group again
  settings::WriteSz(kCameraGroupPath, "/dev/video5", "yard");  // another name: case counts
  const std::vector<GroupLaunchEntry> entries = CollectGroupEntries();
  EXPECT_EQ(entries, (std::vector<GroupLaunchEntry>{
                         {"/dev/video2", "Yard"}, {"/dev/video0", "Gate"}, {"/dev/video5", "yard"}}));

  // Stored displays and delays, and their defaults (display 1, five seconds). "yard"
  // names the same group key as "Yard" (key names ignore case) and follows its display.
  settings::kCardScreen.Write("Gate", 2);
  settings::kCardScreenDelay.Write("Gate", 7);
  settings::kCardScreenDelay.Write("yard", 3);
  EXPECT_EQ(PlanLaunches(entries), (std::vector<ScreenLaunch>{{1, {"Yard", "yard"}, 3}, {2, {"Gate"}, 7}}));
}

TEST_F(LauncherStore, ValuesThatCannotBeGroupsAreSkippedAndTheRestRead) {
  settings::WriteSz(kCameraGroupPath, "/dev/video0", "First");
  settings::WriteSz(kCameraGroupPath, "/dev/video1", std::string(99, 'n'));   // 200 bytes: fits
  settings::WriteSz(kCameraGroupPath, "/dev/video2", std::string(100, 'x'));  // 202 bytes
  settings::WriteDword(kCameraGroupPath, "/dev/video3", 7);
  settings::WriteSz(kCameraGroupPath, "/dev/video4", "");
  settings::WriteSz(kCameraGroupPath, std::string(200, 'p'), "Long name");
  settings::WriteSz(kCameraGroupPath, std::string(199, 'q'), "Name fits");
  SetRaw("/dev/video5", REG_SZ, {'O', 0, 'K', 0});  // no terminator stored
  settings::WriteSz(kCameraGroupPath, "/dev/video6", "Last");
  std::vector<std::string> notes;
  const std::vector<GroupLaunchEntry> entries = CollectGroupEntries(&notes);
  Tokens groups;
  for (const GroupLaunchEntry& e : entries) {
    groups.push_back(e.valueData);
  }
  EXPECT_EQ(groups, (Tokens{"First", std::string(99, 'n'), "Name fits", "OK", "Last"}));
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_NE(notes[0].find("/dev/video2"), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("not a string"), std::string::npos) << notes[1];
  EXPECT_NE(notes[2].find("no group name"), std::string::npos) << notes[2];
  EXPECT_NE(notes[3].find("name exceeds"), std::string::npos) << notes[3];
}

TEST(LauncherEnvironment, DelayScaleAndServerPath) {
  const char* kName = "HALVARD_SHELL_DELAY_SCALE_MS";
  unsetenv(kName);
  EXPECT_EQ(DelayScale().count(), 1000);
  for (const char* bad : {"", "-5", "12ms", "fast", "99999999999999999999999"}) {
    setenv(kName, bad, 1);
    EXPECT_EQ(DelayScale().count(), 1000) << bad;
  }
  setenv(kName, "0", 1);
  EXPECT_EQ(DelayScale().count(), 0);
  setenv(kName, "25", 1);
  EXPECT_EQ(DelayScale().count(), 25);
  unsetenv(kName);

  // Beside this test program, as it would be beside the launcher.
  const std::string server = ServerPath();
  ASSERT_FALSE(server.empty());
  EXPECT_EQ(std::filesystem::path(server).filename(), "Halvard");
  EXPECT_EQ(std::filesystem::path(server).parent_path(), halvard::testing::BuildDir() / "tests");
}

TEST(LauncherProcess, StartFailureIsReportedAndPauseReaps) {
  std::string error;
  EXPECT_EQ(StartProcess({"/nonexistent/Halvard", "-G"}, &error), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(StartProcess({}, &error), -1);

  const int pid = StartProcess({"/bin/sh", "-c", "exit 3"}, &error);
  ASSERT_GT(pid, 0) << error;
  // The child ends during the pause and is collected by it: no zombie is left to wait for.
  for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i) {
    PauseReapingChildren(std::chrono::milliseconds{60});
  }
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace halvard::shell
