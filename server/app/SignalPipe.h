#pragma once
/// Termination signals into the event loop: SIGTERM, SIGINT and SIGHUP are written to a
/// self-pipe by the handler (the only thing a handler may safely do) and read on the
/// user-interface thread, which then closes the main frame as the operator would.
/// SIGPIPE is ignored (a viewer that hangs up must not end the server).

#include <functional>
#include <memory>

class QSocketNotifier;

namespace halvard::app {

/// Threads: made and destroyed on the user-interface thread; one per process.
class CSignalPipe {
 public:
  /// `onSignal` runs on the user-interface thread with the signal number.
  explicit CSignalPipe(std::function<void(int)> onSignal);
  /// Restores the default handlers.
  ~CSignalPipe();
  CSignalPipe(const CSignalPipe&) = delete;
  CSignalPipe& operator=(const CSignalPipe&) = delete;

  /// Whether the handlers are installed (false when the pipe could not be made).
  [[nodiscard]] bool IsInstalled() const { return m_installed; }

 private:
  std::function<void(int)> m_onSignal;
  std::unique_ptr<QSocketNotifier> m_notifier;
  bool m_installed = false;
};

}  // namespace halvard::app
