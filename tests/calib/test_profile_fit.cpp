// Profile adjustment: the line searches, the full adjustment recovering a
// known camera from a synthetic star field, the magnitude calibration, the
// capture-mask conversion and the star-fit sequence.
#include <atomic>
#include <filesystem>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "astro/angles.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/still_image.h"
#include "calib/star_match.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4 {
namespace {

double AngleDeg(const HorizontalPoint& a, const HorizontalPoint& b) {
  return AngularDistance(static_cast<float>(a.az), static_cast<float>(a.ev),
                         static_cast<float>(b.az), static_cast<float>(b.ev)) * kRadToDeg;
}

// Pairs made exactly by a profile: the pixel of each listed direction.
std::vector<LinkedPair> PairsThrough(const CameraProfile& truth,
                                     const std::vector<HorizontalPoint>& sky) {
  std::vector<LinkedPair> pairs;
  for (const HorizontalPoint& h : sky) {
    const PixelPosition px = HorizontalToPixel(truth, h.az, h.ev);
    if (px.inside) pairs.push_back({px.x, px.y, h.az, h.ev});
  }
  return pairs;
}

std::vector<HorizontalPoint> GridAround(const CameraProfile& p, double spread) {
  std::vector<HorizontalPoint> sky;
  for (int i = -2; i <= 2; ++i) {
    for (int j = -2; j <= 2; ++j) {
      sky.push_back(PixelToHorizontal(p, p.cx * 0.5 + i * spread + 3.3 * j,
                                      p.cy * 0.5 + j * spread * 0.6 - 2.1 * i));
    }
  }
  return sky;
}

TEST(LineSearch, FieldAtItsOptimumStaysAndCountsNoMove) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<LinkedPair> pairs = PairsThrough(truth, GridAround(truth, 60));
  const ProfileField fields[] = {&CameraProfile::p_az, &CameraProfile::p_ev,
                                 &CameraProfile::p_rot, &CameraProfile::p_vx};
  for (ProfileField field : fields) {
    CameraProfile p = truth;
    EXPECT_EQ(LineSearch(p, pairs, field, 0.1f, 9e-8), 0);
    EXPECT_EQ(p.*field, truth.*field);
  }
}

TEST(LineSearch, MovesAnOffFieldBackAndLensSearchKeepsTheTableInStep) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<LinkedPair> pairs = PairsThrough(truth, GridAround(truth, 70));
  CameraProfile p = truth;
  p.p_az += 0.37f;
  EXPECT_GT(LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, 9e-8), 0);
  EXPECT_NEAR(p.p_az, truth.p_az, 1e-4);

  // 5.3 deg off: all 50 moves of the first step are accepted. The field
  // keeps the 50th; taking it back would leave a cost that no later, finer
  // move could beat, and the field 0.4 deg off.
  p = truth;
  p.p_az -= 5.3f;
  LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, 9e-8);
  EXPECT_NEAR(p.p_az, truth.p_az, 1e-4);

  p = truth;
  p.p_k3 += 0.023f;
  BuildDistortionTable(p);
  LineSearchWithLens(p, pairs, &CameraProfile::p_k3, 0.01f, 9e-8);
  EXPECT_NEAR(p.p_k3, truth.p_k3, 1e-4);
  EXPECT_NEAR(p.k1, 1.0 - p.p_k4 - p.p_k3 - p.p_k2, 1e-12);
  EXPECT_LT(MeanPixelResidual(p, pairs), 1e-3);
}

// A synthetic star field drawn through a known profile.
class SyntheticField : public ::testing::Test {
 protected:
  void SetUp() override {
    truth_ = testing::MakeSkyProfile();
    catalogue_ = testing::MakeUniformCatalogue(4000, 6.0f, 23);
    mask_ = testing::RenderMask(catalogue_, truth_, truth_.p_u4_refmag, &drawn_);
  }
  // The start: a degree off in az and ev, half a degree in rot, 2% in vx.
  CameraProfile OffProfile() const {
    CameraProfile p = truth_;
    p.p_az += 1.0f;
    p.p_ev -= 1.0f;
    p.p_rot += 0.5f;
    p.p_vx *= 1.02f;
    testing::Refresh(p);
    return p;
  }
  // Angle between the directions the two profiles see over a grid of pixels.
  double WorstDirectionError(const CameraProfile& p) const {
    std::vector<double> xs, ys;
    for (int i = 1; i < 8; ++i) {
      xs.push_back(p.cx * i / 8.0);
      ys.push_back(p.cy * i / 8.0);
    }
    return testing::WorstDirectionErrorDeg(p, truth_, xs, ys);
  }
  CameraProfile truth_;
  StarCatalogue catalogue_;
  std::vector<std::uint8_t> mask_;
  int drawn_ = 0;
};

