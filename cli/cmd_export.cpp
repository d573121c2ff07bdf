// The exports from the command line: `mr4 export-csv` (the main page's
// ">Mcsv"; --ctrl-variant and --with-report stand for the Ctrl and left Alt
// keys), `mr4 report` (">Rcsv") and `mr4 export-objects` (the utilities
// page's "MakeOBJ csv" over every clip). Each scans the clip directories
// first, so the tables hold the clips and the objects of their result
// files, then writes into "AP.outdir" or --out DIR. An existing file is
// replaced only after the question is answered (--yes), except with
// --with-report, which asks nothing, as the Alt key does. `mr4
// export-frames` writes every meteor's samples per station and night as the
// frames CSV or FTPdetectinfo (utility/meteor_frames.h).
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "app/column_layouts.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "calib/camera_profile.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/scan_range.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "reports/meteor_csv.h"
#include "reports/period_report.h"
#include "tables/table_catalogue.h"
#include "utility/meteor_frames.h"
#include "utility/object_export.h"

namespace mr4::cli {
namespace {

// The export folder: --out DIR, which must exist, else "AP.outdir".
bool OutputFolder(const ParsedArgs& parsed, std::filesystem::path* folder, std::string* error) {
  if (const std::optional<std::string> out = parsed.Value("--out")) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*out, ec)) {
      *error = "--out '" + *out + "' is not a directory";
      return false;
    }
    *folder = *out;
    return true;
  }
  *folder = ExportFolder(AppSettings());
  return true;
}

ExportSite CurrentSite() { return {CurrentProfile().p_lid, CurrentProfile().p_sid}; }

// One line per export; the exit status of the command.
int Report(const char* what, const ExportResult& result) {
  switch (result.status) {
    case ExportStatus::kWritten:
      std::printf("%s: %s (%d lines)\n", what, result.path.c_str(), result.lines);
      return kExitOk;
    case ExportStatus::kNothingToExport:
      std::printf("%s: nothing to export\n", what);
      return kExitOk;
    case ExportStatus::kCancelled:
      std::printf("%s: not written, %s exists (--yes replaces it)\n", what,
                  result.path.c_str());
      return kExitDeclined;
    case ExportStatus::kCannotOpen:
      std::printf("%s: cannot write %s\n", what, result.path.c_str());
      return kExitSomeFailed;
  }
  return kExitOk;
}

bool ParseExportArgs(const CommandContext& context, std::span<const std::string> args,
                     std::initializer_list<OptionSpec> specs, ParsedArgs* parsed,
                     std::filesystem::path* folder, int* status) {
  std::string error;
  if (!ParseArgs(args, specs, parsed, &error)) {
    *status = UsageError(context, error);
    return false;
  }
  if (!parsed->positionals().empty()) {
    *status = UsageError(context, "unexpected argument '" + parsed->positionals()[0] + "'");
    return false;
  }
  if (!OutputFolder(*parsed, folder, &error)) {
    *status = UsageError(context, error);
    return false;
  }
  return true;
}

}  // namespace

int RunExportCsv(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::filesystem::path folder;
  int status = kExitOk;
  if (!ParseExportArgs(context, args,
                       {{"--ctrl-variant", OptionKind::kFlag},
                        {"--with-report", OptionKind::kFlag},
                        {"--out", OptionKind::kValue}},
                       &parsed, &folder, &status)) {
    return status;
  }
  ReadClipDirectories();
  MeteorCsvOptions options;
  options.ctrl = parsed.Has("--ctrl-variant");
  options.alt = parsed.Has("--with-report");
  const ProcessTables& tables = Tables();
  const MeteorCsvResult result =
      ExportMeteorCsv(tables.clip, tables.obj, CurrentSite(), folder, options, App().scrambler);
  int exit = kExitOk;
  if (result.report && result.report->status != ExportStatus::kNothingToExport) {
    exit = Report("report", *result.report);
  }
  const int csv = Report("summary", result.csv);
  return csv != kExitOk ? csv : exit;
}

int RunReport(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::filesystem::path folder;
  int status = kExitOk;
  if (!ParseExportArgs(context, args, {{"--out", OptionKind::kValue}}, &parsed, &folder,
                       &status)) {
    return status;
  }
  ReadClipDirectories();
  const ProcessTables& tables = Tables();
  return Report("report",
                ExportPeriodReport(tables.clip, tables.obj, CurrentSite(), folder, false));
}

int RunExportObjects(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::filesystem::path folder;
  int status = kExitOk;
  if (!ParseExportArgs(context, args, {{"--out", OptionKind::kValue}}, &parsed, &folder,
                       &status)) {
    return status;
  }
  ReadClipDirectories();
  const ProcessTables& tables = Tables();
  std::vector<int> listed;
  for (int r = 0; r < tables.clip.count(); ++r) {
    if (tables.clip.Exists(r)) listed.push_back(r);
  }
  if (listed.empty()) {
    std::printf("objects: no listed clip\n");
    return kExitOk;
  }
  return Report("objects", ExportListedObjects(listed, folder));
}

}  // namespace mr4::cli

namespace mr4::cli {

int RunExportFrames(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--format", OptionKind::kValue},
                  {"--out", OptionKind::kValue},
                  {"--range", OptionKind::kValue},
                  {"--from", OptionKind::kValue},
                  {"--days", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  const std::optional<std::string> name = parsed.Value("--format");
  FramesFormat format = FramesFormat::kCsv;
  if (!name) return UsageError(context, "--format csv|ftpdetectinfo is required");
  if (*name == "csv") {
    format = FramesFormat::kCsv;
  } else if (*name == "ftpdetectinfo") {
    format = FramesFormat::kFtpDetectInfo;
  } else {
    return UsageError(context, "--format is csv or ftpdetectinfo, not '" + *name + "'");
  }
  std::filesystem::path folder;
  if (!OutputFolder(parsed, &folder, &error)) return UsageError(context, error);
  Settings wanted = AppSettings();
  if (!ReadScanRange(parsed, &wanted, &error)) return UsageError(context, error);
  ApplyScanRange(wanted);
  ReadClipDirectories();
  const FramesExportResult result = ExportMeteorFrames(format, folder);
  if (result.files.empty()) std::printf("frames: nothing to export\n");
  // A file not written fails the command; a declined one only when nothing
  // failed.
  int exit = kExitOk;
  for (const ExportResult& file : result.files) {
    const int status = Report("frames", file);
    if (status == kExitSomeFailed || (status == kExitDeclined && exit == kExitOk)) exit = status;
  }
  return result.unreadable > 0 ? kExitSomeFailed : exit;
}

}  // namespace mr4::cli
