// Clip file operations: trash, move and copy the files of whole clips, move
// the checked clips into the save directories of their clip directories
// (filed by night when the row asks for it), the targets, moves, copies and
// deletions of the "Move files" dialog, the deletion of result files, and
// the cleaning of empty dated folders.
//
// A clip's files are the files of its directory whose ClassifyClipFile base
// equals its name (with its "B.XML" and "L.csv" result files), never every
// name that merely begins with it. No operation loses a file: a file is
// never moved onto itself; a target is replaced only by a rename of a
// complete file; across file systems a file is copied to a temporary name,
// flushed, compared, renamed into place and only then removed from its
// source; the "Trash" folder never has a file replaced; a file goes to the
// system trash, else to the "Trash" folder, and is deleted for good only
// when neither trash setting is on. Every failure is reported through
// ShowError and counted in the run. Each operation first closes the replay
// graph; the callers run "Read dir" (ReadClipDirectories) at the end.
//
// Questions and messages go through CurrentUi(); the stop flag may be set
// from another thread. Otherwise user-interface thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace mr4 {

// What one run (one command of the user) did, and its shared state.
struct FileOpRun {
  // Set once the user accepted one overwrite: later conflicts of the run
  // are overwritten without asking.
  bool overwrite_all = false;
  // The system trash refused a file once and that was said.
  bool trash_fallback_told = false;
  // The Stop button of the progress dialog; may be null.
  const std::atomic<bool>* stop = nullptr;
  // The system trash (GIO); tests put in one that refuses.
  bool (*system_trash)(const std::filesystem::path&, std::string* error) = MoveToTrash;

  int clips = 0;            // clips fully handled
  int files = 0;            // files moved, copied or removed
  std::uint64_t bytes = 0;  // of those files
  int failures = 0;         // files that stayed where they were, reported
  int skipped = 0;          // files not moved onto themselves, reported
};

// Closes the replay graph when one exists (the clip's files may be open in
// it) and waits, boundedly, until the replay thread has closed it.
void CloseReplayGraph();

// The files of clip `clip_name` in `directory`, sorted by name.
std::vector<std::filesystem::path> ClipFilesIn(const std::filesystem::path& directory,
                                               std::string_view clip_name);
// The files of clip row `row`.
std::vector<std::filesystem::path> ClipFiles(int row);

// Removes one file by the trash settings: "AP.trashdir" into the "Trash"
// folder of its directory; else "AP.usetrash" into the system trash (its
// refusal falls back to the "Trash" folder, said once per run); else
// deleted. False, reported, when the file stayed.
bool RemoveByTrashRules(const std::filesystem::path& file, FileOpRun& run);

// Removes every file of clip row `row` by the trash rules; true when all
// went (the caller may then drop the row).
bool TrashClipFiles(int row, FileOpRun& run);

// Moves (or copies) every file of clip row `row` into `destination`. A
// conflict asks "Destination file already exists overwrite?\n%s" unless
// the run's overwrite-all flag is set; Cancel returns 0 at once (the
// clip's remaining files stay), else 1.
int MoveClipFiles(int row, const std::filesystem::path& destination, FileOpRun& run);
int CopyClipFiles(int row, const std::filesystem::path& destination, FileOpRun& run);

// The dated folder of a clip filed by night: a clip before noon belongs to
// the night that began the day before. "YYYY/YYYYMM/YYYYMMDD".
std::filesystem::path NightFolder(int y, int mo, int d, int h);

// "Move C all": every checked clip of the clip table (in row order) into
// the save directory of its directory row, dated when the row has "+ymd";
// asks first, runs "Read dir" and the after-move command at the end.
// Returns false when nothing was moved (declined, no clips).
bool MoveCheckedClips(FileOpRun& run);

// Runs the after-move command `command`: an executable file is started
// directly (no shell), anything else is opened with the default
// application. False, reported, when it could not be started.
bool RunAfterMoveCommand(const std::filesystem::path& command);

