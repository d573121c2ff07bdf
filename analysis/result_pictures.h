// The pictures of a clip's measurement drawn into the mask page's display
// picture: catalogue-star markers, the photometry graph of the mask stars,
// the light curve of the tracks and the residual graph of the star fit; and
// the whole result picture of an analysed context, composed from them.
//
// Each function only sets pixels of the picture (3 bytes per pixel blue,
// green, red, rows from the bottom); pixels that fall beyond the picture
// are not drawn, so a frame too small for a graph shows the part that fits.
// Graph positions are fixed pixel offsets; their scales are those of the
// context's profile (refmag, mimMag, minLev, ZeroPoint). Runs on the thread
// that owns the context and the picture.
#pragma once

#include <cstdint>
#include <vector>

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

// The mask page's display switches (settings "AP.m_star", "AP.m_mgrf",
// "AP.m_mgln", "AP.m_rgraph", "AP.m_objplot").
struct MaskPageSwitches {
  bool stars = true;         // "s": catalogue stars, mask-star marks
  bool graphs = false;       // "mg": photometry graph and light curve
  bool graph_lines = true;   // "lin": their reference lines
  bool residuals = false;    // "r": residual graph
  bool hits = true;          // "h": every marked pixel in cyan
};

// A composed result picture and the clip it shows.
struct ResultPicture {
  int clip_row = -1;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;  // 3 bytes per pixel, rows from the bottom
};

struct ResultPictureSource {
  const AnalysisContext* context = nullptr;  // analysed: images, detections, stars
  // Context 0's visible-star list, placed with the context's profile.
  const VisibleStars* visible = nullptr;
  const StarCatalogue* catalogue = nullptr;  // for the photometry graph
  bool parallel = false;          // a clip of a parallel run ("h" applies)
  bool parallel_running = false;  // other clips still run: mask-star marks only with "s"
};

// The result picture of an analysed context, as the mask page would show
// it: the analysis mask in place of the mask codes, the background
// (0 .. 255) in place of the still's brightness, the marker image in place
// of the red channel; the detection marks of all detections and the trail
// of the context's current object; the catalogue stars with "s"; the mask
// stars' marks; the graphs by the switches; the optical centre. `bgr` is
// resized to the context's frame (3 bytes per pixel, rows from the bottom).
void ComposeResultPicture(const ResultPictureSource& source, const MaskPageSwitches& switches,
                          std::vector<std::uint8_t>& bgr);

}  // namespace mr4
