// Star catalogue loading, the visible-star list and the matching of mask
// stars: flood fill, the edge and brightness rules, the candidate stepping
// of NearestCatalogueStar, aperture photometry, residual statistics,
// relinking and the match summary.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "astro/angles.h"
#include "calib/camera_model.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "platform/scripted_ui.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

fs::path WriteTemp(const std::string& name, const std::string& text) {
  const fs::path path = fs::path(::testing::TempDir()) / name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(StarCatalogue, ReadsEveryLineAfterTheHeaderWithEitherLineEnd) {
  const fs::path path = WriteTemp(
      "stars.csv",
      "ra,dec,vmag,bv\r\n"
      "10.5,-20.25,3.5,0.6\r\n"
      "359.9,89.0,-1.46,0.0\n"
      "not,a,star\r\n"
      "\r\n"
      "0.0,0.0,6.0,1.5");  // last line without a line end
  StarCatalogue c;
  ASSERT_TRUE(LoadStarCatalogue(path, c));
  ASSERT_EQ(c.count, 3);
  EXPECT_FLOAT_EQ(c.ra[0], 10.5f);
  EXPECT_FLOAT_EQ(c.dec[0], -20.25f);
  EXPECT_FLOAT_EQ(c.vmag[1], -1.46f);
  EXPECT_FLOAT_EQ(c.colour[2], 1.5f);

  CameraProfile p;
  p.p_u4_bvf = -0.3f;
  EXPECT_FLOAT_EQ(EffectiveMagnitude(c, p, 0), -0.3f * 0.6f + 3.5f);
}

TEST(StarCatalogue, MissingFileShowsTheAbortMessage) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  StarCatalogue c;
  EXPECT_FALSE(LoadStarCatalogue(fs::path(::testing::TempDir()) / "no-such.csv", c));
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "Cannnot load Star Map .... abort");
}

TEST(StarCatalogue, ShippedCatalogueHoldsTheHipparcosStars) {
  StarCatalogue c;
  ASSERT_TRUE(LoadStarCatalogue(fs::path(MR4_SOURCE_DIR) / "data" / kStarCatalogueFileName, c));
  EXPECT_GT(c.count, 110000);
  EXPECT_LT(c.count, kStarCatalogueCapacity);
  int sirius = -1;
  for (int i = 0; i < c.count; ++i) {
    ASSERT_GE(c.ra[i], 0.0f);
    ASSERT_LT(c.ra[i], 360.0f);
    if (c.vmag[i] < -1.0f) sirius = i;
  }
  ASSERT_GE(sirius, 0);
  EXPECT_NEAR(c.ra[sirius], 101.29f, 0.05f);
  EXPECT_NEAR(c.dec[sirius], -16.72f, 0.05f);
}

TEST(VisibleStars, ListsStarsInTheFrameNotFainterThanRefmagAndMarksThoseThatLeave) {
  CameraProfile p = testing::MakeSkyProfile();
  const StarCatalogue c = testing::MakeUniformCatalogue(3000, 6.0f, 7);
  VisibleStars visible;
  const int n = BuildVisibleStars(c, p, visible);
  ASSERT_GT(n, 10);
  for (const VisibleStar& s : visible.entries) {
    EXPECT_LE(s.mag, p.p_u4_refmag);
    const HorizontalPoint sky = StarDirection(c, p, s.index);
    EXPECT_TRUE(HorizontalToPixel(p, sky.az, sky.ev).inside);
  }

  // Turning the camera by a whole field leaves every listed star outside.
  p.p_az += 60.0f;
  int drawn = 0;
  RefreshVisibleStars(p, visible, [&](double, double, float) { ++drawn; });
  int outside = 0;
  for (const VisibleStar& s : visible.entries) outside += s.index < 0;
  EXPECT_EQ(drawn + outside, n);
  EXPECT_GT(outside, n / 2);
  // Turning it back restores the indexes and draws them all.
  p.p_az -= 60.0f;
  drawn = 0;
  RefreshVisibleStars(p, visible, [&](double, double, float) { ++drawn; });
  EXPECT_EQ(drawn, n);
  for (const VisibleStar& s : visible.entries) EXPECT_GE(s.index, 0);
}

