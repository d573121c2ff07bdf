#include "platform/system.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mr4 {

std::optional<std::uint64_t> FreePhysicalMemoryMiB() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string name;
    std::uint64_t kib = 0;
    if (fields >> name >> kib && name == "MemAvailable:") return kib >> 10;
  }
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return std::nullopt;
  return (static_cast<std::uint64_t>(info.freeram) * info.mem_unit) >> 20;
}

std::filesystem::path DocumentsFolder() {
  if (const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS)) {
    return dir;
  }
  if (const char* home = std::getenv("HOME")) return home;
  return g_get_home_dir();
}

namespace {

void TakeError(GError* gerror, std::string* error) {
  if (error) *error = gerror ? gerror->message : "unknown error";
  if (gerror) g_error_free(gerror);
}

}  // namespace

bool MoveToTrash(const std::filesystem::path& path, std::string* error) {
  GFile* file = g_file_new_for_path(path.c_str());
  GError* gerror = nullptr;
  bool ok = g_file_trash(file, nullptr, &gerror);
  g_object_unref(file);
  if (!ok) TakeError(gerror, error);
  return ok;
}

bool OpenWithDefaultApp(const std::filesystem::path& path, std::string* error) {
  GFile* file = g_file_new_for_path(path.c_str());
  char* uri = g_file_get_uri(file);
  GError* gerror = nullptr;
  bool ok = g_app_info_launch_default_for_uri(uri, nullptr, &gerror);
  g_free(uri);
  g_object_unref(file);
  if (!ok) TakeError(gerror, error);
  return ok;
}

std::optional<std::uint64_t> StorageDeviceKey(const std::filesystem::path& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_dev);
}

}  // namespace mr4
