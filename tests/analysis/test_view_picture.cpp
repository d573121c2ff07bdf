// The clip view's picture and readout: overlays land on the pixels the
// camera model gives, the mask overlays' colours, the texts, the readout's
// directions and distance, the click list's limit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "analysis/view_picture.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "clips/clip_files.h"
#include "tables/table_catalogue.h"
#include "tests/support/temp_files.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

using Bgr = std::array<int, 3>;

Bgr At(const std::vector<std::uint8_t>& bgr, int width, int x, int y) {
  const std::size_t i = (std::size_t(y) * width + x) * 3;
  return {bgr[i], bgr[i + 1], bgr[i + 2]};
}

Bgr Of(PlotColour c) { return {c.blue, c.green, c.red}; }

int Pixel(double v) { return static_cast<int>(std::trunc(v + 0.5)); }

// The synthetic camera lowered until the horizon is in the frame.
CameraProfile LowCamera() {
  CameraProfile p = testing::MakeSkyProfile();
  p.p_ev = 12.0f;
  p.p_az = 160.0f;
  testing::Refresh(p);
  return p;
}

std::vector<std::uint8_t> Compose(const CameraProfile& profile, const ViewSwitches& switches,
                                  VisibleStars* visible = nullptr,
                                  const AnalysisContext* context = nullptr) {
  ViewPictureSource source;
  source.width = profile.cx;
  source.height = profile.cy;
  source.profile = &profile;
  source.visible = visible;
  source.context = context;
  std::vector<std::uint8_t> bgr;
  ComposeViewPicture(source, switches, bgr);
  return bgr;
}

TEST(ViewPicture, CatalogueStarsAtTheirModelPixels) {
  CameraProfile profile = testing::MakeSkyProfile();
  profile.p_u4_refmag = 6.0f;
  const StarCatalogue catalogue = testing::MakeUniformCatalogue(3000, 6.0f, 7);
  VisibleStars visible;
  ASSERT_GT(BuildVisibleStars(catalogue, profile, visible), 3);
  AnalysisContext context(profile);
  ViewSwitches switches{};
  switches.hit = false;
  switches.stars = true;
  const std::vector<std::uint8_t> bgr = Compose(profile, switches, &visible, &context);
  int checked = 0;
  for (const VisibleStar& star : visible.entries) {
    if (star.index < 0) continue;
    const HorizontalPoint h = StarDirection(catalogue, profile, star.index);
    const PixelPosition at = HorizontalToPixel(profile, h.az, h.ev);
    ASSERT_TRUE(at.inside);
    EXPECT_EQ(At(bgr, profile.cx, Pixel(at.x), Pixel(at.y)), (Bgr{0, 255, 255}))
        << "star " << star.index;
    ++checked;
  }
  EXPECT_GT(checked, 3);
  // Switched off, the stars are not drawn.
  switches.stars = false;
  const std::vector<std::uint8_t> plain = Compose(profile, switches, &visible, &context);
  EXPECT_EQ(std::count(plain.begin(), plain.end(), 0), std::ptrdiff_t(plain.size()));
}

TEST(ViewPicture, GridSamplesAtTheirModelPixels) {
  // The horizon needs a low camera; the equatorial cases use the usual one.
  const CameraProfile low = LowCamera();
  const CameraProfile usual = testing::MakeSkyProfile();
  struct Case {
    const char* what;
    bool equatorial;
    double first, second;  // az, ev or ra, dec [deg]
    int colour;
  };
  const Case cases[] = {
      {"the horizon between azimuth lines", false, 173, 0, 8},
      {"elevation 10 between azimuth lines", false, 173, 10, 2},
      {"elevation 30", false, 167, 30, 8},
      {"azimuth line 150 between circles", false, 150, 25, 2},
      {"azimuth line 180 between circles", false, 180, 25, 8},
      {"declination 0 between hour lines", true, 333, 0, 8},
      {"declination 10 between hour lines", true, 333, 10, 2},
      {"right ascension 0 line", true, 0, 15, 8},
      {"right ascension 340 line", true, 340, 15, 2},
  };
  ViewSwitches switches{};
  switches.hit = false;
  switches.azev = true;
  const std::vector<std::uint8_t> horizontal = Compose(low, switches);
  switches.azev = false;
  switches.radec = true;
  const std::vector<std::uint8_t> equatorial = Compose(usual, switches);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const CameraProfile& profile = k.equatorial ? usual : low;
    HorizontalPoint h{k.first, k.second};
    if (k.equatorial) {
      h = EquatorialToHorizontal(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, k.first,
                                 k.second);
    }
    const PixelPosition at = HorizontalToPixel(profile, h.az, h.ev);
    ASSERT_TRUE(at.inside) << "az " << h.az << " ev " << h.ev;
    const auto& picture = k.equatorial ? equatorial : horizontal;
    EXPECT_EQ(At(picture, profile.cx, Pixel(at.x), Pixel(at.y)), Of(PlotColourOf(k.colour)));
  }
}

