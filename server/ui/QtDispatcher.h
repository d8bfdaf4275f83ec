#pragma once
/// The window-message dispatcher of the server: runs window procedures on the Qt
/// user-interface thread. Installed once with SetDefaultDispatcher, so every handle the
/// windows and the engine create delivers its posted messages through the event loop.

#include <atomic>

#include <QObject>

#include "platform/window/Window.h"

namespace halvard::ui {

/// Threads: created on the user-interface thread; Post and RunSynchronously from any
/// thread. Shutdown (also run by the destructor) on the user-interface thread: posts
/// are refused afterwards and queued messages are dropped.
class CQtDispatcher final : public QObject, public window::IMessageDispatcher {
 public:
  CQtDispatcher();
  ~CQtDispatcher() override;
  CQtDispatcher(const CQtDispatcher&) = delete;
  CQtDispatcher& operator=(const CQtDispatcher&) = delete;

  /// Queues msg into the event loop. False after Shutdown.
  bool Post(const MSG& msg) override;
  /// Runs work on the user-interface thread and waits for it (at once on that thread).
  /// False after Shutdown.
  bool RunSynchronously(const std::function<void()>& work) override;
  void Shutdown();

 private:
  std::atomic<bool> m_shutdown{false};
};

}  // namespace halvard::ui
