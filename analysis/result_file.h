// The files a run leaves next to its clip: the result file A.XML (the clip
// row, its objects and every trail sample) with its reader of the trail
// samples, and the trail log L.csv. (The reader of the clip and object rows
// is the scan's, clips/clip_record.h.)
//
// A result file is written to a temporary file and renamed into place, so
// an interrupted run never leaves half a file. Lines end with CR LF; the
// readers accept both line ends.
#pragma once

#include <filesystem>

#include "analysis/analysis_context.h"

namespace mr4 {

class Table;

// "<directory>/<clip_name>A.XML" and "...L.csv" of clip row `row`.
std::filesystem::path ResultFilePath(const Table& clips, int row);
std::filesystem::path TrailLogPath(const Table& clips, int row);

// Writes the result file of the context's clip from the CLIP and OBJ rows
// and the track store. False, with the messages shown, when it cannot be
// written.
bool WriteResultFile(AnalysisContext& c);

// Fills the context's detection and track stores from the result file of
// the context's clip; false when the file is missing or holds no trail.
bool ReadResultTrail(AnalysisContext& c, const std::filesystem::path& path);

// The trail log of a run: opened by the reduction when "AP.a_log" is on,
// one block per track, closed at the end of the reduction.
bool OpenTrailLog(AnalysisContext& c);
void WriteTrailLogTrack(AnalysisContext& c, int track);
void CloseTrailLog(AnalysisContext& c);

}  // namespace mr4
