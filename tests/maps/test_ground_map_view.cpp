// The ground map picture: stations and track ends land at the pixels of the
// raster's gnomonic projection under the zoom and the offsets, the base map
// takes its greys (and its coast in black and white), outlines tint their
// height's channel, and "center" finds the middle of what was drawn.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "maps/ground_map_view.h"
#include "astro/angles.h"

namespace mr4 {
namespace {

using Rgb = std::array<int, 3>;

Rgb At(const GroundMapPicture& p, int x, int y) {  // y from the top
  const std::size_t i = (std::size_t(p.height - 1 - y) * p.width + x) * 3;
  return {p.bgr[i + 2], p.bgr[i + 1], p.bgr[i]};
}

// 200 x 100 pixels about 136 E 34 N, 10 deg to the side edges; all sea
// but what a test paints.
GroundRaster SmallRaster() {
  GroundRaster r;
  r.width = 200;
  r.height = 100;
  r.lon0 = 136.0;
  r.lat0 = 34.0;
  r.half_field = 10.0;
  r.scale = 100 / std::tan(10.0 * kDegToRad);
  r.pixels.assign(200 * 100, 0);
  return r;
}

// Raster position from distance d and azimuth a about the centre:
// x = W/2 + k tan d sin a, y = H/2 - k tan d cos a.
std::array<double, 2> RasterPoint(const GroundRaster& r, double lon, double lat) {
  const double p0 = r.lat0 * kDegToRad, p = lat * kDegToRad;
  const double dl = (lon - r.lon0) * kDegToRad;
  const double d = std::acos(std::sin(p0) * std::sin(p) + std::cos(p0) * std::cos(p) * std::cos(dl));
  const double a = std::atan2(std::sin(dl) * std::cos(p),
                              std::cos(p0) * std::sin(p) - std::sin(p0) * std::cos(p) * std::cos(dl));
  return {r.width / 2.0 + r.scale * std::tan(d) * std::sin(a),
          r.height / 2.0 - r.scale * std::tan(d) * std::cos(a)};
}

GroundMapInput Input(const GroundRaster& r, int w, int h, double zoom) {
  GroundMapInput in;
  in.raster = &r;
  in.width = w;
  in.height = h;
  in.zoom = zoom;
  in.height_on = {false, false, false};
  return in;
}

TEST(GroundMapPicture, StationsAndTrackEndsLandWhereTheProjectionSays) {
  const GroundRaster raster = SmallRaster();
  struct Case {
    const char* what;
    int width, height;
    double zoom, ofh, ofv;
  } cases[] = {
      {"zoom 10: one screen pixel per raster pixel", 200, 100, 10, 0, 0},
      {"zoom 4: 2.5 raster pixels per screen pixel", 80, 40, 4, 0, 0},
      {"offsets move the view", 100, 50, 10, 2.0, -1.0},
      {"zoom 20 with offsets", 120, 60, 20, -0.3, -0.2},
  };
  const double station_lon = 136.4, station_lat = 34.3;
  const double end_lon = 135.2, end_lat = 33.6;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GroundMapInput in = Input(raster, c.width, c.height, c.zoom);
    in.ofh = c.ofh;
    in.ofv = c.ofv;
    GroundTrack t;
    t.lng = station_lon;
    t.lat = station_lat;
    t.lng2 = end_lon;
    t.lat2 = end_lat;
    t.lid = "TKY";
    in.tracks.push_back(t);
    GroundMapPicture p;
    DrawGroundMap(in, p);

    const double u = 10.0 / c.zoom;
    const auto centre = RasterPoint(raster, raster.lon0 + c.ofh, raster.lat0 + c.ofv);
    const int left = std::max(0, int(centre[0] - c.width / 2.0 * u));
    const int top = std::max(0, int(centre[1] - c.height / 2.0 * u));
    auto screen = [&](double lon, double lat) {
      const auto m = RasterPoint(raster, lon, lat);
      return std::array<int, 2>{int(std::floor((m[0] - left) / u)),
                                int(std::floor((m[1] - top) / u))};
    };
    const auto s = screen(station_lon, station_lat);
    const auto e = screen(end_lon, end_lat);
    ASSERT_TRUE(s[0] >= 0 && s[0] < c.width && s[1] >= 0 && s[1] < c.height);
    ASSERT_TRUE(e[0] >= 2 && e[0] < c.width - 2 && e[1] >= 2 && e[1] < c.height - 2);
    EXPECT_EQ(At(p, s[0], s[1]), (Rgb{255, 255, 255}));
    for (auto [dx, dy] : {std::pair{0, 0}, {2, 0}, {-2, 0}, {0, 2}, {0, -2}}) {
      EXPECT_EQ(At(p, e[0] + dx, e[1] + dy), (Rgb{255, 0, 0})) << dx << "," << dy;
    }
    ASSERT_FALSE(p.labels.empty());
    EXPECT_EQ(p.labels[0].text, "TKY");
    EXPECT_EQ(p.labels[0].x, s[0] - 2);
    EXPECT_EQ(p.labels[0].y, s[1] + 4);
  }
}

TEST(GroundMapPicture, BaseMapGreysAndTheCoast) {
  GroundRaster raster = SmallRaster();
  // A 5 x 5 island of value 3 at raster (54..58, 22..26), between the
  // grid lines.
  for (int y = 22; y < 27; ++y) {
    for (int x = 54; x < 59; ++x) raster.pixels[y * 200 + x] = 3;
  }
  GroundMapInput in = Input(raster, 200, 100, 10);
  GroundMapPicture p;
  DrawGroundMap(in, p);
  EXPECT_EQ(At(p, 56, 24), (Rgb{90, 90, 90}));
  EXPECT_EQ(At(p, 45, 24), (Rgb{120, 120, 120}));

  in.bw = true;
  DrawGroundMap(in, p);
  EXPECT_EQ(At(p, 56, 24), (Rgb{250, 250, 250}));  // inland
  EXPECT_EQ(At(p, 54, 22), (Rgb{0, 0, 0}));        // coast
  EXPECT_EQ(At(p, 58, 24), (Rgb{0, 0, 0}));
  EXPECT_EQ(At(p, 45, 24), (Rgb{240, 240, 240}));  // sea
  EXPECT_EQ(At(p, 0, 50), (Rgb{0, 0, 0}));         // the frame
  EXPECT_EQ(At(p, 199, 99), (Rgb{0, 0, 0}));
}

TEST(GroundMapPicture, BeyondTheRasterIsBlue) {
  const GroundRaster raster = SmallRaster();
  // 400 pixels at zoom 10 show 400 raster columns; the raster has 200.
  GroundMapInput in = Input(raster, 400, 100, 10);
  GroundMapPicture p;
  DrawGroundMap(in, p);
  EXPECT_EQ(At(p, 150, 30), (Rgb{120, 120, 120}));
  EXPECT_EQ(At(p, 350, 30), (Rgb{0, 0, 80}));
}

TEST(GroundMapPicture, MarksAreDrawnOnlyWhenSwitchedOn) {
  const GroundRaster raster = SmallRaster();
  const std::vector<AddMapMark> marks{{2, 137.5, 35.5}, {7, 135.0, 33.0}};
  GroundMapInput in = Input(raster, 200, 100, 10);
  in.marks = &marks;
  const auto m = RasterPoint(raster, 137.5, 35.5);
  const int x = int(std::floor(m[0])), y = int(std::floor(m[1]));
  GroundMapPicture p;
  DrawGroundMap(in, p);
  EXPECT_NE(At(p, x + 2, y), (Rgb{0, 0, 0}));
  in.addm = true;
  DrawGroundMap(in, p);
  for (auto [dx, dy] : {std::pair{0, 0}, {2, 0}, {0, -2}, {1, 1}}) {
    EXPECT_EQ(At(p, x + dx, y + dy), (Rgb{0, 0, 0})) << dx << "," << dy;
  }
  EXPECT_NE(At(p, x + 2, y + 2), (Rgb{0, 0, 0}));  // outside the disc
}

TEST(GroundMapPicture, OutlinesTintTheirHeightsChannel) {
  const GroundRaster raster = SmallRaster();
  GroundMapInput in = Input(raster, 200, 100, 10);
  GroundMapProfile prof;
  prof.station = GroundStation{136.0, 34.0, 0.0};
  prof.lid = "L";
  prof.sid = "S";
  prof.memo = "M";
  // A camera looking north at 30 deg whatever the pixel.
  prof.pixel_to_horizontal = [](double, double) { return HorizontalPoint{0.0, 30.0}; };
  prof.samples = {{0, 0}};
  in.profiles.push_back(prof);
  in.height_on = {true, false, false};
  in.heights = {100, 100, 120};
  const SpherePoint g = PixelToGroundPoint(prof.station, prof.pixel_to_horizontal, 0.5, 0.5, 100);
  int x, y;
  GroundMapPicture p;
  DrawGroundMap(in, p);
  ASSERT_TRUE(p.view.ToScreen(g.lon, g.lat, x, y));
  EXPECT_LT(y, 50);  // north of the station
  // The frame centre looks the same way: its black cross covers the point.
  EXPECT_EQ(At(p, x, y), (Rgb{0, 0, 0}));
  // The frame centre looks higher: its ground point lies between the
  // station and the outline's, and the outline's red channel goes half-way
  // to full over what lay there.
  in.profiles[0].pixel_to_horizontal = [](double, double y) {
    return HorizontalPoint{0.0, y < 1 ? 30.0 : 60.0};
  };
  in.profiles[0].centre_x = 0.5;
  in.profiles[0].centre_y = 1.5;
  in.height_on = {false, false, false};
  DrawGroundMap(in, p);
  const Rgb before = At(p, x, y);
  in.height_on = {true, false, false};
  DrawGroundMap(in, p);
  EXPECT_EQ(At(p, x, y), (Rgb{(before[0] + 255) / 2, before[1], before[2]}));
  ASSERT_GE(p.labels.size(), 2u);
  EXPECT_EQ(p.labels[0].text, "100km");
  EXPECT_EQ(p.labels[0].x, 200 - 36);
  EXPECT_EQ(p.labels[0].y, 100 - 36);
  EXPECT_EQ(p.labels[1].text, "L");

  // "center": the middle of the station and its ground point.
  const auto off = CentredOffsets(p, raster, 0, 0);
  EXPECT_NEAR(off[0], (136.0 + g.lon) / 2 - 136.0, 1e-9);
  EXPECT_NEAR(off[1], (34.0 + g.lat) / 2 - 34.0, 1e-9);
}

TEST(GroundMapPicture, OutlineSamples) {
  // Current profile: three rows and three columns, masked pixels skipped.
  std::vector<bool> mask(5 * 3, false);
  mask[0] = true;  // (0, 0)
  auto s = OutlineSamples(5, 3, true, false, 2, &mask);
  EXPECT_EQ(s.size(), 3u * 5 + 3u * 3 - 2);  // (0, 0) is in a row and a column
  // Other profiles: lines + 1 rows and columns, spaced (size - 1) / lines.
  s = OutlineSamples(5, 3, false, false, 4, nullptr);
  EXPECT_EQ(s.size(), 5u * 5 + 5u * 3);
  EXPECT_EQ(s[5 * 4], (std::array<int, 2>{0, 2}));  // the fifth row is the last
  EXPECT_EQ(OutlineSamples(5, 3, false, true, 2, nullptr).size(), 15u);
}

TEST(GroundMapPicture, TrackEndValidity) {
  struct Case {
    double lng2;
    bool valid;
  } cases[] = {{139.0, true}, {0.0, true}, {-0.9998, true}, {-1.0, false},
               {-1.0002, true}, {-359.9, true}, {-360.0, false}, {-999.0, false}};
  for (const Case& c : cases) EXPECT_EQ(TrackEndValid(c.lng2), c.valid) << c.lng2;
}

}  // namespace
}  // namespace mr4
