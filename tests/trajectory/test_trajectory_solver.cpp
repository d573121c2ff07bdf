#include "trajectory/trajectory_solver.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "astro/angles.h"
#include "tests/trajectory/synthetic_meteor.h"

namespace mr4 {
namespace {

using test::ObserveMeteor;
using test::ObservedTrack;
using test::StationAt;
using test::SyntheticMeteor;
using test::SyntheticStation;

double AngleDeg(double ra1, double dec1, double ra2, double dec2) {
  const double r1 = ra1 * kDegToRad, d1 = dec1 * kDegToRad;
  const double r2 = ra2 * kDegToRad, d2 = dec2 * kDegToRad;
  const double c = std::sin(d1) * std::sin(d2) + std::cos(d1) * std::cos(d2) * std::cos(r1 - r2);
  return ClampedAcos(c) * kRadToDeg;
}

// 2026-08-12 23:00 UTC over central Europe.
constexpr double kNight = 61264.0 + 23.0 / 24.0;

// A meteor from the radiant at azimuth `az` and elevation `ev` (deg) above
// the begin point (lat, lng).
SyntheticMeteor Meteor(double az, double ev, double v, double lat = 50.0, double lng = 15.0) {
  SyntheticMeteor m;
  m.mjd_utc = kNight;
  m.begin_lat_deg = lat;
  m.begin_lng_deg = lng;
  m.v_kms = v;
  test::SetRadiantFromHorizon(&m, az, ev);
  return m;
}

std::vector<SyntheticStation> Pair(double bearing1, double d1, double bearing2, double d2,
                                   double lat = 50.0, double lng = 15.0) {
  std::vector<SyntheticStation> s = {StationAt("A_1", lat, lng, bearing1, d1),
                                     StationAt("B_1", lat, lng, bearing2, d2)};
  s[0].first_frame_s = 0.0;
  return s;
}

struct GeometryCase {
  const char* name;
  SyntheticMeteor meteor;
  std::vector<SyntheticStation> stations;
};

void ExpectRecovered(const GeometryCase& c, const TrajectorySolution& sol, const ObservedTrack& track,
                     double radiant_tol_deg, double v_tol, double h_tol) {
  ASSERT_TRUE(sol.ok) << sol.failure;
  EXPECT_LT(AngleDeg(sol.radiant_ra_deg, sol.radiant_dec_deg, c.meteor.radiant_ra_deg,
                     c.meteor.radiant_dec_deg),
            radiant_tol_deg)
      << "radiant " << sol.radiant_ra_deg << " " << sol.radiant_dec_deg;
  EXPECT_NEAR(sol.v_init_kms, c.meteor.v_kms, v_tol);
  EXPECT_NEAR(sol.begin_height_km, track.begin_height_km, h_tol);
  EXPECT_NEAR(sol.end_height_km, track.end_height_km, h_tol);
}

// Noise-free sights: the solution is the path that made them.
TEST(SolveTrajectory, RecoversNoiseFreeGeometries) {
  const GeometryCase cases[] = {
      {"steep and fast, stations either side", Meteor(40.0, 60.0, 59.0), Pair(0.0, 50.0, 180.0, 45.0)},
      {"slow, low radiant", Meteor(300.0, 15.0, 15.0), Pair(90.0, 60.0, 300.0, 70.0)},
      {"fastest, near the zenith", Meteor(330.0, 85.0, 71.0), Pair(45.0, 40.0, 200.0, 80.0)},
      {"stations on one side", Meteor(100.0, 35.0, 35.0), Pair(200.0, 30.0, 250.0, 90.0)},
      {"southern hemisphere", Meteor(170.0, 45.0, 25.0, -33.0, 151.0),
       Pair(10.0, 60.0, 120.0, 60.0, -33.0, 151.0)},
      {"across the date line", Meteor(90.0, 40.0, 40.0, 10.0, 179.9), Pair(0.0, 50.0, 200.0, 50.0, 10.0, 179.9)},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937_64 rng(1);
    ObservedTrack track;
    const auto sights = ObserveMeteor(c.meteor, c.stations, rng, &track);
    TrajectoryOptions options;
    options.monte_carlo_runs = 0;
    const TrajectorySolution sol = SolveTrajectory(sights, options);
    ExpectRecovered(c, sol, track, 1e-4, 1e-3, 0.005);
    if (!sol.ok) continue;
    EXPECT_LT(sol.rms_residual_arcsec, 0.05);
    EXPECT_NEAR(sol.station_time_offset_s[1], 0.0, 1e-4);
    EXPECT_EQ(sol.decel_a, 0.0);
    EXPECT_EQ(sol.points.size(), sights[0].samples.size() + sights[1].samples.size());
  }
}

TEST(SolveTrajectory, RecoversDecelerationAndClockOffsets) {
  struct Case {
    const char* name;
    double decel_a, decel_b;
    std::vector<double> clock_errors;
  };
  const Case cases[] = {
      {"constant speed, second clock 0.3 s late", 0.0, 0.0, {0.0, 0.3}},
      {"decelerating", 0.02, 3.0, {0.0, 0.0}},
      {"decelerating, three stations, clocks off", 0.02, 3.0, {0.0, -0.25, 0.12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticMeteor m = Meteor(250.0, 40.0, 25.0);
    m.decel_a = c.decel_a;
    m.decel_b = c.decel_b;
    m.end_height_km = 70.0;
    auto stations = Pair(20.0, 60.0, 160.0, 55.0);
    if (c.clock_errors.size() == 3) stations.push_back(StationAt("C_1", 50.0, 15.0, 270.0, 80.0));
    for (size_t i = 0; i < stations.size(); ++i) stations[i].clock_error_s = c.clock_errors[i];
    std::mt19937_64 rng(1);
    ObservedTrack track;
    const auto sights = ObserveMeteor(m, stations, rng, &track);
    TrajectoryOptions options;
    options.monte_carlo_runs = 0;
    const TrajectorySolution sol = SolveTrajectory(sights, options);
    ExpectRecovered({c.name, m, stations}, sol, track, 1e-4, 1e-3, 0.005);
    if (!sol.ok) continue;
    ASSERT_EQ(sol.station_time_offset_s.size(), stations.size());
    for (size_t i = 1; i < stations.size(); ++i)
      EXPECT_NEAR(sol.station_time_offset_s[i], -c.clock_errors[i], 1e-4) << "station " << i;
    if (c.decel_a > 0.0) {
      EXPECT_NEAR(sol.decel_b, c.decel_b, 1e-3);
      EXPECT_NEAR(sol.decel_a, c.decel_a * std::exp(c.decel_b * track.begin_t), 1e-4);
    } else {
      EXPECT_EQ(sol.decel_a, 0.0);
    }
  }
}

// Sights of arc-minute noise: the Monte Carlo's spread covers the error.
TEST(SolveTrajectory, UncertaintiesMatchTheScatterOfNoisySolutions) {
  SyntheticMeteor m = Meteor(40.0, 60.0, 59.0);
  auto stations = Pair(0.0, 50.0, 120.0, 45.0);
  for (auto& s : stations) s.noise_arcsec = 60.0;
  std::mt19937_64 rng(7);
  const auto sights = ObserveMeteor(m, stations, rng);
  const TrajectorySolution sol = SolveTrajectory(sights);
  ASSERT_TRUE(sol.ok) << sol.failure;
  EXPECT_GT(sol.rms_residual_arcsec, 40.0);
  EXPECT_LT(sol.rms_residual_arcsec, 120.0);
  EXPECT_GT(sol.sigma_radiant_deg, 0.0);
  EXPECT_LT(sol.sigma_radiant_deg, 1.0);
  EXPECT_GT(sol.sigma_v_init_kms, 0.0);
  EXPECT_GT(sol.sigma_vg_kms, 0.0);
  EXPECT_GT(sol.sigma_begin_height_km, 0.0);
  EXPECT_LT(AngleDeg(sol.radiant_ra_deg, sol.radiant_dec_deg, m.radiant_ra_deg, m.radiant_dec_deg),
            4.0 * sol.sigma_radiant_deg);
  EXPECT_NEAR(sol.v_init_kms, m.v_kms, 4.0 * sol.sigma_v_init_kms);
}

TEST(SolveTrajectory, RefusesWhatCannotBeSolved) {
  std::mt19937_64 rng(1);
  const SyntheticMeteor m = Meteor(100.0, 45.0, 35.0);
  const auto good = ObserveMeteor(m, Pair(0.0, 50.0, 180.0, 45.0), rng);
  auto few = good;
  few[1].samples.resize(2);
  auto backwards = good;
  std::swap(backwards[1].samples[0].t_s, backwards[1].samples[1].t_s);
  auto nan = good;
  nan[0].samples[3].ra_deg = std::nan("");
  auto same_place = good;
  same_place[1].lat_deg = same_place[0].lat_deg;
  same_place[1].lng_deg = same_place[0].lng_deg;
  struct Case {
    const char* name;
    std::vector<StationSight> stations;
    std::string failure_starts;
  };
  const Case cases[] = {
      {"one station", {good[0]}, "at least two stations are needed"},
      {"too few frames", few, "B_1 has 2 frames; at least 3 are needed"},
      {"times not rising", backwards, "B_1: frame times do not rise at frame 2"},
      {"not finite", nan, "A_1: frame 4 is not finite"},
      {"one place", same_place, "A_1 and B_1 stand at the same place"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TrajectorySolution sol = SolveTrajectory(c.stations);
    EXPECT_FALSE(sol.ok);
    EXPECT_EQ(sol.failure.substr(0, c.failure_starts.size()), c.failure_starts) << sol.failure;
  }
}

TEST(SolveTrajectory, RefusesParallelPlanes) {
  // Stations on the path's ground track both see it in its vertical plane.
  const SyntheticMeteor m = Meteor(100.0, 45.0, 35.0);
  std::mt19937_64 rng(1);
  const auto sights = ObserveMeteor(m, Pair(100.0, 40.0, 280.0, 30.0), rng);
  const TrajectorySolution sol = SolveTrajectory(sights);
  EXPECT_FALSE(sol.ok);
  EXPECT_EQ(sol.failure.substr(0, 41), "the stations' planes are nearly parallel ") << sol.failure;
  const auto x = IntersectPlanes(sights[0], sights[1]);
  if (x) {
    EXPECT_LT(x->convergence_deg, 1.0);
  }
  EXPECT_FALSE(IntersectPlanes(sights[0], sights[0]).has_value());
}

TEST(IntersectPlanes, GivesTheRadiantAndHeightsOfEachStation) {
  const SyntheticMeteor m = Meteor(40.0, 60.0, 59.0);
  std::mt19937_64 rng(1);
  ObservedTrack track;
  auto stations = Pair(0.0, 50.0, 180.0, 45.0);
  stations[1].first_frame_s = 0.0;
  const auto sights = ObserveMeteor(m, stations, rng, &track);
  const auto x = IntersectPlanes(sights[0], sights[1]);
  ASSERT_TRUE(x.has_value());
  EXPECT_LT(AngleDeg(x->radiant_ra_deg, x->radiant_dec_deg, m.radiant_ra_deg, m.radiant_dec_deg), 1e-4);
  EXPECT_GT(x->convergence_deg, 20.0);
  EXPECT_NEAR(x->begin_height_a_km, track.begin_height_km, 0.005);
  EXPECT_NEAR(x->begin_height_b_km, track.begin_height_km, 0.005);
  EXPECT_NEAR(x->end_height_a_km, track.end_height_km, 0.005);
  EXPECT_NEAR(x->end_height_b_km, track.end_height_km, 0.005);
  EXPECT_GT(x->range_a_km, 50.0);
}

}  // namespace
}  // namespace mr4
