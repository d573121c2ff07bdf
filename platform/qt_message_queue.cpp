#include "platform/qt_message_queue.h"

#include <QThread>
#include <utility>

namespace mr4 {

QtMessageQueue::QtMessageQueue() = default;

QtMessageQueue::~QtMessageQueue() {
  for (auto& [id, timer] : timers_) delete timer;
}

bool QtMessageQueue::OnQueueThread() const {
  return QThread::currentThread() == context_.thread();
}

void QtMessageQueue::Post(Task task) {
  QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

void QtMessageQueue::RunOnQueueThread(Task task) {
  if (OnQueueThread()) {
    task();
  } else {
    Post(std::move(task));
  }
}

MessageQueue::TimerId QtMessageQueue::StartTimer(std::chrono::milliseconds interval,
                                                 Task tick) {
  if (interval.count() < 1) interval = std::chrono::milliseconds(1);
  const TimerId id = next_timer_++;
  const bool here = OnQueueThread();
  if (!here) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    pending_.insert(id);
  }
  RunOnQueueThread([this, id, interval, here, tick = std::move(tick)] {
    if (!here) {
      std::lock_guard<std::mutex> lock(pending_mutex_);
      pending_.erase(id);
      if (stopped_pending_.erase(id)) return;
    }
    auto* timer = new QTimer(&context_);
    QObject::connect(timer, &QTimer::timeout, &context_, tick);
    timer->start(interval);
    timers_[id] = timer;
  });
  return id;
}

void QtMessageQueue::StopTimer(TimerId id) {
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    if (pending_.count(id)) {
      stopped_pending_.insert(id);
      return;
    }
  }
  RunOnQueueThread([this, id] {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    // The tick now running (a timer that stops itself) finishes first.
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
  });
}

}  // namespace mr4
