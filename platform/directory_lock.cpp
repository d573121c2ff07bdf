#include "platform/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace mr4 {
namespace {

constexpr std::chrono::milliseconds kRetryPeriod{100};
constexpr std::size_t kCommandLineMaxChars = 200;

std::string ProcessCommandLine(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  if (text.size() > kCommandLineMaxChars) text = text.substr(0, kCommandLineMaxChars) + "...";
  return text;
}

// The holder as its lock file names it.
std::string DescribeHolder(int fd) {
  char buffer[32] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  long pid = 0;
  if (n > 0) pid = std::strtol(buffer, nullptr, 10);
  if (pid <= 0) return "another process";
  std::string text = "process " + std::to_string(pid);
  const std::string command = ProcessCommandLine(pid);
  if (!command.empty()) text += " (" + command + ")";
  return text;
}

}  // namespace

DirectoryLock::Result DirectoryLock::Acquire(const std::filesystem::path& file,
                                             std::chrono::milliseconds wait) {
  if (fd_ >= 0 && file == file_) return Result::kLocked;
  Release();
  holder_.clear();
  error_.clear();
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A read-only directory can still be locked through a lock file it has.
  if (fd < 0) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return Result::kFailed;
  }
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = std::strerror(errno);
      ::close(fd);
      return Result::kFailed;
    }
    if (std::chrono::steady_clock::now() >= until) {
      holder_ = DescribeHolder(fd);
      ::close(fd);
      return Result::kHeld;
    }
    std::this_thread::sleep_for(kRetryPeriod);
  }
  // Our process id for the next one who waits (a read-only file keeps the
  // old text: the lock itself is what counts).
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  fd_ = fd;
  file_ = file;
  return Result::kLocked;
}

void DirectoryLock::Release() {
  if (fd_ < 0) return;
  // Closing drops the lock; the file stays for the next program.
  ::close(fd_);
  fd_ = -1;
  file_.clear();
}

}  // namespace mr4
