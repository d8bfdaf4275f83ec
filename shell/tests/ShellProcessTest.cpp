// The real HalvardShell, copied into a folder of its own beside a stand-in "Halvard"
// script that appends its arguments to starts.log. The settings store is the test's
// private one; the launcher and the stand-ins inherit $HALVARD_REGISTRY.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/settings/Settings.h"
#include "shell/Launcher.h"
#include "tests/support/TestSupport.h"

namespace halvard::shell {
namespace {

namespace fs = std::filesystem;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using settings::kCameraGroupPath;
using Tokens = std::vector<std::string>;

class ShellProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    // bin/HalvardShell with lib/ beside it, so its run path finds the build's libraries.
    fs::create_directory(m_dir.Path() / "bin");
    fs::create_directory_symlink(halvard::testing::BuildDir() / "lib", m_dir.Path() / "lib");
    m_shell = (m_dir.Path() / "bin" / "HalvardShell").string();
    fs::copy_file(halvard::testing::ProgramPath("HalvardShell"), m_shell);
    m_log = (m_dir.Path() / "bin" / "starts.log").string();
  }

  void InstallServer() const {
    const fs::path server = m_dir.Path() / "bin" / "Halvard";
    std::ofstream(server) << "#!/bin/sh\n"
                             "line=\"$#\"\n"
                             "for a in \"$@\"; do line=\"$line|$a\"; done\n"
                             "printf '%s\\n' \"$line\" >> \"$(dirname \"$0\")/starts.log\"\n";
    fs::permissions(server, fs::perms::owner_all);
  }

  static void AddGroup(const std::string& device, const std::string& group, DWORD screen) {
    settings::WriteSz(kCameraGroupPath, device, group);
    settings::kCardScreen.Write(group, screen);
  }

  // Runs the launcher to its end (and, through the shared output pipe, every stand-in
  // it started); returns its exit status and its standard error.
  halvard::testing::CommandResult Run(int delayScaleMs = 1) const {
    return RunCommand("HALVARD_SHELL_DELAY_SCALE_MS=" + std::to_string(delayScaleMs) + " " + ShellQuote(m_shell),
                      true);
  }

  // Each start as "argc|arg|arg...", sorted (the starts may finish in any order).
  Tokens Starts() const {
    Tokens lines;
    std::ifstream in(m_log);
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  halvard::testing::ScopedRegistry m_registry;
  halvard::testing::TempDir m_dir;
  std::string m_shell;
  std::string m_log;
};

TEST_F(ShellProcess, OneServerPerDisplayWithItsGroups) {
  InstallServer();
  AddGroup("/dev/video0", "Yard", 1);
  AddGroup("/dev/video1", "Front Gate", 2);
  AddGroup("/dev/video2", "Hall", 1);
  settings::WriteSz(kCameraGroupPath, "/dev/video3", "Yard");  // a repeated name is started once
  AddGroup("/dev/video4", "Roof", 5);  // no such display: not started
  const auto result = Run();
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(Starts(), (Tokens{"4|-G|Front Gate|-M|2", "5|-G|Yard|Hall|-M|1"}));
  EXPECT_NE(result.output.find(R"("-G" "Yard" "Hall" "-M" "1")"), std::string::npos) << result.output;
}

TEST_F(ShellProcess, TwoGroupsOnDisplayTwoGiveOneServer) {
  InstallServer();
  AddGroup("/dev/video0", "A", 2);
  AddGroup("/dev/video1", "B", 2);
  EXPECT_EQ(Run().status, 0);
  EXPECT_EQ(Starts(), (Tokens{"5|-G|A|B|-M|2"}));
}

TEST_F(ShellProcess, WithoutGroupsOnADisplayOneServerWithoutArguments) {
  InstallServer();
  EXPECT_EQ(Run().status, 0);  // no groups at all
  EXPECT_EQ(Starts(), (Tokens{"0"}));
  EXPECT_TRUE(settings::SubKeyNames(settings::kRootPath) == Tokens{"Camera Group"});

  fs::remove(m_log);
  AddGroup("/dev/video0", "Roof", 5);
  EXPECT_EQ(Run().status, 0);
  EXPECT_EQ(Starts(), (Tokens{"0"}));
}

TEST_F(ShellProcess, FailedStartIsReportedAndThePauseStillHappens) {
  // No server beside the launcher.
  AddGroup("/dev/video0", "A", 1);
  AddGroup("/dev/video1", "B", 3);
  settings::kCardScreenDelay.Write("A", 2);
  settings::kCardScreenDelay.Write("B", 1);
  const auto begin = std::chrono::steady_clock::now();
  const auto result = Run(100);
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_EQ(result.status, 0);
  std::istringstream lines(result.output);
  int failures = 0;
  for (std::string line; std::getline(lines, line);) {
    failures += line.find("cannot start") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(failures, 2) << result.output;
  // Two plus one "seconds" of 100 ms were waited (a lower bound only).
  EXPECT_GE(elapsed, std::chrono::milliseconds{300});
}

// The processes whose parent is `pid`, with their states.
std::vector<char> ChildStates(int pid) {
  std::vector<char> states;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string text;
    if (!std::getline(stat, text)) {
      continue;
    }
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
      continue;
    }
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    int parent = 0;
    if (rest >> state >> parent && parent == pid) {
      states.push_back(state);
    }
  }
  return states;
}

TEST_F(ShellProcess, AServerThatEndsDuringThePauseLeavesNoZombie) {
  InstallServer();
  AddGroup("/dev/video0", "A", 1);
  AddGroup("/dev/video1", "B", 2);
  settings::kCardScreenDelay.Write("A", 30);  // a long pause after the first server
  setenv("HALVARD_SHELL_DELAY_SCALE_MS", "1000", 1);
  std::string error;
  const int launcher = StartProcess({m_shell}, &error);
  unsetenv("HALVARD_SHELL_DELAY_SCALE_MS");
  ASSERT_GT(launcher, 0) << error;

  bool started = false;
  bool childless = false;
  for (int i = 0; i < 200 && !childless; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds{50});
    started = started || !Starts().empty();
    childless = started && ChildStates(launcher).empty();
  }
  // Still pausing, yet the ended server is gone rather than a zombie child.
  EXPECT_TRUE(started);
  EXPECT_TRUE(childless) << std::string(ChildStates(launcher).begin(), ChildStates(launcher).end());
  EXPECT_EQ(waitpid(launcher, nullptr, WNOHANG), 0);
  EXPECT_EQ(Starts(), (Tokens{"4|-G|A|-M|1"}));
  kill(launcher, SIGTERM);
  int status = 0;
  EXPECT_EQ(waitpid(launcher, &status, 0), launcher);
}

}  // namespace
}  // namespace halvard::shell
