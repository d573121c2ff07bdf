// The trail map: the gnomonic chart puts stars, radiants and trails at the
// pixels its projection gives, the inverse reads the pointer back, the
// switches and filters decide what is drawn, and the saved picture has the
// chart's size.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "maps/trail_map.h"
#include "clips/save_png.h"
#include "tables/table_catalogue.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

using Bgr = std::array<int, 3>;

// 401 x 301 pixels at scale 1: 400 x 300 units, centre (200, 150).
constexpr int kWidth = 401;
constexpr int kHeight = 301;

Bgr At(const std::vector<std::uint8_t>& bgr, int x, int y) {
  const std::size_t i = (std::size_t(y) * kWidth + x) * 3;
  return {bgr[i + 2], bgr[i + 1], bgr[i]};  // red, green, blue
}

int Px(double units) { return static_cast<int>(std::trunc(units + 1.0)); }

// A bare chart: nothing drawn but what a test switches on.
TrailMapInput BareChart(double ra, double dec, double scl, double rot = 0) {
  TrailMapInput in;
  in.frame = ChartFrame{kWidth, kHeight, 1.0, 1.0, ra, dec, rot, scl};
  in.axes = in.ecliptic = in.stars = in.text = false;
  in.clip.year = 2026;
  in.clip.month = 8;
  in.clip.day = 12;
  return in;
}

