// The HTTP broadcast with real clients on 127.0.0.1: ffprobe in both forms, many
// viewers, stalled viewers, bad requests, and a writer that stops and starts again.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "platform/wmf/AsfWriter.h"
#include "platform/wmf/tests/WmfTestSupport.h"
#include "tests/support/TestSupport.h"

namespace halvard::wmf {
namespace {

using namespace std::chrono_literals;

constexpr BYTE kAsfHeaderGuid[4] = {0x30, 0x26, 0xB2, 0x75};

// A raw HTTP client.
class CClient {
 public:
  explicit CClient(DWORD port, int receiveBuffer = 0) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
      (void)setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~CClient() { close(m_fd); }
  CClient(const CClient&) = delete;
  CClient& operator=(const CClient&) = delete;

  bool Send(const std::string& text) {
    return send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Reads until `bytes` are there, the peer closes, or the time runs out.
  std::string Read(std::size_t bytes, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_data.size() < bytes && !m_closed) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        break;
      }
      pollfd fd{m_fd, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
        break;
      }
      char buffer[65536];
      const ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
      if (got <= 0) {
        m_closed = true;
        break;
      }
      m_data.append(buffer, static_cast<std::size_t>(got));
    }
    return m_data;
  }
  // Reads until the peer closes.
  bool ReadToEnd(std::chrono::milliseconds timeout) {
    (void)Read(SIZE_MAX, timeout);
    return m_closed;
  }
  std::string Body() const {
    const auto end = m_data.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : m_data.substr(end + 4);
  }
  [[nodiscard]] bool Connected() const { return m_connected; }
  [[nodiscard]] bool Closed() const { return m_closed; }

 private:
  int m_fd = -1;
  bool m_connected = false;
  bool m_closed = false;
  std::string m_data;
};

std::string Get(const std::string& extra = {}) { return "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n" + extra + "\r\n"; }

class NetworkSink : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WMCreateWriterNetworkSink(m_sink.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(m_sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP), S_OK);
    ASSERT_EQ(m_sink->SetMaximumClients(50), S_OK);
    m_port = 0;
    ASSERT_EQ(m_sink->Open(&m_port), S_OK);
    ASSERT_NE(m_port, 0u);
    m_writer = ComPtr<CAsfWriterCore>::Attach(new CAsfWriterCore());
    ASSERT_EQ(m_writer->ConfigureFilterUsingProfile(testing::MakeProfile({}).Get()), S_OK);
    ASSERT_EQ(m_writer->AddSink(m_sink.Get()), S_OK);
  }
  void TearDown() override {
    StopFeeding();
    if (m_writer->Engine().IsWriting()) {
      (void)m_writer->Engine().End();
    }
    EXPECT_EQ(m_sink->Close(), S_OK);
  }
  // Feeds a simulated camera in real time on a thread of its own.
  void StartFeeding() {
    ASSERT_EQ(m_writer->Engine().Begin(), S_OK);
    m_feeding = true;
    m_feeder = std::thread([this] {
      testing::CSimulatedSource source(320, 240);
      const auto started = std::chrono::steady_clock::now();
      while (m_feeding) {
        if (FAILED(source.Feed(m_writer->Engine(), 0.1))) {
          m_feedFailed = true;
          return;
        }
        std::this_thread::sleep_until(started +
                                      std::chrono::milliseconds(static_cast<int>(source.FedSeconds() * 1000)));
      }
    });
  }
  void StopFeeding() {
    m_feeding = false;
    if (m_feeder.joinable()) {
      m_feeder.join();
    }
  }

  ComPtr<IWMWriterNetworkSink> m_sink;
  DWORD m_port = 0;
  ComPtr<CAsfWriterCore> m_writer;
  std::thread m_feeder;
  std::atomic<bool> m_feeding{false};
  std::atomic<bool> m_feedFailed{false};
};

