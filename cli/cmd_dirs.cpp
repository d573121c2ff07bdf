// `mr4 dirs`: the clip-directory table MR4_DIR.csv without the desktop
// program: list its rows, add a directory, switch a row on or off, remove
// one. A change is written at once (and again at shut-down, as the program
// always writes the table), so that the rows printed are the rows on disk.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/startup.h"
#include "base/process_values.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_list_ops.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

// The existing rows in list order; row numbers shown count from 1.
std::vector<int> ListedRows() {
  const Table& dirs = Tables().dir;
  std::vector<int> rows;
  for (int r = 0; r < dirs.count(); ++r) {
    if (dirs.Exists(r)) rows.push_back(r);
  }
  return rows;
}

int ListDirs() {
  const Table& dirs = Tables().dir;
  const std::vector<int> rows = ListedRows();
  std::printf("%-3s %-3s %-4s %s\n", "N", "use", "+ymd", "dir | profile | save dir");
  int n = 0;
  for (int r : rows) {
    // A profile whose file was missing at start-up is held out of the row
    // for this run (and kept in the file): show it as such.
    std::string profile(dirs.Text(r, dir::kProfile));
    for (const ProcessTables::HeldProfile& held : Tables().held_profiles) {
      if (held.row == r && profile.empty()) profile = held.profile + " (file missing)";
    }
    std::printf("%-3d %-3u %-4u %s | %s | %s\n", ++n, dirs.Uint(r, dir::kUse),
                dirs.Uint(r, dir::kYmd), std::string(dirs.Text(r, dir::kDir)).c_str(),
                profile.c_str(), std::string(dirs.Text(r, dir::kSaveDir)).c_str());
  }
  return kExitOk;
}

// Writes a changed table, then lists it; a table that could not be written
// is said (its message names the file), not listed as if kept.
int SaveAndList(const CommandContext& context) {
  if (!SavePersistentTables()) {
    std::fprintf(stderr, "mr4 %s: the change was not saved\n", context.name.c_str());
    return kExitSomeFailed;
  }
  return ListDirs();
}

// The table row of listed row `text` (from 1), or -1 after the message.
int RowOf(const CommandContext& context, const std::string& text, int* row) {
  const std::vector<int> rows = ListedRows();
  int n = 0;
  if (!ParseInt(text, &n) || n < 1 || n > static_cast<int>(rows.size())) {
    return UsageError(context, "no directory row " + text + " (rows: 1 to " +
                                   std::to_string(rows.size()) + ")");
  }
  *row = rows[static_cast<std::size_t>(n - 1)];
  return kExitOk;
}

// A text the table file can keep, or the usage error saying why not.
int CheckStorable(const CommandContext& context, const char* what,
                  const std::string& text) {
  const std::string problem = TableTextProblem(text);
  if (problem.empty()) return kExitOk;
  return UsageError(context, std::string(what) + " '" + text + "' cannot be kept in " +
                                 kDirFileName + ": " + problem);
}

int AddDir(const CommandContext& context, const ParsedArgs& parsed) {
  if (parsed.positionals().size() != 2) {
    return UsageError(context, "give one directory to add");
  }
  // A relative directory is taken relative to the home directory, where
  // every command runs.
  std::error_code ec;
  const std::filesystem::path dir =
      std::filesystem::absolute(parsed.positionals()[1], ec).lexically_normal();
  std::string dir_text = dir.native();
  if (dir_text.size() > 1 && dir_text.back() == '/') dir_text.pop_back();
  const std::string profile = parsed.Value("--profile").value_or("");
  const std::string save_dir = parsed.Value("--save-dir").value_or("");
  if (int e = CheckStorable(context, "directory", dir_text)) return e;
  if (int e = CheckStorable(context, "profile", profile)) return e;
  if (int e = CheckStorable(context, "save directory", save_dir)) return e;
  if (profile.find('/') != std::string::npos) {
    return UsageError(context, "the profile is a file name in PROF/, not a path: " + profile);
  }
  std::error_code exists_ec;
  if (!std::filesystem::is_directory(dir_text, exists_ec)) {
    std::fprintf(stderr, "mr4 %s: %s is not a directory now; the scan skips it until it is\n",
                 context.name.c_str(), dir_text.c_str());
  }
  if (!profile.empty() && !std::filesystem::exists(ProfileFile(profile), exists_ec)) {
    std::fprintf(stderr, "mr4 %s: %s does not exist yet; the scan uses it once it does\n",
                 context.name.c_str(), ProfileFile(profile).c_str());
  }
  std::string problem;
  if (AddClipDirectory(dir_text, profile, save_dir, parsed.Has("--ymd"), &problem) < 0) {
    std::fprintf(stderr, "mr4 %s: %s\n", context.name.c_str(), problem.c_str());
    return kExitUsage;
  }
  return SaveAndList(context);
}

}  // namespace

int RunDirs(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--profile", OptionKind::kValue},
                  {"--save-dir", OptionKind::kValue},
                  {"--ymd", OptionKind::kFlag}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  const std::vector<std::string>& words = parsed.positionals();
  const std::string action = words.empty() ? "list" : words[0];
  if (action != "add" &&
      (parsed.Has("--profile") || parsed.Has("--save-dir") || parsed.Has("--ymd"))) {
    return UsageError(context, "--profile, --save-dir and --ymd belong to 'add'");
  }
  if (action == "list") {
    if (words.size() > 1) return UsageError(context, "'list' takes no arguments");
    return ListDirs();
  }
  if (action == "add") return AddDir(context, parsed);
  if (action == "use") {
    if (words.size() != 3 || (words[2] != "on" && words[2] != "off")) {
      return UsageError(context, "usage: dirs use N on|off");
    }
    int row = -1;
    if (int e = RowOf(context, words[1], &row)) return e;
    Tables().dir.SetUint(row, dir::kUse, words[2] == "on" ? 1 : 0);
    return SaveAndList(context);
  }
  if (action == "remove") {
    if (words.size() != 2) return UsageError(context, "usage: dirs remove N");
    int row = -1;
    if (int e = RowOf(context, words[1], &row)) return e;
    Tables().dir.DeleteRow(row);
    return SaveAndList(context);
  }
  return UsageError(context, "unknown action '" + action + "' (list, add, use, remove)");
}

}  // namespace mr4::cli