// Visible stars on a line of declination 0 at the given right ascensions.
VisibleStars StarsAt(std::initializer_list<std::pair<int, float>> stars) {
  VisibleStars v;
  for (auto [index, ra] : stars) v.entries.push_back({index, ra, 0.0f, 2.0f});
  return v;
}

TEST(NearestCatalogueStar, StepsThroughThreeCandidatesThenNone) {
  // Distances from ra 100: star 7 at 0.1, star 3 at 0.2, star 9 at 0.3,
  // star 4 at 0.4; star 5 lies beyond the radius, star 8 is outside the frame.
  VisibleStars v = StarsAt({{4, 100.4f}, {9, 99.7f}, {5, 102.0f}, {3, 100.2f},
                            {7, 99.9f}, {~8, 100.0f}});
  struct Case {
    int current;
    int expected;
  };
  const Case cases[] = {{-1, 7}, {7, 3}, {3, 9}, {9, -1}, {4, 7}, {5, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(NearestCatalogueStar(v, 100.0, 0.0, c.current, 1.0), c.expected);
  }
  EXPECT_EQ(NearestCatalogueStar(v, 100.0, 0.0, -1, 0.05), -1);
}

TEST(NearestCatalogueStar, EqualDistancesKeepTheEarlierEntryAhead) {
  VisibleStars v = StarsAt({{11, 100.5f}, {12, 99.5f}, {13, 100.5f}});
  EXPECT_EQ(NearestCatalogueStar(v, 100.0, 0.0, -1, 1.0), 11);
  EXPECT_EQ(NearestCatalogueStar(v, 100.0, 0.0, 11, 1.0), 12);
  EXPECT_EQ(NearestCatalogueStar(v, 100.0, 0.0, 12, 1.0), 13);
}

TEST(Apertures, DiscAndRingAreListedRowByRow) {
  const auto disc = DiscAperture();
  const auto ring = RingAperture();
  ASSERT_EQ(disc.size(), 69u);
  ASSERT_EQ(ring.size(), 108u);
  EXPECT_EQ(disc.front().dy, -4);
  EXPECT_EQ(disc.front().dx, -2);
  EXPECT_EQ(ring.front().dy, -7);
  EXPECT_EQ(ring.front().dx, -2);
  for (std::size_t i = 1; i < ring.size(); ++i) {
    const bool ordered = ring[i].dy > ring[i - 1].dy ||
                         (ring[i].dy == ring[i - 1].dy && ring[i].dx > ring[i - 1].dx);
    EXPECT_TRUE(ordered) << i;
  }
}

// A small frame with hand-made regions, for the detection rules.
class MaskFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = testing::MakeSkyProfile();
    profile_.cx = 80;
    profile_.cy = 60;
    profile_.p_vx = 8.0f;
    testing::Refresh(profile_);
    image_.assign(80 * 60 * 3, 0);
    for (std::size_t i = 0; i < image_.size(); i += 3) image_[i] = 4;
  }
  void Set(int x, int y, int blue, int green) {
    std::uint8_t* px = &image_[3 * (y * 80 + x)];
    px[0] = static_cast<std::uint8_t>(blue);
    px[1] = static_cast<std::uint8_t>(green);
  }
  // A plus-shaped region of five pixels centred on pixel (x, y).
  void Plus(int x, int y, int green, int blue = 240) {
    Set(x, y, blue, green);
    Set(x + 1, y, blue, green);
    Set(x - 1, y, blue, green);
    Set(x, y + 1, blue, green);
    Set(x, y - 1, blue, green);
  }
  CameraProfile profile_;
  std::vector<std::uint8_t> image_;
  StarCatalogue catalogue_;
  StarData data_;
};

