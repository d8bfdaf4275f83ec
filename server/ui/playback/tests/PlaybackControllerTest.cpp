#include <gtest/gtest.h>

#include <memory>

#include "server/ui/playback/PlaybackController.h"
#include "server/ui/playback/tests/FakeGraph.h"

using namespace halvard::ui::playback;
using halvard::ui::playback::testing::CFakeGraph;
using halvard::ui::playback::testing::FakeGraphState;

namespace {

class PlaybackControllerTest : public ::testing::Test {
 protected:
  CPlaybackController MakePlayer() {
    return CPlaybackController(
        [this](GraphError* error) -> std::unique_ptr<IPlaybackGraph> {
          if (m_fail) {
            *error = {kIdsSourceNotConnected, E_FAIL, "RenderStream"};
            return nullptr;
          }
          return std::make_unique<CFakeGraph>(m_graph);
        },
        [this](bool run) { m_timer = run; });
  }

  FakeGraphState m_graph;
  bool m_timer = false;
  bool m_fail = false;
};

TEST_F(PlaybackControllerTest, OpenStaysStoppedUntilPlayAndPlayStartsTheSliderTimer) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  EXPECT_EQ(player.State(), GraphState::Stopped);
  EXPECT_FALSE(m_timer);
  ASSERT_TRUE(player.Play());
  EXPECT_EQ(player.State(), GraphState::Running);
  EXPECT_TRUE(m_timer);
  EXPECT_TRUE(player.PauseContinue());
  EXPECT_EQ(player.State(), GraphState::Paused);
  EXPECT_TRUE(player.PauseContinue());
  EXPECT_EQ(player.State(), GraphState::Running);
  player.Close();
  EXPECT_FALSE(m_timer);
  EXPECT_EQ(m_graph.state, GraphState::Stopped);
  EXPECT_EQ(m_graph.released, 1);
  // Commands on a closed player do nothing.
  EXPECT_FALSE(player.Play());
  EXPECT_FALSE(player.Step());
  EXPECT_FALSE(player.Faster());
  EXPECT_EQ(m_graph.built, 1);
}

TEST_F(PlaybackControllerTest, AFailedOpenKeepsNothingAndSaysWhy) {
  m_fail = true;
  CPlaybackController player = MakePlayer();
  GraphError error;
  EXPECT_FALSE(player.Open(&error));
  EXPECT_FALSE(player.IsOpen());
  EXPECT_EQ(error.textId, kIdsSourceNotConnected);
  EXPECT_FALSE(player.SliderEnabled());
  EXPECT_EQ(player.SliderValue(), 0);
}

TEST_F(PlaybackControllerTest, StepOnARunningPlayerOnlyPausesThenAdvancesOneFrame) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Play());
  m_graph.position = 15'000'000;
  EXPECT_TRUE(player.Step());
  EXPECT_EQ(player.State(), GraphState::Paused);
  EXPECT_EQ(player.Position(), 15'000'000);
  EXPECT_TRUE(player.Step());
  EXPECT_EQ(player.Position(), 15'400'000);
  EXPECT_EQ(player.State(), GraphState::Paused);
  EXPECT_TRUE(player.Step());
  EXPECT_EQ(player.Position(), 15'800'000);
  // A stopped player (just opened) is paused at its first frame by the first step.
  player.Close();
  ASSERT_TRUE(player.Open());
  m_graph.calls.clear();
  EXPECT_TRUE(player.Step());
  EXPECT_EQ(m_graph.calls, std::vector<std::string>{"Pause"});
}

TEST_F(PlaybackControllerTest, FasterDoublesUpToTenAndSlowerHalvesWithoutALowerBound) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Play());
  for (const double expected : {2.0, 4.0, 8.0, 10.0, 10.0}) {
    EXPECT_TRUE(player.Faster());
    EXPECT_DOUBLE_EQ(player.Rate(), expected);
  }
  EXPECT_EQ(player.State(), GraphState::Running);
  m_graph.rate = 1.0;
  for (const double expected : {0.5, 0.25, 0.125, 0.0625}) {
    EXPECT_TRUE(player.Slower());
    EXPECT_DOUBLE_EQ(player.Rate(), expected);
  }
  // Each change pauses, sets the rate and runs again.
  m_graph.calls.clear();
  EXPECT_TRUE(player.Faster());
  EXPECT_EQ(m_graph.calls, (std::vector<std::string>{"Pause", "SetRate 0.125000", "Run"}));
}

