// The reduction of a run's tracks into objects: smoothing along the fitted
// circle against trails of known truth, short tracks, the frame bits, the
// object row and clip summary, the classification table, the tidying of
// non-meteors and the removal of one object with its track.
#include "analysis/reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/result_file.h"
#include "analysis/trail_fit.h"
#include "app/settings.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/analysis/analysis_fixture.h"
#include "tests/analysis/sky_trail.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

double Separation(double ra1, double dec1, double ra2, double dec2) {
  return AngularDistance(static_cast<float>(ra1), static_cast<float>(dec1),
                         static_cast<float>(ra2), static_cast<float>(dec2)) / kDeg;
}

// A progressive 30 fps run of a 720 x 480 clip with head 30 frames, on a
// fresh clip row whose station is the profile's.
class Reduction : public ::testing::Test {
 protected:
  void SetUp() override {
    c_ = testing::SmallContext(720, 480);
    c_->field_rate = 30;
    c_->clip.head = 30;
    c_->head_time = 1.0;
    c_->params.mins = 1;
    c_->params.rm_small = 0;
    c_->params.consR = 0;
    c_->params.cdlim = -1;
    // The radii of maxdps 49 and edeg 3 with the 10 deg field (72 px/deg).
    c_->speed_radius = 49 * 72 / 30.0;
    c_->tolerance_radius = 3 * 72;
    Table& clips = Tables().clip;
    row_ = clips.AppendRow();
    clips.SetInt(row_, clip::kOline, -1);
    clips.SetFloat(row_, clip::kLng, 139.7f);
    clips.SetFloat(row_, clip::kLat, 35.7f);
    c_->clip_row = row_;
    AnalysisContextAt(0).params.maxdps = 49;
  }
  void TearDown() override { AppSettings() = Settings{}; }

  void Point(double ra, double dec, double fov = 10) {
    c_->profile = testing::PointedProfile(ra, dec, fov);
  }
  // The camera looks at the middle of the trail it then places.
  testing::TrueTrail Trail(double ra, double dec, double bearing, double speed, int n,
                           int first_field = 30) {
    const SpherePoint mid =
        SkyDestination(ra, dec, bearing, speed * (n - 1) / 2 / c_->field_rate);
    Point(mid.lon, mid.lat);
    return testing::PlaceTrail(*c_, ra, dec, bearing, speed, n, first_field);
  }
  void Reduce(int last_field) {
    c_->field_counter = last_field + 1;
    ReduceRun(*c_);
  }
  // OBJ rows of the clip in chain order.
  std::vector<int> Objects() const {
    std::vector<int> rows;
    for (int o = Tables().clip.Int(row_, clip::kOline); o >= 0;
         o = Tables().obj.Int(o, obj::kOlinenext))
      rows.push_back(o);
    return rows;
  }
  float F(int object, int column) const { return Tables().obj.Float(object, column); }
  int I(int object, int column) const { return Tables().obj.Int(object, column); }
  std::string Class(int object) const { return std::string(Tables().obj.Text(object, obj::kClass)); }

  std::unique_ptr<AnalysisContext> c_;
  int row_ = -1;
};

