#include "analysis/showers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/settings.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "calib/camera_model.h"
#include "clips/current_clip.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// Small vector algebra for building trails on the sky and on the globe.
struct Vec3 {
  double x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double k, Vec3 a) { return {k * a.x, k * a.y, k * a.z}; }
double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Norm(Vec3 a) { return std::sqrt(Dot(a, a)); }
Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 Normalized(Vec3 a) { return (1.0 / Norm(a)) * a; }
Vec3 UnitOf(double lon, double lat) {
  const double l = lon * kDegToRad, b = lat * kDegToRad;
  return {std::cos(b) * std::cos(l), std::cos(b) * std::sin(l), std::sin(b)};
}
SpherePoint PointOf(Vec3 v) {
  v = Normalized(v);
  double lon = std::atan2(v.y, v.x) * kRadToDeg;
  if (lon < 0) lon += 360.0;
  return {lon, std::asin(v.z) * kRadToDeg};
}
Vec3 UnitOf(const EquatorialPoint& e) { return UnitOf(e.ra, e.dec); }
double AngleBetween(Vec3 a, Vec3 b) {
  return std::atan2(Norm(Cross(a, b)), Dot(a, b)) * kRadToDeg;
}

// A trail on the great circle that passes `r` deg from the radiant, its
// start `d_start` and its end `d_end` deg from the radiant (moving away from
// it when d_end > d_start), running from the radiant away from `zenith`.
struct TrailOnSky {
  Vec3 start, end, pole;
  Vec3 nearest, along;  // the circle: cos s nearest + sin s along
};
TrailOnSky TrailFrom(Vec3 radiant, Vec3 zenith, double r, double d_start, double d_end) {
  const Vec3 down = Normalized(Dot(radiant, zenith) * radiant - zenith);
  const Vec3 side = Cross(radiant, down);
  TrailOnSky t;
  t.nearest = std::cos(r * kDegToRad) * radiant + std::sin(r * kDegToRad) * side;
  t.along = down;
  auto at = [&](double d) {
    const double s = std::acos(std::cos(d * kDegToRad) / std::cos(r * kDegToRad));
    return std::cos(s) * t.nearest + std::sin(s) * t.along;
  };
  t.start = at(d_start);
  t.end = at(d_end);
  t.pole = Normalized(Cross(t.start, t.end));
  return t;
}

// The speed relation of the association (start height from the angular
// speed, then the slant distance): used only to aim a fixture's angular
// speed at a meteor speed.
double SpeedOf(double w, double d_deg, double ev_deg) {
  const double sd = std::sin(d_deg * kDegToRad), se = std::sin(ev_deg * kDegToRad);
  const double k = w * 80 / (sd * se - 0.5 * w);
  const double h = k < 0 ? 130 : 80 + k / 2;
  return (std::sqrt(h * h + 40589641.0 * se * se + 12742 * h) - 6371 * se) * w / sd;
}
double AngularSpeedFor(double speed, double d_deg, double ev_deg) {
  double lo = 0, hi = 2 * std::sin(d_deg * kDegToRad) * std::sin(ev_deg * kDegToRad);
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (SpeedOf(mid, d_deg, ev_deg) < speed ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi) * kRadToDeg;
}

double AtmosphereSpeed(double vg) { return std::sqrt(vg * vg + 124.98); }

