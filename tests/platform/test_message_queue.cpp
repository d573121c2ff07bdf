// The headless main loop: posted tasks run on the loop's thread in posting
// order, from any thread; timers tick until stopped; every run is bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/message_queue.h"

namespace mr4 {
namespace {

using std::chrono::milliseconds;

TEST(HeadlessLoop, TasksRunOnTheLoopThreadInPostingOrder) {
  HeadlessLoop loop;
  std::vector<int> order;
  std::thread::id ran_on;
  // Two posting threads; each one's tasks keep their order.
  std::thread a([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
  });
  std::thread b([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(1000 + i); });
  });
  a.join();
  b.join();
  loop.Post([&] { ran_on = std::this_thread::get_id(); });
  ASSERT_TRUE(loop.RunUntil([&] { return order.size() == 200; }, milliseconds(5000)));
  loop.RunPending();
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  int last_a = -1, last_b = 999;
  for (int v : order) {
    if (v < 1000) {
      EXPECT_GT(v, last_a);
      last_a = v;
    } else {
      EXPECT_GT(v, last_b);
      last_b = v;
    }
  }
}

TEST(HeadlessLoop, RunPendingRunsOnlyWhatWasThereAndRunUntilIsBounded) {
  HeadlessLoop loop;
  int runs = 0;
  loop.Post([&] {
    ++runs;
    loop.Post([&] { ++runs; });  // waits for the next run
  });
  loop.RunPending();
  EXPECT_EQ(runs, 1);
  loop.RunPending();
  EXPECT_EQ(runs, 2);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.RunUntil([] { return false; }, milliseconds(50)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(50));
}

TEST(HeadlessLoop, TimersTickUntilStoppedAndQuitEndsRun) {
  HeadlessLoop loop;
  int ticks = 0;
  MessageQueue::TimerId id = 0;
  id = loop.StartTimer(milliseconds(5), [&] {
    if (++ticks == 3) loop.StopTimer(id);  // a tick may stop its own timer
  });
  EXPECT_NE(id, 0u);
  ASSERT_TRUE(loop.RunUntil([&] { return ticks == 3; }, milliseconds(5000)));
  loop.RunUntil([] { return false; }, milliseconds(40));
  EXPECT_EQ(ticks, 3);
  loop.StopTimer(12345);  // unknown: ignored

  // Quit from another thread ends Run; the loop can run again afterwards.
  std::thread quitter([&] {
    std::this_thread::sleep_for(milliseconds(20));
    loop.Quit();
  });
  loop.Run();
  quitter.join();
  bool again = false;
  loop.Post([&] { again = true; });
  EXPECT_TRUE(loop.RunUntil([&] { return again; }, milliseconds(1000)));
}

TEST(MainQueue, IsTheHeadlessLoopUntilAnotherIsInstalled) {
  HeadlessLoop own;
  EXPECT_EQ(&MainQueue(), &DefaultHeadlessLoop());
  MessageQueue* previous = SetMainQueue(&own);
  EXPECT_EQ(&MainQueue(), &own);
  SetMainQueue(previous);
  EXPECT_EQ(&MainQueue(), &DefaultHeadlessLoop());
}

}  // namespace
}  // namespace mr4
