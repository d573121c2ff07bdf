// The files a run leaves next to its clip: the result file A.XML (the clip
// row, its objects and every trail sample) with its reader of the trail
// samples, and the trail log L.csv. (The reader of the clip and object rows
// is the scan's, clips/clip_record.h.)
//
// A.XML: the declaration, the clip element `meridra_record` (version 202)
// with the clip row's persisted columns, then, when `o` > 0, the container
// `mr2_objects` with one `mr2_object` element per object of the clip's
// chain; the k-th object carries the samples of track k as `mr2_fdata2`
// lines inside `mr2_objpath`. Numbers are written in the C locale whatever
// the process locale.
//
// A result file is written to a hidden temporary file in the clip's
// directory and renamed into place, so an interrupted run never leaves half
// a file. Lines end with CR LF; the readers accept both line ends.
//
// The track store belongs to one clip at a time (`track_clip_row`,
// `track_clip_file`); every writer makes sure it holds the written clip's
// trail first, reloading it from that clip's result file when it holds
// another clip's, so that no rewrite drops or mixes samples.
//
// Runs on the thread that owns the context (a run's worker, or the
// user-interface thread for context 0); OBJ rows are read under the object
// table's lock; only the clip's own CLIP row is written.
#pragma once

#include <filesystem>

#include "analysis/analysis_context.h"

namespace mr4 {

class Table;

// The version attribute of the clip element.
inline constexpr int kResultFileVersion = 202;

// "<directory>/<clip_name>A.XML" and "...L.csv" of clip row `row`.
std::filesystem::path ResultFilePath(const Table& clips, int row);
std::filesystem::path TrailLogPath(const Table& clips, int row);

// The run's result file of the context's clip (`clip_row`): the context's
// profile and detection parameters go back into the clip row first, then
// the CLIP and OBJ rows and the track store are written and the clip's
// result bit is set in `MT`. False, with "saveXML: cannot open %s" and
// "Cannot open %s" shown, when the file cannot be written; the media flags
// and the file already there stay as they were.
bool WriteResultFile(AnalysisContext& c);

// Rewrites the result file of clip row `clip_row` after a change of its
// rows made outside a run (re-classifying, deleting an object, end points,
// time adjustment). The row keeps its profile columns (the run's); the
// track store is made to hold the clip's trail first (EnsureClipTrail). False
// when the trail could not be loaded or the file not written (messages
// shown); nothing is written then.
bool RewriteResultFile(AnalysisContext& c, int clip_row);

// Fills the context's detection and track stores with the trail of clip
// row `clip_row` from its result file and tags the store with the clip:
// the k-th `mr2_object` gives track k, its samples keep field, peak,
// saturated count, Lsum, az, ev, ra, dec, err, pass, x and y (`pixels` and
// `r` are 0). A missing file gives an empty trail. False, with the store
// empty and owned by no clip, when the file is too big ("readXML: file too
// big\n%s") or cannot be read ("%s cannot open"). Samples beyond the
// store's fields, slots or tracks are left out.
bool ReadResultTrail(AnalysisContext& c, int clip_row);

// Reloads the clip's trail unless the track store already holds it; the
// result of ReadResultTrail, true when nothing had to be read.
bool EnsureClipTrail(AnalysisContext& c, int clip_row);

// The trail log of a run, written under a hidden temporary name: opened by
// the reduction when "AP.a_log" is on (false when it cannot be created; the
// caller reports "Cannot open %s" and the run goes on without it), one
// object block per track, and the shower blocks the association writes
// through WriteTrailLog; closed and renamed into place at the end of the
// reduction ("Cannot open %s" when that fails). Every call but the opening
// does nothing while no log is open.
bool OpenTrailLog(AnalysisContext& c);
void WriteTrailLogTrack(AnalysisContext& c, int track);
// printf into the open trail log in the C locale, each "\n" written as
// CR LF.
void WriteTrailLog(AnalysisContext& c, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void CloseTrailLog(AnalysisContext& c);

}  // namespace mr4
