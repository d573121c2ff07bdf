// The result picture of an analysed context: the colour of a pixel from
// the analysis mask, the background and the marker image; the detection
// marks; the mask stars' marks while other clips still run.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "analysis/result_pictures.h"
#include "tests/analysis/analysis_fixture.h"

namespace mr4 {
namespace {

using Bgr = std::array<int, 3>;

constexpr int kW = 32, kH = 24;

Bgr At(const std::vector<std::uint8_t>& bgr, int x, int y) {
  const std::size_t i = (std::size_t(y) * kW + x) * 3;
  return {bgr[i], bgr[i + 1], bgr[i + 2]};
}

MaskPageSwitches NoExtras() {
  MaskPageSwitches s;
  s.stars = false;
  s.graphs = false;
  s.residuals = false;
  s.hits = false;
  return s;
}

TEST(ResultPicture, PixelColours) {
  struct Case {
    const char* what;
    int mask;
    float background;
    int marker;
    bool parallel;
    bool hits;
    Bgr expected;
  };
  const Case cases[] = {
      {"unmasked: grey at the background, truncated", 0, 100.7f, 0, false, false, {100, 100, 100}},
      {"background below 0", 0, -3.0f, 0, false, false, {0, 0, 0}},
      {"background above 255", 0, 300.0f, 0, false, false, {255, 255, 255}},
      {"centroid marker: cyan", 0, 100.0f, 255, false, false, {255, 255, 100}},
      {"region marker: magenta", 0, 100.0f, 120, false, false, {120, 100, 120}},
      {"region marker, parallel with h: cyan", 0, 100.0f, 120, true, true, {255, 255, 100}},
      {"region marker, parallel without h", 0, 100.0f, 120, true, false, {120, 100, 120}},
      {"region marker, sequential with h", 0, 100.0f, 120, false, true, {120, 100, 120}},
      {"outside the detection area", 4, 100.0f, 0, false, false, {120, 120, 100}},
      {"outside, bright background", 4, 250.0f, 0, false, false, {255, 255, 250}},
      {"outside, a marker does not show", 4, 100.0f, 255, true, true, {120, 120, 100}},
  };
  auto c = testing::SmallContext(kW, kH);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::size_t i = std::size_t(2) * kW + 3;  // (3, 2): far from every mark
    c->mask[i] = static_cast<std::uint8_t>(k.mask);
    c->background[i] = k.background;
    c->marker[i] = static_cast<std::uint8_t>(k.marker);
    MaskPageSwitches switches = NoExtras();
    switches.hits = k.hits;
    std::vector<std::uint8_t> bgr;
    ComposeResultPicture({c.get(), nullptr, nullptr, k.parallel, false}, switches, bgr);
    ASSERT_EQ(bgr.size(), std::size_t(kW) * kH * 3);
    EXPECT_EQ(At(bgr, 3, 2), k.expected);
  }
}

TEST(ResultPicture, EveryDetectionIsMarked) {
  auto c = testing::SmallContext(kW, kH);
  c->detection_count[0] = 1;
  c->detection_count[7] = 1;
  Detection& fitted = c->DetectionAt(0, 0);
  fitted.x = 6.5;
  fitted.y = 5.5;
  fitted.object = 0;
  fitted.pass = 1;
  Detection& other = c->DetectionAt(7, 0);
  other.x = 25.5;
  other.y = 18.5;
  other.object = 0;
  other.pass = 0;
  std::vector<std::uint8_t> bgr;
  ComposeResultPicture({c.get(), nullptr, nullptr, true, true}, NoExtras(), bgr);
  EXPECT_EQ(At(bgr, 6, 5), (Bgr{80, 80, 255})) << "a fitted sample in red";
  EXPECT_EQ(At(bgr, 9, 5), (Bgr{80, 80, 255})) << "its arm reaches 3 px";
  EXPECT_EQ(At(bgr, 25, 18), (Bgr{0, 255, 255})) << "a detection of a later field in yellow";
  EXPECT_EQ(At(bgr, 25, 21), (Bgr{0, 255, 255}));
  EXPECT_EQ(At(bgr, 10, 5), (Bgr{0, 0, 0})) << "nothing beyond the arm";
  EXPECT_EQ(At(bgr, 16, 12), (Bgr{255, 255, 0})) << "the optical centre";
}

// A linked mask star is marked after a sequential run and, while other
// clips of a parallel run still go on, only with "s".
TEST(ResultPicture, MaskStarMarksWhileOthersRun) {
  auto c = testing::SmallContext(kW, kH);
  for (std::size_t i = 0; i < std::size_t(kW) * kH; ++i) c->background[i] = 40.0f;
  MaskStar star;
  star.x = 5.2;
  star.y = 19.7;
  star.predicted_x = 5.2;
  star.predicted_y = 19.7;
  star.link = 12;
  c->stars.mask_stars = {star};
  struct Case {
    const char* what;
    bool parallel_running;
    bool stars;
    int red;
  };
  const Case cases[] = {
      {"sequential", false, false, 255},
      {"parallel, the last clip", false, false, 255},
      {"parallel, others running", true, false, 40},
      {"parallel, others running, s on", true, true, 255},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    MaskPageSwitches switches = NoExtras();
    switches.stars = k.stars;
    std::vector<std::uint8_t> bgr;
    ComposeResultPicture({c.get(), nullptr, nullptr, true, k.parallel_running}, switches, bgr);
    EXPECT_EQ(At(bgr, 8, 19)[2], k.red) << "the cross's arm";
    EXPECT_EQ(At(bgr, 8, 19)[1], 40) << "in the red channel only";
  }
}

TEST(ResultPicture, AContextWithoutFrameGivesAnEmptyPicture) {
  auto c = testing::SmallContext(0, 0);
  std::vector<std::uint8_t> bgr(12, 7);
  ComposeResultPicture({c.get(), nullptr, nullptr, false, false}, MaskPageSwitches{}, bgr);
  EXPECT_TRUE(bgr.empty());
}

}  // namespace
}  // namespace mr4
