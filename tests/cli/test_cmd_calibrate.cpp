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

const std::string kClip = "M20240812_231530_TK";  // the instant of MakeSkyProfile

// A home whose clip directory holds kClip with the edited mask `mask`,
// scanned with the profile p_cam.XML: the camera of MakeSkyProfile a
// degree off in az and ev, half a degree in rot, 2% in vx.
void MakeClipHome(const TempHome& home, const std::vector<std::uint8_t>& mask,
                  const std::vector<std::string>& pointing = {"az=136", "ev=44", "rot=0.5",
                                                              "vx=57.12"}) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const fs::path clips = home.path() / "clips";
  fs::create_directories(clips);
  ASSERT_EQ(WriteStillBmp(clips / (kClip + "N.BMP"), mask, truth.cx, truth.cy), ImageStatus::kOk);
  WriteFileBytes(home.path() / "MR4_DIR.csv",
                 "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n"
                 "101,1,_" + clips.string() + ",_p_cam.XML,_,0,_\r\n");
  std::vector<std::string> args = {
      "--home", home.path().string(), "profile", "set", "p_cam.XML", "cx=720", "cy=480",
      "lng=139.7", "lat=35.7", "tz=32400", "yx=1", "dx=0", "dy=0", "k4=0", "k3=0.06",
      "k2=-0.03", "atc=58.3", "dlim=40"};
  args.insert(args.end(), pointing.begin(), pointing.end());
  const ProgramResult set = RunMr4(args);
  ASSERT_EQ(set.exit_code, 0) << set.err;
}

TEST(CalibrateCommand, FitsTheProfileOfAClipToTheStarsOfItsMask) {
  TempHome home("mr4-calibrate");
  const CameraProfile truth = testing::MakeSkyProfile();
  StarCatalogue catalogue;
  ASSERT_TRUE(LoadStarCatalogue(home.path() / kStarCatalogueFileName, catalogue));
  int drawn = 0;
  const std::vector<std::uint8_t> mask = testing::RenderMask(catalogue, truth, 4.0f, &drawn);
  ASSERT_GE(drawn, 20);
  MakeClipHome(home, mask);
  const std::string& name = kClip;

  const ProgramResult r = RunMr4(
      {"--home", home.path().string(), "calibrate", "--save-profile", "p_fit.XML", name});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("clip " + name + "\npointing search: az ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nmask "), std::string::npos) << r.out;
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

// A fit that cannot be trusted exits 2 naming the clip, and saves nothing.
TEST(CalibrateCommand, AFailedFitExitsTwoAndNamesTheClip) {
  const CameraProfile truth = testing::MakeSkyProfile();
  StarCatalogue catalogue;
  {
    TempHome home("mr4-calibrate-catalogue");
    ASSERT_TRUE(LoadStarCatalogue(home.path() / kStarCatalogueFileName, catalogue));
  }
  int drawn = 0;
  const std::vector<std::uint8_t> bright = testing::RenderMask(catalogue, truth, 1.5f, &drawn);
  ASSERT_LT(drawn, 6);
  // Noise: candidate pixels scattered over the frame, thousands of "stars".
  std::vector<std::uint8_t> noise = testing::RenderMask(catalogue, truth, 4.0f);
  std::uint32_t state = 11;
  for (std::size_t i = 0; i < noise.size(); i += 3) {
    state = state * 1664525u + 1013904223u;
    if ((state >> 24) < 40) noise[i] = 240, noise[i + 1] = static_cast<std::uint8_t>(state >> 8);
  }
  const struct {
    const char* name;
    const std::vector<std::uint8_t>* mask;
    const char* failure;
  } cases[] = {
      {"a few bright stars", &bright, " linked stars, at least 6 needed\n"},
      {"a mask of noise", &noise, " mask stars, more than 1000: the mask holds noise\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home("mr4-calibrate-fails");
    MakeClipHome(home, *c.mask);
    const ProgramResult r = RunMr4(
        {"--home", home.path().string(), "calibrate", "--save-profile", "p_fit.XML", kClip});
    EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
    const std::size_t at = r.out.find(kClip + ": calibration failed: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.failure, at), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(home.path() / "PROF" / "p_fit.XML"));
  }
}

// The blind solve of a mask without the sky's stars says so, naming the
// clip and how many stars it found, exits 2 and saves nothing.
TEST(CalibrateCommand, BlindCalibrationWithoutStarsHasNoSolution) {
  const CameraProfile truth = testing::MakeSkyProfile();
  const std::vector<std::uint8_t> black(static_cast<std::size_t>(truth.cx) * truth.cy * 3, 0);
  TempHome home("mr4-calibrate-blind");
  MakeClipHome(home, black, {"az=300", "ev=20", "rot=90", "vx=50"});
  const ProgramResult r = RunMr4({"--home", home.path().string(), "calibrate", "--blind",
                                  "--save-profile", "p_fit.XML", kClip});
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  EXPECT_NE(r.out.find(kClip + ": no solution: 0 stars found, "), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(home.path() / "PROF" / "p_fit.XML"));
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
