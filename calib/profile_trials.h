// Trial runs of the analysis over one clip with the profile moved: the
// pointing grid (27 runs around the current pointing, each followed by a
// numbered export) and the tuning of the detection level `dlo` to the
// clip's best-measured object.
//
// The analysis itself and the export are the caller's: these functions
// only move the profile, call back and choose. Thread of the caller.
#pragma once

#include <functional>

#include "calib/camera_profile.h"
#include "tables/table.h"

namespace mr4 {

// The offset of the pointing grid in az, ev and rot [deg].
inline constexpr float kPointingGridStep = 0.3f;
// The status line shown before the grid runs.
inline constexpr char kPointingGridFormat[] = "Try az+/-%.1f ,ev+/-%.1f ,rot+/-%.1f -> _nAXML";
// The score of a run that found no object.
inline constexpr double kNoObjectScore = 99.9;

// `trial`(n) runs with az, ev and rot set to the kept values plus each
// combination of -0.3, 0, +0.3 (az outermost, rot innermost), n = 1..27;
// afterwards the kept pointing is back, also when a trial throws.
void TryPointingGrid(CameraProfile& profile, const std::function<void(int trial)>& trial);

// The cdeg of the clip's object with the largest fN (the first of equal
// ones along the clip's object chain), kNoObjectScore without objects.
double DetectionLevelScore(const Table& clips, const Table& objects, int clip_row);

// For dlo from dlo - 5 to dlo + 5: `analyse` (tried up to 3 times while it
// answers false, that is did not run), then `score`. The candidate with the
// smallest score below 99 (the first of equal ones) becomes dlo, or the
// kept dlo stays; `analyse` runs once more with it. Answers the dlo chosen.
int TuneDetectionLevel(CameraProfile& profile, const std::function<bool()>& analyse,
                       const std::function<double()>& score);

}  // namespace mr4
