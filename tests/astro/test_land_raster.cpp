// Making base maps: the projection of polygon vertices, the rasterised land
// against the polygons, and the DAT bytes as the ground-map reader takes
// them back.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "maps/ground_map.h"
#include "astro/angles.h"
#include "astro/ground_geometry.h"
#include "astro/land_raster.h"
#include "astro/sky_coordinates.h"
#include "base/shipped_data.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

// The ground point at tangent-plane position (X, Y) (east, north, in units
// of the tangent) about the centre (0, 0): a gnomonic square's corners.
SpherePoint PlanePoint(double X, double Y) {
  return {std::atan(X) * kRadToDeg, std::atan2(Y, std::sqrt(1.0 + X * X)) * kRadToDeg};
}

// The ring whose projection is the rectangle x0..x1, y0..y1 [px] on a map
// of `g` centred at (0, 0).
LandRing PixelRectangle(const BaseMapGeometry& g, double x0, double y0, double x1,
                        double y1) {
  const double k = GroundMapScale(g.width, g.half_field);
  const auto at = [&](double x, double y) {
    return PlanePoint((x - g.width * 0.5) / k, (g.height * 0.5 - y) / k);
  };
  return {at(x0, y0), at(x1, y0), at(x1, y1), at(x0, y1)};
}

