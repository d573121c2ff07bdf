#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "base/process_values.h"
#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"

namespace mr4 {
namespace {

// Angle between two directions given in degrees, by the atan2 form that
// stays accurate for tiny and large angles. Degrees.
double SeparationDeg(double lon1, double lat1, double lon2, double lat2) {
  double p1[3], p2[3];
  eraS2c(lon1 * kDegToRad, lat1 * kDegToRad, p1);
  eraS2c(lon2 * kDegToRad, lat2 * kDegToRad, p2);
  return eraSepp(p1, p2) * kRadToDeg;
}

// Installs the leap-second list of the real UTC (from eraDat at each month
// start since 1972) for the accuracy checks.
class SkyAgainstErfa : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = App().leap_seconds;
    std::vector<LeapSecondRow> rows;
    double last = 0.0;
    for (int y = 1972; y <= 2099; ++y) {
      for (int m = 1; m <= 12; ++m) {
        double dat = 0.0;
        if (eraDat(y, m, 1, 0.0, &dat) < 0) continue;
        if (dat != last) rows.push_back({y, m, 1, static_cast<int>(dat), 0.0f});
        last = dat;
      }
    }
    App().leap_seconds = BuildLeapSecondList(rows);
  }
  void TearDown() override { App().leap_seconds = saved_; }

  struct Instant {
    int y, mo, d, h, mi;
    float s;
    double utc1, utc2;  // ERFA's two-part UTC
  };
  static Instant RandomInstant(std::mt19937& rng) {
    std::uniform_int_distribution<int> year(1950, 2050), month(1, 12), day(1, 28),
        hour(0, 23), minute(0, 59), second(0, 59);
    Instant t{year(rng), month(rng), day(rng), hour(rng), minute(rng),
              static_cast<float>(second(rng)), 0.0, 0.0};
    // Status 1 ("dubious year") marks the years outside ERFA's UTC table.
    EXPECT_GE(eraDtf2d("UTC", t.y, t.mo, t.d, t.h, t.mi, t.s, &t.utc1, &t.utc2), 0);
    return t;
  }

 private:
  LeapSecondList saved_;
};

struct Site {
  const char* name;
  double lng;  // deg east, 0..360
  double lat;
};
const Site kSites[] = {
    {"Antarctic coast", 77.97, -69.4}, {"Sydney", 151.2, -33.87},
    {"equator", 280.0, 0.0},           {"Mauna Kea", 204.53, 19.82},
    {"Tokyo", 139.7, 35.7},            {"Berlin", 13.4, 52.5},
    {"Tromso", 18.9, 69.65},
};

TEST_F(SkyAgainstErfa, EquatorialToHorizontalAgreesWithAtco13) {
  // Mean place and precession only, against ERFA's full astrometry without
  // refraction: nutation, aberration and the equation of the equinoxes
  // make up the difference.
  constexpr double kBoundDeg = 0.02;
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> ra(0.0, 360.0), sin_dec(-1.0, 1.0);
  double worst = 0.0;
  int compared = 0;
  for (const Site& site : kSites) {
    SCOPED_TRACE(site.name);
    for (int i = 0; i < 3000; ++i) {
      const Instant t = RandomInstant(rng);
      const double r = ra(rng), d = std::asin(sin_dec(rng)) * kRadToDeg;
      double aob, zob, hob, dob, rob, eo;
      ASSERT_GE(eraAtco13(r * kDegToRad, d * kDegToRad, 0, 0, 0, 0, t.utc1, t.utc2, 0,
                          site.lng * kDegToRad, site.lat * kDegToRad, 0, 0, 0, 0, 0, 0,
                          0.55, &aob, &zob, &hob, &dob, &rob, &eo),
                0);
      const double erfa_ev = 90.0 - zob * kRadToDeg;
      if (erfa_ev < 10.0) continue;
      const double lst = LocalSiderealTime(t.y, t.mo, t.d, t.h, t.mi, t.s, 0, site.lng);
      const double mjd_tt = UtcToTtMjd(t.y, t.mo, t.d, t.h, t.mi, t.s);
      const HorizontalPoint ours = EquatorialToHorizontal(mjd_tt, lst, site.lat, r, d);
      const double sep = SeparationDeg(ours.az, ours.ev, aob * kRadToDeg, erfa_ev);
      worst = std::max(worst, sep);
      ++compared;
      ASSERT_LT(sep, kBoundDeg) << t.y << "-" << t.mo << "-" << t.d << " ra " << r
                                << " dec " << d;
    }
  }
  EXPECT_GT(compared, 5000);
  std::printf("EquatorialToHorizontal - eraAtco13: largest %.5f deg (%d points)\n", worst,
              compared);
}

