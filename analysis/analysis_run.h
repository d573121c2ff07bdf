// One analysis run of one clip on one context: preparation, the frame loop
// over the program's own AVI reader, and the result codes.
//
// A run executes on its worker thread and owns its context; the clip values
// it reads and corrects (fps, head, frames) are the context's copy of the
// clip row. The stop flag of the context may be raised from any thread; the
// loop reads it once per frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "analysis/analysis_context.h"
#include "base/process_values.h"

namespace mr4 {

enum AnalysisResult : int {
  kAnalysisOk = 0,
  kAnalysisNoVideo = 10,        // neither an AVI nor a WMV file
  kAnalysisPrepareFailed = 11,
  kAnalysisBadInput = 12,       // invalid profile, unreadable video, or no
                                // frame of the detection phase could be read
  kAnalysisBadFormat = 13,      // format code not 1, 2 or 4
  kAnalysisNoReplayClip = 81,
  kAnalysisNoReplayVideo = 82,
  kAnalysisNotWritten = 14,     // the result file could not be written
  kAnalysisStopped = 15,        // interrupted (kStopKeepingResult): nothing
                                // written, the old result file kept
};

// Loads clip row `row` into the context for a run: its camera profile
// (LoadProfileFromRecord) and the analysis mask from the clip's mask
// picture `mask_bgr` (W x H blue-green-red, blue = mask codes; empty: no
// pixel excluded). Leaves the mask stars alone.
void LoadClipForRun(AnalysisContext& c, int row, std::span<const std::uint8_t> mask_bgr);
// The mask code bit of pixels outside the detection area: a capture mask
// has it everywhere but around the pixels the capture program marked (and
// always on its time-stamp band); painting the detection area clears it.
inline constexpr std::uint8_t kOutsideDetectionArea = 4;
// The analysis mask from a mask picture: pixels outside the detection area
// are excluded.
void SetAnalysisMask(AnalysisContext& c, std::span<const std::uint8_t> mask_bgr);

// The whole run of the context's clip row: the row's run values, window,
// preparation, frame loop, reduction, tidying and the result file. The
// profile must be loaded (LoadClipForRun, or a star fit after it).
int AnalyzeClip(AnalysisContext& c);
// The run's values of clip row `row` (media flags, frame count, rate,
// head, format code, FOURCC, paths, frame size, interlace) and the
// detection parameters of the context's profile.
void LoadRunValues(AnalysisContext& c, int row);
// Resets the context for the clip and sets the run's window and radii.
// False when the context has no images or the frame size is not usable.
bool PrepareRun(AnalysisContext& c);
// Deletes the clip's OBJ rows (under the object table's lock) and empties
// its object chain.
void DeleteClipObjects(AnalysisContext& c);
// "delete an obj": RemoveObject (analysis/reduction.h) of object row
// `object_row` from clip row `clip_row` with the clip's trail in the
// context's store (FatalError "oline link broken" when the chain does not
// hold it), then summarises the clip's objects and rewrites its result
// file. False when the file
// could not be rewritten (said); the rows are changed all the same.
bool DeleteObjectOfClip(AnalysisContext& c, int clip_row, int object_row);
// "add an obj": an empty manual object of class "__none" at the end of clip
// row `clip_row`'s chain (positions, trajectory and velocities -1, ground
// longitudes and latitudes -999), the clip's current object. It goes last
// so that no other object changes its place: the k-th object keeps the
// k-th track of the result file. The context's store is made to hold the
// clip's trail and gets an empty track at the new object's place, so the
// object is written without samples and reads back with an empty trail.
// -1, and nothing changed, when the clip already has more than
// kMaxObjectsForManual objects ("too many obj" for the page to say).
inline constexpr int kMaxObjectsForManual = 199;
int AddManualObject(AnalysisContext& c, int clip_row);
// One frame of either frame loop, `frame` counted from 0: the background
// phase (frames 1 to 14), the frames outside the detection window, or the
// detection phase with its field or two fields; then the luminance buffers
// change places. True for a frame of the detection phase.
bool AnalyzeFrame(AnalysisContext& c, int frame, const FrameGeometry& geometry,
                  std::span<const std::uint8_t> pixels, const YuvTables& tables);
// The frame loop over the own reader; 0 or a failure code (the cause in
// the context's `run_failure`).
int RunOwnReader(AnalysisContext& c);

// The causes the frame loops give for a failure (`run_failure`): a video
// whose frames are not the clip's size, and one that gave no frame of the
// detection window.
std::string FrameSizeFailure(const std::string& video, int width, int height,
                             int clip_width, int clip_height);
std::string TooFewFramesFailure(const AnalysisContext& c, const std::string& video);

}  // namespace mr4
