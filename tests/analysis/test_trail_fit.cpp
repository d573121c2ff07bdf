#include "analysis/trail_fit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/analysis/analysis_fixture.h"
#include "tests/analysis/sky_trail.h"

namespace mr4 {
namespace {

// A track whose samples sit at the given sky positions, one per field
// (taken as they are, not measured).
Track& SkyTrack(AnalysisContext& c, const std::vector<std::pair<double, double>>& radec) {
  c.sky_positions_given = true;
  Track& t = c.tracks[0];
  t.sample_count = 0;
  for (std::size_t i = 0; i < radec.size(); ++i) {
    Detection& d = c.DetectionAt(static_cast<int>(i), 0);
    d = Detection{};
    d.ra = radec[i].first;
    d.dec = radec[i].second;
    t.samples[t.sample_count++] = static_cast<int>(i) * kDetectionsPerField;
  }
  return t;
}

TEST(FitGreatCircle, EquatorTrailHasThePolarPole) {
  auto c = testing::SmallContext(64, 64);
  Track& t = SkyTrack(*c, {{10, 0}, {12, 0}, {14, 0}, {16, 0}});
  const GreatCircleFit fit = FitGreatCircle(*c, t, 0);
  EXPECT_NEAR(std::fabs(t.pole_dec), 90, 1e-6);
  EXPECT_NEAR(fit.mean_residual, 0, 1e-4);
  EXPECT_EQ(fit.orientation, 1);
  EXPECT_EQ(t.passed_count, 4);
}

// Samples at one place give no direction: the pole is still a unit vector
// (a circle through the place) and the residuals 0, never NaN, which the
// result file would carry.
TEST(FitGreatCircle, SamplesAtOnePlaceGiveACircleThroughIt) {
  struct Case {
    const char* what;
    std::vector<std::pair<double, double>> samples;
  };
  const Case cases[] = {
      {"one sample", {{124.36, -2.386}}},
      {"three samples at one place", {{124.36, -2.386}, {124.36, -2.386}, {124.36, -2.386}}},
      {"one sample on the celestial pole", {{0.0, 90.0}}},
      {"one sample at 0h on the equator", {{0.0, 0.0}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto c = testing::SmallContext(64, 64);
    Track& t = SkyTrack(*c, k.samples);
    const GreatCircleFit fit = FitGreatCircle(*c, t, 0);
    EXPECT_NEAR(std::hypot(fit.nx, fit.ny, fit.nz), 1.0, 1e-12);
    EXPECT_TRUE(std::isfinite(t.pole_ra) && std::isfinite(t.pole_dec))
        << t.pole_ra << " " << t.pole_dec;
    EXPECT_NEAR(fit.mean_residual, 0.0, 1e-3);
    for (std::size_t i = 0; i < k.samples.size(); ++i) {
      EXPECT_NEAR(c->DetectionAt(static_cast<int>(i), 0).err, 0.0, 1e-3) << i;
    }
  }
}

TEST(FitGreatCircle, OrientationAcrossZeroHours) {
  struct Case {
    std::vector<std::pair<double, double>> samples;
    int flag;
  };
  const Case cases[] = {
      {{{359.5, 10}, {0.0, 10.2}, {0.5, 10.4}}, 1},          // east-west across 0h
      {{{354, 20}, {358, 20.5}, {2, 21}, {6, 21.5}}, 1},     // 12 degrees across 0h
      {{{100, 10}, {100.2, 12}, {100.4, 14}}, 0},            // north-south
      {{{30, 79}, {40, 81}, {50, 82}}, -1},                  // near the pole
  };
  for (const Case& k : cases) {
    auto c = testing::SmallContext(64, 64);
    Track& t = SkyTrack(*c, k.samples);
    EXPECT_EQ(FitGreatCircle(*c, t, 0).orientation, k.flag) << k.samples[0].first;
  }
}

TEST(FitGreatCircle, LimitExcludesSamplesAndAllExcludedGivesMinusOne) {
  auto c = testing::SmallContext(64, 64);
  Track& t = SkyTrack(*c, {{10, 0}, {12, 0}, {14, 3}, {16, 0}, {18, 0}});
  FitGreatCircle(*c, t, 0);
  const double worst = c->DetectionAt(2, 0).err;
  EXPECT_GT(worst, 0.5);
  FitGreatCircle(*c, t, worst * 0.99);
  EXPECT_EQ(c->DetectionAt(2, 0).pass, 0);
  EXPECT_EQ(t.passed_count, 4);
  for (int i = 0; i < 5; ++i) c->DetectionAt(i, 0).err = 5;
  EXPECT_EQ(FitGreatCircle(*c, t, 1).mean_residual, -1);
  EXPECT_EQ(t.passed_count, 0);
  t.sample_count = 0;
  EXPECT_EQ(FitGreatCircle(*c, t, 0).mean_residual, -1);
}

TEST(FitGreatCircle, MeasuresTheSamplesThroughTheProfile) {
  // Samples on the circle through (320, 40) heading 120 deg, placed in the
  // frame by a 20 deg camera: the fit finds them back on the sky.
  auto c = testing::SmallContext(720, 480);
  c->field_rate = 30;
  c->profile = testing::PointedProfile(322, 39, 20);
  const testing::TrueTrail truth = testing::PlaceTrail(*c, 320, 40, 120, 15, 10, 20);
  Track& t = c->tracks[0];
  t.sample_count = 0;
  for (int f : truth.fields) t.samples[t.sample_count++] = f * kDetectionsPerField;
  const GreatCircleFit fit = FitGreatCircle(*c, t, 0);
  EXPECT_LT(fit.mean_residual, 1e-3);
  EXPECT_EQ(t.passed_count, 10);
  for (int i = 0; i < 10; ++i) {
    const Detection& s = c->Sample(t.samples[i]);
    EXPECT_NEAR(s.ra, truth.sky[i].lon, 1e-3) << i;
    EXPECT_NEAR(s.dec, truth.sky[i].lat, 1e-3) << i;
  }
  // The pole is 90 deg from every point of the true circle.
  for (const SpherePoint& p : {truth.sky.front(), truth.sky.back()}) {
    const double d = AngularDistance(static_cast<float>(t.pole_ra), static_cast<float>(t.pole_dec),
                                     static_cast<float>(p.lon), static_cast<float>(p.lat)) *
                     180 / 3.14159265358979323846;
    EXPECT_NEAR(d, 90, 1e-3);
  }
}

}  // namespace
}  // namespace mr4
