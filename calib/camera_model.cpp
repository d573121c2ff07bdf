#include "calib/camera_model.h"

#include <cmath>
#include <cstdio>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/sun.h"
#include "astro/time_scales.h"

namespace mr4 {
namespace {

// Directions closer than this to the optical axis have no position angle.
constexpr double kOnAxisRad = 1e-6;
// The field ends at this fraction of the horizontal field of view.
constexpr double kFieldLimit = 0.8;
constexpr double kSmallestFieldRad = 1e-5;

// Polynomial of the lens: the distorted radius [px] of ideal radius `ideal`.
double DistortedRadius(const CameraProfile& p, double ideal) {
  const double q = ideal / p.HalfWidth;
  return (((p.p_k4 * q + p.p_k3) * q + p.p_k2) * q + p.k1) * q * p.HalfWidth;
}

// d DistortedRadius / d ideal.
double DistortionSlope(const CameraProfile& p, double ideal) {
  const double q = ideal / p.HalfWidth;
  return ((4.0 * p.p_k4 * q + 3.0 * p.p_k3) * q + 2.0 * p.p_k2) * q + p.k1;
}

// The ideal radius [px] whose distorted radius is r. The first table entry
// above r brackets it between two whole ideal radii; linear interpolation
// there is only good to about 1e-4 px on a distorted lens, so Newton steps on
// the polynomial finish it within the bracket. Beyond the table r is used
// unchanged.
double UndistortedRadius(const CameraProfile& p, double r) {
  const auto& table = p.DistortionTable;
  for (int i = 1; i < kDistortionTableSize; ++i) {
    if (r < table[i]) {
      const double linear = i - (table[i] - r) / (table[i] - table[i - 1]);
      double ideal = linear;
      for (int step = 0; step < 3; ++step) {
        const double slope = DistortionSlope(p, ideal);
        if (!(slope > 0.0)) return linear;
        ideal -= (DistortedRadius(p, ideal) - r) / slope;
      }
      return ideal >= i - 1 && ideal <= i ? ideal : linear;
    }
  }
  return r;
}

// The direction's offset from the optical axis: angle D [rad] and position
// angle G [rad] counted from the image's +y direction towards +x. Computed
// from the direction vector in the frame of the axis, so that it is exact
// for every pointing, the zenith included, and at any distance from the
// axis. `apparent_ev` already carries the refraction.
struct AxisOffset {
  double distance = 0.0;
  double position_angle = 0.0;
};

AxisOffset OffsetFromAxis(const CameraProfile& p, double az, double apparent_ev) {
  const double t = (az - p.p_az) * kDegToRad;
  const double e = apparent_ev * kDegToRad;
  const double a = p.p_ev * kDegToRad;
  // Components along the axis, towards the image's +y (up the vertical
  // through the axis) and towards +x (increasing azimuth).
  const double along = std::sin(a) * std::sin(e) + std::cos(a) * std::cos(e) * std::cos(t);
  const double up = std::cos(a) * std::sin(e) - std::sin(a) * std::cos(e) * std::cos(t);
  const double right = std::cos(e) * std::sin(t);
  AxisOffset offset;
  offset.distance = std::atan2(std::hypot(up, right), along);
  offset.position_angle = std::atan2(right, up);
  return offset;
}

// The pixel of an offset from the axis, before the frame test.
void OffsetToPixel(const CameraProfile& p, const AxisOffset& offset,
                   PixelPosition& out) {
  const double field = p.p_vx * kDegToRad;
  const double px_per_rad = static_cast<double>(p.cx) / field;
  const double radius = DistortedRadius(p, offset.distance * px_per_rad);
  const double l = radius * std::sin(offset.position_angle);  // towards +x
  const double m = radius * std::cos(offset.position_angle);  // towards +y
  const double rot = p.p_rot * kDegToRad;
  out.x = p.p_yx * (l * std::cos(rot) - m * std::sin(rot)) + p.cx * 0.5 + p.p_dx;
  out.y = m * std::cos(rot) + l * std::sin(rot) + p.cy * 0.5 + p.p_dy;
}

}  // namespace

void BuildDistortionTable(CameraProfile& p) {
  p.HalfWidth = static_cast<double>(p.cx / 2);
  p.k1 = 1.0 - p.p_k4 - p.p_k3 - p.p_k2;
  for (int k = 0; k < kDistortionTableSize; ++k) {
    p.DistortionTable[k] = DistortedRadius(p, k);
  }
}

void ComputeClipInstantValues(CameraProfile& p) {
  const double zone_days = p.clip_tz / 86400.0;
  p.ClipLst = LocalSiderealTime(p.clip_y, p.clip_mo, p.clip_d, p.clip_h,
                                p.clip_m, p.clip_s, p.clip_tz, p.p_lng);
  p.ClipJdUtc = CivilToMjd(p.clip_y, p.clip_mo, p.clip_d, p.clip_h, p.clip_m,
                           p.clip_s) + 2400000.5 - zone_days;
  p.ClipMjdTt = UtcToTtMjd(p.clip_y, p.clip_mo, p.clip_d, p.clip_h, p.clip_m,
                           p.clip_s) - zone_days;
  p.ClipJdTt = p.ClipMjdTt + 2400000.5;
  p.ClipSolarLongitude = static_cast<float>(SunLongitude(p.ClipJdUtc) * kRadToDeg);
}

HorizontalPoint PixelToHorizontal(const CameraProfile& p, double x, double y) {
  // Image offsets from the optical centre, rotated into the camera's frame.
  const double g = y - p.cy * 0.5 - p.p_dy;
  const double h = (x - p.cx * 0.5 - p.p_dx) / p.p_yx;
  const double c = -p.p_rot * kDegToRad;
  const double l = g * std::cos(c) + h * std::sin(c);  // towards +y
  const double m = h * std::cos(c) - g * std::sin(c);  // towards +x

  // Angle from the axis. The ideal radius is D x W / F, so D = r F / W
  // (also for an odd width, where W div 2 would not match the forward map).
  const double r = UndistortedRadius(p, std::hypot(l, m));
  const double t = r / (p.cx * 0.5) * (p.p_vx * kDegToRad * 0.5);
  const double v = std::atan2(m, l);  // position angle from +y towards +x

  // The direction vector: along the axis, up the vertical through it, and
  // towards increasing azimuth; then the elevation and the azimuth from it.
  const double a = p.p_ev * kDegToRad;
  const double along = std::cos(t);
  const double up = std::sin(t) * std::cos(v);
  const double right = std::sin(t) * std::sin(v);
  const double zenith = std::sin(a) * along + std::cos(a) * up;
  const double forward = std::cos(a) * along - std::sin(a) * up;

  HorizontalPoint out;
  const double apparent = std::atan2(zenith, std::hypot(forward, right)) * kRadToDeg;
  out.ev = ApparentToTrueElevation(apparent, p.p_atc);
  out.az = p.p_az + std::atan2(right, forward) * kRadToDeg;
  out.az = Fold360(out.az);
  return out;
}

AxisAngle PixelToAxisAngle(const CameraProfile& p, double x, double y) {
  const double g = y - p.cy * 0.5 - p.p_dy;
  const double h = (x - p.cx * 0.5 - p.p_dx) / p.p_yx;
  const double r = UndistortedRadius(p, std::hypot(g, h));
  AxisAngle out;
  out.distance = r / (p.cx * 0.5) * (p.p_vx * kDegToRad * 0.5);
  out.position_angle = std::atan2(h, g);
  return out;
}

PixelPosition HorizontalToPixel(const CameraProfile& p, double az, double ev) {
  PixelPosition out;
  const double field = p.p_vx * kDegToRad;
  if (field < kSmallestFieldRad) return out;
  const AxisOffset offset =
      OffsetFromAxis(p, az, TrueToApparentElevation(ev, p.p_atc));
  if (offset.distance > kFieldLimit * field || offset.distance < kOnAxisRad) {
    return out;
  }
  OffsetToPixel(p, offset, out);
  const double ix = std::trunc(out.x);
  const double iy = std::trunc(out.y);
  out.inside = ix >= 0 && ix <= p.cx - 1 && iy >= 0 && iy <= p.cy - 1;
  if (!out.inside) {
    if (ix < 0) out.x = 0;
    if (ix >= p.cx) out.x = p.cx - 1;
    if (iy < 0) out.y = 0;
    if (iy >= p.cy) out.y = p.cy - 1;
  }
  return out;
}

PixelPosition HorizontalToPixelClamped(const CameraProfile& p, double az,
                                       double ev) {
  PixelPosition out;
  const double field = p.p_vx * kDegToRad;
  if (field < kSmallestFieldRad) return out;
  const AxisOffset offset =
      OffsetFromAxis(p, az, TrueToApparentElevation(ev, p.p_atc));
  if (offset.distance < kOnAxisRad) return out;
  OffsetToPixel(p, offset, out);
  out.inside = true;
  if (out.x < 0) out.x = 0;
  if (out.x >= p.cx) out.x = p.cx - 1;
  if (out.y < 0) out.y = 0;
  if (out.y >= p.cy) out.y = p.cy - 1;
  return out;
}

int DefaultDapix(int frame_height) {
  return frame_height > kDapixFromHeightAbove ? frame_height / 10 : kDefaultDapix;
}

void ResetDetectionDefaults(CameraProfile& p) {
  const CameraProfile defaults;
  p.p_u4_dps = defaults.p_u4_dps;
  p.p_u4_edeg = defaults.p_u4_edeg;
  p.p_u4_cdlim = defaults.p_u4_cdlim;
  p.p_u4_dapix = DefaultDapix(p.cy);
  p.p_u4_f1 = defaults.p_u4_f1;
  p.p_u4_mins = defaults.p_u4_mins;
  p.p_u4_leap = defaults.p_u4_leap;
  p.p_u4_rm_small = defaults.p_u4_rm_small;
  p.p_u4_dloffset = defaults.p_u4_dloffset;
  p.p_u4_consR = defaults.p_u4_consR;
  p.p_u4_refmag = defaults.p_u4_refmag;
  p.p_u4_ddpix = defaults.p_u4_ddpix;
  p.p_u4_bvf = defaults.p_u4_bvf;
  p.p_u4_dlim = defaults.p_u4_dlim;
}

void UpdateZeroPoint(CameraProfile& p) {
  if (p.maxl < 1 || p.minl < 1) {
    p.minl = 1;
    p.maxl = 255;
    p.ZeroPoint = kFallbackZeroPoint;
    return;
  }
  p.ZeroPoint = 2.5 * std::log10(static_cast<double>(p.maxl)) + p.maxm;
}

std::string ZeroPointText(const CameraProfile& p) {
  char text[64];
  std::snprintf(text, sizeof text, "m=-2.5*log(L)+%.2f", p.ZeroPoint);
  return text;
}

}  // namespace mr4
