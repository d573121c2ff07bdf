#include "calib/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "astro/angles.h"
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
constexpr int kFewestPairsForPointing = kFewestCalibrationStars;
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

// The coarse pointing search: the brightest mask stars it places, its two
// grids (step [deg], steps each side for az and ev, for rot) and the
// distance [deg] beyond which a mask star counts as unmatched.
constexpr std::size_t kSearchMaskStars = 40;
struct SearchGrid {
  double step;
  int azev_steps;
  int rot_steps;
  double radius;
};
constexpr SearchGrid kCoarseGrid{1.0, 12, 6, 1.5};
constexpr SearchGrid kFineGrid{0.25, 4, 4, 0.5};

struct PixelPoint {
  double x, y;
};

struct UnitVector {
  double x, y, z;
};

UnitVector DirectionVector(const HorizontalPoint& h) {
  const double az = h.az * kDegToRad, ev = h.ev * kDegToRad;
  return {std::cos(ev) * std::sin(az), std::cos(ev) * std::cos(az), std::sin(ev)};
}

// The catalogue stars' directions in cubes of the search radius, so that a
// direction's nearest star is among the 27 cubes about its own.
class SkyCells {
 public:
  SkyCells(std::span<const UnitVector> stars, double radius_deg)
      : size_(2.0 * std::sin(radius_deg * kDegToRad * 0.5)) {
    for (const UnitVector& v : stars) cells_[Key(Cell(v.x), Cell(v.y), Cell(v.z))].push_back(v);
  }
  // The smallest squared chord from `v` to a star, at most size^2.
  double NearestChord2(const UnitVector& v) const {
    double nearest = size_ * size_;
    const int cx = Cell(v.x), cy = Cell(v.y), cz = Cell(v.z);
    for (int i = cx - 1; i <= cx + 1; ++i) {
      for (int j = cy - 1; j <= cy + 1; ++j) {
        for (int k = cz - 1; k <= cz + 1; ++k) {
          const auto found = cells_.find(Key(i, j, k));
          if (found == cells_.end()) continue;
          for (const UnitVector& s : found->second) {
            const double dx = s.x - v.x, dy = s.y - v.y, dz = s.z - v.z;
            nearest = std::min(nearest, dx * dx + dy * dy + dz * dz);
          }
        }
      }
    }
    return nearest;
  }
  double size() const { return size_; }

 private:
  int Cell(double c) const { return static_cast<int>(std::floor(c / size_)); }
  static std::int64_t Key(int i, int j, int k) {
    return (static_cast<std::int64_t>(i) * 4096 + j) * 4096 + k;
  }
  double size_;
  std::unordered_map<std::int64_t, std::vector<UnitVector>> cells_;
};

// Over the mask stars, the squared distance (chord) from the direction the
// profile gives each to the nearest catalogue star, at most the radius's
// each: 0 when every mask star sits on a star.
double PointingCost(const CameraProfile& p, const SkyCells& sky,
                    std::span<const PixelPoint> mask) {
  double cost = 0.0;
  for (const PixelPoint& m : mask) {
    cost += sky.NearestChord2(DirectionVector(PixelToHorizontal(p, m.x, m.y)));
  }
  return cost;
}

// The grid of pointings about the profile's; the profile ends at the best
// (the start wins ties).
void SearchGridAround(CameraProfile& p, const SearchGrid& grid,
                      std::span<const UnitVector> stars, std::span<const PixelPoint> mask) {
  const SkyCells sky(stars, grid.radius);
  const float az0 = p.p_az, ev0 = p.p_ev, rot0 = p.p_rot;
  double best = PointingCost(p, sky, mask);
  float best_az = az0, best_ev = ev0, best_rot = rot0;
  for (int i = -grid.azev_steps; i <= grid.azev_steps; ++i) {
    for (int j = -grid.azev_steps; j <= grid.azev_steps; ++j) {
      for (int k = -grid.rot_steps; k <= grid.rot_steps; ++k) {
        p.p_az = static_cast<float>(az0 + i * grid.step);
        p.p_ev = std::clamp(static_cast<float>(ev0 + j * grid.step), -90.0f,
                            kHighestAxisElevation);
        p.p_rot = static_cast<float>(rot0 + k * grid.step);
        const double cost = PointingCost(p, sky, mask);
        if (cost < best) {
          best = cost;
          best_az = p.p_az, best_ev = p.p_ev, best_rot = p.p_rot;
        }
      }
    }
  }
  p.p_az = best_az, p.p_ev = best_ev, p.p_rot = best_rot;
}

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
  p.p_az = static_cast<float>(Wrap360(p.p_az));
  result.residual = MeanPixelResidual(p, pairs);
  return result;
}

