// The network sink: a small HTTP server on one port. The writer's streaming thread
// only queues packets (never blocks on a socket); the sink's own thread accepts,
// reads requests and sends. A client whose queue grows past kMaxQueuedBytes, or that
// takes no data for kStallMs, is dropped; the others and the recording go on.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/Text.h"
#include "platform/wmf/AsfFormat.h"
#include "platform/wmf/ComObject.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf {
namespace {

constexpr std::size_t kMaxRequestBytes = 8192;
constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;
// Bounds what the kernel holds for one viewer, so that a stalled viewer fills its
// queue (and is dropped) instead of tying up megabytes of socket memory.
constexpr int kSendBufferBytes = 256 * 1024;
constexpr std::size_t kMaxPendingRequests = 64;
constexpr int kRequestTimeoutMs = 10000;
constexpr int kStallMs = 15000;
constexpr DWORD kDefaultMaxClients = 5;
constexpr WORD kChunkHeader = 0x4824;        // "$H"
constexpr WORD kChunkData = 0x4424;          // "$D"
constexpr WORD kChunkStreamChange = 0x4324;  // "$C"

using Clock = std::chrono::steady_clock;
using Bytes = std::shared_ptr<const std::vector<BYTE>>;

struct QueueItem {
  std::array<BYTE, 12> prefix{};
  std::size_t prefixBytes = 0;
  Bytes body;
  [[nodiscard]] std::size_t Size() const { return prefixBytes + (body ? body->size() : 0); }
};

struct Client {
  int fd = -1;
  enum class State { Request, Streaming } state = State::Request;
  std::string request;
  bool framed = false;
  bool headerSent = false;  // the current stream's header is queued
  bool waitingKey = true;
  bool closeAfterDrain = false;
  bool drop = false;
  std::uint32_t sequence = 0;
  std::deque<QueueItem> queue;
  std::size_t sentOfFront = 0;
  std::size_t queuedBytes = 0;
  Clock::time_point lastProgress = Clock::now();
};

void PutLe16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}
void PutLe32(BYTE* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<BYTE>(v >> (8 * i));
  }
}

Bytes MakeBytes(std::string_view text) { return std::make_shared<const std::vector<BYTE>>(text.begin(), text.end()); }

// The value of a header line (case-insensitive name), all occurrences joined.
std::string HeaderValues(const std::string& request, std::string_view name) {
  std::string values;
  std::size_t pos = request.find("\r\n");
  while (pos != std::string::npos && pos + 2 < request.size()) {
    const std::size_t start = pos + 2;
    const std::size_t end = request.find("\r\n", start);
    const std::string line = request.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && text::EqualsNoCase(line.substr(0, colon), name)) {
      values += line.substr(colon + 1);
      values += ';';
    }
    pos = end;
  }
  return values;
}

bool ContainsNoCase(const std::string& haystack, std::string_view needle) {
  return text::FoldCase(haystack).find(text::FoldCase(needle)) != std::string::npos;
}