// The trail log of one test, kept in memory.
class MemoryLog {
 public:
  MemoryLog() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryLog() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

constexpr char kHeader[] =
    "Shower,code,state,dsol,ra_swr,dec_swr,az_swr,ev_swr,D,r,H1,Vo_swr,sdv,dVlimit%,Vo,dV%\r\n";

struct ShowerSpec {
  std::string code;
  Vec3 radiant{};  // where the clip sees it (after zenith attraction)
  double vg = 59.0;
  double sdr = 2.0;
  double sdv = 1.5;
  double sol1 = -5.0, sol2 = 5.0, solp = 0.0;  // from the clip's solar longitude
};

struct MeteorSpec {
  Vec3 radiant{};
  double r = 0.5;
  double d_start = 20.0, d_end = 30.0;
  double speed = 0.0;  // km/s; 0: the shower speed of vg 59
  std::string klass = "spo";
};

// A station at 139 E, 35 N on the night of the Perseids, with the shower
// and object tables empty but for the sporadic row.
class ShowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_settings_ = AppSettings();
    saved_profile_ = std::make_unique<CameraProfile>(CurrentProfile());
    Reset();
  }
  void TearDown() override {
    AppSettings() = saved_settings_;
    CurrentProfile() = *saved_profile_;
    Tables().shower.Clear();
    Tables().obj.Clear();
  }
  // The state of a fresh case (table-driven tests call it per case).
  virtual void Reset() {
    Settings& s = AppSettings();
    s.c_ddays = 10;
    s.c_Nr = 3.0f;
    s.c_Nv = 10.0f;
    Tables().shower.Clear();
    Tables().shower.AppendRow();
    Tables().obj.Clear();
    c_ = std::make_unique<AnalysisContext>();
    log_ = std::make_unique<MemoryLog>();
    CameraProfile& p = c_->profile;
    p.p_lng = 139.0f;
    p.p_lat = 35.0f;
    p.p_alt = 30.0f;
    p.p_gioidh = 0.0f;
    p.clip_y = 2024;
    p.clip_mo = 8;
    p.clip_d = 12;
    p.clip_h = 23;
    p.clip_m = 10;
    p.clip_s = 0.0f;
    p.clip_tz = 32400;
    ComputeClipInstantValues(p);
  }

  CameraProfile& profile() { return c_->profile; }
  double Sol() const { return c_->profile.ClipSolarLongitude; }

  Vec3 SkyAt(double az, double ev) {
    const CameraProfile& p = profile();
    return UnitOf(HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, az, ev));
  }
  Vec3 Zenith() { return SkyAt(0.0, 90.0); }
  HorizontalPoint HorizontalOf(Vec3 v) {
    const CameraProfile& p = profile();
    const SpherePoint s = PointOf(v);
    return EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, s.lon, s.lat);
  }

  // The catalogue radiant whose zenith attraction brings it to `seen`:
  // Schiaparelli's tan(dz / 2) = (V - vg) / (V + vg) tan(z_seen / 2).
  EquatorialPoint GeocentricRadiant(Vec3 seen, double vg) {
    const HorizontalPoint h = HorizontalOf(seen);
    const double v = AtmosphereSpeed(vg);
    const double z = (90.0 - h.ev) * kDegToRad;
    const double dz = 2.0 * std::atan((v - vg) / (v + vg) * std::tan(z / 2.0)) * kRadToDeg;
    const CameraProfile& p = profile();
    return HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, h.az, h.ev - dz);
  }

  int AddShower(const ShowerSpec& s) {
    Table& t = Tables().shower;
    const int row = t.AppendRow();
    const EquatorialPoint e = GeocentricRadiant(s.radiant, s.vg);
    t.SetUint(row, shower::kInUse, 1);
    t.SetText(row, shower::kCode, s.code);
    t.SetFloat(row, shower::kSolp, static_cast<float>(Sol() + s.solp));
    t.SetFloat(row, shower::kSol1, static_cast<float>(Sol() + s.sol1));
    t.SetFloat(row, shower::kSol2, static_cast<float>(Sol() + s.sol2));
    t.SetFloat(row, shower::kRap, static_cast<float>(e.ra));
    t.SetFloat(row, shower::kDecp, static_cast<float>(e.dec));
    t.SetFloat(row, shower::kVg, static_cast<float>(s.vg));
    t.SetFloat(row, shower::kSdr, static_cast<float>(s.sdr));
    t.SetFloat(row, shower::kSdv, static_cast<float>(s.sdv));
    return row;
  }

  int AddMeteor(const MeteorSpec& m) {
    const TrailOnSky t = TrailFrom(m.radiant, Zenith(), m.r, m.d_start, m.d_end);
    Table& o = Tables().obj;
    const int row = o.AppendRow();
    const SpherePoint a = PointOf(t.start), b = PointOf(t.end), pole = PointOf(t.pole);
    const HorizontalPoint ha = HorizontalOf(t.start), hb = HorizontalOf(t.end);
    const double speed = m.speed > 0 ? m.speed : AtmosphereSpeed(59.0);
    o.SetText(row, obj::kClass, m.klass);
    o.SetFloat(row, obj::kRaP, static_cast<float>(pole.lon));
    o.SetFloat(row, obj::kDcP, static_cast<float>(pole.lat));
    o.SetFloat(row, obj::kRa1, static_cast<float>(a.lon));
    o.SetFloat(row, obj::kDc1, static_cast<float>(a.lat));
    o.SetFloat(row, obj::kRa2, static_cast<float>(b.lon));
    o.SetFloat(row, obj::kDc2, static_cast<float>(b.lat));
    o.SetFloat(row, obj::kAz1, static_cast<float>(ha.az));
    o.SetFloat(row, obj::kEv1, static_cast<float>(ha.ev));
    o.SetFloat(row, obj::kAz2, static_cast<float>(hb.az));
    o.SetFloat(row, obj::kEv2, static_cast<float>(hb.ev));
    o.SetFloat(row, obj::kAv1,
               static_cast<float>(AngularSpeedFor(speed, std::min(m.d_start, m.d_end), ha.ev)));
    o.SetFloat(row, obj::kSec, 0.5f);
    for (obj::Column col : {obj::kDr, obj::kDv, obj::kVo, obj::kVoshower}) o.SetFloat(row, col, 7.0f);
    return row;
  }

  int Associate(int object_row, int shower = -1) {
    c_->trail_log = log_->file();
    return AssociateShower(*c_, object_row, shower);
  }
  std::string Log() { return log_->Text(); }
  std::string Class(int row) { return std::string(Tables().obj.Text(row, obj::kClass)); }

  std::unique_ptr<AnalysisContext> c_;
  std::unique_ptr<MemoryLog> log_;

 private:
  Settings saved_settings_;
  std::unique_ptr<CameraProfile> saved_profile_;
};

// --- zenith attraction -----------------------------------------------------

