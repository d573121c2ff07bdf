#include "trajectory/shower_match.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace mr4 {
namespace {

TEST(SouthworthHawkins, SeparatesEachElementAsTheDefinitionSays) {
  const OrbitElements per = {0.95, 0.95, 113.0, 150.0, 139.5};
  struct Case {
    const char* name;
    OrbitElements other;
    double expected;
  };
  const double two_sin_5 = 2.0 * std::sin(5.0 * M_PI / 180.0);
  const Case cases[] = {
      {"same orbit", per, 0.0},
      {"q only", {1.05, 0.95, 113.0, 150.0, 139.5}, 0.1},
      {"e only", {0.95, 0.75, 113.0, 150.0, 139.5}, 0.2},
      {"inclination only, same node", {0.95, 0.95, 123.0, 150.0, 139.5}, two_sin_5},
      {"perihelion only", {0.95, 0.95, 113.0, 160.0, 139.5}, 0.95 * two_sin_5},
      {"perihelion across 0", {0.95, 0.95, 113.0, 150.0 + 360.0, 139.5}, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(SouthworthHawkins(per, c.other), c.expected, 1e-12);
    EXPECT_NEAR(SouthworthHawkins(c.other, per), c.expected, 1e-12);
  }
  // Nodes apart: symmetric, and the same across the 0/360 seam.
  const OrbitElements a = {0.5, 0.7, 20.0, 100.0, 355.0}, b = {0.55, 0.72, 22.0, 104.0, 5.0};
  const OrbitElements b_shifted = {0.55, 0.72, 22.0, 104.0, 365.0};
  EXPECT_NEAR(SouthworthHawkins(a, b), SouthworthHawkins(b, a), 1e-12);
  EXPECT_NEAR(SouthworthHawkins(a, b), SouthworthHawkins(a, b_shifted), 1e-12);
  EXPECT_GT(SouthworthHawkins(a, b), 0.05);
  EXPECT_LT(SouthworthHawkins(a, b), 0.3);
}

TrajectorySolution PerseidLike() {
  TrajectorySolution m;
  m.ok = true;
  m.solar_longitude_deg = 141.4;  // two degrees past the listed one
  m.geo_ra_deg = 49.6;
  m.geo_dec_deg = 58.6;
  m.vg_kms = 58.5;
  m.q_au = 0.95;
  m.e = 0.93;
  m.i_deg = 112.5;
  m.peri_deg = 151.0;
  m.node_deg = 141.4;
  return m;
}

TEST(MatchShower, TakesTheShowerWithinEveryLimit) {
  // Jopek et al. (2003) Perseids and the 2002/06 Geminids (IAU MDC).
  const std::vector<ShowerReference> showers = {
      {"GEM", 261.5, 112.8, 32.1, 1.1, -0.17, 35.0, 250.0, 270.0, 0.136, 0.904, 24.0, 324.6, 261.3},
      {"PER", 139.4, 47.3, 58.2, 1.38, 0.18, 59.0, 120.0, 150.0, 0.948, 0.951, 112.7, 150.3, 139.4},
  };
  struct Case {
    const char* name;
    void (*change)(TrajectorySolution*);
    const char* expected;  // nullptr: none
  };
  const Case cases[] = {
      {"a Perseid", [](TrajectorySolution*) {}, "PER"},
      {"radiant 5 deg off", [](TrajectorySolution* m) { m->geo_dec_deg -= 5.0; }, nullptr},
      {"too slow", [](TrajectorySolution* m) { m->vg_kms = 50.0; }, nullptr},
      {"orbit too far (q)", [](TrajectorySolution* m) { m->q_au = 0.7; }, nullptr},
      {"out of the activity", [](TrajectorySolution* m) { m->solar_longitude_deg = 160.0; }, nullptr},
      {"not solved", [](TrajectorySolution* m) { m->ok = false; }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TrajectorySolution m = PerseidLike();
    c.change(&m);
    const auto match = MatchShower(m, showers);
    if (!c.expected) {
      EXPECT_FALSE(match.has_value()) << match->code;
      continue;
    }
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->code, c.expected);
    EXPECT_LT(match->radiant_distance_deg, 1.0);
    EXPECT_NEAR(match->vg_difference_kms, -0.5, 1e-9);
    EXPECT_LT(match->d_sh, 0.1);
  }
  // A shower without an orbit matches by radiant and speed alone.
  std::vector<ShowerReference> no_orbit = {showers[1]};
  no_orbit[0].q = NAN;
  TrajectorySolution far = PerseidLike();
  far.q_au = 0.7;
  const auto match = MatchShower(far, no_orbit);
  ASSERT_TRUE(match.has_value());
  EXPECT_TRUE(std::isnan(match->d_sh));
}

}  // namespace
}  // namespace mr4