TEST_F(MaskFrame, RegionsBecomeMaskStarsUnlessNearTheEdgeDimOrExcluded) {
  Plus(20, 20, 100);                       // counted: centre (20.5, 20.5)
  Plus(40, 30, 50, 244);                   // counted: 244 is a candidate too
  Plus(6, 30, 100);                        // centre x 6.5 < 8: dropped
  Plus(7, 40, 100);                        // centre 7.5 px from the left edge: dropped
  Plus(8, 50, 100);                        // centre 8.5: counted
  Set(60, 20, 240, 1);                     // brightness sum 1: dropped
  // A ring around two pixels whose right one is marked excluded: the centre
  // (61.0, 40.5) rounds to that pixel, so the star is dropped.
  for (int x = 59; x <= 62; ++x) {
    Set(x, 39, 240, 80);
    Set(x, 41, 240, 80);
  }
  Set(59, 40, 240, 80);
  Set(62, 40, 240, 80);
  Set(61, 40, 242, 80);
  DetectMaskStars(catalogue_, profile_, image_, data_);
  ASSERT_EQ(data_.mask_stars.size(), 3u);

  const MaskStar& a = data_.mask_stars[0];
  EXPECT_DOUBLE_EQ(a.x, 20.5);
  EXPECT_DOUBLE_EQ(a.y, 20.5);
  EXPECT_EQ(a.pixels, 5);
  EXPECT_EQ(a.reach, 2);  // found at its lowest pixel (20, 19)
  EXPECT_DOUBLE_EQ(a.sum, 500.0);
  EXPECT_EQ(a.seed_x, 21);  // trunc(x + 0.5)
  EXPECT_EQ(a.seed_y, 20);  // trunc(y)
  EXPECT_EQ(a.link, -1);
  EXPECT_DOUBLE_EQ(data_.mask_stars[1].x, 40.5);
  EXPECT_DOUBLE_EQ(data_.mask_stars[2].x, 8.5);

  // Its direction is the camera model's, in both coordinate systems.
  const HorizontalPoint sky = PixelToHorizontal(profile_, 20.5, 20.5);
  EXPECT_DOUBLE_EQ(a.az, sky.az);
  EXPECT_DOUBLE_EQ(a.ev, sky.ev);
  const EquatorialPoint eq = HorizontalToEquatorial(profile_.ClipMjdTt, profile_.ClipLst,
                                                    profile_.p_lat, sky.az, sky.ev);
  EXPECT_DOUBLE_EQ(a.ra, eq.ra);

  // The region's pixels are marked visited; other codes stay.
  EXPECT_EQ(data_.planes.code[20 * 80 + 20], 240);
  EXPECT_EQ(data_.planes.code[0], 4);
  EXPECT_EQ(data_.planes.code[40 * 80 + 61], 242);
  EXPECT_TRUE(data_.pairs.empty());
}

TEST_F(MaskFrame, FloodFillFollowsLongThinRegionsWithoutRecursion) {
  // A serpentine one pixel wide through the whole frame: thousands of pixels
  // in one region.
  int pixels = 0;
  for (int y = 10; y < 50; y += 2) {
    for (int x = 10; x < 70; ++x, ++pixels) Set(x, y, 240, 10);
    const int link_x = ((y - 10) / 2) % 2 == 0 ? 69 : 10;
    if (y + 1 < 49) {
      Set(link_x, y + 1, 240, 10);
      ++pixels;
    }
  }
  DetectMaskStars(catalogue_, profile_, image_, data_);
  ASSERT_EQ(data_.mask_stars.size(), 1u);
  EXPECT_EQ(data_.mask_stars[0].pixels, pixels);
}

TEST_F(MaskFrame, BrightnessFromDiscAndRing) {
  // Ring level 10, disc level 10 plus a peak: the flux is the peak's excess.
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) Set(x, y, 4, 10);
  struct Case {
    const char* name;
    int peak;  // level of the centre pixel
    double flux;
    double lgL;
    int saturated;
  };
  const Case cases[] = {
      {"bright", 110, 100.0, 2.0, 0},
      {"flux exactly 1", 11, 1.0, 0.0, 0},
      {"saturated", 255, 245.0, std::log10(245.0), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    data_.mask_stars.assign(1, MaskStar{});
    MaskStar& s = data_.mask_stars[0];
    s.x = 30.0;  // the apertures centre on pixel trunc(x + 0.5)
    s.y = 30.0;
    Set(30, 30, 4, c.peak);
    FillMaskPlanes(profile_, image_, data_.planes);
    MeasureBrightness(profile_, 0, data_);
    EXPECT_EQ(s.ring_pixels, 108);
    EXPECT_EQ(s.disc_pixels, 69);
    EXPECT_DOUBLE_EQ(s.background, 10.0);
    EXPECT_NEAR(s.flux, c.flux, 1e-9);
    EXPECT_NEAR(s.lgL, c.lgL, 1e-12);
    EXPECT_EQ(s.saturated_pixels, c.saturated);
  }
  // Near the corner only the pixels inside the frame count.
  data_.mask_stars[0].x = 1.0;
  data_.mask_stars[0].y = 1.0;
  MeasureBrightness(profile_, 0, data_);
  EXPECT_LT(data_.mask_stars[0].disc_pixels, 69);
  EXPECT_LT(data_.mask_stars[0].ring_pixels, 108);
}