TEST(TrailMapProjection, PointsLandWhereTheGnomonicRuleSays) {
  // Expected chart points from k tan d: k = 150 / tan(scl / 2).
  const double k90 = 150.0;
  const double k60 = 150.0 / std::tan(30.0 * kDegToRad);
  struct Case {
    const char* what;
    double ra0, dec0, rot, scl, ra, dec;
    bool drawable;
    double x, y;
  } cases[] = {
      {"centre", 120, 30, 0, 90, 120, 30, true, 200, 150},
      {"45 deg north at scl 90 is the top edge", 120, 30, 0, 90, 120, 75, true, 200, 300},
      {"east lies left", 0, 0, 0, 90, 45, 0, true, 200 - k90, 150},
      {"west lies right", 0, 0, 0, 60, -20, 0, true, 200 + k60 * std::tan(20 * kDegToRad), 150},
      {"rotation 90 turns north to the right", 0, 0, 90, 90, 0, 30, true,
       200 + k90 * std::tan(30 * kDegToRad), 150},
      {"90 deg away is not drawn", 0, 0, 0, 90, 90, 0, false, 0, 0},
      {"centre beyond 89.9 is the pole", 30, 89.95, 0, 90, 210, 45, true, 200, 300},
      {"other hemisphere of a pole chart is not drawn", 30, 89.95, 0, 90, 0, -10, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ChartProjection pr(ChartFrame{kWidth, kHeight, 1, 1, c.ra0, c.dec0, c.rot, c.scl});
    const ChartProjection::Point p = pr.SkyToChart(c.ra, c.dec);
    EXPECT_EQ(p.drawable, c.drawable);
    if (!c.drawable) continue;
    EXPECT_NEAR(p.x, c.x, 1e-6);
    EXPECT_NEAR(p.y, c.y, 1e-6);
    const EquatorialPoint back = pr.ChartToSky(p.x, p.y);
    EXPECT_NEAR(back.dec, c.dec, 1e-6);
    EXPECT_NEAR(std::remainder(back.ra - c.ra, 360.0), 0.0, 1e-6);
    EXPECT_GE(back.ra, 0.0);
    EXPECT_LT(back.ra, 360.0);
  }
}

TEST(TrailMapProjection, LargerLayoutScalesKeepTheSameSky) {
  // At twice the scale the chart has the same units and its pixels double.
  const ChartProjection pr(ChartFrame{802, 602, 2, 2, 0, 0, 0, 90});
  EXPECT_DOUBLE_EQ(pr.height_units(), 300.0);
  const ChartProjection::Point p = pr.SkyToChart(0, 45);
  EXPECT_NEAR(p.y, 300.0, 1e-9);
  EXPECT_EQ(pr.PixelY(p.y), 601);
  EXPECT_EQ(pr.PixelX(pr.centre_x()), 401);
}

TEST(TrailMapProjection, UnequalLayoutScalesDoNotStretchTheChart) {
  // A font 1.5 times wider than the reference against 1.0 in height: the
  // points 20 deg east and 20 deg north of the centre stay as far from it.
  const ChartProjection pr(ChartFrame{900, 601, 1.5, 1.0, 0, 0, 0, 90});
  const int cx = pr.PixelX(pr.centre_x()), cy = pr.PixelY(pr.centre_y());
  const ChartProjection::Point east = pr.SkyToChart(20, 0), north = pr.SkyToChart(0, 20);
  EXPECT_EQ(cx - pr.PixelX(east.x), pr.PixelY(north.y) - cy);
  EXPECT_GT(cx - pr.PixelX(east.x), 100);
}

TEST(TrailMapChart, StarsAndRadiantAtTheirPixels) {
  StarCatalogue stars;
  // V 2.0 colour 0: m 2.0, size 3; V 4.0 B-V -1.0 at bvf -0.3: m 4.3 size 1;
  // V 3.0 colour -2: m 3.6 above the 3.5 limit: not drawn.
  stars.ra = {120, 135, 110};
  stars.dec = {30, 40, 20};
  stars.vmag = {2.0f, 4.0f, 3.0f};
  stars.colour = {0.0f, -1.0f, -2.0f};
  stars.count = 3;
  TrailMapInput in = BareChart(120, 30, 90);
  in.stars = true;
  in.mag = 4.5;
  in.catalogue = &stars;
  std::vector<std::uint8_t> bgr;
  DrawTrailMap(in, bgr);
  const Bgr star{176, 176, 176};
  const ChartProjection pr(in.frame);
  const int cx = pr.PixelX(200), cy = pr.PixelY(150);
  EXPECT_EQ(At(bgr, cx, cy), star);
  EXPECT_EQ(At(bgr, cx + 2, cy), star) << "size 3 is a cross";
  EXPECT_EQ(At(bgr, cx, cy - 2), star);
  EXPECT_EQ(At(bgr, cx + 1, cy + 1), (Bgr{0, 0, 0}));
  const ChartProjection::Point faint = pr.SkyToChart(135, 40);
  EXPECT_EQ(At(bgr, Px(faint.x), Px(faint.y)), star);
  EXPECT_EQ(At(bgr, Px(faint.x) + 1, Px(faint.y)), (Bgr{0, 0, 0})) << "size 1 is one pixel";
  in.mag = 3.5;
  DrawTrailMap(in, bgr);
  const ChartProjection::Point dim = pr.SkyToChart(110, 20);
  EXPECT_EQ(At(bgr, Px(dim.x), Px(dim.y)), (Bgr{0, 0, 0}));
  EXPECT_EQ(At(bgr, Px(faint.x), Px(faint.y)), (Bgr{0, 0, 0}));

  // A listed shower drawn at its peak radiant; an unused one never counted
  // in idle colour, the selected one white.
  Table showers(kShowerSchema);
  showers.AppendRow();  // row 0, the sporadic entry
  const int row = showers.AppendRow();
  showers.SetUint(row, shower::kInUse, 1);
  showers.SetText(row, shower::kCode, "PER");
  showers.SetFloat(row, shower::kRap, 130);
  showers.SetFloat(row, shower::kDecp, 25);
  showers.SetFloat(row, shower::kSdr, 2);
  in.stars = false;
  in.showers = true;
  in.peak = true;
  in.showers_table = &showers;
  DrawTrailMap(in, bgr);
  const ChartProjection::Point radiant = pr.SkyToChart(130, 25);
  EXPECT_EQ(At(bgr, Px(radiant.x), Px(radiant.y)), (Bgr{255, 192, 0}));
  EXPECT_EQ(At(bgr, Px(radiant.x) - 2, Px(radiant.y)), (Bgr{255, 192, 0}));
  in.selected_shower = row;
  DrawTrailMap(in, bgr);
  EXPECT_EQ(At(bgr, Px(radiant.x), Px(radiant.y)), (Bgr{255, 255, 255}));
  // Far from its activity window at the chart's date it is left out.
  in.peak = false;
  showers.SetFloat(row, shower::kSol1, 300);
  showers.SetFloat(row, shower::kSol2, 310);
  DrawTrailMap(in, bgr);
  EXPECT_EQ(At(bgr, Px(radiant.x), Px(radiant.y)), (Bgr{0, 0, 0}));
}

TEST(TrailMapChart, TrailBetweenItsEndsThenTheExtension) {
  // A trail along the equator from ra 355 (end 2) to ra 5 (end 1): the
  // extension goes on beyond ra 5, towards the east (left).
  Table objects(kObjSchema);
  struct Object {
    const char* cls;
    std::uint32_t sel;
  } kinds[] = {{"spo", 1}, {"_noise", 1}, {"spo", 0}};
  for (const Object& o : kinds) {
    const int row = objects.AppendRow();
    objects.SetFloat(row, obj::kRa1, 5);
    objects.SetFloat(row, obj::kRa2, 355);
    objects.SetFloat(row, obj::kDc1, row * 20.0f);
    objects.SetFloat(row, obj::kDc2, row * 20.0f);
    objects.SetText(row, obj::kClass, o.cls);
    objects.SetUint(row, obj::kSel, o.sel);
  }
  TrailMapInput in = BareChart(0, 0, 90);
  in.objects = &objects;
  std::vector<std::uint8_t> bgr;
  DrawTrailMap(in, bgr);
  const ChartProjection pr(in.frame);
  const ChartProjection::Point p1 = pr.SkyToChart(5, 0), p2 = pr.SkyToChart(355, 0);
  // The 10-degree trail is drawn in two pieces, the second one faded by 10.
  const Bgr red{255, 0, 0}, faded{245, 10, 10};
  for (int x = Px(p1.x) + 1; x < Px(p2.x); ++x) {
    for (int y : {Px(150), Px(150) + 1}) {
      const Bgr got = At(bgr, x, y);
      EXPECT_TRUE(got == red || got == faded) << "x " << x << " y " << y;
    }
  }
  EXPECT_EQ(At(bgr, Px(p2.x) - 1, Px(150)), red) << "the trail starts at end 2";
  const ChartProjection::Point beyond = pr.SkyToChart(10, 0);
  EXPECT_EQ(At(bgr, Px(beyond.x), Px(150)), (Bgr{0, 255, 0}));
  // Great circles are straight on the chart: a trail's middle pixel is the
  // middle of its ends' pixels.
  auto middle = [&](int row) {
    const ChartProjection::Point a = pr.SkyToChart(objects.Float(row, obj::kRa1),
                                                   objects.Float(row, obj::kDc1));
    const ChartProjection::Point b = pr.SkyToChart(objects.Float(row, obj::kRa2),
                                                   objects.Float(row, obj::kDc2));
    return At(bgr, Px((a.x + b.x) / 2), Px((a.y + b.y) / 2));
  };
  // The underscore class and the unselected object are not drawn.
  EXPECT_EQ(middle(1), (Bgr{0, 0, 0}));
  EXPECT_EQ(middle(2), (Bgr{0, 0, 0}));
  // The current object is drawn whatever its mark, in its own colour.
  in.current_object = 2;
  DrawTrailMap(in, bgr);
  EXPECT_EQ(middle(2), (Bgr{255, 100, 100}));
  in.current_object = 1;
  DrawTrailMap(in, bgr);
  EXPECT_EQ(middle(1), (Bgr{0, 0, 0})) << "not even as the current object";
}

TEST(TrailMapChart, BlackOnWhiteTurnsTheColours) {
  Table objects(kObjSchema);
  const int row = objects.AppendRow();
  objects.SetFloat(row, obj::kRa1, 5);
  objects.SetFloat(row, obj::kRa2, 355);
  objects.SetUint(row, obj::kSel, 1);
  TrailMapInput in = BareChart(0, 0, 90);
  in.objects = &objects;
  in.black_on_white = true;
  std::vector<std::uint8_t> bgr;
  DrawTrailMap(in, bgr);
  EXPECT_EQ(At(bgr, 50, 50), (Bgr{255, 255, 255}));
  EXPECT_EQ(At(bgr, Px(200), Px(150)), (Bgr{0, 0, 0}));
  EXPECT_EQ(At(bgr, 0, 100), (Bgr{0, 0, 0})) << "the frame";
}

TEST(TrailMapChart, DaysMoveTheSolarLongitude) {
  ChartClip clip;
  clip.year = 2026;
  clip.month = 8;
  clip.day = 12;
  const double now = ChartSolarLongitude(clip, 0);
  const double later = ChartSolarLongitude(clip, 365);
  EXPECT_NEAR(std::remainder(later - now - 360.0 * 365 / 365.25, 360.0), 0.0, 1e-9);
  EXPECT_GE(later, 0.0);
  EXPECT_LT(later, 360.0);
  EXPECT_NEAR(now, 139.6, 0.5);  // mid-August
}

TEST(TrailMapChart, SavedPictureHasTheChartsSize) {
  TrailMapInput in = BareChart(120, 30, 90);
  in.axes = true;
  std::vector<std::uint8_t> bgr;
  DrawTrailMap(in, bgr);
  test::TempDir dir("mr4-trail-map");
  const auto path = dir / "TMAP.png";
  ASSERT_EQ(SaveImageAsPng(path, bgr, kWidth, kHeight), ImageStatus::kOk);
  const std::string bytes = test::ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 24u);
  ASSERT_EQ(bytes.substr(1, 3), "PNG");
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(bytes[at])) << 24) |
           (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint8_t(bytes[at + 3]);
  };
  EXPECT_EQ(be32(16), std::uint32_t(kWidth));
  EXPECT_EQ(be32(20), std::uint32_t(kHeight));
}

}  // namespace
}  // namespace mr4
