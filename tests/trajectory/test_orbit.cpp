#include "trajectory/orbit.h"

#include <cmath>

#include <gtest/gtest.h>

#include "astro/angles.h"

namespace mr4 {
namespace {

Vector3 Unit(double ra_deg, double dec_deg) {
  const double ra = ra_deg * kDegToRad, dec = dec_deg * kDegToRad;
  return {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
}
double Dot(const Vector3& a, const Vector3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// The incoming asymptote of the geocentric hyperbola through (r, v), from
// the two-body elements: the direction of the velocity at true anomaly
// -acos(-1/e) is P + sqrt(e^2 - 1) Q in the perifocal axes.
Vector3 IncomingAsymptote(const Vector3& r, const Vector3& v) {
  const double mu = kEarthGm;
  const double rn = std::sqrt(Dot(r, r));
  const Vector3 h = Cross(r, v);
  const Vector3 vxh = Cross(v, h);
  Vector3 e;
  for (int k = 0; k < 3; ++k) e[k] = vxh[k] / mu - r[k] / rn;
  const double en = std::sqrt(Dot(e, e));
  const double hn = std::sqrt(Dot(h, h));
  Vector3 p, q;
  for (int k = 0; k < 3; ++k) p[k] = e[k] / en;
  const Vector3 hq = Cross(h, p);
  for (int k = 0; k < 3; ++k) q[k] = hq[k] / hn;
  Vector3 d;
  const double s = std::sqrt(en * en - 1.0);
  for (int k = 0; k < 3; ++k) d[k] = p[k] + s * q[k];
  const double dn = std::sqrt(Dot(d, d));
  for (int k = 0; k < 3; ++k) d[k] /= dn;
  return d;
}

// Zenith attraction against the exact two-body hyperbola it stands for.
TEST(RemoveEarthAttraction, MatchesTheTwoBodyAsymptote) {
  struct Case {
    double v_kms, zenith_distance_deg;
  };
  const Case cases[] = {{11.5, 45.0}, {12.0, 80.0}, {20.0, 0.0}, {20.0, 30.0},
                        {40.0, 60.0}, {71.0, 89.0}, {15.0, 120.0}};
  const Vector3 position = {6471.0 * 0.6, 6471.0 * 0.0, 6471.0 * 0.8};  // 100 km up
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "v " << c.v_kms << " z " << c.zenith_distance_deg);
    // Radiant at zenith distance z in the vertical towards +y.
    const double z = c.zenith_distance_deg * kDegToRad;
    const Vector3 radiant = {0.6 * std::cos(z), std::sin(z), 0.8 * std::cos(z)};
    const Vector3 velocity = {-c.v_kms * radiant[0], -c.v_kms * radiant[1], -c.v_kms * radiant[2]};
    GeocentricRadiant g;
    ASSERT_TRUE(RemoveEarthAttraction(position, velocity, &g));
    EXPECT_NEAR(g.vg_kms, std::sqrt(c.v_kms * c.v_kms - 2.0 * kEarthGm / 6471.0), 1e-12);
    const Vector3 got = Unit(g.ra_deg, g.dec_deg);
    if (c.zenith_distance_deg == 0.0) {
      EXPECT_NEAR(Dot(got, radiant), 1.0, 1e-12);
      continue;
    }
    const Vector3 a = IncomingAsymptote(position, velocity);
    const Vector3 expected = {-a[0], -a[1], -a[2]};
    EXPECT_LT(ClampedAcos(Dot(got, expected)) * kRadToDeg, 1e-5)
        << "shift " << g.zenith_shift_deg;
    EXPECT_GT(g.zenith_shift_deg, 0.0);
  }
}

TEST(RemoveEarthAttraction, RefusesSpeedsBelowEscape) {
  GeocentricRadiant g;
  EXPECT_FALSE(RemoveEarthAttraction({6471.0, 0.0, 0.0}, {-11.0, 0.0, 0.0}, &g));
}

// The day of a solar longitude in 2026 (TT MJD), by the Sun's mean motion.
double MjdOfSolarLongitude(double longitude_deg) {
  double mjd = 61040.0;  // 2026-01-01
  for (int i = 0; i < 8; ++i)
    mjd += Wrap180(longitude_deg - SolarLongitudeAt(mjd)) / 0.98560028;
  return mjd;
}

// Published mean orbits of the IAU MDC lists (data/iau-mdc), computed again
// from their published geocentric radiant and speed at their solar
// longitude. A mean orbit is not quite the orbit of the mean radiant, hence
// the tolerances.
TEST(OrbitFromGeocentricRadiant, ReproducesPublishedShowerOrbits) {
  struct Case {
    const char* name;
    double los, ra, dec, vg;
    double a, q, e, peri, node, inc;
    double tol_a_rel, tol_q, tol_e, tol_angle;
  };
  const Case cases[] = {
      // streamfulldata-wmpl.csv line 24 (GEM, 2002/06), 50 (PER, Jopek et al.
      // 2003), 59 (ORI, 2002/08).
      {"Geminids", 261.5, 112.8, 32.1, 35.0, 1.416, 0.136, 0.904, 324.6, 261.3, 24.0, 0.05, 0.01, 0.01, 1.0},
      {"Perseids", 139.4, 47.3, 58.2, 59.0, NAN, 0.948, 0.951, 150.3, 139.4, 112.7, NAN, 0.01, 0.02, 1.0},
      {"Orionids", 207.5, 94.7, 15.5, 66.4, 9.71, 0.597, 0.9385, 80.1, 27.0, 163.6, 0.5, 0.02, 0.02, 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double mjd = MjdOfSolarLongitude(c.los);
    EXPECT_NEAR(SolarLongitudeAt(mjd), c.los, 1e-6);
    const HeliocentricOrbit o = OrbitFromGeocentricRadiant(mjd, c.ra, c.dec, c.vg);
    EXPECT_NEAR(o.solar_longitude_deg, c.los, 1e-6);
    if (!std::isnan(c.tol_a_rel)) {
      EXPECT_NEAR(o.a_au, c.a, c.tol_a_rel * c.a);
    }
    EXPECT_NEAR(o.q_au, c.q, c.tol_q);
    EXPECT_NEAR(o.e, c.e, c.tol_e);
    EXPECT_NEAR(Wrap180(o.peri_deg - c.peri), 0.0, c.tol_angle);
    EXPECT_NEAR(Wrap180(o.node_deg - c.node), 0.0, c.tol_angle);
    EXPECT_NEAR(o.i_deg, c.inc, c.tol_angle);
    EXPECT_GT(o.vh_kms, 0.0);
  }
}

// A meteoroid at rest relative to the Earth moves with it: Earth's orbit.
TEST(OrbitFromGeocentricRadiant, ZeroSpeedGivesEarthsOrbit) {
  const HeliocentricOrbit o = OrbitFromGeocentricRadiant(61264.0, 0.0, 0.0, 0.0);
  EXPECT_NEAR(o.a_au, 1.0, 0.02);
  EXPECT_NEAR(o.e, 0.0167, 0.005);
  EXPECT_LT(o.i_deg, 0.01);
  EXPECT_NEAR(o.vh_kms, 29.8, 0.6);
}

}  // namespace
}  // namespace mr4
