// What every export file shares: file-name parts taken from data texts,
// the export folder, the save dialog with its overwrite question, the
// atomic write with its one retry, and the number texts of the exports.
//
// Export files are written whole to a temporary file next to the target and
// renamed into place, so a full disk or a crash never leaves half a file.
// Numbers are formatted independently of the process locale. User-interface
// thread only (the dialogs go through CurrentUi()).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings.h"

namespace mr4 {

// The site identifiers of the current profile (analysis context 0).
struct ExportSite {
  std::string lid;
  std::string sid;
};

enum class ExportStatus {
  kWritten,
  kNothingToExport,  // no clip row (CSV), no object with a class (report)
  kCancelled,        // the dialog was cancelled or the overwrite declined
  kCannotOpen,       // after "Cannot open %s"
};

struct ExportResult {
  ExportStatus status = ExportStatus::kNothingToExport;
  std::filesystem::path path;  // the file written (or tried)
  int lines = 0;               // data lines written
};

// A data text (a site's `lid` or `sid`) made safe to stand in a file name:
// path separators and leading dots become "_", so that a name built from it
// always stays in its folder.
std::string FileNamePart(std::string_view text);

// The export folder "AP.outdir"; when that folder does not exist the setting
// is replaced by the user's documents folder first.
std::filesystem::path ExportFolder(Settings& settings);

// The save dialog of an export: `title`, `filter`, the proposed path. An
// existing chosen file needs the answer to "file already exists
// overwrite?\n%s" (its name without the folder). nullopt when cancelled or
// declined.
std::optional<std::filesystem::path> ChooseExportFile(std::string_view title,
                                                      std::string_view filter,
                                                      const std::filesystem::path& proposed);

// Writes `text` as the whole file at `path` (temporary file renamed into
// place). With `retry` a failed attempt is repeated once after one second.
// False when the file could not be written; the caller reports it.
bool WriteExportFile(const std::filesystem::path& path, std::string_view text,
                     bool retry = false);

// "%.<decimals>f" of `value` ("%+.<decimals>f" with `sign`).
void AppendFixedText(std::string* out, double value, int decimals, bool sign = false);
// "%d", or "%<width>d" (right-aligned in at least `width` characters).
void AppendIntText(std::string* out, long long value, int width = 0);
// "%0<width>d".
void AppendZeroPadded(std::string* out, long long value, int width);

}  // namespace mr4
