#include "platform/file_replace.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

namespace mr4 {

bool IsLeftoverTemporary(std::string_view file_name) {
  return file_name.size() > 1 && file_name[0] == '.' &&
         file_name.find(kTemporaryMark) != std::string_view::npos;
}

int CreateTemporaryBeside(const std::filesystem::path& target,
                          std::filesystem::path* temporary) {
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::string pattern =
      (dir / ("." + target.filename().native() + kTemporaryMark + "XXXXXX")).native();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  ::fchmod(fd, 0644);
  *temporary = std::move(pattern);
  return fd;
}

FileReplacement::FileReplacement(std::filesystem::path target, bool sync)
    : target_(std::move(target)), sync_(sync) {
  const int fd = CreateTemporaryBeside(target_, &temporary_);
  if (fd < 0) return;
  stream_ = ::fdopen(fd, "wb");
  if (!stream_) {
    ::close(fd);
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      stream_(std::exchange(other.stream_, nullptr)),
      sync_(other.sync_),
      finished_(other.finished_),
      placed_(std::exchange(other.placed_, true)) {}

FileReplacement::~FileReplacement() {
  if (stream_) std::fclose(stream_);
  if (!placed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool FileReplacement::Write(std::string_view bytes) {
  return stream_ && std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
}

bool FileReplacement::Write(std::span<const std::uint8_t> bytes) {
  return stream_ && std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
}

bool FileReplacement::Finish() {
  if (!stream_) return finished_;
  bool ok = std::ferror(stream_) == 0;
  ok = std::fflush(stream_) == 0 && ok;
  if (sync_) ok = ::fsync(::fileno(stream_)) == 0 && ok;
  ok = std::fclose(stream_) == 0 && ok;
  stream_ = nullptr;
  finished_ = ok;
  return ok;
}

bool FileReplacement::Place() {
  if (!finished_ || placed_) return placed_;
  placed_ = ::rename(temporary_.c_str(), target_.c_str()) == 0;
  return placed_;
}

bool ReplaceFileContent(const std::filesystem::path& path,
                        std::initializer_list<std::span<const std::uint8_t>> parts) {
  FileReplacement file(path);
  bool ok = file.opened();
  for (std::span<const std::uint8_t> part : parts) ok = ok && file.Write(part);
  return ok && file.Commit();
}

bool ReplaceFileContent(const std::filesystem::path& path, std::string_view text) {
  FileReplacement file(path);
  return file.opened() && file.Write(text) && file.Commit();
}

}  // namespace mr4
