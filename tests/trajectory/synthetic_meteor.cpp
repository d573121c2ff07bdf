#include "tests/trajectory/synthetic_meteor.h"

#include <algorithm>
#include <cmath>

#include <erfa.h>
#include <erfam.h>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"

namespace mr4::test {
namespace {

struct V {
  double x, y, z;
};
V Add(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V Sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V Mul(double s, V a) { return {s * a.x, s * a.y, s * a.z}; }
double Dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

V EarthFixed(double lng_deg, double lat_deg, double height_m) {
  double xyz[3];
  eraGd2gc(ERFA_WGS84, lng_deg * kDegToRad, lat_deg * kDegToRad, height_m, xyz);
  return {xyz[0] / 1000.0, xyz[1] / 1000.0, xyz[2] / 1000.0};
}

// East, north and up at a geodetic place.
void Horizon(double lng_deg, double lat_deg, V* east, V* north, V* up) {
  const double l = lng_deg * kDegToRad, p = lat_deg * kDegToRad;
  *east = {-std::sin(l), std::cos(l), 0.0};
  *north = {-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l), std::cos(p)};
  *up = {std::cos(p) * std::cos(l), std::cos(p) * std::sin(l), std::sin(p)};
}

double Lst(double mjd_utc, double lng_deg) {
  const CivilTime c = MjdToCivil(mjd_utc);
  return LocalSiderealTime(c.year, c.month, c.day, c.hour, c.minute, c.second, 0, lng_deg);
}
double Tt(double mjd_utc) {
  const CivilTime c = MjdToCivil(mjd_utc);
  return UtcToTtMjd(c.year, c.month, c.day, c.hour, c.minute, c.second);
}

// Earth-fixed direction of the radiant's opposite (the motion).
V MotionDirection(const SyntheticMeteor& m) {
  const HorizontalPoint h =
      EquatorialToHorizontal(Tt(m.mjd_utc), Lst(m.mjd_utc, m.begin_lng_deg), m.begin_lat_deg,
                             m.radiant_ra_deg, m.radiant_dec_deg);
  V e, n, u;
  Horizon(m.begin_lng_deg, m.begin_lat_deg, &e, &n, &u);
  const double a = h.az * kDegToRad, ev = h.ev * kDegToRad;
  const V toward = Add(Add(Mul(std::cos(ev) * std::sin(a), e), Mul(std::cos(ev) * std::cos(a), n)),
                       Mul(std::sin(ev), u));
  return Mul(-1.0, toward);
}

double HeightKm(V p) {
  double xyz[3] = {p.x * 1000.0, p.y * 1000.0, p.z * 1000.0};
  double elong, phi, height;
  eraGc2gd(ERFA_WGS84, xyz, &elong, &phi, &height);
  return height / 1000.0;
}

}  // namespace

double RadiantElevation(const SyntheticMeteor& m) {
  const HorizontalPoint h =
      EquatorialToHorizontal(Tt(m.mjd_utc), Lst(m.mjd_utc, m.begin_lng_deg), m.begin_lat_deg,
                             m.radiant_ra_deg, m.radiant_dec_deg);
  return h.ev;
}

void SetRadiantFromHorizon(SyntheticMeteor* m, double az_deg, double ev_deg) {
  const EquatorialPoint q = HorizontalToEquatorial(Tt(m->mjd_utc), Lst(m->mjd_utc, m->begin_lng_deg),
                                                   m->begin_lat_deg, az_deg, ev_deg);
  m->radiant_ra_deg = q.ra;
  m->radiant_dec_deg = q.dec;
}

SyntheticStation StationAt(const std::string& name, double lat_deg, double lng_deg,
                           double bearing_deg, double distance_km) {
  const SpherePoint p = GroundDestination(lng_deg, lat_deg, bearing_deg, distance_km / 6371.0 * kRadToDeg);
  SyntheticStation s;
  s.name = name;
  s.lng_deg = p.lon;
  s.lat_deg = p.lat;
  s.alt_m = 300.0;
  return s;
}

std::vector<StationSight> ObserveMeteor(const SyntheticMeteor& m,
                                        const std::vector<SyntheticStation>& stations,
                                        std::mt19937_64& rng, ObservedTrack* track) {
  double first = 1e300, last = -1e300;
  const V begin = EarthFixed(m.begin_lng_deg, m.begin_lat_deg, m.begin_height_km * 1000.0);
  const V d = MotionDirection(m);
  auto length = [&](double t) { return m.v_kms * t - m.decel_a * (std::exp(m.decel_b * t) - 1.0); };
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::vector<StationSight> out;
  for (const SyntheticStation& s : stations) {
    StationSight sight;
    sight.station = s.name;
    sight.lng_deg = s.lng_deg;
    sight.lat_deg = s.lat_deg;
    sight.alt_m = s.alt_m;
    // The station's clock stamps its first frame.
    sight.t_ref_mjd_utc = m.mjd_utc + (s.first_frame_s + s.clock_error_s) / 86400.0;
    const V at = EarthFixed(s.lng_deg, s.lat_deg, s.alt_m);
    V e, n, u;
    Horizon(s.lng_deg, s.lat_deg, &e, &n, &u);
    for (int k = 0; k < 100000; ++k) {
      const double t_s = k / s.fps;
      const double t_true = s.first_frame_s + t_s;  // from the begin
      if (t_true < 0.0) continue;
      // A meteor slowed to a third of its speed has gone dark.
      if (m.v_kms - m.decel_a * m.decel_b * std::exp(m.decel_b * t_true) < m.v_kms / 3.0) break;
      const V p = Add(begin, Mul(length(t_true), d));
      const double h = HeightKm(p);
      if (h < m.end_height_km) break;
      if (h > m.begin_height_km + 1e-9) continue;
      first = std::min(first, t_true);
      last = std::max(last, t_true);
      const V w = Sub(p, at);
      const double wn = std::sqrt(Dot(w, w));
      double az = std::atan2(Dot(w, e), Dot(w, n));
      double ev = std::asin(Dot(w, u) / wn);
      if (s.noise_arcsec > 0.0) {
        const double sigma = s.noise_arcsec * kArcSecondToRad;
        ev += sigma * gauss(rng);
        az += sigma * gauss(rng) / std::cos(ev);
      }
      // The analysis converts with the station's own clock.
      const double mjd_clock = sight.t_ref_mjd_utc + t_s / 86400.0;
      const EquatorialPoint q = HorizontalToEquatorial(Tt(mjd_clock), Lst(mjd_clock, s.lng_deg),
                                                       s.lat_deg, Wrap360(az * kRadToDeg), ev * kRadToDeg);
      SightSample sample;
      sample.t_s = t_s;
      sample.ra_deg = q.ra;
      sample.dec_deg = q.dec;
      sight.samples.push_back(sample);
    }
    out.push_back(std::move(sight));
  }
  if (track && first <= last) {
    track->begin_t = first;
    track->end_t = last;
    track->begin_height_km = HeightKm(Add(begin, Mul(length(first), d)));
    track->end_height_km = HeightKm(Add(begin, Mul(length(last), d)));
  }
  return out;
}

}  // namespace mr4::test
