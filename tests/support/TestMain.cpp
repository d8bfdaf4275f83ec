#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/TestSupport.h"

// Every test process runs with a private data folder (see TestSupport.h), Qt's
// offscreen platform unless another is asked for, and the build and source folders.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // No test may restart the computer or change the desktop.
  setenv("HALVARD_SYSTEM_CHANGES", "off", 1);
  setenv("HALVARD_BUILD_DIR", HALVARD_BUILD_DIR_DEFAULT, 0);
  setenv("HALVARD_SOURCE_DIR", HALVARD_SOURCE_DIR_DEFAULT, 0);
  const halvard::testing::TempDir data;
  const std::string root = data.Path().string();
  setenv("HALVARD_DATA", (root + "/data").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
  // Qt keeps the windows' profile (QSettings) below XDG_CONFIG_HOME: never the user's.
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("HALVARD_REGISTRY", (root + "/registry.db").c_str(), 1);
  return RUN_ALL_TESTS();
}
