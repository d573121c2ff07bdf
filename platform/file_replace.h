// Files replaced whole: written under a temporary name next to the target,
// flushed to disk and renamed into place, so that a crash or a full disk
// never leaves half a file and a reader sees the old file or the new one.
//
// Every temporary gets a name of its own (".NAME.mr4part-XXXXXX", created
// exclusively), so two writers of one file never share one: the later
// rename wins, neither fails. The leading dot keeps the directory scan from
// taking a temporary for a clip's file; "mr4 clean" removes those a killed
// process left (IsLeftoverTemporary). Any thread; one object per thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string_view>

namespace mr4 {

// The mark in the name of every temporary file the program writes.
inline constexpr char kTemporaryMark[] = ".mr4part-";

// A hidden name carrying the temporary mark: a file the program was
// writing when it ended.
bool IsLeftoverTemporary(std::string_view file_name);

// Creates a new temporary file next to `target` (mode 0644, close-on-exec)
// and returns its descriptor with `temporary` set; -1 with errno set when it
// cannot be created.
int CreateTemporaryBeside(const std::filesystem::path& target,
                          std::filesystem::path* temporary);

// One replacement of `target`: write the content through stream(), then
// Commit (or Finish every file of a group, then Place each). Destroyed
// before it was placed, it removes its temporary and `target` stays as it
// was.
class FileReplacement {
 public:
  // `sync` flushes the content to the disk before the rename (results,
  // settings, tables); big files that can be made again (synthetic clips)
  // skip that.
  explicit FileReplacement(std::filesystem::path target, bool sync = true);
  ~FileReplacement();
  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  FileReplacement& operator=(FileReplacement&&) = delete;

  // False when the temporary could not be created.
  bool opened() const { return stream_ != nullptr; }
  // Null when not opened or already finished.
  std::FILE* stream() const { return stream_; }
  bool Write(std::string_view bytes);
  bool Write(std::span<const std::uint8_t> bytes);

  // Flushes the content (to the disk with `sync`) and closes it; false when
  // any write failed.
  bool Finish();
  // Renames the finished temporary over the target; false when that fails.
  bool Place();
  bool Commit() { return Finish() && Place(); }

  const std::filesystem::path& target() const { return target_; }
  const std::filesystem::path& temporary() const { return temporary_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::FILE* stream_ = nullptr;
  bool sync_ = true;
  bool finished_ = false;
  bool placed_ = false;
};

// Writes the parts one after the other as the new content of `path`; false
// (and `path` as it was) when it could not.
bool ReplaceFileContent(const std::filesystem::path& path,
                        std::initializer_list<std::span<const std::uint8_t>> parts);
bool ReplaceFileContent(const std::filesystem::path& path, std::string_view text);

}  // namespace mr4
