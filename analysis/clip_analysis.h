// One clip from its row to its result file, the way an observer's
// analysis runs it: the clip's profile and mask picture into a context,
// the star fit of the camera against the mask's stars, then the analysis
// run. Used by the headless `analyze` command and by the parallel workers.
//
// Runs on the context's worker thread (or the main thread for context 0);
// the clip table must not change meanwhile except through the run itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"

namespace mr4 {

// Outcome of a clip's preparation, before its run.
enum class ClipPreparation {
  kReady,          // profile, mask picture and star data loaded
  kEmptyMask,      // no usable mask picture: the empty mask was used
  kFailed,         // the clip cannot be prepared (invalid profile, ...)
  kNoProfile,      // its directory's profile file cannot be read (reported)
  kBadFrameSize,   // its `cx` x `cy` is no frame size the buffers hold (reported)
};

// Loads clip row `row` into the context: its profile from the row, its
// mask picture (N.BMP, else M.BMP turned into mask codes) into `mask`
// (resized to W x H x 3) and the star data. With `allow_empty_mask`, a clip
// whose mask picture is missing or unreadable gets the empty mask (no
// excluded pixel, no star) instead of failing.
ClipPreparation PrepareClip(AnalysisContext& c, int row, bool allow_empty_mask,
                            std::vector<std::uint8_t>& mask);

// The star fit of the prepared clip (star search, relinking, pointing
// adjustment, photometric fit) into the context's profile. The clip row's
// `errm` records the fit, kErrmCalibrationFailed when it failed; the result
// file stores the fitted profile into the row, so that it records the
// profile the objects were measured with. Returns why the fit failed
// (CalibrationFailure), empty when it held.
std::string FitClipToStars(AnalysisContext& c, std::span<const std::uint8_t> mask);

// Prepare, optionally fit to the stars, and run. Returns the run's
// result code, or kAnalysisPrepareFailed when the clip could not be
// prepared. A failed star fit does not stop the run (its result file is
// marked through `errm`); `calibration_failure` receives why it failed.
int AnalyzeClipRow(AnalysisContext& c, int row, bool star_fit, bool allow_empty_mask,
                   std::vector<std::uint8_t>& mask, std::string* calibration_failure = nullptr);

}  // namespace mr4
