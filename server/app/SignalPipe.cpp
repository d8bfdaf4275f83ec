#include "server/app/SignalPipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <QSocketNotifier>

namespace halvard::app {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int signalNumber) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  // A full pipe already holds a close request; dropping this one loses nothing.
  (void)!write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

CSignalPipe::CSignalPipe(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
  ::signal(SIGPIPE, SIG_IGN);
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
    unsigned char byte = 0;
    while (read(g_pipe[0], &byte, 1) == 1) {
      if (m_onSignal) {
        m_onSignal(byte);
      }
    }
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int s : kSignals) {
    sigaction(s, &action, nullptr);
  }
  m_installed = true;
}

CSignalPipe::~CSignalPipe() {
  for (const int s : kSignals) {
    ::signal(s, SIG_DFL);
  }
  m_notifier.reset();
  for (int& fd : g_pipe) {
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  }
}

}  // namespace halvard::app
