#include "trajectory/pairing.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/trajectory/synthetic_meteor.h"

namespace mr4 {
namespace {

using test::ObserveMeteor;
using test::StationAt;
using test::SyntheticMeteor;
using test::SyntheticStation;

constexpr double kSecondsPerDay = 86400.0;
// 2026-08-12 23:00 UTC over central Europe.
constexpr double kNight = 61264.0 + 23.0 / 24.0;

SyntheticMeteor Meteor(double az, double ev, double lat = 50.0, double lng = 15.0,
                       double mjd = kNight) {
  SyntheticMeteor m;
  m.mjd_utc = mjd;
  m.begin_lat_deg = lat;
  m.begin_lng_deg = lng;
  m.v_kms = 35.0;
  test::SetRadiantFromHorizon(&m, az, ev);
  return m;
}

// Three stations about 50 km around the point under the meteor.
std::vector<SyntheticStation> Stations() {
  std::vector<SyntheticStation> s = {StationAt("A_1", 50.0, 15.0, 0.0, 50.0),
                                     StationAt("B_1", 50.0, 15.0, 120.0, 60.0),
                                     StationAt("C_1", 50.0, 15.0, 240.0, 45.0)};
  return s;
}

// The object a station's analysis leaves: its first and last sample.
PairingObject ObjectOf(const StationSight& sight, int station, double shift_s = 0.0) {
  PairingObject o;
  o.station = station;
  o.lng_deg = sight.lng_deg;
  o.lat_deg = sight.lat_deg;
  o.alt_m = sight.alt_m;
  const SightSample& first = sight.samples.front();
  const SightSample& last = sight.samples.back();
  o.begin_mjd_utc = sight.t_ref_mjd_utc + (first.t_s + shift_s) / kSecondsPerDay;
  o.end_mjd_utc = sight.t_ref_mjd_utc + (last.t_s + shift_s) / kSecondsPerDay;
  o.begin_ra_deg = first.ra_deg;
  o.begin_dec_deg = first.dec_deg;
  o.end_ra_deg = last.ra_deg;
  o.end_dec_deg = last.dec_deg;
  return o;
}

// The sights of `meteor` from `stations`, one object per station (station
// numbers 0, 1, ...).
std::vector<PairingObject> Objects(const SyntheticMeteor& meteor,
                                   const std::vector<SyntheticStation>& stations) {
  std::mt19937_64 rng(7);
  const std::vector<StationSight> sights = ObserveMeteor(meteor, stations, rng);
  std::vector<PairingObject> objects;
  for (std::size_t k = 0; k < sights.size(); ++k) {
    EXPECT_GE(sights[k].samples.size(), 2u) << stations[k].name;
    objects.push_back(ObjectOf(sights[k], static_cast<int>(k)));
  }
  return objects;
}

std::vector<std::vector<int>> Groups(const std::vector<MultiStationMeteor>& meteors) {
  std::vector<std::vector<int>> g;
  for (const MultiStationMeteor& m : meteors) g.push_back(m.objects);
  return g;
}

struct Case {
  const char* name;
  std::vector<PairingObject> objects;
  std::vector<std::vector<int>> expected;
};

TEST(PairObjects, JoinsObjectsOfOneMeteorAndNothingElse) {
  const SyntheticMeteor meteor = Meteor(60.0, 45.0);
  const std::vector<PairingObject> three = Objects(meteor, Stations());
  const std::vector<PairingObject> two(three.begin(), three.begin() + 2);

  // The second station's object moved in time (a clock off, or another
  // meteor's time).
  const auto shifted = [&](double seconds) {
    std::vector<PairingObject> o = two;
    const double d = seconds / kSecondsPerDay;
    o[1].begin_mjd_utc += d;
    o[1].end_mjd_utc += d;
    return o;
  };
  const double duration_s = (two[1].end_mjd_utc - two[1].begin_mjd_utc) * kSecondsPerDay;

  // Both objects from one station: never one meteor.
  std::vector<PairingObject> same_station = two;
  same_station[1].station = same_station[0].station;

  // The second station looks at another meteor far from the first at the
  // same time: the planes meet, but not between 20 and 200 km.
  std::vector<PairingObject> other_meteor = two;
  {
    const std::vector<PairingObject> far = Objects(Meteor(250.0, 30.0, 48.0, 17.5), Stations());
    other_meteor[1] = far[1];
    other_meteor[1].begin_mjd_utc = two[1].begin_mjd_utc;
    other_meteor[1].end_mjd_utc = two[1].end_mjd_utc;
  }

  // A station beyond the baseline limit is never compared.
  std::vector<PairingObject> distant = two;
  distant[1].lat_deg += 20.0;

  // Two unrelated meteors a minute apart, each seen by two stations.
  std::vector<PairingObject> two_meteors = two;
  {
    const std::vector<PairingObject> later =
        Objects(Meteor(200.0, 50.0, 50.1, 15.1, kNight + 60.0 / kSecondsPerDay), Stations());
    two_meteors.push_back(later[2]);
    two_meteors.push_back(later[0]);
  }

  // Two objects of one station near the time of a second station's: the
  // station gives the one whose geometry fits.
  std::vector<PairingObject> rival = two;
  rival.push_back(other_meteor[1]);
  rival.back().station = 0;

  const Case cases[] = {
      {"two stations, one meteor", two, {{0, 1}}},
      {"three stations join one meteor", three, {{0, 1, 2}}},
      {"same station twice", same_station, {}},
      {"clocks 1.9 s apart, inside the window", shifted(duration_s + 1.9), {{0, 1}}},
      {"spans 2.1 s apart, outside the window", shifted(duration_s + 2.1), {}},
      // Members in begin order: the shifted object comes first.
      {"begin 2.1 s before, still overlapping", shifted(-2.1), {{1, 0}}},
      {"implausible geometry", other_meteor, {}},
      {"stations too far apart", distant, {}},
      {"two meteors, two pairs", two_meteors, {{0, 1}, {2, 3}}},
      {"one object per station", rival, {{0, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Groups(PairObjects(c.objects)), c.expected);
  }
}

TEST(PairObjects, OrderOfTheInputDoesNotMatter) {
  const std::vector<PairingObject> three = Objects(Meteor(60.0, 45.0), Stations());
  const std::vector<PairingObject> reversed(three.rbegin(), three.rend());
  // Members come in begin order, whatever the input's order.
  std::vector<int> expected = PairObjects(three).at(0).objects;
  for (int& i : expected) i = 2 - i;
  const std::vector<MultiStationMeteor> got = PairObjects(reversed);
  ASSERT_EQ(got.size(), 1u);
  std::vector<int> sorted_got = got[0].objects, sorted_expected = expected;
  std::sort(sorted_got.begin(), sorted_got.end());
  std::sort(sorted_expected.begin(), sorted_expected.end());
  EXPECT_EQ(sorted_got, sorted_expected);
  for (std::size_t k = 1; k < got[0].objects.size(); ++k) {
    EXPECT_LE(reversed[got[0].objects[k - 1]].begin_mjd_utc,
              reversed[got[0].objects[k]].begin_mjd_utc);
  }
}

// The sweep keeps an object open as long as its end, widened by the window,
// reaches later begins: a long object still pairs with one that begins
// after shorter objects in between have been closed.
TEST(PairObjects, LongObjectStaysOpenPastShorterOnes) {
  const std::vector<PairingObject> three = Objects(Meteor(60.0, 45.0), Stations());
  std::vector<PairingObject> objects = {three[0], three[1]};
  // Station A's object lasts 10 s; station B's begins 8 s later.
  objects[0].end_mjd_utc = objects[0].begin_mjd_utc + 10.0 / kSecondsPerDay;
  const double d = 8.0 / kSecondsPerDay;
  objects[1].begin_mjd_utc = objects[0].begin_mjd_utc + d;
  objects[1].end_mjd_utc = objects[1].begin_mjd_utc + 0.5 / kSecondsPerDay;
  // Short objects of a third station in between, far from any meteor.
  for (int k = 1; k <= 5; ++k) {
    PairingObject noise = three[2];
    noise.station = 2;
    noise.begin_mjd_utc = objects[0].begin_mjd_utc + k / kSecondsPerDay;
    noise.end_mjd_utc = noise.begin_mjd_utc + 0.1 / kSecondsPerDay;
    noise.begin_ra_deg = noise.end_ra_deg + 180.0;
    noise.begin_dec_deg = -noise.end_dec_deg;
    objects.push_back(noise);
  }
  PairingCounts counts;
  EXPECT_EQ(Groups(PairObjects(objects, {}, &counts)), (std::vector<std::vector<int>>{{0, 1}}));
  EXPECT_GE(counts.compared, 1);
  EXPECT_EQ(counts.plausible, 1);
}

TEST(PairObjects, OptionsMoveTheLimits) {
  const std::vector<PairingObject> two = [] {
    std::vector<PairingObject> o = Objects(Meteor(60.0, 45.0), Stations());
    o.resize(2);
    return o;
  }();
  double convergence = 0.0;
  ASSERT_TRUE(PlausiblePair(two[0], two[1], {}, &convergence));
  EXPECT_GT(convergence, 1.0);

  PairingOptions strict;
  strict.min_convergence_deg = convergence + 0.5;
  EXPECT_FALSE(PlausiblePair(two[0], two[1], strict));
  PairingOptions low_ceiling;
  low_ceiling.max_height_km = 60.0;  // the meteor burns from 110 to 80 km
  EXPECT_FALSE(PlausiblePair(two[0], two[1], low_ceiling));
  PairingOptions short_baseline;
  short_baseline.max_baseline_km = 10.0;
  EXPECT_FALSE(PlausiblePair(two[0], two[1], short_baseline));

  std::vector<PairingObject> late = two;
  late[1].begin_mjd_utc = late[0].end_mjd_utc + 4.0 / kSecondsPerDay;
  late[1].end_mjd_utc = late[1].begin_mjd_utc + 0.5 / kSecondsPerDay;
  PairingOptions wide;
  wide.window_s = 5.0;
  EXPECT_TRUE(PairObjects(late).empty());
  EXPECT_EQ(PairObjects(late, wide).size(), 1u);
}

TEST(PairObjects, EmptyAndSingleInputs) {
  EXPECT_TRUE(PairObjects({}).empty());
  const std::vector<PairingObject> three = Objects(Meteor(60.0, 45.0), Stations());
  EXPECT_TRUE(PairObjects(std::span(three.data(), 1)).empty());
  // An object without extent in time or on the sky gives no plane.
  std::vector<PairingObject> point = {three[0], three[1]};
  point[1].end_ra_deg = point[1].begin_ra_deg;
  point[1].end_dec_deg = point[1].begin_dec_deg;
  EXPECT_TRUE(PairObjects(point).empty());
}

}  // namespace
}  // namespace mr4
