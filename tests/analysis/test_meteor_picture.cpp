// The meteor picture's drawing: the axis steps, and the still's place in
// the picture when it is lower than the light-curve panel.
#include "analysis/meteor_picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace mr4 {
namespace {

TEST(MeteorPicture, AxisStepsAreOneTwoTwoAndAHalfOrFiveTimesAPowerOfTen) {
  struct Case {
    double span;
    int ticks;
    double step;
  };
  const Case cases[] = {
      {1.37, 6, 0.25}, {3.0, 6, 0.5},  {0.2, 6, 0.05}, {6.0, 6, 1.0},
      {7.0, 6, 2.0},   {13.0, 6, 2.5}, {0.0, 6, 1.0},  {-1.0, 6, 1.0},
      {1.0, 0, 1.0},   {60.0, 6, 10.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(AxisTickStep(c.span, c.ticks), c.step) << c.span << " / " << c.ticks;
  }
}

// A still 40 x 20: the picture is as high as the panel needs, the still in
// its top rows and unchanged there, the panel to its right.
TEST(MeteorPicture, AStillLowerThanThePanelLiesAtTheTop) {
  constexpr int kW = 40, kH = 20;
  std::vector<std::uint8_t> pixels(kW * kH * 3, 0);
  // Bottom-left pixel of the still: blue 7, green 8, red 9.
  pixels[0] = 7;
  pixels[1] = 8;
  pixels[2] = 9;
  ImageBuffer still{pixels, kW, kH};
  MeteorPictureSource source;
  source.still = &still;
  MeteorPicture picture;
  DrawMeteorPicture(source, picture);
  ASSERT_EQ(picture.width, kW + kMeteorPanelWidth);
  ASSERT_EQ(picture.height, kMeteorPanelMinHeight);
  const auto at = [&](int x, int y) {
    return &picture.bgr[(static_cast<std::size_t>(y) * picture.width + x) * 3];
  };
  const std::uint8_t* corner = at(0, kMeteorPanelMinHeight - kH);
  EXPECT_EQ(corner[0], 7);
  EXPECT_EQ(corner[1], 8);
  EXPECT_EQ(corner[2], 9);
  // Below the still: black; the panel begins at column kW.
  EXPECT_EQ(at(0, 0)[0] + at(0, 0)[1] + at(0, 0)[2], 0);
  EXPECT_EQ(at(kW, 0)[0], 20);
  EXPECT_EQ(picture.curve.left, kW + 52);
  EXPECT_LT(picture.curve.top, picture.curve.bottom);
}

}  // namespace
}  // namespace mr4
