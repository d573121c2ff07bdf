// The clip file operations from the command line: `mr4 move` ("Move C
// all", or the "Move files" dialog's move with --to), `mr4 copy --to`,
// `mr4 trash` ("Delete C all", or the dialog's "Delete clip files" with
// --targets), `mr4 clean` ("Cleaning") and `mr4 delete-results` ("Delete
// AXMLs"). Each scans the clip directories first and acts on the checked
// clips, or on the clips named; questions are answered by --yes; the
// operation ends with a new scan, and the command with one summary line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_file_ops.h"
#include "clips/clip_scan.h"
#include "platform/ui.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

// The clips to act on: those named (which then become the only checked
// clips), else the checked ones. False with `error` for a name not found.
bool SelectClips(const std::vector<std::string>& names, std::vector<int>* rows,
                 std::string* error) {
  Table& clips = Tables().clip;
  if (!names.empty()) {
    std::vector<bool> named(static_cast<std::size_t>(clips.count()), false);
    for (const std::string& name : names) {
      const std::vector<int> rows = ClipRowsNamed(name);
      for (int r : rows) named[static_cast<std::size_t>(r)] = true;
      if (rows.empty()) {
        *error = "no clip '" + name + "' in the scanned directories";
        return false;
      }
    }
    for (int r = 0; r < clips.count(); ++r) {
      if (clips.Exists(r)) clips.SetInt(r, clip::kCheck, named[static_cast<std::size_t>(r)]);
    }
  }
  for (int r = 0; r < clips.count(); ++r) {
    if (clips.Exists(r) && clips.Int(r, clip::kCheck) != 0) rows->push_back(r);
  }
  return true;
}

// "--targets interval,thumbnails,results,unclassified,eclass"; without the
// option every clip acted on is a target.
bool ParseTargets(const ParsedArgs& parsed, DispatchSwitches* switches, std::string* error) {
  const std::optional<std::string> text = parsed.Value("--targets");
  if (!text) {
    switches->every_clip = true;
    return true;
  }
  for (const std::string& name : SplitComma(*text)) {
    if (name == "interval") switches->interval = true;
    else if (name == "thumbnails") switches->thumbnails = true;
    else if (name == "results") switches->results = true;
    else if (name == "unclassified") switches->unclassified = true;
    else if (name == "eclass") switches->eclass = true;
    else {
      *error = "--targets takes interval, thumbnails, results, unclassified, eclass; not '" +
               name + "'";
      return false;
    }
  }
  return true;
}

int Summary(const char* done, const FileOpRun& run) {
  std::printf("%d clips, %d files, %.1f MB %s, %d failed, %d skipped\n", run.clips,
              run.files, static_cast<double>(run.bytes) / 1024.0 / 1024.0, done, run.failures,
              run.skipped);
  return run.failures > 0 ? kExitSomeFailed : kExitOk;
}

enum class Operation { kMove, kCopy, kTrash, kDeleteResults };

int RunOperation(const CommandContext& context, std::span<const std::string> args,
                 Operation operation) {
  ParsedArgs parsed;
  std::string error;
  const bool takes_to = operation == Operation::kMove || operation == Operation::kCopy;
  const bool takes_targets = operation != Operation::kDeleteResults;
  if (!ParseArgs(args, {{"--to", OptionKind::kValue}, {"--targets", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!takes_to && parsed.Has("--to")) return UsageError(context, "--to is not an option here");
  if (!takes_targets && parsed.Has("--targets")) {
    return UsageError(context, "--targets is not an option here");
  }
  const std::optional<std::string> to = parsed.Value("--to");
  if (operation == Operation::kCopy && !to) return UsageError(context, "give --to DIR");
  if (operation == Operation::kMove && !to && parsed.Has("--targets")) {
    return UsageError(context, "--targets goes with --to DIR");
  }
  DispatchSwitches switches;
  if (!ParseTargets(parsed, &switches, &error)) return UsageError(context, error);

  ReadClipDirectories();
  std::vector<int> rows;
  if (!SelectClips(parsed.positionals(), &rows, &error)) return UsageError(context, error);

  FileOpRun run;
  switch (operation) {
    case Operation::kMove:
      if (to) {
        DispatchMoveClips(rows, switches, *to, false, run);
      } else {
        MoveCheckedClips(run);
      }
      return Summary("moved", run);
    case Operation::kCopy:
      DispatchMoveClips(rows, switches, *to, true, run);
      return Summary("copied", run);
    case Operation::kTrash:
      if (rows.empty()) {
        std::printf("no checked clip\n");
      } else if (parsed.Has("--targets")) {
        DispatchDeleteClips(rows, switches, run);
      } else {
        DeleteCheckedClips(run);
      }
      return Summary("deleted", run);
    case Operation::kDeleteResults:
      if (rows.empty()) {
        std::printf("no checked clip\n");
      } else {
        DeleteListedResults(rows, run);
      }
      return Summary("deleted", run);
  }
  return kExitOk;
}

}  // namespace

int RunMove(const CommandContext& context, std::span<const std::string> args) {
  return RunOperation(context, args, Operation::kMove);
}

int RunCopy(const CommandContext& context, std::span<const std::string> args) {
  return RunOperation(context, args, Operation::kCopy);
}

int RunTrash(const CommandContext& context, std::span<const std::string> args) {
  return RunOperation(context, args, Operation::kTrash);
}

int RunDeleteResults(const CommandContext& context, std::span<const std::string> args) {
  return RunOperation(context, args, Operation::kDeleteResults);
}

int RunClean(const CommandContext& context, std::span<const std::string> args) {
  if (!args.empty()) return UsageError(context, "unexpected argument '" + args[0] + "'");
  if (!CurrentUi().AskOkCancel(
          "Cleaning",
          "Remove the empty dated folders (names beginning with \"20\", one level)\n"
          "and the \"Thumb.db\" files of the clip directories ok?")) {
    std::printf("deleted 0 directories , 0 files\n");
    return kExitOk;
  }
  // Its status line "deleted %d directories , %d files" is the summary.
  CleanClipDirectories();
  ReadClipDirectories();
  return kExitOk;
}

}  // namespace mr4::cli
