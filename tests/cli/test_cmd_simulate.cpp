// End to end: `mr4 simulate` writes clips the scan reads and `mr4 calibrate`
// fits back to the camera they were simulated with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "tests/calib/synthetic_sky.h"
#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, double> NameValues(const std::string& out) {
  std::map<std::string, double> values;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && line.find(' ') == std::string::npos) {
      values[line.substr(0, eq)] = std::strtod(line.c_str() + eq + 1, nullptr);
    }
  }
  return values;
}

const std::vector<std::string> kCamera = {"cx=720", "cy=480", "lng=139.7", "lat=35.7",
                                          "tz=32400", "k4=0", "k3=0.06", "k2=-0.03",
                                          "yx=1", "dx=0", "dy=0", "dlim=40"};

ProgramResult SetProfile(const TempHome& home, const std::string& file,
                         std::vector<std::string> fields) {
  std::vector<std::string> args = {"--home", home.path().string(), "profile", "set", file};
  args.insert(args.end(), kCamera.begin(), kCamera.end());
  args.insert(args.end(), fields.begin(), fields.end());
  return RunMr4(args);
}

TEST(SimulateCommand, CalibrateRecoversTheSimulatedCamera) {
  TempHome home("mr4-simulate");
  ASSERT_EQ(SetProfile(home, "true.XML", {"az=135", "ev=45", "rot=0", "vx=56"}).exit_code, 0);
  // The camera as recorded: a degree off in az and ev, half a degree in
  // rot, 2 % in vx.
  ASSERT_EQ(SetProfile(home, "off.XML", {"az=136", "ev=44", "rot=0.5", "vx=57.12"}).exit_code, 0);
  const std::string clips = (home.path() / "clips").string();
  const ProgramResult sim =
      RunMr4({"--home", home.path().string(), "simulate", "--out", clips, "--profile",
              "true.XML", "--time", "2024-08-12 23:15:30", "--shower", "PER", "--seed", "3"});
  ASSERT_EQ(sim.exit_code, 0) << sim.err;
  EXPECT_EQ(sim.out.rfind("M20240812_231530_SIM frames=", 0), 0u) << sim.out;
  ASSERT_EQ(RunMr4({"--home", home.path().string(), "dirs", "add", clips, "--profile", "off.XML"})
                .exit_code, 0);

  const ProgramResult scan = RunMr4({"--home", home.path().string(), "scan"});
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  EXPECT_NE(scan.out.find("simulated meteor"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find("1 clips"), std::string::npos) << scan.out;

  const ProgramResult r =
      RunMr4({"--home", home.path().string(), "calibrate", "M20240812_231530_SIM"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const auto v = NameValues(r.out);
  CameraProfile truth, fitted;
  truth.p_az = 135, truth.p_ev = 45, truth.p_rot = 0, truth.p_vx = 56;
  fitted.p_az = static_cast<float>(v.at("az"));
  fitted.p_ev = static_cast<float>(v.at("ev"));
  fitted.p_rot = static_cast<float>(v.at("rot"));
  fitted.p_vx = static_cast<float>(v.at("vx"));
  fitted.p_yx = static_cast<float>(v.at("yx"));
  fitted.p_dx = static_cast<float>(v.at("dx"));
  fitted.p_dy = static_cast<float>(v.at("dy"));
  fitted.p_k4 = static_cast<float>(v.at("k4"));
  fitted.p_k3 = static_cast<float>(v.at("k3"));
  fitted.p_k2 = static_cast<float>(v.at("k2"));
  BuildDistortionTable(truth);
  BuildDistortionTable(fitted);
  const double corners_and_centre[] = {0.5, 360.0, 719.5};
  const double rows[] = {0.5, 240.0, 479.5};
  EXPECT_LT(testing::WorstDirectionErrorDeg(fitted, truth, corners_and_centre, rows),
            0.05)
      << r.out;
}

// The fitted camera of a calibrate run's output.
CameraProfile FittedCamera(const std::map<std::string, double>& v) {
  CameraProfile p;
  p.p_az = static_cast<float>(v.at("az"));
  p.p_ev = static_cast<float>(v.at("ev"));
  p.p_rot = static_cast<float>(v.at("rot"));
  p.p_vx = static_cast<float>(v.at("vx"));
  p.p_yx = static_cast<float>(v.at("yx"));
  p.p_dx = static_cast<float>(v.at("dx"));
  p.p_dy = static_cast<float>(v.at("dy"));
  p.p_k4 = static_cast<float>(v.at("k4"));
  p.p_k3 = static_cast<float>(v.at("k3"));
  p.p_k2 = static_cast<float>(v.at("k2"));
  BuildDistortionTable(p);
  return p;
}

// Links reach about dlim pixels; the pointing search before the fit brings
// a camera recorded 10 deg off in az and ev and 5 deg in rot to the fit a
// true start reaches, with the default link distance.
TEST(SimulateCommand, CalibrateConvergesFromTenDegreesOff) {
  TempHome home("mr4-simulate-far");
  ASSERT_EQ(SetProfile(home, "true.XML", {"az=135", "ev=45", "rot=0", "vx=56"}).exit_code, 0);
  const std::string clips = (home.path() / "clips").string();
  ASSERT_EQ(RunMr4({"--home", home.path().string(), "simulate", "--out", clips, "--profile",
                    "true.XML", "--time", "2024-08-12 23:15:30", "--frames", "20", "--seed",
                    "5"})
                .exit_code,
            0);
  ASSERT_EQ(RunMr4({"--home", home.path().string(), "dirs", "add", clips, "--profile",
                    "start.XML"})
                .exit_code,
            0);
  CameraProfile truth;
  truth.p_az = 135, truth.p_ev = 45, truth.p_rot = 0, truth.p_vx = 56;
  BuildDistortionTable(truth);
  const double xs[] = {0.5, 360.0, 719.5};
  const double ys[] = {0.5, 240.0, 479.5};
  const struct {
    const char* name;
    std::vector<std::string> pointing;
  } starts[] = {
      {"true pointing", {"az=135", "ev=45", "rot=0"}},
      {"+10 +10 +5", {"az=145", "ev=55", "rot=5"}},
      {"-10 -10 -5", {"az=125", "ev=35", "rot=-5"}},
  };
  std::vector<CameraProfile> fits;
  for (const auto& start : starts) {
    SCOPED_TRACE(start.name);
    std::vector<std::string> fields = start.pointing;
    fields.insert(fields.end(), {"vx=56", "dlim=15"});
    ASSERT_EQ(SetProfile(home, "start.XML", fields).exit_code, 0);
    const ProgramResult r =
        RunMr4({"--home", home.path().string(), "calibrate", "M20240812_231530_SIM"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    fits.push_back(FittedCamera(NameValues(r.out)));
    EXPECT_LT(testing::WorstDirectionErrorDeg(fits.back(), truth, xs, ys), 0.05) << r.out;
    EXPECT_LT(testing::WorstDirectionErrorDeg(fits.back(), fits.front(), xs, ys), 0.02)
        << r.out;
  }
}

// A camera recorded with any pointing at all, and its field width 20 % off,
// is found by the blind solve and then fitted: a narrow camera and an
// all-sky one (equidistant lens, the horizon on the 240 px circle).
TEST(SimulateCommand, BlindCalibrationFindsACameraFromNoGuess) {
  const struct {
    const char* name;
    std::vector<std::string> truth, recorded;
    bool fisheye;
    // Pixels within the lit field the fit is compared at.
    std::vector<double> xs, ys;
    double largest_error;  // [deg]
  } cameras[] = {
      {"narrow", {"az=250", "ev=30", "rot=8", "vx=56"},
       {"az=20", "ev=70", "rot=-90", "vx=67.2", "dlim=15"}, false,
       {0.5, 360.0, 719.5}, {0.5, 240.0, 479.5}, 0.05},
      {"all-sky", {"az=0", "ev=90", "rot=30", "vx=270", "k3=0", "k2=0"},
       {"az=100", "ev=20", "rot=0", "vx=240", "k3=0", "k2=0", "dlim=15"}, true,
       {200.0, 360.0, 520.0}, {80.0, 240.0, 400.0}, 0.1},
  };
  for (const auto& camera : cameras) {
    SCOPED_TRACE(camera.name);
    TempHome home("mr4-simulate-blind");
    ASSERT_EQ(SetProfile(home, "true.XML", camera.truth).exit_code, 0);
    ASSERT_EQ(SetProfile(home, "recorded.XML", camera.recorded).exit_code, 0);
    const std::string clips = (home.path() / "clips").string();
    std::vector<std::string> simulate = {"--home", home.path().string(), "simulate", "--out",
                                         clips, "--profile", "true.XML", "--time",
                                         "2024-08-12 23:15:30", "--frames", "20", "--seed", "9"};
    if (camera.fisheye) simulate.push_back("--fisheye");
    ASSERT_EQ(RunMr4(simulate).exit_code, 0);
    ASSERT_EQ(RunMr4({"--home", home.path().string(), "dirs", "add", clips, "--profile",
                      "recorded.XML"})
                  .exit_code,
              0);
    const ProgramResult r = RunMr4(
        {"--home", home.path().string(), "calibrate", "--blind", "M20240812_231530_SIM"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\nblind solve: az "), std::string::npos) << r.out;
    CameraProfile truth = FittedCamera(NameValues(r.out));
    for (const std::string& field : camera.truth) {
      const double value = std::strtod(field.c_str() + field.find('=') + 1, nullptr);
      const std::string name = field.substr(0, field.find('='));
      if (name == "az") truth.p_az = static_cast<float>(value);
      if (name == "ev") truth.p_ev = static_cast<float>(value);
      if (name == "rot") truth.p_rot = static_cast<float>(value);
      if (name == "vx") truth.p_vx = static_cast<float>(value);
    }
    truth.p_yx = 1, truth.p_dx = truth.p_dy = 0, truth.p_k4 = 0;
    truth.p_k3 = camera.fisheye ? 0.0f : 0.06f;
    truth.p_k2 = camera.fisheye ? 0.0f : -0.03f;
    BuildDistortionTable(truth);
    const CameraProfile fitted = FittedCamera(NameValues(r.out));
    EXPECT_LT(testing::WorstDirectionErrorDeg(fitted, truth, camera.xs, camera.ys),
              camera.largest_error)
        << r.out;
  }
}

TEST(SimulateCommand, ANightIsAMixOfClipsInTimeOrder) {
  TempHome home("mr4-simulate-night");
  ASSERT_EQ(SetProfile(home, "cam.XML", {"az=135", "ev=45", "rot=0", "vx=56"}).exit_code, 0);
  const std::string clips = (home.path() / "night").string();
  const ProgramResult r =
      RunMr4({"--home", home.path().string(), "simulate", "--night", "--out", clips,
              "--profile", "cam.XML", "--date", "2024-08-12", "--clips", "4", "--head", "3",
              "--tail", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line, previous;
  int n = 0;
  while (std::getline(lines, line)) {
    ++n;
    EXPECT_LT(previous, line.substr(0, 20));
    previous = line.substr(0, 20);
    EXPECT_TRUE(fs::exists(fs::path(clips) / (previous + "M.BMP"))) << line;
    EXPECT_TRUE(fs::exists(fs::path(clips) / (previous + "_truth.json"))) << line;
  }
  EXPECT_EQ(n, 4) << r.out;
  // Dusk in Tokyo in August is after 19:30 local time; dawn before 4:30.
  EXPECT_GE(r.out.substr(0, 20), "M20240812_193000_SIM") << r.out;
  EXPECT_LE(previous, "M20240813_043000_SIM") << r.out;
}

TEST(SimulateCommand, RefusesBadOptions) {
  TempHome home("mr4-simulate-bad");
  const std::string h = home.path().string();
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--time", "2024-08-12 23:15:30"}, "--out DIR is required"},
      {{"--out", "x"}, "--time 'YYYY-MM-DD hh:mm:ss' is required"},
      {{"--out", "x", "--time", "2024-13-12 23:15:30"}, "is not a valid 'YYYY-MM-DD hh:mm:ss'"},
      {{"--out", "x", "--time", "2023-02-29 23:15:30"}, "is not a valid 'YYYY-MM-DD hh:mm:ss'"},
      {{"--out", "x", "--night", "--date", "2024-08-12 23"}, "is not a valid YYYY-MM-DD"},
      {{"--out", "x", "--night"}, "--night needs --date YYYY-MM-DD"},
      {{"--out", "x", "--format", "mjpg"}, "--format must be"},
      {{"--out", "x", "--object", "ufo"}, "--object must be"},
      {{"--out", "x", "--shower", "PER", "--radiant", "1,2"}, "not both"},
      {{"--out", "x", "--speed", "5"}, "--speed '5' is not a number in range"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--home", h, "simulate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult r = RunMr4(args);
    EXPECT_EQ(r.exit_code, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const ProgramResult r = RunMr4({"--home", h, "simulate", "--out", (home.path() / "c").string(),
                                  "--time", "2024-08-12 23:15:30", "--shower", "NOPE"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("unknown shower code NOPE"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace mr4::test
