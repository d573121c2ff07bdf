// The camera model: pixel to sky and back for narrow, wide, fisheye and
// all-sky cameras, the lens polynomial and its table, the field limit, the
// derived values and the profile defaults.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "base/process_values.h"
#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "calib/camera_model.h"

namespace mr4 {
namespace {

struct Lens {
  const char* name;
  int cx, cy;
  float az, ev, rot, vx, yx, dx, dy, k4, k3, k2;
};

CameraProfile MakeProfile(const Lens& lens, float atc = 58.3f) {
  CameraProfile p;
  p.cx = lens.cx;
  p.cy = lens.cy;
  p.p_az = lens.az;
  p.p_ev = lens.ev;
  p.p_rot = lens.rot;
  p.p_vx = lens.vx;
  p.p_yx = lens.yx;
  p.p_dx = lens.dx;
  p.p_dy = lens.dy;
  p.p_k4 = lens.k4;
  p.p_k3 = lens.k3;
  p.p_k2 = lens.k2;
  p.p_atc = atc;
  BuildDistortionTable(p);
  return p;
}

double AngleDeg(const HorizontalPoint& a, const HorizontalPoint& b) {
  // Vector form: exact at small angles, unlike the cosine formula.
  auto vec = [](const HorizontalPoint& h, double v[3]) {
    v[0] = std::cos(h.ev * kDegToRad) * std::sin(h.az * kDegToRad);
    v[1] = std::cos(h.ev * kDegToRad) * std::cos(h.az * kDegToRad);
    v[2] = std::sin(h.ev * kDegToRad);
  };
  double u[3], w[3];
  vec(a, u);
  vec(b, w);
  const double cx = u[1] * w[2] - u[2] * w[1];
  const double cy = u[2] * w[0] - u[0] * w[2];
  const double cz = u[0] * w[1] - u[1] * w[0];
  return std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz),
                    u[0] * w[0] + u[1] * w[1] + u[2] * w[2]) * kRadToDeg;
}

// The direction D deg from the axis at position angle G deg (from the
// image's +y towards +x), by rotating about explicit axes: the camera's
// frame is turned down from the zenith by 90 - ev and then to azimuth az.
HorizontalPoint DirectionFromAxis(const CameraProfile& p, double d, double g) {
  // In the camera frame: z along the axis, y up the image, x right.
  const double cz = std::cos(d * kDegToRad);
  const double cy = std::sin(d * kDegToRad) * std::cos(g * kDegToRad);
  const double cxx = std::sin(d * kDegToRad) * std::sin(g * kDegToRad);
  // Tilt about the x axis by the elevation: axis goes to (0, cos ev, sin ev)
  // in (east', north', up) with north' the azimuth of the axis.
  const double e = p.p_ev * kDegToRad;
  const double north = cz * std::cos(e) - cy * std::sin(e);
  const double up = cz * std::sin(e) + cy * std::cos(e);
  const double east = cxx;
  // Turn about the vertical by the azimuth.
  const double a = p.p_az * kDegToRad;
  const double E = east * std::cos(a) + north * std::sin(a);
  const double N = north * std::cos(a) - east * std::sin(a);
  HorizontalPoint h;
  h.ev = std::atan2(up, std::hypot(E, N)) * kRadToDeg;
  h.az = std::atan2(E, N) * kRadToDeg;
  if (h.az < 0) h.az += 360.0;
  return h;
}

constexpr Lens kAllSky{"all-sky zenith", 1024, 1024, 0, 90, 0, 180, 1, 0, 0, 0, 0, 0};
constexpr Lens kFisheye{"fisheye ev 70", 1280, 960, 135, 70, 8, 180, 1, 0, 0, 0, 0.02f, -0.04f};