TEST(ZenithAttraction, MatchesSchiaparelliForSlowAndFastShowers) {
  for (double vg : {12.0, 70.0}) {
    const double v = AtmosphereSpeed(vg);
    for (double z : {0.0, 10.0, 30.0, 60.0, 85.0, 100.0}) {
      const double seen = 90.0 - ZenithAttractedElevation(90.0 - z, vg);
      SCOPED_TRACE(::testing::Message() << "vg " << vg << " z " << z << " seen " << seen);
      EXPECT_LE(seen, z);  // drawn towards the zenith, never away
      const double lhs = std::tan((z - seen) / 2.0 * kDegToRad);
      const double rhs = (v - vg) / (v + vg) * std::tan(seen / 2.0 * kDegToRad);
      EXPECT_NEAR(lhs, rhs, 1e-12);
    }
  }
  // The size of the effect 60 deg from the zenith: a slow shower's radiant
  // is seen 8.54 deg higher, a fast one's 0.41 deg.
  EXPECT_NEAR(ZenithAttractedElevation(30.0, 12.0) - 30.0, 8.54, 0.01);
  EXPECT_NEAR(ZenithAttractedElevation(30.0, 70.0) - 30.0, 0.41, 0.01);
}

TEST(ZenithAttraction, ShowerWithoutSpeedIsNotMoved) {
  EXPECT_EQ(ZenithAttractedElevation(30.0, 0.1), 30.0);
  EXPECT_EQ(ZenithAttractedElevation(30.0, 0.0), 30.0);
}

TEST_F(ShowerTest, AssociationKeepsTheRadiantAsSeen) {
  // A slow shower low in the sky, where zenith attraction moves the radiant
  // by about 8 deg: the trail built around the radiant as seen must match.
  const Vec3 seen = SkyAt(250.0, 40.0);
  AddShower({.code = "SLO", .radiant = seen, .vg = 12.0, .sdr = 1.0, .sdv = 0.5});
  const int o = AddMeteor(
      {.radiant = seen, .r = 0.3, .d_start = 15, .d_end = 25, .speed = AtmosphereSpeed(12.0)});
  ASSERT_EQ(Associate(o), 1) << Log();
  EXPECT_LT(AngleBetween(UnitOf(c_->shower_ra, c_->shower_dec), seen), 0.01);
  EXPECT_NEAR(Tables().obj.Float(o, obj::kDr), 0.3, 0.01);
}

// --- the tests of one shower ----------------------------------------------

TEST_F(ShowerTest, ActivityWindowWithItsMargin) {
  struct Case {
    const char* name;
    double sol1, sol2;  // from the clip's solar longitude
    int ddays;
    bool tested;
  };
  const Case cases[] = {
      {"inside", -3, 3, 10, true},
      {"ended 5 days ago", -20, -5 * 0.9856, 10, true},
      {"ended 11 days ago", -30, -11 * 0.9856, 10, false},
      {"starts in 5 days", 5 * 0.9856, 20, 10, true},
      {"starts in 11 days", 11 * 0.9856, 30, 10, false},
      {"ended 5 days ago, no margin", -20, -5 * 0.9856, 0, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reset();
    AppSettings().c_ddays = k.ddays;
    const Vec3 radiant = SkyAt(120.0, 60.0);
    AddShower({.code = "PER", .radiant = radiant, .sol1 = k.sol1, .sol2 = k.sol2});
    const int o = AddMeteor({.radiant = radiant});
    EXPECT_EQ(Associate(o), k.tested ? 1 : 0);
    EXPECT_EQ(Log().find("PER") != std::string::npos, k.tested) << Log();
  }
}

TEST_F(ShowerTest, ActivityAcrossZeroAndWithoutSolarLongitude) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "WRP", .radiant = radiant});
  Table& t = Tables().shower;
  t.SetFloat(1, shower::kSol1, 355.0f);
  t.SetFloat(1, shower::kSol2, 5.0f);
  t.SetFloat(1, shower::kSolp, 0.0f);
  const int o = AddMeteor({.radiant = radiant});
  profile().ClipSolarLongitude = 2.0f;
  EXPECT_EQ(Associate(o), 1) << Log();
  EXPECT_NEAR(t.Float(1, shower::kDsol), 2.0, 1e-6);
  // A clip without a solar longitude finds no shower active.
  Tables().obj.SetText(o, obj::kClass, "spo");
  profile().ClipSolarLongitude = std::nanf("");
  EXPECT_EQ(Associate(o), 0);
  EXPECT_EQ(Class(o), "spo");
}

TEST_F(ShowerTest, ShowerNotTakingPartIsNeverTested) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  const int row = AddShower({.code = "PER", .radiant = radiant});
  Tables().shower.SetUint(row, shower::kInUse, 0);
  const int o = AddMeteor({.radiant = radiant});
  EXPECT_EQ(Associate(o), 0);
  EXPECT_EQ(Log(), std::string(kHeader) + "\r\n");
}

