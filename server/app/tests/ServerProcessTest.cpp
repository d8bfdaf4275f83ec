// The real server as a real process on the offscreen platform with a simulated card:
// it records, and a SIGTERM ends it as the operator's close would, with every file
// complete and the start-up and shutdown times written.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace st = halvard::settings;
using halvard::testing::LibraryPath;
using halvard::testing::ProgramPath;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;

std::vector<fs::path> Recordings(const fs::path& root) {
  std::vector<fs::path> files;
  if (fs::exists(root)) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file() && entry.path().extension() == ".wmv") {
        files.push_back(entry.path());
      }
    }
  }
  return files;
}

TEST(ServerProcess, RecordsASimulatedCardAndEndsCleanlyOnSigterm) {
  const auto registered = RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " " +
                                         ShellQuote(LibraryPath("libZelSplitter.so")) + " " +
                                         ShellQuote(LibraryPath("libZelMotion.so")) + " " +
                                         ShellQuote(LibraryPath("libZelHDSimulation.so")),
                                     true);
  ASSERT_EQ(registered.status, 0) << registered.output;
  st::kLastStartup.Write("");
  st::kLastShutdown.Write("");
  setenv("HALVARD_SIMULATED_CARDS", "1", 1);
  setenv("XDG_CONFIG_HOME", (st::DataRoot() + "config").c_str(), 1);
  // The first camera broadcasts (on a port of this test's own), the third detects the
  // motion of its simulated scene.
  constexpr int kPort = 10091;
  st::WriteInternetPort("BT878 Capture 0", "Input 0", kPort);
  st::kInputVideoMonitoring.Write("BT878 Capture 0", "Input 0", 1);
  st::kInputMotionDetection.Write("BT878 Capture 0", "Input 2", 1);
  setenv("HALVARD_SIMULATED_MOTION", "0:2", 1);
  setenv("HALVARD_SIMULATED_CONTROL", (st::DataRoot() + "no-control-file").c_str(), 1);
  const std::string program = ProgramPath("Halvard");
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  unsetenv("HALVARD_SIMULATED_CARDS");
  unsetenv("HALVARD_SIMULATED_MOTION");
  std::this_thread::sleep_for(std::chrono::seconds(4));
  // A real client on the broadcast while the server runs.
  const auto stream = RunCommand("timeout 20 ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "
                                 "http://127.0.0.1:" + std::to_string(kPort) + "/",
                                 true);
  EXPECT_NE(stream.output.find("wmv1"), std::string::npos) << stream.output;
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_FALSE(st::kLastStartup.Read().empty());
  EXPECT_FALSE(st::kLastShutdown.Read().empty());
  // The moving scene of the third camera gave an event line, CR LF ended.
  std::ifstream log(st::DataRoot() + "EventArchive/BT878 Capture 0-Input 2.txt", std::ios::binary);
  const std::string events((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(events.find("\r\n"), std::string::npos) << "no motion event in the log";
  // Four cameras, each with a complete recording that decodes, each listed in the index.
  const fs::path archive = fs::path(st::DataRoot()) / "VideoArchive" / "BT878 Capture 0";
  const std::vector<fs::path> files = Recordings(archive);
  ASSERT_EQ(files.size(), 4u);
  for (const fs::path& file : files) {
    const auto probe = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                  "stream=nb_read_frames -of csv=p=0 " + ShellQuote(file.string()));
    EXPECT_EQ(probe.status, 0) << file << probe.output;
    EXPECT_GT(std::atoi(probe.output.c_str()), 10) << file;
    const std::string input = file.parent_path().parent_path().filename().string();
    const std::string day = file.parent_path().filename().string();
    EXPECT_EQ(st::SubKeyNames(st::CameraKeyPath("BT878 Capture 0", input) + "\\" + day),
              std::vector<std::string>{file.filename().string()});
  }
}

}  // namespace
