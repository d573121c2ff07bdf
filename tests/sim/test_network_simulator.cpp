// Simulated networks: the Earth-fixed frame, the stations file, and a path
// that every station sees whole, rendered where each station looks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "calib/camera_model.h"
#include "sim/network_simulator.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

TEST(EarthFrame, GeodeticPointsGoRoundTheEarthFrameAndBack) {
  // The equator at longitude 0 lies at the equatorial radius; the pole at
  // the polar radius.
  const EarthVector equator = GeodeticToEarth({0.0, 0.0, 0.0});
  EXPECT_NEAR(equator.x, 6378.137, 1e-9);
  EXPECT_NEAR(GeodeticToEarth({0.0, 90.0, 0.0}).z, 6356.752314, 1e-6);
  const GeodeticPoint cases[] = {{139.7, 35.7, 0.03},  {-70.4, -24.6, 2.6},  {12.0, 89.9, 110.0},
                                 {179.9, -60.0, 80.0}, {-179.9, 0.0, 150.0}, {0.0, 45.0, -0.4}};
  for (const GeodeticPoint& g : cases) {
    const GeodeticPoint back = EarthToGeodetic(GeodeticToEarth(g));
    EXPECT_NEAR(back.lng, g.lng, 1e-9) << g.lat;
    EXPECT_NEAR(back.lat, g.lat, 1e-9) << g.lat;
    EXPECT_NEAR(back.height, g.height, 1e-6) << g.lat;
  }
}

TEST(EarthFrame, TheStationsHorizonIsItsOwn) {
  const GeodeticPoint station{139.7, 35.7, 0.03};
  const LocalFrame f = LocalFrameAt(station);
  // Straight up: the geodetic normal.
  EXPECT_NEAR(DirectionTo(f, GeodeticToEarth({139.7, 35.7, 100.0})).ev, 90.0, 1e-6);
  // A point 100 km up to the north lies at azimuth 0.
  const double north = DirectionTo(f, GeodeticToEarth({139.7, 36.5, 100.0})).az;
  EXPECT_NEAR(std::remainder(north, 360.0), 0.0, 1e-6);
  for (const HorizontalPoint h : {HorizontalPoint{135.0, 45.0}, HorizontalPoint{300.0, 10.0},
                                  HorizontalPoint{10.0, 80.0}}) {
    const HorizontalPoint back = DirectionTo(f, f.origin + 100.0 * DirectionVector(f, h.az, h.ev));
    EXPECT_NEAR(back.az, h.az, 1e-9);
    EXPECT_NEAR(back.ev, h.ev, 1e-9);
  }
}

TEST(StationsFile, LinesAreReadOrRefusedWithTheirLine) {
  struct Case {
    const char* text;
    const char* error;  // empty: read
  };
  const Case cases[] = {
      {"# comment\r\nJP0001_A, 139.7, 35.7, 30, a.XML, clips/A\r\n\r\nJP0002_B,140,35,0,b.XML,B\r\n", ""},
      {"JP0001_A,139.7,35.7,30,a.XML\n", "line 1: needs 6 fields"},
      {"JP0001,139.7,35.7,30,a.XML,A\n", "line 1: station 'JP0001' is not LID_SID"},
      {"#\nJP0001_A,139,95,30,a.XML,A\n", "line 2: latitude '95'"},
      {"JP0001_A,1e3,35,30,a.XML,A\n", "line 1: longitude"},
      {"JP0001_A,139,35,30m,a.XML,A\n", "line 1: altitude '30m'"},
      {"JP0001_A,139,35,30,,A\n", "line 1: no camera profile"},
      {"JP0001_A,139,35,30,a.XML,A\nJP0001_A,140,35,30,a.XML,B\n", "line 2: station JP0001_A is listed twice"},
      {"# nothing\n", "no station listed"},
  };
  for (const Case& c : cases) {
    std::vector<StationLine> lines;
    std::string error;
    const bool ok = ParseStationsText(c.text, &lines, &error);
    if (std::string(c.error).empty()) {
      ASSERT_TRUE(ok) << error;
      ASSERT_EQ(lines.size(), 2u);
      EXPECT_EQ(lines[0].id, "JP0001_A");
      EXPECT_DOUBLE_EQ(lines[0].lng, 139.7);
      EXPECT_DOUBLE_EQ(lines[0].alt_m, 30.0);
      EXPECT_EQ(lines[0].profile, "a.XML");
      EXPECT_EQ(lines[0].dir, "clips/A");
    } else {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
}

class NetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CameraProfile camera;
    camera.cx = 360;
    camera.cy = 240;
    camera.p_tz = 32400;
    camera.p_vx = 56.0f;
    camera.p_az = 135.0f;
    camera.p_ev = 45.0f;
    stations_.push_back(MakeNetworkStation({"JP0001_A", 139.7, 35.7, 30, "", ""}, camera, "A"));
    // 60 km east, looking at the middle of the first station's field at 95 km.
    camera.p_az = 175.6f;
    camera.p_ev = 54.7f;
    stations_.push_back(MakeNetworkStation({"JP0002_B", 140.3644, 35.6982, 50, "", ""}, camera, "B"));
    request_.begin_mjd = CivilToMjd(2024, 8, 12, 14, 30, 0.0f);
  }
  std::vector<NetworkStation> stations_;
  NetworkMeteorRequest request_;
};

