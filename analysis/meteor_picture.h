// The meteor picture of an analysed clip: what an observer looks at first.
// On the left the clip's peak-hold still with the catalogue stars of the
// field (through the clip's own camera), every object's fitted trail and its
// detections; on the right the light curve of one object (magnitude against
// seconds from its first sample, axes with ticks and labels in the 5 x 9
// font). The drawing is one picture buffer (3 bytes per pixel blue, green,
// red, rows from the bottom), as every picture of the system; the caller
// writes it (WritePng). The layout and colours are in
// docs/notes/meteor-picture.md.
//
// Runs on the thread that owns the context whose track store it fills
// (context 0 and the user-interface thread, or a command's main thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/view_picture.h"
#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "platform/image_codecs.h"

namespace mr4 {

// Colours of the marks (blue, green, red).
inline constexpr PlotColour kMeteorStarColour{255, 200, 0};
inline constexpr PlotColour kMeteorTrailColour{0, 255, 0};
inline constexpr PlotColour kMeteorOtherTrailColour{0, 130, 0};
inline constexpr PlotColour kMeteorCurvePointColour{0, 255, 255};
inline constexpr PlotColour kMeteorCurveLineColour{0, 120, 120};
inline constexpr PlotColour kMeteorAxisColour{170, 170, 170};
inline constexpr PlotColour kMeteorTextColour{230, 230, 230};
// The light-curve panel right of the still [px]; the picture is at least
// kMeteorPanelMinHeight high.
inline constexpr int kMeteorPanelWidth = 420;
inline constexpr int kMeteorPanelMinHeight = 300;

// One object of the clip: its fitted trail (pixel corners, y from the
// bottom) and its samples (track k of the store is the k-th object).
struct MeteorObject {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  std::string object_class;
  double magnitude = 0;  // the object row's peak magnitude
};

struct MeteorPictureSource {
  // The still (any size; a missing still gives a black frame of the
  // profile's size).
  const ImageBuffer* still = nullptr;
  const CameraProfile* profile = nullptr;       // the clip's camera and instant
  const StarCatalogue* catalogue = nullptr;     // stars not drawn when null
  const AnalysisContext* trail = nullptr;       // the clip's samples
  std::vector<MeteorObject> objects;            // in chain order
  int selected = 0;                             // index into `objects`: the light curve's
  double field_rate = 29.97;                    // fields per second
  std::string caption;                          // the panel's first line (clip name)
};

// Where the light curve's plot area lies (picture columns, rows from the
// top) and what its edges stand for.
struct LightCurveFrame {
  int left = 0, right = 0, top = 0, bottom = 0;
  double t_first = 0, t_last = 1;      // seconds at the left and right edge
  double mag_top = 0, mag_bottom = 1;  // magnitude at the top (bright) and bottom
};

struct MeteorPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;  // rows from the bottom
  int still_width = 0;            // the still occupies columns 0 .. still_width - 1
  int still_height = 0;           // and the top still_height rows
  LightCurveFrame curve;
};

void DrawMeteorPicture(const MeteorPictureSource& source, MeteorPicture& picture);

// A tick step for an axis spanning `span` units with about `ticks` ticks:
// 1, 2, 2.5 or 5 times a power of ten.
double AxisTickStep(double span, int ticks);

// The clip's peak-hold still (P.BMP, else P.JPG) as the scan met it;
// empty when it has none.
std::filesystem::path PeakHoldStillPath(int clip_row);

enum class MeteorPictureStatus {
  kReady,
  kNoResult,     // the clip has no result file
  kUnreadable,   // the result file cannot be read (said)
  kNoObject,     // the clip has no objects, or none of the number asked for
};

// What the meteor picture of one clip is drawn from; `source.still` is
// left for the caller to set.
struct ClipMeteor {
  MeteorPictureSource source;
  std::unique_ptr<CameraProfile> profile;  // the clip's, `source.profile`
  int object_count = 0;
};

// Reads clip row `clip_row`'s result file into `c`'s track store and fills
// `meteor` from it and from the clip's rows and camera: object `object`
// (1 = the chain's first) in the light curve, or with 0 the brightest
// object not classed as a non-meteor (the brightest of all when every one
// is). `object_count` is set whenever the result could be read.
MeteorPictureStatus ReadClipMeteor(int clip_row, int object, AnalysisContext& c,
                                   ClipMeteor& meteor);

}  // namespace mr4
