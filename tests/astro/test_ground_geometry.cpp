#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "astro/angles.h"
#include "astro/ground_geometry.h"

namespace mr4 {
namespace {

TEST(EarthDistances, RadiusGroundAndChordDistances) {
  EXPECT_NEAR(EarthRadiusKm(0.0), 6378.14, 1e-9);
  EXPECT_NEAR(EarthRadiusKm(90.0), 6356.75, 0.01);  // the polar radius
  EXPECT_NEAR(EarthRadiusKm(-45.0), EarthRadiusKm(45.0), 1e-12);

  struct Case {
    const char* what;
    double lon1, lat1, lon2, lat2;
    double km;  // expected
    double tolerance;
  };
  const Case cases[] = {
      {"one point", 136.5, 34.7, 136.5, 34.7, 0.0, 0.0},
      {"one degree along the equator", 0, 0, 1, 0, 6378.14 * kDegToRad, 1e-9},
      {"equator to pole", 20, 0, 20, 90, 6378.14 * kHalfPi, 1e-9},
      {"antipodes", 0, 0, 180, 0, 6378.14 * kPi, 1e-9},
      {"radius taken at lat1", 0, 60, 0, 61, EarthRadiusKm(60) * kDegToRad, 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double got = GroundDistanceKm(c.lon1, c.lat1, c.lon2, c.lat2);
    EXPECT_FALSE(std::isnan(got));
    EXPECT_NEAR(got, c.km, c.tolerance);
  }

  // Chords between surface points of the WGS84 ellipsoid, from ERFA's
  // geodetic-to-geocentric conversion.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> lon(-180, 180), lat(-89.9, 89.9), step(-3, 3);
  for (int i = 0; i < 2000; ++i) {
    const double lo1 = lon(rng), la1 = lat(rng);
    const double lo2 = lo1 + step(rng), la2 = std::clamp(la1 + step(rng), -90.0, 90.0);
    double p1[3], p2[3];
    ASSERT_EQ(eraGd2gc(1, lo1 * kDegToRad, la1 * kDegToRad, 0.0, p1), 0);
    ASSERT_EQ(eraGd2gc(1, lo2 * kDegToRad, la2 * kDegToRad, 0.0, p2), 0);
    const double expected =
        std::sqrt((p1[0] - p2[0]) * (p1[0] - p2[0]) + (p1[1] - p2[1]) * (p1[1] - p2[1]) +
                  (p1[2] - p2[2]) * (p1[2] - p2[2])) / 1000.0;
    ASSERT_NEAR(ChordDistanceKm(lo1, la1, lo2, la2), expected, 1e-6);
  }
  EXPECT_EQ(ChordDistanceKm(10, 20, 10, 20), 0.0);
}

TEST(GroundRangeAtHeight, MatchesTheTriangleThroughTheEarthsCentre) {
  // In the triangle centre - station - target the angle at the station is
  // 90 + elevation; by the sine rule the central angle is
  // 90 - elevation - asin(l cos(elevation) / (l + d)).
  struct Case {
    double lat, station_m, elevation, height_km;
  };
  const Case cases[] = {
      {35, 0, 90, 100},  {35, 0, 45, 100},    {35, 0, 10, 80},  {0, 1500, 0, 120},
      {60, 30, -1, 100}, {-33, 200, 20, 90},  {70, 0, 5, 100},  {0, 0, 89.9, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lat " << c.lat << " station " << c.station_m
                                    << " m, elevation " << c.elevation << ", height "
                                    << c.height_km);
    const double l = EarthRadiusKm(c.lat) + c.station_m / 1000.0;
    const double d = c.height_km - c.station_m / 1000.0;
    const double e = c.elevation * kDegToRad;
    const double v = kHalfPi - e - std::asin(l * std::cos(e) / (l + d));
    const GroundRange r = GroundRangeAtHeight(c.lat, c.station_m, c.elevation, c.height_km);
    EXPECT_FALSE(std::isnan(r.range_km));
    EXPECT_NEAR(r.central_angle_deg, v * kRadToDeg, 1e-6);
    EXPECT_NEAR(r.range_km, v * l, 1e-3);
  }
  // Straight up the ground range is 0 at every height.
  for (double h : {0.001, 80.0, 100.0, 120.0, 1000.0}) {
    const GroundRange r = GroundRangeAtHeight(35.0, 50.0, 90.0, h);
    EXPECT_NEAR(r.range_km, 0.0, 1e-3) << h;
    EXPECT_FALSE(std::isnan(r.central_angle_deg));
  }
}

TEST(PixelToGroundPoint, FollowsTheLineOfSightOfThePixel) {
  const GroundStation station{0.0, 0.0, 0.0};
  double seen_x = -1, seen_y = -1;
  const PixelToHorizontalFn east_at_45 = [&](double x, double y) {
    seen_x = x;
    seen_y = y;
    return HorizontalPoint{90.0, 45.0};
  };
  const SpherePoint p = PixelToGroundPoint(station, east_at_45, 12.5, 7.5, 100.0);
  EXPECT_EQ(seen_x, 12.5);
  EXPECT_EQ(seen_y, 7.5);
  const double angle = GroundRangeAtHeight(0.0, 0.0, 45.0, 100.0).central_angle_deg;
  EXPECT_NEAR(p.lon, angle, 1e-9);  // due east along the equator
  EXPECT_NEAR(p.lat, 0.0, 1e-9);

  // West of a station near 180 deg east the longitude stays in -180..180.
  const GroundStation pacific{179.5, 10.0, 100.0};
  const PixelToHorizontalFn east_low = [](double, double) {
    return HorizontalPoint{90.0, 5.0};
  };
  const SpherePoint q = PixelToGroundPoint(pacific, east_low, 0, 0, 100.0);
  EXPECT_LT(q.lon, -170.0);
  EXPECT_GE(q.lon, -180.0);
}

TEST(BearingIntersection, CrossingsAndRefusals) {
  // Stations 0.5 km apart are too close.
  const double half_km = 0.5 / EarthRadiusKm(35.0) * kRadToDeg;
  BearingCrossing c = BearingIntersection(136.0, 35.0, 10.0, 136.0, 35.0 + half_km, 200.0);
  EXPECT_EQ(c.lon, -1.0);
  EXPECT_EQ(c.lat, -1.0);
  EXPECT_EQ(c.distance_km, -1.0);

  // Both bearings along one great circle: no crossing.
  c = BearingIntersection(0.0, 0.0, 90.0, 10.0, 0.0, 90.0);
  EXPECT_EQ(c.lon, -1.0);
  EXPECT_EQ(c.distance_km, -1.0);

  // Symmetric crossing: from (0, 0) at 45 deg and from (2, 0) at 315 deg the
  // circles meet above lon 1, where a circle leaving the equator at 45 deg
  // has tan(lat) = sin(lon).
  c = BearingIntersection(0.0, 0.0, 45.0, 2.0, 0.0, 315.0);
  const double lat = std::atan(std::sin(1.0 * kDegToRad)) * kRadToDeg;
  EXPECT_NEAR(c.lon, 1.0, 1e-9);
  EXPECT_NEAR(c.lat, lat, 1e-9);
  EXPECT_NEAR(c.distance_km, GroundDistanceKm(0.0, 0.0, 1.0, lat), 1e-6);

  // The crossing on station 2's side, west of 180 deg given as negative.
  c = BearingIntersection(179.0, 0.0, 45.0, -179.0, 0.0, 315.0);
  EXPECT_NEAR(std::remainder(c.lon - 180.0, 360.0), 0.0, 1e-9);  // +180 or -180
  EXPECT_NEAR(c.lat, lat, 1e-9);
  c = BearingIntersection(-179.5, 10.0, 0.0, -178.0, 10.5, 270.0);
  EXPECT_LT(c.lon, 0.0);
  EXPECT_NEAR(c.lon, -179.5, 1e-9);
}

TEST(RadiantAtSolarLongitude, MovesLinearlyByTheDailyDrift) {
  constexpr double kDaysPerDegree = 1.0 / 0.9856262833675564;
  struct Case {
    const char* what;
    ShowerRadiant shower;
    double solar_longitude;
    double ra, dec;  // expected
  };
  const Case cases[] = {
      {"no drift", {140.0, 48.0, 58.0, 0.0, 0.0}, 113.0, 48.0, 58.0},
      {"both drifts negative, 27 deg before the peak", {140.0, 48.0, 58.0, -0.2, -0.1},
       113.0, 48.0 + 0.2 * 27 * kDaysPerDegree, 58.0 + 0.1 * 27 * kDaysPerDegree},
      {"both drifts negative, 2 deg after the peak", {140.0, 48.0, 58.0, -0.2, -0.1},
       142.0, 48.0 - 0.2 * 2 * kDaysPerDegree, 58.0 - 0.1 * 2 * kDaysPerDegree},
      {"2 deg after the peak, drift in ra only", {140.0, 48.0, 58.0, 1.0, 0.0}, 142.0,
       48.0 + 2 * kDaysPerDegree, 58.0},
      {"across solar longitude 0", {359.5, 100.0, 20.0, 1.0, 0.5}, 1.5,
       100.0 + 2 * kDaysPerDegree, 20.0 + 1.0 * kDaysPerDegree},
      {"ra across 360", {10.0, 359.0, 0.0, 1.0, 0.0}, 12.0, 2 * kDaysPerDegree - 1.0, 0.0},
      // The Perseids, 27 deg before the peak: the catalogue's linear drift.
      {"Perseids", {140.0, 48.0, 58.0, 1.35, 0.12}, 113.0, 48.0 - 1.35 * 27 * kDaysPerDegree,
       58.0 - 0.12 * 27 * kDaysPerDegree},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const EquatorialPoint p = RadiantAtSolarLongitude(c.shower, c.solar_longitude);
    EXPECT_NEAR(p.ra, c.ra, 1e-9);
    EXPECT_NEAR(p.dec, c.dec, 1e-9);
  }
}

TEST(GroundMap, ProjectionAndItsInverse) {
  GroundMapProjection map;
  map.width = 1600;
  map.height = 1200;
  map.lon0 = 136.0;
  map.lat0 = 34.0;
  map.scale = GroundMapScale(map.width, 16.0);
  EXPECT_NEAR(map.scale, 800.0 / std::tan(16.0 * kDegToRad), 1e-12);

  struct Case {
    const char* what;
    double lon, lat;
    double x, y;  // expected
    bool inside;
  };
  const Case cases[] = {
      {"the centre", 136.0, 34.0, 800, 600, true},
      {"more than 90 deg from the centre", 136.0 + 180.0, -20.0, 800, 600, true},
      {"the antipode", 136.0 - 180.0, -34.0, 800, 600, true},
      {"far outside the raster", 136.0 + 60.0, 34.0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MapPoint p = ProjectToMap(map, c.lon, c.lat);
    EXPECT_EQ(p.inside, c.inside);
    if (c.inside) {
      EXPECT_EQ(p.x, c.x);
      EXPECT_EQ(p.y, c.y);
    }
  }
  // North is up (smaller y), east to the right.
  EXPECT_LT(ProjectToMap(map, 136.0, 35.0).y, 600.0);
  EXPECT_GT(ProjectToMap(map, 137.0, 34.0).x, 800.0);

  const SpherePoint centre = MapToGround(map, 800, 600);
  EXPECT_NEAR(centre.lon, 136.0, 1e-9);
  EXPECT_NEAR(centre.lat, 34.0, 1e-9);

  // Every pixel comes back to itself through the ground.
  for (const double lon0 : {136.0, -75.0, 178.0}) {
    map.lon0 = lon0;
    // From the first pixel inside the border (the border pixels come back
    // to within rounding of the raster's edge, on either side of it).
    for (int y = 1; y < map.height; y += 37) {
      for (int x = 1; x < map.width; x += 41) {
        if (std::abs(x - 800) < 2 && std::abs(y - 600) < 2) continue;
        const SpherePoint g = MapToGround(map, x, y);
        const MapPoint p = ProjectToMap(map, g.lon, g.lat);
        ASSERT_TRUE(p.inside) << lon0 << " " << x << "," << y;
        ASSERT_NEAR(p.x, x, 1e-6) << lon0 << " " << x << "," << y;
        ASSERT_NEAR(p.y, y, 1e-6) << lon0 << " " << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace mr4
