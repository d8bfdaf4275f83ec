// halvard-directory: a small directory server for the cameras of one or more stations.
//
//   halvard-directory [--bind ADDRESS] [--port PORT]
//
// Listens on ADDRESS (default 127.0.0.1) and PORT (default 8080; 0 picks a free port),
// prints "listening on http://ADDRESS:PORT/" and then one line per update. Stations post
// to "/MonIPUpdate.aspx"; "/" lists the published cameras. Requests are served one at
// a time; each connection gets one answer and is closed, and a request that is not
// complete within a few seconds is answered 408.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/halvard-directory/Directory.h"

namespace {

using halvard::directory::CDirectory;
using halvard::directory::HttpRequest;
using halvard::directory::ParseStatus;

constexpr int kRequestTimeoutMs = 5000;
volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int /*signal*/) { g_stop = 1; }

/// A socket closed at scope exit.
class Socket {
 public:
  explicit Socket(int fd) : m_fd(fd) {}
  ~Socket() {
    if (m_fd >= 0) {
      close(m_fd);
    }
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  [[nodiscard]] int Fd() const { return m_fd; }

 private:
  int m_fd;
};

void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;  // the client went away or stalled: nothing more to do for it
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

/// Reads one request from a connection within kRequestTimeoutMs and answers it.
void Serve(CDirectory& directory, int fd) {
  timeval sendTimeout{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(sendTimeout));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  std::string data;
  HttpRequest request;
  std::size_t consumed = 0;
  ParseStatus status = ParseStatus::kIncomplete;
  char buffer[4096];
  while (status == ParseStatus::kIncomplete && !g_stop) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      break;
    }
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      break;
    }
    const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      if (!data.empty()) {
        status = ParseStatus::kBadRequest;  // closed in the middle of a request
      }
      break;
    }
    data.append(buffer, static_cast<std::size_t>(n));
    status = halvard::directory::ParseHttpRequest(data, &request, &consumed);
  }
  if (status == ParseStatus::kComplete) {
    std::string logLine;
    SendAll(fd, halvard::directory::HandleRequest(directory, request, std::chrono::system_clock::now(), &logLine));
    if (!logLine.empty()) {
      std::printf("%s\n", logLine.c_str());
      std::fflush(stdout);
    }
  } else if (!data.empty()) {
    SendAll(fd, halvard::directory::ErrorResponse(status));
  }
  shutdown(fd, SHUT_WR);
  // Read what the client still sends for a moment before closing: closing a socket
  // with unread data resets the connection, and the client could lose the answer.
  for (int i = 0; i < 16; ++i) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0 || recv(fd, buffer, sizeof(buffer), 0) <= 0) {
      break;
    }
  }
}

int Usage() {
  std::fprintf(stderr, "usage: halvard-directory [--bind ADDRESS] [--port PORT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string bindAddress = "127.0.0.1";
  unsigned port = 8080;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    }
    if (i + 1 >= argc) {
      return Usage();
    }
    const std::string_view value = argv[++i];
    if (arg == "--bind") {
      bindAddress = value;
    } else if (arg == "--port") {
      const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc{} || ptr != value.data() + value.size() || port > 65535) {
        std::fprintf(stderr, "halvard-directory: not a port: %s\n", argv[i]);
        return 2;
      }
    } else {
      return Usage();
    }
  }

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
    std::fprintf(stderr, "halvard-directory: not an IPv4 address: %s\n", bindAddress.c_str());
    return 2;
  }
  const Socket listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int one = 1;
  if (listener.Fd() < 0 || setsockopt(listener.Fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
      bind(listener.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener.Fd(), 64) != 0) {
    std::fprintf(stderr, "halvard-directory: cannot listen on %s:%u: %s\n", bindAddress.c_str(), port,
                 std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof(address);
  getsockname(listener.Fd(), reinterpret_cast<sockaddr*>(&address), &length);

  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::printf("listening on http://%s:%u/\n", bindAddress.c_str(), static_cast<unsigned>(ntohs(address.sin_port)));
  std::fflush(stdout);

  CDirectory directory;
  while (!g_stop) {
    pollfd pfd{listener.Fd(), POLLIN, 0};
    if (poll(&pfd, 1, 500) <= 0) {
      continue;
    }
    const Socket client(accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.Fd() >= 0) {
      Serve(directory, client.Fd());
    }
  }
  return 0;
}
