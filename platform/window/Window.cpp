#include "platform/window/Window.h"

#include <chrono>
#include <future>
#include <unordered_map>
#include <utility>

#include "platform/time/Time.h"

namespace halvard::window {
namespace {

struct WindowEntry {
  WindowProcedure procedure;
  IMessageDispatcher* dispatcher = nullptr;
  // Held while the procedure runs, so that destruction waits for a running call.
  std::recursive_mutex running;
  bool alive = true;
};

struct WindowTable {
  std::mutex lock;
  std::unordered_map<HWND, std::shared_ptr<WindowEntry>> windows;
  HWND next = 0x00010000;  // small numbers stay free, so a stray integer is rarely a handle
  IMessageDispatcher* defaultDispatcher = nullptr;
};

WindowTable& Table() {
  static WindowTable* table = new WindowTable;  // never destroyed: used from late threads
  return *table;
}

std::shared_ptr<WindowEntry> Find(HWND hwnd) {
  WindowTable& table = Table();
  std::lock_guard lock(table.lock);
  const auto it = table.windows.find(hwnd);
  return it == table.windows.end() ? nullptr : it->second;
}

}  // namespace

HWND CreateWindowHandle(WindowProcedure procedure, IMessageDispatcher* dispatcher) {
  WindowTable& table = Table();
  auto entry = std::make_shared<WindowEntry>();
  entry->procedure = std::move(procedure);
  std::lock_guard lock(table.lock);
  entry->dispatcher = dispatcher != nullptr ? dispatcher : table.defaultDispatcher;
  HWND hwnd = table.next++;
  if (hwnd == 0) {
    hwnd = table.next++;
  }
  table.windows.emplace(hwnd, std::move(entry));
  return hwnd;
}

bool DestroyWindowHandle(HWND hwnd) {
  std::shared_ptr<WindowEntry> entry;
  {
    WindowTable& table = Table();
    std::lock_guard lock(table.lock);
    const auto it = table.windows.find(hwnd);
    if (it == table.windows.end()) {
      return false;
    }
    entry = it->second;
    table.windows.erase(it);
  }
  std::lock_guard running(entry->running);
  entry->alive = false;
  return true;
}

bool IsWindow(HWND hwnd) { return hwnd != 0 && Find(hwnd) != nullptr; }

IMessageDispatcher* SetDefaultDispatcher(IMessageDispatcher* dispatcher) {
  WindowTable& table = Table();
  std::lock_guard lock(table.lock);
  return std::exchange(table.defaultDispatcher, dispatcher);
}

LRESULT DispatchMessage(const MSG& msg) {
  const auto entry = Find(msg.hwnd);
  if (entry == nullptr) {
    return 0;
  }
  std::lock_guard running(entry->running);
  if (!entry->alive || !entry->procedure) {
    return 0;
  }
  return entry->procedure(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

// ---- CMessageQueue ----------------------------------------------------------------

struct CMessageQueue::Item {
  MSG msg;
  std::function<void()> work;  // set for synchronous calls
  std::promise<void> done;
};

CMessageQueue::CMessageQueue() : m_thread(std::this_thread::get_id()) {}

CMessageQueue::~CMessageQueue() { Shutdown(); }

bool CMessageQueue::Post(const MSG& msg) {
  auto item = std::make_shared<Item>();
  item->msg = msg;
  {
    std::lock_guard lock(m_lock);
    if (m_shutdown) {
      return false;
    }
    m_items.push_back(std::move(item));
  }
  m_wake.notify_all();
  return true;
}

bool CMessageQueue::RunSynchronously(const std::function<void()>& work) {
  std::future<void> done;
  {
    std::lock_guard lock(m_lock);
    if (m_shutdown) {
      return false;
    }
    if (std::this_thread::get_id() == m_thread) {
      done = {};
    } else {
      auto item = std::make_shared<Item>();
      item->work = work;
      done = item->done.get_future();
      m_items.push_back(std::move(item));
    }
  }
  if (!done.valid()) {
    work();
    return true;
  }
  m_wake.notify_all();
  done.wait();
  return true;
}

std::size_t CMessageQueue::PumpPending() {
  std::deque<std::shared_ptr<Item>> items;
  {
    std::lock_guard lock(m_lock);
    m_thread = std::this_thread::get_id();
    items.swap(m_items);
  }
  for (const auto& item : items) {
    if (item->work) {
      item->work();
      item->done.set_value();
    } else {
      DispatchMessage(item->msg);
    }
  }
  return items.size();
}

bool CMessageQueue::PumpOne(DWORD timeoutMs) {
  std::shared_ptr<Item> item;
  {
    std::unique_lock lock(m_lock);
    m_thread = std::this_thread::get_id();
    if (!m_wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_items.empty() || m_shutdown; }) ||
        m_items.empty()) {
      return false;
    }
    item = std::move(m_items.front());
    m_items.pop_front();
  }
  if (item->work) {
    item->work();
    item->done.set_value();
  } else {
    DispatchMessage(item->msg);
  }
  return true;
}

bool CMessageQueue::PumpUntil(const std::function<bool()>& predicate, DWORD timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return predicate();
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    PumpOne(static_cast<DWORD>(std::min<long long>(left, 50)));
  }
  return true;
}

std::size_t CMessageQueue::PendingCount() const {
  std::lock_guard lock(m_lock);
  return m_items.size();
}

void CMessageQueue::Shutdown() {
  std::deque<std::shared_ptr<Item>> items;
  {
    std::lock_guard lock(m_lock);
    m_shutdown = true;
    items.swap(m_items);
  }
  // Synchronous callers must not wait forever on a queue nobody pumps any more; the
  // work is not run (the documented "false").
  for (const auto& item : items) {
    if (item->work) {
      item->done.set_value();
    }
  }
  m_wake.notify_all();
}

}  // namespace halvard::window

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace halvard::window;
  if (hwnd == 0) {
    return FALSE;
  }
  const auto entry = Find(hwnd);
  if (entry == nullptr || entry->dispatcher == nullptr) {
    return FALSE;
  }
  MSG msg{hwnd, message, wParam, lParam, timeGetTime()};
  return entry->dispatcher->Post(msg) ? TRUE : FALSE;
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace halvard::window;
  const auto entry = Find(hwnd);
  if (entry == nullptr) {
    return 0;
  }
  MSG msg{hwnd, message, wParam, lParam, timeGetTime()};
  if (entry->dispatcher == nullptr) {
    return DispatchMessage(msg);  // no dispatcher: the caller's thread is the only one
  }
  LRESULT result = 0;
  entry->dispatcher->RunSynchronously([&] { result = DispatchMessage(msg); });
  return result;
}