TEST_F(Reduction, SmoothedPositionsAndVelocitiesFollowTheTruth) {
  struct Case {
    const char* name;
    double ra, dec, bearing, speed;
    int flag;
    double position_tolerance;  // [deg]
    double speed_tolerance;     // relative
  };
  const Case cases[] = {
      {"east across 0h", 359.5, 10, 90, 2.75, 1, 0.003, 0.01},  // ra 359.5 .. 0.5
      {"near the pole", 40, 82, 45, 10, -1, 0.003, 0.01},
      {"mostly north", 330, 20, 10, 10, 0, 0.003, 0.01},
      // 7 deg long and tilted, so ra is not linear in time: the one-sided
      // local fits at the ends are off by up to 2 px.
      {"long south-west", 280, 30, 235, 20, 1, 0.04, 0.03},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SetUp();
    const int n = 12;
    const testing::TrueTrail truth = Trail(k.ra, k.dec, k.bearing, k.speed, n);
    Reduce(60);
    ASSERT_EQ(c_->track_count, 1);
    Track& t = c_->tracks[0];
    ASSERT_EQ(t.sample_count, n);
    for (int i = 0; i < n; ++i) {
      const Detection& s = c_->Sample(t.samples[i]);
      EXPECT_GE(s.ra_mod, 0);
      EXPECT_LT(s.ra_mod, 360);
      EXPECT_LT(Separation(s.ra_mod, s.dec_mod, truth.sky[i].lon, truth.sky[i].lat),
                k.position_tolerance)
          << "sample " << i << " at " << s.ra_mod << ", " << s.dec_mod;
      EXPECT_NEAR(s.av, k.speed, k.speed_tolerance * k.speed) << "sample " << i;
    }
    const std::vector<int> objects = Objects();
    ASSERT_EQ(objects.size(), 1u);
    const int o = objects[0];
    const double tol = k.position_tolerance;
    EXPECT_LT(Separation(F(o, obj::kRa1), F(o, obj::kDc1), truth.sky[0].lon, truth.sky[0].lat),
              tol);
    EXPECT_LT(Separation(F(o, obj::kRa2), F(o, obj::kDc2), truth.sky[n - 1].lon,
                         truth.sky[n - 1].lat),
              tol);
    EXPECT_LT(Separation(F(o, obj::kRam), F(o, obj::kDcm), truth.sky[(n - 1) / 2].lon,
                         truth.sky[(n - 1) / 2].lat),
              tol);
    EXPECT_NEAR(F(o, obj::kAv1), k.speed, k.speed_tolerance * k.speed);
    EXPECT_NEAR(F(o, obj::kAv2), k.speed, k.speed_tolerance * k.speed);
    EXPECT_LT(F(o, obj::kCdeg), 0.001);
    EXPECT_EQ(FitGreatCircle(*c_, t, 0).orientation, k.flag);
  }
}

TEST_F(Reduction, AcrossZeroHoursTheEndsKeepTheirSides) {
  const testing::TrueTrail truth = Trail(359.5, 10, 90, 2.75, 12);
  Reduce(60);
  const int o = Objects().at(0);
  EXPECT_NEAR(F(o, obj::kRa1), 359.5, 0.003);
  EXPECT_NEAR(F(o, obj::kRa2), truth.sky.back().lon, 0.003);
  EXPECT_LT(truth.sky.back().lon, 1.0);
}

TEST_F(Reduction, AutomaticLimitLeavesTheOutlierOut) {
  const int n = 12;
  const testing::TrueTrail truth = Trail(330, 20, 80, 10, n);
  // Sample 5 moved 0.2 deg off the circle, across the trail.
  Detection& bad = c_->DetectionAt(35, 0);
  const SpherePoint off = SkyDestination(truth.sky[5].lon, truth.sky[5].lat, 170, 0.2);
  const FramePoint f = ProjectToFrame(*c_, off.lon, off.lat);
  bad.x = f.x;
  bad.y = f.y;
  Reduce(60);
  const Track& t = c_->tracks[0];
  ASSERT_EQ(t.sample_count, n);
  EXPECT_EQ(c_->Sample(t.samples[5]).pass, 0);
  EXPECT_EQ(t.passed_count, n - 1);
  const int o = Objects().at(0);
  EXPECT_EQ(I(o, obj::kNpass), n - 1);
  EXPECT_LT(F(o, obj::kCdeg), 0.001);
  // The smoothing uses the passed samples only: the outlier's own place is
  // back on the trail.
  const Detection& s = c_->Sample(t.samples[5]);
  EXPECT_LT(Separation(s.ra_mod, s.dec_mod, truth.sky[5].lon, truth.sky[5].lat), 0.01);
}

