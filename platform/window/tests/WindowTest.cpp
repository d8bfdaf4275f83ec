#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/window/Window.h"

namespace {

using namespace halvard::window;

struct Recorder {
  std::vector<MSG> messages;
  std::vector<std::thread::id> threads;
  WindowProcedure Procedure() {
    return [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      messages.push_back(MSG{hwnd, message, wParam, lParam, 0});
      threads.push_back(std::this_thread::get_id());
      return static_cast<LRESULT>(wParam * 2);
    };
  }
};

TEST(WindowHandles, PostFromOtherThreadsIsDeliveredOnThePumpingThreadInOrder) {
  CMessageQueue queue;
  Recorder recorder;
  const HWND hwnd = CreateWindowHandle(recorder.Procedure(), &queue);
  ASSERT_NE(hwnd, 0u);
  EXPECT_TRUE(IsWindow(hwnd));
  std::thread poster([&] {
    for (WPARAM i = 0; i < 100; ++i) {
      EXPECT_TRUE(PostMessage(hwnd, WM_COMMAND, i, 0));
    }
  });
  poster.join();
  EXPECT_EQ(queue.PendingCount(), 100u);
  EXPECT_EQ(queue.PumpPending(), 100u);
  ASSERT_EQ(recorder.messages.size(), 100u);
  for (WPARAM i = 0; i < 100; ++i) {
    EXPECT_EQ(recorder.messages[i].wParam, i);
    EXPECT_EQ(recorder.threads[i], std::this_thread::get_id());
  }
  EXPECT_TRUE(DestroyWindowHandle(hwnd));
}

TEST(WindowHandles, UnknownAndDestroyedHandlesRefuseMessages) {
  CMessageQueue queue;
  Recorder recorder;
  EXPECT_FALSE(PostMessage(0, WM_COMMAND, 1, 0));
  EXPECT_FALSE(PostMessage(0xDEADBEEF, WM_COMMAND, 1, 0));
  EXPECT_EQ(SendMessage(0xDEADBEEF, WM_COMMAND, 1, 0), 0);

  const HWND hwnd = CreateWindowHandle(recorder.Procedure(), &queue);
  EXPECT_TRUE(PostMessage(hwnd, WM_COMMAND, 1, 0));
  EXPECT_TRUE(DestroyWindowHandle(hwnd));
  EXPECT_FALSE(DestroyWindowHandle(hwnd));
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessage(hwnd, WM_COMMAND, 2, 0));
  queue.PumpPending();  // the message queued before destruction is dropped
  EXPECT_TRUE(recorder.messages.empty());

  // A new window never gets the old number.
  const HWND other = CreateWindowHandle(recorder.Procedure(), &queue);
  EXPECT_NE(other, hwnd);
  DestroyWindowHandle(other);
}

TEST(WindowHandles, SendRunsOnTheDispatcherThreadAndReturnsTheResult) {
  CMessageQueue queue;
  Recorder recorder;
  const HWND hwnd = CreateWindowHandle(recorder.Procedure(), &queue);
  // From the queue's own thread: runs at once.
  EXPECT_EQ(SendMessage(hwnd, WM_USER, 21, 0), 42);
  ASSERT_EQ(recorder.messages.size(), 1u);

  std::atomic<LRESULT> fromThread{0};
  std::thread sender([&] { fromThread = SendMessage(hwnd, WM_USER, 5, 0); });
  EXPECT_TRUE(queue.PumpUntil([&] { return fromThread.load() != 0; }, 5000));
  sender.join();
  EXPECT_EQ(fromThread.load(), 10);
  ASSERT_EQ(recorder.threads.size(), 2u);
  EXPECT_EQ(recorder.threads[1], std::this_thread::get_id());
  DestroyWindowHandle(hwnd);
}

TEST(WindowHandles, ShutdownReleasesWaitingSendersAndRefusesPosts) {
  auto queue = std::make_unique<CMessageQueue>();
  Recorder recorder;
  const HWND hwnd = CreateWindowHandle(recorder.Procedure(), queue.get());
  std::thread sender([&] { EXPECT_EQ(SendMessage(hwnd, WM_USER, 5, 0), 0); });
  while (queue->PendingCount() == 0) {
    std::this_thread::yield();
  }
  queue->Shutdown();
  sender.join();
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 1, 0));
  DestroyWindowHandle(hwnd);
}

TEST(WindowHandles, DefaultDispatcherServesHandlesCreatedWithoutOne) {
  CMessageQueue queue;
  auto* previous = halvard::window::SetDefaultDispatcher(&queue);
  Recorder recorder;
  const HWND hwnd = CreateWindowHandle(recorder.Procedure());
  halvard::window::SetDefaultDispatcher(previous);
  EXPECT_TRUE(PostMessage(hwnd, WM_COMMAND, 324, 0));
  EXPECT_TRUE(queue.PumpOne(1000));
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].wParam, 324u);
  DestroyWindowHandle(hwnd);
}

}  // namespace