TEST_F(SyntheticField, DetectAndAdjustAllRecoverTheProfile) {
  ASSERT_GE(drawn_, 25);
  CameraProfile p = OffProfile();
  p.p_u4_dlim = 40;  // the start is ~20 px off at the edges
  StarData data;
  BuildVisibleStars(catalogue_, p, data.visible);
  DetectMaskStars(catalogue_, p, mask_, data);
  for (int round = 0; round < 4; ++round) {
    BuildLinkedPairs(catalogue_, p, data);
    RelinkOutliers(catalogue_, p, data);
  }
  BuildLinkedPairs(catalogue_, p, data);
  ASSERT_GE(data.pairs.size(), 20u);
  const double before = MeanPixelResidual(p, data.pairs);
  EXPECT_GT(before, 5.0);

  std::vector<std::string> progress;
  const AdjustResult result =
      AdjustAll(p, data.pairs, FitSwitches{},
                AdjustProgress{nullptr, [&](const std::string& t) { progress.push_back(t); }});
  EXPECT_LT(result.residual, 0.3);
  EXPECT_EQ(result.residual, MeanPixelResidual(p, data.pairs));
  ASSERT_EQ(static_cast<int>(progress.size()), result.iterations);
  EXPECT_EQ(progress[0].rfind("retry count=1 ddpix = ", 0), 0u) << progress[0];

  const HorizontalPoint centre = PixelToHorizontal(p, p.cx * 0.5, p.cy * 0.5);
  const HorizontalPoint true_centre = PixelToHorizontal(truth_, p.cx * 0.5, p.cy * 0.5);
  EXPECT_LT(AngleDeg(centre, true_centre), 0.05);
  EXPECT_LT(WorstDirectionError(p), 0.05);
  EXPECT_NEAR(p.p_vx, truth_.p_vx, 0.2);
  EXPECT_NEAR(p.p_rot, truth_.p_rot, 0.1);
  EXPECT_GE(p.p_az, 0.0f);
  EXPECT_LT(p.p_az, 360.0f);
  RecordProperty("iterations", result.iterations);
}

TEST_F(SyntheticField, StopFlagEndsTheAdjustmentAfterOneIteration) {
  CameraProfile p = OffProfile();
  p.p_u4_dlim = 40;
  StarData data;
  BuildVisibleStars(catalogue_, p, data.visible);
  DetectMaskStars(catalogue_, p, mask_, data);
  std::atomic<bool> stop{false};
  int shown = 0;
  const AdjustResult result = AdjustAll(
      p, data.pairs, FitSwitches{},
      AdjustProgress{&stop, [&](const std::string&) { stop = true; ++shown; }});
  EXPECT_EQ(result.iterations, 1);
  EXPECT_EQ(shown, 1);
}

TEST_F(SyntheticField, StarFitSequenceLinksAndKeepsAGoodPointingFit) {
  CameraProfile recorded = truth_;
  recorded.p_az += 0.3f;
  recorded.p_ev += 0.2f;
  testing::Refresh(recorded);
  CameraProfile p = recorded;
  StarData data;
  PrepareStarData(catalogue_, p, mask_, data);
  const StarFitResult result = StarFitSequence(catalogue_, recorded, mask_, p, data);
  EXPECT_TRUE(result.pointing_kept);
  EXPECT_GE(result.pairs, 20);
  EXPECT_LT(result.residual, 1.0);
  EXPECT_NEAR(p.p_az, truth_.p_az, 0.05);
  // The residuals of the mask stars refer to the final profile.
  for (const MaskStar& s : data.mask_stars) {
    if (s.link < 0) continue;
    EXPECT_LT(s.ddeg, 0.1);
    const PixelPosition px = HorizontalToPixel(p, data.pairs[0].az, data.pairs[0].ev);
    EXPECT_TRUE(px.inside);
  }
  EXPECT_GT(result.photometry.stars, 0);
}