TEST_F(Reduction, ShortTracksShareOneVelocity) {
  struct Case {
    int samples;
    double av;  // expected at start, middle, end and on every sample
    float sec;
    const char* object_class;
  };
  const Case cases[] = {
      {1, -1, 0.0f, "__noise"},       // no time span: no velocity
      {3, 10, 2 / 30.0f, "spo"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.samples);
    SetUp();
    Trail(330, 20, 80, 10, k.samples);
    Reduce(60);
    ASSERT_EQ(c_->track_count, 1);
    const Track& t = c_->tracks[0];
    for (int i = 0; i < t.sample_count; ++i)
      EXPECT_NEAR(c_->Sample(t.samples[i]).av, k.av, 0.01 * std::fabs(k.av));
    const int o = Objects().at(0);
    EXPECT_NEAR(F(o, obj::kAv1), k.av, 0.01 * std::fabs(k.av));
    EXPECT_EQ(F(o, obj::kAv1), F(o, obj::kAvm));
    EXPECT_EQ(F(o, obj::kAv1), F(o, obj::kAv2));
    EXPECT_FLOAT_EQ(F(o, obj::kSec), k.sec);
    EXPECT_EQ(Class(o), k.object_class);
  }
}

TEST_F(Reduction, FrameBitsOfStartAndEnd) {
  struct Case {
    double x0, y0, dx, dy;  // first sample and step [px]
    int io;
  };
  const Case cases[] = {
      {2.5, 240, 10, 0, 2},     // starts within 3 px of the left edge
      {4.5, 240, 10, 0, 3},
      {300, 456.5, 0, 10, 1},   // ends at row 476.5: within 4 px of the top
      {716.5, 240, 1, 0, 0},    // both ends within 4 px of the right edge
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.x0);
    SetUp();
    Point(330, 20);
    for (int i = 0; i < 3; ++i) {
      Detection& d = c_->DetectionAt(30 + i, 0);
      d = Detection{};
      d.field = 30 + i;
      d.x = k.x0 + i * k.dx;
      d.y = k.y0 + i * k.dy;
      d.pixels = 5;
      d.Lsum = 500;
      c_->detection_count[30 + i] = 1;
    }
    Reduce(40);
    const int o = Objects().at(0);
    EXPECT_NEAR(F(o, obj::kX1), k.x0, 0.01);
    EXPECT_EQ(I(o, obj::kIo), k.io);
  }
}

