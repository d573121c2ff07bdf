// The clip view's display picture and readout, without any window: the
// picture is composed from the current frame or the clip's still with the
// switched-on overlays drawn per pixel (3 bytes per pixel blue, green, red,
// rows from the bottom, as every picture buffer of the system), the readout
// texts come from the camera model, and the click list grows by the points
// the user marks. The View page converts the picture once per redraw for
// the screen; everything it shows is decided here.
//
// Runs on the thread that owns the profile, the context and the buffers
// (the user-interface thread for the View page).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/detector.h"
#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "clips/clicks_file.h"
#include "platform/image_codecs.h"
#include "tables/table.h"

namespace mr4 {

// The pixel plotting colours 0 .. 8.
struct PlotColour {
  std::uint8_t blue = 0, green = 0, red = 0;
};
PlotColour PlotColourOf(int index);

// Sets pixel (x, y) (y from the bottom) when it lies inside the picture.
void PutPixel(DisplayPicture& picture, int x, int y, PlotColour colour);
// Plots a point at pixel (trunc(x + 0.5), trunc(y + 0.5)).
void PlotPoint(DisplayPicture& picture, double x, double y, PlotColour colour);

// The built-in 5 x 9 pixel font (characters 32 to 126; others are drawn as
// blanks). A character cell is 6 pixels wide (5 and a gap) and 9 high;
// `scale` 2 doubles every pixel. Text rows count from the top of the
// picture: `top` is the cell's first row.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 9;
inline constexpr int kGlyphAdvance = 6;
// Row r (0 = top) of the glyph of `c`: bit 4 is the leftmost column.
std::uint8_t GlyphRow(char c, int r);
void DrawText(DisplayPicture& picture, int left, int top, std::string_view text,
              PlotColour colour, int scale = 1);

// The overlay switches of the page (settings "AP.v_*" and "save click").
struct ViewSwitches {
  bool hit = true;         // "Hit"
  bool area = false;       // "Area"
  bool star_mask = false;  // "SM"
  bool azev = false;       // "Az"
  bool radec = false;      // "Ra"
  bool stars = false;      // "S"
  bool trail = false;      // "O"
  bool clicks = false;     // "save click"
};

// The selected object's trail (pixel corners and class), drawn by "Hit"
// on an analysed clip.
struct ViewTrail {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  std::string object_class;
};

struct ViewPictureSource {
  // The frame or the still shown, width x height pixels; an empty span
  // (or a size of 0) gives a black picture of that size.
  std::span<const std::uint8_t> picture;
  int width = 0;
  int height = 0;
  // The clip's still and mask pictures; overlays that need one are left
  // out when it is missing or of another size.
  const ImageBuffer* still = nullptr;
  const ImageBuffer* mask = nullptr;
  bool analysed = false;  // the clip has a result
  std::optional<ViewTrail> trail;
  // Grids and stars; nothing of them without a profile.
  const CameraProfile* profile = nullptr;
  // "S": context 0's visible stars, refreshed for the profile as drawn.
  VisibleStars* visible = nullptr;
  // "O": the detections and the field counter of the context; the
  // replay's frame number; the last field of the clip
  // (`frames` x (1 + `interlaced`) - 1).
  const AnalysisContext* context = nullptr;
  int frame_number = 0;
  int last_field = 0;
  const std::vector<Click>* clicks = nullptr;
};

// Colours of the texts and marks drawn over the picture.
inline constexpr PlotColour kViewTextColour{0, 80, 255};
inline constexpr PlotColour kClickNumberColour{0, 160, 255};
inline constexpr PlotColour kHitBoxColour{0, 0, 255};
// Rows (from the top) of the "O" texts.
inline constexpr int kFrameTextRow = 40;
inline constexpr int kDetectionTextRow = 70;
inline constexpr int kDetectionTextStep = 20;

// Composes the display picture into `bgr` (resized to width x height x 3).
void ComposeViewPicture(const ViewPictureSource& source, const ViewSwitches& switches,
                        std::vector<std::uint8_t>& bgr);

// The single overlays, each drawing into `picture` (exposed for the tests
// and the mask page's grids).
void DrawAzimuthGrid(const CameraProfile& profile, DisplayPicture& picture);
void DrawEquatorialGrid(const CameraProfile& profile, DisplayPicture& picture);
void DrawClickMark(DisplayPicture& picture, double x, double y, int number);

// The readout of image pixel (x, y) whose displayed blue value is `blue`.
struct ViewReadout {
  HorizontalPoint horizontal;
  EquatorialPoint equatorial;
  double magnitude = 0;
  double distance_km = 0;            // to height `height_km` on the line of sight
  double absolute_magnitude = 0;
  std::string first;                 // pixel, az/ev, ra/dec lines
  std::string second;                // distance, or the armed click mode
};
ViewReadout ReadoutAt(const CameraProfile& profile, int x, int y, int blue, double height_km,
                      int click_mode);

// The distance [km] from the station (`alt` + `gioidh` [m] above the
// ellipsoid at `lat`) along elevation `ev` [deg] to height `height_km`.
double DistanceToHeight(double lat, double station_height_m, double ev, double height_km);

// The click of image pixel (x, y) with its directions.
Click ClickAt(const CameraProfile& profile, double x, double y);
inline constexpr char kTooManyClicks[] = "Too many clicks";
// Appends the click unless the list already holds kMaxClicks - 1 entries
// (false then).
bool AppendClick(std::vector<Click>& clicks, const Click& click);

// An object end point placed by a click: writes the click's x, y, az, ev,
// ra, dec and `height_km` into end `end` (1: x1 .. dc1, h1; 2: x2 .. dc2,
// h2) of object row `object_row`, then that end's ground point
// (GroundPoint) for the station of clip row `clip_row`.
void SetObjectEndPoint(const Table& clips, int clip_row, Table& objects, int object_row, int end,
                       const Click& click, float height_km);

// The "Height Setting" dialog's work: heights `h1` and `h2` [km] into
// object row `object_row`, the ground points of both ends for the station
// of clip row `clip_row` (GroundPoint), and the lines it shows for them:
// "lng=%.4f lat=%.4f, D=%.1fkm, GD=%.1fkm " for point 1 and the same with
// " (ev@1 = %.1f)" for point 2, the entry angle asin((h1 - h2) / len) in
// degrees (0 when `len` is not above 1).
struct HeightTexts {
  std::string point1;
  std::string point2;
};
HeightTexts ApplyObjectHeights(const Table& clips, int clip_row, Table& objects, int object_row,
                               float h1, float h2);

// Ctrl with "||<" / ">||": the profile's `dxoffset` moves by `delta`; when
// clip row `clip_row` has a result file ("<directory>/<clip name>A.XML",
// its result flag in `MT`) the file's attribute `dxoffset` takes the new
// value, the rest of the file unchanged. False (said) when that file
// cannot be read or written or has no such attribute; the profile keeps
// the new value all the same.
bool ChangeDxoffset(CameraProfile& profile, const Table& clips, int clip_row, int delta);

}  // namespace mr4