TEST_F(SkyAgainstErfa, HorizontalToEquatorialAgreesWithAtoc13) {
  constexpr double kBoundDeg = 0.02;
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> az(0.0, 360.0), sin_ev(std::sin(10.0 * kDegToRad),
                                                                1.0);
  double worst = 0.0;
  for (const Site& site : kSites) {
    SCOPED_TRACE(site.name);
    for (int i = 0; i < 2000; ++i) {
      const Instant t = RandomInstant(rng);
      const double a = az(rng), e = std::asin(sin_ev(rng)) * kRadToDeg;
      double rc, dc;
      ASSERT_GE(eraAtoc13("A", a * kDegToRad, (90.0 - e) * kDegToRad, t.utc1, t.utc2, 0,
                          site.lng * kDegToRad, site.lat * kDegToRad, 0, 0, 0, 0, 0, 0,
                          0.55, &rc, &dc),
                0);
      const double lst = LocalSiderealTime(t.y, t.mo, t.d, t.h, t.mi, t.s, 0, site.lng);
      const double mjd_tt = UtcToTtMjd(t.y, t.mo, t.d, t.h, t.mi, t.s);
      const EquatorialPoint ours = HorizontalToEquatorial(mjd_tt, lst, site.lat, a, e);
      ASSERT_GE(ours.ra, 0.0);
      ASSERT_LE(ours.ra, 360.0);
      const double sep = SeparationDeg(ours.ra, ours.dec, eraAnp(rc) * kRadToDeg,
                                       dc * kRadToDeg);
      worst = std::max(worst, sep);
      ASSERT_LT(sep, kBoundDeg) << t.y << "-" << t.mo << "-" << t.d << " az " << a
                                << " ev " << e;
    }
  }
  std::printf("HorizontalToEquatorial - eraAtoc13: largest %.5f deg\n", worst);
}

TEST(HorizontalEquatorial, RoundTripsToWithin1e9Degrees) {
  // Includes the prime vertical (azimuth 90 and 270), where the elevation
  // must come from the full horizontal component, and the horizon, zenith
  // and nadir regions.
  struct Row {
    double az, ev;
  };
  std::vector<Row> rows = {{90.0, 30.0},  {270.0, 30.0}, {90.0, 0.0},   {270.0, -45.0},
                           {0.0, 89.9},   {180.0, -89.9}, {359.999, 0.001}, {45.0, 60.0}};
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> az(0.0, 360.0), ev(-89.0, 89.0);
  for (int i = 0; i < 20000; ++i) rows.push_back({az(rng), ev(rng)});
  double worst = 0.0;
  for (double lat : {-89.0, -35.0, 0.0, 35.0, 60.0, 89.0}) {
    for (double mjd : {33282.0, 51544.5, 69807.0}) {
      for (const Row& r : rows) {
        const double lst = std::fmod(r.az * 7.3 + mjd, 360.0);
        const EquatorialPoint q = HorizontalToEquatorial(mjd, lst, lat, r.az, r.ev);
        const HorizontalPoint h = EquatorialToHorizontal(mjd, lst, lat, q.ra, q.dec);
        const double sep = SeparationDeg(h.az, h.ev, r.az, r.ev);
        worst = std::max(worst, sep);
        ASSERT_LT(sep, 1e-9) << "lat " << lat << " az " << r.az << " ev " << r.ev;
        ASSERT_NEAR(h.ev, r.ev, 1e-9) << "lat " << lat << " az " << r.az;
        ASSERT_GE(h.az, 0.0);
        ASSERT_LE(h.az, 360.0);
      }
    }
  }
  std::printf("horizontal -> equatorial -> horizontal: largest %.2e deg\n", worst);
}

TEST(Refraction, KnownValuesAndTableEnds) {
  const double c = kStandardRefractionConstant;
  const RefractionTable t = MakeRefractionTable(c);
  struct Case {
    const char* what;
    double true_ev;
    double apparent;  // expected
    double tolerance;
  };
  const Case cases[] = {
      {"below the lowest table entry: unchanged", -1.0, -1.0, 0.0},
      {"true elevation of the horizon", t.true_ev[0], 0.0, 1e-12},
      {"true elevation of 10 deg apparent", t.true_ev[10], 10.0, 1e-12},
      // 58.3" tan 45 deg = 0.0162 deg, a little less at the apparent place.
      {"45 deg", 45.0, 45.01618, 1e-5},
      {"the zenith: the last table interval", 90.0, 90.0, 1e-12},
      {"above the zenith: extrapolated, finite", 90.5, 90.5, 1e-3},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_NEAR(TrueToApparentElevation(k.true_ev, c), k.apparent, k.tolerance);
  }
  EXPECT_NEAR(t.r[0], 0.5894, 1e-12);
  EXPECT_NEAR(t.r[45], 58.3 / 3600.0, 1e-12);
  EXPECT_EQ(t.r[90], 0.0);
  EXPECT_NEAR(ApparentToTrueElevation(90.0, c), 90.0, 1e-12);
  EXPECT_NEAR(ApparentToTrueElevation(0.0, c), -0.5894, 1e-12);
}