TEST_F(Reduction, ObjectRowsAndClipSummary) {
  Trail(330, 20, 80, 10, 12, 30);
  const SpherePoint elsewhere = SkyDestination(330, 20, 0, 1.5);
  const testing::TrueTrail second = testing::PlaceTrail(*c_, elsewhere.lon, elsewhere.lat, 80,
                                                        10, 8, 50);
  for (int f : second.fields) c_->DetectionAt(f, 0).Lsum = 5000;
  c_->DetectionAt(33, 0).pixels = 9;
  c_->noise_level = 17;
  c_->lit_pixels = 1234;
  Reduce(70);
  ASSERT_EQ(c_->track_count, 2);
  const std::vector<int> objects = Objects();
  ASSERT_EQ(objects.size(), 2u);
  const int a = objects[0], b = objects[1];
  EXPECT_EQ(I(a, obj::kCline), row_);
  EXPECT_EQ(I(b, obj::kOlinenext), -1);
  EXPECT_EQ(I(a, obj::kDisp), 1);
  EXPECT_EQ(I(a, obj::kFs), 30);
  EXPECT_EQ(I(a, obj::kFe), 41);
  EXPECT_EQ(I(a, obj::kFN), 12);
  EXPECT_EQ(I(a, obj::kSN), 12);
  EXPECT_EQ(I(a, obj::kPix), 11 * 6 + 9);
  EXPECT_EQ(I(a, obj::kBmax), 200);
  EXPECT_FLOAT_EQ(F(a, obj::kSec), 11 / 30.0f);
  EXPECT_FLOAT_EQ(F(a, obj::kDelay), 0.0f);         // field 30 at 30 fps, head 1 s
  EXPECT_FLOAT_EQ(F(a, obj::kDelayM), 35 / 30.0f - 1.0f);
  EXPECT_FLOAT_EQ(F(a, obj::kLmax), 1000.0f);
  EXPECT_EQ(I(b, obj::kFs), 50);
  EXPECT_NEAR(F(b, obj::kMag), c_->profile.ZeroPoint - 2.5 * std::log10(5000.0), 1e-4);
  EXPECT_EQ(Class(a), "spo");
  // The start gets its ground point at the default 100 km; the end keeps
  // the "not computed" marks.
  EXPECT_FLOAT_EQ(F(a, obj::kH1), 100.0f);
  EXPECT_GT(F(a, obj::kGd1), 0.0f);
  EXPECT_NE(F(a, obj::kLng1), -999.0f);
  EXPECT_FLOAT_EQ(F(a, obj::kLng2), -999.0f);
  EXPECT_FLOAT_EQ(F(a, obj::kH2), -1.0f);
  EXPECT_FLOAT_EQ(F(a, obj::kAzL1), -1.0f);

  const Table& clips = Tables().clip;
  EXPECT_EQ(clips.Int(row_, clip::kO), 2);
  EXPECT_EQ(clips.Int(row_, clip::kDl), 17);
  EXPECT_EQ(clips.Int(row_, clip::kPixs), 1234);
  EXPECT_EQ(clips.Int(row_, clip::kRstar), 0);
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kDdega), -1.0f);
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kDdegm), 0.0f);
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kMag), F(b, obj::kMag));  // the brighter
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kSec), F(b, obj::kSec));
  EXPECT_EQ(clips.Text(row_, clip::kClass), "spo");
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kCdegmax),
                  std::max(F(a, obj::kCdeg), F(b, obj::kCdeg)));
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kAvmin), std::min(F(a, obj::kAv1), F(b, obj::kAv1)));
  EXPECT_GE(c_->elapsed_seconds, 0);
}

TEST_F(Reduction, TheFallbackSampleStartsAfterTheHead) {
  for (int interlaced : {0, 1}) {
    SetUp();
    c_->clip.interlaced = interlaced;
    Point(330, 20);
    // No detection at all: the tracker's fallback sample, all zero.
    Reduce(60);
    ASSERT_EQ(c_->track_count, 1);
    const int o = Objects().at(0);
    const int expected = interlaced ? 61 : 31;
    EXPECT_EQ(I(o, obj::kFs), expected) << interlaced;
    EXPECT_EQ(I(o, obj::kFe), expected) << interlaced;
    EXPECT_EQ(Class(o), "__none");
  }
}

TEST_F(Reduction, TrailLogHoldsEveryTrackWhenSwitchedOn) {
  test::TempDir dir("mr4-reduction-log");
  Table& clips = Tables().clip;
  clips.SetText(row_, clip::kDirectory, dir.path().string());
  clips.SetText(row_, clip::kClipName, "M20240812_231530_T");
  AppSettings().a_log = 1;
  Trail(330, 20, 80, 10, 3);
  Reduce(60);
  EXPECT_EQ(c_->trail_log, nullptr);
  const std::string log = test::ReadFileBytes(TrailLogPath(clips, row_));
  EXPECT_NE(log.find("Object,M20240812_231530_T,Trail,0,NSample,3\r\n"), std::string::npos)
      << log;
  int samples = 0;
  for (std::size_t at = log.find("\nsample,"); at != std::string::npos;
       at = log.find("\nsample,", at + 1))
    ++samples;
  EXPECT_EQ(samples, 3) << log;

  // A directory that does not exist: the run goes on without the log.
  ScriptedUi ui;
  ScopedUi scoped(ui);
  SetUp();
  clips.SetText(row_, clip::kDirectory, (dir.path() / "missing").string());
  clips.SetText(row_, clip::kClipName, "M20240812_231530_T");
  Trail(330, 20, 80, 10, 3);
  Reduce(60);
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text,
            "Cannot open " + (dir.path() / "missing" / "M20240812_231530_TL.csv").string());
  EXPECT_GE(Objects().size(), 1u);
}

