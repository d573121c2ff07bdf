// Trails with a known truth for the trail-fit and reduction tests: a camera
// pointed at a chosen place of the sky, and samples moving at a constant
// angular speed along a great circle, placed in the frame through that
// camera (so the fit measures them back from x, y).
#pragma once

#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/measurement.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "tests/calib/synthetic_sky.h"

namespace mr4::testing {

// The synthetic-sky camera (720 x 480, lens k3/k2) turned to look at
// (ra, dec) with a horizontal field of `fov` deg. Its clip instant has the
// local sidereal time near 315 deg: places far from that hour angle are
// below the horizon.
inline CameraProfile PointedProfile(double ra, double dec, double fov) {
  CameraProfile p = MakeSkyProfile();
  const HorizontalPoint h = EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, ra, dec);
  p.p_az = static_cast<float>(h.az);
  p.p_ev = static_cast<float>(h.ev);
  p.p_vx = static_cast<float>(fov);
  Refresh(p);
  return p;
}

struct TrueTrail {
  std::vector<SpherePoint> sky;  // per sample
  std::vector<int> fields;
  double speed = 0;  // [deg/s]
};

// `n` samples from (ra, dec) along `bearing` at `speed` deg/s, one per
// field from `first_field`, written into the context's detection store
// (one detection per field) at the pixels the context's profile sees them.
inline TrueTrail PlaceTrail(AnalysisContext& c, double ra, double dec, double bearing,
                            double speed, int n, int first_field) {
  TrueTrail trail;
  trail.speed = speed;
  for (int i = 0; i < n; ++i) {
    const int field = first_field + i;
    const SpherePoint s = SkyDestination(ra, dec, bearing, speed * i / c.field_rate);
    const FramePoint f = ProjectToFrame(c, s.lon, s.lat);
    Detection& d = c.DetectionAt(field, 0);
    d = Detection{};
    d.field = field;
    d.x = f.x;
    d.y = f.y;
    d.pixels = 6;
    d.peak = 200;
    d.Lsum = 1000;
    c.detection_count[field] = 1;
    trail.sky.push_back(s);
    trail.fields.push_back(field);
  }
  return trail;
}

}  // namespace mr4::testing
