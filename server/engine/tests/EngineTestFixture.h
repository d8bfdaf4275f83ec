#pragma once
// A private store and data folder per test, simulated cards, the filter components
// registered, and a roster on a recording host.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/capture/CardState.h"
#include "platform/capture/PVProp.h"
#include "server/engine/CameraRoster.h"
#include "server/engine/tests/EngineTestHost.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::engine::testing {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("HALVARD_DATA", (m_data.Path().string() + "/").c_str(), 1);
    ::setenv("HALVARD_SIMULATED_CARDS", "1", 1);
    ::setenv("HALVARD_SIMULATED_CONTROL", m_data.File("no-control").c_str(), 1);
    ::unsetenv("HALVARD_FILE_LENGTH_SECONDS");
    halvard::capture::ResetPvLibrary();
    halvard::capture::ClearPvCallLog();
    // The simulated cards' state lives in the process: a test starts on still cameras
    // and plugged, untouched cards whatever the one before it did.
    halvard::capture::ResetCardStates();
    for (int card = 0; card < 16; ++card) {
      halvard::capture::SetSimulatedCardUnplugged(card, false);
      for (int input = 0; input < 4; ++input) {
        halvard::capture::SetSimulatedMotion(card, input, false);
      }
    }
  }
  void TearDown() override {
    roster.reset();
    host.reset();
  }
  /// A roster over the current devices and store.
  CameraRoster& MakeRoster(bool countingSurfaces = false) {
    roster.reset();
    host = std::make_unique<CTestHost>(countingSurfaces);
    roster = std::make_unique<CameraRoster>(*host);
    host->SetRoster(roster.get());
    roster->Discover();
    return *roster;
  }
  [[nodiscard]] std::string DataRoot() const { return m_data.Path().string() + "/"; }
  [[nodiscard]] std::filesystem::path ArchiveRoot() const { return m_data.Path() / "VideoArchive"; }

  halvard::testing::ScopedRegistry m_registry;
  halvard::testing::TempDir m_data;
  std::unique_ptr<CTestHost> host;
  std::unique_ptr<CameraRoster> roster;
};

}  // namespace halvard::engine::testing
