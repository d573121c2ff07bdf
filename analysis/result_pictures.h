// The pictures of a clip's measurement drawn into the mask page's display
// picture: catalogue-star markers, the photometry graph of the mask stars,
// the light curve of the tracks and the residual graph of the star fit.
//
// Each function only sets pixels of the picture (3 bytes per pixel blue,
// green, red, rows from the bottom); pixels that fall beyond the picture
// are not drawn, so a frame too small for a graph shows the part that fits.
// Graph positions are fixed pixel offsets; their scales are those of the
// context's profile (refmag, mimMag, minLev, ZeroPoint). Runs on the thread
// that owns the context and the picture.
#pragma once

#include "analysis/analysis_context.h"
#include "analysis/detector.h"
#include "calib/star_catalogue.h"

namespace mr4 {

// A yellow marker for a catalogue star at (x, y) [px] of magnitude `mag`:
// the centre pixel, and for brighter stars arms at distance 1 and 2 and
// the diagonals (the thresholds move with a refmag below 4.5).
void DrawStarMarker(const AnalysisContext& c, DisplayPicture& picture, double x, double y,
                    double mag);

// The linked mask stars' flux against their catalogue magnitude near the
// bottom-left corner; `lines` adds the mimMag and minLev lines and the
// calibration line. Nothing when the clip has no mask stars.
void DrawPhotometryGraph(const AnalysisContext& c, const StarCatalogue& catalogue,
                         bool lines, DisplayPicture& picture);

// The magnitude of the tracks' samples against their field, right of the
// photometry graph. `selected_track` >= 0 draws that track alone.
void DrawLightCurve(const AnalysisContext& c, int selected_track, DisplayPicture& picture);

// The linked mask stars' residuals (angle and radial pixels) against their
// distance from the optical centre, top right. Nothing without mask stars.
void DrawResidualGraph(const AnalysisContext& c, DisplayPicture& picture);

}  // namespace mr4