TEST(BaseMapProjection, VerticesLieWhereDistanceAndAzimuthPutThem) {
  const BaseMapGeometry g{400, 300, 136.0, 34.0, 16.0};
  const double k = (400 / 2) / std::tan(16.0 * kDegToRad);
  struct Case {
    double lon, lat;
  };
  for (const Case c : {Case{136.0, 34.0}, Case{140.5, 36.2}, Case{128.0, 30.0},
                       Case{136.0, 44.0}, Case{150.0, 20.0}}) {
    const double b0 = 34.0 * kDegToRad, b = c.lat * kDegToRad;
    const double dl = (c.lon - 136.0) * kDegToRad;
    const double d = std::acos(std::sin(b0) * std::sin(b) +
                               std::cos(b0) * std::cos(b) * std::cos(dl));
    const double a = std::atan2(std::sin(dl) * std::cos(b),
                                std::cos(b0) * std::sin(b) -
                                    std::sin(b0) * std::cos(b) * std::cos(dl));
    const MapPoint p = ProjectOnBaseMap(g, c.lon, c.lat);
    ASSERT_TRUE(p.inside);
    EXPECT_NEAR(p.x, 200 + k * std::tan(d) * std::sin(a), 1e-6) << c.lon << "," << c.lat;
    EXPECT_NEAR(p.y, 150 - k * std::tan(d) * std::cos(a), 1e-6) << c.lon << "," << c.lat;
    // The reader's projection agrees.
    const MapPoint q = ProjectToMap(BaseMapProjection(g), c.lon, c.lat);
    EXPECT_NEAR(p.x, q.x, 1e-6);
    EXPECT_NEAR(p.y, q.y, 1e-6);
  }
  EXPECT_FALSE(ProjectOnBaseMap(g, 136.0 + 180.0, -34.0).inside);
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (const int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(BaseMapFile, ASquareGivesItsRunsAndTheHeader) {
  const BaseMapGeometry g{20, 12, 0.0, 0.0, 10.0};
  // Pixel centres 5.5 .. 14.5 across and 3.5 .. 8.5 down are inside, and a
  // square hole covering columns 9 and 10 of rows 5 and 6.
  const std::vector<LandRing> rings = {PixelRectangle(g, 5.2, 3.2, 14.8, 8.8),
                                       PixelRectangle(g, 8.7, 4.9, 11.2, 7.1)};
  const std::vector<std::uint8_t> pixels = RasteriseLand(g, rings);
  std::string bytes;
  std::string error;
  ASSERT_TRUE(EncodeBaseMap(g, pixels, &bytes, &error)) << error;

  std::string expected =
      std::string("Tessarox      20,      12,       0,       0,  100000,       0,       0,"
                  "       0") +
      '\0';
  ASSERT_EQ(expected.size(), 80u);
  const std::string sea = Bytes({0x08, 0x13});  // 20 sea pixels
  const std::string square = Bytes({0x04, 0x18, 0x09, 0x04});  // 5 sea, 10 land, 5 sea
  const std::string holed = Bytes({0x04, 0x13, 0x01, 0x13, 0x04});  // 5, 4, 2, 4, 5
  for (int r = 0; r < 12; ++r) {
    expected += r < 3 || r > 8 ? sea : (r == 5 || r == 6) ? holed : square;
  }
  EXPECT_EQ(bytes, expected);

  // Centre, field and values in the header of a map away from the origin.
  const BaseMapGeometry h = StoredGeometry({2, 1, -71.123456, -33.44444, 16.00004});
  ASSERT_TRUE(EncodeBaseMap(h, {3, 15}, &bytes, &error)) << error;
  EXPECT_EQ(bytes, std::string("Tessarox       2,       1, -711235, -334444,  160000,       0,"
                               "       0,       0") +
                       '\0' + Bytes({0x30, 0xF0}));
}

TEST(BaseMapFile, TheReaderTakesBackWhatIsWritten) {
  // Rows longer than the longest run, short and long runs of all values.
  const BaseMapGeometry g = StoredGeometry({5000, 4, 139.5, 35.25, 12.3456});
  std::vector<std::uint8_t> pixels(5000 * 4, 0);
  for (int c = 0; c < 5000; ++c) {
    pixels[5000 + c] = static_cast<std::uint8_t>((c / 3) % 16);
    pixels[2 * 5000 + c] = c < 4100 ? 7 : 15;
    pixels[3 * 5000 + c] = static_cast<std::uint8_t>((c * 7919) % 13 == 0 ? 1 : 0);
  }
  std::string bytes;
  std::string error;
  ASSERT_TRUE(EncodeBaseMap(g, pixels, &bytes, &error)) << error;
  test::TempDir dir;
  test::WriteFileBytes(dir / "m.DAT", bytes);
  GroundRaster r;
  ASSERT_EQ(LoadGroundMap(dir / "m.DAT", r), 1);
  EXPECT_EQ(r.width, 5000);
  EXPECT_EQ(r.height, 4);
  EXPECT_DOUBLE_EQ(r.lon0, 139.5);
  EXPECT_DOUBLE_EQ(r.lat0, 35.25);
  EXPECT_DOUBLE_EQ(r.half_field, 12.3456);
  EXPECT_DOUBLE_EQ(r.scale, BaseMapProjection(g).scale);
  EXPECT_EQ(r.pixels, pixels);
}

TEST(BaseMapFile, RefusesWhatTheFormatCannotHold) {
  struct Case {
    const char* what;
    int width, height;
    bool alternate;  // every other pixel land: one byte per pixel
    bool ok;
  };
  const Case cases[] = {
      {"a row of 7199 bytes", 7199, 1, true, true},
      {"a row of 7200 bytes", 7200, 1, true, false},
      {"the widest map", 8192, 1, false, true},
      {"too wide", 8193, 1, false, false},
      {"too high", 1, 4321, false, false},
      {"empty", 0, 0, false, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(c.width) * c.height, 0);
    if (c.alternate) {
      for (std::size_t i = 1; i < pixels.size(); i += 2) pixels[i] = 1;
    }
    std::string bytes, error;
    EXPECT_EQ(EncodeBaseMap({c.width, c.height, 0.0, 0.0, 10.0}, pixels, &bytes, &error),
              c.ok)
        << c.what;
    EXPECT_EQ(error.empty(), c.ok) << c.what;
  }
  std::string bytes, error;
  EXPECT_FALSE(EncodeBaseMap({2, 1, 0.0, 0.0, 10.0}, {0, 16}, &bytes, &error));
}

// Distance from (px, py) to the segment a-b.
double SegmentDistance(double px, double py, const MapPoint& a, const MapPoint& b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0.0;
  t = std::fmax(0.0, std::fmin(1.0, t));
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST(LandRaster, TheCoastLiesWithinOnePixelOfThePolygon) {
  // An island of 3 degrees radius north-east of the centre, its outline in
  // the reader's projection.
  const BaseMapGeometry g{120, 90, 136.0, 34.0, 8.0};
  LandRing island;
  for (int i = 0; i < 36; ++i) {
    const SpherePoint p = SkyDestination(139.0, 36.0, i * 10.0, 3.0);
    island.push_back(p);
  }
  const std::vector<std::uint8_t> pixels = RasteriseLand(g, {island});
  const GroundMapProjection proj = BaseMapProjection(g);
  std::vector<MapPoint> outline;
  for (const SpherePoint& p : island) outline.push_back(ProjectToMap(proj, p.lon, p.lat));
  const auto coast_distance = [&](double x, double y) {
    double best = 1e9;
    for (std::size_t i = 0; i < outline.size(); ++i) {
      best = std::fmin(best, SegmentDistance(x, y, outline[i],
                                             outline[(i + 1) % outline.size()]));
    }
    return best;
  };
  int land = 0, coast = 0;
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) {
      const std::uint8_t v = pixels[static_cast<std::size_t>(y) * g.width + x];
      land += v;
      const bool edge = (x + 1 < g.width && pixels[y * g.width + x + 1] != v) ||
                        (y + 1 < g.height && pixels[(y + 1) * g.width + x] != v);
      if (!edge) continue;
      ++coast;
      EXPECT_LE(coast_distance(x + 0.5, y + 0.5), 1.0) << x << "," << y;
    }
  }
  EXPECT_GT(coast, 20);
  // A pixel whose centre lies inside the projected centre of the island.
  const MapPoint middle = ProjectToMap(proj, 139.0, 36.0);
  EXPECT_EQ(pixels[static_cast<int>(middle.y) * g.width + static_cast<int>(middle.x)], 1);
  EXPECT_EQ(pixels[0], 0);
  EXPECT_GT(land, 100);
}

TEST(LandRaster, RingsPastTheHorizon) {
  // Rings about the centre (0, 0) whose vertices reach far behind the
  // horizon: only their visible edges and the state of the west horizon
  // point decide the pixels, so nothing folds back onto the map.
  const BaseMapGeometry g{40, 40, 0.0, 0.0, 20.0};
  LandRing band;  // 5 degrees either side of the equator, 150 W to 150 E
  for (int lon = -150; lon <= 150; lon += 5) band.push_back({double(lon), 5.0});
  for (int lon = 150; lon >= -150; lon -= 5) band.push_back({double(lon), -5.0});
  // Everything south of 10 N, closed along 180 and the pole as the land
  // polygons are: the ring leaves the map at the east horizon and comes
  // back at the west one.
  LandRing south;
  for (int lon = -180; lon <= 180; lon += 5) south.push_back({double(lon), 10.0});
  south.push_back({180.0, -90.0});
  south.push_back({-180.0, -90.0});
  LandRing north_sea = south;  // the same ring seen from the other side
  for (SpherePoint& p : north_sea) p.lat = -p.lat;
  struct Case {
    const char* what;
    LandRing ring;
    bool (*land)(double lat);
  };
  const Case cases[] = {
      {"band", band, [](double lat) { return std::fabs(lat) < 5.0; }},
      {"south of 10 N", south, [](double lat) { return lat < 10.0; }},
      {"north of 10 S", north_sea, [](double lat) { return lat > -10.0; }},
  };
  const double k = BaseMapProjection(g).scale;
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> pixels = RasteriseLand(g, {c.ring});
    int wrong = 0;
    for (int y = 0; y < g.height; ++y) {
      for (int x = 0; x < g.width; ++x) {
        const SpherePoint p = PlanePoint((x + 0.5 - 20) / k, (20 - (y + 0.5)) / k);
        // Pixels near the coast are not checked.
        if (std::fabs(std::fabs(p.lat) - 5.0) < 0.5 ||
            std::fabs(std::fabs(p.lat) - 10.0) < 0.5) {
          continue;
        }
        wrong += pixels[y * g.width + x] != (c.land(p.lat) ? 1 : 0);
      }
    }
    EXPECT_EQ(wrong, 0) << c.what;
  }
}

