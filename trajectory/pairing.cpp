#include "trajectory/pairing.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "astro/ground_geometry.h"
#include "trajectory/trajectory_solver.h"

namespace mr4 {
namespace {

constexpr double kSecondsPerDay = 86400.0;

// The plane of one object: its first and last line of sight.
StationSight PlaneSight(const PairingObject& o) {
  StationSight s;
  s.lng_deg = o.lng_deg;
  s.lat_deg = o.lat_deg;
  s.alt_m = o.alt_m;
  s.t_ref_mjd_utc = o.begin_mjd_utc;
  const double duration = std::max((o.end_mjd_utc - o.begin_mjd_utc) * kSecondsPerDay, 1e-3);
  s.samples.push_back({0.0, o.begin_ra_deg, o.begin_dec_deg});
  s.samples.push_back({duration, o.end_ra_deg, o.end_dec_deg});
  return s;
}

// The angle between an object's first and last direction [deg]: below a
// hair its two lines of sight span no plane.
double ExtentDeg(const PairingObject& o) {
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double c = std::sin(o.begin_dec_deg * kRad) * std::sin(o.end_dec_deg * kRad) +
                   std::cos(o.begin_dec_deg * kRad) * std::cos(o.end_dec_deg * kRad) *
                       std::cos((o.end_ra_deg - o.begin_ra_deg) * kRad);
  return std::acos(std::clamp(c, -1.0, 1.0)) / kRad;
}
constexpr double kMinExtentDeg = 1e-3;

bool HeightWithin(double h, const PairingOptions& options) {
  return h >= options.min_height_km && h <= options.max_height_km;
}

struct Pair {
  int a, b;
  double convergence;
};

// Union-find over the objects; each set keeps the stations it holds.
class Meteors {
 public:
  explicit Meteors(std::span<const PairingObject> objects) : objects_(objects) {
    parent_.resize(objects.size());
    std::iota(parent_.begin(), parent_.end(), 0);
  }
  int Root(int i) {
    while (parent_[i] != i) {
      parent_[i] = parent_[parent_[i]];
      i = parent_[i];
    }
    return i;
  }
  // Joins the sets of a and b unless a station would then give two objects.
  bool Join(int a, int b) {
    a = Root(a);
    b = Root(b);
    if (a == b) return true;
    std::vector<int>& sa = Stations(a);
    std::vector<int>& sb = Stations(b);
    for (int s : sb) {
      if (std::find(sa.begin(), sa.end(), s) != sa.end()) return false;
    }
    if (sa.size() < sb.size()) std::swap(a, b);
    std::vector<int>& into = stations_[a];
    std::vector<int>& from = stations_[b];
    into.insert(into.end(), from.begin(), from.end());
    stations_.erase(b);
    parent_[b] = a;
    return true;
  }

 private:
  std::vector<int>& Stations(int root) {
    auto [it, added] = stations_.try_emplace(root);
    if (added) it->second.push_back(objects_[root].station);
    return it->second;
  }
  std::span<const PairingObject> objects_;
  std::vector<int> parent_;
  // Only sets that were joined have an entry (a few among many objects).
  std::unordered_map<int, std::vector<int>> stations_;
};

}  // namespace

bool PlausiblePair(const PairingObject& a, const PairingObject& b,
                   const PairingOptions& options, double* convergence_deg) {
  if (a.station == b.station) return false;
  if (ExtentDeg(a) < kMinExtentDeg || ExtentDeg(b) < kMinExtentDeg) return false;
  if (GroundDistanceKm(a.lng_deg, a.lat_deg, b.lng_deg, b.lat_deg) > options.max_baseline_km) {
    return false;
  }
  const std::optional<PlaneIntersection> x = IntersectPlanes(PlaneSight(a), PlaneSight(b));
  if (!x || !(x->convergence_deg >= options.min_convergence_deg)) return false;
  for (double h : {x->begin_height_a_km, x->end_height_a_km, x->begin_height_b_km,
                   x->end_height_b_km}) {
    if (!HeightWithin(h, options)) return false;
  }
  if (convergence_deg) *convergence_deg = x->convergence_deg;
  return true;
}

std::vector<MultiStationMeteor> PairObjects(std::span<const PairingObject> objects,
                                            const PairingOptions& options,
                                            PairingCounts* counts) {
  PairingCounts tally;
  const int n = static_cast<int>(objects.size());
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  const auto begins_before = [&](int i, int j) {
    if (objects[i].begin_mjd_utc != objects[j].begin_mjd_utc) {
      return objects[i].begin_mjd_utc < objects[j].begin_mjd_utc;
    }
    return i < j;
  };
  std::sort(order.begin(), order.end(), begins_before);

  // The sweep: `open` holds the earlier objects whose end, widened by the
  // window, still reaches the current begin. Begins only grow, so an object
  // that falls out never comes back.
  const double window = options.window_s / kSecondsPerDay;
  std::vector<Pair> pairs;
  std::vector<int> open;
  for (int i : order) {
    const PairingObject& o = objects[i];
    std::erase_if(open, [&](int j) { return objects[j].end_mjd_utc + window < o.begin_mjd_utc; });
    for (int j : open) {
      if (objects[j].station == o.station) continue;
      ++tally.compared;
      double convergence = 0.0;
      if (PlausiblePair(objects[j], o, options, &convergence)) {
        ++tally.plausible;
        pairs.push_back({j, i, convergence});
      }
    }
    open.push_back(i);
  }

  std::sort(pairs.begin(), pairs.end(), [](const Pair& x, const Pair& y) {
    if (x.convergence != y.convergence) return x.convergence > y.convergence;
    if (x.a != y.a) return x.a < y.a;
    return x.b < y.b;
  });
  Meteors sets(objects);
  std::vector<int> joined;
  for (const Pair& p : pairs) {
    if (!sets.Join(p.a, p.b)) {
      ++tally.refused;
      continue;
    }
    joined.push_back(p.a);
    joined.push_back(p.b);
  }

  // Members in begin order; meteors in the order of their first member.
  std::sort(joined.begin(), joined.end(), begins_before);
  joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
  std::unordered_map<int, int> meteor_of_root;
  std::vector<MultiStationMeteor> meteors;
  for (int i : joined) {
    const auto [it, added] = meteor_of_root.try_emplace(sets.Root(i), int(meteors.size()));
    if (added) meteors.emplace_back();
    meteors[it->second].objects.push_back(i);
  }
  if (counts) *counts = tally;
  return meteors;
}

}  // namespace mr4
