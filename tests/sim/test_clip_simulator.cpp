// The simulated clip files are what the readers of the system expect, the
// truth file agrees with the pictures, and the output is deterministic.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "calib/camera_model.h"
#include "calib/profile_fit.h"
#include "calib/star_match.h"
#include "calib/still_image.h"
#include "replay/avi_reader.h"
#include "sim/clip_simulator.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

const StarCatalogue& Catalogue() {
  static StarCatalogue catalogue = [] {
    StarCatalogue c;
    LoadStarCatalogue(fs::path(MR4_SOURCE_DIR) / "data" / kStarCatalogueFileName, c);
    return c;
  }();
  return catalogue;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(Catalogue().count, 100000);
    // The test's own directory: the same test may run at the same time
    // in another build tree.
    dir_ = fs::temp_directory_path() /
           ("mr4-sim-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    options_.profile.cx = 720;
    options_.profile.cy = 480;
    options_.profile.p_lng = 139.7f;
    options_.profile.p_lat = 35.7f;
    options_.profile.p_tz = 32400;
    options_.profile.p_az = 135.0f;
    options_.profile.p_ev = 45.0f;
    options_.trigger = {2024, 8, 12, 23, 15, 30.0f};
    options_.radiant.shower = "PER";
    options_.mag_peak = -1.0;
    options_.head = 5;
    options_.tail = 5;
  }
  void TearDown() override { fs::remove_all(dir_); }

  SimClipResult Simulate() {
    SimClipResult r = SimulateClip(options_, Catalogue(), dir_);
    EXPECT_TRUE(r.ok) << r.error;
    return r;
  }
  fs::path File(const SimClipResult& r, const std::string& end) const {
    return dir_ / (r.base + end);
  }

  fs::path dir_;
  SimOptions options_;
};

TEST_F(SimulatorTest, TheVideoOpensInEveryFormat) {
  struct Case {
    const char* name;
    int probe;
    const char* fourcc;
  };
  const Case cases[] = {{"yuy2", kProbeYuyv, "YUY2"}, {"uyvy", kProbeUyvy, "UYVY"},
                        {"dib8", kProbeDib, "DIB "}, {"dib24", kProbeDib, "DIB "},
                        {"dib32", kProbeDib, "DIB "}};
  const bool have_ffprobe = std::system("command -v ffprobe > /dev/null 2>&1") == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ParseSimFormat(c.name, &options_.format));
    options_.frames = 12;
    options_.interlaced = std::string(c.name) == "uyvy";
    options_.suffix = std::string("_") + c.name;
    const SimClipResult r = Simulate();
    const AviProbe probe = ProbeAviFormat(File(r, ".avi"));
    EXPECT_EQ(probe.code, c.probe);
    EXPECT_EQ(probe.fourcc, c.fourcc);

    std::vector<std::uint8_t> buffer(4 << 20);
    AviReader reader;
    ASSERT_EQ(OpenAviFrames(File(r, ".avi"), reader, buffer), kAviOk);
    EXPECT_EQ(reader.width, 720);
    EXPECT_EQ(reader.height, 480);
    EXPECT_EQ(reader.total_frames, 12);
    int frames = 0;
    while (NextAviFrame(reader, buffer) == kAviOk) ++frames;
    EXPECT_EQ(frames, 12);

    if (have_ffprobe) {
      const std::string command =
          "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
          "stream=width,height,nb_read_frames -of csv=p=0 '" + File(r, ".avi").string() + "'";
      std::FILE* pipe = popen(command.c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      char line[128] = {};
      ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
      pclose(pipe);
      EXPECT_EQ(std::string(line), "720,480,12\n");
    }
  }
}

TEST_F(SimulatorTest, TheCaptureMaskHoldsStarsThatLinkToTheCatalogue) {
  const SimClipResult r = Simulate();
  EXPECT_GE(r.stars_marked, 20);
  std::vector<std::uint8_t> pixels(720 * 480 * 3);
  ImageBuffer mask{pixels, 0, 0};
  ASSERT_EQ(ReadStillBmp(File(r, "M.BMP"), mask), ImageStatus::kOk);
  ASSERT_EQ(mask.width, 720);

  // Red marks the meteor's path; the capture mask turns into edit codes.
  int red = 0;
  for (std::size_t i = 0; i < pixels.size(); i += 3) red += pixels[i + 2] > 10;
  EXPECT_GT(red, 50);
  ConvertCaptureMask(pixels, 720, 480, 48, 0, 12);

  CameraProfile truth = options_.profile;
  truth.clip_y = 2024, truth.clip_mo = 8, truth.clip_d = 12;
  truth.clip_h = 23, truth.clip_m = 15, truth.clip_s = 30.0f, truth.clip_tz = 32400;
  ComputeClipInstantValues(truth);
  StarData data;
  PrepareStarData(Catalogue(), truth, pixels, data);
  DetectMaskStars(Catalogue(), truth, pixels, data);
  BuildLinkedPairs(Catalogue(), truth, data);
  EXPECT_GE(data.pairs.size(), 18u) << data.mask_stars.size() << " mask stars";
  EXPECT_LT(MeanPixelResidual(truth, data.pairs), 0.3);
}

