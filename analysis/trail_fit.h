// The great-circle fit of a track's sky positions: its pole, each sample's
// nearest point on the circle and distance from it.
//
// Runs on the context's run thread; changes the track (pole, passed count)
// and its samples (az, ev, ra, dec of the fitted ones, measured through the
// context's profile; pass, ra_mod, dec_mod, err). Angles in degrees.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

struct GreatCircleFit {
  double mean_residual = -1;  // -1: no sample was fitted
  double largest_residual = 0;
  int orientation = 0;        // -1 near a pole, 1 east-west, 0 north-south
  double nx = 0, ny = 0, nz = 0;
};

// limit <= 0: every sample; otherwise samples whose previous err exceeds
// the limit are left out (pass 0).
GreatCircleFit FitGreatCircle(AnalysisContext& c, Track& track, double limit);

}  // namespace mr4
