#include "base/shipped_data.h"

#include <system_error>

namespace mr4 {

std::filesystem::path ShippedDataDirectory() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    std::filesystem::path installed = exe.parent_path() / ".." / "share" / "mr4";
    if (std::filesystem::is_directory(installed, ec)) {
      return installed.lexically_normal();
    }
  }
  std::filesystem::path source = MR4_SOURCE_DATA_DIR;
  if (std::filesystem::is_directory(source, ec)) return source;
  return {};
}

}  // namespace mr4
