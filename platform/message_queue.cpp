#include "platform/message_queue.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace mr4 {

void HeadlessLoop::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

MessageQueue::TimerId HeadlessLoop::StartTimer(std::chrono::milliseconds interval,
                                               Task tick) {
  if (interval.count() < 1) interval = std::chrono::milliseconds(1);
  TimerId id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = next_timer_++;
    timers_[id] = Timer{interval, Clock::now() + interval, std::move(tick)};
  }
  wake_.notify_one();
  return id;
}

void HeadlessLoop::StopTimer(TimerId id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

void HeadlessLoop::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
}

bool HeadlessLoop::RunOne(Clock::time_point deadline, bool stop_on_quit) {
  Task task;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stop_on_quit && quit_) return false;
      const auto now = Clock::now();
      // A due timer first, so that a stream of posts cannot starve it.
      auto due = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.due <= now &&
            (due == timers_.end() || it->second.due < due->second.due)) {
          due = it;
        }
      }
      if (due != timers_.end()) {
        due->second.due = now + due->second.interval;
        task = due->second.tick;  // a copy: the tick may stop its own timer
        break;
      }
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
        break;
      }
      if (now >= deadline) return false;
      auto wake_at = deadline;
      for (const auto& entry : timers_) {
        if (entry.second.due < wake_at) wake_at = entry.second.due;
      }
      wake_.wait_until(lock, wake_at);
    }
  }
  if (task) task();
  return true;
}

void HeadlessLoop::Run() {
  while (true) {
    RunOne(Clock::now() + std::chrono::hours(1), true);
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) {
      quit_ = false;  // the loop can be run again
      return;
    }
  }
}

bool HeadlessLoop::RunUntil(const std::function<bool()>& done,
                            std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    const auto now = Clock::now();
    if (now >= deadline) return done();
    RunOne(std::min(deadline, now + std::chrono::milliseconds(10)), false);
  }
  return true;
}

void HeadlessLoop::RunPending() {
  std::size_t posted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted = tasks_.size();
  }
  // Only what was there on entry: tasks posted by these tasks wait.
  for (std::size_t i = 0; i < posted; ++i) {
    if (!RunOne(Clock::now(), false)) break;
  }
}

namespace {
std::atomic<MessageQueue*> g_main_queue{nullptr};
}  // namespace

HeadlessLoop& DefaultHeadlessLoop() {
  static HeadlessLoop loop;
  return loop;
}

MessageQueue& MainQueue() {
  MessageQueue* queue = g_main_queue.load();
  return queue ? *queue : DefaultHeadlessLoop();
}

MessageQueue* SetMainQueue(MessageQueue* queue) {
  MessageQueue* previous = g_main_queue.exchange(queue);
  return previous ? previous : &DefaultHeadlessLoop();
}

}  // namespace mr4
