// Runs the built `mr4` program in tests: end-to-end checks of the headless
// commands on a temporary home directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

namespace mr4::test {

struct ProgramResult {
  int exit_code = -1;  // the process's exit status, or -1 when it did not exit
  std::string out;     // everything printed on stdout
  std::string err;     // everything printed on stderr
};

// Runs the program MR4_PROGRAM with `args` (no shell involved) and standard
// input closed.
ProgramResult RunMr4(const std::vector<std::string>& args);

struct RunOptions {
  // The largest file the program may write, in bytes: a write beyond it
  // fails (EFBIG), as on a full disk. Its output comes through pipes, which
  // the limit does not reach.
  std::optional<std::uint64_t> file_size_limit;
};
ProgramResult RunMr4(const std::vector<std::string>& args, const RunOptions& options);

// A fresh home directory made by `mr4 init` (PROF/, the leap-second table
// and the other shipped data files), removed when the object goes. A home
// without its leap-second table ends every start-up with err=9001.
class TempHome : public TempDir {
 public:
  explicit TempHome(const std::string& name);
};

}  // namespace mr4::test
