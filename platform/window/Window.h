#pragma once
/// Window handles and window messages.
///
/// A window handle (HWND) is a 32-bit number that names a message target: a window
/// procedure registered with CreateWindowHandle and the dispatcher that runs it. Handles
/// are never reused within a process, so a message posted to a destroyed window is
/// refused instead of reaching a newcomer.
///
/// Delivery: every handle belongs to a dispatcher. The Qt side of the server installs its
/// own dispatcher (SetDefaultDispatcher) that runs procedures on the user-interface
/// thread; tools and tests use CMessageQueue, a plain queue pumped by one thread.
/// PostMessage and SendMessage may be called from any thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/base/WinTypes.h"

/// A window handle. 0 is "no window".
using HWND = std::uint32_t;

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;  // timeGetTime() when posted
};

// Message numbers used across the system.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16); }

/// The procedure of a window: runs on its dispatcher's thread.
using WindowProcedure = std::function<LRESULT(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)>;

namespace halvard::window {

/// Runs window procedures on one thread. Implemented by CMessageQueue and by the Qt side.
class IMessageDispatcher {
 public:
  virtual ~IMessageDispatcher() = default;
  /// Queues msg for later delivery on the dispatcher's thread, which then calls
  /// DispatchMessage(msg). Called from any thread; must not block for long.
  /// Returns false when the dispatcher no longer accepts messages.
  virtual bool Post(const MSG& msg) = 0;
  /// Runs work on the dispatcher's thread and returns when it has run. When called on
  /// that thread, runs it at once. Returns false (work not run) when the dispatcher is
  /// shut down.
  virtual bool RunSynchronously(const std::function<void()>& work) = 0;
};

/// Registers a window procedure and returns its new handle (never 0). dispatcher null =
/// the default dispatcher at the time of the call. The dispatcher must outlive the handle.
[[nodiscard]] HWND CreateWindowHandle(WindowProcedure procedure, IMessageDispatcher* dispatcher = nullptr);

/// Unregisters a handle. Messages already queued for it are dropped when they come up.
/// Returns false for an unknown handle. Safe while its procedure runs on another thread:
/// the call waits until that run has ended (except when called from the procedure itself).
bool DestroyWindowHandle(HWND hwnd);

/// Whether the handle names a live window.
[[nodiscard]] bool IsWindow(HWND hwnd);

/// Installs the dispatcher for handles created without one (null = none). Returns the
/// previous one. The Qt side calls this once at start.
IMessageDispatcher* SetDefaultDispatcher(IMessageDispatcher* dispatcher);

/// Runs the procedure of msg.hwnd with msg, if the handle is still alive. Called by
/// dispatchers on their own thread. Returns the procedure's result (0 for a dead handle).
LRESULT DispatchMessage(const MSG& msg);

/// A plain message queue pumped by one thread (tools and tests). Besides dispatching, it
/// records nothing: tests that want to look at messages give their handle a procedure
/// that records them.
class CMessageQueue final : public IMessageDispatcher {
 public:
  /// The constructing thread is the queue's thread until Pump* is called on another.
  CMessageQueue();
  ~CMessageQueue() override;
  CMessageQueue(const CMessageQueue&) = delete;
  CMessageQueue& operator=(const CMessageQueue&) = delete;

  bool Post(const MSG& msg) override;
  bool RunSynchronously(const std::function<void()>& work) override;

  /// Dispatches everything queued now (not what those messages post). Returns the count.
  std::size_t PumpPending();
  /// Waits up to timeoutMs for one message or synchronous call and dispatches it.
  /// Returns false on time-out.
  bool PumpOne(DWORD timeoutMs);
  /// Pumps until predicate() is true or timeoutMs elapsed; returns predicate().
  bool PumpUntil(const std::function<bool()>& predicate, DWORD timeoutMs);
  /// Messages waiting (posted, not yet dispatched).
  [[nodiscard]] std::size_t PendingCount() const;
  /// Refuses further posts and wakes synchronous callers (they return false).
  void Shutdown();

 private:
  struct Item;

  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<std::shared_ptr<Item>> m_items;
  std::thread::id m_thread;
  bool m_shutdown = false;
};

}  // namespace halvard::window

/// Posts a message to the window's dispatcher. Any thread. FALSE for 0 or an unknown
/// handle, or a dispatcher that refuses.
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

/// Runs the window's procedure on its dispatcher's thread and returns its result; from
/// that thread it runs at once. 0 for an unknown handle or a dispatcher that is shut down.
/// Blocks until the dispatcher runs it: never call it while holding a lock that the
/// dispatcher's thread may wait for.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
