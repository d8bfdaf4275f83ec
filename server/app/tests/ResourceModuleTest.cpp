#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "server/app/ResourceModule.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using halvard::app::CResourceModule;
using halvard::testing::BuildDir;
using halvard::testing::LibraryPath;
using halvard::testing::ProgramPath;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

TEST(ResourceModule, FoundByNameBesideTheServerLibraries) {
  CResourceModule module;
  ASSERT_TRUE(module.Load()) << module.LastError();
  EXPECT_TRUE(module.IsLoaded());
  EXPECT_EQ(fs::weakly_canonical(module.Path()), fs::weakly_canonical(LibraryPath("libZelRes_ENU.so")));
  EXPECT_EQ(module.LoadString(120), "Halvard Surveillance Server");
  EXPECT_EQ(module.LoadString(212), "Start all the cameras.\nStart all the cameras.");
  EXPECT_TRUE(module.HasString(129));
  EXPECT_FALSE(module.HasString(121));
  EXPECT_EQ(module.LoadString(0), "");
  EXPECT_EQ(module.LoadString(0xFFFFFFFF), "");
  module.Unload();
  EXPECT_FALSE(module.IsLoaded());
  EXPECT_EQ(module.LoadString(120), "");
}

TEST(ResourceModule, RefusesMissingModulesAndOtherLibraries) {
  CResourceModule module;
  EXPECT_FALSE(module.Load("libZelRes_XYZ.so"));
  EXPECT_FALSE(module.IsLoaded());
  EXPECT_NE(module.LastError().find("libZelRes_XYZ.so"), std::string::npos) << module.LastError();
  EXPECT_EQ(module.LoadString(120), "");

  // A library that loads but has no string table.
  EXPECT_FALSE(module.Load("libhalvard_base.so"));
  EXPECT_NE(module.LastError().find("not a resource module"), std::string::npos) << module.LastError();

  // A good load after failures clears the error.
  ASSERT_TRUE(module.Load());
  EXPECT_EQ(module.LastError(), "");
}

/// Copies the program and the build's libraries it links (never the resource module
/// unless asked) into root/bin and root/lib, the layout of an installation.
void InstallCopy(const fs::path& root, bool withResourceModule) {
  fs::create_directories(root / "bin");
  fs::create_directories(root / "lib");
  fs::copy_file(ProgramPath("Halvard"), root / "bin" / "Halvard");
  const auto ldd = RunCommand("ldd " + ShellQuote(ProgramPath("Halvard")));
  ASSERT_EQ(ldd.status, 0) << ldd.output;
  const std::string libDir = fs::weakly_canonical(BuildDir() / "lib").string();
  std::istringstream lines(ldd.output);
  std::string line;
  int copied = 0;
  while (std::getline(lines, line)) {
    // "\tlibhalvard_app.so => /…/build/lib/libhalvard_app.so (0x…)"
    const auto arrow = line.find("=> ");
    if (arrow == std::string::npos) {
      continue;
    }
    const std::string path = line.substr(arrow + 3, line.find(" (", arrow) - arrow - 3);
    if (fs::weakly_canonical(fs::path(path).parent_path()).string() == libDir) {
      fs::copy_file(path, root / "lib" / fs::path(path).filename());
      ++copied;
    }
  }
  ASSERT_GT(copied, 0) << ldd.output;
  ASSERT_FALSE(fs::exists(root / "lib" / "libZelRes_ENU.so"));
  if (withResourceModule) {
    fs::copy_file(LibraryPath("libZelRes_ENU.so"), root / "lib" / "libZelRes_ENU.so");
  }
}

/// Runs the server for a moment, then ends it with SIGTERM as a service manager would;
/// the output is standard error and the last line "exit=<status>".
std::string RunBriefly(const std::string& program, int seconds) {
  // The profile (docking layout) goes to the private data folder, not the user's.
  const std::string script = "XDG_CONFIG_HOME=\"$HALVARD_DATA/config\" env -u LD_LIBRARY_PATH " +
                             ShellQuote(program) + " 2>&1 & pid=$!; sleep " +
                             std::to_string(seconds) + "; kill -TERM $pid; wait $pid; echo exit=$?";
  return RunCommand("sh -c " + ShellQuote(script)).output;
}

TEST(ServerStartup, LoadsTheResourceModuleOfItsOwnInstallation) {
  // A copy elsewhere finds the module beside its own libraries, not the build's.
  const TempDir dir;
  InstallCopy(dir.Path(), true);
  const std::string output = RunBriefly(dir.File("bin/Halvard"), 3);
  EXPECT_NE(output.find("exit=0"), std::string::npos) << output;
  EXPECT_NE(output.find(fs::weakly_canonical(dir.Path()).string()), std::string::npos) << output;
}

TEST(ServerStartup, EndsWithTheMessageWhenTheModuleIsMissing) {
  const TempDir dir;
  InstallCopy(dir.Path(), false);
  const auto stdoutOnly = RunCommand("env -u LD_LIBRARY_PATH " + ShellQuote(dir.File("bin/Halvard")) + " 2>/dev/null");
  EXPECT_EQ(stdoutOnly.status, 1);
  EXPECT_EQ(stdoutOnly.output, "");
  const auto result = RunCommand("env -u LD_LIBRARY_PATH " + ShellQuote(dir.File("bin/Halvard")) + " 2>&1");
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find("Could not load resource module."), std::string::npos) << result.output;
}

}  // namespace
