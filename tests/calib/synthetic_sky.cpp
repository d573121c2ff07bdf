#include "tests/calib/synthetic_sky.h"

#include <algorithm>
#include <cmath>

#include "base/process_values.h"
#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"

namespace mr4::testing {
namespace {

struct Lcg {
  std::uint32_t s;
  double Next() {  // uniform in [0, 1)
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / 16777216.0;
  }
};

constexpr double kSigma = 1.0;       // blob width [px]
constexpr double kBlobRadius = 2.5;  // candidate pixels [px]
constexpr int kEdge = 10;            // [px]
constexpr double kIsolation = 16.0;  // [px]

}  // namespace

StarCatalogue MakeUniformCatalogue(int count, float faintest, std::uint32_t seed) {
  Lcg rng{seed};
  StarCatalogue c;
  for (int i = 0; i < count; ++i) {
    c.ra.push_back(static_cast<float>(rng.Next() * 360.0));
    c.dec.push_back(static_cast<float>(std::asin(2.0 * rng.Next() - 1.0) * kRadToDeg));
    c.vmag.push_back(static_cast<float>(rng.Next() * faintest));
    c.colour.push_back(static_cast<float>(rng.Next()));
  }
  c.count = count;
  return c;
}

void Refresh(CameraProfile& p) {
  ComputeClipInstantValues(p);
  BuildDistortionTable(p);
  UpdateZeroPoint(p);
}

CameraProfile MakeSkyProfile() {
  if (App().leap_seconds.n == 0) {
    App().leap_seconds = BuildLeapSecondList(std::vector<LeapSecondRow>{{2017, 1, 1, 37, 0.0f}});
  }
  CameraProfile p;
  p.cx = 720;
  p.cy = 480;
  p.p_lng = 139.7f;
  p.p_lat = 35.7f;
  p.p_az = 135.0f;
  p.p_ev = 45.0f;
  p.p_rot = 0.0f;
  p.p_vx = 56.0f;
  p.p_yx = 1.0f;
  p.p_k3 = 0.06f;
  p.p_k2 = -0.03f;
  p.clip_y = 2024;
  p.clip_mo = 8;
  p.clip_d = 12;
  p.clip_h = 23;
  p.clip_m = 15;
  p.clip_s = 30.0f;
  p.clip_tz = 32400;
  Refresh(p);
  return p;
}

std::vector<std::uint8_t> RenderMask(const StarCatalogue& catalogue,
                                     const CameraProfile& truth, float faintest,
                                     int* drawn) {
  const int w = truth.cx, h = truth.cy;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(w) * h * 3);
  for (std::size_t i = 0; i < image.size(); i += 3) {
    image[i] = 4;
    image[i + 1] = 2;
  }
  // Where the stars fall; stars closer than kIsolation to another are left
  // out, so that no blob or photometry ring takes light from a neighbour.
  struct Spot {
    double x, y;
    float mag;
  };
  std::vector<Spot> spots;
  for (int s = 0; s < catalogue.count; ++s) {
    const float mag = EffectiveMagnitude(catalogue, truth, s);
    if (mag > faintest) continue;
    const HorizontalPoint sky = StarDirection(catalogue, truth, s);
    const PixelPosition px = HorizontalToPixel(truth, sky.az, sky.ev);
    if (px.inside) spots.push_back({px.x, px.y, mag});
  }
  int n = 0;
  for (const Spot& spot : spots) {
    bool isolated = true;
    for (const Spot& other : spots) {
      const double d = std::hypot(other.x - spot.x, other.y - spot.y);
      if (&other != &spot && d < kIsolation) isolated = false;
    }
    const PixelPosition px{spot.x, spot.y, true};
    const float mag = spot.mag;
    if (!isolated || px.x < kEdge || px.x >= w - kEdge || px.y < kEdge ||
        px.y >= h - kEdge) {
      continue;
    }
    const double amplitude = std::min(250.0, 60.0 * std::pow(10.0, -0.4 * (mag - 4.0)));
    for (int y = static_cast<int>(px.y) - 3; y <= static_cast<int>(px.y) + 3; ++y) {
      for (int x = static_cast<int>(px.x) - 3; x <= static_cast<int>(px.x) + 3; ++x) {
        const double r2 = (x + 0.5 - px.x) * (x + 0.5 - px.x) + (y + 0.5 - px.y) * (y + 0.5 - px.y);
        if (r2 > kBlobRadius * kBlobRadius) continue;
        std::uint8_t* pixel = &image[3 * (static_cast<std::size_t>(y) * w + x)];
        pixel[0] = 240;
        const double level = 2.0 + amplitude * std::exp(-r2 / (2 * kSigma * kSigma));
        pixel[1] = static_cast<std::uint8_t>(std::max<double>(pixel[1], std::min(255.0, level)));
      }
    }
    ++n;
  }
  if (drawn) *drawn = n;
  return image;
}

double WorstDirectionErrorDeg(const CameraProfile& a, const CameraProfile& b,
                              std::span<const double> xs,
                              std::span<const double> ys) {
  double worst = 0.0;
  for (double x : xs) {
    for (double y : ys) {
      const HorizontalPoint da = PixelToHorizontal(a, x, y);
      const HorizontalPoint db = PixelToHorizontal(b, x, y);
      const double angle =
          AngularDistance(static_cast<float>(da.az), static_cast<float>(da.ev),
                          static_cast<float>(db.az), static_cast<float>(db.ev)) *
          kRadToDeg;
      worst = std::max(worst, angle);
    }
  }
  return worst;
}

}  // namespace mr4::testing