// Mask stars built directly from a synthetic sky, linked through the
// profile that drew them.
class LinkedSky : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = testing::MakeSkyProfile();
    catalogue_ = testing::MakeUniformCatalogue(3000, 6.0f, 11);
    mask_ = testing::RenderMask(catalogue_, profile_, profile_.p_u4_refmag, &drawn_);
    BuildVisibleStars(catalogue_, profile_, data_.visible);
    DetectMaskStars(catalogue_, profile_, mask_, data_);
  }
  CameraProfile profile_;
  StarCatalogue catalogue_;
  std::vector<std::uint8_t> mask_;
  int drawn_ = 0;
  StarData data_;
};

TEST_F(LinkedSky, EveryDrawnStarIsFoundLinkedAndMeasured) {
  ASSERT_GT(drawn_, 15);
  EXPECT_EQ(static_cast<int>(data_.mask_stars.size()), drawn_);  // found, drawn
  EXPECT_EQ(static_cast<int>(data_.pairs.size()), drawn_);
  for (const MaskStar& s : data_.mask_stars) {
    ASSERT_GE(s.link, 0);
    EXPECT_LT(std::hypot(s.x - s.predicted_x, s.y - s.predicted_y), 0.2);
    EXPECT_LT(s.ddeg, 0.02);
    EXPECT_LT(std::fabs(s.radial_residual), 0.2);
    EXPECT_GT(s.lgL, 2.0);
  }
  const ResidualStats stats = ResidualStatistics(data_);
  EXPECT_LT(std::fabs(stats.mean_daz), 0.02);
  EXPECT_LT(stats.sd_dev, 0.02);
  EXPECT_GE(stats.worst, 0);

  const std::string summary = MatchSummaryText(catalogue_, profile_, data_);
  char head[64];
  std::snprintf(head, sizeof head, "mask %d  link %d\ndpix avr  0.", drawn_, drawn_);
  EXPECT_EQ(summary.rfind(head, 0), 0u) << summary;
  EXPECT_NE(summary.find("\n(2024/08/12 23:15:30.00)"), std::string::npos) << summary;
}

TEST_F(LinkedSky, RelinkOutliersMovesAWrongLinkToTheRightStar) {
  // Link the first mask star to a far visible star by hand: its daz and dev
  // stand out, and relinking steps through the nearest candidates.
  ASSERT_GT(data_.mask_stars.size(), 5u);
  MaskStar& s = data_.mask_stars[0];
  const int right = s.link;
  int wrong = -1;
  for (const VisibleStar& v : data_.visible.entries) {
    if (v.index >= 0 && v.index != right) wrong = v.index;
  }
  ASSERT_GE(wrong, 0);
  s.link = wrong;
  MeasureResiduals(catalogue_, profile_, wrong, 0, data_);
  EXPECT_GT(s.ddeg, 1.0);
  RelinkOutliers(catalogue_, profile_, data_);
  EXPECT_EQ(s.link, right);
  for (const MaskStar& m : data_.mask_stars) EXPECT_GE(m.link, 0);
}

TEST(ResidualStatistics, NoLinkedStar) {
  StarData data;
  data.mask_stars.assign(3, MaskStar{});
  const ResidualStats stats = ResidualStatistics(data);
  EXPECT_EQ(stats.worst, -1);
  EXPECT_EQ(stats.mean_daz, 0.0);
  EXPECT_EQ(stats.sd_dev, 0.0);
  CameraProfile p;
  StarCatalogue c;
  EXPECT_EQ(MatchSummaryText(c, p, data), "mask 3  link 0");
}

}  // namespace
}  // namespace mr4
