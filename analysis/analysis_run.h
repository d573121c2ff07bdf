// One analysis run of one clip on one context: preparation, the frame loop
// over the program's own AVI reader, and the result codes.
//
// A run executes on its worker thread and owns its context; the clip values
// it reads and corrects (fps, head, frames) are the context's copy of the
// clip row. The stop flag of the context may be raised from any thread; the
// loop reads it once per frame.
#pragma once

#include "analysis/analysis_context.h"

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
};

// The whole run: window, preparation, frame loop, reduction.
int AnalyzeClip(AnalysisContext& c);
// Resets the context for the clip and sets the run's window and radii.
// False when the context has no images or the frame size is not usable.
bool PrepareRun(AnalysisContext& c);
// The frame loop over the own reader; 0 or a failure code.
int RunOwnReader(AnalysisContext& c);

}  // namespace mr4