TEST_F(SyntheticField, StarFitSequenceDiscardsAPointingFitThatLeavesLargeResiduals) {
  // A field of view 6% too wide: the pointing alone cannot fit the stars.
  CameraProfile recorded = truth_;
  recorded.p_vx *= 1.06f;
  recorded.p_u4_dlim = 60;
  testing::Refresh(recorded);
  CameraProfile p = recorded;
  StarData data;
  PrepareStarData(catalogue_, p, mask_, data);
  const StarFitResult result = StarFitSequence(catalogue_, recorded, mask_, p, data);
  EXPECT_FALSE(result.pointing_kept);
  EXPECT_GT(result.residual, 4.0);
  EXPECT_EQ(p.p_az, recorded.p_az);
  EXPECT_EQ(p.p_vx, recorded.p_vx);
  EXPECT_TRUE(data.mask_stars.empty());
  EXPECT_EQ(result.pairs, 0);
  EXPECT_EQ(result.photometry.stars, 0);
}

TEST_F(SyntheticField, StarFitSequenceReportsWhyAFitFailed) {
  struct Case {
    const char* name;
    float vx_factor;  // of the recorded camera
    float refmag;     // of the recorded camera: the catalogue stars linked
    const char* failure;
  };
  const Case cases[] = {
      {"a good fit", 1.0f, 4.0f, ""},
      {"discarded pointing fit", 1.06f, 4.0f, "mean residual "},
      {"no star bright enough", 1.0f, -5.0f, "0 linked stars, at least 6 needed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraProfile recorded = truth_;
    recorded.p_az += 0.3f;
    recorded.p_vx *= c.vx_factor;
    recorded.p_u4_dlim = 60;
    recorded.p_u4_refmag = c.refmag;
    testing::Refresh(recorded);
    const std::vector<std::uint8_t>& mask = mask_;
    CameraProfile p = recorded;
    StarData data;
    PrepareStarData(catalogue_, p, mask, data);
    const StarFitResult result = StarFitSequence(catalogue_, recorded, mask, p, data);
    if (*c.failure == 0) {
      EXPECT_EQ(result.failure, "");
    } else {
      EXPECT_NE(result.failure.find(c.failure), std::string::npos) << result.failure;
    }
  }
}

// A mask of noise: thousands of one-pixel "stars". The fit is not tried
// (it would take minutes and link nonsense); the recorded profile stays.
TEST_F(SyntheticField, StarFitSequenceRefusesAMaskOfNoise) {
  std::vector<std::uint8_t> noise = mask_;
  std::uint32_t state = 7;
  for (std::size_t i = 0; i < noise.size(); i += 3) {
    state = state * 1664525u + 1013904223u;
    if ((state >> 24) < 40) noise[i] = 240, noise[i + 1] = static_cast<std::uint8_t>(state >> 8);
  }
  CameraProfile recorded = truth_;
  recorded.p_az += 0.3f;
  testing::Refresh(recorded);
  CameraProfile p = recorded;
  StarData data;
  PrepareStarData(catalogue_, p, noise, data);
  const StarFitResult result = StarFitSequence(catalogue_, recorded, noise, p, data);
  EXPECT_NE(result.failure.find("mask stars, more than 1000: the mask holds noise"),
            std::string::npos)
      << result.failure;
  EXPECT_EQ(p.p_az, recorded.p_az);
  EXPECT_EQ(result.pairs, 0);
}

TEST(CalibrationFailure, StatesBothLimits) {
  struct Case {
    int mask_stars;
    int pairs;
    double residual;
    const char* failure;
  };
  const Case cases[] = {
      {30, 20, 0.4, ""},
      {30, 6, 3.0, ""},  // both limits hold at their edge
      {1000, 6, 0.4, ""},
      {30, 5, 0.1, "5 linked stars, at least 6 needed"},
      {0, 0, 0.0, "0 linked stars, at least 6 needed"},
      {30, 20, 17.24, "mean residual 17.2 px, more than 3.0 px"},
      {30, 20, std::nan(""), "mean residual nan px, more than 3.0 px"},
      {1001, 900, 0.5, "1001 mask stars, more than 1000: the mask holds noise"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CalibrationFailure(c.mask_stars, c.pairs, c.residual), c.failure)
        << c.mask_stars << " " << c.pairs << " " << c.residual;
  }
  EXPECT_TRUE(IsFailedCalibration(kErrmCalibrationFailed));
  EXPECT_FALSE(IsFailedCalibration(-1.0f));  // magnitudes not calibrated
  EXPECT_FALSE(IsFailedCalibration(0.12f));
}

TEST_F(SyntheticField, PointingSearchFindsTheCameraFromTenDegreesOff) {
  StarData data;
  CameraProfile p = truth_;
  PrepareStarData(catalogue_, p, mask_, data);
  DetectMaskStars(catalogue_, p, mask_, data);
  ASSERT_GE(data.mask_stars.size(), 20u);
  const struct {
    float az, ev, rot;
  } offsets[] = {{10, 10, 5}, {-10, -10, -5}, {10, -10, -5}, {-10, 10, 5}, {0, 0, 0}};
  for (const auto& o : offsets) {
    SCOPED_TRACE(::testing::Message() << o.az << " " << o.ev << " " << o.rot);
    CameraProfile start = truth_;
    start.p_az += o.az;
    start.p_ev += o.ev;
    start.p_rot += o.rot;
    testing::Refresh(start);
    ASSERT_TRUE(SearchPointing(catalogue_, start, data.mask_stars));
    // Within the reach of the links (about a degree) and of the fine fit.
    EXPECT_NEAR(start.p_az, truth_.p_az, 0.3);
    EXPECT_NEAR(start.p_ev, truth_.p_ev, 0.3);
    EXPECT_NEAR(start.p_rot, truth_.p_rot, 0.3);
  }
  // Five mask stars are too few to tell a pointing: nothing changes.
  CameraProfile start = truth_;
  start.p_az += 10.0f;
  EXPECT_FALSE(SearchPointing(catalogue_, start, std::span(data.mask_stars).first(5)));
  EXPECT_EQ(start.p_az, truth_.p_az + 10.0f);
}

TEST_F(SyntheticField, PrepareClipForStarsReadsTheMaskPictureOfTheClipRecord) {
  namespace fs = std::filesystem;
  Strings().Prime();
  const fs::path dir = fs::path(::testing::TempDir()) / "mr4-prepare-clip";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string name = "M20240812_231530_TK";
  Table& clip = Tables().clip;
  const int row = clip.AppendRow();
  CameraProfile recorded = truth_;
  recorded.p_az += 0.3f;
  StoreProfileToRecord(recorded, clip, row);
  clip.SetText(row, clip::kDirectory, dir.string());
  clip.SetText(row, clip::kClipName, name);
  clip.SetInt(row, clip::kY, truth_.clip_y);
  clip.SetInt(row, clip::kMo, truth_.clip_mo);
  clip.SetInt(row, clip::kD, truth_.clip_d);
  clip.SetInt(row, clip::kH, truth_.clip_h);
  clip.SetInt(row, clip::kM, truth_.clip_m);
  clip.SetFloat(row, clip::kS, truth_.clip_s);
  clip.SetInt(row, clip::kTz, truth_.clip_tz);

  std::vector<std::uint8_t> buffer(mask_.size());
  ImageBuffer mask{buffer, 0, 0};
  CameraProfile p;
  StarData data;
  struct Case {
    const char* file;  // the picture the clip has
    bool prepared;
  };
  const Case cases[] = {{"N.BMP", true}, {"M.BMP", true}, {nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "no picture");
    fs::remove(dir / (name + "N.BMP"));
    fs::remove(dir / (name + "M.BMP"));
    if (c.file) {
      ASSERT_EQ(WriteStillBmp(dir / (name + c.file), mask_, truth_.cx, truth_.cy),
                ImageStatus::kOk);
    }
    const ClipMaskFiles files{dir / (name + "N.BMP"), dir / (name + "M.BMP")};
    ASSERT_EQ(PrepareClipForStars(catalogue_, clip, row, false, files, p, data, mask),
              c.prepared);
    if (!c.prepared) continue;
    EXPECT_EQ(p.p_az, recorded.p_az);
    EXPECT_DOUBLE_EQ(p.ClipLst, truth_.ClipLst);
    EXPECT_FALSE(data.visible.entries.empty());
    const CameraProfile loaded = p;
    const StarFitResult fit =
        StarFitSequence(catalogue_, loaded, std::span(buffer).first(mask_.size()), p, data);
    EXPECT_TRUE(fit.pointing_kept);
    EXPECT_GE(fit.pairs, 20);
    EXPECT_NEAR(p.p_az, truth_.p_az, 0.05);
  }

  ScriptedUi ui;
  ScopedUi scoped(ui);
  clip.SetFloat(row, clip::kYx, 0.0f);
  EXPECT_FALSE(PrepareClipForStars(catalogue_, clip, row, false, {dir / (name + "N.BMP"), {}},
                                   p, data, mask));
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "Invalid profile settings\n" + (dir / name).string());
  clip.DeleteRow(row);
  fs::remove_all(dir);
}

