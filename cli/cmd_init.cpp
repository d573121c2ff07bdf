// `mr4 init [DIR]`: makes a home directory with PROF/ and the shipped data
// files (the leap-second table, the shower catalogue and whatever else the
// program ships), never overwriting a file that is already there.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "base/shipped_data.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "platform/file_replace.h"

namespace mr4::cli {
namespace {

namespace fs = std::filesystem;

// Build scripts and notes next to the data are not data.
bool IsShippedDataFile(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_regular_file(ec)) return false;
  const std::string name = entry.path().filename().string();
  if (name.empty() || name[0] == '.') return false;
  for (const char* skipped : {".sh", ".py", ".md", ".tmp"}) {
    const std::string suffix = skipped;
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return false;
    }
  }
  return true;
}

// Copies through a temporary file, so that an interrupted copy never
// leaves a cut catalogue behind.
bool CopyInto(const fs::path& from, const fs::path& to, std::string* error) {
  fs::path temporary;
  const int fd = CreateTemporaryBeside(to, &temporary);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  ::close(fd);
  std::error_code ec;
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temporary, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    *error = ec.message();
    return false;
  }
  return true;
}

}  // namespace

int RunInit(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, &parsed, &error)) return UsageError(context, error);
  if (parsed.positionals().size() > 1) {
    return UsageError(context, "give one directory (either --home DIR or DIR)");
  }
  const fs::path home =
      parsed.positionals().empty() ? fs::path(".") : fs::path(parsed.positionals()[0]);

  const fs::path data = ShippedDataDirectory();
  if (data.empty()) {
    std::fprintf(stderr,
                 "mr4 init: the shipped data directory was not found "
                 "(looked for ../share/mr4 next to the program and the "
                 "source tree's data/)\n");
    return kExitUsage;
  }

  std::error_code ec;
  const fs::path prof = home / "PROF";
  const bool had_prof = fs::is_directory(prof, ec);
  fs::create_directories(prof, ec);
  if (ec) {
    std::fprintf(stderr, "mr4 init: cannot create %s: %s\n", prof.c_str(),
                 ec.message().c_str());
    return kExitUsage;
  }
  if (!had_prof) std::printf("created %s/\n", prof.c_str());

  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(data, ec)) {
    if (IsShippedDataFile(entry)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  int failed = 0;
  for (const fs::path& file : files) {
    const fs::path target = home / file.filename();
    if (fs::exists(target, ec)) continue;
    if (CopyInto(file, target, &error)) {
      std::printf("created %s\n", target.c_str());
    } else {
      std::fprintf(stderr, "mr4 init: cannot create %s: %s\n", target.c_str(),
                   error.c_str());
      ++failed;
    }
  }
  return failed ? kExitUsage : kExitOk;
}

}  // namespace mr4::cli
