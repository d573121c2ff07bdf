#include "calib/star_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/error.h"
#include "astro/angles.h"
#include "calib/camera_model.h"
#include "platform/ui.h"

namespace mr4 {
namespace {

constexpr int kApertureReach = 20;
constexpr double kDiscRadius = 5.0;   // [px]
constexpr double kRingOuter = 7.45;   // [px]
constexpr int kDiscCount = 69;
constexpr int kRingCount = 108;

template <int N>
constexpr std::array<ApertureOffset, N> MakeAperture(double inner, double outer) {
  std::array<ApertureOffset, N> offsets{};
  int n = 0;
  for (int dy = -kApertureReach; dy <= kApertureReach; ++dy) {
    for (int dx = -kApertureReach; dx <= kApertureReach; ++dx) {
      const double d2 = dx * dx + dy * dy;
      if (d2 >= inner * inner && d2 < outer * outer) {
        if (n < N) offsets[n] = {dx, dy};
        ++n;
      }
    }
  }
  if (n != N) throw "aperture size";  // fails the constant evaluation
  return offsets;
}

constexpr std::array<ApertureOffset, kDiscCount> kDisc =
    MakeAperture<kDiscCount>(0.0, kDiscRadius);
constexpr std::array<ApertureOffset, kRingCount> kRing =
    MakeAperture<kRingCount>(kDiscRadius, kRingOuter);

bool IsStarCandidate(std::uint8_t blue) { return (blue & 0xFB) == 0xF0; }

// Distance of a pixel from the optical centre in the camera's unscaled frame.
double RadiusFromCentre(const CameraProfile& p, double x, double y) {
  const double gy = y - p.cy * 0.5 - p.p_dy;
  const double gx = (x - p.cx * 0.5 - p.p_dx) / p.p_yx;
  return std::sqrt(gy * gy + gx * gx);
}

// Flood fill of the candidate region at (sx, sy), already marked visited,
// summing into `star`.
void FillRegion(int sx, int sy, MaskPlanes& planes, MaskStar& star,
                std::vector<std::pair<std::int16_t, std::int16_t>>& stack,
                double& sum_x, double& sum_y) {
  const int w = planes.width;
  const int h = planes.height;
  stack.clear();
  stack.emplace_back(static_cast<std::int16_t>(sx), static_cast<std::int16_t>(sy));
  auto visit = [&](int x, int y) {
    if (x < 0 || x >= w || y < 0 || y >= h) return;
    std::uint8_t& code = planes.code[static_cast<std::size_t>(y) * w + x];
    if (code != kStarCandidateCode) return;
    code = kStarVisitedCode;
    if (stack.size() >= kFloodStackCapacity) FatalError("gtack overflow");
    stack.emplace_back(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
  };
  while (!stack.empty()) {
    const int x = stack.back().first;
    const int y = stack.back().second;
    stack.pop_back();
    const double v = planes.level[static_cast<std::size_t>(y) * w + x];
    star.sum += v;
    sum_x += (x + 0.5) * v;
    sum_y += (y + 0.5) * v;
    ++star.pixels;
    const int reach = std::abs(x - star.seed_x) + std::abs(y - star.seed_y);
    if (reach > star.reach) star.reach = reach;
    visit(x + 1, y);
    visit(x, y - 1);
    visit(x, y + 1);
    visit(x - 1, y);
  }
}

// Angular distance [deg] of two directions given in single precision.
double DistanceDeg(double lon1, double lat1, double lon2, double lat2) {
  return AngularDistance(static_cast<float>(lon1), static_cast<float>(lat1),
                         static_cast<float>(lon2), static_cast<float>(lat2)) *
         kRadToDeg;
}

}  // namespace

std::span<const ApertureOffset> DiscAperture() { return kDisc; }
std::span<const ApertureOffset> RingAperture() { return kRing; }

void ClearMaskStars(StarData& data) {
  data.mask_stars.clear();
  data.pairs.clear();
}

void FillMaskPlanes(const CameraProfile& profile,
                    std::span<const std::uint8_t> mask_bgr, MaskPlanes& planes) {
  const std::size_t n = static_cast<std::size_t>(profile.cx) * profile.cy;
  if (profile.cx <= 0 || profile.cy <= 0 || mask_bgr.size() != n * 3) {
    FatalError("mask image %zu bytes for a %dx%d frame", mask_bgr.size(),
               profile.cx, profile.cy);
  }
  planes.width = profile.cx;
  planes.height = profile.cy;
  planes.code.resize(n);
  planes.level.resize(n);
  planes.red.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t blue = mask_bgr[3 * i];
    planes.code[i] = IsStarCandidate(blue) ? kStarCandidateCode : blue;
    planes.level[i] = mask_bgr[3 * i + 1];
    planes.red[i] = mask_bgr[3 * i + 2];
  }
}

void DetectMaskStars(const StarCatalogue& catalogue, const CameraProfile& profile,
                     std::span<const std::uint8_t> mask_bgr, StarData& data) {
  FillMaskPlanes(profile, mask_bgr, data.planes);
  MaskPlanes& planes = data.planes;
  const int w = planes.width;
  const int h = planes.height;
  data.mask_stars.clear();
  data.mask_stars.reserve(kMaskStarCapacity);

  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t& code = planes.code[static_cast<std::size_t>(y) * w + x];
      if (code != kStarCandidateCode) continue;
      code = kStarVisitedCode;
      if (data.mask_stars.size() >= kMaskStarCapacity) continue;

      MaskStar star;
      star.seed_x = x;
      star.seed_y = y;
      double sum_x = 0.0, sum_y = 0.0;
      FillRegion(x, y, planes, star, data.flood_stack, sum_x, sum_y);
      if (!(star.sum > 1.0)) continue;
      star.x = sum_x / star.sum;
      star.y = sum_y / star.sum;
      if (star.x < kMaskStarEdgePx || star.x >= w - kMaskStarEdgePx ||
          star.y < kMaskStarEdgePx || star.y >= h - kMaskStarEdgePx) {
        continue;
      }
      star.seed_x = std::min(static_cast<int>(star.x + 0.5), w - 1);
      star.seed_y = std::min(static_cast<int>(star.y), h - 1);
      if (planes.code[static_cast<std::size_t>(star.seed_y) * w + star.seed_x] &
          kExcludeStarBit) {
        continue;
      }
      const HorizontalPoint sky = PixelToHorizontal(profile, star.x, star.y);
      star.az = sky.az;
      star.ev = sky.ev;
      const EquatorialPoint eq = HorizontalToEquatorial(
          profile.ClipMjdTt, profile.ClipLst, profile.p_lat, sky.az, sky.ev);
      star.ra = eq.ra;
      star.dec = eq.dec;
      data.mask_stars.push_back(star);
    }
  }

  const double radius = LinkRadius(profile);
  for (int i = 0; i < static_cast<int>(data.mask_stars.size()); ++i) {
    MaskStar& star = data.mask_stars[i];
    star.link = NearestCatalogueStar(data.visible, star.ra, star.dec, -1, radius);
    if (star.link >= 0) {
      MeasureResiduals(catalogue, profile, star.link, i, data);
      MeasureBrightness(profile, i, data);
    }
  }
  BuildLinkedPairs(catalogue, profile, data);
}

