#include "analysis/measurement.h"

#include <cmath>

#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"

namespace mr4 {

double SampleTime(const AnalysisContext& c, int field) {
  return field / c.field_rate - c.head_time;
}

double SampleMagnitude(const CameraProfile& profile, double Lsum) {
  if (Lsum < 1) return profile.ZeroPoint;
  return profile.ZeroPoint - 2.5 * std::log10(Lsum);
}

void MeasureSample(const AnalysisContext& c, Detection& sample) {
  const CameraProfile& p = c.profile;
  const HorizontalPoint h = PixelToHorizontal(p, sample.x, sample.y);
  sample.az = h.az;
  sample.ev = h.ev;
  const EquatorialPoint e = HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, h.az, h.ev);
  sample.ra = e.ra;
  sample.dec = e.dec;
}

FramePoint ProjectToFrame(const AnalysisContext& c, double ra, double dec) {
  const CameraProfile& p = c.profile;
  const HorizontalPoint h = EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, ra, dec);
  const PixelPosition px = HorizontalToPixel(p, h.az, h.ev);
  return {h.az, h.ev, px.x, px.y};
}

double GroundPoint(const Table&, int, Table&, int, int) { return 0; }

}  // namespace mr4
