// Blind calibration over the shipped catalogue: masks of the real sky as
// known cameras see it, solved from pointings that have nothing to do with
// the truth, and masks that hold no sky at all.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calib/blind_solve.h"
#include "calib/camera_model.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

const StarCatalogue& Catalogue() {
  static const StarCatalogue catalogue = [] {
    StarCatalogue c;
    LoadStarCatalogue(std::string(MR4_SOURCE_DIR) + "/data/Smap2000S.csv", c);
    return c;
  }();
  return catalogue;
}

// The 56 deg camera of the synthetic sky, pointed at (az, ev, rot).
CameraProfile NarrowCamera(float az, float ev, float rot) {
  CameraProfile p = testing::MakeSkyProfile();
  p.p_az = az, p.p_ev = ev, p.p_rot = rot;
  testing::Refresh(p);
  return p;
}

// An all-sky camera: 720 x 480, the horizon on a circle of 240 px radius
// when it looks at the zenith (equidistant lens, 90 deg at 240 px).
CameraProfile AllSkyCamera(float az, float ev, float rot) {
  CameraProfile p = testing::MakeSkyProfile();
  p.p_vx = 270.0f;
  p.p_k2 = p.p_k3 = p.p_k4 = 0.0f;
  p.p_az = az, p.p_ev = ev, p.p_rot = rot;
  testing::Refresh(p);
  return p;
}

// Blacks out the mask outside the round field of an all-sky lens, as its
// pictures are.
void BlackOutsideCircle(std::vector<std::uint8_t>& mask, int w, int h) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (std::hypot(x + 0.5 - w * 0.5, y + 0.5 - h * 0.5) > h * 0.5) {
        std::uint8_t* pixel = &mask[3 * (static_cast<std::size_t>(y) * w + x)];
        pixel[0] = pixel[1] = pixel[2] = 0;
      }
    }
  }
}

BlindSolveResult Solve(const CameraProfile& given, const std::vector<std::uint8_t>& mask,
                       int* mask_stars = nullptr) {
  CameraProfile p = given;
  StarData data;
  PrepareStarData(Catalogue(), p, mask, data);
  DetectMaskStars(Catalogue(), p, mask, data);
  if (mask_stars) *mask_stars = static_cast<int>(data.mask_stars.size());
  return BlindSolve(Catalogue(), p, data);
}

double WorstErrorDeg(const CameraProfile& solved, const CameraProfile& truth) {
  const double xs[] = {40.0, truth.cx * 0.5, truth.cx - 40.0};
  const double ys[] = {40.0, truth.cy * 0.5, truth.cy - 40.0};
  return testing::WorstDirectionErrorDeg(solved, truth, xs, ys);
}

