#include "reports/station_objects.h"

#include <map>

#include "astro/time_scales.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr double kSecondsPerDay = 86400.0;

bool IsMeteorClass(std::string_view cls) { return !cls.empty() && cls[0] != '_'; }

}  // namespace

FieldClock ClipFieldClock(const Table& clips, int row) {
  double fps = clips.Float(row, clip::kFps);
  const int cy = clips.Int(row, clip::kCy);
  if (fps <= 0.1) fps = (cy == 240 || cy == 480 || cy == 1080) ? 29.97 : 25.0;
  int head = clips.Int(row, clip::kHead);
  if (head < 10) head = 10;
  const int per_frame = clips.Int(row, clip::kInterlaced) != 0 ? 2 : 1;
  FieldClock c;
  c.rate = per_frame * fps;
  c.head_s = per_frame * head / c.rate;
  return c;
}

double ClipTriggerMjdUtc(const Table& clips, int row) {
  return CivilToMjd(clips.Int(row, clip::kY), clips.Int(row, clip::kMo),
                    clips.Int(row, clip::kD), clips.Int(row, clip::kH),
                    clips.Int(row, clip::kM), clips.Float(row, clip::kS)) -
         clips.Int(row, clip::kTz) / kSecondsPerDay;
}

StationObjects LoadStationObjects(const Table& clips, const Table& objects) {
  StationObjects out;
  std::map<std::string, int> station_numbers;
  for (int c = 0; c < clips.count(); ++c) {
    if (!clips.Exists(c)) continue;
    const std::string station =
        std::string(clips.Text(c, clip::kLid)) + "_" + std::string(clips.Text(c, clip::kSid));
    const int number =
        station_numbers.try_emplace(station, int(station_numbers.size())).first->second;
    const FieldClock clock = ClipFieldClock(clips, c);
    const double trigger = ClipTriggerMjdUtc(clips, c);
    int k = 0;
    // The chain cannot be longer than the table, a longer walk is a loop;
    // a row gone from it ends it.
    for (int o = clips.Int(c, clip::kOline);
         o >= 0 && o < objects.count() && objects.Exists(o) && k < objects.count();
         o = objects.Int(o, obj::kOlinenext), ++k) {
      if (!IsMeteorClass(objects.Text(o, obj::kClass))) continue;
      PairingObject r;
      r.station = number;
      r.lng_deg = clips.Float(c, clip::kLng);
      r.lat_deg = clips.Float(c, clip::kLat);
      r.alt_m = clips.Float(c, clip::kAlt) + clips.Float(c, clip::kGioidh);
      r.begin_mjd_utc = trigger + clock.Seconds(objects.Int(o, obj::kFs)) / kSecondsPerDay;
      r.end_mjd_utc = trigger + clock.Seconds(objects.Int(o, obj::kFe)) / kSecondsPerDay;
      r.begin_ra_deg = objects.Float(o, obj::kRa1);
      r.begin_dec_deg = objects.Float(o, obj::kDc1);
      r.end_ra_deg = objects.Float(o, obj::kRa2);
      r.end_dec_deg = objects.Float(o, obj::kDc2);
      out.records.push_back(r);
      out.objects.push_back({o, c, k, station, std::string(objects.Text(o, obj::kClass))});
    }
  }
  return out;
}

int CountMultiStationMeteors(const Table& clips, const Table& objects,
                             const PairingOptions& options) {
  return static_cast<int>(PairObjects(LoadStationObjects(clips, objects).records, options).size());
}

}  // namespace mr4