TEST_F(NetworkSink, ServesTwoViewersAtOnceAndFfprobeIdentifiesTheStream) {
  StartFeeding();
  const std::string url = "http://127.0.0.1:" + std::to_string(m_port) + "/";
  auto plain = std::async(std::launch::async, [&] { return testing::Probe(url); });
  auto framed = std::async(std::launch::async,
                           [&] { return testing::Probe("mmsh://127.0.0.1:" + std::to_string(m_port) + "/"); });
  CClient raw(m_port);
  ASSERT_TRUE(raw.Send(Get()));
  (void)raw.Read(20000);
  EXPECT_EQ(raw.Read(0).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_NE(raw.Read(0).find("Content-Type: video/x-ms-asf"), std::string::npos);
  ASSERT_GE(raw.Body().size(), 4u);
  EXPECT_EQ(std::memcmp(raw.Body().data(), kAsfHeaderGuid, 4), 0) << "the body starts with the ASF header";

  for (auto* probe : {&plain, &framed}) {
    auto info = probe->get();
    EXPECT_EQ(info["format.format_name"], "asf");
    EXPECT_EQ(info["stream0.codec_name"], "wmav2");
    EXPECT_EQ(info["stream1.codec_name"], "wmv1");
    EXPECT_EQ(info["stream1.width"], "320");
    EXPECT_EQ(info["stream1.height"], "240");
  }
  EXPECT_FALSE(m_feedFailed);
  char url8[128];
  DWORD length = sizeof(url8);
  ASSERT_EQ(m_sink->GetHostURL(url8, &length), S_OK);
  EXPECT_NE(std::string(url8).find(":" + std::to_string(m_port)), std::string::npos);
}

TEST_F(NetworkSink, TheFiftyFirstViewerGets503) {
  StartFeeding();
  std::vector<std::unique_ptr<CClient>> viewers;
  for (int i = 0; i < 50; ++i) {
    viewers.push_back(std::make_unique<CClient>(m_port));
    ASSERT_TRUE(viewers.back()->Send(Get()));
  }
  for (auto& viewer : viewers) {
    ASSERT_EQ(viewer->Read(17).rfind("HTTP/1.0 200 OK", 0), 0u);
  }
  CClient extra(m_port);
  ASSERT_TRUE(extra.Send(Get()));
  EXPECT_TRUE(extra.ReadToEnd(5000ms));
  EXPECT_EQ(extra.Read(0).rfind("HTTP/1.0 503", 0), 0u) << extra.Read(0);
  // A place frees when a viewer leaves.
  viewers.pop_back();
  std::this_thread::sleep_for(700ms);
  CClient next(m_port);
  ASSERT_TRUE(next.Send(Get()));
  EXPECT_EQ(next.Read(17).rfind("HTTP/1.0 200 OK", 0), 0u);
}

TEST_F(NetworkSink, AViewerThatStopsReadingStallsNeitherTheRecordingNorOthers) {
  const halvard::testing::TempDir dir;
  ComPtr<IWMWriterFileSink> file;
  ASSERT_EQ(WMCreateWriterFileSink(file.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(file->Open(dir.File("rec.wmv").c_str()), S_OK);
  ASSERT_EQ(m_writer->AddSink(file.Get()), S_OK);
  ASSERT_EQ(m_writer->Engine().Begin(), S_OK);
  CClient stalled(m_port, 4096);
  ASSERT_TRUE(stalled.Send(Get()));
  CClient reader(m_port);
  ASSERT_TRUE(reader.Send(Get()));
  std::this_thread::sleep_for(300ms);  // both are streaming clients now
  // Far faster than real time and far more than the stalled socket holds.
  std::atomic<bool> reading{true};
  std::thread drain([&] {
    while (reading) {
      (void)reader.Read(SIZE_MAX, 50ms);
    }
  });
  testing::CSimulatedSource source(320, 240);
  ASSERT_EQ(source.Feed(m_writer->Engine(), 60.0), S_OK);
  ASSERT_EQ(m_writer->Engine().End(), S_OK);
  ComPtr<IWMWriterFileSink2> control;
  ASSERT_EQ(file.As(&control), S_OK);
  ASSERT_EQ(control->Close(), S_OK);
  EXPECT_NEAR(std::stod(testing::Probe(dir.File("rec.wmv"))["format.duration"]), 60.0, 0.1);
  // The plain response of the reader ends with the stream; it got everything.
  EXPECT_TRUE(reader.ReadToEnd(10000ms));
  reading = false;
  drain.join();
  EXPECT_GT(reader.Body().size(), 60u * 50000u);
  // The stalled viewer was dropped: what it finally reads ends early.
  EXPECT_TRUE(stalled.ReadToEnd(10000ms));
  EXPECT_LT(stalled.Body().size(), reader.Body().size());
}

TEST_F(NetworkSink, MalformedRequestsAreAnsweredAndClosed) {
  StartFeeding();
  struct Case {
    std::string request;
    std::string status;
  };
  for (const Case& c : {Case{"HELLO\r\n\r\n", "HTTP/1.0 400"}, Case{"GET nothing HTTP/1.0\r\n\r\n", "HTTP/1.0 400"},
                        Case{"GET / SPDY/9\r\n\r\n", "HTTP/1.0 400"},
                        Case{"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.0 405"},
                        Case{"GET / HTTP/1.0\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.0 431"}}) {
    CClient client(m_port);
    ASSERT_TRUE(client.Send(c.request));
    EXPECT_TRUE(client.ReadToEnd(5000ms)) << c.status << " " << c.request.substr(0, 30);
    EXPECT_EQ(client.Read(0).rfind(c.status, 0), 0u) << client.Read(0).substr(0, 40);
  }
  CClient head(m_port);
  ASSERT_TRUE(head.Send("HEAD / HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(head.ReadToEnd(5000ms));
  EXPECT_TRUE(head.Body().empty());
  // Still serving.
  CClient viewer(m_port);
  ASSERT_TRUE(viewer.Send(Get()));
  EXPECT_EQ(viewer.Read(17).rfind("HTTP/1.0 200 OK", 0), 0u);
}

TEST_F(NetworkSink, StopAndRunEndsPlainViewersAndGivesFramedViewersANewHeader) {
  StartFeeding();
  CClient plain(m_port);
  ASSERT_TRUE(plain.Send(Get()));
  CClient framed(m_port);
  ASSERT_TRUE(
      framed.Send(Get("User-Agent: NSPlayer/4.1.0.3856\r\nPragma: xClientGUID={3300AD50-2C39-46c0-AE0A-"
                      "132CB9E3C3A1}\r\nPragma: xPlayStrm=1\r\n")));
  (void)framed.Read(40000);
  EXPECT_NE(framed.Read(0).find("application/x-mms-framed"), std::string::npos);
  ASSERT_GE(framed.Body().size(), 12u);
  EXPECT_EQ(framed.Body().substr(0, 2), "$H");
  EXPECT_EQ(std::memcmp(framed.Body().data() + 12, kAsfHeaderGuid, 4), 0);
  EXPECT_NE(framed.Body().find("$D"), std::string::npos);

  // The writer stops (a file rotation) and runs again.
  StopFeeding();
  ASSERT_EQ(m_writer->Engine().End(), S_OK);
  EXPECT_TRUE(plain.ReadToEnd(5000ms)) << "a plain viewer is ended so that it reconnects";
  (void)framed.Read(SIZE_MAX, 500ms);  // everything of the first stream
  const std::size_t before = framed.Read(0).size();
  StartFeeding();
  const std::string after = framed.Read(before + 20000).substr(before);
  ASSERT_FALSE(framed.Closed());
  const auto change = after.find("$C");
  ASSERT_NE(change, std::string::npos);
  EXPECT_EQ(after.substr(change + 8, 2), "$H") << "a new header follows the stream change";

  // The port can be taken again only after Close.
  ComPtr<IWMWriterNetworkSink> second;
  ASSERT_EQ(WMCreateWriterNetworkSink(second.ReleaseAndGetAddressOf()), S_OK);
  DWORD samePort = m_port;
  EXPECT_EQ(second->Open(&samePort), NS_E_PORT_IN_USE_HTTP);
  EXPECT_EQ(second->SetNetworkProtocol(static_cast<WMT_NET_PROTOCOL>(1)), E_INVALIDARG);
}

}  // namespace
}  // namespace halvard::wmf