TEST_F(ShowerTest, MeteorMovingTowardsTheRadiantIsRejected) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant});
  const int o = AddMeteor({.radiant = radiant, .d_start = 30.0, .d_end = 20.0});
  EXPECT_EQ(Associate(o), 0);
  EXPECT_NE(Log().find("shower,     PER,p2->p1,"), std::string::npos) << Log();
  EXPECT_EQ(Class(o), "spo");
}

TEST_F(ShowerTest, RadiantDistanceLimitIsNrTimesSdr) {
  struct Case {
    double r;
    int assigned;
    const char* state;
  };
  for (const Case& k : {Case{6.5, 0, ",r_too_big,"}, Case{5.9, 1, ",passed,"}}) {
    SCOPED_TRACE(k.r);
    Reset();
    const Vec3 radiant = SkyAt(120.0, 60.0);
    const int row = AddShower({.code = "PER", .radiant = radiant, .sdr = 2.0});
    const int o = AddMeteor({.radiant = radiant, .r = k.r});
    EXPECT_EQ(Associate(o), k.assigned);
    EXPECT_NE(Log().find(k.state), std::string::npos) << Log();
    EXPECT_NEAR(Tables().shower.Float(row, shower::kDR), k.r, 0.01);
  }
}

TEST_F(ShowerTest, FarRadiantIsRejectedWithoutLogLine) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant, .sdr = 2.0});
  const int o = AddMeteor({.radiant = radiant, .r = 50.0, .d_start = 55.0, .d_end = 60.0});
  EXPECT_EQ(Associate(o), 0);
  EXPECT_EQ(Log(), std::string(kHeader) + "\r\n");
}

TEST_F(ShowerTest, SpeedOutsideTheMeteorRangeAlwaysFails) {
  struct Case {
    double speed;
    int assigned;
  };
  const Case cases[] = {{11.0, 0}, {13.0, 1}, {60.0, 1}, {99.0, 1}, {101.0, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.speed);
    Reset();
    AppSettings().c_Nv = 1e6f;  // any difference from the shower's speed fits
    const Vec3 radiant = SkyAt(120.0, 60.0);
    AddShower({.code = "PER", .radiant = radiant});
    const int o = AddMeteor({.radiant = radiant, .speed = k.speed});
    EXPECT_EQ(Associate(o), k.assigned) << Log();
    EXPECT_NEAR(Tables().shower.Float(1, shower::kVgc), k.speed, 0.01);
  }
}

TEST_F(ShowerTest, SpeedDifferenceLimitIsNvTimesSdv) {
  // vg 59, sdv 1.5, Nv 10: limit 25.4 %, against V = 60.05 km/s.
  struct Case {
    double dv_percent;
    int assigned;
  };
  for (const Case& k : {Case{24.0, 1}, Case{-24.0, 1}, Case{27.0, 0}, Case{-27.0, 0}}) {
    SCOPED_TRACE(k.dv_percent);
    Reset();
    const Vec3 radiant = SkyAt(120.0, 60.0);
    AddShower({.code = "PER", .radiant = radiant});
    const double speed = AtmosphereSpeed(59.0) * (1 + k.dv_percent / 100);
    const int o = AddMeteor({.radiant = radiant, .speed = speed});
    EXPECT_EQ(Associate(o), k.assigned) << Log();
    EXPECT_NEAR(Tables().shower.Float(1, shower::kDvgPercent), k.dv_percent, 0.05);
  }
}

TEST_F(ShowerTest, ShowerWithoutSpeedOrToleranceConfirmsNothing) {
  // With vg 0 the limit would be infinite and every speed would pass.
  struct Case {
    double vg, sdv;
  };
  for (const Case& k : {Case{0.0, 1.0}, Case{0.05, 1.0}, Case{30.0, 0.0}}) {
    SCOPED_TRACE(::testing::Message() << "vg " << k.vg << " sdv " << k.sdv);
    Reset();
    const Vec3 radiant = SkyAt(120.0, 89.0);  // zenith attraction negligible
    AddShower({.code = "NOV", .radiant = radiant, .vg = k.vg, .sdv = k.sdv});
    const int o = AddMeteor({.radiant = radiant, .speed = 40.0});
    EXPECT_EQ(Associate(o), 0);
    EXPECT_NE(Log().find(",dV_too_big,"), std::string::npos) << Log();
    EXPECT_EQ(Tables().obj.Float(o, obj::kDr), -1.0f);
  }
}

TEST_F(ShowerTest, SpeedThatCannotBeComputedFitsNothing) {
  // No angular speed and the start on the horizon: the speed is 0 / 0.
  AppSettings().c_Nv = 1e6f;
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant});
  const int o = AddMeteor({.radiant = radiant});
  Tables().obj.SetFloat(o, obj::kAv1, 0.0f);
  Tables().obj.SetFloat(o, obj::kEv1, 0.0f);
  EXPECT_EQ(Associate(o), 0);
  EXPECT_NE(Log().find(",dV_too_big,"), std::string::npos) << Log();
  EXPECT_EQ(Class(o), "spo");
}

