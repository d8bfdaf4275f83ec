#pragma once
// A one-connection-at-a-time HTTP server on 127.0.0.1 for tests: records each request
// and answers every one with the same canned reply.

#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace halvard::internet::testing {

struct RecordedRequest {
  std::string head;  // request line and headers, as received
  std::string body;  // Content-Length bytes
};

class LoopbackHttpServer {
 public:
  /// Listens on an ephemeral port of 127.0.0.1; every request gets `reply` (the whole
  /// response, status line included) and the connection is closed.
  explicit LoopbackHttpServer(std::string reply);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  [[nodiscard]] int Port() const { return m_port; }
  /// "127.0.0.1:<port>".
  [[nodiscard]] std::string HostEntry() const;
  [[nodiscard]] std::vector<RecordedRequest> Requests() const;

 private:
  void Serve(const std::stop_token& stop);

  std::string m_reply;
  int m_listener = -1;
  int m_port = 0;
  mutable std::mutex m_mutex;
  std::vector<RecordedRequest> m_requests;
  std::jthread m_thread;
};

/// A response with status 200 and `body`.
[[nodiscard]] std::string HttpOk(const std::string& body);

}  // namespace halvard::internet::testing
