// The ground map picture: the base map around the stations with the
// latitude/longitude grid, the additional marks, the stations' fields of
// view projected onto the ground at the outline heights and the ground
// tracks of the switched-on objects, drawn per pixel into a picture buffer
// (3 bytes per pixel blue, green, red, rows from the bottom, as every
// picture of the system), plus the text labels drawn over it. The Ground
// Map page fills the inputs from the settings, the profiles and the
// tables; everything the map shows is decided here.
//
// Pure functions of their arguments.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "maps/ground_map.h"
#include "astro/ground_geometry.h"

namespace mr4 {

inline constexpr int kGroundPictureMaxWidth = 8192;
inline constexpr int kGroundPictureMaxHeight = 4320;
inline constexpr int kGroundMaxLabels = 1000;
inline constexpr int kGroundLabelMaxChars = 261;
// The outline height used for the frame centre when none is switched on.
inline constexpr double kGroundCentreFallbackKm = 100.0;

// The base map drawn when none is loaded: an all-sea raster of this size
// and half field about the current station.
inline constexpr int kEmptyMapWidth = 4096;
inline constexpr int kEmptyMapHeight = 2160;
inline constexpr double kEmptyMapHalfField = 16.0;
GroundRaster EmptyGroundRaster(double lon, double lat);

// A profile whose field of view is outlined.
struct GroundMapProfile {
  GroundStation station;
  std::string lid, sid, memo;
  PixelToHorizontalFn pixel_to_horizontal;
  // The frame pixels sampled (pixel corners; the centre is +0.5).
  std::vector<std::array<int, 2>> samples;
  double centre_x = 0.0, centre_y = 0.0;  // frame centre [px]
};

// The frame pixels whose lines of sight outline a field of view of
// `width` x `height` pixels: with `fill` every pixel; for the current
// profile three rows and three columns (first, middle, last), skipping
// the pixels `masked` marks; for other profiles `lines` + 1 rows and
// columns spaced (size - 1) / `lines`.
std::vector<std::array<int, 2>> OutlineSamples(int width, int height, bool current,
                                               bool fill, int lines,
                                               const std::vector<bool>* masked);

// A switched-on object's ground track.
struct GroundTrack {
  double lng = 0.0, lat = 0.0;  // its clip's station
  double lng1 = -999.0, lat1 = 0.0;  // start point; lng1 <= -360: none
  double lng2 = -999.0, lat2 = 0.0;  // end point
  std::string lid;
  bool current = false;
};
// "lng2" holds an end point: above -0.9999, or below -1.0001 and above -360.
bool TrackEndValid(double lng2);

struct GroundMapInput {
  const GroundRaster* raster = nullptr;
  const std::vector<AddMapMark>* marks = nullptr;
  int width = 0, height = 0;  // picture [px]
  double zoom = 4.0;
  double ofh = 0.0, ofv = 0.0;  // view centre from the raster centre [deg]
  bool bw = false, text = true, addm = false, fill = false;
  std::array<double, 3> heights{80.0, 100.0, 120.0};  // h0 h1 h2 [km]
  std::array<bool, 3> height_on{false, true, false};
  std::vector<GroundMapProfile> profiles;  // the first gets the legend
  std::vector<GroundTrack> tracks;
  std::string caption;  // at (10, height - 12)
};

struct GroundMapLabel {
  int x = 0, y = 0;  // from the picture's top left
  bool white = true;
  std::string text;
};

// The view transform: map pixels per screen pixel and the view's top-left
// raster pixel.
struct GroundView {
  double u = 2.5;
  int left = 0, top = 0;
  GroundMapProjection projection;
  // Screen position (x right, y down, whole pixels) of a ground point;
  // false for a point 90 deg or more from the raster centre.
  bool ToScreen(double lon, double lat, int& x, int& y) const;
};
GroundView ComputeGroundView(const GroundRaster& raster, int width, int height,
                             double zoom, double ofh, double ofv);

struct GroundMapPicture {
  std::vector<std::uint8_t> bgr;  // width x height x 3, rows bottom-up
  int width = 0, height = 0;
  std::vector<GroundMapLabel> labels;
  GroundView view;
  // The extent of every station, ground point and track point drawn.
  bool any = false;
  double min_lon = 0, max_lon = 0, min_lat = 0, max_lat = 0;
};

void DrawGroundMap(const GroundMapInput& input, GroundMapPicture& picture);

// Draws the labels into the picture with the built-in font (all black in
// black-and-white mode), as the screen shows them.
void BurnGroundLabels(GroundMapPicture& picture, bool bw);

// The offsets that centre the view on what the picture drew; the current
// ones when it drew nothing.
std::array<double, 2> CentredOffsets(const GroundMapPicture& picture,
                                     const GroundRaster& raster, double ofh, double ofv);

}  // namespace mr4
