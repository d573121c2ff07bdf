// The headless commands: `mr4 [--home DIR] [--verbose] [--yes] COMMAND ...`.
//
// Each command is one function in its own cmd_*.cpp, listed in the table in
// commands.cpp. Exit status: 0 success, 1 usage error, 2 some clips failed
// (a failed calibration or a file that could not be written among them), 3
// a question was declined (without --yes) and so something was not done, 4
// the home in use by another program (kRunHomeInUse of app/startup.h), 99
// fatal error.
#pragma once

#include <span>
#include <string>

namespace mr4::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitSomeFailed = 2;
inline constexpr int kExitDeclined = 3;

// The program's exit status once a command returned `status` after
// `declined` questions were declined: a command that did all it was asked
// but was told "no" exits kExitDeclined; a failure keeps its status.
int ExitStatus(int status, int declined);

struct CommandContext {
  std::string name;  // the command's name, for messages
  bool verbose = false;
  bool yes = false;
};

using CommandFn = int (*)(const CommandContext&, std::span<const std::string>);

struct Command {
  const char* name;
  const char* summary;  // one line for `mr4 --help`
  const char* usage;    // the text of `mr4 COMMAND --help`
  CommandFn run;
  // Run between start-up and shut-down (as the desktop program's pages do);
  // false for commands that make a home directory or need none.
  bool needs_startup = true;
  // Takes the --home directory as its first argument (the home it makes).
  bool home_is_target = false;
  // An option that makes a command without start-up run after it all the
  // same (it then reads the home), or null.
  const char* startup_option = nullptr;
};

std::span<const Command> Commands();

// Prints "mr4 NAME: message" and the pointer to --help; returns kExitUsage.
int UsageError(const CommandContext& context, const std::string& message);
// A well-formed value the command refuses (outside its field's range):
// prints "mr4 NAME: message; nothing was written", keeps the settings file
// as it was and returns kExitUsage (a value the command cannot take, as
// an unknown one).
int RefusedValue(const CommandContext& context, const std::string& message);

// The commands.
int RunInit(const CommandContext&, std::span<const std::string>);
int RunSettings(const CommandContext&, std::span<const std::string>);
int RunTable(const CommandContext&, std::span<const std::string>);
int RunSky(const CommandContext&, std::span<const std::string>);
int RunGroundMap(const CommandContext&, std::span<const std::string>);
int RunDirs(const CommandContext&, std::span<const std::string>);
int RunScan(const CommandContext&, std::span<const std::string>);
int RunProfile(const CommandContext&, std::span<const std::string>);
int RunCalibrate(const CommandContext&, std::span<const std::string>);
int RunAnalyze(const CommandContext&, std::span<const std::string>);
int RunSimulate(const CommandContext&, std::span<const std::string>);
int RunImport(const CommandContext&, std::span<const std::string>);
int RunMove(const CommandContext&, std::span<const std::string>);
int RunCopy(const CommandContext&, std::span<const std::string>);
int RunTrash(const CommandContext&, std::span<const std::string>);
int RunClean(const CommandContext&, std::span<const std::string>);
int RunDeleteResults(const CommandContext&, std::span<const std::string>);
int RunExportCsv(const CommandContext&, std::span<const std::string>);
int RunReport(const CommandContext&, std::span<const std::string>);
int RunExportObjects(const CommandContext&, std::span<const std::string>);
int RunExportFrames(const CommandContext&, std::span<const std::string>);
int RunTimeAdjust(const CommandContext&, std::span<const std::string>);
int RunPeakHold(const CommandContext&, std::span<const std::string>);
int RunMeteorPicture(const CommandContext&, std::span<const std::string>);
int RunTrailMap(const CommandContext&, std::span<const std::string>);
int RunTrajectory(const CommandContext&, std::span<const std::string>);
// `mr4 groundmap --render`, which RunGroundMap hands on to.
int RenderGroundMap(const CommandContext&, std::span<const std::string>);

}  // namespace mr4::cli
