// An exclusive lock of a directory for one process: an advisory lock
// (flock) on a file in it, which also holds the owner's process id so that
// another process can say who has it. The kernel drops the lock when the
// process ends in any way, so a killed program never leaves its directory
// locked; the file itself stays.
//
// User-interface thread only.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace mr4 {

class DirectoryLock {
 public:
  enum class Result {
    kLocked,  // this process holds the lock
    kHeld,    // another process held it for the whole wait (holder() names it)
    kFailed,  // the lock file could not be opened (error() says why)
  };

  DirectoryLock() = default;
  ~DirectoryLock() { Release(); }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Locks `file` (created when missing), trying again every 100 ms until
  // `wait` has passed. A lock this object already holds on `file` is kept.
  Result Acquire(const std::filesystem::path& file, std::chrono::milliseconds wait);
  void Release();

  bool held() const { return fd_ >= 0; }
  // After kHeld: "process PID (COMMAND LINE)" as far as it can be read.
  const std::string& holder() const { return holder_; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::filesystem::path file_;
  std::string holder_;
  std::string error_;
};

}  // namespace mr4
