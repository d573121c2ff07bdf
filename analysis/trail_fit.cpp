#include "analysis/trail_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/measurement.h"
#include "astro/sky_coordinates.h"

namespace mr4 {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

}  // namespace

GreatCircleFit FitGreatCircle(AnalysisContext& c, Track& track, double limit) {
  GreatCircleFit fit;
  const int n = track.sample_count;
  if (n <= 0) return fit;
  const bool trim = n >= 8;
  double suu = 0, svv = 0, sww = 0, suv = 0, svw = 0, suw = 0;
  double ra_lo = 0, ra_hi = 0, dec_lo = 0, dec_hi = 0, ra_first = 0, dec_first = 0;
  int measured = 0;
  for (int i = 0; i < n; ++i) {
    Detection& s = c.Sample(track.samples[i]);
    if (limit > 0 && s.err > limit) {
      s.pass = 0;
      continue;
    }
    s.pass = 1;
    if (!c.sky_positions_given) MeasureSample(c, s);
    // Right ascension unwrapped from the first measured sample, so that a
    // trail across 0h spans its own length, not the rest of the sky.
    const double ra = measured == 0 ? (ra_first = s.ra) : ra_first + Wrap180(s.ra - ra_first);
    if (measured == 0) {
      dec_first = s.dec;
      ra_lo = ra_hi = ra;
      dec_lo = dec_hi = s.dec;
    } else {
      ra_lo = std::min(ra_lo, ra);
      ra_hi = std::max(ra_hi, ra);
      dec_lo = std::min(dec_lo, s.dec);
      dec_hi = std::max(dec_hi, s.dec);
    }
    ++measured;
    if (trim && (i == 0 || i == n - 1)) continue;
    const double u = std::cos(s.dec * kDeg) * std::cos(s.ra * kDeg);
    const double v = std::cos(s.dec * kDeg) * std::sin(s.ra * kDeg);
    const double w = std::sin(s.dec * kDeg);
    suu += u * u;
    svv += v * v;
    sww += w * w;
    suv += u * v;
    svw += v * w;
    suw += u * w;
  }

  if (measured == 0) {
    // Every sample left out by the limit: no circle, no mean (not 0 / 0);
    // the pole and the smoothed positions keep their previous values.
    track.passed_count = 0;
    return fit;
  }
  {
    if (dec_hi > 80 || dec_lo < -80) {
      fit.orientation = -1;
    } else {
      fit.orientation = ra_hi - ra_lo > dec_hi - dec_lo ? 1 : 0;
    }
  }

  // Pole: one component fixed to 1, the 2 x 2 normal equations solved for
  // the other two.
  const double a = suv * suv - svv * suu;
  const double b = svw * svw - sww * svv;
  const double cc = suw * suw - sww * suu;
  double nx, ny, nz;
  if (std::fabs(a * suu) > std::fabs(b * svv) && std::fabs(a * suu) > std::fabs(cc * sww)) {
    nz = 1;
    ny = (svw * suu - suw * suv) / a;
    nx = (-suw - ny * suv) / suu;
  } else if (std::fabs(b * svv) > std::fabs(cc * sww)) {
    nx = 1;
    nz = (suw * svv - svw * suv) / b;
    ny = (-suv - nz * svw) / svv;
  } else {
    ny = 1;
    nx = (suv * sww - svw * suw) / cc;
    nz = (-svw - nx * suw) / sww;
  }
  const double norm = std::sqrt(nx * nx + ny * ny + nz * nz);
  fit.nx = nx / norm;
  fit.ny = ny / norm;
  fit.nz = nz / norm;
  if (!std::isfinite(fit.nx) || !std::isfinite(fit.ny) || !std::isfinite(fit.nz)) {
    // The samples give no direction (one position, or all at one place):
    // the normal equations are singular. Any circle through the position
    // fits; take the hour circle, whose pole lies on the equator 90 deg
    // from it (for a position at a celestial pole, the circle of 0h).
    const double u = std::cos(dec_first * kDeg) * std::cos(ra_first * kDeg);
    const double v = std::cos(dec_first * kDeg) * std::sin(ra_first * kDeg);
    const double across = std::hypot(u, v);
    fit.nx = across > 1e-12 ? v / across : 0.0;
    fit.ny = across > 1e-12 ? -u / across : 1.0;
    fit.nz = 0.0;
  }
  double pole_ra = std::atan2(fit.ny, fit.nx) / kDeg;
  if (pole_ra < 0) pole_ra += 360;
  track.pole_ra = pole_ra;
  track.pole_dec = std::asin(std::clamp(fit.nz, -1.0, 1.0)) / kDeg;

  double sum = 0;
  for (int i = 0; i < n; ++i) {
    Detection& s = c.Sample(track.samples[i]);
    const SpherePoint p = ProjectOntoGreatCircle(fit.nx, fit.ny, fit.nz, s.ra, s.dec);
    s.ra_mod = p.lon;
    s.dec_mod = p.lat;
    s.err = AngularDistance(static_cast<float>(s.ra), static_cast<float>(s.dec),
                            static_cast<float>(p.lon), static_cast<float>(p.lat)) / kDeg;
    if (s.pass) {
      sum += s.err;
      fit.largest_residual = std::max(fit.largest_residual, s.err);
    }
  }
  track.passed_count = measured;
  fit.mean_residual = sum / measured;
  return fit;
}

}  // namespace mr4
