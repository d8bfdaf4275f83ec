#include "server/ui/QtDispatcher.h"

#include <QThread>

namespace halvard::ui {

CQtDispatcher::CQtDispatcher() = default;

CQtDispatcher::~CQtDispatcher() { Shutdown(); }

bool CQtDispatcher::Post(const MSG& msg) {
  if (m_shutdown.load()) {
    return false;
  }
  // The lambda runs on this object's thread; the flag is checked again there because a
  // message posted before Shutdown may come up after it.
  return QMetaObject::invokeMethod(
      this,
      [this, msg] {
        if (!m_shutdown.load()) {
          ::halvard::window::DispatchMessage(msg);
        }
      },
      Qt::QueuedConnection);
}

bool CQtDispatcher::RunSynchronously(const std::function<void()>& work) {
  if (m_shutdown.load()) {
    return false;
  }
  if (QThread::currentThread() == thread()) {
    work();
    return true;
  }
  bool ran = false;
  const bool delivered = QMetaObject::invokeMethod(
      this,
      [this, &work, &ran] {
        if (!m_shutdown.load()) {
          work();
          ran = true;
        }
      },
      Qt::BlockingQueuedConnection);
  return delivered && ran;
}

void CQtDispatcher::Shutdown() { m_shutdown.store(true); }

}  // namespace halvard::ui
