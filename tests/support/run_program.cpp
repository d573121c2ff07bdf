#include "tests/support/run_program.h"

#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
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

ProgramResult RunMr4(const std::vector<std::string>& args, const RunOptions& options) {
  if (!options.file_size_limit) return RunMr4(args);
  std::vector<std::string> argv_text{MR4_PROGRAM};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  ProgramResult result;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    result.err = "cannot make pipes";
    return result;
  }
  const rlimit limit{*options.file_size_limit, *options.file_size_limit};
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec. An ignored SIGXFSZ stays
    // ignored in the program: the write fails instead of ending it.
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    result.err = "cannot start " + argv_text[0];
    return result;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open_pipes = 2;
  while (open_pipes > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[k]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[k].fd);
        fds[k].fd = -1;
        --open_pipes;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
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
