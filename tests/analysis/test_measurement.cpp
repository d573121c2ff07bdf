// Measurement of samples (time, magnitude, direction and back), the
// single-station ground point, and the pictures drawn for the mask page.
#include "analysis/measurement.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/result_pictures.h"
#include "app/settings.h"
#include "calib/camera_model.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/analysis/analysis_fixture.h"
#include "tests/analysis/sky_trail.h"

namespace mr4 {
namespace {

TEST(SampleMagnitude, SaturationLevelIsMaxMag) {
  CameraProfile p;
  p.maxl = 255;
  p.maxm = 2.0f;
  UpdateZeroPoint(p);
  struct Case {
    double Lsum, mag;
  };
  const Case cases[] = {
      {255, 2.00}, {25500, -3.00}, {1, p.ZeroPoint}, {0.5, p.ZeroPoint}, {0, p.ZeroPoint}};
  for (const Case& k : cases)
    EXPECT_NEAR(SampleMagnitude(p, k.Lsum), k.mag, 1e-6) << "Lsum " << k.Lsum;
}

TEST(SampleTime, SecondsFromTheTrigger) {
  struct Case {
    int interlaced, field;
  };
  // 30 fps, head 30: the same second is field 60 progressive and field 120
  // interlaced.
  for (const Case& k : {Case{0, 60}, Case{1, 120}}) {
    auto c = testing::SmallContext(64, 48, k.interlaced);
    c->clip.fps = 30;
    c->clip.head = 30;
    c->clip.frames = 100;
    ASSERT_TRUE(PrepareRun(*c));
    EXPECT_NEAR(SampleTime(*c, k.field), 1.0, 1e-12) << k.interlaced;
    EXPECT_NEAR(SampleTime(*c, 0), -1.0, 1e-12) << k.interlaced;
  }
}

TEST(MeasureSample, ProjectToFrameIsItsInverse) {
  auto c = testing::SmallContext(720, 480);
  c->profile = testing::PointedProfile(300, 30, 30);
  for (double dra : {-8.0, 0.0, 5.0}) {
    for (double ddec : {-5.0, 0.0, 4.0}) {
      const FramePoint f = ProjectToFrame(*c, 300 + dra, 30 + ddec);
      Detection d;
      d.x = f.x;
      d.y = f.y;
      MeasureSample(*c, d);
      EXPECT_NEAR(d.ra, 300 + dra, 1e-4) << dra << ", " << ddec;
      EXPECT_NEAR(d.dec, 30 + ddec, 1e-4) << dra << ", " << ddec;
      EXPECT_NEAR(d.az, f.az, 1e-4);
      EXPECT_NEAR(d.ev, f.ev, 1e-4);
    }
  }
}

class GroundPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Table& clips = Tables().clip;
    clip_ = clips.AppendRow();
    clips.SetFloat(clip_, clip::kLng, 139.5f);
    clips.SetFloat(clip_, clip::kLat, 35.0f);
    clips.SetFloat(clip_, clip::kAlt, 500.0f);
    clips.SetFloat(clip_, clip::kGioidh, 30.0f);
    object_ = Tables().obj.AppendRow();
  }
  void TearDown() override { AppSettings() = Settings{}; }
  void Sight(int az_column, float az, int ev_column, float ev, int h_column, float h) {
    Table& o = Tables().obj;
    o.SetFloat(object_, az_column, az);
    o.SetFloat(object_, ev_column, ev);
    o.SetFloat(object_, h_column, h);
  }
  float F(int column) const { return Tables().obj.Float(object_, column); }

  int clip_ = -1, object_ = -1;
  static constexpr double kStationKm = 0.53;
};

