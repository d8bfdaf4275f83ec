#include "server/ptz/tests/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace halvard::ptz::testing {
namespace {

std::string VariableName(int port) { return "HALVARD_COM" + std::to_string(port); }

void ReadInto(int fd, std::vector<BYTE>& out, int waitMs) {
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN) != 0) {
    BYTE buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      return;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
}

}  // namespace

CPseudoTerminal::CPseudoTerminal(int portNumber) : m_port(portNumber) {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
    return;
  }
  const char* name = ::ptsname(m_master);
  if (name == nullptr) {
    return;
  }
  m_slavePath = name;
  m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (const char* previous = std::getenv(VariableName(m_port).c_str())) {
    m_previous = previous;
    m_hadPrevious = true;
  }
  ::setenv(VariableName(m_port).c_str(), m_slavePath.c_str(), 1);
}

CPseudoTerminal::~CPseudoTerminal() {
  if (m_hadPrevious) {
    ::setenv(VariableName(m_port).c_str(), m_previous.c_str(), 1);
  } else {
    ::unsetenv(VariableName(m_port).c_str());
  }
  if (m_slave >= 0) {
    ::close(m_slave);
  }
  if (m_master >= 0) {
    ::close(m_master);
  }
}

std::vector<BYTE> CPseudoTerminal::Read(std::size_t count) {
  std::vector<BYTE> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
    ReadInto(m_master, out, 100);
  }
  ReadInto(m_master, out, 100);
  return out;
}

std::vector<BYTE> CPseudoTerminal::ReadAvailable() {
  std::vector<BYTE> out;
  ReadInto(m_master, out, 100);
  return out;
}

termios CPseudoTerminal::Settings() const {
  termios tio{};
  (void)::tcgetattr(m_master, &tio);
  return tio;
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
  std::vector<BYTE> out;
  for (const int v : values) {
    out.push_back(static_cast<BYTE>(v));
  }
  return out;
}

}  // namespace halvard::ptz::testing