TEST(Refraction, ApparentToTrueUndoesTrueToApparent) {
  for (double constant : {0.0, 30.0, 58.3, 70.0}) {
    const RefractionTable t = MakeRefractionTable(constant);
    for (double a = t.true_ev[0]; a <= 90.0; a += 0.0137) {
      const double apparent = TrueToApparentElevation(a, constant);
      ASSERT_GE(apparent, a) << "constant " << constant;
      ASSERT_NEAR(ApparentToTrueElevation(apparent, constant), a, 1e-12)
          << "constant " << constant << " true " << a;
    }
  }
}

TEST(Refraction, ThreadsWithDifferentConstantsDoNotDisturbEachOther) {
  const double constants[] = {40.0, 58.3, 61.0, 75.0};
  std::vector<std::vector<double>> expected(4);
  for (int k = 0; k < 4; ++k) {
    for (double a = -0.5; a < 90.0; a += 0.5) {
      expected[k].push_back(TrueToApparentElevation(a, constants[k]));
    }
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int round = 0; round < 500; ++round) {
        std::size_t i = 0;
        for (double a = -0.5; a < 90.0; a += 0.5, ++i) {
          // Alternate with another constant so the thread's table changes.
          if (TrueToApparentElevation(a, constants[k]) != expected[k][i]) ++mismatches[k];
          (void)ApparentToTrueElevation(a, constants[(k + 1) % 4]);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(mismatches[k], 0) << "constant " << constants[k];
}

TEST(SphericalRoutines, DistancesAndVertexAngles) {
  EXPECT_EQ(AngularDistance(10.0f, 20.0f, 10.0f, 20.0f), 0.0);
  EXPECT_EQ(AngularDistance(123.4f, -56.7f, 123.4f, -56.7f), 0.0);
  EXPECT_NEAR(AngularDistance(0.0f, 0.0f, 90.0f, 0.0f), kHalfPi, 1e-12);
  EXPECT_NEAR(AngularDistance(0.0f, 90.0f, 37.0f, -90.0f), kPi, 1e-6);

  struct Case {
    const char* what;
    float p[6];
    double angle;  // deg
    double tolerance;
  };
  const Case cases[] = {
      {"P1 on P2", {5, 5, 5, 5, 20, 30}, 180.0, 0.0},
      {"P3 on P2", {20, 30, 5, 5, 5, 5}, 180.0, 0.0},
      {"P1 on P3", {20, 30, 5, 5, 20, 30}, 0.0, 0.0},
      {"all three together", {7, 7, 7, 7, 7, 7}, 180.0, 0.0},
      {"right angle at the origin", {0, 10, 0, 0, 10, 0}, 90.0, 1e-9},
      // acos near -1 of single-precision inputs resolves 180 deg to ~1e-5.
      {"straight line along the equator", {-10, 0, 0, 0, 10, 0}, 180.0, 1e-4},
      // Spherical triangle with two vertices on the equator and the third
      // at the pole: the angle at an equator vertex is 90 deg.
      {"pole triangle", {30, 0, 0, 0, 0, 90}, 90.0, 1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double got = VertexAngle(c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5]);
    EXPECT_FALSE(std::isnan(got));
    EXPECT_NEAR(got, c.angle, c.tolerance);
  }
}

TEST(SphericalRoutines, DestinationsAndBearings) {
  struct Case {
    const char* what;
    double lon, lat, bearing, distance;
    double sky_lon, ground_lon, lat2;  // expected
  };
  const Case cases[] = {
      {"east along the equator", 0, 0, 90, 90, 90, 90, 0},
      {"north to the pole", 10, 0, 0, 90, 10, 10, 90},
      {"west across 0", 10, 0, 270, 30, 340, -20, 0},
      {"east across 180", 170, 0, 90, 20, 190, -170, 0},
      {"from the pole along bearing 0", 0, 90, 0, 30, 0, 0, 60},
      {"zero distance", 123, 45, 77, 0, 123, 123, 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SpherePoint s = SkyDestination(c.lon, c.lat, c.bearing, c.distance);
    const SpherePoint g = GroundDestination(c.lon, c.lat, c.bearing, c.distance);
    EXPECT_NEAR(s.lat, c.lat2, 1e-9);
    EXPECT_NEAR(g.lat, c.lat2, 1e-9);
    if (std::fabs(c.lat2) < 90.0) {
      EXPECT_NEAR(s.lon, c.sky_lon, 1e-9);
      EXPECT_NEAR(g.lon, c.ground_lon, 1e-9);
    }
  }

  // Random arcs: the destination lies at the stated distance, and the
  // bearing measured back from the start is the one given.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> lon(0, 360), lat(-80, 80), bearing(-179, 179),
      dist(0.01, 120);
  for (int i = 0; i < 5000; ++i) {
    const double lo = lon(rng), la = lat(rng), b = bearing(rng), d = dist(rng);
    const SpherePoint p = SkyDestination(lo, la, b, d);
    ASSERT_NEAR(SeparationDeg(lo, la, p.lon, p.lat), d, 1e-8);
    double a = eraPas(lo * kDegToRad, la * kDegToRad, p.lon * kDegToRad, p.lat * kDegToRad);
    ASSERT_NEAR(std::remainder(a * kRadToDeg - b, 360.0), 0.0, 1e-7);
  }

  struct BdCase {
    const char* what;
    double lat1, d_lon, d_lat;
    double bearing, distance, end_bearing;
  };
  const BdCase bd[] = {
      {"east along the equator", 0, 10, 0, 90, 10, 90},
      {"west along the equator", 0, -10, 0, -90, 10, -90},
      {"due north", 20, 0, 5, 0, 5, 180},
      {"no drift at all", 20, 0, 0, 0, 0, 0},
      {"d_lon of -180 counts as east: over the pole", 0, -180, 10, 0, 170, 0},
  };
  for (const BdCase& c : bd) {
    SCOPED_TRACE(c.what);
    const BearingDistance r = BearingAndDistance(c.lat1, c.d_lon, c.d_lat);
    EXPECT_NEAR(r.distance, c.distance, 1e-6);
    EXPECT_FALSE(std::isnan(r.bearing));
    EXPECT_FALSE(std::isnan(r.end_bearing));
    if (c.distance > 0.0 && c.distance < 180.0) {
      EXPECT_NEAR(r.bearing, c.bearing, 1e-6);
    }
  }
  // The bearing agrees with ERFA's position angle.
  for (double lat1 : {-60.0, 0.0, 45.0}) {
    for (double d_lon : {0.5, 20.0, -3.0}) {
      const BearingDistance r = BearingAndDistance(lat1, d_lon, 1.5);
      const double pa = eraPas(0, lat1 * kDegToRad, d_lon * kDegToRad,
                               (lat1 + 1.5) * kDegToRad) * kRadToDeg;
      EXPECT_NEAR(r.bearing, pa, 1e-6) << lat1 << " " << d_lon;
    }
  }
}

TEST(SphericalRoutines, ProjectOntoGreatCircle) {
  struct Case {
    const char* what;
    double pole[3];
    double lon, lat;
    double out_lon, out_lat;
  };
  const double s = std::sqrt(0.5);
  // The circle through both poles and longitudes 90 and 270: the nearest
  // point to (10, 20) is at longitude 90 and tan(lat) = tan 20 / sin 10.
  const double meridian_lat =
      std::atan(std::tan(20 * kDegToRad) / std::sin(10 * kDegToRad)) * kRadToDeg;
  const Case cases[] = {
      {"equator, point in the north", {0, 0, 1}, 40, 30, 40, 0},
      {"equator, point in the south", {0, 0, 1}, 300, -70, 300, 0},
      {"the circle of meridians 90 and 270", {1, 0, 0}, 10, 20, 90, meridian_lat},
      {"tilted circle, point on it", {0, -s, s}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SpherePoint p =
        ProjectOntoGreatCircle(c.pole[0], c.pole[1], c.pole[2], c.lon, c.lat);
    EXPECT_NEAR(p.lon, c.out_lon, 1e-9);
    EXPECT_NEAR(p.lat, c.out_lat, 1e-9);
    // On the circle, and as far from the point as the point is from it.
    double v[3];
    eraS2c(p.lon * kDegToRad, p.lat * kDegToRad, v);
    EXPECT_NEAR(v[0] * c.pole[0] + v[1] * c.pole[1] + v[2] * c.pole[2], 0.0, 1e-12);
    const double to_pole = SeparationDeg(c.lon, c.lat,
                                         std::atan2(c.pole[1], c.pole[0]) * kRadToDeg,
                                         std::asin(c.pole[2]) * kRadToDeg);
    EXPECT_NEAR(SeparationDeg(p.lon, p.lat, c.lon, c.lat), std::fabs(90.0 - to_pole), 1e-9);
  }
  // The pole itself: any point of the circle, but a point of it.
  const SpherePoint p = ProjectOntoGreatCircle(0, 0, 1, 0, 90);
  EXPECT_NEAR(p.lat, 0.0, 1e-12);
}

}  // namespace
}  // namespace mr4