TEST_F(ShowerTest, NearestOfTwoPassingShowersWins) {
  for (bool nearest_first : {true, false}) {
    SCOPED_TRACE(nearest_first);
    Reset();
    const Vec3 a = SkyAt(120.0, 60.0);
    const TrailOnSky trail = TrailFrom(a, Zenith(), 0.8, 20.0, 30.0);
    // A second radiant 1.2 deg off the same circle, on its other side and
    // 3 deg further back along it.
    const double back = -3.0 * kDegToRad;
    const Vec3 on_circle = std::cos(back) * trail.nearest + std::sin(back) * trail.along;
    const Vec3 b = std::cos(1.2 * kDegToRad) * on_circle - std::sin(1.2 * kDegToRad) * trail.pole;
    const int row_a = AddShower({.code = nearest_first ? "AAA" : "BBB", .radiant = nearest_first ? a : b});
    const int row_b = AddShower({.code = nearest_first ? "BBB" : "AAA", .radiant = nearest_first ? b : a});
    const int o = AddMeteor({.radiant = a, .r = 0.8});
    ASSERT_EQ(Associate(o), 1) << Log();
    EXPECT_EQ(Class(o), "AAA");
    EXPECT_NEAR(Tables().obj.Float(o, obj::kDr), 0.8, 0.01);
    const int winner = nearest_first ? row_a : row_b, loser = nearest_first ? row_b : row_a;
    EXPECT_EQ(Tables().shower.Uint(winner, shower::kSel), 1u);
    EXPECT_EQ(Tables().shower.Uint(loser, shower::kSel), 0u);
    EXPECT_NEAR(Tables().shower.Float(loser, shower::kDR), 1.2, 0.01);
  }
}

TEST_F(ShowerTest, NonMeteorIsNeverAssociated) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant});
  const int o = AddMeteor({.radiant = radiant, .klass = "__noise"});
  EXPECT_EQ(Associate(o), 0);
  EXPECT_EQ(Class(o), "__noise");
  for (obj::Column col : {obj::kDr, obj::kDv, obj::kVo}) EXPECT_EQ(Tables().obj.Float(o, col), -1.0f);
  EXPECT_EQ(Log(), "");
}

TEST_F(ShowerTest, TableWithOnlyTheSporadicRowLogsAnEmptyBlock) {
  const int o = AddMeteor({.radiant = SkyAt(120.0, 60.0)});
  EXPECT_EQ(Associate(o), 0);
  EXPECT_EQ(Log(), std::string(kHeader) + "\r\n");
  EXPECT_EQ(Tables().obj.Float(o, obj::kDr), -1.0f);
}

TEST_F(ShowerTest, AssignedShowerWritesTheObject) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant});
  const int o = AddMeteor({.radiant = radiant, .r = 0.5});
  ASSERT_EQ(Associate(o), 1);
  const Table& t = Tables().obj;
  EXPECT_EQ(Class(o), "PER");
  EXPECT_NEAR(t.Float(o, obj::kDr), 0.5, 0.01);
  EXPECT_NEAR(t.Float(o, obj::kDv), 0.0, 0.01);
  EXPECT_NEAR(t.Float(o, obj::kVo), AtmosphereSpeed(59.0), 0.01);
  EXPECT_NEAR(t.Float(o, obj::kVoshower), AtmosphereSpeed(59.0), 1e-4);
  // The start's ground point lies below the start's line of sight at h1.
  const double h1 = t.Float(o, obj::kH1);
  EXPECT_GT(h1, 80.0);
  EXPECT_LE(h1, 130.0);
  const CameraProfile& p = profile();
  const GroundRange range =
      GroundRangeAtHeight(p.p_lat, p.p_alt, t.Float(o, obj::kEv1), h1);
  EXPECT_NEAR(GroundDistanceKm(p.p_lng, p.p_lat, t.Float(o, obj::kLng1), t.Float(o, obj::kLat1)),
              range.range_km, 0.5);
}

TEST_F(ShowerTest, SingleShowerTestsOnlyThatRowAndResetsTheTrajectory) {
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "AAA", .radiant = radiant});
  const int b = AddShower({.code = "BBB", .radiant = radiant});
  Tables().shower.SetFloat(1, shower::kDR, 33.0f);  // row 1 is not touched
  const int o = AddMeteor({.radiant = radiant});
  Table& t = Tables().obj;
  for (obj::Column col : {obj::kDist1, obj::kGd1, obj::kAzL1, obj::kEvL1, obj::kLng2, obj::kLat2,
                          obj::kH2, obj::kDist2, obj::kGd2}) {
    t.SetFloat(o, col, 55.0f);
  }
  ASSERT_EQ(Associate(o, b), 1);
  EXPECT_EQ(Class(o), "BBB");
  EXPECT_EQ(Tables().shower.Float(1, shower::kDR), 33.0f);
  EXPECT_EQ(Log().find("AAA"), std::string::npos);
  for (obj::Column col : {obj::kDist1, obj::kGd1, obj::kAzL1, obj::kEvL1, obj::kH2, obj::kDist2,
                          obj::kGd2}) {
    EXPECT_EQ(t.Float(o, col), -1.0f) << col;
  }
  EXPECT_EQ(t.Float(o, obj::kLng2), -999.0f);
  EXPECT_EQ(t.Float(o, obj::kLat2), -999.0f);
}