TEST_F(GroundPointTest, OverheadTheGroundPointIsTheStation) {
  struct Case {
    float h1;         // stored start height
    float a_km1;      // "AP.a_km1"
    double height;    // the height used
  };
  const Case cases[] = {{100, 100, 100}, {85, 100, 85}, {-1, 100, 100}, {-1, 90, 90}};
  for (const Case& k : cases) {
    AppSettings().a_km1 = k.a_km1;
    Sight(obj::kAz1, 123, obj::kEv1, 90, obj::kH1, k.h1);
    EXPECT_NEAR(GroundPoint(Tables().clip, clip_, Tables().obj, object_, 1), 0, 1e-3);
    EXPECT_FLOAT_EQ(F(obj::kH1), static_cast<float>(k.height));
    EXPECT_NEAR(F(obj::kDist1), k.height - kStationKm, 1e-3) << k.h1;
    EXPECT_NEAR(F(obj::kGd1), 0, 1e-3);
    EXPECT_NEAR(F(obj::kLng1), 139.5, 1e-4);
    EXPECT_NEAR(F(obj::kLat1), 35.0, 1e-4);
  }
}

TEST_F(GroundPointTest, TheEndUsesItsOwnColumnsAndDefault) {
  Tables().obj.SetFloat(object_, obj::kLng1, -999.0f);
  Sight(obj::kAz2, 0, obj::kEv2, 90, obj::kH2, -1);
  GroundPoint(Tables().clip, clip_, Tables().obj, object_, 2);
  EXPECT_FLOAT_EQ(F(obj::kH2), 70.0f);
  EXPECT_NEAR(F(obj::kDist2), 70 - kStationKm, 1e-3);
  EXPECT_FLOAT_EQ(F(obj::kLng1), -999.0f);
}

TEST_F(GroundPointTest, OnTheHorizonTheSightLineTouchesTheGround) {
  // Station at sea level on the equator, looking east along the horizon:
  // the sight line is the tangent, so the point at height h lies at
  // sqrt((V + h)^2 - V^2) km and a central angle acos(V / (V + h)).
  Table& clips = Tables().clip;
  clips.SetFloat(clip_, clip::kLat, 0.0f);
  clips.SetFloat(clip_, clip::kAlt, 0.0f);
  clips.SetFloat(clip_, clip::kGioidh, 0.0f);
  Sight(obj::kAz1, 90, obj::kEv1, 0, obj::kH1, 100);
  const double V = 6378.14 * (0.9983271 + 0.0016764 - 3.5e-6);
  const double gamma = std::acos(V / (V + 100));
  EXPECT_NEAR(GroundPoint(clips, clip_, Tables().obj, object_, 1), gamma * V, 0.01);
  EXPECT_NEAR(F(obj::kDist1), std::sqrt((V + 100) * (V + 100) - V * V), 0.01);
  EXPECT_NEAR(F(obj::kLng1), 139.5 + gamma * 180 / 3.14159265358979323846, 1e-3);
  EXPECT_NEAR(F(obj::kLat1), 0, 1e-3);
}

// A display picture prefilled with level 7, so that untouched pixels show.
struct Picture {
  std::vector<std::uint8_t> bytes;
  DisplayPicture view;
  Picture(int w, int h) : bytes(std::size_t(w) * h * 3, 7) { view = {bytes, w, h}; }
  std::array<int, 3> At(int x, int y) const {
    const std::uint8_t* p = &bytes[(std::size_t(y) * view.width + x) * 3];
    return {p[0], p[1], p[2]};
  }
  int CountOf(std::array<int, 3> colour) const {
    int n = 0;
    for (int y = 0; y < view.height; ++y)
      for (int x = 0; x < view.width; ++x) n += At(x, y) == colour;
    return n;
  }
};
constexpr std::array<int, 3> kUntouched{7, 7, 7};
constexpr std::array<int, 3> kBlack{0, 0, 0};
constexpr std::array<int, 3> kGreen{0, 255, 0};
constexpr std::array<int, 3> kRed{0, 0, 255};
constexpr std::array<int, 3> kCyan{255, 255, 0};
constexpr std::array<int, 3> kWhite{255, 255, 255};
constexpr std::array<int, 3> kYellow{0, 255, 255};

