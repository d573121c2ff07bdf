// Redraws of the ground map per second: a 1000 x 800 picture over the
// shipped base map at zoom 4 and 10, colour and black and white, with one
// profile's outline (three rows and three columns of a 720 x 480 frame)
// and 200 object tracks. Run by hand.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

#include "maps/ground_map_view.h"
#include "base/shipped_data.h"

namespace mr4 {
namespace {

const GroundRaster& Shipped() {
  static GroundRaster raster = [] {
    GroundRaster r;
    if (!LoadGroundMap(ShippedDataDirectory() / "GMe136n34_16.DAT", r)) {
      std::fprintf(stderr, "no base map\n");
    }
    return r;
  }();
  return raster;
}

void BM_DrawGroundMap(benchmark::State& state) {
  GroundMapInput in;
  in.raster = &Shipped();
  in.width = 1000;
  in.height = 800;
  in.zoom = static_cast<double>(state.range(0));
  in.bw = state.range(1) != 0;
  GroundMapProfile prof;
  prof.station = GroundStation{139.5, 35.6, 50.0};
  prof.pixel_to_horizontal = [](double x, double y) {
    return HorizontalPoint{200.0 + (x - 360.0) / 10.0, 40.0 + (y - 240.0) / 10.0};
  };
  prof.samples = OutlineSamples(720, 480, true, false, 2, nullptr);
  prof.centre_x = 360;
  prof.centre_y = 240;
  in.profiles.push_back(prof);
  for (int i = 0; i < 200; ++i) {
    GroundTrack t;
    t.lng = 139.5;
    t.lat = 35.6;
    t.lng1 = 138.0 + i % 20 * 0.1;
    t.lat1 = 34.0 + i % 10 * 0.1;
    t.lng2 = t.lng1 + 0.3;
    t.lat2 = t.lat1 - 0.2;
    in.tracks.push_back(t);
  }
  GroundMapPicture picture;
  for (auto _ : state) {
    DrawGroundMap(in, picture);
    benchmark::DoNotOptimize(picture.bgr.data());
  }
}
BENCHMARK(BM_DrawGroundMap)->Args({4, 0})->Args({4, 1})->Args({10, 0})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
