#include "platform/media/Sync.h"

#include <chrono>

void CAMEvent::Set() {
  {
    std::lock_guard lock(m_mutex);
    m_signalled = true;
  }
  m_cv.notify_all();
}

void CAMEvent::Reset() {
  std::lock_guard lock(m_mutex);
  m_signalled = false;
}

BOOL CAMEvent::Wait(DWORD timeoutMs) {
  std::unique_lock lock(m_mutex);
  const auto ready = [this] { return m_signalled; };
  if (timeoutMs == 0xFFFFFFFF) {
    m_cv.wait(lock, ready);
  } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return FALSE;
  }
  if (!m_manualReset) {
    m_signalled = false;
  }
  return TRUE;
}