TEST(AdjustAll, FewPairsAndTheZenithLimit) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<LinkedPair> all = PairsThrough(truth, GridAround(truth, 60));

  // No pair: nothing changes.
  CameraProfile p = truth;
  p.p_az += 0.5f;
  AdjustResult r = AdjustAll(p, {}, FitSwitches{});
  EXPECT_EQ(r.iterations, 0);
  EXPECT_EQ(p.p_az, truth.p_az + 0.5f);

  // One pair: the az/ev searches, then the iteration loop all the same.
  p = truth;
  p.p_az += 0.5f;
  r = AdjustAll(p, std::span(all).first(1), FitSwitches{});
  EXPECT_GE(r.iterations, 1);
  EXPECT_LT(r.residual, 0.01);

  // Two pairs: pointing only, no iterations.
  p = truth;
  p.p_az += 0.5f;
  p.p_vx += 1.0f;
  r = AdjustAll(p, std::span(all).first(2), FitSwitches{});
  EXPECT_EQ(r.iterations, 0);
  EXPECT_EQ(p.p_vx, truth.p_vx + 1.0f);

  // An all-sky camera at the zenith: ev stays at most 89.9999.
  CameraProfile sky = truth;
  sky.cx = sky.cy = 1024;
  sky.p_vx = 180.0f;
  sky.p_ev = 90.0f;
  sky.p_k3 = sky.p_k2 = 0.0f;
  testing::Refresh(sky);
  std::vector<HorizontalPoint> dirs;
  for (int i = 0; i < 12; ++i) dirs.push_back({i * 30.0 + 5.0, 30.0 + 4.0 * i});
  const std::vector<LinkedPair> zenith_pairs = PairsThrough(sky, dirs);
  ASSERT_EQ(zenith_pairs.size(), 12u);
  p = sky;
  p.p_ev = 89.5f;
  p.p_u4_ddpix = 1e-4f;  // exact pairs: stop early
  p.p_az = 359.0f;  // near the wrap: az ends in 0..360
  r = AdjustAll(p, zenith_pairs, FitSwitches{});
  EXPECT_LE(p.p_ev, 89.9999f);
  EXPECT_GE(p.p_az, 0.0f);
  EXPECT_LT(p.p_az, 360.0f);
  EXPECT_LT(r.residual, 0.5);
}

