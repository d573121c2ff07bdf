#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>

#include "astro/angles.h"
#include "astro/sun.h"

namespace mr4 {
namespace {

// Geometric geocentric longitude of the Sun on the J2000 ecliptic from
// ERFA: minus the heliocentric Earth of eraEpv00 (BCRS), rotated by
// eraEcm06 to the mean ecliptic and equinox of J2000. Degrees.
double ErfaSunLongitudeDeg(double jd) {
  double pvh[2][3], pvb[2][3], rm[3][3], ecl[3];
  eraEpv00(jd, 0.0, pvh, pvb);
  eraEcm06(2451545.0, 0.0, rm);  // J2000.0
  double sun[3] = {-pvh[0][0], -pvh[0][1], -pvh[0][2]};
  eraRxp(rm, sun, ecl);
  return std::atan2(ecl[1], ecl[0]) * kRadToDeg;
}

double WrappedDifferenceDeg(double a, double b) { return std::remainder(a - b, 360.0); }

TEST(SunLongitude, AgreesWithErfaFrom1950To2050) {
  // Every 0.7 days over the century, so that every orbital phase and
  // planetary configuration is sampled. The bound is the aim of 0.0005 deg
  // (the abridged series is good to about 1 arc second); a lost or wrong
  // term of the series shows up far above it.
  constexpr double kBoundDeg = 0.0005;
  double worst = 0.0, worst_jd = 0.0;
  for (double jd = 2433282.5; jd <= 2469807.5; jd += 0.7) {
    const double ours = SunLongitude(jd);
    ASSERT_GE(ours, 0.0);
    ASSERT_LT(ours, kTwoPi);
    const double d =
        std::fabs(WrappedDifferenceDeg(ours * kRadToDeg, ErfaSunLongitudeDeg(jd)));
    if (d > worst) {
      worst = d;
      worst_jd = jd;
    }
  }
  EXPECT_LT(worst, kBoundDeg) << "at JD " << worst_jd;
  std::printf("SunLongitude - ERFA: largest %.6f deg (%.2f arcsec) at JD %.1f\n",
              worst, worst * 3600.0, worst_jd);
}

TEST(EclipticPointToEquatorial, FollowsTheEclipticWithTheObliquityOfTheDate) {
  // The point of the ecliptic at offset o from the Sun: dec = asin(sin eps
  // sin c), ra = atan2(cos eps sin c, cos c), with eps the obliquity of the
  // date, here from ERFA's IAU 1980 expression (Newcomb's, re-expressed).
  struct Case {
    double jd;
    double offset;
  };
  const Case cases[] = {
      {2451545.0, 0.0},   {2459021.4056, 0.0}, {2459021.4056, 90.0},
      {2435000.5, 180.0}, {2466000.5, 0.0},    {2440000.5, 90.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "jd " << c.jd << " offset " << c.offset);
    const double lon = (SunLongitude(c.jd) * kRadToDeg - c.offset) * kDegToRad;
    const double eps = eraObl80(c.jd, 0.0);
    const double ra = std::atan2(std::cos(eps) * std::sin(lon), std::cos(lon));
    const double dec = std::asin(std::sin(eps) * std::sin(lon));
    const EquatorialPoint p = EclipticPointToEquatorial(c.jd, c.offset);
    // Newcomb's obliquity and the IAU 1980 one differ by under 0.1 arcsec.
    EXPECT_NEAR(p.dec, dec * kRadToDeg, 3e-5);
    EXPECT_NEAR(WrappedDifferenceDeg(p.ra, ra * kRadToDeg), 0.0, 3e-5);
    EXPECT_GT(p.ra, -180.0);
    EXPECT_LE(p.ra, 180.0);
  }
}

}  // namespace
}  // namespace mr4