TEST(CameraModel, EquidistantLensPutsAngleDTimesWOverFFromTheCentre) {
  struct Case {
    Lens lens;
    double d, g;  // offset from the axis [deg] and position angle [deg]
  };
  const Case cases[] = {
      {{"narrow", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, 0}, 5.0, 0.0},
      {{"narrow sideways", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, 0}, 3.0, 90.0},
      {{"off-centre", 720, 480, 30, 20, 0, 56, 1, 11, -7, 0, 0, 0}, 4.0, 200.0},
      {kAllSky, 40.0, 45.0},
      {kAllSky, 80.0, 300.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lens.name);
    const CameraProfile p = MakeProfile(c.lens, 0.0f);
    const HorizontalPoint sky = DirectionFromAxis(p, c.d, c.g);
    const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
    ASSERT_TRUE(px.inside);
    const double r = std::hypot(px.x - (p.cx * 0.5 + p.p_dx), px.y - (p.cy * 0.5 + p.p_dy));
    EXPECT_NEAR(r, c.d * p.cx / p.p_vx, 1e-9);
    EXPECT_NEAR(std::atan2(px.x - p.cx * 0.5 - p.p_dx, px.y - p.cy * 0.5 - p.p_dy) * kRadToDeg,
                c.g > 180 ? c.g - 360 : c.g, 1e-9);
    const HorizontalPoint back = PixelToHorizontal(p, px.x, px.y);
    EXPECT_LT(AngleDeg(back, sky), 1e-9);
  }
}

// The angle from the axis and the position angle in the image, read from a
// pixel without the pointing: the lens, aspect, offsets and rotation undone.
TEST(CameraModel, PixelToAxisAngleUndoesLensAspectOffsetAndRotation) {
  struct Case {
    Lens lens;
    double d, g;  // offset from the axis [deg] and true position angle [deg]
  };
  const Case cases[] = {
      {{"typical", 720, 480, 135, 45, 0, 56, 1, 0, 0, 0, 0.06f, -0.03f}, 20.0, 30.0},
      {{"turned, stretched, off-centre", 720, 480, 30, 20, -40, 56, 1.05f, 11, -7, 0, 0.06f,
        -0.03f},
       12.0, 250.0},
      {kFisheye, 70.0, 100.0},
      {kAllSky, 85.0, 320.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lens.name);
    const CameraProfile p = MakeProfile(c.lens, 0.0f);
    const HorizontalPoint sky = DirectionFromAxis(p, c.d, c.g);
    const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
    ASSERT_TRUE(px.inside);
    const AxisAngle a = PixelToAxisAngle(p, px.x, px.y);
    EXPECT_NEAR(a.distance * kRadToDeg, c.d, 1e-6);
    const double expected = std::remainder(c.g - c.lens.rot, 360.0);
    EXPECT_NEAR(std::remainder(a.position_angle * kRadToDeg - expected, 360.0), 0.0, 1e-6);
  }
}

// Every pixel of a grid over the frame that sees the sky above the horizon
// maps to a direction, and that direction maps back to the same pixel and
// then to the same direction.
TEST(CameraModel, PixelToSkyToPixelRoundTripsOverTheWholeField) {
  const Lens lenses[] = {
      {"typical 56 deg", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0.06f, -0.03f},
      {"distortion off", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, 0},
      {"rotated", 720, 480, 300, 35, 23, 56, 1, 0, 0, 0, 0.06f, -0.03f},
      {"off-centre", 720, 480, 90, 60, -12, 56, 1, 14, -9, 0, 0.06f, -0.03f},
      {"non-square pixels", 720, 480, 10, 30, 4, 60, 0.9f, 0, 0, 0, 0.05f, -0.02f},
      {"wide with k4", 1920, 1080, 250, 40, -3, 90, 1, 3, 2, 0.01f, 0.03f, -0.05f},
      {"odd width", 721, 481, 180, 45, 0, 56, 1, 0, 0, 0, 0.06f, -0.03f},
      kFisheye,
      kAllSky,
  };
  for (const Lens& lens : lenses) {
    SCOPED_TRACE(lens.name);
    const CameraProfile p = MakeProfile(lens);
    int checked = 0;
    double worst_deg = 0.0, worst_px = 0.0;
    for (int iy = 0; iy <= 40; ++iy) {
      for (int ix = 0; ix <= 40; ++ix) {
        const double x = 0.5 + (p.cx - 1.0) * ix / 40.0;
        const double y = 0.5 + (p.cy - 1.0) * iy / 40.0;
        const HorizontalPoint sky = PixelToHorizontal(p, x, y);
        if (sky.ev < 0.5) continue;  // refraction has no inverse below the horizon
        const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
        if (!px.inside) continue;  // beyond 0.8 F or on the axis
        const HorizontalPoint back = PixelToHorizontal(p, px.x, px.y);
        worst_deg = std::max(worst_deg, AngleDeg(back, sky));
        worst_px = std::max(worst_px, std::hypot(px.x - x, px.y - y));
        ++checked;
      }
    }
    EXPECT_GT(checked, 300);
    EXPECT_LT(worst_deg, 1e-6);
    EXPECT_LT(worst_px, 1e-6);
  }
}

