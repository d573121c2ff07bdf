// The main queue of the desktop program: posted tasks run as queued calls on
// the Qt event loop of the thread that built the queue (the user-interface
// thread), in posting order; timers are QTimers of that thread.
//
// Post, StartTimer and StopTimer may be called from any thread. Build and
// destroy the queue on the user-interface thread, inside the QApplication's
// life; tasks still queued when it goes are dropped.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "platform/message_queue.h"

namespace mr4 {

class QtMessageQueue final : public MessageQueue {
 public:
  QtMessageQueue();
  ~QtMessageQueue() override;

  void Post(Task task) override;
  TimerId StartTimer(std::chrono::milliseconds interval, Task tick) override;
  void StopTimer(TimerId id) override;

 private:
  bool OnQueueThread() const;
  // Runs `task` now on the queue's thread, else posts it there.
  void RunOnQueueThread(Task task);

  QObject context_;  // receives the queued calls; owns the timers
  std::atomic<TimerId> next_timer_{1};
  // Queue thread only.
  std::map<TimerId, QTimer*> timers_;
  // Timers started from another thread whose QTimer is not made yet, and
  // those of them already stopped.
  std::mutex pending_mutex_;
  std::set<TimerId> pending_;
  std::set<TimerId> stopped_pending_;
};

}  // namespace mr4
