// View page redraws per second: the picture composed with every overlay on
// (star mask, area, hits with their box, both grids, catalogue stars, the
// frame text and 20 clicks) and converted into the screen image, at the
// frame sizes of the usual cameras. Run by hand:
//   build/tests/calib/bench_view_picture
#include <benchmark/benchmark.h>

#include <QImage>
#include <cstdint>
#include <vector>

#include "analysis/view_picture.h"
#include "calib/page_smap.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

void BM_ComposeAndConvert(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  CameraProfile profile = testing::MakeSkyProfile();
  profile.cx = width;
  profile.cy = height;
  profile.p_u4_refmag = 6.0f;
  testing::Refresh(profile);
  const StarCatalogue catalogue = testing::MakeUniformCatalogue(9000, 6.5f, 11);
  VisibleStars visible;
  BuildVisibleStars(catalogue, profile, visible);
  AnalysisContext context(profile);

  const std::size_t bytes = std::size_t(width) * height * 3;
  std::vector<std::uint8_t> frame(bytes), still(bytes), mask(bytes, 0);
  for (std::size_t i = 0; i < bytes; ++i) frame[i] = still[i] = std::uint8_t(i * 7 % 61);
  // Star-mask and area pixels over a tenth of the frame, a marked trail.
  for (std::size_t p = 0; p < bytes / 3; p += 10) mask[p * 3] = (p / 10) % 2 ? 240 : 2;
  for (int x = width / 4; x < width / 2; ++x) {
    mask[(std::size_t(height / 2) * width + x) * 3 + 2] = 255;
  }
  ImageBuffer still_image{still, width, height}, mask_image{mask, width, height};
  std::vector<Click> clicks;
  for (int i = 0; i < 20; ++i) clicks.push_back(Click{float(30 + i * 25), float(40 + i * 15)});

  ViewPictureSource source;
  source.picture = frame;
  source.width = width;
  source.height = height;
  source.still = &still_image;
  source.mask = &mask_image;
  source.profile = &profile;
  source.visible = &visible;
  source.context = &context;
  source.frame_number = 12;
  source.clicks = &clicks;
  ViewSwitches switches{true, true, true, true, true, true, true, true};
  std::vector<std::uint8_t> bgr;
  QImage image;
  for (auto _ : state) {
    ComposeViewPicture(source, switches, bgr);
    ConvertViewPicture(bgr, width, height, image);
    benchmark::DoNotOptimize(image.constBits());
  }
  state.counters["frames/s"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeAndConvert)->Args({720, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
