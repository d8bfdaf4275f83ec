// The update worker against a real halvard-directory process on 127.0.0.1.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/internet/UpdateWorker.h"
#include "server/internet/tests/TestDoubles.h"
#include "server/settings/Settings.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace halvard::internet {
namespace {

using halvard::internet::testing::JumpingSleeper;
using halvard::internet::testing::RecordingPoster;
using halvard::internet::testing::RecordingSink;
using halvard::testing::RunCommand;
using halvard::testing::ShellQuote;

/// halvard-directory on an ephemeral port of 127.0.0.1, stopped at destruction.
class DirectoryProcess {
 public:
  DirectoryProcess() : m_log(m_dir.File("directory.log")) {
    const std::string program = halvard::testing::ProgramPath("halvard-directory");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string arg0 = program;
    std::string arg1 = "--port";
    std::string arg2 = "0";
    char* const argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0) {
      m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    // The first line names the port: "listening on http://127.0.0.1:<port>/".
    const std::string prefix = "listening on http://127.0.0.1:";
    for (int i = 0; i < 1000 && m_pid > 0 && m_port == 0; ++i) {
      const std::string log = Log();
      if (log.starts_with(prefix) && log.find('\n') != std::string::npos) {
        m_port = std::atoi(log.c_str() + prefix.size());
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }
  ~DirectoryProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      int status = 0;
      waitpid(m_pid, &status, 0);
    }
  }
  [[nodiscard]] int Port() const { return m_port; }
  [[nodiscard]] std::string HostEntry() const { return "127.0.0.1:" + std::to_string(m_port); }
  [[nodiscard]] std::string Url(const std::string& path) const { return "http://" + HostEntry() + path; }
  [[nodiscard]] std::string Log() const {
    std::ifstream in(m_log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  halvard::testing::TempDir m_dir;
  std::string m_log;
  pid_t m_pid = -1;
  int m_port = 0;
};

/// curl as the viewer: loopback only, never through a proxy.
std::string Fetch(const std::string& url) {
  return RunCommand("curl -s --noproxy '*' --max-time 20 " + ShellQuote(url)).output;
}

/// Sends raw bytes on a new connection and returns everything the server answers.
std::string RawExchange(int port, const std::string& bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    std::string_view rest = bytes;
    while (!rest.empty()) {
      const ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (n <= 0) {
        break;
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    shutdown(fd, SHUT_WR);
    char buffer[4096];
    for (;;) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 20000) <= 0) {
        break;
      }
      const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) {
        break;
      }
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return answer;
}

TEST(DirectoryServerProcessTest, WorkerPublishesACameraThatThePageThenLists) {
  const DirectoryProcess directory;
  ASSERT_GT(directory.Port(), 0) << directory.Log();
  const halvard::testing::ScopedRegistry registry;
  settings::WriteInternetServer(0, directory.HostEntry());
  for (int slot = 1; slot < settings::kInternetServerSlots; ++slot) {
    settings::WriteInternetServer(slot, "");
  }
  settings::SetAutomaticAddressProvider([] { return std::string("192.168.1.5"); });
  settings::kSysDisplayName.Write("Station 7");
  settings::kSysUserId.Write("guard@example.org");
  settings::kSysPassword.Write("secret");
  settings::kInputVideoMonitoring.Write("Lobby", "Door", 1);
  settings::kInternetBroadcasting.Write("Lobby", "Door", 1);
  settings::kInternetBroadcastingNote.Write("Lobby", "Door", "Front <door>");
  settings::WriteInternetPort("Lobby", "Door", 10004);
  settings::kInputVideoMonitoring.Write("Lobby", "Yard", 1);
  settings::WriteInternetPort("Lobby", "Yard", 10005);

  const UpdateTexts texts;
  RecordingSink sink;
  JumpingSleeper clock;
  CCurlFormPoster curl;
  RecordingPoster poster(&curl, &clock);
  RunUpdateWorker("Lobby", "Door", sink, poster, clock, std::stop_token(), texts);

  const std::string body =
      "ProductID=Station 7&UserID=guard@example.org&Password=secret&DisplayName=Lobby-Door&IP=192.168.1.5"
      "&Port=10004&Status=Broadcasting&Note=Front <door>&btnSubmit=Submit" + std::string(1, '\0');
  const std::vector<testing::RecordedPost> posts = poster.Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_EQ(posts[0].body, body);
  EXPECT_EQ(posts[1].body, body);
  EXPECT_EQ(posts[0].atMs, 120'000u);
  EXPECT_EQ(posts[1].atMs, 240'000u);
  const std::string answer = texts.answerPrefix + " OK";
  const std::string warning = texts.privatePrefix + " 192.168.1.5" + texts.privateClosing;
  EXPECT_EQ(sink.Lines(), (std::vector<std::string>{answer, warning, answer, warning}));

  // A camera that is not published is kept but not listed.
  RecordingSink yardSink;
  RunUpdateWorker("Lobby", "Yard", yardSink, curl, clock, std::stop_token(), texts);
  EXPECT_EQ(yardSink.Lines(), (std::vector<std::string>{answer, warning, answer, warning}));

  const std::string page = Fetch(directory.Url("/"));
  EXPECT_NE(page.find("Lobby-Door"), std::string::npos) << page;
  EXPECT_NE(page.find("http://192.168.1.5:10004/"), std::string::npos) << page;
  EXPECT_NE(page.find("Front &lt;door&gt;"), std::string::npos) << page;
  EXPECT_EQ(page.find("Lobby-Yard"), std::string::npos) << page;
  EXPECT_EQ(page.find("secret"), std::string::npos) << page;
  settings::SetAutomaticAddressProvider(nullptr);
}

TEST(DirectoryServerProcessTest, MalformedRequestsGetAnAnswerAndTheServerCarriesOn) {
  const DirectoryProcess directory;
  ASSERT_GT(directory.Port(), 0) << directory.Log();
  EXPECT_TRUE(RawExchange(directory.Port(), "garbage\r\n\r\n").starts_with("HTTP/1.1 400 "));
  EXPECT_TRUE(RawExchange(directory.Port(), "GET / HTTP/1.1\r\n" + std::string(20000, 'X') + "\r\n\r\n")
                  .starts_with("HTTP/1.1 413 "));
  EXPECT_TRUE(RawExchange(directory.Port(), "POST /MonIPUpdate.aspx HTTP/1.1\r\nContent-Length: 999999\r\n\r\n")
                  .starts_with("HTTP/1.1 413 "));
  EXPECT_TRUE(
      RawExchange(directory.Port(), "POST /MonIPUpdate.aspx HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
          .starts_with("HTTP/1.1 501 "));
  const std::string refused = RawExchange(
      directory.Port(), "POST /MonIPUpdate.aspx HTTP/1.0\r\nContent-Length: 28\r\n\r\nDisplayName=x&IP=1.2.3&Port=");
  EXPECT_TRUE(refused.starts_with("HTTP/1.1 400 ")) << refused;
  EXPECT_NE(refused.find("<BODY>Invalid IP</BODY>"), std::string::npos) << refused;
  // A request cut short by the client still gets closed, and the next one is served.
  EXPECT_TRUE(RawExchange(directory.Port(), "GET / HT").starts_with("HTTP/1.1 400 "));
  EXPECT_NE(Fetch(directory.Url("/")).find("No camera is published"), std::string::npos);
  EXPECT_NE(RunCommand("curl -s --noproxy '*' -o /dev/null -w '%{http_code}' " +
                       ShellQuote(directory.Url("/nothing-here")))
                .output.find("404"),
            std::string::npos);
}

}  // namespace
}  // namespace halvard::internet