TEST_F(SimulatorTest, TheTruthAgreesWithTheMeteorDrawn) {
  const SimClipResult r = Simulate();
  ASSERT_EQ(r.objects.size(), 1u);
  const SimObjectTruth& m = r.objects[0];
  EXPECT_EQ(m.ideal_class, "PER");
  // Perseids: vg with the escape speed added, about 60 km/s.
  EXPECT_NEAR(m.speed, 60.0, 1.5);
  EXPECT_NEAR(m.start.height, 80.0 + 0.45 * m.speed, 0.5);
  EXPECT_NEAR(m.end.height, 70.0 + 0.25 * m.speed, 0.5);
  EXPECT_GT(m.end.t, m.start.t + 0.1);
  EXPECT_LT(m.end.t, m.start.t + 2.0);
  // The meteor moves away from its radiant: the end lies farther from it.
  const double d0 = AngularDistance(m.start.ra, m.start.dec, m.radiant_ra, m.radiant_dec);
  const double d1 = AngularDistance(m.end.ra, m.end.dec, m.radiant_ra, m.radiant_dec);
  EXPECT_GT(d1, d0);

  // Every red pixel of the mask lies near the segment between the truth's
  // start and end pixels.
  std::vector<std::uint8_t> pixels(720 * 480 * 3);
  ImageBuffer mask{pixels, 0, 0};
  ASSERT_EQ(ReadStillBmp(File(r, "M.BMP"), mask), ImageStatus::kOk);
  const double ax = m.start.x, ay = m.start.y, bx = m.end.x, by = m.end.y;
  const double len2 = (bx - ax) * (bx - ax) + (by - ay) * (by - ay);
  double worst = 0.0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 720; ++x) {
      if (pixels[3 * (y * 720 + x) + 2] <= 10) continue;
      const double px = x + 0.5, py = y + 0.5;
      const double u = std::clamp(((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / len2, 0.0, 1.0);
      worst = std::max(worst, std::hypot(px - ax - u * (bx - ax), py - ay - u * (by - ay)));
    }
  }
  EXPECT_LT(worst, 6.0);
}

TEST_F(SimulatorTest, TheFirstFieldIsExposedFirst) {
  options_.interlaced = true;
  options_.mag_peak = -3.0;
  for (bool bbf : {false, true}) {
    SCOPED_TRACE(bbf ? "bottom field first" : "top field first");
    options_.bbf = bbf;
    options_.suffix = bbf ? "_B" : "_T";
    const SimClipResult r = Simulate();
    const SimObjectTruth& m = r.objects.at(0);
    std::vector<std::uint8_t> mask_pixels(720 * 480 * 3);
    ImageBuffer mask{mask_pixels, 0, 0};
    ASSERT_EQ(ReadStillBmp(File(r, "M.BMP"), mask), ImageStatus::kOk);

    std::vector<std::uint8_t> buffer(4 << 20);
    AviReader reader;
    ASSERT_EQ(OpenAviFrames(File(r, ".avi"), reader, buffer), kAviOk);
    const int wanted = options_.head + static_cast<int>((m.end.t * 0.5) * options_.fps);
    for (int f = 0; f <= wanted; ++f) ASSERT_EQ(NextAviFrame(reader, buffer), kAviOk);
    const std::span<const std::uint8_t> frame = AviFramePixels(reader, buffer);

    // Brightness-weighted place along the path, of each field's rows, over
    // the pixels where the mask marks the event.
    const double ux = m.end.x - m.start.x, uy = m.end.y - m.start.y;
    double sum[2] = {0, 0}, weight[2] = {0, 0};
    for (int row = 0; row < 480; ++row) {
      const int y = 479 - row;  // bottom-up
      for (int x = 0; x < 720; ++x) {
        if (mask_pixels[3 * (y * 720 + x) + 2] <= 10) continue;
        const double level = std::max(0, frame[2 * (row * 720 + x)] - 40);
        sum[row % 2] += level * ((x + 0.5) * ux + (y + 0.5) * uy);
        weight[row % 2] += level;
      }
    }
    ASSERT_GT(weight[0], 0.0);
    ASSERT_GT(weight[1], 0.0);
    const double even = sum[0] / weight[0], odd = sum[1] / weight[1];
    if (bbf) EXPECT_LT(odd, even);
    else EXPECT_LT(even, odd);
  }
}