TEST(LocalLinearFit, LineMeanAndSingleEntry) {
  struct Case {
    const char* name;
    std::vector<double> times, angles;
    int lo, hi;
    double t, value, rms;
  };
  const Case cases[] = {
      {"single entry", {1, 2}, {7, 9}, 1, 1, 5, 9, 0},
      {"same times: the mean", {1, 1, 1}, {1, 2, 6}, 0, 2, 4, 3, 0},
      {"a line", {0, 1, 2, 3}, {1, 3, 5, 7}, 0, 3, 10, 21, 0},
      {"a sub-range", {0, 1, 2, 3, 4}, {50, 1, 2, 3, 50}, 1, 3, 2.5, 2.5, 0},
      {"residual", {0, 1, 2}, {0, 1, 0}, 0, 2, 1, 1.0 / 3, std::sqrt(2.0 / 9)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto c = testing::SmallContext(8, 8);
    for (std::size_t i = 0; i < k.times.size(); ++i) {
      c->fit_time[i] = k.times[i];
      c->fit_angle[i] = k.angles[i];
    }
    double rms = -1;
    EXPECT_NEAR(LocalLinearFit(*c, k.lo, k.hi, k.t, &rms), k.value, 1e-9);
    EXPECT_NEAR(rms, k.rms, 1e-9);
  }
}

TEST(ClassifyObject, DecisionTable) {
  struct Case {
    int pix;
    float sec, av1, cdeg;
    float net;  // start to end [deg]
    const char* expected;
  };
  // Default settings: noise < 0.04 s, flash > 50 px, slow < 0.5 deg/s,
  // curve > 0.15 deg; context 0's maxdps 40.
  const Case cases[] = {
      {0, 0.5f, 20, 0.05f, 10, "__none"},
      {30, 0.02f, 20, 0.05f, 0.4f, "__noise"},
      {50, 0.02f, 20, 0.05f, 0.4f, "__noise"},    // flash needs more than 50
      {51, 0.02f, 20, 0.05f, 0.4f, "__flash"},
      {30, 0.04f, 20, 0.05f, 0.8f, "spo"},        // 0.04 s is long enough
      {30, 0.5f, 20, 0.05f, 10, "spo"},
      {30, 0.5f, 45, 0.05f, 22, "__fast"},
      {30, 0.5f, 40, 0.05f, 20, "spo"},           // fast needs more than 40
      {30, 0.5f, 0.4f, 0.05f, 0.2f, "__slow"},
      {30, 0.5f, -1, 0.05f, 0, "__slow"},         // no velocity
      {30, 0.5f, 20, 0.2f, 10, "__curve"},
      {30, 0.5f, 45, 0.2f, 22, "__fast"},         // the first rule that holds
      // A fixed light: its first samples' jitter gives a start velocity
      // above the limit, its net motion (0.06 deg/s) does not.
      {30, 3.5f, 0.7f, 0.05f, 0.2f, "__slow"},
      {30, 3.5f, 0.7f, 0.05f, 1.8f, "spo"},       // net 0.51 deg/s
      {30, 0.5f, 45, 0.05f, 0.1f, "__fast"},      // fast still comes first
  };
  // Pixels from start to end; the table's objects move 12.
  constexpr float kMoved = 12;
  AnalysisContextAt(0).params.maxdps = 40;
  Table& objects = Tables().obj;
  for (const Case& k : cases) {
    const int row = objects.AppendRow();
    objects.SetText(row, obj::kClass, "PER");
    objects.SetInt(row, obj::kPix, k.pix);
    objects.SetFloat(row, obj::kSec, k.sec);
    objects.SetFloat(row, obj::kAv1, k.av1);
    objects.SetFloat(row, obj::kCdeg, k.cdeg);
    // Along a meridian away from the pole: the net angle is the dec span.
    objects.SetFloat(row, obj::kRa1, 30);
    objects.SetFloat(row, obj::kDc1, 10);
    objects.SetFloat(row, obj::kRa2, 30);
    objects.SetFloat(row, obj::kDc2, 10 + k.net);
    objects.SetFloat(row, obj::kX1, 100);
    objects.SetFloat(row, obj::kY1, 50);
    objects.SetFloat(row, obj::kX2, 100);
    objects.SetFloat(row, obj::kY2, 50 + kMoved);
    ClassifyObject(objects, row);
    EXPECT_EQ(objects.Text(row, obj::kClass), k.expected)
        << "pix " << k.pix << " sec " << k.sec << " av1 " << k.av1 << " cdeg " << k.cdeg
        << " net " << k.net;
  }
  // A wide-angle lens: 0.8 deg/s over 0.13 s is 0.1 deg, yet under a pixel
  // from start to end, a fixed light's jitter; one and a half is a motion.
  for (const auto& [moved, expected] : {std::pair{0.4f, "__slow"}, std::pair{1.5f, "spo"}}) {
    const int row = objects.AppendRow();
    objects.SetInt(row, obj::kPix, 30);
    objects.SetFloat(row, obj::kSec, 0.133f);
    objects.SetFloat(row, obj::kAv1, 0.8f);
    objects.SetFloat(row, obj::kCdeg, 0.05f);
    objects.SetFloat(row, obj::kRa1, 30);
    objects.SetFloat(row, obj::kDc1, 10);
    objects.SetFloat(row, obj::kRa2, 30);
    objects.SetFloat(row, obj::kDc2, 10.1f);
    objects.SetFloat(row, obj::kX1, 100);
    objects.SetFloat(row, obj::kY1, 50);
    objects.SetFloat(row, obj::kX2, 100 + 0.6f * moved);
    objects.SetFloat(row, obj::kY2, 50 + 0.8f * moved);
    ClassifyObject(objects, row);
    EXPECT_EQ(objects.Text(row, obj::kClass), expected) << "moved " << moved << " px";
  }
  AnalysisContextAt(0).params.maxdps = 49;
}

// A clip row with a chain of objects of the given classes, one track each
// (pixel sum 100 + position, its one sample owned by it).
class Tidying : public ::testing::Test {
 protected:
  void Build(const std::vector<std::string>& classes) {
    c_ = testing::SmallContext(64, 64);
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    row_ = clips.AppendRow();
    c_->clip_row = c_->track_clip_row = row_;
    clips.SetInt(row_, clip::kOline, -1);
    clips.SetInt(row_, clip::kO, static_cast<int>(classes.size()));
    int last = -1;
    rows_.clear();
    for (std::size_t i = 0; i < classes.size(); ++i) {
      const int o = objects.AppendRow();
      objects.SetText(o, obj::kClass, classes[i]);
      objects.SetInt(o, obj::kOlinenext, -1);
      if (last < 0)
        clips.SetInt(row_, clip::kOline, o);
      else
        objects.SetInt(last, obj::kOlinenext, o);
      last = o;
      rows_.push_back(o);
      Track& t = c_->tracks[i];
      t.pixel_sum = 100 + static_cast<int>(i);
      t.sample_count = 1;
      t.samples[0] = static_cast<int>(i);
      c_->detections[i].object = static_cast<int>(i);
    }
    c_->track_count = static_cast<int>(classes.size());
  }
  std::vector<std::string> Chain() const {
    std::vector<std::string> out;
    for (int o = Tables().clip.Int(row_, clip::kOline); o >= 0;
         o = Tables().obj.Int(o, obj::kOlinenext))
      out.emplace_back(Tables().obj.Text(o, obj::kClass));
    return out;
  }

  std::unique_ptr<AnalysisContext> c_;
  int row_ = -1;
  std::vector<int> rows_;
};

TEST_F(Tidying, NonMeteorsGoOnlyBesideAMeteor) {
  struct Case {
    std::vector<std::string> classes, kept;
    std::vector<int> tracks;  // pixel sums of the tracks left, in order
  };
  const Case cases[] = {
      {{"spo", "__noise", "__noise"}, {"spo"}, {100}},
      {{"__noise", "__noise", "__noise"}, {"__noise", "__noise", "__noise"}, {100, 101, 102}},
      {{"__flash", "PER", "__slow", "spo"}, {"PER", "spo"}, {101, 103}},
  };
  for (const Case& k : cases) {
    Build(k.classes);
    TidyObjects(*c_);
    EXPECT_EQ(Chain(), k.kept);
    ASSERT_EQ(c_->track_count, static_cast<int>(k.tracks.size()));
    for (std::size_t i = 0; i < k.tracks.size(); ++i) {
      EXPECT_EQ(c_->tracks[i].pixel_sum, k.tracks[i]);
      EXPECT_EQ(c_->Sample(c_->tracks[i].samples[0]).object, static_cast<int>(i));
    }
    EXPECT_EQ(Tables().clip.Int(row_, clip::kO), static_cast<int>(k.kept.size()));
    if (k.kept.size() < k.classes.size()) {
      EXPECT_EQ(c_->current_object, Tables().clip.Int(row_, clip::kOline));
    }
  }
}

TEST_F(Tidying, TheClipSummaryDescribesTheObjectsKept) {
  Build({"__slow", "spo"});
  Table& objects = Tables().obj;
  Table& clips = Tables().clip;
  objects.SetFloat(rows_[0], obj::kMag, -2.0f);  // the brightest goes
  objects.SetFloat(rows_[1], obj::kMag, 1.5f);
  objects.SetFloat(rows_[1], obj::kSec, 0.4f);
  clips.SetText(row_, clip::kClass, "__slow");
  clips.SetFloat(row_, clip::kMag, -2.0f);
  TidyObjects(*c_);
  EXPECT_EQ(clips.Text(row_, clip::kClass), "spo");
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kMag), 1.5f);
  EXPECT_FLOAT_EQ(clips.Float(row_, clip::kSec), 0.4f);
}