TEST(BlindSolve, FindsThePointingFromNoGuess) {
  ASSERT_GT(Catalogue().count, 100000);
  struct Case {
    const char* name;
    CameraProfile truth;
    float given_az, given_ev, given_rot;
    float width_factor;  // given vx over the true one
    float faintest;      // of the stars in the mask
    bool round_field;
    double largest_error;  // over the frame, before any fine fit [deg]
  };
  const Case cases[] = {
      {"narrow, south-east", NarrowCamera(135, 45, 0), 300, 10, 90, 1.0f, 4.5f, false, 0.3},
      {"narrow, north, low, turned", NarrowCamera(350, 22, -35), 120, 80, 0, 1.0f, 4.5f, false, 0.3},
      {"narrow, near the zenith", NarrowCamera(60, 84, 170), 200, 30, -60, 1.0f, 4.5f, false, 0.3},
      {"narrow, west, few stars", NarrowCamera(262, 38, 12), 90, 60, 45, 1.0f, 3.8f, false, 0.3},
      {"width 20 % wide", NarrowCamera(135, 45, 0), 10, 20, 30, 1.2f, 4.5f, false, 0.3},
      {"width 20 % narrow", NarrowCamera(200, 55, -10), 10, 20, 30, 1.0f / 1.2f, 4.5f, false, 0.3},
      {"all-sky at the zenith", AllSkyCamera(0, 90, 25), 180, 45, 0, 1.0f, 3.0f, true, 0.8},
      {"all-sky tilted", AllSkyCamera(150, 75, -5), 0, 30, 0, 1.0f, 3.0f, true, 0.8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int drawn = 0;
    std::vector<std::uint8_t> mask = testing::RenderMask(Catalogue(), c.truth, c.faintest, &drawn);
    if (c.round_field) BlackOutsideCircle(mask, c.truth.cx, c.truth.cy);
    CameraProfile given = c.truth;
    given.p_az = c.given_az, given.p_ev = c.given_ev, given.p_rot = c.given_rot;
    given.p_vx = c.truth.p_vx * c.width_factor;
    testing::Refresh(given);

    const BlindSolveResult r = Solve(given, mask);
    ASSERT_TRUE(r.solved) << BlindSolveText(r) << " (" << drawn << " stars drawn)";
    EXPECT_LE(r.log10_chance, -9.0);
    EXPECT_GE(r.matched, kFewestCalibrationStars);
    ApplyBlindSolution(r, given);
    testing::Refresh(given);
    EXPECT_NEAR(given.p_vx, c.truth.p_vx, 0.02 * c.truth.p_vx) << BlindSolveText(r);
    EXPECT_LT(WorstErrorDeg(given, c.truth), c.largest_error) << BlindSolveText(r);
  }
}

// No sky in the picture: nothing, a few stars, or stars in places the sky
// has none (clouds lit by the town, noise, a mask of another sky).
TEST(BlindSolve, SaysWhenThereIsNoSolution) {
  const CameraProfile truth = NarrowCamera(135, 45, 0);
  const int w = truth.cx, h = truth.cy;
  const std::vector<std::uint8_t> black(static_cast<std::size_t>(w) * h * 3, 0);
  int bright_drawn = 0;
  const std::vector<std::uint8_t> few = testing::RenderMask(Catalogue(), truth, 2.6f, &bright_drawn);
  ASSERT_GT(bright_drawn, 0);
  ASSERT_LT(bright_drawn, kFewestCalibrationStars);
  const StarCatalogue scattered = testing::MakeUniformCatalogue(2000, 4.5f, 7);
  int scattered_drawn = 0;
  const std::vector<std::uint8_t> other_sky =
      testing::RenderMask(scattered, truth, 4.5f, &scattered_drawn);
  ASSERT_GE(scattered_drawn, 20);

  const struct {
    const char* name;
    const std::vector<std::uint8_t>* mask;
  } cases[] = {
      {"black", &black},
      {"fewer stars than a fit needs", &few},
      {"stars where the sky has none", &other_sky},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int stars = 0;
    const BlindSolveResult r = Solve(truth, *c.mask, &stars);
    EXPECT_FALSE(r.solved) << BlindSolveText(r);
    EXPECT_EQ(r.mask_stars, stars);
    const std::string text = BlindSolveText(r);
    EXPECT_EQ(text.rfind("no solution: " + std::to_string(stars) + " stars found, ", 0), 0u)
        << text;
  }
}

TEST(BlindSolve, AppliesOnlyASolution) {
  CameraProfile p = NarrowCamera(135, 45, 0);
  BlindSolveResult r;
  r.az = 10, r.ev = 20, r.rot = 30, r.vx = 40;
  ApplyBlindSolution(r, p);
  EXPECT_EQ(p.p_az, 135.0f);
  r.solved = true;
  ApplyBlindSolution(r, p);
  EXPECT_EQ(p.p_az, 10.0f);
  EXPECT_EQ(p.p_ev, 20.0f);
  EXPECT_EQ(p.p_rot, 30.0f);
  EXPECT_EQ(p.p_vx, 40.0f);
}

}  // namespace
}  // namespace mr4
