#include "tests/support/temp_files.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace mr4::test {

TempDir::TempDir(const std::string& name) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (name + ".XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFileBytes(const std::filesystem::path& path,
                    const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::uint8_t> ReadFileData(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileData(const std::filesystem::path& path,
                   std::span<const std::uint8_t> data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data.data()),
             static_cast<std::streamsize>(data.size()));
}

}  // namespace mr4::test