double LinkRadius(const CameraProfile& profile) {
  return static_cast<double>(profile.p_vx) / profile.cx * profile.p_u4_dlim;
}

int NearestCatalogueStar(const VisibleStars& visible, double ra, double dec,
                         int current, double radius) {
  constexpr int kCandidates = 3;
  int best[kCandidates] = {-1, -1, -1};
  double best_distance[kCandidates] = {0, 0, 0};
  int found = 0;
  for (const VisibleStar& star : visible.entries) {
    if (star.index < 0) continue;
    const double d = DistanceDeg(ra, dec, star.ra, star.dec);
    if (d > radius) continue;
    int slot = found;
    while (slot > 0 && d < best_distance[slot - 1]) --slot;
    if (slot >= kCandidates) continue;
    for (int k = std::min(found, kCandidates - 1); k > slot; --k) {
      best[k] = best[k - 1];
      best_distance[k] = best_distance[k - 1];
    }
    best[slot] = star.index;
    best_distance[slot] = d;
    if (found < kCandidates) ++found;
  }
  if (current < 0) return best[0];
  if (current == best[0]) return best[1];
  if (current == best[1]) return best[2];
  if (current == best[2]) return -1;
  return best[0];
}

double MeasureResiduals(const StarCatalogue& catalogue,
                        const CameraProfile& profile, int c, int i,
                        StarData& data) {
  MaskStar& star = data.mask_stars[i];
  const HorizontalPoint sky = StarDirection(catalogue, profile, c);
  const PixelPosition predicted = HorizontalToPixel(profile, sky.az, sky.ev);
  star.predicted_x = predicted.x;
  star.predicted_y = predicted.y;
  star.ddeg = DistanceDeg(star.az, star.ev, sky.az, sky.ev);
  star.daz = sky.az - star.az;
  if (star.daz > 180.0) star.daz -= 360.0;
  else if (star.daz < -180.0) star.daz += 360.0;
  star.dev = sky.ev - star.ev;
  star.radius = RadiusFromCentre(profile, predicted.x, predicted.y);
  star.radial_residual = RadiusFromCentre(profile, star.x, star.y) - star.radius;
  return star.radial_residual;
}

