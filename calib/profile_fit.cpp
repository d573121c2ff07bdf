#include "calib/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "astro/sky_coordinates.h"
#include "base/error.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "calib/still_image.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr int kMovesPerDirection = 50;
constexpr int kMaxIterations = 499;
constexpr float kHighestAxisElevation = 89.9999f;  // [deg]
constexpr double kAngleStopFactor = 0.09;   // x ddpix: angles and lens terms
constexpr double kOffsetStopFactor = 1000;  // x ddpix: optical-centre offsets
constexpr int kRelinkRounds = 4;
constexpr int kPointingRounds = 4;
constexpr int kFewestPairsForPointing = 6;
constexpr double kLargestKeptResidual = 4.0;  // [px]

// What follows each move of a line search.
enum class AfterMove { kNothing, kRebuildLens, kAdjustPointing };

int SearchField(CameraProfile& p, std::span<const LinkedPair> pairs,
                ProfileField field, float step, double min_step, AfterMove after) {
  int accepted = 0;
  // A trial move: the field as stored is a float, so a step below its
  // resolution leaves it unchanged and is rejected.
  auto move = [&](float delta) {
    p.*field = p.*field + delta;
    if (after == AfterMove::kRebuildLens) BuildDistortionTable(p);
    if (after == AfterMove::kAdjustPointing) accepted += AdjustPointingOnce(p, pairs);
  };
  auto undo = [&](float delta, bool refit_pointing) {
    p.*field = p.*field + delta;
    if (after == AfterMove::kRebuildLens) BuildDistortionTable(p);
    if (after == AfterMove::kAdjustPointing && refit_pointing) {
      accepted += AdjustPointingOnce(p, pairs);
    }
  };

  double best = MeanPixelResidual(p, pairs);
  // Moves of `delta` while each lowers the cost, at most
  // kMovesPerDirection. Only a rejected move is taken back: after the last
  // accepted one the field already stands at the best cost found.
  auto run = [&](float delta, bool refit_pointing_on_undo) {
    for (int n = 0; n < kMovesPerDirection; ++n) {
      move(delta);
      const double e = MeanPixelResidual(p, pairs);
      if (!(e < best)) {
        undo(-delta, refit_pointing_on_undo);
        return;
      }
      best = e;
      ++accepted;
    }
  };
  for (float a = step; a > min_step; a /= 10.0f) {
    run(a, false);  // up
    run(-a, true);  // then down
  }
  return accepted;
}

double AngleStop(const CameraProfile& p) { return p.p_u4_ddpix * kAngleStopFactor; }

// Effective magnitude of the catalogue star a mask star is linked to.
double LinkedMagnitude(const StarCatalogue& catalogue, const CameraProfile& p,
                       const MaskStar& star) {
  return EffectiveMagnitude(catalogue, p, star.link);
}

}  // namespace

double MeanPixelResidual(const CameraProfile& p, std::span<const LinkedPair> pairs) {
  if (pairs.empty()) return 0.0;
  double sum = 0.0;
  for (const LinkedPair& pair : pairs) {
    const PixelPosition px = HorizontalToPixel(p, pair.az, pair.ev);
    sum += std::hypot(pair.x - px.x, pair.y - px.y);
  }
  return sum / pairs.size();
}

int LineSearch(CameraProfile& p, std::span<const LinkedPair> pairs,
               ProfileField field, float step, double min_step) {
  return SearchField(p, pairs, field, step, min_step, AfterMove::kNothing);
}

int LineSearchWithLens(CameraProfile& p, std::span<const LinkedPair> pairs,
                       ProfileField field, float step, double min_step) {
  return SearchField(p, pairs, field, step, min_step, AfterMove::kRebuildLens);
}

int LineSearchWithPointing(CameraProfile& p, std::span<const LinkedPair> pairs,
                           ProfileField field, float step, double min_step) {
  return SearchField(p, pairs, field, step, min_step, AfterMove::kAdjustPointing);
}

int AdjustPointingOnce(CameraProfile& p, std::span<const LinkedPair> pairs) {
  const double t = AngleStop(p);
  int moves = LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, t);
  moves += LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, t);
  moves += LineSearch(p, pairs, &CameraProfile::p_rot, 0.1f, t);
  return moves;
}

int AdjustPointing(CameraProfile& p, std::span<const LinkedPair> pairs) {
  const double t = AngleStop(p);
  if (pairs.size() == 1) {
    LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, t);
    LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, t);
  }
  LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, t);
  LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, t);
  return LineSearch(p, pairs, &CameraProfile::p_rot, 0.1f, t);
}

