// The per-frame export of the scanned clips' meteors (`mr4 export-frames`):
// gathers every sample of every meteor from the clips' result files and
// writes one file per station and night in the frames CSV or the
// FTPdetectinfo form (reports/frames_export.h).
//
// A meteor is an object whose class is set and does not begin with "_" (the
// period report's rule); clips without a result file are left out. The k-th
// object of a clip's chain owns the samples of the result file's k-th
// object. User-interface thread (reads the result files through analysis
// context 0's track store).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "reports/export_files.h"
#include "reports/frames_export.h"

namespace mr4 {

enum class FramesFormat { kCsv, kFtpDetectInfo };

// The station nights of every existing clip row with a result file.
// `unreadable` counts the result files that could not be read (each
// reported).
std::vector<StationNight> GatherMeteorFrames(int* unreadable);

struct FramesExportResult {
  std::vector<ExportResult> files;  // one per station night, in order
  int unreadable = 0;               // result files that could not be read
};

// Writes the files of every station night into `folder`. An existing file
// is replaced only after the save dialog's overwrite question.
FramesExportResult ExportMeteorFrames(FramesFormat format, const std::filesystem::path& folder);

}  // namespace mr4
