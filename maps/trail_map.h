// The trail map: a gnomonic star chart about a chosen centre with the grid,
// the catalogue stars, the ecliptic with the apex and anti-helion points,
// the switched-on objects' trails with their backward extensions towards
// their possible radiants, and the showers' radiants with their
// association circles, drawn per pixel into a picture buffer (3 bytes per
// pixel blue, green, red, rows from the bottom, as every picture of the
// system). The Trail Map page fills the inputs from the settings and the
// tables and converts the picture for the screen; everything the chart
// shows is decided here.
//
// Chart coordinates are reference units (the chart's pixels divided by the
// layout scales), origin at the lower left. Pure functions of their
// arguments; the caller owns the tables for the time of a call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/detector.h"
#include "analysis/view_picture.h"
#include "astro/angles.h"
#include "calib/star_catalogue.h"
#include "tables/table.h"

namespace mr4 {

// The chart's size and scales, and its view parameters.
struct ChartFrame {
  int width = 0;   // [px]
  int height = 0;  // [px]
  // Layout scales [px per unit]; the chart maps both axes with the
  // vertical one, so that it is not stretched.
  double horizontal = 1.0;
  double vertical = 1.0;
  double ra = 120.0;  // centre [deg]
  double dec = 30.0;
  double rot = 0.0;     // [deg]
  double scale = 120.0;  // height of the chart [deg]
};

// The gnomonic projection of a chart frame.
class ChartProjection {
 public:
  explicit ChartProjection(const ChartFrame& frame);

  struct Point {
    double x = 0;  // [units]
    double y = 0;
    bool drawable = false;  // less than 90 deg from the centre
  };
  Point SkyToChart(double ra, double dec) const;
  // Right ascension in 0..360.
  EquatorialPoint ChartToSky(double x, double y) const;
  // The picture pixel (y from the bottom) of a chart point.
  int PixelX(double x) const;
  int PixelY(double y) const;

  double centre_x() const { return centre_x_; }
  double centre_y() const { return centre_y_; }
  // Chart extent [units].
  double width_units() const { return width_units_; }
  double height_units() const { return height_units_; }
  const ChartFrame& frame() const { return frame_; }

 private:
  ChartFrame frame_;
  double dec0_ = 0;  // the centre, the pole for a centre within 0.1 deg of it
  double k_ = 1;      // [units per tan d]
  double centre_x_ = 0, centre_y_ = 0;
  double width_units_ = 0, height_units_ = 0;
};

// The civil instant and station of the chart's clip.
struct ChartClip {
  bool present = false;  // a clip is current (its name is written)
  std::string name;
  int year = 2000, month = 1, day = 1, hour = 12, minute = 0;
  float second = 0;
  int tz = 0;  // zone offset [s]
  double lng = 0, lat = 0;  // station [deg]
};

struct TrailMapInput {
  ChartFrame frame;
  double mag = 3.5;  // limiting magnitude of the stars
  int days = 0;      // "+d"
  bool showers = false, peak = true, axes = true, ecliptic = true, stars = true;
  bool black_on_white = false, text = true;
  bool velocity_limit = false;
  double vglim = 40;     // [km/s]
  double ddays = 10;     // activity margin [days]
  double circle = 3.0;   // association circle factor
  double bvf = -0.3;     // profile colour term
  ChartClip clip;
  const StarCatalogue* catalogue = nullptr;
  const Table* objects = nullptr;  // OBJ
  const Table* showers_table = nullptr;
  // The shower rows listed (1 and up are drawn), in the list's order; when
  // empty every existing shower row whose "*" is set.
  std::vector<int> shower_rows;
  int selected_shower = -1;
  int current_object = -1;
  std::optional<std::pair<double, double>> marker;  // chart point [units]
};

// The chart date's solar longitude: the clip's plus `days` x 360 / 365.25,
// in 0..360.
double ChartSolarLongitude(const ChartClip& clip, int days);

// Renders the chart into `bgr` (resized to width x height x 3).
void DrawTrailMap(const TrailMapInput& input, std::vector<std::uint8_t>& bgr);

// The pixel pattern of `size` (1: a pixel, 2: a 2 x 2 square, 3..6
// crosses, 7..10 squares, 11..14 rings, growing) at pixel (x, y).
void DrawSizePattern(DisplayPicture& picture, int x, int y, int size, PlotColour colour);

// The status line text of the pointer over chart point (x, y).
std::string ChartReadout(const ChartProjection& projection, double x, double y);

}  // namespace mr4