bool IsFailedCalibration(float errm) { return errm < -1.5f; }

std::string CalibrationFailure(int mask_stars, int pairs, double residual) {
  char text[96];
  if (mask_stars > kMostCalibrationMaskStars) {
    std::snprintf(text, sizeof text, "%d mask stars, more than %d: the mask holds noise",
                  mask_stars, kMostCalibrationMaskStars);
  } else if (pairs < kFewestCalibrationStars) {
    std::snprintf(text, sizeof text, "%d linked stars, at least %d needed", pairs,
                  kFewestCalibrationStars);
  } else if (!(residual <= kLargestCalibrationResidual)) {
    std::snprintf(text, sizeof text, "mean residual %.1f px, more than %.1f px", residual,
                  kLargestCalibrationResidual);
  } else {
    return {};
  }
  return text;
}

bool SearchPointing(const StarCatalogue& catalogue, CameraProfile& p,
                    std::span<const MaskStar> mask_stars) {
  if (static_cast<int>(mask_stars.size()) < kFewestCalibrationStars) return false;
  std::vector<const MaskStar*> brightest;
  for (const MaskStar& star : mask_stars) brightest.push_back(&star);
  std::sort(brightest.begin(), brightest.end(),
            [](const MaskStar* a, const MaskStar* b) { return a->sum > b->sum; });
  if (brightest.size() > kSearchMaskStars) brightest.resize(kSearchMaskStars);
  std::vector<PixelPoint> mask;
  for (const MaskStar* star : brightest) mask.push_back({star->x, star->y});

  std::vector<UnitVector> stars;
  for (int i = 0; i < catalogue.count; ++i) {
    if (EffectiveMagnitude(catalogue, p, i) > p.p_u4_refmag) continue;
    const HorizontalPoint direction = StarDirection(catalogue, p, i);
    if (direction.ev > 0.0) stars.push_back(DirectionVector(direction));
  }
  SearchGridAround(p, kCoarseGrid, stars, mask);
  SearchGridAround(p, kFineGrid, stars, mask);
  p.p_az = static_cast<float>(Wrap360(p.p_az));
  return true;
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
  const int mask_stars = static_cast<int>(data.mask_stars.size());
  if (mask_stars > kMostCalibrationMaskStars) {
    result.failure = CalibrationFailure(mask_stars, 0, 0.0);
    p = recorded;
    PrepareStarData(catalogue, p, mask_bgr, data);
    return result;
  }
  for (int round = 0; round < kRelinkRounds; ++round) {
    BuildLinkedPairs(catalogue, p, data);
    RelinkOutliers(catalogue, p, data);
  }
  BuildLinkedPairs(catalogue, p, data);

  if (static_cast<int>(data.pairs.size()) >= kFewestPairsForPointing) {
    for (int round = 0; round < kPointingRounds; ++round) AdjustPointing(p, data.pairs);
    result.residual = MeanPixelResidual(p, data.pairs);
    if (result.residual > kLargestKeptResidual) {
      result.failure = CalibrationFailure(mask_stars, static_cast<int>(data.pairs.size()),
                                          result.residual);
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
  if (result.failure.empty()) {
    result.failure =
        CalibrationFailure(mask_stars, result.pairs, MeanPixelResidual(p, data.pairs));
  }
  return result;
}

}  // namespace mr4
