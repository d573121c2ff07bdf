// A small pool that runs one job on the four row bands of a frame and
// returns when all four have finished.
//
// Created once per analysis context and reused for every frame, so a frame
// costs two wake-ups, not four thread creations. Run is called from one
// thread at a time (the context's run); band 0 runs on the caller, the other
// bands on the pool's workers (or on the caller too when the pool has no
// workers, which the single-core benchmark uses). Run allocates nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace mr4 {

inline constexpr int kBandCount = 4;

class BandPool {
 public:
  // `workers` is 0 (every band on the caller) or kBandCount - 1.
  explicit BandPool(int workers = kBandCount - 1);
  ~BandPool();
  BandPool(const BandPool&) = delete;
  BandPool& operator=(const BandPool&) = delete;

  // Calls job(band) for band 0 .. kBandCount - 1 and waits for all of them.
  template <class Job>
  void Run(Job& job) {
    RunRaw([](void* j, int band) { (*static_cast<Job*>(j))(band); }, &job);
  }

 private:
  using RawJob = void (*)(void*, int);
  void RunRaw(RawJob fn, void* arg);
  void WorkerLoop(int band);

  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  RawJob fn_ = nullptr;
  void* arg_ = nullptr;
  std::uint64_t generation_ = 0;
  int pending_ = 0;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace mr4
