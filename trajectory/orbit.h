// From a meteor's speed and direction at the top of the atmosphere to its
// geocentric radiant and speed (Earth's attraction removed) and to its
// heliocentric orbit (Earth's place and motion from ERFA's eraEpv00).
//
// Vectors are geocentric, in J2000 equatorial axes; positions in km,
// velocities in km/s relative to a non-rotating Earth (Earth's rotation
// already removed). Angles in deg, distances in AU, times as TT MJD.
// Pure functions; any thread may call them.
#pragma once

#include <array>

namespace mr4 {

using Vector3 = std::array<double, 3>;

// GM of the Earth [km^3/s^2] and the Gaussian constant squared [AU^3/day^2].
inline constexpr double kEarthGm = 398600.4418;
inline constexpr double kSunGmAuDay = 2.959122082855911e-4;
inline constexpr double kAuKm = 149597870.7;

struct GeocentricRadiant {
  double ra_deg = 0.0, dec_deg = 0.0;  // where the meteoroid comes from, J2000
  double vg_kms = 0.0;
  double zenith_shift_deg = 0.0;       // radiant moved away from the zenith
};

// Earth's attraction undone: vg^2 = v^2 - 2 GM / r (r the geocentric
// distance of the point), and the radiant moved away from the geocentric
// zenith of the point by dz, tan(dz/2) = (v - vg)/(v + vg) tan(z/2)
// (Schiaparelli; Ceplecha 1987, eq. 36), in the vertical plane through the
// zenith and the radiant. False when the speed is below the escape speed.
bool RemoveEarthAttraction(const Vector3& position_km, const Vector3& velocity_kms,
                           GeocentricRadiant* out);

struct HeliocentricOrbit {
  double solar_longitude_deg = 0.0;  // J2000 ecliptic
  double helio_ra_deg = 0.0, helio_dec_deg = 0.0;  // heliocentric radiant, J2000
  double vh_kms = 0.0;
  double a_au = 0.0;  // -GM / (2 E): negative for e >= 1
  double e = 0.0, q_au = 0.0;
  double i_deg = 0.0, peri_deg = 0.0, node_deg = 0.0;  // J2000 ecliptic
};

// The orbit of a meteoroid at geocentric position `position_km` (may be
// zero: at the Earth's centre) at TT MJD `tt_mjd` moving with geocentric
// velocity vg from the geocentric radiant (ra, dec) [deg].
HeliocentricOrbit OrbitFromGeocentricRadiant(double tt_mjd, double geo_ra_deg,
                                             double geo_dec_deg, double vg_kms,
                                             const Vector3& position_km = {0.0, 0.0, 0.0});

// The J2000 solar longitude at TT MJD `tt_mjd` (from ERFA's Earth).
double SolarLongitudeAt(double tt_mjd);

}  // namespace mr4
