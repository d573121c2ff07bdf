#include "trajectory/orbit.h"

#include <cmath>

#include <erfa.h>
#include <erfam.h>

#include "astro/angles.h"

namespace mr4 {
namespace {

double Dot(const Vector3& a, const Vector3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const Vector3& a) { return std::sqrt(Dot(a, a)); }
Vector3 Scaled(const Vector3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

void ToRaDec(const Vector3& v, double* ra_deg, double* dec_deg) {
  const double n = Norm(v);
  *ra_deg = Wrap360(std::atan2(v[1], v[0]) * kRadToDeg);
  *dec_deg = ClampedAsin(v[2] / n) * kRadToDeg;
}

Vector3 FromRaDec(double ra_deg, double dec_deg) {
  const double ra = ra_deg * kDegToRad, dec = dec_deg * kDegToRad;
  return {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
}

// J2000 equatorial to J2000 ecliptic axes (IAU 2006 obliquity at J2000).
Vector3 EquatorialToEcliptic(const Vector3& v) {
  const double eps = eraObl06(ERFA_DJ00, 0.0);
  const double c = std::cos(eps), s = std::sin(eps);
  return {v[0], c * v[1] + s * v[2], -s * v[1] + c * v[2]};
}

}  // namespace

bool RemoveEarthAttraction(const Vector3& position_km, const Vector3& velocity_kms,
                           GeocentricRadiant* out) {
  const double r = Norm(position_km);
  const double v = Norm(velocity_kms);
  const double vg2 = v * v - 2.0 * kEarthGm / r;
  if (!(vg2 > 0.0) || !(r > 0.0)) return false;
  const double vg = std::sqrt(vg2);
  const Vector3 zenith = Scaled(position_km, 1.0 / r);
  const Vector3 radiant = Scaled(velocity_kms, -1.0 / v);
  const double cos_z = Dot(radiant, zenith);
  const double z = ClampedAcos(cos_z);
  const double dz = 2.0 * std::atan((v - vg) / (v + vg) * std::tan(0.5 * z));
  // The unit vector in the radiant's vertical, perpendicular to the zenith.
  Vector3 across = {radiant[0] - cos_z * zenith[0], radiant[1] - cos_z * zenith[1],
                    radiant[2] - cos_z * zenith[2]};
  const double across_norm = Norm(across);
  Vector3 moved = radiant;
  if (across_norm > 1e-12) {
    across = Scaled(across, 1.0 / across_norm);
    const double zg = z + dz;
    moved = {std::cos(zg) * zenith[0] + std::sin(zg) * across[0],
             std::cos(zg) * zenith[1] + std::sin(zg) * across[1],
             std::cos(zg) * zenith[2] + std::sin(zg) * across[2]};
  }
  ToRaDec(moved, &out->ra_deg, &out->dec_deg);
  out->vg_kms = vg;
  out->zenith_shift_deg = dz * kRadToDeg;
  return true;
}

double SolarLongitudeAt(double tt_mjd) {
  double pvh[2][3], pvb[2][3];
  eraEpv00(ERFA_DJM0, tt_mjd, pvh, pvb);
  const Vector3 sun = EquatorialToEcliptic({-pvh[0][0], -pvh[0][1], -pvh[0][2]});
  return Wrap360(std::atan2(sun[1], sun[0]) * kRadToDeg);
}

HeliocentricOrbit OrbitFromGeocentricRadiant(double tt_mjd, double geo_ra_deg,
                                             double geo_dec_deg, double vg_kms,
                                             const Vector3& position_km) {
  HeliocentricOrbit o;
  // TDB differs from TT by under 2 ms, far below what the Earth's place needs.
  double pvh[2][3], pvb[2][3];
  eraEpv00(ERFA_DJM0, tt_mjd, pvh, pvb);
  const double kms_to_au_day = 86400.0 / kAuKm;
  const Vector3 geo_velocity = Scaled(FromRaDec(geo_ra_deg, geo_dec_deg), -vg_kms);
  Vector3 rq, vq;  // heliocentric, J2000 equatorial, AU and AU/day
  for (int k = 0; k < 3; ++k) {
    rq[k] = pvh[0][k] + position_km[k] / kAuKm;
    vq[k] = pvh[1][k] + geo_velocity[k] * kms_to_au_day;
  }
  {
    const Vector3 sun = EquatorialToEcliptic({-pvh[0][0], -pvh[0][1], -pvh[0][2]});
    o.solar_longitude_deg = Wrap360(std::atan2(sun[1], sun[0]) * kRadToDeg);
  }
  ToRaDec(Scaled(vq, -1.0), &o.helio_ra_deg, &o.helio_dec_deg);
  o.vh_kms = Norm(vq) / kms_to_au_day;

  const Vector3 r = EquatorialToEcliptic(rq);
  const Vector3 v = EquatorialToEcliptic(vq);
  const double mu = kSunGmAuDay;
  const double rn = Norm(r);
  const Vector3 h = Cross(r, v);
  const double hn = Norm(h);
  const Vector3 vxh = Cross(v, h);
  const Vector3 ev = {vxh[0] / mu - r[0] / rn, vxh[1] / mu - r[1] / rn, vxh[2] / mu - r[2] / rn};
  o.e = Norm(ev);
  const double energy = 0.5 * Dot(v, v) - mu / rn;
  o.a_au = -mu / (2.0 * energy);
  o.q_au = hn * hn / mu / (1.0 + o.e);
  o.i_deg = ClampedAcos(h[2] / hn) * kRadToDeg;
  const Vector3 node = {-h[1], h[0], 0.0};
  const double nn = Norm(node);
  o.node_deg = Wrap360(std::atan2(node[1], node[0]) * kRadToDeg);
  double peri = ClampedAcos(Dot(node, ev) / (nn * o.e)) * kRadToDeg;
  if (ev[2] < 0.0) peri = 360.0 - peri;
  o.peri_deg = peri;
  return o;
}

}  // namespace mr4
