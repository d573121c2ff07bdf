// Meteors solved per second (one core): a 60 km baseline, a 1 s meteor at
// 25 fps seen by both stations with 60" noise; with and without the
// Monte Carlo's 100 runs. Run by hand, not by ctest.
#include <random>

#include <benchmark/benchmark.h>

#include "tests/trajectory/synthetic_meteor.h"
#include "trajectory/trajectory_solver.h"

namespace {

std::vector<mr4::StationSight> Sights() {
  mr4::test::SyntheticMeteor m;
  m.mjd_utc = 61264.95;
  m.begin_lat_deg = 50.0;
  m.begin_lng_deg = 15.0;
  m.v_kms = 35.0;
  mr4::test::SetRadiantFromHorizon(&m, 120.0, 40.0);
  std::vector<mr4::test::SyntheticStation> st = {mr4::test::StationAt("A_1", 50.0, 15.0, 0.0, 30.0),
                                                 mr4::test::StationAt("B_1", 50.0, 15.0, 180.0, 30.0)};
  for (auto& s : st) s.noise_arcsec = 60.0;
  std::mt19937_64 rng(3);
  return mr4::test::ObserveMeteor(m, st, rng);
}

void BM_Solve(benchmark::State& state) {
  const auto sights = Sights();
  mr4::TrajectoryOptions options;
  options.monte_carlo_runs = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(mr4::SolveTrajectory(sights, options));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Solve)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_IntersectPlanes(benchmark::State& state) {
  const auto sights = Sights();
  for (auto _ : state) benchmark::DoNotOptimize(mr4::IntersectPlanes(sights[0], sights[1]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IntersectPlanes)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
