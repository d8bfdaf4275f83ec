#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "server/internet/UpdateWorker.h"
#include "server/internet/tests/TestDoubles.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

namespace halvard::internet {
namespace {

using halvard::internet::testing::JumpingSleeper;
using halvard::internet::testing::RecordingPoster;
using halvard::internet::testing::RecordingSink;

const UpdateTexts kTexts;

/// A monitored camera Lobby/Door with every directory slot empty and the given
/// automatic address.
class UpdateWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int slot = 0; slot < settings::kInternetServerSlots; ++slot) {
      settings::WriteInternetServer(slot, "");
    }
    settings::kInputVideoMonitoring.Write("Lobby", "Door", 1);
    UseAddress("85.1.2.3");
  }
  void TearDown() override { settings::SetAutomaticAddressProvider(nullptr); }

  static void UseAddress(std::string address) {
    settings::SetAutomaticAddressProvider([address] { return address; });
  }

  void Run() { RunUpdateWorker("Lobby", "Door", m_sink, m_poster, m_clock, std::stop_token(), kTexts); }

  halvard::testing::ScopedRegistry m_registry;
  RecordingSink m_sink;
  JumpingSleeper m_clock;
  RecordingPoster m_poster{nullptr, &m_clock};
  CCurlFormPoster m_curl;
};

TEST_F(UpdateWorkerTest, TwoPassesTwoMinutesApartToEveryNamedSlotInOrder) {
  settings::WriteInternetServer(3, "d.example.org");
  settings::WriteInternetServer(1, "b.example.org:8080");
  Run();
  EXPECT_EQ(m_clock.Waits(), (std::vector<DWORD>{120'000, 120'000}));
  const std::vector<testing::RecordedPost> posts = m_poster.Posts();
  ASSERT_EQ(posts.size(), 4u);
  const std::vector<std::pair<std::string, unsigned long long>> expected = {
      {"b.example.org:8080", 120'000}, {"d.example.org", 120'000}, {"b.example.org:8080", 240'000},
      {"d.example.org", 240'000}};
  for (std::size_t i = 0; i < posts.size(); ++i) {
    EXPECT_EQ(posts[i].host, expected[i].first);
    EXPECT_EQ(posts[i].atMs, expected[i].second);
    EXPECT_EQ(posts[i].page, "MonIPUpdate.aspx");
  }
  EXPECT_EQ(m_sink.Lines(), std::vector<std::string>(4, kTexts.answerPrefix + " OK"));
}

TEST_F(UpdateWorkerTest, NoSlotsNoRequestsButThePrivateWarningStands) {
  UseAddress("192.168.1.5");
  Run();
  EXPECT_TRUE(m_poster.Posts().empty());
  const std::string warning = kTexts.privatePrefix + " 192.168.1.5" + kTexts.privateClosing;
  EXPECT_EQ(m_sink.Lines(), (std::vector<std::string>{warning, warning}));
}

TEST_F(UpdateWorkerTest, PrivacySettingSilencesAPassEntirely) {
  settings::WriteInternetServer(0, "a.example.org");
  UseAddress("10.0.0.2");
  settings::kPrivacyNoIpUpdate.Write("Lobby", "Door", 1);
  Run();
  EXPECT_EQ(m_clock.Waits().size(), 2u);
  EXPECT_TRUE(m_poster.Posts().empty());
  EXPECT_TRUE(m_sink.Lines().empty());
}

TEST_F(UpdateWorkerTest, SettingsAreReadAgainInTheSecondPass) {
  settings::WriteInternetServer(0, "a.example.org");
  // The operator switches updates off while the first pass runs.
  class SwitchingSleeper final : public ISleeper {
   public:
    [[nodiscard]] HRESULT Sleep(DWORD, std::stop_token) override {
      if (++m_calls == 2) {
        settings::kPrivacyNoIpUpdate.Write("Lobby", "Door", 1);
      }
      return S_OK;
    }
    int m_calls = 0;
  } sleeper;
  RunUpdateWorker("Lobby", "Door", m_sink, m_poster, sleeper, std::stop_token(), kTexts);
  EXPECT_EQ(m_poster.Posts().size(), 1u);
}

TEST_F(UpdateWorkerTest, ManualPrivateAddressIsPostedAndWarnedAbout) {
  settings::WriteInternetServer(2, "c.example.org");
  settings::kInternetIpManu.Write("Lobby", "Door", 1);
  settings::WriteSystemInternetIp("172.16.4.4");
  Run();
  const std::vector<testing::RecordedPost> posts = m_poster.Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts[0].body.find("&IP=172.16.4.4&"), std::string::npos);
  const std::string warning = kTexts.privatePrefix + " 172.16.4.4" + kTexts.privateClosing;
  const std::string answer = kTexts.answerPrefix + " OK";
  EXPECT_EQ(m_sink.Lines(), (std::vector<std::string>{answer, warning, answer, warning}));
}

/// Waits for a condition polled every few milliseconds; false after ten seconds.
template <class Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

TEST_F(UpdateWorkerTest, UpdaterRunsWorkersOnTheirOwnThreads) {
  settings::WriteInternetServer(0, "a.example.org");
  auto poster = std::make_shared<RecordingPoster>();
  auto clock = std::make_shared<JumpingSleeper>();
  CDirectoryUpdater updater(m_sink, poster, clock, kTexts);
  ASSERT_TRUE(updater.Start("Lobby", "Door"));
  ASSERT_TRUE(updater.Start("Lobby", "Door"));
  EXPECT_TRUE(Eventually([&] { return updater.RunningWorkers() == 0; }));
  EXPECT_EQ(poster->Posts().size(), 4u);
  EXPECT_EQ(m_sink.Lines().size(), 4u);
  updater.Stop();
  EXPECT_FALSE(updater.Start("Lobby", "Door"));
}

TEST_F(UpdateWorkerTest, StopEndsWaitingWorkersWithoutPosting) {
  settings::WriteInternetServer(0, "a.example.org");
  auto poster = std::make_shared<RecordingPoster>();
  {
    // The real two-minute wait: only a stop request can end it within the test.
    CDirectoryUpdater updater(m_sink, poster, std::make_shared<CSteadySleeper>(), kTexts);
    ASSERT_TRUE(updater.Start("Lobby", "Door"));
    ASSERT_TRUE(updater.Start("Lobby", "Gate"));
    EXPECT_EQ(updater.RunningWorkers(), 2u);
  }
  EXPECT_TRUE(poster->Posts().empty());
  EXPECT_TRUE(m_sink.Lines().empty());
}

TEST_F(UpdateWorkerTest, StopCancelsAPostThatTheServerNeverAnswers) {
  // A listener that never accepts: the connection is made, the request sent, and no
  // answer ever comes.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  settings::WriteInternetServer(0, "127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  auto poster = std::make_shared<RecordingPoster>(&m_curl);
  {
    CDirectoryUpdater updater(m_sink, poster, std::make_shared<JumpingSleeper>(), kTexts);
    ASSERT_TRUE(updater.Start("Lobby", "Door"));
    ASSERT_TRUE(Eventually([&] { return !poster->Posts().empty(); }));
  }  // without the cancellation this would wait for the two-minute transfer limit
  EXPECT_EQ(poster->Posts().size(), 1u);
  EXPECT_TRUE(m_sink.Lines().empty());
  close(listener);
}

}  // namespace
}  // namespace halvard::internet
