// The hand-over of the worker's calls to the UI thread.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/ui_calls.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

bool Readable(int fd, int timeoutMs) {
  pollfd wake = {fd, POLLIN, 0};
  return poll(&wake, 1, timeoutMs) == 1;
}

TEST(UiCallQueueTest, OnTheUiThreadACallRunsAtOnce) {
  UiCallQueue calls;  // built here: this is its UI thread
  EXPECT_TRUE(calls.OnUiThread());
  bool ran = false;
  calls.Run([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(Readable(calls.WakeDescriptor(), 0));
}

TEST(UiCallQueueTest, ACallFromAnotherThreadRunsOnTheUiThreadAndThenReturns) {
  UiCallQueue calls;
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_FALSE(calls.OnUiThread());
    calls.Run([&] { ranOn = std::this_thread::get_id(); });
    returned.store(true);
  });
  ASSERT_TRUE(Readable(calls.WakeDescriptor(), 5000)) << "the UI thread is woken";
  EXPECT_FALSE(returned.load()) << "the caller waits until the call is served";
  calls.Serve();
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(UiCallQueueTest, CallsAreServedInTheOrderTheyCame) {
  UiCallQueue calls;
  std::vector<int> order;
  std::atomic<int> issued{0};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      calls.Run([&order, i] { order.push_back(i); });
      issued.fetch_add(1);
    }
    calls.Notify();
  });
  calls.ServeUntil([&] { return issued.load() == 50; });
  worker.join();
  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[static_cast<size_t>(i)] = i;
  EXPECT_EQ(order, expected);
}

TEST(UiCallQueueTest, ServeUntilWakesOnNotifyAndServesMeanwhile) {
  UiCallQueue calls;
  std::atomic<bool> done{false};
  int served = 0;
  std::thread worker([&] {
    calls.Run([&] { ++served; });
    calls.Run([&] { ++served; });
    done.store(true);
    calls.Notify();
  });
  calls.ServeUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(served, 2);
}

TEST(UiCallQueueTest, ServeUntilReturnsAtOnceWhenAlreadyDone) {
  UiCallQueue calls;
  calls.ServeUntil([] { return true; });
  calls.Serve();  // nothing waiting: returns
  SUCCEED();
}

TEST(UiCallQueueTest, ANestedLoopInsideACallServesFurtherCalls) {
  // A message box runs its own event loop while it is open; calls that
  // arrive meanwhile are served from inside it.
  UiCallQueue calls;
  std::atomic<bool> secondRan{false};
  std::thread first([&] {
    calls.Run([&] {
      std::thread second([&] { calls.Run([&] { secondRan.store(true); }); });
      calls.ServeUntil([&] { return secondRan.load(); });
      second.join();
    });
  });
  calls.ServeUntil([&] { return secondRan.load(); });
  first.join();
  EXPECT_TRUE(secondRan.load());
}

TEST(UiCallQueueTest, AnotherThreadCanBeMadeTheUiThread) {
  UiCallQueue calls;
  std::thread ui([&] {
    calls.SetUiThread(std::this_thread::get_id());
    EXPECT_TRUE(calls.OnUiThread());
  });
  ui.join();
  EXPECT_FALSE(calls.OnUiThread());
}

}  // namespace
}  // namespace quorvel
