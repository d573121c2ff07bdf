// The detection phase on YUY2 frames of 720 x 480 and 1920 x 1080: the
// extraction and one ProcessField per iteration (one progressive field).
// Arguments: width, height, band workers (0: one core), sky: 0 = the sky
// lies below the background (nearly every difference is 0), 1 = the
// background is the sky's mean (about 45 % of the pixels have a difference
// of 1 .. 8, as on real video). Run with --benchmark_counters_tabular=true;
// "fields/s" is per context, summed over the contexts with threads:4.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/detector.h"
#include "base/process_values.h"

namespace mr4 {
namespace {

struct Scene {
  std::unique_ptr<AnalysisContext> c = std::make_unique<AnalysisContext>();
  std::vector<std::uint8_t> frame;
  FrameGeometry geometry;
  YuvTables tables = BuildYuvTables();

  Scene(int w, int h, int workers, int sky) {
    AllocateAnalysisContext(*c, workers);
    c->width = c->clip.width = w;
    c->height = c->clip.height = h;
    c->line_step = 1;
    c->min_region = 2;
    c->noise_level = 30;
    c->params.dlo = 10;
    geometry = {FrameFormat::kYuyv, w, h, 2};
    frame.resize(std::size_t(w) * h * 2);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(30, 45);
    for (std::size_t p = 0; p < frame.size(); p += 2) {
      frame[p] = static_cast<std::uint8_t>(noise(rng));
      frame[p + 1] = 128;
    }
    // A few bright stars and a meteor streak.
    for (int s = 0; s < 40; ++s) {
      const int x = (s * 97) % (w - 4), y = (s * 61) % (h - 4);
      for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx) frame[(std::size_t(y + dy) * w + x + dx) * 2] = 230;
    }
    for (int i = 0; i < 60; ++i) frame[(std::size_t(h / 2 + i / 3) * w + w / 4 + i) * 2] = 235;
    // Green of the sky: 16 .. 34.
    const float background = sky == 0 ? 38.0f : 25.3f;
    for (std::size_t p = 0; p < std::size_t(w) * h; ++p) c->background[p] = background;
    // A still sky: the previous frame is this one, so the noise does not
    // light pixels through the frame-to-frame rise.
    if (sky == 1)
      ToGreenPlane(geometry, frame, 0, h, {c->previous, std::size_t(w) * h}, tables);
  }
};

void BM_DetectionField(benchmark::State& state) {
  Scene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
              static_cast<int>(state.range(2)), static_cast<int>(state.range(3)));
  AnalysisContext& c = *scene.c;
  for (auto _ : state) {
    ExtractDetection(c, scene.geometry, scene.frame, scene.tables);
    ProcessField(c, 0);
    benchmark::DoNotOptimize(c.detection_count[0]);
  }
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["detections"] = c.detection_count[0];
}
BENCHMARK(BM_DetectionField)
    ->Args({720, 480, 0, 0})
    ->Args({1920, 1080, 0, 0})
    ->Args({720, 480, 3, 0})
    ->Args({1920, 1080, 3, 0})
    ->Args({720, 480, 0, 1})
    ->Args({1920, 1080, 0, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
// Four contexts at once, each on its own thread, bands on the caller.
BENCHMARK(BM_DetectionField)
    ->Args({720, 480, 0, 0})
    ->Args({1920, 1080, 0, 0})
    ->Args({720, 480, 0, 1})
    ->Args({1920, 1080, 0, 1})
    ->Threads(4)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