// Compares the pixels against the rotation written out with explicit axes,
// where the old quadrant tests went wrong: all over an all-sky camera at the
// zenith, and far from the axis of a fisheye.
TEST(CameraModel, AllSkyAndFisheyeMapEveryDirectionToTheRightPixel) {
  const Lens lenses[] = {kAllSky, kFisheye,
                         {"all-sky turned", 1024, 1024, 77, 90, 31, 180, 1, 0, 0, 0, 0, 0}};
  for (const Lens& lens : lenses) {
    SCOPED_TRACE(lens.name);
    const CameraProfile p = MakeProfile(lens, 0.0f);
    for (double d = 2.0; d <= 88.0; d += 2.0) {
      for (double g = 0.0; g < 360.0; g += 7.5) {
        const HorizontalPoint sky = DirectionFromAxis(p, d, g);
        PixelPosition px = HorizontalToPixelClamped(p, sky.az, sky.ev);
        // The expected pixel: radius from the lens polynomial, then the image
        // rotation.
        const double ideal = d * kDegToRad * p.cx / (p.p_vx * kDegToRad);
        const double q = ideal / p.HalfWidth;
        const double k1 = 1.0 - p.p_k4 - p.p_k3 - p.p_k2;
        const double r = (p.p_k4 * q * q * q * q + p.p_k3 * q * q * q + p.p_k2 * q * q + k1 * q) *
                         p.HalfWidth;
        const double gr = (g + 0.0) * kDegToRad;
        const double rot = p.p_rot * kDegToRad;
        const double l = r * std::sin(gr), m = r * std::cos(gr);
        const double ex = p.p_yx * (l * std::cos(rot) - m * std::sin(rot)) + p.cx * 0.5;
        const double ey = m * std::cos(rot) + l * std::sin(rot) + p.cy * 0.5;
        if (ex < 0 || ex >= p.cx || ey < 0 || ey >= p.cy) continue;
        SCOPED_TRACE("d=" + std::to_string(d) + " g=" + std::to_string(g));
        EXPECT_NEAR(px.x, ex, 1e-7);
        EXPECT_NEAR(px.y, ey, 1e-7);
        const HorizontalPoint back = PixelToHorizontal(p, px.x, px.y);
        EXPECT_LT(AngleDeg(back, sky), 1e-6);
      }
    }
  }
}

// Tilting an all-sky camera by a thousandth of a degree moves every star by
// a few thousandths of a pixel: no half of the sky flips at the zenith.
TEST(CameraModel, ZenithPointingIsContinuousWithANearZenithPointing) {
  CameraProfile zenith = MakeProfile(kAllSky);
  Lens tilted_lens = kAllSky;
  tilted_lens.ev = 89.999f;
  CameraProfile tilted = MakeProfile(tilted_lens);
  for (double az = 0.0; az < 360.0; az += 15.0) {
    for (double ev = 10.0; ev < 89.0; ev += 10.0) {
      SCOPED_TRACE("az=" + std::to_string(az) + " ev=" + std::to_string(ev));
      const PixelPosition a = HorizontalToPixel(zenith, az, ev);
      const PixelPosition b = HorizontalToPixel(tilted, az, ev);
      ASSERT_TRUE(a.inside);
      EXPECT_LT(std::hypot(a.x - b.x, a.y - b.y), 0.01);
      const HorizontalPoint sa = PixelToHorizontal(zenith, a.x, a.y);
      const HorizontalPoint sb = PixelToHorizontal(tilted, b.x, b.y);
      EXPECT_LT(AngleDeg(sa, sb), 1e-6);
    }
  }
}