TEST_F(PlaybackControllerTest, SliderFollowsThePositionAndSeeksWhereTheOperatorPutsIt) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  EXPECT_TRUE(player.SliderEnabled());
  m_graph.position = 150'000'000;  // 15 s of 60
  EXPECT_EQ(player.SliderValue(), 25);
  m_graph.position = m_graph.duration + 10;  // a position past the end stays at the end
  EXPECT_EQ(player.SliderValue(), 100);
  ASSERT_TRUE(player.Play());
  m_graph.calls.clear();
  EXPECT_TRUE(player.OnSliderMoved(40));
  EXPECT_EQ(m_graph.position, 240'000'000);
  EXPECT_EQ(player.State(), GraphState::Paused);
  EXPECT_EQ(m_graph.calls, (std::vector<std::string>{"SetPosition 240000000", "Pause"}));
  EXPECT_TRUE(player.OnSliderMoved(250));
  EXPECT_EQ(m_graph.position, m_graph.duration);
  // A two-hour file: duration x 100 still fits.
  m_graph.duration = 72'000'000'000;
  EXPECT_TRUE(player.OnSliderMoved(50));
  EXPECT_EQ(m_graph.position, 36'000'000'000);
}

TEST_F(PlaybackControllerTest, AFileWithoutDurationKeepsTheSliderDisabled) {
  m_graph.duration = 0;  // the file being written has no length yet
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Play());
  m_graph.position = 50'000'000;
  EXPECT_FALSE(player.SliderEnabled());
  EXPECT_EQ(player.SliderValue(), 0);
  m_graph.calls.clear();
  EXPECT_FALSE(player.OnSliderMoved(50));
  EXPECT_TRUE(m_graph.calls.empty());
}

TEST_F(PlaybackControllerTest, TheEndOfTheFileAsksForThePauseOnlyWhenTheGraphSeeks) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  m_graph.events = {0x0E, kEventComplete, 0x24};
  EXPECT_TRUE(player.OnGraphNotify());
  EXPECT_TRUE(m_graph.events.empty());  // every event read
  EXPECT_FALSE(player.OnGraphNotify());
  m_graph.events = {0x0E};
  EXPECT_FALSE(player.OnGraphNotify());
  m_graph.canSeek = false;
  m_graph.events = {kEventComplete};
  EXPECT_FALSE(player.OnGraphNotify());
}

TEST_F(PlaybackControllerTest, TearDownAndRebuildKeepPlaceAndPausedState) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(player.PauseContinue());
  m_graph.position = 7'542'500'000;
  const PlayerPlace place = player.TearDown();
  EXPECT_FALSE(player.IsOpen());
  EXPECT_FALSE(m_timer);
  EXPECT_EQ(m_graph.released, 1);
  EXPECT_TRUE(place.paused);
  EXPECT_DOUBLE_EQ(place.seconds, 754.25);
  EXPECT_EQ(place.mediaTime, 7'542'500'000);
  m_graph.position = 0;
  ASSERT_TRUE(player.Rebuild(place));
  EXPECT_EQ(m_graph.built, 2);
  EXPECT_EQ(player.State(), GraphState::Paused);
  EXPECT_EQ(player.Position(), 7'542'500'000);
  EXPECT_TRUE(m_timer);
  // A running player comes back running.
  ASSERT_TRUE(player.PauseContinue());
  ASSERT_TRUE(player.Rebuild(player.TearDown()));
  EXPECT_EQ(player.State(), GraphState::Running);
  // A graph that cannot be rebuilt leaves the player closed, not half open.
  m_fail = true;
  EXPECT_FALSE(player.Rebuild(player.TearDown()));
  EXPECT_FALSE(player.IsOpen());
  EXPECT_FALSE(m_timer);
}

TEST_F(PlaybackControllerTest, FramePositionsConvertThroughTheFrameRate) {
  m_graph.unitsPerSecond = 25;  // the direct route counts frames
  m_graph.duration = 1500;
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  EXPECT_TRUE(player.SeekToSeconds(2.0));
  EXPECT_EQ(m_graph.position, 50);
  EXPECT_DOUBLE_EQ(player.PositionSeconds(), 2.0);
  const PlayerPlace place = player.TearDown();
  EXPECT_EQ(place.mediaTime, 20'000'000);
  ASSERT_TRUE(player.Open());
  EXPECT_TRUE(player.SeekToSeconds(-3));
  EXPECT_EQ(m_graph.position, 0);
}

}  // namespace