class CWriterNetworkSink final : public CComObject<IWMWriterNetworkSink> {
 public:
  ~CWriterNetworkSink() override { (void)Close(); }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMWriterSink || riid == IID_IWMWriterNetworkSink) {
      return Hand(static_cast<IWMWriterNetworkSink*>(this), ppv);
    }
    return E_NOINTERFACE;
  }

  HRESULT SetMaximumClients(DWORD clients) override {
    const std::scoped_lock lock(m_mutex);
    m_maxClients = clients;
    return S_OK;
  }
  HRESULT GetMaximumClients(DWORD* clients) override {
    if (clients == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    *clients = m_maxClients;
    return S_OK;
  }
  HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) override {
    return protocol == WMT_PROTOCOL_HTTP ? S_OK : E_INVALIDARG;
  }
  HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) override {
    if (protocol == nullptr) {
      return E_POINTER;
    }
    *protocol = WMT_PROTOCOL_HTTP;
    return S_OK;
  }
  HRESULT GetHostURL(char* url, DWORD* length) override {
    DWORD port = 0;
    {
      const std::scoped_lock lock(m_mutex);
      if (m_listenFd < 0) {
        return NS_E_NOT_CONFIGURED;
      }
      port = m_port;
    }
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) != 0) {
      std::strcpy(host.data(), "localhost");
    }
    return CopyText("http://" + std::string(host.data()) + ":" + std::to_string(port), url, length);
  }

  HRESULT Open(DWORD* port) override {
    if (port == nullptr) {
      return E_POINTER;
    }
    if (*port > 65535) {
      return E_INVALIDARG;
    }
    const std::scoped_lock lock(m_mutex);
    if (m_listenFd >= 0) {
      return E_UNEXPECTED;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      return NS_E_NETWORK_RESOURCE_FAILURE;
    }
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      const int error = errno;
      ::close(fd);
      return error == EADDRINUSE || error == EACCES ? NS_E_PORT_IN_USE_HTTP : NS_E_NETWORK_RESOURCE_FAILURE;
    }
    socklen_t size = sizeof(address);
    if (::listen(fd, 64) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ::close(fd);
      return NS_E_NETWORK_RESOURCE_FAILURE;
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0) {
      ::close(fd);
      return NS_E_NETWORK_RESOURCE_FAILURE;
    }
    m_listenFd = fd;
    m_port = ntohs(address.sin_port);
    *port = m_port;
    m_stop = false;
    m_thread = std::thread([this] { Serve(); });
    return S_OK;
  }

  HRESULT Disconnect() override {
    const std::scoped_lock lock(m_mutex);
    for (auto& client : m_clients) {
      client->drop = true;
    }
    Wake();
    return S_OK;
  }

  HRESULT Close() override {
    {
      const std::scoped_lock lock(m_mutex);
      if (m_listenFd < 0) {
        return S_FALSE;
      }
      m_stop = true;
      Wake();
    }
    if (m_thread.joinable()) {
      m_thread.join();
    }
    const std::scoped_lock lock(m_mutex);
    for (auto& client : m_clients) {
      ::close(client->fd);
    }
    m_clients.clear();
    ::close(m_listenFd);
    ::close(m_wakeFd);
    m_listenFd = -1;
    m_wakeFd = -1;
    return S_OK;
  }

  HRESULT IsRealTime(BOOL* realTime) override {
    if (realTime == nullptr) {
      return E_POINTER;
    }
    *realTime = TRUE;  // viewers that cannot keep up lose data; the recording never waits
    return S_OK;
  }

  HRESULT OnHeader(const BYTE* header, DWORD bytes) override {
    if (header == nullptr) {
      return E_POINTER;
    }
    asf::HeaderInfo info;
    if (!asf::ParseHeader({header, bytes}, &info)) {
      return NS_E_INVALID_DATA;
    }
    auto copy = std::make_shared<std::vector<BYTE>>(header, header + bytes);
    asf::MarkBroadcast(copy.get(), info);
    const std::scoped_lock lock(m_mutex);
    m_header = std::move(copy);
    for (auto& client : m_clients) {
      if (client->state != Client::State::Streaming || client->closeAfterDrain) {
        continue;
      }
      if (client->headerSent && client->framed) {
        Enqueue(*client, Chunk(*client, kChunkStreamChange, 4, nullptr));
      }
      SendHeader(*client);
    }
    Wake();
    return S_OK;
  }

  HRESULT OnDataUnit(const BYTE* packet, DWORD bytes, DWORD flags) override {
    if (packet == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    Bytes shared;
    for (auto& client : m_clients) {
      if (client->state != Client::State::Streaming || !client->headerSent || client->closeAfterDrain) {
        continue;
      }
      if (client->waitingKey) {
        if ((flags & WM_SF_CLEANPOINT) == 0) {
          continue;
        }
        client->waitingKey = false;
      }
      if (!shared) {
        shared = std::make_shared<const std::vector<BYTE>>(packet, packet + bytes);
      }
      if (client->framed) {
        Enqueue(*client, Chunk(*client, kChunkData, 8, shared));
      } else {
        Enqueue(*client, QueueItem{{}, 0, shared});
      }
    }
    if (shared) {
      Wake();
    }
    return S_OK;
  }

  HRESULT OnEndWriting(const BYTE*, DWORD, const BYTE*, DWORD) override {
    const std::scoped_lock lock(m_mutex);
    m_header.reset();
    for (auto& client : m_clients) {
      if (client->state != Client::State::Streaming) {
        continue;
      }
      if (client->framed) {
        continue;  // stays: the next stream comes as "$C" and a new header
      }
      // A plain response cannot carry a second header: end it so the viewer reconnects.
      client->closeAfterDrain = true;
    }
    Wake();
    return S_OK;
  }

 private:
  void Wake() {
    if (m_wakeFd >= 0) {
      const std::uint64_t one = 1;
      (void)!::write(m_wakeFd, &one, sizeof(one));
    }
  }

  QueueItem Chunk(Client& client, WORD type, std::size_t extBytes, Bytes body) {
    QueueItem item;
    const std::size_t payload = body ? body->size() : 0;
    const auto length = static_cast<WORD>(payload + extBytes);
    PutLe16(item.prefix.data(), type);
    PutLe16(item.prefix.data() + 2, length);
    PutLe32(item.prefix.data() + 4, client.sequence++);
    if (extBytes == 8) {
      PutLe16(item.prefix.data() + 8, 0);
      PutLe16(item.prefix.data() + 10, length);
    }
    item.prefixBytes = 4 + extBytes;
    item.body = std::move(body);
    return item;
  }

  void SendHeader(Client& client) {
    if (!m_header) {
      return;
    }
    Bytes header = m_header;
    if (client.framed) {
      Enqueue(client, Chunk(client, kChunkHeader, 8, header));
    } else {
      Enqueue(client, QueueItem{{}, 0, header});
    }
    client.headerSent = true;
    client.waitingKey = true;
  }

  void Enqueue(Client& client, QueueItem item) {
    client.queuedBytes += item.Size();
    client.queue.push_back(std::move(item));
    if (client.queuedBytes > kMaxQueuedBytes) {
      client.drop = true;
    }
  }

  void Respond(Client& client, std::string_view status, std::string_view extra = {}) {
    std::string text = "HTTP/1.0 ";
    text += status;
    text += "\r\nContent-Type: text/plain\r\nContent-Length: ";
    text += std::to_string(status.size() + 2);
    text += "\r\nConnection: close\r\n";
    text += extra;
    text += "\r\n";
    text += status;
    text += "\r\n";
    client.state = Client::State::Streaming;
    Enqueue(client, QueueItem{{}, 0, MakeBytes(text)});
    client.closeAfterDrain = true;
  }

  std::size_t StreamingClients() const {
    std::size_t count = 0;
    for (const auto& client : m_clients) {
      if (client->state == Client::State::Streaming && !client->closeAfterDrain && !client->drop) {
        ++count;
      }
    }
    return count;
  }

  // A whole request has arrived: answer it.
  void HandleRequest(Client& client) {
    const std::string& request = client.request;
    const std::size_t lineEnd = request.find("\r\n");
    const std::string line = request.substr(0, lineEnd);
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) {
      Respond(client, "400 Bad Request");
      return;
    }
    const std::string method = line.substr(0, sp1);
    const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = line.substr(sp2 + 1);
    if (target.empty() || target[0] != '/' || (version != "HTTP/1.0" && version != "HTTP/1.1")) {
      Respond(client, "400 Bad Request");
      return;
    }
    if (method != "GET" && method != "HEAD") {
      Respond(client, "405 Method Not Allowed", "Allow: GET, HEAD\r\n");
      return;
    }
    const std::string pragma = HeaderValues(request, "Pragma");
    const std::string agent = HeaderValues(request, "User-Agent");
    client.framed = ContainsNoCase(pragma, "xClientGUID") || ContainsNoCase(agent, "NSPlayer");
    const bool play = !client.framed || ContainsNoCase(pragma, "xPlayStrm=1");
    if (play && method == "GET" && StreamingClients() >= m_maxClients) {
      Respond(client, "503 Service Unavailable");
      return;
    }
    std::string head = "HTTP/1.0 200 OK\r\n";
    if (client.framed) {
      head += "Content-Type: application/x-mms-framed\r\nPragma: no-cache\r\nPragma: client-id=" +
              std::to_string(++m_clientIds) + "\r\nPragma: features=\"broadcast\"\r\n";
    } else {
      head += "Content-Type: video/x-ms-asf\r\n";
    }
    head += "Cache-Control: no-cache\r\nConnection: close\r\n\r\n";
    client.state = Client::State::Streaming;
    Enqueue(client, QueueItem{{}, 0, MakeBytes(head)});
    if (method == "HEAD") {
      client.closeAfterDrain = true;
      return;
    }
    if (!play) {
      // A description request: the header alone.
      if (m_header) {
        SendHeader(client);
      }
      client.closeAfterDrain = true;
      return;
    }
    SendHeader(client);  // or later, when the writer starts
  }

  void ReadRequest(Client& client) {
    std::array<char, 2048> buffer{};
    while (true) {
      const ssize_t got = ::recv(client.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got == 0) {
        client.drop = true;
        return;
      }
      if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          client.drop = true;
        }
        break;
      }
      if (client.state != Client::State::Request) {
        continue;  // whatever a viewer sends after its request is ignored
      }
      client.request.append(buffer.data(), static_cast<std::size_t>(got));
      const std::size_t end = client.request.find("\r\n\r\n");
      if ((end == std::string::npos ? client.request.size() : end + 4) > kMaxRequestBytes) {
        Respond(client, "431 Request Header Fields Too Large");
      } else if (end != std::string::npos) {
        HandleRequest(client);
      }
    }
  }

  void SendQueued(Client& client) {
    while (!client.queue.empty()) {
      QueueItem& item = client.queue.front();
      iovec parts[2]{};
      int count = 0;
      std::size_t skip = client.sentOfFront;
      if (skip < item.prefixBytes) {
        parts[count++] = {item.prefix.data() + skip, item.prefixBytes - skip};
        skip = 0;
      } else {
        skip -= item.prefixBytes;
      }
      if (item.body && skip < item.body->size()) {
        parts[count++] = {const_cast<BYTE*>(item.body->data()) + skip, item.body->size() - skip};
      }
      msghdr message{};
      message.msg_iov = parts;
      message.msg_iovlen = static_cast<std::size_t>(count);
      const ssize_t sent = count == 0 ? 0 : ::sendmsg(client.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          client.drop = true;
        }
        return;
      }
      client.lastProgress = Clock::now();
      client.sentOfFront += static_cast<std::size_t>(sent);
      if (client.sentOfFront < item.Size()) {
        return;
      }
      client.queuedBytes -= item.Size();
      client.sentOfFront = 0;
      client.queue.pop_front();
    }
    if (client.closeAfterDrain) {
      ::shutdown(client.fd, SHUT_WR);
      client.drop = true;
    }
  }

  void Accept() {
    while (true) {
      const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        return;
      }
      std::size_t pending = 0;
      for (const auto& client : m_clients) {
        pending += client->state == Client::State::Request ? 1 : 0;
      }
      if (pending >= kMaxPendingRequests) {
        ::close(fd);
        continue;
      }
      (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof(kSendBufferBytes));
      auto client = std::make_unique<Client>();
      client->fd = fd;
      m_clients.push_back(std::move(client));
    }
  }

  void Serve() {
    std::vector<pollfd> fds;
    std::vector<Client*> polled;
    while (true) {
      {
        const std::scoped_lock lock(m_mutex);
        if (m_stop) {
          return;
        }
        fds.clear();
        polled.clear();
        fds.push_back({m_wakeFd, POLLIN, 0});
        fds.push_back({m_listenFd, POLLIN, 0});
        for (auto& client : m_clients) {
          short events = POLLIN;
          if (!client->queue.empty() || client->closeAfterDrain) {
            events |= POLLOUT;
          }
          fds.push_back({client->fd, events, 0});
          polled.push_back(client.get());
        }
      }
      (void)::poll(fds.data(), fds.size(), 500);
      const std::scoped_lock lock(m_mutex);
      if (m_stop) {
        return;
      }
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t value = 0;
        (void)!::read(m_wakeFd, &value, sizeof(value));
      }
      const auto now = Clock::now();
      for (std::size_t i = 0; i < polled.size(); ++i) {
        Client& client = *polled[i];
        const short revents = fds[i + 2].revents;
        if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (revents & POLLIN) == 0) {
          client.drop = true;
        }
        if (!client.drop && (revents & POLLIN) != 0) {
          ReadRequest(client);
        }
        if (!client.drop) {
          SendQueued(client);
        }
        const auto idleMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - client.lastProgress).count();
        if (client.state == Client::State::Request && idleMs > kRequestTimeoutMs) {
          client.drop = true;
        } else if (!client.queue.empty() && idleMs > kStallMs) {
          client.drop = true;  // stalled: takes nothing
        }
      }
      // Clients added since the poll are served next round; dropped ones go now.
      for (auto it = m_clients.begin(); it != m_clients.end();) {
        if ((*it)->drop) {
          ::close((*it)->fd);
          it = m_clients.erase(it);
        } else {
          ++it;
        }
      }
      if ((fds[1].revents & POLLIN) != 0) {
        Accept();
      }
    }
  }

  std::mutex m_mutex;  // everything below
  int m_listenFd = -1;
  int m_wakeFd = -1;
  DWORD m_port = 0;
  DWORD m_maxClients = kDefaultMaxClients;
  std::uint32_t m_clientIds = 0;
  bool m_stop = false;
  std::thread m_thread;
  std::vector<std::unique_ptr<Client>> m_clients;
  std::shared_ptr<const std::vector<BYTE>> m_header;
};

}  // namespace
}  // namespace halvard::wmf

HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** sink) {
  if (sink == nullptr) {
    return E_POINTER;
  }
  *sink = new halvard::wmf::CWriterNetworkSink();
  return S_OK;
}