TEST(ShippedBaseMap, LoadsWithLandWhereLandIs) {
  GroundRaster r;
  ASSERT_EQ(LoadGroundMap(ShippedDataDirectory() / "GMe136n34_16.DAT", r), 1);
  EXPECT_EQ(r.width, 4096);
  EXPECT_EQ(r.height, 3072);
  EXPECT_DOUBLE_EQ(r.lon0, 136.0);
  EXPECT_DOUBLE_EQ(r.lat0, 34.0);
  EXPECT_DOUBLE_EQ(r.half_field, 16.0);
  struct Case {
    const char* what;
    double lon, lat;
    int value;
  };
  const Case cases[] = {
      {"Kyoto", 135.77, 35.01, 1},       {"Sapporo", 141.35, 43.06, 1},
      {"Seoul", 126.98, 37.57, 1},       {"Shanghai", 121.47, 31.23, 1},
      {"Pacific", 145.0, 30.0, 0},       {"Sea of Japan", 134.0, 39.0, 0},
  };
  for (const Case& c : cases) {
    const MapPoint p = ProjectToMap(r.projection(), c.lon, c.lat);
    ASSERT_TRUE(p.inside) << c.what;
    EXPECT_EQ(r.at(static_cast<int>(p.x), static_cast<int>(p.y)), c.value) << c.what;
  }
}

}  // namespace
}  // namespace mr4
