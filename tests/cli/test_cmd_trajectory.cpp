// End-to-end test of `mr4 trajectory` on a home made by `mr4 init` and a
// clip directory with the clips of two stations that saw one meteor: their
// capture records and result files with every frame's direction, made from
// a synthetic meteor.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/trajectory/synthetic_meteor.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

// 2026-08-12 23:00:00 UTC: the meteor's begin and both clips' trigger.
constexpr double kBegin = 61264.0 + 23.0 / 24.0;
constexpr double kFps = 25.0;
constexpr int kHead = 10;  // frames before the trigger: 0.4 s at 25 fps

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

// The capture record and the result file of one station's clip holding
// `sight` as its one object of class `cls`.
void WriteClip(const fs::path& dir, const std::string& sid, const StationSight& sight,
               const std::string& cls) {
  const std::string name = "M20260812_230000_" + sid;
  const std::string site = "tz=\"0\" lid=\"Net\" sid=\"" + sid + "\"" +
                           Format(" lng=\"%.6f\" lat=\"%.6f\" alt=\"%.1f\"", sight.lng_deg,
                                  sight.lat_deg, sight.alt_m) +
                           " gioidh=\"0.0\" fps=\"25.0\" interlaced=\"0\" cx=\"640\" cy=\"480\"";
  const std::string when = "y=\"2026\" mo=\"8\" d=\"12\" h=\"23\" m=\"0\" s=\"0.0\"";
  WriteFileBytes(dir / (name + ".avi"), "avi");
  WriteFileBytes(dir / (name + ".xml"), "<halvex_record head=\"" + std::to_string(kHead) +
                                            "\" " + when + " " + site +
                                            "></halvex_record>\r\n");
  const SightSample& first = sight.samples.front();
  const SightSample& last = sight.samples.back();
  const int fs = static_cast<int>(std::lround(first.t_s * kFps));
  const int fe = static_cast<int>(std::lround(last.t_s * kFps));
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                     "<meridra_record version =\"202\" clip_name=\"" + name + "\" o=\"1\" " +
                     when + " " + site + " head=\"" + std::to_string(kHead) +
                     "\" maxLev=\"255\" maxMag=\"0.0\" minLev=\"1\">\r\n\t<mr2_objects>\r\n";
  text += "<mr2_object fs=\"" + std::to_string(fs) + "\" fe=\"" + std::to_string(fe) +
          "\" class=\"" + cls + "\"" +
          Format(" ra1=\"%.6f\" dc1=\"%.6f\" ra2=\"%.6f\" dc2=\"%.6f\">\r\n", first.ra_deg,
                 first.dec_deg, last.ra_deg, last.dec_deg) +
          "\t<mr2_objpath>\r\n";
  for (const SightSample& s : sight.samples) {
    const int field = static_cast<int>(std::lround(s.t_s * kFps));
    text += "<mr2_fdata2 fno=\"" + std::to_string(field) +
            "\" b=\"200\" bm=\"0\" Lsum=\"1000.0\" mag=\"+0.00\" az=\"0.0\" ev=\"0.0\"" +
            Format(" ra=\"%.7f\" dec=\"%+.7f\"", s.ra_deg, s.dec_deg) +
            " err=\"0.0\" pass=\"1\" x=\"1.0\" y=\"1.0\" pixels=\"1\" r=\"1.0\"></mr2_fdata2>\r\n";
  }
  text += "\t</mr2_objpath>\r\n</mr2_object>\r\n\t</mr2_objects>\r\n</meridra_record>\r\n";
  WriteFileBytes(dir / (name + "A.XML"), text);
}

class TrajectoryCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"dirs", "add", clips_.path().string()}).exit_code, 0);
    SyntheticMeteor meteor;
    meteor.mjd_utc = kBegin;
    meteor.begin_lat_deg = 50.0;
    meteor.begin_lng_deg = 15.0;
    meteor.v_kms = 35.0;
    SetRadiantFromHorizon(&meteor, 60.0, 45.0);
    std::vector<SyntheticStation> stations = {StationAt("Net_A1", 50.0, 15.0, 0.0, 50.0),
                                              StationAt("Net_B1", 50.0, 15.0, 120.0, 60.0)};
    for (SyntheticStation& s : stations) {
      s.fps = kFps;
      s.first_frame_s = -kHead / kFps;
    }
    std::mt19937_64 rng(3);
    sights_ = ObserveMeteor(meteor, stations, rng, &track_);
    ASSERT_EQ(sights_.size(), 2u);
  }
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }

  TempHome home_{"mr4-trajectory-home"};
  TempDir clips_{"mr4-trajectory-clips"};
  TempDir out_{"mr4-trajectory-out"};
  std::vector<StationSight> sights_;
  ObservedTrack track_;
};

