// End-to-end check of `mr4 calibrate`: a clip whose edited mask holds the
// catalogue's stars as a known camera sees them, scanned with a profile a
// degree off, is fitted back to that camera.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "astro/angles.h"
#include "calib/camera_model.h"
#include "calib/star_catalogue.h"
#include "calib/still_image.h"
#include "tests/calib/synthetic_sky.h"
#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> NameValues(const std::string& out) {
  std::map<std::string, std::string> values;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && line.find(' ') == std::string::npos) {
      values[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return values;
}

TEST(CalibrateCommand, FitsTheProfileOfAClipToTheStarsOfItsMask) {
  TempHome home("mr4-calibrate");
  const CameraProfile truth = testing::MakeSkyProfile();
  StarCatalogue catalogue;
  ASSERT_TRUE(LoadStarCatalogue(home.path() / kStarCatalogueFileName, catalogue));
  int drawn = 0;
  const std::vector<std::uint8_t> mask = testing::RenderMask(catalogue, truth, 4.0f, &drawn);
  ASSERT_GE(drawn, 20);

  const fs::path clips = home.path() / "clips";
  fs::create_directories(clips);
  const std::string name = "M20240812_231530_TK";  // the instant of `truth`
  ASSERT_EQ(WriteStillBmp(clips / (name + "N.BMP"), mask, truth.cx, truth.cy), ImageStatus::kOk);
  WriteFileBytes(home.path() / "MR4_DIR.csv",
                 "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n"
                 "101,1,_" + clips.string() + ",_p_cam.XML,_,0,_\r\n");

  // The recorded camera: a degree off in az and ev, half a degree in rot,
  // 2% in vx.
  const ProgramResult set = RunMr4(
      {"--home", home.path().string(), "profile", "set", "p_cam.XML", "cx=720", "cy=480",
       "lng=139.7", "lat=35.7", "tz=32400", "az=136", "ev=44", "rot=0.5", "vx=57.12",
       "yx=1", "dx=0", "dy=0", "k4=0", "k3=0.06", "k2=-0.03", "atc=58.3", "dlim=40"});
  ASSERT_EQ(set.exit_code, 0) << set.err;

  const ProgramResult r = RunMr4(
      {"--home", home.path().string(), "calibrate", "--save-profile", "p_fit.XML", name});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("clip " + name + "\nmask ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\n(2024/08/12 23:15:30.00)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nn"), std::string::npos);
  EXPECT_TRUE(fs::exists(home.path() / "PROF" / "p_fit.XML"));

  const auto values = NameValues(r.out);
  CameraProfile fitted = truth;
  for (const char* field : {"az", "ev", "rot", "vx", "yx", "dx", "dy", "k4", "k3", "k2"}) {
    ASSERT_TRUE(values.count(field)) << field << " in\n" << r.out;
  }
  fitted.p_az = std::strtof(values.at("az").c_str(), nullptr);
  fitted.p_ev = std::strtof(values.at("ev").c_str(), nullptr);
  fitted.p_rot = std::strtof(values.at("rot").c_str(), nullptr);
  fitted.p_vx = std::strtof(values.at("vx").c_str(), nullptr);
  fitted.p_yx = std::strtof(values.at("yx").c_str(), nullptr);
  fitted.p_dx = std::strtof(values.at("dx").c_str(), nullptr);
  fitted.p_dy = std::strtof(values.at("dy").c_str(), nullptr);
  fitted.p_k4 = std::strtof(values.at("k4").c_str(), nullptr);
  fitted.p_k3 = std::strtof(values.at("k3").c_str(), nullptr);
  fitted.p_k2 = std::strtof(values.at("k2").c_str(), nullptr);
  BuildDistortionTable(fitted);

  // The mean pixel residual after the fit, from the last match summary.
  const std::size_t last = r.out.rfind("dpix avr");
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(std::strtod(r.out.c_str() + last + 8, nullptr), 0.3) << r.out;
  // The pointing: the direction seen at the frame centre and over the field.
  const double corners_and_centre[] = {0.5, 360.0, 719.5};
  const double rows[] = {0.5, 240.0, 479.5};
  EXPECT_LT(testing::WorstDirectionErrorDeg(fitted, truth, corners_and_centre, rows),
            0.05)
      << r.out;
}

TEST(CalibrateCommand, UnknownClipIsAUsageError) {
  TempHome home("mr4-calibrate-bad");
  const ProgramResult r = RunMr4({"--home", home.path().string(), "calibrate", "M_nothing"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("no clip M_nothing in the scanned directories"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace mr4::test
