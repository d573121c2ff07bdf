#include "trajectory/trajectory_solver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <utility>

#include <erfa.h>
#include <erfam.h>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "trajectory/orbit.h"

namespace mr4 {
namespace {

// Earth's rotation rate (rad per UT1 second, the rate of the Earth
// rotation angle).
constexpr double kEarthRotationRate = 7.292115855306589e-5;
// Planes closer to parallel than this give no trajectory worth fitting.
constexpr double kMinConvergenceDeg = 1.0;
constexpr double kMinParallelDeg = 0.01;
constexpr int kMinSamples = 3;
constexpr double kSecondsPerDay = 86400.0;

struct V3 {
  double x = 0.0, y = 0.0, z = 0.0;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(double s, V3 a) { return {s * a.x, s * a.y, s * a.z}; }
double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Norm(V3 a) { return std::sqrt(Dot(a, a)); }
V3 Unit(V3 a) { return (1.0 / Norm(a)) * a; }
Vector3 ToArray(V3 a) { return {a.x, a.y, a.z}; }

// Two unit vectors completing `u` to an orthonormal basis.
void Basis(V3 u, V3* e1, V3* e2) {
  const V3 helper = std::abs(u.z) < 0.9 ? V3{0.0, 0.0, 1.0} : V3{1.0, 0.0, 0.0};
  *e1 = Unit(Cross(helper, u));
  *e2 = Cross(u, *e1);
}

V3 FromRaDec(double ra_deg, double dec_deg) {
  const double ra = ra_deg * kDegToRad, dec = dec_deg * kDegToRad;
  return {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
}

// TT minus UTC [days] on the date of a UTC MJD, from the leap-second list.
double TtMinusUtcDays(double mjd_utc) {
  const CivilTime c = MjdToCivil(std::floor(mjd_utc));
  return UtcToTtMjd(c.year, c.month, c.day, 0, 0, 0.0f) -
         CivilToMjd(c.year, c.month, c.day, 0, 0, 0.0f);
}

// East, north and up at a geodetic place, Earth-fixed.
struct Horizon {
  V3 east, north, up;
  double lng_deg = 0.0, lat_deg = 0.0;
};
Horizon HorizonAt(double lng_deg, double lat_deg) {
  const double l = lng_deg * kDegToRad, p = lat_deg * kDegToRad;
  Horizon h;
  h.east = {-std::sin(l), std::cos(l), 0.0};
  h.north = {-std::sin(p) * std::cos(l), -std::sin(p) * std::sin(l), std::cos(p)};
  h.up = {std::cos(p) * std::cos(l), std::cos(p) * std::sin(l), std::sin(p)};
  h.lng_deg = lng_deg;
  h.lat_deg = lat_deg;
  return h;
}

// The time arguments of the horizon conversion at a UTC MJD: TT and the
// local mean sidereal time, as the analysis computes them.
struct SkyTime {
  double tt_mjd = 0.0;
  double lst_deg = 0.0;
};
SkyTime SkyTimeAt(double mjd_utc, double lng_deg) {
  const CivilTime c = MjdToCivil(mjd_utc);
  return {UtcToTtMjd(c.year, c.month, c.day, c.hour, c.minute, c.second),
          LocalSiderealTime(c.year, c.month, c.day, c.hour, c.minute, c.second, 0, lng_deg)};
}

// A J2000 direction in Earth-fixed axes at a time: through the horizon of a
// place with the analysis's own conversion, so that the solver undoes
// exactly what made the result files' directions.
V3 J2000ToEarthFixed(const Horizon& h, const SkyTime& t, double ra_deg, double dec_deg) {
  const HorizontalPoint p = EquatorialToHorizontal(t.tt_mjd, t.lst_deg, h.lat_deg, ra_deg, dec_deg);
  const double az = p.az * kDegToRad, ev = p.ev * kDegToRad;
  return (std::cos(ev) * std::sin(az)) * h.east + (std::cos(ev) * std::cos(az)) * h.north +
         std::sin(ev) * h.up;
}
void EarthFixedToJ2000(const Horizon& h, const SkyTime& t, V3 v, double* ra_deg, double* dec_deg) {
  const V3 u = Unit(v);
  const double az = Wrap360(std::atan2(Dot(u, h.east), Dot(u, h.north)) * kRadToDeg);
  const double ev = ClampedAsin(Dot(u, h.up)) * kRadToDeg;
  const EquatorialPoint q = HorizontalToEquatorial(t.tt_mjd, t.lst_deg, h.lat_deg, az, ev);
  *ra_deg = q.ra;
  *dec_deg = q.dec;
}

V3 GeodeticToEarthFixed(double lng_deg, double lat_deg, double height_m) {
  double xyz[3];
  eraGd2gc(ERFA_WGS84, lng_deg * kDegToRad, lat_deg * kDegToRad, height_m, xyz);
  return {xyz[0] / 1000.0, xyz[1] / 1000.0, xyz[2] / 1000.0};
}

struct Geodetic {
  double lng_deg = 0.0, lat_deg = 0.0, height_km = 0.0;
};
Geodetic EarthFixedToGeodetic(V3 p) {
  double xyz[3] = {p.x * 1000.0, p.y * 1000.0, p.z * 1000.0};
  double elong = 0.0, phi = 0.0, height = 0.0;
  eraGc2gd(ERFA_WGS84, xyz, &elong, &phi, &height);
  return {Wrap180(elong * kRadToDeg), phi * kRadToDeg, height / 1000.0};
}

// Eigenvector of the smallest eigenvalue of a symmetric 3 x 3 matrix
// (cyclic Jacobi rotations).
V3 SmallestEigenvector(double a[3][3]) {
  double v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (off < 1e-30) break;
    for (int p = 0; p < 2; ++p) {
      for (int q = p + 1; q < 3; ++q) {
        if (std::abs(a[p][q]) < 1e-300) continue;
        const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
        const double t = (theta >= 0 ? 1.0 : -1.0) /
                         (std::abs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 3; ++k) {  // a = a J
          const double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {  // a = J^T a
          const double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
          const double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  int best = 0;
  for (int k = 1; k < 3; ++k)
    if (a[k][k] < a[best][best]) best = k;
  return Unit(V3{v[0][best], v[1][best], v[2][best]});
}

// One frame's line of sight, Earth-fixed.
struct Sight {
  double t = 0.0;  // s after the first frame of station 1, own clock
  V3 u, e1, e2;    // direction and the two axes across it
};

struct Prepared {
  V3 position;         // Earth-fixed, km
  V3 normal;           // of the plane through the station and its sights
  std::vector<Sight> sights;
};

std::string Name(const StationSight& s, size_t index) {
  return s.station.empty() ? "station " + std::to_string(index + 1) : s.station;
}

// The sights in the Earth-fixed frame; `t_origin_mjd` is the common origin
// of the times. Empty string when fine, else why not.
std::string Prepare(const StationSight& s, size_t index, double t_origin_mjd, Prepared* out) {
  if (s.samples.size() < static_cast<size_t>(kMinSamples))
    return Name(s, index) + " has " + std::to_string(s.samples.size()) +
           " frames; at least " + std::to_string(kMinSamples) + " are needed";
  if (!std::isfinite(s.lng_deg) || !std::isfinite(s.lat_deg) || !std::isfinite(s.alt_m) ||
      std::abs(s.lat_deg) > 90.0)
    return Name(s, index) + ": station position not valid";
  if (!(s.t_ref_mjd_utc > kCalendarFirstMjd + 1.0 && s.t_ref_mjd_utc < kCalendarLastMjd - 1.0))
    return Name(s, index) + ": reference time outside 1900..2099";
  out->position = GeodeticToEarthFixed(s.lng_deg, s.lat_deg, s.alt_m);
  const Horizon horizon = HorizonAt(s.lng_deg, s.lat_deg);
  const double t_shift = (s.t_ref_mjd_utc - t_origin_mjd) * kSecondsPerDay;
  out->sights.clear();
  out->sights.reserve(s.samples.size());
  double scatter[3][3] = {};
  for (size_t k = 0; k < s.samples.size(); ++k) {
    const SightSample& f = s.samples[k];
    if (!std::isfinite(f.t_s) || !std::isfinite(f.ra_deg) || !std::isfinite(f.dec_deg))
      return Name(s, index) + ": frame " + std::to_string(k + 1) + " is not finite";
    if (k > 0 && !(f.t_s > s.samples[k - 1].t_s))
      return Name(s, index) + ": frame times do not rise at frame " + std::to_string(k + 1);
    Sight sight;
    sight.t = t_shift + f.t_s;
    sight.u = J2000ToEarthFixed(horizon, SkyTimeAt(s.t_ref_mjd_utc + f.t_s / kSecondsPerDay, s.lng_deg),
                                f.ra_deg, f.dec_deg);
    Basis(sight.u, &sight.e1, &sight.e2);
    const double u[3] = {sight.u.x, sight.u.y, sight.u.z};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) scatter[i][j] += u[i] * u[j];
    out->sights.push_back(sight);
  }
  out->normal = SmallestEigenvector(scatter);
  return {};
}

double AngleBetweenPlanesDeg(V3 n1, V3 n2) {
  return ClampedAcos(std::abs(Dot(n1, n2))) * kRadToDeg;
}

// The line common to two planes: a point of it and its direction, pointed
// the way the meteor moved as station a saw it.
struct Line {
  V3 point, direction;
};
bool PlanesLine(const Prepared& a, const Prepared& b, Line* line) {
  V3 d = Cross(a.normal, b.normal);
  const double dn = Norm(d);
  if (dn < std::sin(kMinParallelDeg * kDegToRad)) return false;
  d = (1.0 / dn) * d;
  // The point of the line nearest the stations' midpoint.
  const double ha = Dot(a.normal, a.position), hb = Dot(b.normal, b.position);
  const double c = Dot(a.normal, b.normal);
  const double det = 1.0 - c * c;
  const double ca = (ha - hb * c) / det, cb = (hb - ha * c) / det;
  V3 p = ca * a.normal + cb * b.normal;
  const V3 mid = 0.5 * (a.position + b.position);
  p = p + Dot(mid - p, d) * d;
  // Direction of motion from station a's first and last sights.
  auto along = [&](const Sight& s) {
    const V3 w0 = p - a.position;
    const double bu = Dot(d, s.u);
    return (bu * Dot(s.u, w0) - Dot(d, w0)) / std::max(1e-12, 1.0 - bu * bu);
  };
  if (along(a.sights.back()) < along(a.sights.front())) d = -1.0 * d;
  line->point = p;
  line->direction = d;
  return true;
}

// Distance along the sight of `s` from `station` to where it meets the plane
// of `other` (negative: behind the station; NaN: parallel).
double RangeToPlane(V3 station, const Sight& s, const Prepared& other) {
  const double nu = Dot(other.normal, s.u);
  if (std::abs(nu) < 1e-12) return kTrajectoryNaN;
  return Dot(other.normal, other.position - station) / nu;
}

double HeightOf(V3 p) { return EarthFixedToGeodetic(p).height_km; }

// ---------------------------------------------------------------------------
// The least-squares fit of every sight to one line with a speed model.

struct Model {
  V3 x0;             // position at t = 0 (first frame of station 1), km
  V3 d;              // unit direction of motion
  double v = 0.0;    // km/s
  double a = 0.0;    // km
  double b = 0.0;    // 1/s
  std::vector<double> offset;  // s, per station; offset[0] = 0
  bool decelerating = false;

  double Length(double t) const { return decelerating ? v * t - a * (std::exp(b * t) - 1.0) : v * t; }
  double Speed(double t) const { return decelerating ? v - a * b * std::exp(b * t) : v; }
  V3 At(double t) const { return x0 + Length(t) * d; }
};

struct Problem {
  std::vector<Prepared> stations;
  size_t sights = 0;
};

int ParameterCount(const Model& m) { return 6 + (m.decelerating ? 2 : 0) + static_cast<int>(m.offset.size()) - 1; }

double Cost(const Problem& pb, const Model& m) {
  double sum = 0.0;
  for (size_t i = 0; i < pb.stations.size(); ++i) {
    const Prepared& st = pb.stations[i];
    for (const Sight& s : st.sights) {
      const V3 w = m.At(s.t + m.offset[i]) - st.position;
      const double wu = Dot(w, s.u);
      if (!(wu > 0.0)) return std::numeric_limits<double>::infinity();
      const double r1 = Dot(w, s.e1) / wu, r2 = Dot(w, s.e2) / wu;
      sum += r1 * r1 + r2 * r2;
    }
  }
  return sum;
}

// Solves the symmetric positive system A x = y in place by Cholesky; false
// when A is not positive definite.
constexpr int kMaxParams = 16;
bool CholeskySolve(int n, double a[kMaxParams][kMaxParams], double y[kMaxParams]) {
  for (int j = 0; j < n; ++j) {
    double s = a[j][j];
    for (int k = 0; k < j; ++k) s -= a[j][k] * a[j][k];
    if (!(s > 0.0)) return false;
    a[j][j] = std::sqrt(s);
    for (int i = j + 1; i < n; ++i) {
      double t = a[i][j];
      for (int k = 0; k < j; ++k) t -= a[i][k] * a[j][k];
      a[i][j] = t / a[j][j];
    }
  }
  for (int i = 0; i < n; ++i) {
    double t = y[i];
    for (int k = 0; k < i; ++k) t -= a[i][k] * y[k];
    y[i] = t / a[i][i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double t = y[i];
    for (int k = i + 1; k < n; ++k) t -= a[k][i] * y[k];
    y[i] = t / a[i][i];
  }
  return true;
}

// Levenberg-Marquardt over the model; the direction is moved in its
// tangent plane. Returns the final cost.
double Fit(const Problem& pb, Model* m, int max_iterations = 60) {
  const int n = ParameterCount(*m);
  const int i_v = 5, i_a = 6, i_b = 7;
  const int i_off = m->decelerating ? 8 : 6;
  double cost = Cost(pb, *m);
  double lambda = 1e-3;
  for (int iter = 0; iter < max_iterations; ++iter) {
    V3 t1, t2;
    Basis(m->d, &t1, &t2);
    double jtj[kMaxParams][kMaxParams] = {};
    double jtr[kMaxParams] = {};
    for (size_t i = 0; i < pb.stations.size(); ++i) {
      const Prepared& st = pb.stations[i];
      for (const Sight& s : st.sights) {
        const double t = s.t + m->offset[i];
        const double len = m->Length(t);
        const V3 w = m->x0 + len * m->d - st.position;
        const double wu = Dot(w, s.u);
        if (!(wu > 0.0)) continue;
        const double r[2] = {Dot(w, s.e1) / wu, Dot(w, s.e2) / wu};
        const V3 g[2] = {(1.0 / wu) * (s.e1 - r[0] * s.u), (1.0 / wu) * (s.e2 - r[1] * s.u)};
        for (int c = 0; c < 2; ++c) {
          double row[kMaxParams] = {};
          row[0] = g[c].x;
          row[1] = g[c].y;
          row[2] = g[c].z;
          row[3] = len * Dot(g[c], t1);
          row[4] = len * Dot(g[c], t2);
          const double gd = Dot(g[c], m->d);
          row[i_v] = gd * t;
          if (m->decelerating) {
            const double e = std::exp(m->b * t);
            row[i_a] = -gd * (e - 1.0);
            row[i_b] = -gd * m->a * t * e;
          }
          if (i > 0) row[i_off + static_cast<int>(i) - 1] = gd * m->Speed(t);
          for (int p = 0; p < n; ++p) {
            if (row[p] == 0.0) continue;
            jtr[p] += row[p] * r[c];
            for (int q = 0; q <= p; ++q) jtj[p][q] += row[p] * row[q];
          }
        }
      }
    }
    for (int p = 0; p < n; ++p)
      for (int q = p + 1; q < n; ++q) jtj[p][q] = jtj[q][p];
    bool improved = false;
    for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
      double a[kMaxParams][kMaxParams];
      double step[kMaxParams];
      for (int p = 0; p < n; ++p) {
        for (int q = 0; q < n; ++q) a[p][q] = jtj[p][q];
        a[p][p] += lambda * (jtj[p][p] > 0.0 ? jtj[p][p] : 1e-30) + 1e-300;
        step[p] = -jtr[p];
      }
      if (!CholeskySolve(n, a, step)) {
        lambda *= 10.0;
        continue;
      }
      Model trial = *m;
      trial.x0 = m->x0 + V3{step[0], step[1], step[2]};
      trial.d = Unit(m->d + step[3] * t1 + step[4] * t2);
      trial.v = m->v + step[i_v];
      if (m->decelerating) {
        trial.a = std::max(0.0, m->a + step[i_a]);
        trial.b = std::clamp(m->b + step[i_b], 1e-3, 200.0);
      }
      for (size_t i = 1; i < m->offset.size(); ++i)
        trial.offset[i] = m->offset[i] + step[i_off + static_cast<int>(i) - 1];
      const double trial_cost = Cost(pb, trial);
      if (trial_cost < cost) {
        const double gain = cost - trial_cost;
        *m = std::move(trial);
        const bool done = gain <= 1e-10 * cost || cost - gain < 1e-28;
        cost = trial_cost;
        lambda = std::max(lambda * 0.1, 1e-12);
        improved = true;
        if (done) return cost;
      } else {
        lambda *= 10.0;
      }
    }
    if (!improved) break;
  }
  return cost;
}

// First model from the line of two planes: each sight's point of the line,
// their lengths over time for the speed and the clock offsets.
Model InitialModel(const Problem& pb, const Line& line) {
  Model m;
  m.d = line.direction;
  m.offset.assign(pb.stations.size(), 0.0);
  std::vector<std::vector<std::pair<double, double>>> track(pb.stations.size());
  for (size_t i = 0; i < pb.stations.size(); ++i) {
    const Prepared& st = pb.stations[i];
    const V3 w0 = line.point - st.position;
    for (const Sight& s : st.sights) {
      const double bu = Dot(m.d, s.u);
      const double len = (bu * Dot(s.u, w0) - Dot(m.d, w0)) / std::max(1e-12, 1.0 - bu * bu);
      track[i].push_back({s.t, len});
    }
  }
  auto regress = [](const std::vector<std::pair<double, double>>& xy, double* slope, double* icpt) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(xy.size());
    for (auto [x, y] : xy) {
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    const double den = n * sxx - sx * sx;
    *slope = den != 0.0 ? (n * sxy - sx * sy) / den : 0.0;
    *icpt = (sy - *slope * sx) / n;
  };
  double v = 0.0, l0 = 0.0;
  regress(track[0], &v, &l0);
  if (!(std::abs(v) > 0.5)) v = v < 0.0 ? -30.0 : 30.0;
  if (v < 0.0) {
    m.d = -1.0 * m.d;
    v = -v;
    l0 = -l0;
    for (auto& tr : track)
      for (auto& p : tr) p.second = -p.second;
  }
  m.v = v;
  m.x0 = line.point + l0 * m.d;
  for (size_t i = 1; i < pb.stations.size(); ++i) {
    double sum = 0.0;
    for (auto [t, len] : track[i]) sum += (len - l0) / v - t;
    m.offset[i] = sum / static_cast<double>(track[i].size());
  }
  return m;
}

// The decelerating model fitted from a constant-speed fit, from a few
// starting rates; the one of least cost.
double FitDecelerating(const Problem& pb, const Model& constant, double duration, Model* best) {
  double best_cost = std::numeric_limits<double>::infinity();
  for (double rate : {2.0, 6.0, 15.0}) {
    Model m = constant;
    m.decelerating = true;
    m.b = rate / std::max(duration, 0.05);
    // A start that loses 2 % of the speed by the end.
    m.a = 0.02 * constant.v / (m.b * std::exp(m.b * duration));
    const double cost = Fit(pb, &m);
    if (cost < best_cost) {
      best_cost = cost;
      *best = std::move(m);
    }
  }
  return best_cost;
}

// Keeps two more parameters only where the sum of squares drops by more
// than noise alone would at 99 %: F(2, dof) > its 1 % point.
// The noise is taken as at least kNoiseFloorArcsec per axis: below that the
// residuals are the conversions' rounding, not the meteor's deceleration.
constexpr double kNoiseFloorArcsec = 0.5;
bool DecelerationSignificant(double cost_constant, double cost_decel, double dof) {
  if (!(cost_decel < cost_constant) || dof < 1.0) return false;
  const double floor = kNoiseFloorArcsec * kArcSecondToRad;
  const double variance = std::max(cost_decel / dof, floor * floor);
  const double f = 0.5 * (cost_constant - cost_decel) / variance;
  const double f_crit = 0.5 * dof * (std::pow(0.01, -2.0 / dof) - 1.0);
  return f > f_crit;
}

struct Derived {
  Geodetic begin, end;
  double radiant_ra = 0, radiant_dec = 0;
  double v_init = 0, v_avg = 0;
  bool geo_ok = false;
  GeocentricRadiant geo;
  HeliocentricOrbit orbit;
  double t_begin = 0, t_end = 0;  // on station 1's clock, s after its first frame
};

Derived Derive(const Problem& pb, const Model& m, double t_origin_mjd, bool with_orbit) {
  Derived r;
  r.t_begin = std::numeric_limits<double>::infinity();
  r.t_end = -r.t_begin;
  for (size_t i = 0; i < pb.stations.size(); ++i) {
    r.t_begin = std::min(r.t_begin, pb.stations[i].sights.front().t + m.offset[i]);
    r.t_end = std::max(r.t_end, pb.stations[i].sights.back().t + m.offset[i]);
  }
  const V3 pb_ = m.At(r.t_begin), pe = m.At(r.t_end);
  r.begin = EarthFixedToGeodetic(pb_);
  r.end = EarthFixedToGeodetic(pe);
  r.v_init = m.v;
  r.v_avg = Norm(pe - pb_) / std::max(1e-9, r.t_end - r.t_begin);
  const double mjd_begin = t_origin_mjd + r.t_begin / kSecondsPerDay;
  const Horizon horizon = HorizonAt(r.begin.lng_deg, r.begin.lat_deg);
  const SkyTime sky = SkyTimeAt(mjd_begin, r.begin.lng_deg);
  EarthFixedToJ2000(horizon, sky, -1.0 * m.d, &r.radiant_ra, &r.radiant_dec);
  if (!with_orbit) return r;
  // Earth's rotation: the velocity relative to non-rotating axes is the
  // Earth-fixed one plus omega x r at the begin point.
  const V3 vel_fixed = m.v * m.d;
  const V3 vel_inertial =
      vel_fixed + V3{-kEarthRotationRate * pb_.y, kEarthRotationRate * pb_.x, 0.0};
  // Into J2000 axes by the conversion of directions: both vectors' lengths
  // are kept, their directions turned as the sky's.
  V3 pos_j2000, vel_j2000;
  {
    double ra, dec;
    EarthFixedToJ2000(horizon, sky, pb_, &ra, &dec);
    pos_j2000 = Norm(pb_) * FromRaDec(ra, dec);
    EarthFixedToJ2000(horizon, sky, vel_inertial, &ra, &dec);
    vel_j2000 = Norm(vel_inertial) * FromRaDec(ra, dec);
  }
  r.geo_ok = RemoveEarthAttraction(ToArray(pos_j2000), ToArray(vel_j2000), &r.geo);
  if (r.geo_ok) {
    const double tt = mjd_begin + TtMinusUtcDays(mjd_begin);
    r.orbit = OrbitFromGeocentricRadiant(tt, r.geo.ra_deg, r.geo.dec_deg, r.geo.vg_kms,
                                         ToArray(pos_j2000));
  }
  return r;
}

double AngleDeg(double ra1, double dec1, double ra2, double dec2) {
  return ClampedAcos(Dot(FromRaDec(ra1, dec1), FromRaDec(ra2, dec2))) * kRadToDeg;
}

}  // namespace

std::optional<PlaneIntersection> IntersectPlanes(const StationSight& a, const StationSight& b) {
  if (a.samples.size() < 2 || b.samples.size() < 2) return std::nullopt;
  const double origin = a.t_ref_mjd_utc;
  Prepared pa, pb;
  // Two frames make a plane; the solver asks for more.
  StationSight a2 = a, b2 = b;
  while (a2.samples.size() < static_cast<size_t>(kMinSamples)) a2.samples.push_back(a2.samples.back());
  while (b2.samples.size() < static_cast<size_t>(kMinSamples)) b2.samples.push_back(b2.samples.back());
  for (auto* s : {&a2, &b2})
    for (size_t k = 1; k < s->samples.size(); ++k)
      if (!(s->samples[k].t_s > s->samples[k - 1].t_s)) s->samples[k].t_s = s->samples[k - 1].t_s + 1e-6;
  if (!Prepare(a2, 0, origin, &pa).empty() || !Prepare(b2, 1, origin, &pb).empty()) return std::nullopt;
  Line line;
  if (!PlanesLine(pa, pb, &line)) return std::nullopt;
  PlaneIntersection out;
  out.convergence_deg = AngleBetweenPlanesDeg(pa.normal, pb.normal);
  EarthFixedToJ2000(HorizonAt(a.lng_deg, a.lat_deg),
                    SkyTimeAt(a.t_ref_mjd_utc + a.samples.front().t_s / kSecondsPerDay, a.lng_deg),
                    -1.0 * line.direction, &out.radiant_ra_deg, &out.radiant_dec_deg);
  const double ra0 = RangeToPlane(pa.position, pa.sights.front(), pb);
  const double ra1 = RangeToPlane(pa.position, pa.sights.back(), pb);
  const double rb0 = RangeToPlane(pb.position, pb.sights.front(), pa);
  const double rb1 = RangeToPlane(pb.position, pb.sights.back(), pa);
  if (!(ra0 > 0.0 && ra1 > 0.0 && rb0 > 0.0 && rb1 > 0.0)) return std::nullopt;
  out.begin_height_a_km = HeightOf(pa.position + ra0 * pa.sights.front().u);
  out.end_height_a_km = HeightOf(pa.position + ra1 * pa.sights.back().u);
  out.begin_height_b_km = HeightOf(pb.position + rb0 * pb.sights.front().u);
  out.end_height_b_km = HeightOf(pb.position + rb1 * pb.sights.back().u);
  out.range_a_km = ra0;
  out.range_b_km = rb0;
  return out;
}

TrajectorySolution SolveTrajectory(std::span<const StationSight> stations,
                                   const TrajectoryOptions& options) {
  TrajectorySolution sol;
  if (stations.size() < 2) {
    sol.failure = "at least two stations are needed";
    return sol;
  }
  if (stations.size() > static_cast<size_t>(kMaxParams - 8 + 1)) {
    sol.failure = "at most " + std::to_string(kMaxParams - 8 + 1) + " stations can be solved together";
    return sol;
  }
  Problem pb;
  pb.stations.resize(stations.size());
  const double origin_ref = stations[0].t_ref_mjd_utc;
  for (size_t i = 0; i < stations.size(); ++i) {
    const std::string why = Prepare(stations[i], i, origin_ref, &pb.stations[i]);
    if (!why.empty()) {
      sol.failure = why;
      return sol;
    }
    pb.sights += pb.stations[i].sights.size();
  }
  // Times count from station 1's first frame.
  const double t_first = pb.stations[0].sights.front().t;
  for (Prepared& st : pb.stations)
    for (Sight& s : st.sights) s.t -= t_first;
  const double t_origin_mjd = origin_ref + t_first / kSecondsPerDay;

  for (size_t i = 0; i < stations.size(); ++i)
    for (size_t j = i + 1; j < stations.size(); ++j)
      if (Norm(pb.stations[i].position - pb.stations[j].position) < 0.1) {
        sol.failure = Name(stations[i], i) + " and " + Name(stations[j], j) +
                      " stand at the same place";
        return sol;
      }

  // The best-converging pair gives the first line (Ceplecha's choice).
  size_t best_i = 0, best_j = 1;
  double best_q = -1.0;
  for (size_t i = 0; i < stations.size(); ++i)
    for (size_t j = i + 1; j < stations.size(); ++j) {
      const double q = AngleBetweenPlanesDeg(pb.stations[i].normal, pb.stations[j].normal);
      if (q > best_q) {
        best_q = q;
        best_i = i;
        best_j = j;
      }
    }
  sol.max_convergence_deg = best_q;
  if (best_q < kMinConvergenceDeg) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the stations' planes are nearly parallel (%.2f deg apart, at least %.1f needed)",
                  best_q, kMinConvergenceDeg);
    sol.failure = text;
    return sol;
  }
  Line line;
  if (!PlanesLine(pb.stations[best_i], pb.stations[best_j], &line)) {
    sol.failure = "the stations' planes do not intersect";
    return sol;
  }
  {
    const Prepared& a = pb.stations[best_i];
    const Prepared& b = pb.stations[best_j];
    const double r1 = RangeToPlane(a.position, a.sights.front(), b);
    const double r2 = RangeToPlane(b.position, b.sights.front(), a);
    if (!(r1 > 0.0) || !(r2 > 0.0)) {
      sol.failure = "the stations' lines of sight meet behind a station";
      return sol;
    }
  }

  Model model = InitialModel(pb, line);
  double cost = Fit(pb, &model);
  if (!std::isfinite(cost)) {
    sol.failure = "the fit of the lines of sight did not converge";
    return sol;
  }
  const double duration = [&] {
    double t0 = 1e300, t1 = -1e300;
    for (size_t i = 0; i < pb.stations.size(); ++i) {
      t0 = std::min(t0, pb.stations[i].sights.front().t + model.offset[i]);
      t1 = std::max(t1, pb.stations[i].sights.back().t + model.offset[i]);
    }
    return t1 - t0;
  }();
  const double n_res = 2.0 * static_cast<double>(pb.sights);
  if (options.deceleration && pb.sights >= 12) {
    Model decel;
    const double cost_decel = FitDecelerating(pb, model, duration, &decel);
    if (DecelerationSignificant(cost, cost_decel, n_res - ParameterCount(decel))) {
      model = std::move(decel);
      cost = cost_decel;
    }
  }

  const Derived d = Derive(pb, model, t_origin_mjd, true);
  sol.ok = true;
  sol.t_ref_mjd_utc = t_origin_mjd + d.t_begin / kSecondsPerDay;
  sol.begin_lat_deg = d.begin.lat_deg;
  sol.begin_lng_deg = d.begin.lng_deg;
  sol.begin_height_km = d.begin.height_km;
  sol.end_lat_deg = d.end.lat_deg;
  sol.end_lng_deg = d.end.lng_deg;
  sol.end_height_km = d.end.height_km;
  sol.radiant_ra_deg = d.radiant_ra;
  sol.radiant_dec_deg = d.radiant_dec;
  sol.v_init_kms = d.v_init;
  sol.v_avg_kms = d.v_avg;
  if (model.decelerating) {
    // The same curve with its time counted from the begin.
    sol.decel_a = model.a * std::exp(model.b * d.t_begin);
    sol.decel_b = model.b;
  }
  if (d.geo_ok) {
    sol.geo_ra_deg = d.geo.ra_deg;
    sol.geo_dec_deg = d.geo.dec_deg;
    sol.vg_kms = d.geo.vg_kms;
    sol.helio_ra_deg = d.orbit.helio_ra_deg;
    sol.helio_dec_deg = d.orbit.helio_dec_deg;
    sol.vh_kms = d.orbit.vh_kms;
    sol.solar_longitude_deg = d.orbit.solar_longitude_deg;
    sol.a_au = d.orbit.a_au;
    sol.e = d.orbit.e;
    sol.q_au = d.orbit.q_au;
    sol.i_deg = d.orbit.i_deg;
    sol.peri_deg = d.orbit.peri_deg;
    sol.node_deg = d.orbit.node_deg;
  }
  sol.rms_residual_arcsec =
      std::sqrt(cost / static_cast<double>(pb.sights)) * kRadToDeg * 3600.0;
  sol.station_time_offset_s.resize(stations.size());
  for (size_t i = 0; i < stations.size(); ++i) {
    // The sights' times already hold the gap between the reference times.
    sol.station_time_offset_s[i] = model.offset[i];
  }

  const V3 begin_point = model.At(d.t_begin);
  for (size_t i = 0; i < stations.size(); ++i) {
    const Prepared& st = pb.stations[i];
    for (size_t k = 0; k < st.sights.size(); ++k) {
      const Sight& s = st.sights[k];
      TrajectoryPoint p;
      p.station = stations[i].station;
      p.t_s = stations[i].samples[k].t_s;
      // The point of the line nearest this line of sight.
      const V3 w0 = begin_point - st.position;
      const double bu = Dot(model.d, s.u);
      const double len = (bu * Dot(s.u, w0) - Dot(model.d, w0)) / std::max(1e-12, 1.0 - bu * bu);
      const Geodetic g = EarthFixedToGeodetic(begin_point + len * model.d);
      p.lat_deg = g.lat_deg;
      p.lng_deg = g.lng_deg;
      p.height_km = g.height_km;
      p.length_km = len;
      const V3 w = model.At(s.t + model.offset[i]) - st.position;
      p.residual_arcsec = ClampedAcos(Dot(Unit(w), s.u)) * kRadToDeg * 3600.0;
      sol.points.push_back(p);
    }
  }

  // Monte Carlo: every direction moved by Gaussian noise of the fit's
  // residual scatter per axis, the model fitted again from the solution.
  if (options.monte_carlo_runs > 0) {
    const int n_par = ParameterCount(model);
    const double sigma_axis = std::sqrt(cost / std::max(1.0, n_res - n_par));
    std::mt19937_64 rng(options.seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    double s_rad = 0, s_geo = 0, s_vg = 0, s_vg2 = 0, s_v = 0, s_v2 = 0, s_hb = 0, s_hb2 = 0,
           s_he = 0, s_he2 = 0, s_a = 0, s_a2 = 0, s_e = 0, s_e2 = 0, s_q = 0, s_q2 = 0,
           s_i = 0, s_i2 = 0;
    int runs = 0, orbit_runs = 0, bound_runs = 0;
    Problem noisy = pb;
    for (int run = 0; run < options.monte_carlo_runs; ++run) {
      for (size_t i = 0; i < pb.stations.size(); ++i)
        for (size_t k = 0; k < pb.stations[i].sights.size(); ++k) {
          const Sight& s = pb.stations[i].sights[k];
          Sight& n = noisy.stations[i].sights[k];
          n.u = Unit(s.u + (sigma_axis * gauss(rng)) * s.e1 + (sigma_axis * gauss(rng)) * s.e2);
          Basis(n.u, &n.e1, &n.e2);
        }
      Model m = model;
      const double c = Fit(noisy, &m, 30);
      if (!std::isfinite(c)) continue;
      const Derived r = Derive(noisy, m, t_origin_mjd, true);
      ++runs;
      const double dr = AngleDeg(r.radiant_ra, r.radiant_dec, d.radiant_ra, d.radiant_dec);
      s_rad += dr * dr;
      s_v += r.v_init;
      s_v2 += r.v_init * r.v_init;
      s_hb += r.begin.height_km;
      s_hb2 += r.begin.height_km * r.begin.height_km;
      s_he += r.end.height_km;
      s_he2 += r.end.height_km * r.end.height_km;
      if (r.geo_ok && d.geo_ok) {
        ++orbit_runs;
        const double dg = AngleDeg(r.geo.ra_deg, r.geo.dec_deg, d.geo.ra_deg, d.geo.dec_deg);
        s_geo += dg * dg;
        s_vg += r.geo.vg_kms;
        s_vg2 += r.geo.vg_kms * r.geo.vg_kms;
        s_e += r.orbit.e;
        s_e2 += r.orbit.e * r.orbit.e;
        s_q += r.orbit.q_au;
        s_q2 += r.orbit.q_au * r.orbit.q_au;
        s_i += r.orbit.i_deg;
        s_i2 += r.orbit.i_deg * r.orbit.i_deg;
        if (r.orbit.a_au > 0.0) {
          ++bound_runs;
          s_a += r.orbit.a_au;
          s_a2 += r.orbit.a_au * r.orbit.a_au;
        }
      }
    }
    auto sd = [](double s, double s2, int n) {
      if (n < 2) return kTrajectoryNaN;
      const double mean = s / n;
      return std::sqrt(std::max(0.0, (s2 - n * mean * mean) / (n - 1)));
    };
    if (runs >= 2) {
      sol.sigma_radiant_deg = std::sqrt(s_rad / runs);
      sol.sigma_v_init_kms = sd(s_v, s_v2, runs);
      sol.sigma_begin_height_km = sd(s_hb, s_hb2, runs);
      sol.sigma_end_height_km = sd(s_he, s_he2, runs);
    }
    if (orbit_runs >= 2) {
      sol.sigma_geo_radiant_deg = std::sqrt(s_geo / orbit_runs);
      sol.sigma_vg_kms = sd(s_vg, s_vg2, orbit_runs);
      sol.sigma_e = sd(s_e, s_e2, orbit_runs);
      sol.sigma_q_au = sd(s_q, s_q2, orbit_runs);
      sol.sigma_i_deg = sd(s_i, s_i2, orbit_runs);
      if (d.orbit.a_au > 0.0) sol.sigma_a_au = sd(s_a, s_a2, bound_runs);
    }
  }
  return sol;
}

}  // namespace mr4