constexpr char kHeader[] =
    "begin_utc,stations,detail,begin_lat,begin_lng,begin_h,end_lat,end_lng,end_h,"
    "ra_app,dec_app,ra_geo,dec_geo,v_init,v_avg,vg,a,e,q,i,peri,node,"
    "sd_radiant,sd_radiant_geo,sd_vg,sd_v_init,sd_begin_h,sd_end_h,sd_a,sd_e,sd_q,sd_i,"
    "shower,convergence,rms_arcsec,frames\r\n";

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  return fields;
}

TEST_F(TrajectoryCommand, SolvesTheMeteorOfTwoStations) {
  WriteClip(clips_.path(), "A1", sights_[0], "PER");
  WriteClip(clips_.path(), "B1", sights_[1], "PER");
  const ProgramResult run = Run({"trajectory", "--out", out_.path().string()});
  ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("2 meteor objects, 1 multi-station meteors"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("(1 solved, 0 failed)"), std::string::npos) << run.out;

  const std::string csv = ReadFileBytes(out_.path() / "trajectories.csv");
  ASSERT_EQ(csv.rfind(kHeader, 0), 0u) << csv;
  const std::string line = csv.substr(sizeof kHeader - 1);
  ASSERT_GE(line.size(), 2u);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per meteor";
  const std::vector<std::string> f = Fields(line.substr(0, line.size() - 2));
  ASSERT_EQ(f.size(), Fields(std::string(kHeader, sizeof kHeader - 3)).size());
  EXPECT_EQ(f[0].rfind("2026-08-12 23:00:0", 0), 0u) << f[0];
  EXPECT_EQ(f[1], "Net_A1 Net_B1");
  EXPECT_NEAR(std::stod(f[5]), track_.begin_height_km, 1.0);
  EXPECT_NEAR(std::stod(f[8]), track_.end_height_km, 1.0);
  EXPECT_NEAR(std::stod(f[13]), 35.0, 0.5);  // v_init
  // The shower comes from the solved radiant, speed and orbit, not from the
  // stations' classes: this radiant (60 deg above the horizon at azimuth
  // 45) belongs to no shower of the shipped lists.
  EXPECT_EQ(f[32], "spo");

  const std::string detail = ReadFileBytes(out_.path() / f[2]);
  EXPECT_EQ(detail.rfind("station,t,lat,lng,h,length,residual_arcsec\r\n", 0), 0u) << detail;
  EXPECT_NE(detail.find("\r\nNet_B1,"), std::string::npos);
  std::size_t lines = 0;
  for (char c : detail) lines += c == '\n';
  EXPECT_EQ(lines, 1 + sights_[0].samples.size() + sights_[1].samples.size());

  // The period report ends with the count of meteors of two or more stations.
  const ProgramResult report = Run({"report", "--out", out_.path().string()});
  ASSERT_EQ(report.exit_code, 0) << report.err;
  const std::string text = ReadFileBytes(out_.path() / "M20260812_23_000_R.csv");
  const std::string tail = "\r\n\r\nmulti_station,meteors\r\n,      1\r\n";
  ASSERT_GE(text.size(), tail.size()) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
}

TEST_F(TrajectoryCommand, PairsOnlyMeteorsOfDifferentStationsInTime) {
  // Station B's object is a flash: nothing to pair.
  WriteClip(clips_.path(), "A1", sights_[0], "spo");
  WriteClip(clips_.path(), "B1", sights_[1], "__flash");
  ProgramResult run = Run({"trajectory", "--out", out_.path().string()});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("1 meteor objects, 0 multi-station meteors"), std::string::npos)
      << run.out;
  EXPECT_EQ(ReadFileBytes(out_.path() / "trajectories.csv"), kHeader);
}

TEST_F(TrajectoryCommand, RefusesBadOptions) {
  for (const char* window : {"x", "-1", "61", ""}) {
    SCOPED_TRACE(window);
    EXPECT_EQ(Run({"trajectory", "--window", window, "--out", out_.path().string()}).exit_code,
              1);
  }
  EXPECT_EQ(Run({"trajectory", "--out", (out_.path() / "none").string()}).exit_code, 1);
  EXPECT_EQ(Run({"trajectory", "extra"}).exit_code, 1);
  EXPECT_FALSE(fs::exists(out_.path() / "trajectories.csv"));
}

}  // namespace
}  // namespace mr4::test