// The classic spherical-triangle formulas, valid away from the zenith and
// within about 80 deg of the axis, as a reference for ordinary cameras.
PixelPosition ClassicHorizontalToPixel(const CameraProfile& p, double A, double e) {
  PixelPosition out;
  const double c = TrueToApparentElevation(e, p.p_atc);
  const double g = p.cx / (p.p_vx * kDegToRad);
  const double m = (90.0 - p.p_ev) * kDegToRad, o = (90.0 - c) * kDegToRad;
  const double t = (A - p.p_az) * kDegToRad;
  const double D = std::acos(std::sin(m) * std::sin(o) * std::cos(t) + std::cos(o) * std::cos(m));
  double G = std::asin(std::sin(o) / std::sin(D) * std::sin(t));
  if (!(std::cos(o) > std::cos(m) * std::cos(D))) G = kPi - G;
  const double I = D * g / p.HalfWidth;
  const double K = (p.p_k4 * I * I * I * I + p.p_k3 * I * I * I + p.p_k2 * I * I + p.k1 * I) * p.HalfWidth;
  const double L = K * std::sin(G), M = K * std::cos(G), rot = p.p_rot * kDegToRad;
  out.x = p.p_yx * (L * std::cos(rot) - M * std::sin(rot)) + p.cx * 0.5 + p.p_dx;
  out.y = M * std::cos(rot) + L * std::sin(rot) + p.cy * 0.5 + p.p_dy;
  return out;
}

TEST(CameraModel, OrdinaryCamerasAgreeWithTheClassicFormulas) {
  const Lens lenses[] = {
      {"typical", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0.06f, -0.03f},
      {"rotated off-centre", 720, 480, 300, 25, -20, 56, 0.95f, 8, -5, 0, 0.06f, -0.03f},
      {"high", 1280, 720, 20, 75, 10, 90, 1, 0, 0, 0.01f, 0.02f, -0.03f},
  };
  for (const Lens& lens : lenses) {
    SCOPED_TRACE(lens.name);
    const CameraProfile p = MakeProfile(lens);
    for (double d = 1.0; d < 40.0; d += 3.0) {
      for (double g = 5.0; g < 360.0; g += 20.0) {
        const HorizontalPoint sky = DirectionFromAxis(p, d, g);
        if (sky.ev < 1.0) continue;
        const PixelPosition a = HorizontalToPixelClamped(p, sky.az, sky.ev);
        const PixelPosition b = ClassicHorizontalToPixel(p, sky.az, sky.ev);
        if (b.x <= 0 || b.x >= p.cx - 1 || b.y <= 0 || b.y >= p.cy - 1) continue;
        EXPECT_NEAR(a.x, b.x, 1e-7);
        EXPECT_NEAR(a.y, b.y, 1e-7);
      }
    }
  }
}

TEST(CameraModel, FieldEndsAtEightTenthsOfTheFieldOfView) {
  // Half-scale pixels put even 0.8 F inside the frame.
  const CameraProfile p = MakeProfile({"half x", 720, 480, 180, 30, 0, 56, 0.5f, 0, 0, 0, 0, 0}, 0.0f);
  struct Case {
    double fraction;
    bool inside;
  };
  const Case cases[] = {{0.79, true}, {0.81, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fraction);
    const HorizontalPoint sky = DirectionFromAxis(p, c.fraction * p.p_vx, 90.0);
    const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
    EXPECT_EQ(px.inside, c.inside);
    if (!c.inside) {
      EXPECT_EQ(px.x, 0.0);
      EXPECT_EQ(px.y, 0.0);
      // Without the field limit the same direction is clamped to the right edge.
      const PixelPosition clamped = HorizontalToPixelClamped(p, sky.az, sky.ev);
      EXPECT_TRUE(clamped.inside);
      EXPECT_NEAR(clamped.x, 0.5 * 0.81 * p.cx + p.cx * 0.5, 1e-6);
    }
  }
}

TEST(CameraModel, AxisPointAndDegenerateFieldGiveTheOrigin) {
  CameraProfile p = MakeProfile({"typical", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0.06f, -0.03f}, 0.0f);
  PixelPosition px = HorizontalToPixel(p, 180.0, 45.0);
  EXPECT_FALSE(px.inside);
  EXPECT_EQ(px.x, 0.0);
  EXPECT_EQ(px.y, 0.0);
  px = HorizontalToPixelClamped(p, 180.0, 45.0);
  EXPECT_FALSE(px.inside);
  EXPECT_EQ(px.x, 0.0);

  // The pixel at the optical centre sees the axis.
  const HorizontalPoint centre = PixelToHorizontal(p, 360.0, 240.0);
  EXPECT_NEAR(centre.az, 180.0, 1e-9);
  EXPECT_NEAR(centre.ev, 45.0, 1e-9);

  p.p_vx = 0.0f;
  px = HorizontalToPixel(p, 181.0, 45.0);
  EXPECT_FALSE(px.inside);
  EXPECT_EQ(px.x, 0.0);
}