TEST(ViewPicture, MaskOverlays) {
  constexpr int kW = 40, kH = 30;
  std::vector<std::uint8_t> still(kW * kH * 3), mask(kW * kH * 3, 0);
  for (std::size_t i = 0; i < still.size(); i += 3) {
    still[i] = 10;
    still[i + 1] = 100;
    still[i + 2] = 60;
  }
  auto set_mask = [&](int x, int y, int blue, int red) {
    mask[(std::size_t(y) * kW + x) * 3] = static_cast<std::uint8_t>(blue);
    mask[(std::size_t(y) * kW + x) * 3 + 2] = static_cast<std::uint8_t>(red);
  };
  set_mask(1, 1, 240, 0);   // star pixel
  set_mask(2, 1, 2, 0);     // area mask
  set_mask(3, 1, 4, 0);     // detection-area mark
  set_mask(20, 15, 0, 254); // capture marker
  ImageBuffer still_image{still, kW, kH}, mask_image{mask, kW, kH};
  ViewPictureSource source;
  source.picture = still;
  source.width = kW;
  source.height = kH;
  source.still = &still_image;
  source.mask = &mask_image;
  ViewSwitches switches{};
  switches.star_mask = switches.area = switches.hit = true;
  std::vector<std::uint8_t> bgr;
  ComposeViewPicture(source, switches, bgr);
  struct Case {
    const char* what;
    int x, y;
    Bgr expected;
  };
  const Case cases[] = {
      {"untouched", 10, 25, {10, 100, 60}},
      {"SM", 1, 1, {255, 50, 30}},
      {"Area bit 1", 2, 1, {20, 100, 36}},
      {"Area bit 2", 3, 1, {30, 30, 60}},
      {"Hit marker", 20, 15, {255, 255, 60}},
      {"box, 15 px left", 5, 15, {0, 0, 255}},
      {"box corner", 35, 0, {0, 0, 255}},  // clipped at the bottom
      {"inside the box", 10, 15, {10, 100, 60}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(At(bgr, kW, k.x, k.y), k.expected);
  }
  // An analysed clip marks the pixels without the box.
  source.analysed = true;
  ComposeViewPicture(source, switches, bgr);
  EXPECT_EQ(At(bgr, kW, 5, 15), (Bgr{10, 100, 60}));
  EXPECT_EQ(At(bgr, kW, 20, 15), (Bgr{255, 255, 60}));
}

TEST(ViewPicture, MissingPictureIsBlack) {
  ViewPictureSource source;
  source.width = 8;
  source.height = 4;
  std::vector<std::uint8_t> bgr(5, 77);
  ComposeViewPicture(source, ViewSwitches{}, bgr);
  EXPECT_EQ(bgr, std::vector<std::uint8_t>(8 * 4 * 3, 0));
}

TEST(ViewPicture, TextAndClickMarks) {
  constexpr int kW = 60, kH = 30;
  std::vector<std::uint8_t> bgr(kW * kH * 3, 0);
  DisplayPicture picture{bgr, kW, kH};
  // "1" of the font: its stem in the middle column; rows count from the top.
  DrawText(picture, 0, 0, "1", kViewTextColour);
  int lit = 0;
  for (int r = 0; r < kGlyphHeight; ++r) {
    if (GlyphRow('1', r) & 0x04) {
      EXPECT_EQ(At(bgr, kW, 2, kH - 1 - r), Of(kViewTextColour)) << "row " << r;
      ++lit;
    }
  }
  EXPECT_GE(lit, 7);
  EXPECT_EQ(GlyphRow(' ', 4), 0);
  EXPECT_EQ(GlyphRow('\x7f', 4), 0);
  // A click: a cross of +-3 px and its number beside it.
  std::fill(bgr.begin(), bgr.end(), 0);
  DrawClickMark(picture, 20.4, 10.6, 1);
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{17, 11}, {23, 11}, {20, 8}, {20, 14}}) {
    EXPECT_EQ(At(bgr, kW, x, y), Of(kViewTextColour)) << x << "," << y;
  }
  EXPECT_EQ(At(bgr, kW, 24, 11), (Bgr{0, 0, 0}));
  bool number = false;
  for (int y = 0; y < kH; ++y) {
    for (int x = 25; x < 31; ++x) number |= At(bgr, kW, x, y) == Of(kClickNumberColour);
  }
  EXPECT_TRUE(number);
}

