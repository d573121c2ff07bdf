// Pairing a year of a 1,000-camera network: 100 networks of 10 cameras
// each within 100 km of the network's centre, spread over the globe; about
// 14 meteors per network and night, each seen by one to three of its
// cameras, so about a million objects. A meteor's sights come from one of
// 40 meteors per network observed once through the cameras (true
// geometry) and repeated on every night a whole number of sidereal days
// later, where the sky stands as it did.
//
//   build-dir/tests/trajectory/bench_pairing
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/trajectory/synthetic_meteor.h"
#include "trajectory/pairing.h"

namespace mr4 {
namespace {

using test::ObserveMeteor;
using test::StationAt;
using test::SyntheticMeteor;
using test::SyntheticStation;

constexpr int kNetworks = 100;
constexpr int kCamerasPerNetwork = 10;
constexpr int kTemplatesPerNetwork = 40;
constexpr int kMeteorsPerNight = 14;
constexpr int kNights = 365;
constexpr double kSiderealDay = 0.99726957;  // days
constexpr double kSecondsPerDay = 86400.0;
constexpr double kFirstNight = 61000.0;

struct Template {
  std::vector<PairingObject> objects;  // one per camera that saw it
};

std::vector<Template> MakeTemplates(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Template> templates;
  for (int n = 0; n < kNetworks; ++n) {
    const double lat = -50.0 + 110.0 * u(rng);
    const double lng = -180.0 + 360.0 * u(rng);
    std::vector<SyntheticStation> cameras;
    for (int k = 0; k < kCamerasPerNetwork; ++k) {
      cameras.push_back(StationAt("c", lat, lng, 360.0 * u(rng), 100.0 * u(rng)));
    }
    for (int t = 0; t < kTemplatesPerNetwork; ++t) {
      SyntheticMeteor m;
      // Some time of the network's local night (about 10 h from 19 h local).
      m.mjd_utc = kFirstNight + (19.0 - lng / 15.0) / 24.0 + 10.0 / 24.0 * u(rng);
      const SyntheticStation at = StationAt("p", lat, lng, 360.0 * u(rng), 80.0 * u(rng));
      m.begin_lat_deg = at.lat_deg;
      m.begin_lng_deg = at.lng_deg;
      m.v_kms = 15.0 + 55.0 * u(rng);
      test::SetRadiantFromHorizon(&m, 360.0 * u(rng), 20.0 + 60.0 * u(rng));
      std::vector<SyntheticStation> seen = cameras;
      std::shuffle(seen.begin(), seen.end(), rng);
      seen.resize(1 + static_cast<int>(3.0 * u(rng)) % 3);
      Template tpl;
      std::mt19937_64 noise(t);
      for (const StationSight& s : ObserveMeteor(m, seen, noise)) {
        if (s.samples.size() < 2) continue;
        PairingObject o;
        o.station = n * kCamerasPerNetwork +
                    static_cast<int>(std::find_if(cameras.begin(), cameras.end(),
                                                  [&](const SyntheticStation& c) {
                                                    return c.lat_deg == s.lat_deg &&
                                                           c.lng_deg == s.lng_deg;
                                                  }) -
                                     cameras.begin());
        o.lng_deg = s.lng_deg;
        o.lat_deg = s.lat_deg;
        o.alt_m = s.alt_m;
        o.begin_mjd_utc = s.t_ref_mjd_utc + s.samples.front().t_s / kSecondsPerDay;
        o.end_mjd_utc = s.t_ref_mjd_utc + s.samples.back().t_s / kSecondsPerDay;
        o.begin_ra_deg = s.samples.front().ra_deg;
        o.begin_dec_deg = s.samples.front().dec_deg;
        o.end_ra_deg = s.samples.back().ra_deg;
        o.end_dec_deg = s.samples.back().dec_deg;
        tpl.objects.push_back(o);
      }
      if (!tpl.objects.empty()) templates.push_back(tpl);
    }
  }
  return templates;
}

std::vector<PairingObject> MakeYear() {
  std::mt19937_64 rng(2026);
  const std::vector<Template> templates = MakeTemplates(rng);
  std::uniform_int_distribution<std::size_t> pick(0, templates.size() - 1);
  std::vector<PairingObject> objects;
  for (int night = 0; night < kNights; ++night) {
    const double shift = night * kSiderealDay;
    for (int m = 0; m < kNetworks * kMeteorsPerNight; ++m) {
      for (PairingObject o : templates[pick(rng)].objects) {
        o.begin_mjd_utc += shift;
        o.end_mjd_utc += shift;
        objects.push_back(o);
      }
    }
  }
  return objects;
}

void BM_PairYearOfNetwork(benchmark::State& state) {
  const std::vector<PairingObject> objects = MakeYear();
  PairingCounts counts;
  std::size_t meteors = 0;
  for (auto _ : state) {
    meteors = PairObjects(objects, {}, &counts).size();
    benchmark::DoNotOptimize(meteors);
  }
  state.counters["objects"] = static_cast<double>(objects.size());
  state.counters["meteors"] = static_cast<double>(meteors);
  state.counters["compared"] = static_cast<double>(counts.compared);
  state.counters["plausible"] = static_cast<double>(counts.plausible);
}
BENCHMARK(BM_PairYearOfNetwork)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
