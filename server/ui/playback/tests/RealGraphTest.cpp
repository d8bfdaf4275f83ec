// The player over the real playback graph of a recording made by the writer. Where the
// media layer cannot render a Windows Media file yet (no demultiplexer registered), the
// tests say so and skip.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "platform/media/VideoSurface.h"
#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "server/archive/Archive.h"
#include "server/archive/Profile.h"
#include "server/archive/Stills.h"
#include "server/settings/Settings.h"
#include "server/ui/Commands.h"
#include "server/ui/playback/PlaybackController.h"
#include "server/ui/playback/VFDoc.h"
#include "server/ui/playback/VFFrame.h"
#include "server/ui/playback/tests/PlaybackTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace halvard::ui::playback;
namespace settings = halvard::settings;
namespace wmf = halvard::wmf;

namespace {

constexpr std::int64_t kSecond = 10'000'000;

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

class RealGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)halvard::ui::playback::testing::App();
    m_path = m_dir.File("13H-05M-22S.wmv");
    auto writer = ComPtr<wmf::CAsfWriterCore>::Attach(new wmf::CAsfWriterCore());
    ComPtr<IWMWriterFileSink> sink;
    ASSERT_EQ(halvard::archive::ConfigureRecordingWriter(static_cast<IConfigAsfWriter*>(writer.Get()), "G", "I"),
              S_OK);
    ASSERT_EQ(WMCreateWriterFileSink(sink.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(sink->Open(m_path.c_str()), S_OK);
    ASSERT_EQ(writer->AddSink(sink.Get()), S_OK);
    ASSERT_EQ(writer->Engine().Begin(), S_OK);
    wmf::testing::CSimulatedSource source(320, 240, wmf::PixelFormat::Yuy2);
    ASSERT_EQ(source.Feed(writer->Engine(), 3.0), S_OK);
    ASSERT_EQ(writer->Engine().End(), S_OK);
    ComPtr<IWMWriterFileSink2> control;
    ASSERT_EQ(sink.As(&control), S_OK);
    ASSERT_EQ(control->Close(), S_OK);
    ASSERT_TRUE(ReadVideoFileInfo(m_path, &m_info));
    if (!m_info.windowsMedia) {
      GTEST_SKIP() << "the media layer does not render Windows Media files yet";
    }
    m_surface = halvard::media::CMemorySurface::Create();
  }
  void TearDown() override {
    if (m_surface != nullptr) {
      m_surface->NonDelegatingRelease();
    }
  }

  CPlaybackController MakePlayer() {
    return CPlaybackController(
        [this](GraphError* error) { return CreatePlaybackGraph(m_path, m_info, 0, m_surface, error); },
        [](bool) {});
  }

  halvard::testing::ScopedRegistry m_store;
  halvard::testing::TempDir m_dir;
  std::string m_path;
  VideoFileInfo m_info;
  halvard::media::CMemorySurface* m_surface = nullptr;
};

TEST_F(RealGraphTest, TheWindowsMediaRouteGivesSizeLengthAndBitrate) {
  EXPECT_EQ(m_info.width, 320);
  EXPECT_EQ(m_info.height, 240);
  EXPECT_NEAR(m_info.playLength, 3.0, 0.2);
  EXPECT_GT(m_info.bitrate, 100'000u);
  EXPECT_EQ(m_info.frameRate, 0.0);  // only the media detector's route knows it
}

TEST_F(RealGraphTest, PlayStepRateAndThePauseAtTheEnd) {
  CPlaybackController player = MakePlayer();
  GraphError error;
  ASSERT_TRUE(player.Open(&error)) << error.step << " " << error.hr;
  EXPECT_TRUE(player.SliderEnabled());
  EXPECT_NEAR(static_cast<double>(player.Graph()->Duration()) / kSecond, 3.0, 0.2);
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(m_surface->WaitForFrames(3, 5000));
  // A step on the running player only pauses it; the next one shows the next frame.
  ASSERT_TRUE(player.Step());
  ASSERT_TRUE(WaitFor([&] { return player.State() == GraphState::Paused; }));
  ASSERT_TRUE(player.SeekToSeconds(1.5));
  ASSERT_TRUE(WaitFor([&] { return std::llabs(player.Position() - 15 * kSecond / 10) < kSecond / 100; }));
  ASSERT_TRUE(WaitFor([&] { return m_surface->FrameCount() > 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the picture of the seek
  const LONG shown = m_surface->FrameCount();
  ASSERT_TRUE(player.Step());
  ASSERT_TRUE(m_surface->WaitForFrames(shown + 1, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(m_surface->FrameCount(), shown + 1);  // exactly one frame, then it holds
  EXPECT_EQ(player.State(), GraphState::Paused);
  // The position is the stepped picture's: a still saved now is named after it.
  EXPECT_NEAR(static_cast<double>(player.Position()), 1.5e7 + 1e7 / 30.0, 1e7 / 100.0);
  // Rates: 2, 4, 8, then 10 rather than 16.
  for (const double rate : {2.0, 4.0, 8.0, 10.0}) {
    ASSERT_TRUE(player.Faster());
    EXPECT_DOUBLE_EQ(player.Rate(), rate);
  }
  EXPECT_EQ(player.State(), GraphState::Running);
  // The end of the file: the graph reports it and the player asks to pause there.
  bool ended = false;
  EXPECT_TRUE(WaitFor([&] { return ended = ended || player.OnGraphNotify(); }, 10000));
  player.Close();
  EXPECT_FALSE(player.IsOpen());
}

TEST_F(RealGraphTest, TakingAFrameRebuildsThePlayerAtTheSamePausedPlace) {
  CPlaybackController player = MakePlayer();
  ASSERT_TRUE(player.Open());
  ASSERT_TRUE(player.Play());
  ASSERT_TRUE(player.PauseContinue());
  ASSERT_TRUE(player.SeekToSeconds(2.0));
  ASSERT_TRUE(WaitFor([&] { return std::llabs(player.Position() - 2 * kSecond) < kSecond / 100; }));
  const PlayerPlace place = player.TearDown();
  EXPECT_TRUE(place.paused);
  EXPECT_EQ(halvard::archive::StillPictureName(place.mediaTime), "00-00-02-000.bmp");
  ASSERT_TRUE(player.Rebuild(place));
  ASSERT_TRUE(WaitFor([&] { return player.State() == GraphState::Paused; }));
  EXPECT_TRUE(WaitFor([&] { return std::llabs(player.Position() - 2 * kSecond) < kSecond / 100; }));
}

}  // namespace
