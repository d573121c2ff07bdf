// AdjustAll ("adj pos all") on 30 and 150 linked stars: exact pairs drawn
// through a known profile, the start off by a degree in az and ev, half a
// degree in rot and 2% in vx. Reports the iterations and the residual left.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "calib/camera_model.h"
#include "calib/profile_fit.h"
#include "calib/star_match.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

std::vector<LinkedPair> SpreadPairs(const CameraProfile& truth, int n) {
  std::vector<LinkedPair> pairs;
  // A golden-angle spiral over the frame, so any count covers it evenly.
  for (int i = 0; static_cast<int>(pairs.size()) < n; ++i) {
    const double r = std::sqrt((i + 0.5) / n) * 0.48;
    const double a = i * 2.399963229728653;
    const double x = truth.cx * (0.5 + r * std::cos(a));
    const double y = truth.cy * (0.5 + r * std::sin(a));
    const HorizontalPoint sky = PixelToHorizontal(truth, x, y);
    pairs.push_back({x, y, sky.az, sky.ev});
  }
  return pairs;
}

void BM_AdjustAll(benchmark::State& state) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<LinkedPair> pairs = SpreadPairs(truth, static_cast<int>(state.range(0)));
  AdjustResult result;
  for (auto _ : state) {
    CameraProfile p = truth;
    p.p_az += 1.0f;
    p.p_ev -= 1.0f;
    p.p_rot += 0.5f;
    p.p_vx *= 1.02f;
    BuildDistortionTable(p);
    result = AdjustAll(p, pairs, FitSwitches{});
    benchmark::DoNotOptimize(result);
  }
  state.counters["iterations"] = result.iterations;
  state.counters["residual_px"] = result.residual;
}
BENCHMARK(BM_AdjustAll)->Arg(30)->Arg(150)->Unit(benchmark::kMillisecond);

void BM_MeanPixelResidual(benchmark::State& state) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<LinkedPair> pairs = SpreadPairs(truth, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(MeanPixelResidual(truth, pairs));
}
BENCHMARK(BM_MeanPixelResidual)->Arg(30)->Arg(150);

// Projecting the whole shipped catalogue (118,216 stars) into the frame.
void BM_BuildVisibleStars(benchmark::State& state) {
  StarCatalogue catalogue;
  if (!LoadStarCatalogue(std::string(MR4_SOURCE_DIR) + "/data/Smap2000S.csv", catalogue)) {
    state.SkipWithError("no catalogue");
    return;
  }
  const CameraProfile profile = testing::MakeSkyProfile();
  VisibleStars visible;
  for (auto _ : state) benchmark::DoNotOptimize(BuildVisibleStars(catalogue, profile, visible));
  state.counters["visible"] = static_cast<double>(visible.entries.size());
}
BENCHMARK(BM_BuildVisibleStars)->Unit(benchmark::kMillisecond);

// The coarse pointing search on the shipped catalogue (refmag 4) and a mask
// of its stars, from 10 deg off in az and ev and 5 deg in rot.
void BM_SearchPointing(benchmark::State& state) {
  StarCatalogue catalogue;
  if (!LoadStarCatalogue(std::string(MR4_SOURCE_DIR) + "/data/Smap2000S.csv", catalogue)) {
    state.SkipWithError("no catalogue");
    return;
  }
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<std::uint8_t> mask = testing::RenderMask(catalogue, truth, 4.0f);
  CameraProfile p = truth;
  StarData data;
  PrepareStarData(catalogue, p, mask, data);
  DetectMaskStars(catalogue, p, mask, data);
  double error = 0.0;
  for (auto _ : state) {
    p = truth;
    p.p_az += 10.0f;
    p.p_ev += 10.0f;
    p.p_rot += 5.0f;
    benchmark::DoNotOptimize(SearchPointing(catalogue, p, data.mask_stars));
    error = std::fabs(p.p_az - truth.p_az) + std::fabs(p.p_ev - truth.p_ev) +
            std::fabs(p.p_rot - truth.p_rot);
  }
  state.counters["mask_stars"] = static_cast<double>(data.mask_stars.size());
  state.counters["off_deg"] = error;  // |daz| + |dev| + |drot| left
}
BENCHMARK(BM_SearchPointing)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