// Mask stars linked to catalogue stars of known magnitude, with the flux a
// zero point of 8 gives them.
struct PhotometryFixture {
  StarCatalogue catalogue;
  StarData data;
  void Add(float v, float colour, double flux) {
    catalogue.ra.push_back(0);
    catalogue.dec.push_back(0);
    catalogue.vmag.push_back(v);
    catalogue.colour.push_back(colour);
    MaskStar s;
    s.link = catalogue.count++;
    s.flux = flux;
    s.lgL = flux > 1.0 ? std::log10(flux) : 0.0;
    data.mask_stars.push_back(s);
  }
};

TEST(CalibrateMagnitude, RecoversTheZeroPointAndLeavesOutStarsWithoutFlux) {
  PhotometryFixture f;
  CameraProfile p;
  p.p_u4_bvf = -0.3f;
  p.maxl = 255;
  p.minm = 4.0f;
  const double zero_point = 8.0;
  for (int i = 0; i < 18; ++i) {
    const float v = 1.0f + 0.15f * i, colour = 0.05f * i;
    const double m = -0.3f * colour + v;
    f.Add(v, colour, std::pow(10.0, (zero_point - m) / 2.5));
  }
  f.Add(3.5f, 0.2f, 1.0);   // faint stars whose flux vanished in the noise
  f.Add(3.8f, 0.4f, 0.4);
  f.Add(5.5f, 0.0f, 10.0);  // fainter than mimMag: not used
  MaskStar unlinked;
  unlinked.flux = 1000.0;
  f.data.mask_stars.push_back(unlinked);

  const PhotometryResult r = CalibrateMagnitude(f.catalogue, p, f.data);
  EXPECT_EQ(r.stars, 18);
  EXPECT_NEAR(r.zero_point, zero_point, 1e-5);
  EXPECT_NEAR(r.rms, 0.0, 2e-3);
  EXPECT_NEAR(r.errm, 0.0, 2e-3);
  const double log_max = 2.5 * std::log10(255.0);
  EXPECT_FLOAT_EQ(p.maxm, static_cast<float>(std::trunc((zero_point - log_max) * 1000) / 1000));
  EXPECT_FLOAT_EQ(p.minm, 4.0f);
  EXPECT_EQ(p.minl, static_cast<int>(std::pow(10.0, (zero_point - 4.0) / 2.5)));
  EXPECT_NEAR(p.ZeroPoint, p.maxm + log_max, 1e-9);
  EXPECT_EQ(PhotometryText(p, r).rfind("n18,m=-2.50*lgL+8.00,sd=0.00,dmax0.00", 0), 0u)
      << PhotometryText(p, r);
}

