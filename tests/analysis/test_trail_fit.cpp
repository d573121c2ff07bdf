#include "analysis/trail_fit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/analysis/analysis_fixture.h"

namespace mr4 {
namespace {

// A track whose samples sit at the given sky positions, one per field.
Track& SkyTrack(AnalysisContext& c, const std::vector<std::pair<double, double>>& radec) {
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

}  // namespace
}  // namespace mr4
