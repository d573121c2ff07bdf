#include "trajectory/shower_match.h"

#include "astro/angles.h"

namespace mr4 {
namespace {

double AngleDeg(double ra1, double dec1, double ra2, double dec2) {
  const double r1 = ra1 * kDegToRad, d1 = dec1 * kDegToRad;
  const double r2 = ra2 * kDegToRad, d2 = dec2 * kDegToRad;
  return ClampedAcos(std::sin(d1) * std::sin(d2) + std::cos(d1) * std::cos(d2) * std::cos(r1 - r2)) *
         kRadToDeg;
}

bool Active(const ShowerReference& s, double sol) {
  if (std::isnan(s.sol1) || std::isnan(s.sol2)) return true;
  const double a = Wrap360(s.sol1), b = Wrap360(s.sol2), x = Wrap360(sol);
  return a <= b ? (x >= a && x <= b) : (x >= a || x <= b);
}

}  // namespace

double SouthworthHawkins(const OrbitElements& a, const OrbitElements& b) {
  const double i1 = a.i * kDegToRad, i2 = b.i * kDegToRad;
  const double dnode = Wrap180(b.node - a.node) * kDegToRad;
  const double s_i = 2.0 * std::sin(0.5 * (i2 - i1));
  const double s_node = 2.0 * std::sin(0.5 * dnode);
  // 2 sin(I/2), I the angle between the orbital planes.
  const double two_sin_half_i = std::sqrt(s_i * s_i + std::sin(i1) * std::sin(i2) * s_node * s_node);
  const double cos_half_i = std::sqrt(std::max(0.0, 1.0 - 0.25 * two_sin_half_i * two_sin_half_i));
  // Longitudes of perihelion measured from the planes' intersection; the
  // node difference was folded into (-180, 180], which carries the sign
  // change of the arcsine term for differences beyond 180 deg.
  double arc = 0.0;
  if (cos_half_i > 1e-12)
    arc = ClampedAsin(std::cos(0.5 * (i2 + i1)) * std::sin(0.5 * dnode) / cos_half_i);
  const double pi21 = Wrap180(b.peri - a.peri) * kDegToRad + 2.0 * arc;
  const double s_pi = 2.0 * std::sin(0.5 * pi21);
  const double de = b.e - a.e, dq = b.q - a.q;
  const double em = 0.5 * (a.e + b.e);
  return std::sqrt(de * de + dq * dq + two_sin_half_i * two_sin_half_i + em * em * s_pi * s_pi);
}

std::optional<ShowerMatch> MatchShower(const TrajectorySolution& m,
                                       std::span<const ShowerReference> showers,
                                       const ShowerMatchLimits& limits) {
  if (!m.ok || !std::isfinite(m.vg_kms) || !std::isfinite(m.solar_longitude_deg)) return std::nullopt;
  std::optional<ShowerMatch> best;
  for (const ShowerReference& s : showers) {
    if (!Active(s, m.solar_longitude_deg)) continue;
    const double dsol = Wrap180(m.solar_longitude_deg - s.los);
    const double dist = AngleDeg(m.geo_ra_deg, m.geo_dec_deg, s.ra + s.dra * dsol, s.dec + s.ddec * dsol);
    if (dist > limits.radiant_limit_deg) continue;
    const double dv = m.vg_kms - s.vg;
    if (std::abs(dv) > std::max(limits.vg_limit_min_kms, limits.vg_limit_fraction * s.vg)) continue;
    ShowerMatch match{s.code, dist, dv, NAN};
    const bool has_orbit = std::isfinite(s.q) && std::isfinite(s.e) && std::isfinite(s.i) &&
                           std::isfinite(s.peri) && std::isfinite(s.node);
    if (has_orbit && std::isfinite(m.q_au)) {
      match.d_sh = SouthworthHawkins({m.q_au, m.e, m.i_deg, m.peri_deg, m.node_deg},
                                     {s.q, s.e, s.i, s.peri, s.node});
      if (match.d_sh > limits.d_sh_limit) continue;
    }
    auto better = [](const ShowerMatch& x, const ShowerMatch& y) {
      if (std::isfinite(x.d_sh) && std::isfinite(y.d_sh)) return x.d_sh < y.d_sh;
      if (std::isfinite(x.d_sh) != std::isfinite(y.d_sh)) return std::isfinite(x.d_sh);
      return x.radiant_distance_deg < y.radiant_distance_deg;
    };
    if (!best || better(match, *best)) best = match;
  }
  return best;
}

}  // namespace mr4
