// Evaluation of the blind solve (run by hand, not by ctest): simulated clips
// of cameras at random pointings, each solved from its capture mask with a
// profile whose pointing is random too and whose field width is up to 20 %
// off. Prints one line per clip and the rates and times of the solve.
// --scattered simulates the clips with stars at random places instead (a sky
// that is not the real one): every solution is then a false one.
//
// usage: eval_blind_solve [--clips N] [--seed S] [--allsky] [--scattered]
//                         [--lowest EV] [--keep DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "calib/blind_solve.h"
#include "calib/camera_model.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "calib/still_image.h"
#include "platform/image_codecs.h"
#include "sim/clip_simulator.h"
#include "tests/calib/synthetic_sky.h"

namespace fs = std::filesystem;
using namespace mr4;

namespace {

// A solution is right when every direction over the lit field is within
// this of the truth, before any fine fit [deg].
constexpr double kRightWithinDeg = 0.5;
constexpr int kStampRows = 12;  // the simulator's time stamp band

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(std::min<double>(v.size() - 1, q * (v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  int clips = 50;
  unsigned seed = 1;
  bool allsky = false;
  bool scattered = false;
  double lowest_given = -1.0;  // lowest axis elevation [deg]; default 15, all-sky 60
  fs::path dir = fs::temp_directory_path() / "mr4-eval-blind";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--clips" && i + 1 < argc) clips = std::atoi(argv[++i]);
    else if (a == "--seed" && i + 1 < argc) seed = static_cast<unsigned>(std::atoi(argv[++i]));
    else if (a == "--allsky") allsky = true;
    else if (a == "--scattered") scattered = true;
    else if (a == "--lowest" && i + 1 < argc) lowest_given = std::atof(argv[++i]);
    else if (a == "--keep" && i + 1 < argc) dir = argv[++i], keep = true;
    else {
      std::fprintf(stderr,
                   "usage: eval_blind_solve [--clips N] [--seed S] [--allsky] [--scattered] "
                   "[--lowest EV] [--keep DIR]\n");
      return 1;
    }
  }
  StarCatalogue catalogue;
  if (!LoadStarCatalogue(std::string(MR4_SOURCE_DIR) + "/data/Smap2000S.csv", catalogue)) return 2;

  std::mt19937 rng(seed);
  auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  std::vector<double> times, solved_times;
  int right = 0, wrong = 0, none = 0;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kMaxImageWidth) * kMaxImageHeight * 3);
  for (int n = 0; n < clips; ++n) {
    CameraProfile truth = testing::MakeSkyProfile();
    if (allsky) {
      truth.p_vx = 270.0f;
      truth.p_k2 = truth.p_k3 = truth.p_k4 = 0.0f;
    }
    // Pointings spread evenly over the sky above 15 deg (all-sky: above 60).
    const double lowest = lowest_given >= 0.0 ? lowest_given : allsky ? 60.0 : 15.0;
    truth.p_az = static_cast<float>(uniform(0.0, 360.0));
    truth.p_ev = static_cast<float>(
        std::asin(uniform(std::sin(lowest * kDegToRad), 1.0)) * kRadToDeg);
    truth.p_rot = static_cast<float>(uniform(-180.0, 180.0));
    truth.p_tz = 32400;
    testing::Refresh(truth);

    SimOptions o;
    o.profile = truth;
    o.trigger = {2024, 8, 12, 23, 15, 30.0f};
    o.object = SimObjectKind::kNone;
    o.frames = 8;
    o.head = 2;
    o.fisheye = allsky;
    o.seed = seed * 1000u + static_cast<unsigned>(n);
    const SimClipResult sim = SimulateClip(
        o, scattered ? testing::MakeUniformCatalogue(6000, 6.0f, o.seed) : catalogue, dir);
    if (!sim.ok) {
      std::fprintf(stderr, "simulation failed: %s\n", sim.error.c_str());
      return 2;
    }
    ImageBuffer mask{pixels, 0, 0};
    const fs::path mask_file = dir / (sim.base + "M.BMP");
    if (ReadStillBmp(mask_file, mask) != ImageStatus::kOk) return 2;
    const std::size_t bytes = static_cast<std::size_t>(mask.width) * mask.height * 3;
    ConvertCaptureMask(mask.pixels.first(bytes), mask.width, mask.height, truth.p_u4_dapix, 0,
                       kStampRows);

    CameraProfile given = truth;
    given.p_az = static_cast<float>(uniform(0.0, 360.0));
    given.p_ev = static_cast<float>(uniform(0.0, 90.0));
    given.p_rot = static_cast<float>(uniform(-180.0, 180.0));
    given.p_vx = static_cast<float>(truth.p_vx * uniform(1.0 / 1.2, 1.2));
    testing::Refresh(given);
    const double given_vx = given.p_vx;
    StarData data;
    const auto start = std::chrono::steady_clock::now();
    PrepareStarData(catalogue, given, mask.pixels.first(bytes), data);
    DetectMaskStars(catalogue, given, mask.pixels.first(bytes), data);
    const BlindSolveResult r = BlindSolve(catalogue, given, data);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    times.push_back(seconds);

    const char* verdict = "none";
    double error = -1.0;
    if (r.solved) {
      ApplyBlindSolution(r, given);
      testing::Refresh(given);
      const double xs[] = {allsky ? 200.0 : 40.0, 360.0, allsky ? 520.0 : 680.0};
      const double ys[] = {allsky ? 80.0 : 40.0, 240.0, allsky ? 400.0 : 440.0};
      error = testing::WorstDirectionErrorDeg(given, truth, xs, ys);
      const bool is_right = !scattered && error <= kRightWithinDeg;
      verdict = is_right ? "right" : "WRONG";
      (is_right ? right : wrong) += 1;
      solved_times.push_back(seconds);
    } else {
      ++none;
    }
    std::printf("%3d az %6.1f ev %4.1f rot %6.1f vx %5.1f (given %5.1f) stars %3d: %-5s "
                "err %.3f deg %.3f s | %s\n",
                n, truth.p_az, truth.p_ev, truth.p_rot, truth.p_vx,
                given_vx, r.mask_stars, verdict, error, seconds,
                BlindSolveText(r).c_str());
    for (const char* suffix : {".avi", ".xml", "M.BMP", "P.BMP", "T.jpg", "_truth.json"}) {
      if (!keep) fs::remove(dir / (sim.base + suffix));
    }
  }
  std::printf("clips %d: right %d (%.1f %%), wrong %d, no solution %d\n", clips, right,
              100.0 * right / std::max(1, clips), wrong, none);
  std::printf("time per clip (detection + solve): median %.3f s, 90 %% %.3f s, max %.3f s\n",
              Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 1.0));
  return 0;
}