// The five target switches of the "Move files" dialog.
struct DispatchSwitches {
  bool interval = false;      // "time interval clips *=*"
  bool thumbnails = false;    // "*T.jpg files"
  bool results = false;       // "*A.XML files"
  bool unclassified = false;  // "non classified clips __*"
  bool eclass = false;        // "e-class clips _*" (rows of MR4_EClass.csv with `target`)
  // Every listed clip is a target (the headless commands without switches).
  bool every_clip = false;
};

bool IsDispatchTarget(int row, const DispatchSwitches& switches);

// "Count": the target clips of `rows` and their megabytes (`MB`).
struct DispatchCount {
  int clips = 0;
  double megabytes = 0.0;
};
// `shown` receives the count after each target clip (the dialog's count
// display); without it " %d clips  %.1f MB" goes to the status line.
using DispatchCountShown = std::function<void(const DispatchCount&)>;
DispatchCount CountDispatchTargets(const std::vector<int>& rows,
                                   const DispatchSwitches& switches,
                                   const DispatchCountShown& shown = {});

// What a "Move clips" / "Copy clips" run did with each target clip.
struct DispatchSummary {
  bool copy = false;
  std::vector<std::string> moved;    // every file went (moved or copied)
  std::vector<std::string> failed;   // a file stayed where it was (each one reported)
  // Left where they were: the clip whose overwrite was declined and every
  // target after it (the run stopped there), and clips already in the
  // destination.
  std::vector<std::string> skipped;
  std::string declined;              // the clip whose overwrite was declined, or empty
  int files = 0;                     // files moved or copied
  std::uint64_t bytes = 0;
};

// "Move clips" / "Copy clips": the target clips of `rows` into
// `destination`, which must exist ("destination directiry does not
// exist\n%s"). Cancelling an overwrite stops the run. Runs "Read dir".
// `summary`, when given, receives what became of each target clip (false
// returned: nothing was tried, the summary is empty).
bool DispatchMoveClips(const std::vector<int>& rows, const DispatchSwitches& switches,
                       const std::filesystem::path& destination, bool copy,
                       FileOpRun& run, const DispatchCountShown& shown = {},
                       DispatchSummary* summary = nullptr);

// The summary as the dialog shows it at the end of a run: a line each for
// the clips moved (with files and megabytes), failed and not moved, each
// list of names below its line (at most kSummaryNamesShown names, then
// "... and %d more").
inline constexpr int kSummaryNamesShown = 8;
std::string DispatchSummaryText(const DispatchSummary& summary);

// "Delete clip files": asks "Delete files from listed clips ok?"; target
// clips lose all their files, the others their thumbnail and/or result
// file by the switches. Runs "Read dir".
bool DispatchDeleteClips(const std::vector<int>& rows, const DispatchSwitches& switches,
                         FileOpRun& run);

// "Delete C all": asks "DELETE CHECKED %d clips ok?", trashes the files of
// every checked clip, then runs "Read dir". False when declined or none.
bool DeleteCheckedClips(FileOpRun& run);

// "delete a clip": trashes the clip's files; when all went, drops its
// objects and its row (the current clip then becomes `next_current`).
bool DeleteClip(int row, int next_current, FileOpRun& run);

// "Delete a AXML": the result file of `row` by the trash rules (nothing
// when the clip has none). "Delete AXMLs": asks "Delete All *A.XML file
// (Analisys result) from listed clips ok?" and removes the result file of
// each of `rows`. Both run "Read dir".
bool DeleteClipResult(int row, FileOpRun& run);
bool DeleteListedResults(const std::vector<int>& rows, FileOpRun& run);

// "Cleaning": for every directory row in use, removes its empty dated
// sub-folders (names beginning with "20"; one level per run; "Thumb.db"
// files deleted on the way). Only empty directories are removed (rmdir),
// symbolic links are never followed, and the row's own directory stays.
// The temporaries of a move or an analysis that was killed (hidden names
// with ".mr4part-") are deleted too, there and in the row's save directory
// (whose folders stay); they count among the files.
struct CleaningResult {
  int directories = 0;
  int files = 0;
};
CleaningResult CleanDirectory(const std::filesystem::path& directory);
CleaningResult CleanClipDirectories();

}  // namespace mr4