// An axis azimuth of any float (a profile or record may hold 1e38) gives a
// pixel's azimuth in 0..360 in one step; whole turns change nothing.
TEST(CameraModel, HugeAxisAzimuthsFoldOntoTheCircle) {
  const CameraProfile turned =
      MakeProfile({"720 turns", 720, 480, 180 + 720 * 360, 45, 0, 56, 1, 0, 0, 0, 0, 0});
  const CameraProfile plain = MakeProfile({"typical", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, 0});
  const HorizontalPoint a = PixelToHorizontal(turned, 100.0, 400.0);
  const HorizontalPoint b = PixelToHorizontal(plain, 100.0, 400.0);
  EXPECT_NEAR(a.az, b.az, 1e-9);
  EXPECT_NEAR(a.ev, b.ev, 1e-9);
  for (float az : {1e30f, 1e38f, -1e38f}) {
    SCOPED_TRACE(az);
    const CameraProfile p = MakeProfile({"huge", 720, 480, az, 45, 0, 56, 1, 0, 0, 0, 0, 0});
    const HorizontalPoint h = PixelToHorizontal(p, 100.0, 400.0);
    EXPECT_GE(h.az, 0.0);
    EXPECT_LE(h.az, 360.0);
  }
}

TEST(CameraModel, PixelsOutsideTheFrameAreClampedToItsEdges) {
  const CameraProfile p = MakeProfile({"typical", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, 0}, 0.0f);
  struct Case {
    double g;  // position angle [deg]
    double x, y;
  };
  // 32 deg from the axis is 411 px: outside the 720 x 480 frame on all sides.
  const Case cases[] = {{0, 360, 479}, {90, 719, 240}, {180, 360, 0}, {270, 0, 240}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.g);
    const HorizontalPoint sky = DirectionFromAxis(p, 32.0, c.g);
    const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
    EXPECT_FALSE(px.inside);
    EXPECT_NEAR(px.x, c.x, 1e-6);
    EXPECT_NEAR(px.y, c.y, 1e-6);
  }
}

TEST(CameraModel, DistortionTableHoldsTheLensPolynomial) {
  const CameraProfile p = MakeProfile({"odd", 721, 480, 0, 45, 0, 56, 1, 0, 0, 0.01f, 0.06f, -0.03f});
  EXPECT_EQ(p.HalfWidth, 360.0);
  EXPECT_NEAR(p.k1, 1.0 - 0.01f - 0.06f - (-0.03f), 1e-12);
  for (int k : {0, 1, 180, 360, 700, 16999}) {
    SCOPED_TRACE(k);
    const double q = k / 360.0;
    const double expected = (0.01f * q * q * q * q + 0.06f * q * q * q + -0.03f * q * q + p.k1 * q) * 360.0;
    EXPECT_NEAR(p.DistortionTable[k], expected, 1e-9 * std::max(1.0, std::fabs(expected)));
  }
}

// A lens whose distorted radius turns back (k2 = -0.8: largest radius
// 1.0125 x W/2) has no table entry above a larger radius, which is then
// taken as the ideal radius unchanged.
TEST(CameraModel, RadiusBeyondTheDistortionTableIsUsedUnchanged) {
  const CameraProfile p = MakeProfile({"turning", 720, 480, 180, 45, 0, 56, 1, 0, 0, 0, 0, -0.8f}, 0.0f);
  const double r = 1.2 * p.HalfWidth;
  const HorizontalPoint sky = PixelToHorizontal(p, p.cx * 0.5 + r, p.cy * 0.5);
  const HorizontalPoint axis{180.0, 45.0};
  EXPECT_NEAR(AngleDeg(sky, axis), r * p.p_vx / p.cx, 1e-9);

  // Below the turn the table is inverted as usual.
  const HorizontalPoint near = PixelToHorizontal(p, p.cx * 0.5 + 100.0, p.cy * 0.5);
  const PixelPosition back = HorizontalToPixel(p, near.az, near.ev);
  EXPECT_NEAR(back.x, p.cx * 0.5 + 100.0, 1e-6);
}