TEST_F(Tidying, RemovingTheFirstAndLastObjects) {
  Build({"a", "b", "c"});
  const int first = rows_[0], last = rows_[2];
  RemoveObject(*c_, last);
  EXPECT_EQ(Chain(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Tables().obj.Int(rows_[1], obj::kOlinenext), -1);
  RemoveObject(*c_, first);
  EXPECT_EQ(Chain(), (std::vector<std::string>{"b"}));
  EXPECT_EQ(c_->current_object, rows_[1]);
  EXPECT_EQ(c_->track_count, 1);
  EXPECT_EQ(c_->tracks[0].pixel_sum, 101);
  EXPECT_EQ(c_->Sample(c_->tracks[0].samples[0]).object, 0);
  EXPECT_EQ(c_->detections[0].object, -1);  // the removed track's sample
}

TEST_F(Tidying, TracksOfAnotherClipStay) {
  Build({"a", "b"});
  c_->track_clip_row = row_ + 1000;
  RemoveObject(*c_, rows_[0]);
  EXPECT_EQ(Chain(), (std::vector<std::string>{"b"}));
  EXPECT_EQ(c_->track_count, 2);
}

TEST_F(Tidying, ObjectOutsideTheChainIsFatal) {
  Build({"a", "b"});
  const int stranger = Tables().obj.AppendRow();
  EXPECT_EXIT(RemoveObject(*c_, stranger), ::testing::ExitedWithCode(99), "oline link broken");
}

}  // namespace
}  // namespace mr4
