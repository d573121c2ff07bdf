// Redraws of the trail map per second: a 1000 x 800 chart with the shipped
// star catalogue down to magnitude 6 (or 3.5), the grid, the ecliptic and
// 200 switched-on objects with their extensions. Run by hand.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "maps/trail_map.h"
#include "base/shipped_data.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

const StarCatalogue& Catalogue() {
  static StarCatalogue catalogue = [] {
    StarCatalogue c;
    if (!LoadStarCatalogue(ShippedDataDirectory() / kStarCatalogueFileName, c)) {
      std::fprintf(stderr, "no star catalogue\n");
    }
    return c;
  }();
  return catalogue;
}

void BM_DrawTrailMap(benchmark::State& state) {
  Table objects(kObjSchema);
  for (int i = 0; i < 200; ++i) {
    const int row = objects.AppendRow();
    objects.SetFloat(row, obj::kRa1, 300.0f + i % 60);
    objects.SetFloat(row, obj::kDc1, -20.0f + i % 40);
    objects.SetFloat(row, obj::kRa2, 303.0f + i % 60);
    objects.SetFloat(row, obj::kDc2, -25.0f + i % 40);
    objects.SetFloat(row, obj::kAv1, 40.0f);
    objects.SetFloat(row, obj::kEv1, 45.0f);
    objects.SetText(row, obj::kClass, "spo");
    objects.SetUint(row, obj::kSel, 1);
  }
  TrailMapInput in;
  in.frame = ChartFrame{1000, 800, 1, 1, 330, 0, 0, 120};
  in.mag = state.range(0) / 10.0;
  in.clip.year = 2024;
  in.clip.month = 8;
  in.clip.day = 12;
  in.catalogue = &Catalogue();
  in.objects = &objects;
  std::vector<std::uint8_t> bgr;
  for (auto _ : state) {
    DrawTrailMap(in, bgr);
    benchmark::DoNotOptimize(bgr.data());
  }
  state.counters["stars"] = Catalogue().count;
}
BENCHMARK(BM_DrawTrailMap)->Arg(35)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