AdjustResult AdjustAll(CameraProfile& p, std::span<const LinkedPair> pairs,
                       const FitSwitches& switches, const AdjustProgress& progress) {
  AdjustResult result;
  if (pairs.empty()) return result;
  const double b = AngleStop(p);
  const double c = p.p_u4_ddpix * kOffsetStopFactor;
  auto stopped = [&] { return progress.stop && progress.stop->load(); };

  if (pairs.size() == 1) {
    LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, b);
    LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, b);
  }
  if (pairs.size() == 2) {
    LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, b);
    LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, b);
    LineSearch(p, pairs, &CameraProfile::p_rot, 0.1f, b);
  } else {
    double previous = MeanPixelResidual(p, pairs);
    double delta = 1000.0;
    while (!stopped() && delta > p.p_u4_ddpix && result.iterations < kMaxIterations) {
      LineSearch(p, pairs, &CameraProfile::p_ev, 0.1f, b);
      p.p_ev = std::min(p.p_ev, kHighestAxisElevation);
      LineSearch(p, pairs, &CameraProfile::p_az, 0.1f, b);
      LineSearch(p, pairs, &CameraProfile::p_rot, 0.1f, b);
      if (switches.vx) LineSearch(p, pairs, &CameraProfile::p_vx, 0.1f, b);
      if (switches.yx) LineSearch(p, pairs, &CameraProfile::p_yx, 0.01f, b);
      if (switches.k4) LineSearchWithLens(p, pairs, &CameraProfile::p_k4, 0.01f, b);
      LineSearchWithLens(p, pairs, &CameraProfile::p_k3, 0.01f, b);
      if (switches.k2) LineSearchWithLens(p, pairs, &CameraProfile::p_k2, 0.01f, b);
      if (switches.dx) LineSearchWithPointing(p, pairs, &CameraProfile::p_dx, 1.0f, c);
      if (switches.dy) LineSearchWithPointing(p, pairs, &CameraProfile::p_dy, 1.0f, c);
      const double cost = MeanPixelResidual(p, pairs);
      ++result.iterations;
      delta = std::fabs(previous - cost);
      previous = cost;
      if (stopped()) break;
      if (progress.show) {
        char text[64];
        std::snprintf(text, sizeof text, "retry count=%d ddpix = %.7f",
                      result.iterations, delta);
        progress.show(text);
      }
    }
  }
  while (p.p_az >= 360.0f) p.p_az -= 360.0f;
  while (p.p_az < 0.0f) p.p_az += 360.0f;
  result.residual = MeanPixelResidual(p, pairs);
  return result;
}

PhotometryResult CalibrateMagnitude(const StarCatalogue& catalogue,
                                    CameraProfile& p, const StarData& data) {
  PhotometryResult result;
  // Stars whose flux is 1 or less carry lgL 0 and no brightness: they are
  // left out, or two faint stars among twenty would shift every magnitude.
  auto usable = [&](const MaskStar& star, double limit) {
    return star.link >= 0 && star.flux > 1.0 &&
           LinkedMagnitude(catalogue, p, star) <= limit;
  };
  double sum_m = 0.0, sum_lgl = 0.0;
  for (const MaskStar& star : data.mask_stars) {
    if (!usable(star, p.minm)) continue;
    ++result.stars;
    sum_m += LinkedMagnitude(catalogue, p, star);
    sum_lgl += star.lgL;
  }
  if (result.stars == 0) return result;

  const double z = 2.5 * sum_lgl / result.stars + sum_m / result.stars;
  const double log_max = 2.5 * std::log10(static_cast<double>(p.maxl));
  p.maxm = static_cast<float>(std::trunc((z - log_max) * 1000.0) / 1000.0);
  if (z < p.minm) p.minm = static_cast<float>(z);
  p.minm = static_cast<float>(std::trunc(p.minm * 1000.0) / 1000.0);
  p.minl = static_cast<int>(std::pow(10.0, (z - p.minm) / 2.5));
  p.ZeroPoint = p.maxm + log_max;
  result.zero_point = z;

  int n = 0;
  double sum_dev = 0.0, sum_sq = 0.0;
  for (const MaskStar& star : data.mask_stars) {
    if (!usable(star, p.minm)) continue;
    const double predicted = p.ZeroPoint - 2.5 * std::log10(star.flux);
    const double deviation = std::fabs(predicted - LinkedMagnitude(catalogue, p, star));
    ++n;
    sum_dev += deviation;
    sum_sq += deviation * deviation;
    result.largest = std::max(result.largest, deviation);
  }
  if (n > 0) {
    result.errm = sum_dev / n;
    result.rms = std::sqrt(sum_sq / n);
  }
  return result;
}

std::string PhotometryText(const CameraProfile& p, const PhotometryResult& r) {
  char text[128];
  if (r.stars == 0) {
    std::snprintf(text, sizeof text, "n=%d m=-2.5*log(L)+%.2f (not calculated)",
                  r.stars, p.ZeroPoint);
  } else {
    std::snprintf(text, sizeof text, "n%d,m=%.2f*lgL+%.2f,sd=%.2f,dmax%.2f",
                  r.stars, -2.5, r.zero_point, r.rms, r.largest);
  }
  return text;
}