void MeasureBrightness(const CameraProfile& profile, int i, StarData& data) {
  MaskStar& star = data.mask_stars[i];
  const MaskPlanes& planes = data.planes;
  auto level_at = [&](const ApertureOffset& o, int& value) {
    const int x = static_cast<int>(o.dx + star.x + 0.5);
    const int y = static_cast<int>(o.dy + star.y + 0.5);
    if (x < 0 || x >= planes.width || y < 0 || y >= planes.height) return false;
    value = planes.level[static_cast<std::size_t>(y) * planes.width + x];
    return true;
  };

  double ring_sum = 0.0;
  star.ring_pixels = 0;
  for (const ApertureOffset& o : kRing) {
    int v = 0;
    if (!level_at(o, v)) continue;
    ring_sum += v;
    ++star.ring_pixels;
  }
  star.background = star.ring_pixels > 0 ? ring_sum / star.ring_pixels : 0.0;

  star.flux = 0.0;
  star.disc_pixels = 0;
  star.saturated_pixels = 0;
  for (const ApertureOffset& o : kDisc) {
    int v = 0;
    if (!level_at(o, v)) continue;
    star.flux += v - star.background;
    ++star.disc_pixels;
    if (v >= profile.maxl) ++star.saturated_pixels;
  }
  star.lgL = star.flux > 1.0 ? std::log10(star.flux) : 0.0;
}

void BuildLinkedPairs(const StarCatalogue& catalogue,
                      const CameraProfile& profile, StarData& data) {
  data.pairs.clear();
  for (const MaskStar& star : data.mask_stars) {
    if (star.link < 0) continue;
    const HorizontalPoint sky = StarDirection(catalogue, profile, star.link);
    data.pairs.push_back({star.x, star.y, sky.az, sky.ev});
  }
}

ResidualStats ResidualStatistics(const StarData& data) {
  ResidualStats stats;
  int n = 0;
  double worst_distance = -1.0;
  for (int i = 0; i < static_cast<int>(data.mask_stars.size()); ++i) {
    const MaskStar& star = data.mask_stars[i];
    if (star.link < 0) continue;
    ++n;
    stats.mean_daz += star.daz;
    stats.mean_dev += star.dev;
    const double d = std::hypot(star.x - star.predicted_x, star.y - star.predicted_y);
    if (d > worst_distance) {
      worst_distance = d;
      stats.worst = i;
    }
  }
  if (n == 0) return stats;
  stats.mean_daz /= n;
  stats.mean_dev /= n;
  for (const MaskStar& star : data.mask_stars) {
    if (star.link < 0) continue;
    stats.sd_daz += (star.daz - stats.mean_daz) * (star.daz - stats.mean_daz);
    stats.sd_dev += (star.dev - stats.mean_dev) * (star.dev - stats.mean_dev);
  }
  stats.sd_daz = std::sqrt(stats.sd_daz / n);
  stats.sd_dev = std::sqrt(stats.sd_dev / n);
  return stats;
}

void RelinkOutliers(const StarCatalogue& catalogue,
                    const CameraProfile& profile, StarData& data) {
  const ResidualStats stats = ResidualStatistics(data);
  const double radius = LinkRadius(profile);
  for (int i = 0; i < static_cast<int>(data.mask_stars.size()); ++i) {
    MaskStar& star = data.mask_stars[i];
    while (star.link >= 0 &&
           (std::fabs(star.daz - stats.mean_daz) > 2.0 * stats.sd_daz ||
            std::fabs(star.dev - stats.mean_dev) > 2.0 * stats.sd_dev)) {
      star.link = NearestCatalogueStar(data.visible, star.ra, star.dec,
                                       star.link, radius);
      if (star.link >= 0) MeasureResiduals(catalogue, profile, star.link, i, data);
    }
  }
}

std::string MatchSummaryText(const StarCatalogue& catalogue,
                             const CameraProfile& profile, StarData& data) {
  BuildLinkedPairs(catalogue, profile, data);
  const int n = static_cast<int>(data.pairs.size());
  char text[256];
  const int masks = static_cast<int>(data.mask_stars.size());
  if (n == 0) {
    std::snprintf(text, sizeof text, "mask %d  link %d", masks, n);
    return text;
  }
  double pix_sum = 0.0, pix_max = 0.0, deg_sum = 0.0, deg_max = 0.0;
  for (const LinkedPair& pair : data.pairs) {
    const PixelPosition predicted = HorizontalToPixel(profile, pair.az, pair.ev);
    const double dpix = std::hypot(pair.x - predicted.x, pair.y - predicted.y);
    const HorizontalPoint measured = PixelToHorizontal(profile, pair.x, pair.y);
    const double ddeg = DistanceDeg(pair.az, pair.ev, measured.az, measured.ev);
    pix_sum += dpix;
    deg_sum += ddeg;
    if (dpix > pix_max) pix_max = dpix;
    if (ddeg > deg_max) deg_max = ddeg;
  }
  std::snprintf(text, sizeof text,
                "mask %d  link %d\ndpix avr%7.3f max%7.3f\nddeg avr%7.3f max%7.3f\n"
                "(%4d/%02d/%02d %02d:%02d:%02.2f)",
                masks, n, pix_sum / n, pix_max, deg_sum / n, deg_max,
                profile.clip_y, profile.clip_mo, profile.clip_d, profile.clip_h,
                profile.clip_m, static_cast<double>(profile.clip_s));
  return text;
}

void ShowMatchSummary(const StarCatalogue& catalogue, const CameraProfile& profile,
                      StarData& data) {
  CurrentUi().Status(MatchSummaryText(catalogue, profile, data));
}

}  // namespace mr4
