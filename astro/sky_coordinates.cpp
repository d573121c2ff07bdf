#include "astro/sky_coordinates.h"

#include <cmath>

#include "astro/angles.h"

namespace mr4 {
namespace {

// Precession from the mean equator and equinox of J2000 to those of `mjd`:
// P = R3(-z) R2(theta) R3(-zeta).
struct PrecessionMatrix {
  double m[3][3];
};

PrecessionMatrix PrecessionFromJ2000(double mjd) {
  const double t = (mjd - 51544.5) / 36524.22;
  const double zeta =
      (2305.6190292359424 * t + 0.302 * t * t + 0.0179 * t * t * t) *
      kArcSecondToRad;
  const double z = zeta + (0.791 * t * t + 0.0013 * t * t * t) * kArcSecondToRad;
  const double theta =
      (2003.8289817835946 * t - 0.426 * t * t + 0.0416 * t * t * t) *
      kArcSecondToRad;
  const double cze = std::cos(zeta), sze = std::sin(zeta);
  const double cz = std::cos(z), sz = std::sin(z);
  const double cth = std::cos(theta), sth = std::sin(theta);
  return {{{cze * cth * cz - sze * sz, -sze * cth * cz - cze * sz, -sth * cz},
           {cze * cth * sz + sze * cz, -sze * cth * sz + cze * cz, -sth * sz},
           {cze * sth, -sze * sth, cth}}};
}

double FoldDegrees360(double a) { return Fold360(a); }

RefractionTable& ThreadRefractionTable(double constant) {
  thread_local RefractionTable table =
      MakeRefractionTable(kStandardRefractionConstant);
  if (table.constant != constant) table = MakeRefractionTable(constant);
  return table;
}

// The table interval [k, k + 1] for an elevation; k + 1 stays inside.
int RefractionIndex(double elevation) {
  int k = static_cast<int>(std::trunc(elevation));
  if (k < 0) k = 0;
  if (k > RefractionTable::kEntries - 2) k = RefractionTable::kEntries - 2;
  return k;
}

}  // namespace

HorizontalPoint EquatorialToHorizontal(double mjd, double lst, double latitude,
                                       double ra, double dec) {
  const PrecessionMatrix p = PrecessionFromJ2000(mjd);
  const double r = ra * kDegToRad, d = dec * kDegToRad;
  const double v[3] = {std::cos(d) * std::cos(r), std::cos(d) * std::sin(r),
                       std::sin(d)};
  double w[3];
  for (int i = 0; i < 3; ++i) {
    w[i] = p.m[i][0] * v[0] + p.m[i][1] * v[1] + p.m[i][2] * v[2];
  }
  const double ra_date = FoldDegrees360(std::atan2(w[1], w[0]) * kRadToDeg);
  const double delta = ClampedAsin(w[2]);

  const double h = (lst - ra_date) * kDegToRad;
  const double phi = latitude * kDegToRad;
  const double north = std::cos(phi) * std::sin(delta) -
                       std::sin(phi) * std::cos(delta) * std::cos(h);
  const double east = -std::sin(h) * std::cos(delta);
  const double up = std::cos(phi) * std::cos(delta) * std::cos(h) +
                    std::sin(delta) * std::sin(phi);

  HorizontalPoint out;
  out.az = FoldDegrees360(std::atan2(east, north) * kRadToDeg);
  // From the full horizontal component: north alone vanishes near azimuth
  // 90 and 270.
  out.ev = std::atan2(up, std::sqrt(north * north + east * east)) * kRadToDeg;
  return out;
}

EquatorialPoint HorizontalToEquatorial(double mjd, double lst, double latitude,
                                       double az, double ev) {
  const double z = (90.0 - ev) * kDegToRad;
  const double phi = latitude * kDegToRad;
  const double a = az * kDegToRad;
  const double delta = ClampedAsin(std::cos(z) * std::sin(phi) +
                                   std::sin(z) * std::cos(phi) * std::cos(a));
  const double h = std::atan2(
      std::sin(z) * std::sin(a + kPi),
      std::sin(phi) * std::sin(z) * std::cos(a + kPi) + std::cos(z) * std::cos(phi));
  double ra_date = lst - h * kRadToDeg;
  if (ra_date < 0.0) ra_date += 360.0;
  if (ra_date > 360.0) ra_date -= 360.0;

  const PrecessionMatrix p = PrecessionFromJ2000(mjd);
  const double r = ra_date * kDegToRad;
  const double v[3] = {std::cos(delta) * std::cos(r),
                       std::cos(delta) * std::sin(r), std::sin(delta)};
  double w[3];
  for (int i = 0; i < 3; ++i) {
    w[i] = p.m[0][i] * v[0] + p.m[1][i] * v[1] + p.m[2][i] * v[2];
  }
  EquatorialPoint out;
  out.ra = FoldDegrees360(std::atan2(w[1], w[0]) * kRadToDeg);
  out.dec = ClampedAsin(w[2]) * kRadToDeg;
  return out;
}

RefractionTable MakeRefractionTable(double constant) {
  // Refraction near the horizon, for the standard constant 58.3".
  static constexpr double kLow[11] = {0.5894, 0.4122, 0.3075, 0.2408,
                                      0.1964, 0.1647, 0.1414, 0.1233,
                                      0.1094, 0.0981, 0.0886};
  RefractionTable t;
  t.constant = constant;
  for (int h = 0; h < RefractionTable::kEntries; ++h) {
    t.r[h] = h <= 10 ? constant / 58.3 * kLow[h]
                     : std::tan((90 - h) * kDegToRad) * constant / 3600.0;
    t.true_ev[h] = h - t.r[h];
  }
  return t;
}

double TrueToApparentElevation(double true_ev, double constant) {
  const RefractionTable& t = ThreadRefractionTable(constant);
  if (true_ev < t.true_ev[0]) return true_ev;
  int k = RefractionIndex(true_ev);
  if (true_ev > t.true_ev[k + 1]) k = RefractionIndex(k + 1);
  const double slope = t.r[k + 1] - t.r[k];
  // The apparent elevation whose interpolated refraction brings it down to
  // the true elevation.
  return (true_ev + t.r[k] - k * slope) / (1.0 - slope);
}

double ApparentToTrueElevation(double apparent_ev, double constant) {
  const RefractionTable& t = ThreadRefractionTable(constant);
  const int k = RefractionIndex(apparent_ev);
  return apparent_ev - (t.r[k] + (t.r[k + 1] - t.r[k]) * (apparent_ev - k));
}

double AngularDistance(float lon1, float lat1, float lon2, float lat2) {
  const double colat1 = (90.0 - lat1) * kDegToRad;
  const double colat2 = (90.0 - lat2) * kDegToRad;
  const double dlon = (static_cast<double>(lon1) - lon2) * kDegToRad;
  return ClampedAcos(std::cos(dlon) * std::sin(colat1) * std::sin(colat2) +
                     std::cos(colat1) * std::cos(colat2));
}

double VertexAngle(float lon1, float lat1, float lon2, float lat2, float lon3,
                   float lat3) {
  const double b = AngularDistance(lon1, lat1, lon2, lat2);
  const double j = AngularDistance(lon2, lat2, lon3, lat3);
  const double l = AngularDistance(lon1, lat1, lon3, lat3);
  if (b < 1e-5 || j < 1e-5) return 180.0;
  if (l < 1e-5) return 0.0;
  return ClampedAcos((std::cos(l) - std::cos(j) * std::cos(b)) /
                     (std::sin(j) * std::sin(b))) *
         kRadToDeg;
}

namespace {

// The end of the arc with its longitude lon + d_lon not yet folded.
SpherePoint ArcEnd(double lon, double lat, double bearing, double distance) {
  const double colat = (90.0 - lat) * kDegToRad;
  const double b = bearing * kDegToRad;
  const double s = distance * kDegToRad;
  const double cos_colat2 = std::cos(b) * std::sin(colat) * std::sin(s) +
                            std::cos(colat) * std::cos(s);
  SpherePoint out;
  out.lat = 90.0 - ClampedAcos(cos_colat2) * kRadToDeg;
  // Both atan2 arguments scaled by sin(colat) sin(colat2) >= 0, which keeps
  // the quotient and stays finite at the poles.
  const double d_lon = std::atan2(std::sin(b) * std::sin(s) * std::sin(colat),
                                  std::cos(s) - cos_colat2 * std::cos(colat));
  out.lon = lon + d_lon * kRadToDeg;
  return out;
}

}  // namespace

SpherePoint SkyDestination(double lon, double lat, double bearing,
                           double distance) {
  SpherePoint out = ArcEnd(lon, lat, bearing, distance);
  if (out.lon > 360.0) out.lon -= 360.0;
  if (out.lon < 0.0) out.lon += 360.0;
  return out;
}

SpherePoint GroundDestination(double lon, double lat, double bearing,
                              double distance) {
  SpherePoint out = ArcEnd(lon, lat, bearing, distance);
  if (out.lon > 180.0) out.lon -= 360.0;
  if (out.lon < -180.0) out.lon += 360.0;
  return out;
}

BearingDistance BearingAndDistance(double lat1, double d_lon, double d_lat) {
  const double c1 = (90.0 - lat1) * kDegToRad;
  const double c2 = (90.0 - (lat1 + d_lat)) * kDegToRad;
  const double dl = d_lon * kDegToRad;
  const double d = ClampedAcos(std::cos(dl) * std::sin(c1) * std::sin(c2) +
                               std::cos(c1) * std::cos(c2));
  auto bearing = [d](double from, double to) {
    const double den = std::sin(d) * std::sin(from);
    if (den == 0.0) return 0.0;  // no arc, or a start at a pole
    return ClampedAcos((std::cos(to) - std::cos(d) * std::cos(from)) / den) *
           kRadToDeg;
  };
  const bool eastward = (d_lon > 0.0 && d_lon <= 180.0) || d_lon <= -180.0;
  const double sign = eastward ? 1.0 : -1.0;
  BearingDistance out;
  out.distance = d * kRadToDeg;
  out.bearing = sign * bearing(c1, c2);
  out.end_bearing = sign * bearing(c2, c1);
  return out;
}

SpherePoint ProjectOntoGreatCircle(double px, double py, double pz, double lon,
                                   double lat) {
  const double lo = lon * kDegToRad, la = lat * kDegToRad;
  const double q[3] = {std::cos(la) * std::cos(lo), std::cos(la) * std::sin(lo),
                       std::sin(la)};
  const double vq = px * q[0] + py * q[1] + pz * q[2];
  double w[3] = {q[0] - px * vq, q[1] - py * vq, q[2] - pz * vq};
  double norm = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  if (norm < 1e-12) {
    // The point is the pole itself: every point of the circle is as near;
    // take the one in the plane of the pole and the z axis (or the x axis).
    const double ax[3] = {std::fabs(pz) < 0.9 ? 0.0 : 1.0, 0.0,
                          std::fabs(pz) < 0.9 ? 1.0 : 0.0};
    const double va = px * ax[0] + py * ax[1] + pz * ax[2];
    for (int i = 0; i < 3; ++i) w[i] = ax[i] - (i == 0 ? px : i == 1 ? py : pz) * va;
    norm = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  }
  for (double& c : w) c /= norm;
  if (w[0] * q[0] + w[1] * q[1] + w[2] * q[2] < 0.0) {
    for (double& c : w) c = -c;
  }
  SpherePoint out;
  out.lon = FoldDegrees360(std::atan2(w[1], w[0]) * kRadToDeg);
  out.lat = ClampedAsin(w[2]) * kRadToDeg;
  return out;
}

}  // namespace mr4
