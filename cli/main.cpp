// mr4: the program. Without a command it opens the desktop window between
// start-up and shut-down; `mr4 COMMAND` runs one headless command between
// them instead (only the desktop entries create a QApplication).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/process_values.h"
#include "app/desktop.h"
#include "app/startup.h"
#include "cli/commands.h"
#include "cli/desktop_commands.h"
#include "platform/console_ui.h"
#include "tables/table_catalogue.h"

namespace {

constexpr char kUsage[] =
    "usage: mr4 [--home DIR] [--verbose]\n"
    "       mr4 [--home DIR] [--verbose] [--yes] COMMAND [OPTIONS]\n"
    "       mr4 --help | --version\n"
    "\n"
    "Without a command, mr4 opens the desktop window: it runs start-up, shows\n"
    "the main window until it is closed, then runs shut-down, writing the\n"
    "same files at exit as the commands do (the settings, MR4_DIR.csv and\n"
    "MR4_EClass.csv). It needs a display (X11, or xvfb-run).\n"
    "\n"
    "  --home DIR   the home directory (default: the current directory)\n"
    "  --verbose    print the start-up lines\n"
    "  --yes        answer OK to every question (otherwise declined)\n"
    "\n"
    "commands:\n";

void PrintUsage(std::FILE* f) {
  std::fputs(kUsage, f);
  for (const mr4::cli::Command& c : mr4::cli::Commands()) {
    std::fprintf(f, "  %-14s %s\n", c.name, c.summary);
  }
  std::fprintf(f, "  %-14s %s\n", "screenshot", mr4::cli::kScreenshotSummary);
  std::fputs("\n'mr4 COMMAND --help' describes a command.\n", f);
}

// Start-up ends with err=9001 in a directory without the leap-second table;
// the commonest cause is a command run outside any home directory, so say
// how to make one first.
void TellWhenNotAHome(const std::optional<std::filesystem::path>& home) {
  std::error_code ec;
  const std::filesystem::path dir =
      home && !home->empty() ? *home : std::filesystem::current_path(ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) return;  // EnterHome reports it
  if (std::filesystem::exists(dir / mr4::kLeapSecondFileName, ec)) return;
  std::fprintf(stderr,
               "mr4: %s is not a home directory (it has no %s): make one with "
               "'mr4 init %s', or name one with --home DIR\n",
               dir.c_str(), mr4::kLeapSecondFileName, dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mr4;
  using namespace mr4::cli;

  StartupOptions startup;
  CommandContext context;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return kExitOk;
    } else if (arg == "--version") {
      std::printf("%s\n", MakeVersionTitle().c_str());
      return kExitOk;
    } else if (arg == "--home") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "mr4: --home needs a directory\n");
        return kExitUsage;
      }
      startup.home = argv[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      startup.home = arg.substr(7);
    } else if (arg == "--verbose") {
      startup.verbose = context.verbose = true;
    } else if (arg == "--yes") {
      context.yes = true;
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "mr4: unknown option %s\n", arg.c_str());
      PrintUsage(stderr);
      return kExitUsage;
    } else {
      break;
    }
  }
  if (i >= argc) return RunDesktop(argc, argv, startup);

  context.name = argv[i++];
  if (context.name == "screenshot") {
    std::vector<std::string> args(argv + i, argv + argc);
    for (const std::string& a : args) {
      if (a == "--") break;
      if (a == "--help" || a == "-h") {
        std::fputs(kScreenshotUsage, stdout);
        return kExitOk;
      }
    }
    return RunScreenshotCommand(argc, argv, startup, args);
  }
  const Command* command = nullptr;
  for (const Command& c : Commands()) {
    if (context.name == c.name) command = &c;
  }
  if (!command) {
    std::fprintf(stderr, "mr4: unknown command '%s'\n\n", context.name.c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::vector<std::string> args(argv + i, argv + argc);
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::fputs(command->usage, stdout);
      return kExitOk;
    }
  }

  ConsoleUi::Options ui_options;
  ui_options.answer_yes = context.yes;
  ConsoleUi ui(ui_options);
  ScopedUi scoped(ui);

  bool needs_startup = command->needs_startup;
  if (command->startup_option) {
    for (const std::string& a : args) {
      if (a == "--") break;
      if (a == command->startup_option) needs_startup = true;
    }
  }
  if (!needs_startup) {
    if (command->home_is_target && startup.home && !startup.home->empty()) {
      args.insert(args.begin(), startup.home->string());
    }
    return command->run(context, args);
  }
  TellWhenNotAHome(startup.home);
  const int status = RunApplication(startup, [&] { return command->run(context, args); });
  return ExitStatus(status, ui.declined());
}
