// Angle constants, the records of a direction on the sky or the globe, and
// the guarded inverse trigonometric functions shared by the astronomy and
// geometry routines.
//
// Pure constants and functions, callable from any thread. Angles are in
// degrees at every interface of astro/; the constants convert to and from
// radians.
#pragma once

#include <cmath>

namespace mr4 {

inline constexpr double kDegToRad = 0.01745329251994329;
inline constexpr double kRadToDeg = 57.29577951308234;
inline constexpr double kHalfPi = 1.5707963267948961;
inline constexpr double kPi = 3.1415926535897922;
inline constexpr double kTwoPi = 6.2831853071795845;
inline constexpr double kArcSecondToRad = 4.848136811095358e-6;

// J2000 (or of-date) equatorial position.
struct EquatorialPoint {
  double ra = 0.0;   // deg
  double dec = 0.0;  // deg
};

// Horizontal position of an observer.
struct HorizontalPoint {
  double az = 0.0;  // deg from north through east, 0..360
  double ev = 0.0;  // deg above the horizon
};

// A point given by longitude and latitude (sky or globe).
struct SpherePoint {
  double lon = 0.0;  // deg
  double lat = 0.0;  // deg
};

// An angle (deg) brought into [0, 360) and into (-180, 180].
inline double Wrap360(double deg) {
  const double a = std::fmod(deg, 360.0);
  return a < 0.0 ? a + 360.0 : a;
}
inline double Wrap180(double deg) {
  double a = std::fmod(deg, 360.0);
  if (a > 180.0) a -= 360.0;
  if (a <= -180.0) a += 360.0;
  return a;
}

// An angle (deg) moved by whole turns into [0, 360], as adding or taking
// away 360 one turn at a time leaves it: a value already in range comes back
// as it is (so 360 stays 360, and 720 gives 360), but in one step, so that a
// huge value from a file costs no more than a small one. NaN stays NaN; an
// infinity lies on no circle and gives NaN.
inline double Fold360(double deg) {
  if (deg >= 0.0 && deg <= 360.0) return deg;
  const double a = std::fmod(deg, 360.0);  // exact, with the sign of deg
  if (deg > 360.0) return a == 0.0 ? 360.0 : a;
  return a == 0.0 ? 0.0 : a + 360.0;
}

// acos and asin of an argument clamped to [-1, 1]: a cosine computed from
// coincident or antipodal points may exceed 1 by rounding, and the NaN that
// the library would return then slips through later comparisons.
inline double ClampedAcos(double x) {
  return std::acos(x > 1.0 ? 1.0 : (x < -1.0 ? -1.0 : x));
}
inline double ClampedAsin(double x) {
  return std::asin(x > 1.0 ? 1.0 : (x < -1.0 ? -1.0 : x));
}

}  // namespace mr4
