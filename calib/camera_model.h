// The camera model: how a camera profile maps pixels to horizontal
// directions and back, and the values derived from a profile when it is
// loaded (clip instant, zero point, distortion table).
//
// Every function works on the profile it is given; the caller owns it. A
// profile belongs to one analysis context, so the functions may run on any
// thread as long as no other thread changes that profile meanwhile. The
// shared refraction table of the astronomy routines is their own business.
//
// Units: directions in degrees (true azimuth from north through east 0..360,
// true elevation above the horizon); pixels with x from the left edge, y from
// the bottom edge of the frame, a pixel's centre at +0.5. The lens maps the
// angle D from the optical axis to the ideal radius D x W / F pixels
// (F = `p_vx`), which the distortion polynomial turns into the radius seen.
//
// After a change of `cx`, `p_k2`, `p_k3` or `p_k4` call BuildDistortionTable
// before the next PixelToHorizontal or HorizontalToPixel; after a change of
// `p_lng` or of the clip instant call ComputeClipInstantValues.
#pragma once

#include <string>

#include "astro/sky_coordinates.h"
#include "calib/camera_profile.h"

namespace mr4 {

struct PixelPosition {
  double x = 0.0;  // [px]
  double y = 0.0;  // [px]
  // True when the direction lies within the field (0.8 F of the axis, and
  // not on the axis itself) and its pixel falls inside the frame.
  bool inside = false;
};

// The derived values of the defaults and of a load.
inline constexpr float kDefaultDdpix = 1e-6f;      // [px]
inline constexpr float kSmallestDdpix = 1e-8f;     // below this a load takes the default
inline constexpr int kDefaultDapix = 48;           // [px]
inline constexpr int kDapixFromHeightAbove = 600;  // frames higher than this use H / 10
inline constexpr double kFallbackZeroPoint = 6.1;  // ZeroPoint without usable levels

// DistortionTable, HalfWidth = W div 2 and k1 = 1 - k4 - k3 - k2 from the
// frame width and the lens terms.
void BuildDistortionTable(CameraProfile& profile);

// ClipLst, ClipJdUtc, ClipMjdTt, ClipJdTt and ClipSolarLongitude from the
// clip instant (`clip_y` .. `clip_s`, local clock, zone `clip_tz`) and
// `p_lng`. Uses the process's leap-second list.
void ComputeClipInstantValues(CameraProfile& profile);

// The true direction seen at pixel (x, y).
HorizontalPoint PixelToHorizontal(const CameraProfile& profile, double x,
                                      double y);

// Where pixel (x, y) lies relative to the optical axis, whatever the
// pointing: the angle from the axis [rad] and the position angle [rad] from
// the image's +y towards +x, with the lens and aspect of the profile undone.
struct AxisAngle {
  double distance = 0.0;
  double position_angle = 0.0;
};
AxisAngle PixelToAxisAngle(const CameraProfile& profile, double x, double y);

// The pixel at which the true direction (az, ev) is seen. Outside the field
// (more than 0.8 F from the axis), on the axis itself (closer than 1e-6 rad)
// and with a field of view below 1e-5 rad the result is (0, 0), not inside;
// a pixel outside the frame is clamped to its edge columns and rows, not
// inside.
PixelPosition HorizontalToPixel(const CameraProfile& profile, double az,
                                double ev);

// As HorizontalToPixel without the field limit: any direction off the axis
// gives a pixel, clamped into [0, W - 1] x [0, H - 1]. `inside` is false
// only for the axis itself and a field of view below 1e-5 rad.
PixelPosition HorizontalToPixelClamped(const CameraProfile& profile, double az,
                                       double ev);

// The dapix a profile without one gets: 48, or H div 10 when H > 600.
int DefaultDapix(int frame_height);

// Writes the detection defaults into maxdps, maxedeg, cdlim, dapix (from the
// frame height), s1, mins, leaps, rm_small, dlo, consR, refmag, ddpix, BVF
// and dlim; s2 and dxoffset keep their values.
void ResetDetectionDefaults(CameraProfile& profile);

// ZeroPoint = 2.5 log10(maxLev) + maxMag. When maxLev or minLev is below 1,
// the levels become 255 and 1 and ZeroPoint 6.1 instead.
void UpdateZeroPoint(CameraProfile& profile);

// The profile page's status line for the zero point: "m=-2.5*log(L)+%.2f".
std::string ZeroPointText(const CameraProfile& profile);

}  // namespace mr4
