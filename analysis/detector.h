// Detection and tracking on one analysis context: the two per-frame
// extractions, the field processing that turns a field into Detection
// records, and the tracker that links them into tracks after the frame
// loop; plus the marks drawn for them into a display picture.
//
// All functions run on the context's run thread; the per-pixel steps use
// the context's band pool. Nothing here allocates: every array lives in the
// context. Sizes in pixels, rows from the bottom.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "analysis/analysis_context.h"

namespace mr4 {

// A change of the whole field's brightness: the median of sample less
// background over a sparse grid of the field's sky pixels (background at
// least kSkyLevel; black borders outside the lens say nothing) is at least
// this many levels away from 0. A meteor, however bright, covers far too
// little of the field to move the median.
inline constexpr double kBrightnessChangeLevels = 1.0;
inline constexpr float kSkyLevel = 4.0f;

// The median shift of the current frame against `background` / `frames`
// (frames >= 1), in levels; 0 when the grid holds too few sky pixels.
double BrightnessShift(const AnalysisContext& c, const float* background, int frames);

// Background phase: converts `source` into the current frame, adds it to
// the background and, once the field counter exceeds interlaced + 1, counts
// the unmasked frame-to-frame increases. A frame whose whole field changed
// brightness against the background so far is taken out again (neither in
// the background nor in the increases); returns false for it.
bool ExtractBackground(AnalysisContext& c, const FrameGeometry& geometry,
                       std::span<const std::uint8_t> source,
                       const YuvTables& tables);
// Detection phase: converts `source` into the current frame and clears the
// labels.
void ExtractDetection(AnalysisContext& c, const FrameGeometry& geometry,
                      std::span<const std::uint8_t> source,
                      const YuvTables& tables);
// Ends the background phase (when frames were accumulated): the noise level
// from the histogram, the background divided by the frame count.
void FinishBackground(AnalysisContext& c);
// One field (parity 0 or 1; always 0 for a progressive frame).
void ProcessField(AnalysisContext& c, int parity);
// Builds the track store from the detection store; `last_field` is the
// last counted field. A track whose every sample lies in a field of a
// whole-field brightness change is not kept: that is light on clouds.
// A meteor seen in other fields too keeps those samples.
void LinkTracks(AnalysisContext& c, int last_field);

// Display picture: 3 bytes per pixel blue, green, red, rows from the
// bottom, W x H.
struct DisplayPicture {
  std::span<std::uint8_t> bgr;
  int width = 0;
  int height = 0;
};
void DrawDetectionMark(DisplayPicture& picture, double x, double y, int object);
// The trail of an object with pixel corners (x1, y1) .. (x2, y2) and class
// `object_class`.
void DrawTrailLine(DisplayPicture& picture, double x1, double y1, double x2,
                   double y2, std::string_view object_class);

}  // namespace mr4