void ConvertCaptureMask(std::span<std::uint8_t> bgr, int width, int height,
                        int dapix, int sipos, int sisize) {
  const std::size_t n = static_cast<std::size_t>(width) * height;
  if (width <= 0 || height <= 0 || bgr.size() < n * 3) return;
  int red_pixels = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t& d = bgr[3 * i];
    if (d >= 16 && (d & 2)) d = 242;
    else if (d >= 240) d = 240;
    else if (d == 0 && bgr[3 * i + 1] == 0) d = 2;
    if (bgr[3 * i + 2] > 10) ++red_pixels;
  }
  for (std::size_t i = 0; i < n; ++i) bgr[3 * i] |= 4;

  int s = dapix;
  if (red_pixels > 1000 && s > 22) s -= 20;
  const int v = s < 2 ? s : s / 2;
  const int band_first = std::max(sipos, 0);
  const int band_end = std::min(sipos + sisize, height - 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (bgr[3 * (static_cast<std::size_t>(y) * width + x) + 2] <= 10) continue;
      for (int yy = std::max(0, y - v); yy <= std::min(height - 1, y + v); ++yy) {
        if (yy >= band_first && yy < band_end) continue;
        for (int xx = std::max(0, x - v); xx <= std::min(width - 1, x + v); ++xx) {
          bgr[3 * (static_cast<std::size_t>(yy) * width + xx)] &= ~std::uint8_t{4};
        }
      }
    }
  }
}

void PrepareStarData(const StarCatalogue& catalogue, CameraProfile& p,
                     std::span<const std::uint8_t> mask_bgr, StarData& data) {
  ClearMaskStars(data);
  FillMaskPlanes(p, mask_bgr, data.planes);
  if (p.maxl < 1 || p.minl < 1) {
    p.minl = 1;
    p.maxl = 255;
  }
  p.ZeroPoint = 2.5 * std::log10(static_cast<double>(p.maxl)) + p.maxm;
  BuildDistortionTable(p);
  BuildVisibleStars(catalogue, p, data.visible);
}

bool PrepareClipForStars(const StarCatalogue& catalogue, const Table& clip, int row,
                         bool skip_detection, const ClipMaskFiles& files,
                         CameraProfile& p, StarData& data, ImageBuffer& mask) {
  ClearMaskStars(data);
  const std::string clip_path = std::string(clip.Text(row, clip::kDirectory)) + "/" +
                                std::string(clip.Text(row, clip::kClipName));
  if (clip.Float(row, clip::kYx) < 0.001f) {
    ShowError("Invalid profile settings\n%s", clip_path.c_str());
    return false;
  }
  LoadProfileFromRecord(clip, row, skip_detection, p);

  auto read = [&](const std::filesystem::path& file) {
    return !file.empty() && ReadStillBmp(file, mask) == ImageStatus::kOk;
  };
  if (!read(files.edited)) {
    if (!read(files.capture)) return false;
    const std::size_t bytes = static_cast<std::size_t>(mask.width) * mask.height * 3;
    ConvertCaptureMask(mask.pixels.first(bytes), mask.width, mask.height, p.p_u4_dapix,
                       clip.Int(row, clip::kSipos), clip.Int(row, clip::kSisize));
  }
  if (mask.width != p.cx || mask.height != p.cy) return false;
  const std::size_t bytes = static_cast<std::size_t>(p.cx) * p.cy * 3;
  PrepareStarData(catalogue, p, mask.pixels.first(bytes), data);
  return true;
}

StarFitResult StarFitSequence(const StarCatalogue& catalogue,
                              const CameraProfile& recorded,
                              std::span<const std::uint8_t> mask_bgr,
                              CameraProfile& p, StarData& data) {
  StarFitResult result;
  DetectMaskStars(catalogue, p, mask_bgr, data);
  for (int round = 0; round < kRelinkRounds; ++round) {
    BuildLinkedPairs(catalogue, p, data);
    RelinkOutliers(catalogue, p, data);
  }
  BuildLinkedPairs(catalogue, p, data);

  if (static_cast<int>(data.pairs.size()) >= kFewestPairsForPointing) {
    for (int round = 0; round < kPointingRounds; ++round) AdjustPointing(p, data.pairs);
    result.residual = MeanPixelResidual(p, data.pairs);
    if (result.residual > kLargestKeptResidual) {
      p = recorded;
      PrepareStarData(catalogue, p, mask_bgr, data);
      result.pointing_kept = false;
    }
  }

  result.photometry = CalibrateMagnitude(catalogue, p, data);

  for (int i = 0; i < static_cast<int>(data.mask_stars.size()); ++i) {
    MaskStar& star = data.mask_stars[i];
    if (star.link < 0) continue;
    const HorizontalPoint sky = PixelToHorizontal(p, star.x, star.y);
    star.az = sky.az;
    star.ev = sky.ev;
    const EquatorialPoint eq =
        HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, sky.az, sky.ev);
    star.ra = eq.ra;
    star.dec = eq.dec;
    MeasureResiduals(catalogue, p, star.link, i, data);
  }
  result.pairs = static_cast<int>(data.pairs.size());
  return result;
}

}  // namespace mr4
