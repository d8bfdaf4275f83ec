#include "server/internet/tests/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace halvard::internet::testing {
namespace {

std::size_t ContentLength(const std::string& head) {
  const std::string key = "\r\ncontent-length:";
  std::string lower = head;
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const std::size_t at = lower.find(key);
  return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(std::string reply) : m_reply(std::move(reply)) {
  m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(m_listener, 8) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  m_port = ntohs(address.sin_port);
  m_thread = std::jthread([this](std::stop_token stop) { Serve(stop); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  m_thread.request_stop();
  m_thread.join();
  close(m_listener);
}

std::string LoopbackHttpServer::HostEntry() const { return "127.0.0.1:" + std::to_string(m_port); }

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  const std::lock_guard lock(m_mutex);
  return m_requests;
}

void LoopbackHttpServer::Serve(const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    pollfd pfd{m_listener, POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) {
      continue;
    }
    const int client = accept(m_listener, nullptr, nullptr);
    if (client < 0) {
      continue;
    }
    std::string data;
    RecordedRequest request;
    char buffer[4096];
    for (;;) {
      pollfd cfd{client, POLLIN, 0};
      if (poll(&cfd, 1, 5000) <= 0) {
        break;
      }
      const ssize_t n = recv(client, buffer, sizeof(buffer), 0);
      if (n <= 0) {
        break;
      }
      data.append(buffer, static_cast<std::size_t>(n));
      const std::size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos && data.size() >= end + 4 + ContentLength(data.substr(0, end + 2))) {
        request.head = data.substr(0, end + 2);
        request.body = data.substr(end + 4, ContentLength(request.head));
        break;
      }
    }
    {
      const std::lock_guard lock(m_mutex);
      m_requests.push_back(request);
    }
    std::string_view rest = m_reply;
    while (!rest.empty()) {
      const ssize_t n = send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (n <= 0) {
        break;
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    shutdown(client, SHUT_WR);
    close(client);
  }
}

std::string HttpOk(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace halvard::internet::testing