TEST_F(ShowerTest, TrailLogBlock) {
  // One shower per outcome, in row order: passed, dV_too_big, r_too_big,
  // p2->p1. The radiant is seen at az 120, ev 60 (ra 339.6, dec 16.8), 2
  // deg of solar longitude after the peak; the meteor starts 20 deg from it
  // at ev 40, 3 % faster than the shower of vg 58 (V 59.07 km/s): H1 110 km.
  const Vec3 radiant = SkyAt(120.0, 60.0);
  const TrailOnSky trail = TrailFrom(radiant, Zenith(), 0.5, 20.0, 30.0);
  const double ahead = 40.0 * kDegToRad;  // beyond the end on the circle
  const Vec3 front = std::cos(ahead) * trail.nearest + std::sin(ahead) * trail.along;
  AddShower({.code = "PER", .radiant = radiant, .vg = 58.0, .solp = -2.0});
  AddShower({.code = "KCG", .radiant = radiant, .vg = 21.0, .sdv = 0.5, .solp = -2.0});
  AddShower({.code = "SDA", .radiant = radiant, .sdr = 0.1, .solp = -2.0});
  AddShower({.code = "ETA", .radiant = front, .solp = -2.0});
  const int o = AddMeteor({.radiant = radiant, .r = 0.5, .speed = AtmosphereSpeed(58.0) * 1.03});
  ASSERT_EQ(Associate(o), 1);
  const std::string expected = std::string(kHeader) +
      "shower,     PER,passed,  2.0,339.6, 16.8,120.0, 60.0, 20.0,  0.5,111,59.1,1.5,25.9, 60.8,  3\r\n"
      "shower,     KCG,dV_too_big,  2.0,339.6, 16.8,120.0, 60.0, 20.0,  0.5,111,23.8,0.5,23.8, 60.8,156\r\n"
      "shower,     SDA,r_too_big,  2.0,339.6, 16.8,120.0, 60.0, 20.0,  0.5\r\n"
      "shower,     ETA,p2->p1,  2.0,  8.9,-10.7,119.6, 20.0, 20.0\r\n"
      "\r\n";
  EXPECT_EQ(Log(), expected);
}

// --- manual selection and the current object --------------------------------