TEST(CameraModel, ClipInstantValues) {
  // One leap-second row (2017-01-01, 37 s) and the sentinel.
  App().leap_seconds = BuildLeapSecondList(std::vector<LeapSecondRow>{{2017, 1, 1, 37, 0.0f}});
  CameraProfile p;
  p.p_lng = 139.5f;
  p.clip_y = 2021;
  p.clip_mo = 8;
  p.clip_d = 13;
  p.clip_h = 2;
  p.clip_m = 30;
  p.clip_s = 15.5f;
  p.clip_tz = 32400;  // JST
  ComputeClipInstantValues(p);
  const double mjd_local = CivilToMjd(2021, 8, 13, 2, 30, 15.5f);
  EXPECT_NEAR(p.ClipJdUtc, mjd_local + 2400000.5 - 0.375, 1e-9);
  EXPECT_NEAR(p.ClipMjdTt, mjd_local - 0.375 + (37 + 32.184) / 86400.0, 1e-9);
  EXPECT_NEAR(p.ClipJdTt, p.ClipMjdTt + 2400000.5, 1e-9);
  EXPECT_DOUBLE_EQ(p.ClipLst, LocalSiderealTime(2021, 8, 13, 2, 30, 15.5f, 32400, 139.5));
  // The Perseids' maximum: solar longitude about 140.
  EXPECT_NEAR(p.ClipSolarLongitude, 140.0, 0.5);
}

TEST(CameraProfileDefaults, ResetDetectionDefaultsKeepsWindowEndAndFieldOffset) {
  struct Case {
    int height;
    int dapix;
  };
  const Case cases[] = {{480, 48}, {600, 48}, {720, 72}, {1080, 108}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    CameraProfile p;
    p.cy = c.height;
    p.p_u4_dapix = 3;
    p.p_u4_f1 = 40;
    p.p_u4_f2 = 77;
    p.p_u4_dxoffset = 5;
    p.p_u4_ddpix = 0.5f;
    p.p_u4_bvf = 0.0f;
    p.p_u4_dlim = 30;
    p.p_u4_refmag = 6.0f;
    ResetDetectionDefaults(p);
    EXPECT_EQ(p.p_u4_dapix, c.dapix);
    EXPECT_EQ(p.p_u4_f1, -1);
    EXPECT_EQ(p.p_u4_f2, 77);
    EXPECT_EQ(p.p_u4_dxoffset, 5);
    EXPECT_FLOAT_EQ(p.p_u4_ddpix, 1e-6f);
    EXPECT_FLOAT_EQ(p.p_u4_bvf, -0.3f);
    EXPECT_EQ(p.p_u4_dlim, 15);
    EXPECT_FLOAT_EQ(p.p_u4_refmag, 4.0f);
  }
}

TEST(CameraProfileDefaults, UpdateZeroPoint) {
  struct Case {
    int maxl, minl;
    float maxm;
    int want_maxl, want_minl;
    double zero_point;
  };
  const Case cases[] = {
      {255, 50, 2.0f, 255, 50, 2.5 * std::log10(255.0) + 2.0},
      {100, 10, -1.5f, 100, 10, 5.0 - 1.5},
      {0, 50, 2.0f, 255, 1, 6.1},
      {200, 0, 2.0f, 255, 1, 6.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxl * 1000 + c.minl);
    CameraProfile p;
    p.maxl = c.maxl;
    p.minl = c.minl;
    p.maxm = c.maxm;
    UpdateZeroPoint(p);
    EXPECT_EQ(p.maxl, c.want_maxl);
    EXPECT_EQ(p.minl, c.want_minl);
    EXPECT_NEAR(p.ZeroPoint, c.zero_point, 1e-6);
  }
  CameraProfile p;
  p.ZeroPoint = 8.0206;
  EXPECT_EQ(ZeroPointText(p), "m=-2.5*log(L)+8.02");
}

}  // namespace
}  // namespace mr4
