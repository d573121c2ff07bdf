// Accuracy of the trajectory solver on synthetic meteors seen by two
// stations 40-100 km apart: random radiants above 15 deg elevation, speeds
// 11.5-72 km/s, heights 110 -> 80 km, 25 frames per second, every direction
// moved by Gaussian noise (60" per axis unless given). Prints the median
// and 90th percentile of the errors binned by the convergence angle. The
// reference of each meteor is the solution of its noise-free sights (exact
// to well under an arc second, see test_trajectory_solver), heights from
// the true path. Run by hand: eval_trajectory_accuracy [meteors] [noise"].
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "tests/trajectory/synthetic_meteor.h"
#include "trajectory/trajectory_solver.h"

using namespace mr4;

namespace {

double AngleDeg(double ra1, double dec1, double ra2, double dec2) {
  const double r1 = ra1 * kDegToRad, d1 = dec1 * kDegToRad;
  const double r2 = ra2 * kDegToRad, d2 = dec2 * kDegToRad;
  return ClampedAcos(std::sin(d1) * std::sin(d2) + std::cos(d1) * std::cos(d2) * std::cos(r1 - r2)) *
         kRadToDeg;
}

struct Errors {
  int meteors = 0, failed = 0;
  std::vector<double> geo, vg, hb, he, a_rel;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[k];
}

}  // namespace

int main(int argc, char** argv) {
  const int meteors = argc > 1 ? std::atoi(argv[1]) : 400;
  const double noise = argc > 2 ? std::atof(argv[2]) : 60.0;
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> uni(0.0, 1.0);
  const char* bin_names[] = {"<5", "5-10", "10-20", ">20"};
  Errors bins[4];
  TrajectoryOptions options;
  options.monte_carlo_runs = 0;
  for (int n = 0; n < meteors; ++n) {
    test::SyntheticMeteor m;
    m.mjd_utc = 61264.0 + uni(rng) * 300.0;
    const double mid_lat = 48.0 + 4.0 * uni(rng), mid_lng = 10.0 + 8.0 * uni(rng);
    const double base = 40.0 + 60.0 * uni(rng), bearing = 360.0 * uni(rng);
    std::vector<test::SyntheticStation> st = {
        test::StationAt("A_1", mid_lat, mid_lng, bearing, base / 2.0),
        test::StationAt("B_1", mid_lat, mid_lng, bearing + 180.0, base / 2.0)};
    for (auto& s : st) s.first_frame_s = -0.04 * uni(rng);
    const SpherePoint p = GroundDestination(mid_lng, mid_lat, 360.0 * uni(rng), 60.0 * uni(rng) / 6371.0 * kRadToDeg);
    m.begin_lat_deg = p.lat;
    m.begin_lng_deg = p.lon;
    m.begin_height_km = 110.0;
    m.end_height_km = 80.0;
    m.v_kms = 11.5 + (72.0 - 11.5) * uni(rng);
    const double ev = std::asin(std::sin(15.0 * kDegToRad) + (1.0 - std::sin(15.0 * kDegToRad)) * uni(rng)) * kRadToDeg;
    test::SetRadiantFromHorizon(&m, 360.0 * uni(rng), ev);

    std::mt19937_64 quiet(1);
    test::ObservedTrack track;
    const auto clean = test::ObserveMeteor(m, st, quiet, &track);
    if (clean[0].samples.size() < 3 || clean[1].samples.size() < 3) continue;
    const TrajectorySolution ref = SolveTrajectory(clean, options);
    if (!ref.ok) continue;
    for (auto& s : st) s.noise_arcsec = noise;
    const auto noisy = test::ObserveMeteor(m, st, rng);
    const TrajectorySolution sol = SolveTrajectory(noisy, options);
    const double q = ref.max_convergence_deg;
    Errors& b = bins[q < 5 ? 0 : q < 10 ? 1 : q < 20 ? 2 : 3];
    ++b.meteors;
    if (!sol.ok || !std::isfinite(sol.vg_kms)) {
      ++b.failed;
      continue;
    }
    b.geo.push_back(AngleDeg(sol.geo_ra_deg, sol.geo_dec_deg, ref.geo_ra_deg, ref.geo_dec_deg));
    b.vg.push_back(std::abs(sol.vg_kms - ref.vg_kms));
    b.hb.push_back(std::abs(sol.begin_height_km - track.begin_height_km));
    b.he.push_back(std::abs(sol.end_height_km - track.end_height_km));
    if (ref.a_au > 0.0) b.a_rel.push_back(std::abs(sol.a_au - ref.a_au) / ref.a_au * 100.0);
  }
  std::printf("noise %.0f\" per axis, 25 fps, two stations 40-100 km apart\n", noise);
  std::printf("| convergence (deg) | meteors | failed | geo radiant (deg) | vg (km/s) | begin h (km) | end h (km) | a (%%, bound) |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (int i = 0; i < 4; ++i) {
    const Errors& b = bins[i];
    std::printf("| %s | %d | %d | %.3f / %.3f | %.3f / %.3f | %.3f / %.3f | %.3f / %.3f | %.1f / %.1f |\n",
                bin_names[i], b.meteors, b.failed, Percentile(b.geo, 0.5), Percentile(b.geo, 0.9),
                Percentile(b.vg, 0.5), Percentile(b.vg, 0.9), Percentile(b.hb, 0.5), Percentile(b.hb, 0.9),
                Percentile(b.he, 0.5), Percentile(b.he, 0.9), Percentile(b.a_rel, 0.5),
                Percentile(b.a_rel, 0.9));
  }
  std::printf("(each cell: median / 90th percentile of the absolute error)\n");
  return 0;
}
