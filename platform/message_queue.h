// Posted messages and timers for the main (user-interface) thread: the
// stand-in for posted window messages and window timers.
//
// Any thread may post a task or start and stop a timer; the tasks and the
// timer ticks run later on the main thread, one at a time, in posting order
// (a timer tick runs when it is due, between posted tasks). The queue owns
// the tasks it holds. The desktop program maps this onto Qt's event loop;
// headless commands and tests run a HeadlessLoop on their main thread.
// Intervals are milliseconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace mr4 {

class MessageQueue {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;  // 0 is never a valid timer

  virtual ~MessageQueue() = default;

  // Runs `task` on the main thread after everything posted before it.
  virtual void Post(Task task) = 0;
  // Runs `tick` on the main thread every `interval` until StopTimer.
  virtual TimerId StartTimer(std::chrono::milliseconds interval, Task tick) = 0;
  // Stops a timer; a tick already running finishes. Unknown ids are ignored.
  virtual void StopTimer(TimerId id) = 0;
};

// The main loop of a program without a window: tasks and timers run inside
// Run or RunUntil, which only the main thread calls.
class HeadlessLoop final : public MessageQueue {
 public:
  void Post(Task task) override;
  TimerId StartTimer(std::chrono::milliseconds interval, Task tick) override;
  void StopTimer(TimerId id) override;

  // Runs tasks and timers until Quit is called (from any thread or a task).
  void Run();
  void Quit();
  // Runs tasks and timers until `done()` is true (checked after each task and
  // at least every 10 ms) or `limit` has passed. Returns done().
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit);
  // Runs the tasks already posted and the timers already due, then returns.
  void RunPending();

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
    Task tick;
  };
  // Runs one task or one due timer, waiting at most until `deadline` (and
  // not past a Quit when `stop_on_quit`). Returns false when nothing ran.
  bool RunOne(Clock::time_point deadline, bool stop_on_quit);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::map<TimerId, Timer> timers_;
  TimerId next_timer_ = 1;
  bool quit_ = false;
};

// The queue of the main thread. Until a program installs its own, the
// process-wide HeadlessLoop below is used.
MessageQueue& MainQueue();
// Installs `queue` (not owned; must outlive its use) and returns the
// previous one; nullptr restores the headless loop.
MessageQueue* SetMainQueue(MessageQueue* queue);
// The process-wide headless loop (the default main queue).
HeadlessLoop& DefaultHeadlessLoop();

}  // namespace mr4