TEST(DrawStarMarker, BrighterStarsGetLargerMarkers) {
  struct Case {
    float refmag;
    double x, y, mag;
    int pixels;
  };
  const Case cases[] = {
      {6.0f, 20.3, 20.4, 1.5, 13},  // centre, both arms, diagonals
      {6.0f, 20.3, 20.4, 2.5, 9},   // centre and both arms
      {6.0f, 20.3, 20.4, 3.5, 5},   // centre and the distance-1 arm
      {6.0f, 20.3, 20.4, 4.5, 1},
      {3.0f, 20.3, 20.4, 3.5, 1},   // a low refmag shrinks the marker
      {3.0f, 20.3, 20.4, 0.4, 13},
      {6.0f, 0.2, 0.2, 1.0, 6},     // at the corner only the inner side
      {6.0f, 39.4, 20, 1.0, 9},     // at the right edge: no right arms or diagonals
  };
  for (const Case& k : cases) {
    auto c = testing::SmallContext(40, 40);
    c->profile.p_u4_refmag = k.refmag;
    Picture p(40, 40);
    DrawStarMarker(*c, p.view, k.x, k.y, k.mag);
    EXPECT_EQ(p.CountOf(kYellow), k.pixels) << "refmag " << k.refmag << " mag " << k.mag
                                            << " at " << k.x << ", " << k.y;
  }
}

TEST(DrawPhotometryGraph, HeightFollowsRefmag) {
  struct Case {
    float refmag;
    int top;  // R
  };
  for (const Case& k : {Case{4.0f, 210}, Case{9.5f, 250}}) {
    auto c = testing::SmallContext(720, 480);
    c->profile.p_u4_refmag = k.refmag;
    c->stars.mask_stars.resize(1);
    Picture p(720, 480);
    DrawPhotometryGraph(*c, StarCatalogue{}, false, p.view);
    EXPECT_EQ(p.At(100, k.top), kGreen) << k.refmag;
    EXPECT_EQ(p.At(100, k.top + 1), kUntouched) << k.refmag;
    EXPECT_EQ(p.At(100, k.top - 1), kBlack) << k.refmag;
    EXPECT_EQ(p.At(276, k.top - 1), kGreen) << k.refmag;
    EXPECT_EQ(p.At(277, 100), kUntouched) << k.refmag;
    EXPECT_EQ(p.At(29, k.top - 40), kGreen) << k.refmag;  // magnitude 0 tick
    EXPECT_EQ(p.At(30, k.top - 40), kBlack) << k.refmag;
  }
}

TEST(DrawPhotometryGraph, NothingWithoutMaskStars) {
  auto c = testing::SmallContext(720, 480);
  Picture p(720, 480);
  DrawPhotometryGraph(*c, StarCatalogue{}, true, p.view);
  DrawResidualGraph(*c, p.view);
  EXPECT_EQ(p.CountOf(kUntouched), 720 * 480);
}

TEST(DrawPhotometryGraph, FrameDottedWhenMimMagIsOffTheTop) {
  for (float mim : {4.0f, -2.5f}) {
    auto c = testing::SmallContext(720, 480);
    c->profile.minm = mim;
    c->stars.mask_stars.resize(1);
    Picture p(720, 480);
    DrawPhotometryGraph(*c, StarCatalogue{}, false, p.view);
    EXPECT_EQ(p.At(22, 10), kGreen);
    EXPECT_EQ(p.At(23, 210), mim > -2 ? kGreen : kUntouched) << mim;
    EXPECT_EQ(p.At(23, 10), mim > -2 ? kGreen : kBlack) << mim;
  }
}

TEST(DrawPhotometryGraph, StarsByColourIndexAndLimits) {
  StarCatalogue catalogue;
  // V, B-V: a blue, a red and a white star, and one brighter than the top.
  catalogue.ra = {0, 0, 0, 0};
  catalogue.dec = {0, 0, 0, 0};
  catalogue.vmag = {3.0f, 1.03f, 2.0f, -5.0f};
  catalogue.colour = {0.2f, 1.5f, 0.7f, 0.7f};
  catalogue.count = 4;
  auto c = testing::SmallContext(720, 480);
  c->profile.p_u4_refmag = 4.0f;  // R = 210
  c->profile.p_u4_bvf = -0.3f;
  struct Case {
    int link;
    double lgL;
    int column, row;
    std::array<int, 3> colour;
  };
  const Case cases[] = {
      {0, 2.0, 148, 111, kCyan},   // m = 2.94: row 210 - 20 x 4.94
      {1, 1.5, 116, 158, kRed},    // m = 0.58
      {2, 2.5, 180, 134, kWhite},  // m = 1.79
      {3, 9.0, 275, 209, kWhite},  // off the top and right: kept inside
  };
  for (const Case& k : cases) {
    MaskStar s;
    s.link = k.link;
    s.lgL = k.lgL;
    c->stars.mask_stars.push_back(s);
  }
  Picture p(720, 480);
  DrawPhotometryGraph(*c, catalogue, false, p.view);
  for (const Case& k : cases) EXPECT_EQ(p.At(k.column, k.row), k.colour) << k.link;
}