TEST(ViewReadout, DirectionsOfTheCameraModel) {
  const CameraProfile profile = testing::MakeSkyProfile();
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {360, 240}, {719, 479}, {100, 400}}) {
    SCOPED_TRACE(::testing::Message() << x << "," << y);
    const ViewReadout r = ReadoutAt(profile, x, y, 100, 100.0, 0);
    const HorizontalPoint h = PixelToHorizontal(profile, x, y);
    const EquatorialPoint e =
        HorizontalToEquatorial(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, h.az, h.ev);
    EXPECT_DOUBLE_EQ(r.horizontal.az, h.az);
    EXPECT_DOUBLE_EQ(r.horizontal.ev, h.ev);
    EXPECT_DOUBLE_EQ(r.equatorial.ra, e.ra);
    EXPECT_DOUBLE_EQ(r.equatorial.dec, e.dec);
    EXPECT_NEAR(r.magnitude, profile.ZeroPoint - 5.0, 1e-12);
    char expected[64];
    std::snprintf(expected, sizeof expected, "x %04d  y %04d  b 100 m ", x, y);
    EXPECT_EQ(r.first.rfind(expected, 0), 0u) << r.first;
    EXPECT_EQ(std::count(r.first.begin(), r.first.end(), '\n'), 2);
    EXPECT_EQ(r.second.rfind("D=", 0), 0u);
  }
  EXPECT_DOUBLE_EQ(ReadoutAt(profile, 5, 5, 0, 100.0, 0).magnitude, profile.ZeroPoint);
  EXPECT_EQ(ReadoutAt(profile, 5, 5, 0, 100.0, 2).second, "Pos2 SETTING click!");
}

TEST(ViewReadout, DistanceToTheHeight) {
  const double lat = 35.0;
  const double radius = EarthRadiusKm(lat);
  struct Case {
    const char* what;
    double station_m, ev, height_km, expected_km;
  };
  const Case cases[] = {
      {"straight up", 0, 90, 100, 100},
      {"straight up from 1 km", 1000, 90, 100, 99},
      {"along the horizon", 0, 0, 100, std::sqrt((radius + 100) * (radius + 100) - radius * radius)},
      {"a height below the station: the point behind, below the observer", 2000, 30, 1, 2.0},
      {"looking down to a height below the station", 2000, -30, 1, 2.0},
      {"a height below the station never met", 2000, -0.1, 1, 0.0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_NEAR(DistanceToHeight(lat, k.station_m, k.ev, k.height_km), k.expected_km,
                1e-3 * k.expected_km + 1e-6);
  }
}

TEST(ViewClicks, TheLastPlaceIsRefused) {
  std::vector<Click> clicks(kMaxClicks - 2);
  EXPECT_TRUE(AppendClick(clicks, Click{1, 2}));
  EXPECT_EQ(clicks.size(), std::size_t(kMaxClicks - 1));
  EXPECT_FALSE(AppendClick(clicks, Click{3, 4}));
  EXPECT_EQ(clicks.size(), std::size_t(kMaxClicks - 1));
  EXPECT_EQ(clicks.back().x, 1.0f);
}

TEST(ViewClicks, ObjectEndPointsTakeTheClickAndTheirGroundPoint) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int clip_row = clips.AppendRow();
  clips.SetFloat(clip_row, clip::kLng, 139.5f);
  clips.SetFloat(clip_row, clip::kLat, 35.0f);
  clips.SetFloat(clip_row, clip::kAlt, 0.0f);
  const int object_row = objects.AppendRow();
  objects.SetFloat(object_row, obj::kX1, -5.0f);
  // Straight up at 90 km: the ground point is the station's, 90 km away.
  const Click up{11, 22, 250, 35, 123, 90};
  SetObjectEndPoint(clips, clip_row, objects, object_row, 2, up, 90.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kX2), 11.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kY2), 22.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kRa2), 250.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kDc2), 35.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kAz2), 123.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kEv2), 90.0f);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kH2), 90.0f);
  EXPECT_NEAR(objects.Float(object_row, obj::kDist2), 90.0f, 1e-3);
  EXPECT_NEAR(objects.Float(object_row, obj::kLat2), 35.0f, 1e-4);
  EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kX1), -5.0f);  // the other end kept
}

