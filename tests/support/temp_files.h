// Temporary directories and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace mr4::test {

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& name = "mr4-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// The same for binary fixtures.
std::vector<std::uint8_t> ReadFileData(const std::filesystem::path& path);
void WriteFileData(const std::filesystem::path& path,
                   std::span<const std::uint8_t> data);

}  // namespace mr4::test
