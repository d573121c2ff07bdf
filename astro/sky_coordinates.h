// Sky coordinates of an observer: J2000 right ascension and declination to
// azimuth and elevation and back (precession only: mean places, no
// nutation or aberration), atmospheric refraction, and the spherical
// routines (distances, bearings, destinations, projection onto a great
// circle) used on the sky and on the globe.
//
// Units: every angle is in deg (azimuth from north through east, 0..360;
// east longitude; north latitude) except where a name says rad; time as MJD
// (TT) in days; refraction constants in arc seconds.
// Thread safety: all functions may be called from any thread. The
// refraction table is kept per thread for the last constant that thread
// used, so parallel workers with different constants never share one.
#pragma once

#include "astro/angles.h"

namespace mr4 {

// J2000 (ra, dec) to (az, ev) for an observer at `latitude` at local
// sidereal time `lst`; `mjd` selects the precession to the date.
HorizontalPoint EquatorialToHorizontal(double mjd, double lst, double latitude,
                                       double ra, double dec);
// The exact inverse: (az, ev) to J2000 (ra, dec), ra in 0..360.
EquatorialPoint HorizontalToEquatorial(double mjd, double lst, double latitude,
                                       double az, double ev);

// The standard refraction constant (arc seconds).
inline constexpr double kStandardRefractionConstant = 58.3;

// Refraction for a constant c (arc seconds) at whole apparent elevations
// h = 0..90 deg: r[h] the refraction, true_ev[h] = h - r[h].
struct RefractionTable {
  static constexpr int kEntries = 91;
  double constant = 0.0;
  double r[kEntries] = {};
  double true_ev[kEntries] = {};
};
RefractionTable MakeRefractionTable(double constant);

// Apparent elevation (deg) of a true elevation; below true_ev[0] unchanged.
double TrueToApparentElevation(double true_ev, double constant);
// True elevation (deg) of an apparent elevation (the camera model's step).
double ApparentToTrueElevation(double apparent_ev, double constant);

// Angle between two directions, rad. Inputs in single precision.
double AngularDistance(float lon1, float lat1, float lon2, float lat2);
// Angle at P2 between the arcs to P1 and P3, deg: 180 when P2 coincides
// with P1 or P3, 0 when P1 and P3 coincide.
double VertexAngle(float lon1, float lat1, float lon2, float lat2, float lon3,
                   float lat3);
// End of an arc of `distance` deg from (lon, lat) along `bearing` (deg from
// north towards increasing longitude); longitude in 0..360.
SpherePoint SkyDestination(double lon, double lat, double bearing,
                           double distance);
// The same with the longitude folded into -180..180.
SpherePoint GroundDestination(double lon, double lat, double bearing,
                              double distance);

struct BearingDistance {
  double bearing = 0.0;      // deg, at the start
  double distance = 0.0;     // deg
  double end_bearing = 0.0;  // deg, at the end
};
// From (0, lat1) to (d_lon, lat1 + d_lat): bearings positive towards
// increasing longitude (d_lon in (0, 180] or at most -180), else negative.
BearingDistance BearingAndDistance(double lat1, double d_lon, double d_lat);

// The point of the great circle with unit pole (px, py, pz) nearest to
// (lon, lat); longitude in 0..360.
SpherePoint ProjectOntoGreatCircle(double px, double py, double pz, double lon,
                                   double lat);

}  // namespace mr4
