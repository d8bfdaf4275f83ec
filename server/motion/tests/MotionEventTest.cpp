#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/time/Time.h"
#include "server/motion/EventLog.h"
#include "server/motion/MotionEvent.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace halvard::motion;
namespace fs = std::filesystem;
namespace settings = halvard::settings;
using halvard::time::CManualWallClock;
using halvard::time::MakeLocalTime;
using halvard::time::ScopedWallClock;

namespace {

class MotionEventTest : public ::testing::Test {
 protected:
  void SetUp() override { settings::WriteMotionEventDir("G", "I", m_dir.Path().string() + "/events/"); }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  CManualWallClock m_clock{MakeLocalTime(2007, 5, 1, 13, 5, 22)};
  ScopedWallClock m_scoped{m_clock.Source()};
};

TEST_F(MotionEventTest, AlarmFileIsReadOnlyWithTheSoundFlag) {
  settings::WriteMotionSoundFile("G", "I", "/sounds/bell.wav");
  MotionAlarm alarm = ReadMotionAlarm("G", "I");
  EXPECT_FALSE(alarm.sound);
  EXPECT_EQ(alarm.soundFile, "");
  settings::kMotionSound.Write("G", "I", 1);
  alarm = ReadMotionAlarm("G", "I");
  EXPECT_TRUE(alarm.sound);
  EXPECT_EQ(alarm.soundFile, "/sounds/bell.wav");
  settings::DeleteValue(settings::CameraKeyPath("G", "I"), settings::kMotionSoundFileName);
  EXPECT_EQ(ReadMotionAlarm("G", "I").soundFile, settings::ProgramFolder() + "Motion.wav");
}

TEST_F(MotionEventTest, EventGoesToTheLogThenTheOutputThenTheSound) {
  std::vector<std::string> calls;
  MotionEventHooks hooks;
  hooks.output = [&](const std::string& line) { calls.push_back("output " + line); };
  hooks.playSound = [&](const std::string& file) { calls.push_back("sound " + file); };

  const MotionAlarm silent;
  std::string line = OnMotionDetected("G", "I", "Door", " Motion detected", silent, hooks);
  EXPECT_EQ(line, "Door: 13:05:22, TUE 05/01/2007 Motion detected");
  EXPECT_EQ(calls, std::vector<std::string>{"output " + line});

  m_clock.Advance(1);
  calls.clear();
  const MotionAlarm loud{true, "/sounds/bell.wav"};
  line = OnMotionDetected("G", "I", "Door", " Motion detected", loud, hooks);
  EXPECT_EQ(calls, (std::vector<std::string>{"output " + line, "sound /sounds/bell.wav"}));

  std::ifstream in(EventLogPath("G", "I"), std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(log, "13:05:22, TUE 05/01/2007\r\n13:05:23, TUE 05/01/2007\r\n");
  EXPECT_EQ(CountEvents("G", "I"), 2);
}

TEST_F(MotionEventTest, AnUnplayableSoundOrAnUnwritableLogStillGivesTheLine) {
  // The real player with a file that does not exist returns at once.
  settings::WriteMotionEventDir("G", "I", m_dir.Path().string() + "/missing/parent/");
  const MotionAlarm alarm{true, m_dir.Path().string() + "/none.wav"};
  EXPECT_EQ(OnMotionDetected("G", "I", "Door", "!", alarm), "Door: 13:05:22, TUE 05/01/2007!");
  EXPECT_EQ(CountEvents("G", "I"), 0);
}

}  // namespace