TEST(CalibrateMagnitude, AZeroPointAboveMimMagLowersIt) {
  PhotometryFixture f;
  CameraProfile p;
  p.p_u4_bvf = 0.0f;
  p.minm = 4.0f;
  for (float v : {1.0f, 2.0f, 3.0f}) f.Add(v, 0.0f, std::pow(10.0, (3.5 - v) / 2.5));
  const PhotometryResult r = CalibrateMagnitude(f.catalogue, p, f.data);
  EXPECT_EQ(r.stars, 3);
  EXPECT_FLOAT_EQ(p.minm, static_cast<float>(std::trunc(3.5f * 1000.0) / 1000.0));
  EXPECT_EQ(p.minl, 1);
}

TEST(CalibrateMagnitude, AllStarsFainterThanMimMagIsNotCalculated) {
  PhotometryFixture f;
  CameraProfile p;
  p.p_u4_bvf = 0.0f;
  p.minm = 4.0f;
  p.maxm = 2.0f;
  p.minl = 50;
  UpdateZeroPoint(p);
  f.Add(4.5f, 0.0f, 100.0);
  f.Add(5.0f, 0.0f, 50.0);
  const CameraProfile before = p;
  const PhotometryResult r = CalibrateMagnitude(f.catalogue, p, f.data);
  EXPECT_EQ(r.stars, 0);
  EXPECT_EQ(r.errm, -1.0);
  EXPECT_EQ(p.maxm, before.maxm);
  EXPECT_EQ(p.minm, before.minm);
  EXPECT_EQ(p.minl, before.minl);
  EXPECT_EQ(PhotometryText(p, r), "n=0 m=-2.5*log(L)+8.02 (not calculated)");
}

TEST(ConvertCaptureMask, CodesAndTheClearedDetectionSquares) {
  const int w = 40, h = 30;
  std::vector<std::uint8_t> bgr(w * h * 3, 0);
  auto px = [&](int x, int y) { return &bgr[3 * (y * w + x)]; };
  // Background: black (blue 0, green 0) becomes 2.
  px(1, 1)[0] = 18;   // >= 16 with bit 1: marked
  px(2, 1)[0] = 250;  // >= 240 without bit 1... 250 has bit 1: marked
  px(3, 1)[0] = 241;  // >= 240, bit 1 clear: 240
  px(4, 1)[0] = 0;
  px(4, 1)[1] = 5;    // black blue with some green: stays 0
  px(20, 15)[2] = 200;  // a capture mark
  px(20, 2)[2] = 200;   // a mark next to the text band (rows 0 and 1)
  ConvertCaptureMask(bgr, w, h, 8, 0, 2);

  EXPECT_EQ(px(1, 1)[0], 242 | 4);
  EXPECT_EQ(px(2, 1)[0], 242 | 4);
  EXPECT_EQ(px(3, 1)[0], 240 | 4);
  EXPECT_EQ(px(4, 1)[0], 0 | 4);
  EXPECT_EQ(px(0, 29)[0], 2 | 4);
  // dapix 8: v = 4, a 9 x 9 square without bit 2 around the mark.
  EXPECT_EQ(px(20, 15)[0], 2);
  EXPECT_EQ(px(16, 11)[0], 2);
  EXPECT_EQ(px(24, 19)[0], 2);
  EXPECT_EQ(px(25, 15)[0], 2 | 4);
  EXPECT_EQ(px(20, 20)[0], 2 | 4);
  // The square of the lower mark stops at the text band.
  EXPECT_EQ(px(20, 2)[0], 2);
  EXPECT_EQ(px(20, 1)[0], 2 | 4);
  EXPECT_EQ(px(20, 0)[0], 2 | 4);
}

}  // namespace
}  // namespace mr4