TEST(ViewHeights, BothEndsAndTheirTexts) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int clip_row = clips.AppendRow();
  clips.SetFloat(clip_row, clip::kLng, 139.5f);
  clips.SetFloat(clip_row, clip::kLat, 35.0f);
  const int object_row = objects.AppendRow();
  // Both ends straight up: the ground points are the station's.
  objects.SetFloat(object_row, obj::kEv1, 90.0f);
  objects.SetFloat(object_row, obj::kEv2, 90.0f);
  struct Case {
    float length;
    const char* entry;
  };
  for (const Case& k : {Case{0.5f, "(ev@1 = 0.0)"}, Case{40.0f, "(ev@1 = 30.0)"}}) {
    objects.SetFloat(object_row, obj::kLen, k.length);
    const HeightTexts t = ApplyObjectHeights(clips, clip_row, objects, object_row, 100, 80);
    EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kH1), 100.0f);
    EXPECT_FLOAT_EQ(objects.Float(object_row, obj::kH2), 80.0f);
    EXPECT_EQ(t.point1, "lng=139.5000 lat=35.0000, D=100.0km, GD=0.0km ");
    EXPECT_EQ(t.point2, std::string("lng=139.5000 lat=35.0000, D=80.0km, GD=0.0km  ") + k.entry);
  }
}

TEST(ViewDxoffset, TheResultFileTakesTheNewValue) {
  test::TempDir dir("mr4-view-dxoffset");
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, dir.path().string());
  clips.SetText(row, clip::kClipName, "M20240812_193750_SIM");
  const fs::path result = dir / "M20240812_193750_SIMA.XML";
  const std::string before =
      "<mr2_clip version =\"2\"\r\n\tdxoffset=\"3\" dlim=\"40\">\r\n</mr2_clip>\r\n";
  {
    std::ofstream out(result, std::ios::binary);
    out << before;
  }
  CameraProfile profile;
  profile.p_u4_dxoffset = 3;
  // Without the result flag the file is left alone.
  clips.SetInt(row, clip::kMT, 0);
  EXPECT_TRUE(ChangeDxoffset(profile, clips, row, -1));
  EXPECT_EQ(profile.p_u4_dxoffset, 2);
  auto read = [&] {
    std::ifstream in(result, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(), before);
  clips.SetInt(row, clip::kMT, KindBit(kKindResult));
  EXPECT_TRUE(ChangeDxoffset(profile, clips, row, 9));
  EXPECT_EQ(profile.p_u4_dxoffset, 11);
  EXPECT_EQ(read(), "<mr2_clip version =\"2\"\r\n\tdxoffset=\"11\" dlim=\"40\">\r\n</mr2_clip>\r\n");
  // A result file that went away: said, the profile keeps the value.
  fs::remove(result);
  EXPECT_FALSE(ChangeDxoffset(profile, clips, row, 1));
  EXPECT_EQ(profile.p_u4_dxoffset, 12);
}

}  // namespace
}  // namespace mr4