TEST_F(NetworkTest, ThePathLiesWholeInEveryFieldBetweenItsHeights) {
  for (bool decel : {false, true}) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
      request_.seed = seed;
      SimPath path;
      std::string error;
      ASSERT_TRUE(PlanNetworkPath(stations_, request_, decel, 4000, &path, &error)) << error;
      const double v = path.speed;
      EXPECT_NEAR(EarthToGeodetic(path.At(0.0)).height, 80.0 + 0.45 * v, 1e-3);
      EXPECT_NEAR(EarthToGeodetic(path.At(path.duration)).height, 70.0 + 0.25 * v, 1e-3);
      EXPECT_NEAR(Norm(path.direction), 1.0, 1e-12);
      if (decel) {
        EXPECT_LT(path.SpeedAt(path.duration), 0.98 * v);
        EXPECT_GT(path.SpeedAt(path.duration), 0.5 * v);
      }
      for (NetworkStation s : stations_) {
        BuildDistortionTable(s.profile);
        const LocalFrame f = LocalFrameAt({s.profile.p_lng, s.profile.p_lat, s.profile.p_alt / 1000});
        for (double u : {0.0, 0.5, 1.0}) {
          const HorizontalPoint h = DirectionTo(f, path.At(u * path.duration));
          EXPECT_TRUE(HorizontalToPixel(s.profile, h.az, h.ev).inside) << s.id << " " << u;
        }
      }
      // The meteor comes from its apparent radiant: the direction of motion
      // points to the radiant's antipode.
      CameraProfile p = stations_[0].profile;
      const CivilTime local = MjdToCivil(request_.begin_mjd + p.p_tz / 86400.0);
      p.clip_y = local.year, p.clip_mo = local.month, p.clip_d = local.day;
      p.clip_h = local.hour, p.clip_m = local.minute, p.clip_s = local.second;
      p.clip_tz = p.p_tz;
      ComputeClipInstantValues(p);
      const HorizontalPoint rad =
          EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, path.radiant_ra, path.radiant_dec);
      const LocalFrame f = LocalFrameAt({139.7, 35.7, 0.03});
      EXPECT_NEAR(Dot(DirectionVector(f, rad.az, rad.ev), path.direction), -1.0, 1e-8);
    }
  }
}

TEST_F(NetworkTest, FieldsThatDoNotOverlapGiveNoPath) {
  stations_[1].profile.p_az = 355.0f;
  SimPath path;
  std::string error;
  EXPECT_FALSE(PlanNetworkPath(stations_, request_, false, 500, &path, &error));
  EXPECT_NE(error.find("overlap"), std::string::npos) << error;
}

TEST_F(NetworkTest, EachStationsClipShowsTheMeteorWhereItLooks) {
  const fs::path dir = fs::temp_directory_path() / ("mr4-net-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  StarCatalogue none;
  for (NetworkStation& s : stations_) s.dir = dir / s.id;
  NetworkOptions options;
  options.render.head = 8;
  options.render.tail = 3;
  options.clock_spread = 0.5;
  request_.seed = 3;
  const NetworkMeteorResult r = SimulateNetworkMeteor(stations_, options, request_, none, dir);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.clips.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const NetworkSighting& seen = r.truth.seen[i];
    const SimObjectTruth& m = r.clips[i].objects.at(0);
    // The clip starts before the meteor: it begins in the head frames.
    EXPECT_LE(seen.begin_delay, 0.15);
    EXPECT_NEAR(m.start.t, -seen.begin_delay, 1e-9);
    EXPECT_NEAR(m.start.height, r.truth.begin.height, 1e-6);
    EXPECT_NEAR(m.end.height, r.truth.end.height, 1e-6);
    EXPECT_LE(std::fabs(seen.clock_error), 0.5);
    EXPECT_TRUE(fs::exists(dir / seen.station / (seen.clip + ".avi")));
    // Its directions are those from its own place to the path's ends, its
    // duration the path's.
    const CameraProfile& c = stations_[i].profile;
    const LocalFrame f =
        LocalFrameAt({c.p_lng, c.p_lat, (c.p_alt + c.p_gioidh) / 1000.0});
    const SimPath& path = r.truth.path;
    const HorizontalPoint b = DirectionTo(f, path.At(0.0));
    const HorizontalPoint e = DirectionTo(f, path.At(path.duration));
    EXPECT_NEAR(m.start.az, b.az, 1e-6);
    EXPECT_NEAR(m.start.ev, b.ev, 1e-6);
    EXPECT_NEAR(m.end.az, e.az, 1e-6);
    EXPECT_NEAR(m.end.ev, e.ev, 1e-6);
    EXPECT_NEAR(m.end.t - m.start.t, path.duration, 1e-9);
    EXPECT_NEAR(seen.range_begin, Norm(path.At(0.0) - f.origin), 1e-9);
  }
  EXPECT_GT(r.truth.max_convergence, 0.0);
  // The stations see the one meteor in different parts of their skies.
  EXPECT_GT(std::fabs(r.clips[0].objects[0].start.az - r.clips[1].objects[0].start.az), 1.0);
  std::ifstream in(dir / (r.truth.name + "_truth.json"), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string json = text.str();
  EXPECT_NE(json.find("\"meteor\": \"" + r.truth.name + "\",\r\n"), std::string::npos);
  EXPECT_EQ(json.find("\n", json.find("\"stations\"")) - 1, json.find("\r\n", json.find("\"stations\"")));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace mr4
