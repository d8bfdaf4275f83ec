#pragma once
/// Locks and events of the filter framework.

#include <condition_variable>
#include <mutex>

#include "platform/base/WinTypes.h"

/// A critical section: recursive, as the original (a thread may enter it again).
class CCritSec {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Lock() { m_mutex.lock(); }
  void Unlock() { m_mutex.unlock(); }
  // BasicLockable, for std::lock_guard / std::unique_lock / condition_variable_any.
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

/// Holds a critical section for its scope.
class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : m_lock(lock) { m_lock->Lock(); }
  ~CAutoLock() { m_lock->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* m_lock;
};

/// An event: manual-reset or auto-reset.
class CAMEvent {
 public:
  explicit CAMEvent(BOOL manualReset = FALSE) : m_manualReset(manualReset != FALSE) {}
  void Set();
  void Reset();
  /// Waits up to timeoutMs (INFINITE = 0xFFFFFFFF waits for ever). TRUE when signalled.
  BOOL Wait(DWORD timeoutMs = 0xFFFFFFFF);
  /// Whether it is signalled now (an auto-reset event is reset by the check).
  BOOL Check() { return Wait(0); }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_signalled = false;
  bool m_manualReset;
};