TEST_F(ShowerTest, SelectableTestsRadiantButNeitherDirectionNorSpeed) {
  struct Case {
    const char* name;
    MeteorSpec meteor;  // radiant filled in below
    bool in_use;
    double sol2;
    int expected;
  };
  const Case cases[] = {
      {"fits", {.r = 5.9}, true, 5, 1},
      {"too far from the circle", {.r = 6.5}, true, 5, 0},
      {"moving towards the radiant", {.d_start = 30, .d_end = 20}, true, 5, 1},
      {"speed far off", {.speed = 20}, true, 5, 1},
      {"not taking part", {}, false, 5, 0},
      {"ended 20 days ago", {}, true, -20, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reset();
    CurrentProfile() = profile();
    const Vec3 radiant = SkyAt(120.0, 60.0);
    const int row = AddShower({.code = "PER", .radiant = radiant, .sol1 = -40, .sol2 = k.sol2});
    Tables().shower.SetUint(row, shower::kInUse, k.in_use ? 1 : 0);
    MeteorSpec m = k.meteor;
    m.radiant = radiant;
    const int o = AddMeteor(m);
    EXPECT_EQ(IsShowerSelectable(o, row), k.expected);
    EXPECT_EQ(Class(o), "spo");
    EXPECT_EQ(Tables().obj.Float(o, obj::kDr), 7.0f);
  }
}

TEST_F(ShowerTest, SelectCurrentObjectFillsTheShowerList) {
  CurrentProfile() = profile();
  const Vec3 radiant = SkyAt(120.0, 60.0);
  AddShower({.code = "PER", .radiant = radiant, .solp = -3.0});
  AddShower({.code = "KCG", .radiant = radiant});
  const int o = AddMeteor({.radiant = radiant});
  Table& objects = Tables().obj;
  objects.SetText(o, obj::kClass, "PER");
  objects.SetFloat(o, obj::kDr, 0.4f);
  objects.SetFloat(o, obj::kDv, -3.5f);
  objects.SetFloat(o, obj::kVo, 58.0f);
  Table& t = Tables().shower;
  // Exactly half a circle from the peak (a value that must not keep the
  // fold going round).
  CurrentProfile().ClipSolarLongitude = 140.0f;
  t.SetFloat(1, shower::kSolp, 137.0f);
  t.SetFloat(2, shower::kSolp, 320.0f);
  t.SetFloat(0, shower::kDsol, 9.0f);
  t.SetUint(2, shower::kSel, 1);

  SelectCurrentObject(o);
  EXPECT_EQ(AnalysisContextAt(0).current_object, o);
  EXPECT_EQ(CurrentClip().current_object, o);
  EXPECT_EQ(t.Float(0, shower::kDsol), 0.0f);
  EXPECT_EQ(t.Float(1, shower::kDsol), 3.0f);
  EXPECT_EQ(t.Float(2, shower::kDsol), 180.0f);
  EXPECT_EQ(t.Uint(1, shower::kSel), 1u);
  EXPECT_EQ(t.Float(1, shower::kDR), 0.4f);
  EXPECT_EQ(t.Float(1, shower::kDvgPercent), -3.5f);
  EXPECT_EQ(t.Float(1, shower::kVgc), 58.0f);
  EXPECT_EQ(t.Uint(2, shower::kSel), 0u);
  EXPECT_EQ(t.Float(2, shower::kDR), 0.0f);
  for (int row : {0, 1, 2}) EXPECT_EQ(t.Int(row, shower::kValid), 1);

  // No object: the list shows the dates only.
  SelectCurrentObject(-1);
  EXPECT_EQ(AnalysisContextAt(0).current_object, -1);
  EXPECT_EQ(t.Uint(1, shower::kSel), 0u);
}

// --- the shower table ------------------------------------------------------

TEST(PrepareShowerTable, ShippedCatalogueGetsDatesAndTakesPart) {
  LoadShowerCatalogue(std::filesystem::path(MR4_SOURCE_DIR) / "data", "V14.jx.csv");
  Table& t = Tables().shower;
  ASSERT_GT(t.count(), 40);
  for (int i = 0; i < t.count(); ++i) t.SetUint(i, shower::kInUse, 0);
  t.SetText(0, shower::kCode, "");
  PrepareShowerTable(2024);
  EXPECT_EQ(t.Text(0, shower::kCode), "spo");
  EXPECT_EQ(t.Text(0, shower::kName), "spo");
  std::string per, qua;
  for (int i = 0; i < t.count(); ++i) {
    EXPECT_EQ(t.Uint(i, shower::kInUse), 1u) << i;
    if (i > 0) {
      EXPECT_EQ(t.Text(i, shower::kMD1).size(), 5u) << i;
    }
    if (t.Text(i, shower::kCode) == "PER") per = std::string(t.Text(i, shower::kMDp));
    if (t.Text(i, shower::kCode) == "QUA") qua = std::string(t.Text(i, shower::kMDp));
  }
  // Maxima of 2024: Perseids 12 August about 13h UT, Quadrantids 4 January
  // about 9h UT.
  EXPECT_EQ(per, "08/12");
  EXPECT_EQ(qua, "01/04");
  t.Clear();
}

TEST(PrepareShowerTable, DeletedRowIsSkipped) {
  Table& t = Tables().shower;
  t.Clear();
  for (int i = 0; i < 3; ++i) t.AppendRow();
  t.SetFloat(1, shower::kSolp, 140.0f);
  t.SetFloat(2, shower::kSolp, 262.2f);
  t.DeleteRow(1);
  PrepareShowerTable(2024);
  EXPECT_FALSE(t.Exists(1));
  EXPECT_EQ(t.Uint(2, shower::kInUse), 1u);
  EXPECT_EQ(t.Text(0, shower::kCode), "spo");
  t.Clear();
}

// --- the trajectory -------------------------------------------------------

// A straight flight over a spherical Earth of the station's radius: the
// station at 139 E, 35 N at height 0, the start 100 km above a point 60 km
// south-west, the radiant seen from there at az 30, ev 40.
class TrajectoryTest : public ShowerTest {
 protected:
  void Reset() override {
    ShowerTest::Reset();
    profile().p_alt = 0.0f;
    radius_ = EarthRadiusKm(profile().p_lat);
  }
  Vec3 Position(double lon, double lat, double height) {
    return (radius_ + height) * UnitOf(lon, lat);
  }
  // East, north and up at a ground point.
  void Frame(double lon, double lat, Vec3* e, Vec3* n, Vec3* u) {
    *u = UnitOf(lon, lat);
    *e = Normalized(Cross({0, 0, 1}, *u));
    *n = Cross(*u, *e);
  }
  HorizontalPoint Seen(double lon, double lat, Vec3 target) {
    Vec3 e, n, u;
    Frame(lon, lat, &e, &n, &u);
    const Vec3 d = Normalized(target - Position(lon, lat, 0));
    double az = std::atan2(Dot(d, e), Dot(d, n)) * kRadToDeg;
    if (az < 0) az += 360;
    return {az, std::asin(Dot(d, u)) * kRadToDeg};
  }

  double radius_ = 0;
};

TEST_F(TrajectoryTest, EndPointOfAStraightFlight) {
  const CameraProfile& p = profile();
  const SpherePoint g1 = GroundDestination(p.p_lng, p.p_lat, 225.0, 60.0 / radius_ * kRadToDeg);
  const Vec3 start = Position(g1.lon, g1.lat, 100.0);
  Vec3 e, n, u;
  Frame(g1.lon, g1.lat, &e, &n, &u);
  const double az = 30 * kDegToRad, ev = 40 * kDegToRad;
  const Vec3 towards_radiant =
      std::cos(ev) * std::sin(az) * e + std::cos(ev) * std::cos(az) * n + std::sin(ev) * u;
  // Down the line to 80 km: |start - t towards_radiant| = R + 80.
  const double b = Dot(start, towards_radiant);
  const double c = Dot(start, start) - (radius_ + 80) * (radius_ + 80);
  const double t = b - std::sqrt(b * b - c);
  const Vec3 end = start - t * towards_radiant;

  const double lst1 = LocalSiderealTime(p.clip_y, p.clip_mo, p.clip_d, p.clip_h, p.clip_m,
                                        p.clip_s, p.clip_tz, g1.lon);
  const EquatorialPoint rad = HorizontalToEquatorial(p.ClipMjdTt, lst1, g1.lat, 30.0, 40.0);
  c_->shower_ra = rad.ra;
  c_->shower_dec = rad.dec;
  Table& o = Tables().obj;
  const int row = o.AppendRow();
  const HorizontalPoint end_seen = Seen(p.p_lng, p.p_lat, end);
  o.SetFloat(row, obj::kLng1, static_cast<float>(g1.lon));
  o.SetFloat(row, obj::kLat1, static_cast<float>(g1.lat));
  o.SetFloat(row, obj::kH1, 100.0f);
  o.SetFloat(row, obj::kAz2, static_cast<float>(end_seen.az));
  o.SetFloat(row, obj::kEv2, static_cast<float>(end_seen.ev));
  o.SetFloat(row, obj::kSec, 0.5f);

  const double gv = EstimateTrajectory(*c_, row);
  const SpherePoint g2 = PointOf(end);
  EXPECT_NEAR(o.Float(row, obj::kAzL1), 210.0, 1e-3);
  EXPECT_NEAR(o.Float(row, obj::kEvL1), 40.0, 1e-3);
  EXPECT_NEAR(o.Float(row, obj::kLng2), g2.lon, 1e-3);
  EXPECT_NEAR(o.Float(row, obj::kLat2), g2.lat, 1e-3);
  EXPECT_NEAR(o.Float(row, obj::kH2), 80.0, 0.05);
  EXPECT_NEAR(o.Float(row, obj::kGd2), GroundDistanceKm(p.p_lng, p.p_lat, g2.lon, g2.lat), 0.01);
  const double length = Norm(end - start);
  EXPECT_NEAR(o.Float(row, obj::kDist2), Norm(end - Position(p.p_lng, p.p_lat, 0)), 0.5);
  // The length uses chords of the ground points: within 1 % of the flight.
  EXPECT_NEAR(o.Float(row, obj::kLen), length, 0.01 * length);
  EXPECT_NEAR(gv, length / 0.5, 0.01 * length / 0.5);
  EXPECT_FLOAT_EQ(o.Float(row, obj::kGV), static_cast<float>(gv));
}

TEST_F(TrajectoryTest, NoEndPoint) {
  // Start above the station: the bearings cannot cross. Flight along the
  // end's line of sight: no crossing angle.
  struct Case {
    const char* name;
    double start_distance_km;
    double az2;  // the flight's bearing is 180
    float end_value;
  };
  const Case cases[] = {
      {"start above the station", 0.0, 90.0, -1.0f},
      {"along the line of sight", 60.0, 178.0, -999.0f},
      {"against the line of sight", 60.0, 3.0, -999.0f},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reset();
    const CameraProfile& p = profile();
    const SpherePoint g1 =
        GroundDestination(p.p_lng, p.p_lat, 0.0, k.start_distance_km / radius_ * kRadToDeg);
    const double lst1 = LocalSiderealTime(p.clip_y, p.clip_mo, p.clip_d, p.clip_h, p.clip_m,
                                          p.clip_s, p.clip_tz, g1.lon);
    const EquatorialPoint rad = HorizontalToEquatorial(p.ClipMjdTt, lst1, g1.lat, 0.0, 50.0);
    c_->shower_ra = rad.ra;
    c_->shower_dec = rad.dec;
    Table& o = Tables().obj;
    const int row = o.AppendRow();
    o.SetFloat(row, obj::kLng1, static_cast<float>(g1.lon));
    o.SetFloat(row, obj::kLat1, static_cast<float>(g1.lat));
    o.SetFloat(row, obj::kH1, 100.0f);
    o.SetFloat(row, obj::kAz2, static_cast<float>(k.az2));
    o.SetFloat(row, obj::kEv2, 40.0f);
    o.SetFloat(row, obj::kSec, 0.5f);
    for (obj::Column col : {obj::kLng2, obj::kLat2}) o.SetFloat(row, col, -999.0f);
    for (obj::Column col : {obj::kH2, obj::kDist2, obj::kGd2}) o.SetFloat(row, col, -999.0f);
    o.SetFloat(row, obj::kGV, -1.0f);
    EXPECT_EQ(EstimateTrajectory(*c_, row), 5.0);
    for (obj::Column col : {obj::kLng2, obj::kLat2, obj::kH2, obj::kDist2, obj::kGd2}) {
      EXPECT_EQ(o.Float(row, col), k.end_value) << col;
    }
    EXPECT_EQ(o.Float(row, obj::kGV), -1.0f);
    EXPECT_NEAR(o.Float(row, obj::kAzL1), 180.0, 1e-3);
  }
}

}  // namespace
}  // namespace mr4
