#include "analysis/measurement.h"

#include <cmath>
#include <mutex>

#include "app/settings.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

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

double GroundPoint(const Table& clips, int clip_row, Table& objects, int object_row,
                   int end) {
  const double lng0 = clips.Float(clip_row, clip::kLng);
  const double lat0 = clips.Float(clip_row, clip::kLat);
  const double station_m = clips.Float(clip_row, clip::kGioidh) + clips.Float(clip_row, clip::kAlt);
  const bool start = end == 1;
  const int k_lng = start ? obj::kLng1 : obj::kLng2;
  const int k_lat = start ? obj::kLat1 : obj::kLat2;
  const int k_h = start ? obj::kH1 : obj::kH2;
  const int k_dist = start ? obj::kDist1 : obj::kDist2;
  const int k_gd = start ? obj::kGd1 : obj::kGd2;

  std::lock_guard lock(objects.lock());
  const double az = objects.Float(object_row, start ? obj::kAz1 : obj::kAz2);
  const double ev = objects.Float(object_row, start ? obj::kEv1 : obj::kEv2);
  double h = objects.Float(object_row, k_h);
  if (h < 0) h = start ? AppSettings().a_km1 : AppSettings().a_km2;

  const GroundRange range = GroundRangeAtHeight(lat0, station_m, ev, h);
  const SpherePoint p = GroundDestination(lng0, lat0, az, range.central_angle_deg);

  objects.SetFloat(object_row, k_lng, static_cast<float>(p.lon));
  objects.SetFloat(object_row, k_lat, static_cast<float>(p.lat));
  objects.SetFloat(object_row, k_h, static_cast<float>(h));
  objects.SetFloat(object_row, k_dist, static_cast<float>(range.slant_km));
  objects.SetFloat(object_row, k_gd, static_cast<float>(range.range_km));
  return range.range_km;
}

}  // namespace mr4
