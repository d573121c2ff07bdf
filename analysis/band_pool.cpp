#include "analysis/band_pool.h"

namespace mr4 {

BandPool::BandPool(int workers) {
  if (workers <= 0) return;
  for (int band = 1; band < kBandCount; ++band)
    threads_.emplace_back([this, band] { WorkerLoop(band); });
}

BandPool::~BandPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  start_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void BandPool::RunRaw(RawJob fn, void* arg) {
  if (threads_.empty()) {
    for (int band = 0; band < kBandCount; ++band) fn(arg, band);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    arg_ = arg;
    pending_ = kBandCount - 1;
    ++generation_;
  }
  start_.notify_all();
  fn(arg, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
}

void BandPool::WorkerLoop(int band) {
  std::uint64_t seen = 0;
  for (;;) {
    RawJob fn;
    void* arg;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return quit_ || generation_ != seen; });
      if (quit_) return;
      seen = generation_;
      fn = fn_;
      arg = arg_;
    }
    fn(arg, band);
    bool last;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last = --pending_ == 0;
    }
    if (last) done_.notify_one();
  }
}

}  // namespace mr4