TEST_F(SimulatorTest, TheSameSeedGivesTheSameBytes) {
  options_.frames = 20;
  const fs::path first = dir_ / "first", second = dir_ / "second";
  ASSERT_TRUE(SimulateClip(options_, Catalogue(), first).ok);
  const SimClipResult r = SimulateClip(options_, Catalogue(), second);
  ASSERT_TRUE(r.ok);
  for (const char* end : {".avi", ".xml", "M.BMP", "P.BMP", "T.jpg", "_truth.json"}) {
    EXPECT_EQ(Bytes(first / (r.base + end)), Bytes(second / (r.base + end))) << end;
  }
  options_.seed = 2;
  ASSERT_TRUE(SimulateClip(options_, Catalogue(), dir_ / "third").ok);
  EXPECT_NE(Bytes(first / (r.base + ".avi")), Bytes(dir_ / "third" / (r.base + ".avi")));
}

TEST_F(SimulatorTest, TheClockErrorShiftsOnlyTheRecordedTime) {
  options_.clock_error = 75.0;
  options_.frames = 10;
  const SimClipResult r = Simulate();
  EXPECT_EQ(r.base, "M20240812_231645_SIM");
  const std::string record = Bytes(File(r, ".xml"));
  EXPECT_NE(record.find("m=\"16\" s=\"45.0000\""), std::string::npos) << record;
  const std::string truth = Bytes(File(r, "_truth.json"));
  EXPECT_NE(truth.find("\"trigger_true\": \"2024-08-12 23:15:30.000\""), std::string::npos);
  EXPECT_NE(truth.find("\"trigger_recorded\": \"2024-08-12 23:16:45.000\""), std::string::npos);
}

// The truth's peak level is the object's brightest noise-free level in one
// pixel of one field: what the detection's thresholds are up against.
TEST_F(SimulatorTest, PeakLevelIsTheBrightestPixelOfTheObject) {
  // A slow light's strobe (at mag_peak) lights the first frames at rest.
  options_.object = SimObjectKind::kSlow;
  options_.duration = 0.2;
  options_.head = 2;
  options_.tail = 0;
  double peak[2];
  const double mags[2] = {0.0, 2.5};
  for (int k = 0; k < 2; ++k) {
    options_.mag_peak = mags[k];
    options_.suffix = "_m" + std::to_string(k);
    const SimClipResult r = Simulate();
    ASSERT_EQ(r.objects.size(), 1u);
    peak[k] = r.objects[0].peak_level;
  }
  // Same seed, same place: 2.5 magnitudes are a factor 10, unclipped.
  EXPECT_NEAR(peak[0] / peak[1], 10.0, 0.01);
  // Flux 10^(-0.4 (m - ZeroPoint)) spread with sigma 1.2 px: the central
  // pixel holds about flux / (2 pi sigma^2), less off the pixel centre.
  const double zero_point = 2.0 + 2.5 * std::log10(255.0);
  const double central =
      std::pow(10.0, -0.4 * (mags[1] - zero_point)) / (2 * 3.14159265358979 * 1.2 * 1.2);
  EXPECT_GT(peak[1], 0.75 * central);
  EXPECT_LT(peak[1], 1.05 * central);
}

TEST_F(SimulatorTest, OtherObjectsAndBadRadiants) {
  options_.frames = 10;
  for (SimObjectKind kind : {SimObjectKind::kFlash, SimObjectKind::kSlow, SimObjectKind::kCurve,
                             SimObjectKind::kNone}) {
    SCOPED_TRACE(SimObjectKindName(kind));
    options_.object = kind;
    options_.suffix = std::string("_") + SimObjectKindName(kind);
    const SimClipResult r = Simulate();
    EXPECT_EQ(r.objects.size(), kind == SimObjectKind::kNone ? 0u : 1u);
  }
  options_.object = SimObjectKind::kMeteor;
  options_.radiant.shower = "XXX";
  EXPECT_FALSE(SimulateClip(options_, Catalogue(), dir_).ok);
  options_.radiant = SimRadiant{};
  options_.radiant.given = true;
  options_.radiant.dec = -89.0;  // never above the horizon at latitude 35.7
  const SimClipResult r = SimulateClip(options_, Catalogue(), dir_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "the radiant is below the horizon at that time");
}

}  // namespace
}  // namespace mr4