TEST(DrawLightCurve, FieldsAndFrameEdge) {
  auto c = testing::SmallContext(720, 480);
  c->profile.maxl = 255;
  c->profile.maxm = 2.0f;
  UpdateZeroPoint(c->profile);  // Lsum 200: magnitude 2.26
  // Two tracks, fields 40 .. 45 and 395 .. 400.
  int n = 0;
  for (int t = 0; t < 2; ++t) {
    Track& track = c->tracks[t];
    track.sample_count = 0;
    for (int f = t == 0 ? 40 : 395; f <= (t == 0 ? 45 : 400); ++f) {
      Detection& d = c->detections[n];
      d.field = f;
      d.Lsum = 200;
      track.samples[track.sample_count++] = n++;
    }
  }
  c->track_count = 2;
  Picture p(720, 480);
  DrawLightCurve(*c, -1, p.view);
  // refmag 4: R = 210; magnitude 2.26 on row 210 - 145.3.
  EXPECT_EQ(p.At(300, 64), kYellow);  // field 40
  EXPECT_EQ(p.At(305, 64), kYellow);  // field 45
  EXPECT_EQ(p.At(306, 64), kBlack);
  EXPECT_EQ(p.At(576, 100), kGreen);  // the right edge
  EXPECT_EQ(p.At(577, 100), kUntouched);
  EXPECT_EQ(p.At(575, 210), kGreen);
  EXPECT_EQ(p.CountOf(kYellow), 6);   // the second track lies beyond field 296

  Picture selected(720, 480);
  DrawLightCurve(*c, 1, selected.view);
  EXPECT_EQ(selected.CountOf(kYellow), 0);
}

TEST(DrawLightCurve, NothingForFewFieldsAndClippedInASmallFrame) {
  auto c = testing::SmallContext(300, 100);
  Track& track = c->tracks[0];
  track.sample_count = 2;
  track.samples[0] = 0;
  track.samples[1] = 1;
  c->detections[0].field = 2;
  c->detections[1].field = 4;
  c->track_count = 1;
  Picture early(300, 100);
  DrawLightCurve(*c, -1, early.view);  // last field below 5
  EXPECT_EQ(early.CountOf(kUntouched), 300 * 100);

  c->detections[1].field = 200;
  Picture small(300, 100);
  DrawLightCurve(*c, -1, small.view);  // the graph reaches column 518
  EXPECT_EQ(small.At(280, 50), kGreen);
  EXPECT_EQ(small.At(299, 99), kBlack);
}

TEST(DrawResidualGraph, FrameAndStarPoints) {
  auto c = testing::SmallContext(720, 480);
  MaskStar s;
  s.link = 0;
  s.radius = 100.7;
  s.ddeg = 0.1;
  s.radial_residual = 0.5;
  c->stars.mask_stars.push_back(s);
  MaskStar unlinked = s;
  unlinked.link = -1;
  unlinked.radius = 50;
  c->stars.mask_stars.push_back(unlinked);
  Picture p(720, 480);
  DrawResidualGraph(*c, p.view);
  // B = 275, L = 356, E = 716.
  EXPECT_EQ(p.At(400, 275), kRed);
  EXPECT_EQ(p.At(357, 375), kGreen);
  EXPECT_EQ(p.At(357, 475), kGreen);
  EXPECT_EQ(p.At(356, 300), kCyan);
  EXPECT_EQ(p.At(716, 301), kRed);
  EXPECT_EQ(p.At(456, 295), kRed);    // 200 x ddeg above B
  EXPECT_EQ(p.At(456, 400), kGreen);  // 50 x residual above the middle row
  EXPECT_EQ(p.At(406, 295), kBlack);  // the unlinked star is not drawn
}

}  // namespace
}  // namespace mr4
