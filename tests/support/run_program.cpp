#include "tests/support/run_program.h"

#include <cstdio>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace mr4::test {
ProgramResult RunMr4(const std::vector<std::string>& args) {
  TempDir capture("mr4-run");
  std::filesystem::path out = capture.path() / "out";
  std::filesystem::path err = capture.path() / "err";

  std::vector<std::string> argv_text{MR4_PROGRAM};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ProgramResult result;
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.err = "cannot start " + argv_text[0];
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = ReadFileBytes(out);
  result.err = ReadFileBytes(err);
  return result;
}

TempHome::TempHome(const std::string& name) : TempDir(name) {
  ProgramResult init = RunMr4({"init", path().string()});
  if (init.exit_code != 0) {
    std::fprintf(stderr, "mr4 init %s failed: %s\n", path().c_str(),
                 init.err.c_str());
  }
}

}  // namespace mr4::test
