#include "sim/network_simulator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>
#include <system_error>

#include "astro/angles.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "calib/camera_model.h"
#include "platform/file_replace.h"
#include "sim/truth_text.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

constexpr int kStampRows = 12;          // the clips' time stamp band at the bottom
constexpr double kFieldMargin = 0.04;   // of the frame size: the path keeps off the edges
constexpr double kShortestPath = 2.0;   // [deg] in every station's sky
constexpr double kLowestSight = 5.0;    // [deg] elevation of the path from every station

// splitmix64, as the clip simulator draws: portable across platforms.
struct Random {
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return (Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Range(double a, double b) { return a + (b - a) * Uniform(); }
};

// A field of a stations line, without the blanks around it.
std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = line.find(',', start);
    std::string f = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t a = f.find_first_not_of(" \t"), b = f.find_last_not_of(" \t");
    fields.push_back(a == std::string::npos ? "" : f.substr(a, b - a + 1));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// A C-locale number filling the whole field.
bool ParseNumber(const std::string& text, double* value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return !text.empty() && ec == std::errc() && ptr == end && std::isfinite(*value);
}

// "YYYY-MM-DD hh:mm:ss.ssssss" of a UTC MJD, to the microsecond.
std::string UtcText(double mjd) {
  const double day = std::floor(mjd);
  long long us = std::llround((mjd - day) * 86400e6);
  double d = day;
  if (us >= 86400000000LL) {
    us -= 86400000000LL;
    d += 1;
  }
  const CivilTime c = MjdToCivil(d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02lld.%06lld", c.year, c.month, c.day,
                static_cast<int>(us / 3600000000LL), static_cast<int>(us / 60000000LL % 60),
                us / 1000000 % 60, us % 1000000);
  return buf;
}

double StationLongitude(const CameraProfile& p) {
  return p.p_lng > 180.0f ? p.p_lng - 360.0 : p.p_lng;
}

LocalFrame FrameOf(const CameraProfile& p) {
  return LocalFrameAt({StationLongitude(p), p.p_lat, (p.p_alt + p.p_gioidh) / 1000.0});
}

// The camera at a UTC instant: clip time in its own zone.
void SetInstant(CameraProfile& p, double mjd_utc) {
  const CivilTime local = MjdToCivil(mjd_utc + p.p_tz / 86400.0);
  p.clip_y = local.year;
  p.clip_mo = local.month;
  p.clip_d = local.day;
  p.clip_h = local.hour;
  p.clip_m = local.minute;
  p.clip_s = local.second;
  p.clip_tz = p.p_tz;
  ComputeClipInstantValues(p);
}

// Where the line from `from` along `dir` (unit) is at geodetic `height`,
// between s = lo and s = hi, over which the height is monotonic.
double CrossHeight(EarthVector from, EarthVector dir, double height, double lo, double hi) {
  const bool rising = EarthToGeodetic(from + hi * dir).height > EarthToGeodetic(from + lo * dir).height;
  for (int k = 0; k < 60; ++k) {
    const double mid = 0.5 * (lo + hi);
    const bool above = EarthToGeodetic(from + mid * dir).height > height;
    if (above == rising) hi = mid;
    else lo = mid;
  }
  return 0.5 * (lo + hi);
}

struct StationView {
  CameraProfile profile;
  LocalFrame frame;
};

// The point is well inside the station's field and above its horizon.
bool InField(const StationView& v, EarthVector point) {
  const HorizontalPoint hp = DirectionTo(v.frame, point);
  if (hp.ev < kLowestSight) return false;
  const PixelPosition pix = HorizontalToPixel(v.profile, hp.az, hp.ev);
  const double mx = kFieldMargin * v.profile.cx, my = kFieldMargin * v.profile.cy;
  return pix.inside && pix.x > mx && pix.x < v.profile.cx - mx && pix.y > kStampRows + my &&
         pix.y < v.profile.cy - my;
}

double AngleBetween(EarthVector a, EarthVector b) {
  return std::atan2(Norm(Cross(a, b)), Dot(a, b)) * kRadToDeg;
}

// The angle between the planes holding the path and each station [deg].
double Convergence(const LocalFrame& a, const LocalFrame& b, const SimPath& path) {
  const EarthVector na = Normalized(Cross(path.begin - a.origin, path.direction));
  const EarthVector nb = Normalized(Cross(path.begin - b.origin, path.direction));
  return std::acos(std::clamp(std::fabs(Dot(na, nb)), 0.0, 1.0)) * kRadToDeg;
}

}  // namespace

bool ParseStationsText(const std::string& text, std::vector<StationLine>* out,
                       std::string* error) {
  out->clear();
  std::istringstream in(text);
  std::string line;
  std::set<std::string> ids;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::vector<std::string> f = SplitFields(line);
    auto fail = [&](const std::string& what) {
      *error = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    if (f.size() != 6) return fail("needs 6 fields: LID_SID,lng,lat,alt,profile,dir");
    StationLine s;
    s.id = f[0];
    const std::size_t cut = s.id.find('_');
    if (cut == std::string::npos || cut == 0 || cut + 1 == s.id.size()) {
      return fail("station '" + s.id + "' is not LID_SID");
    }
    if (!ParseNumber(f[1], &s.lng) || s.lng < -180 || s.lng > 360) {
      return fail("longitude '" + f[1] + "' is not -180..360");
    }
    if (!ParseNumber(f[2], &s.lat) || s.lat < -90 || s.lat > 90) {
      return fail("latitude '" + f[2] + "' is not -90..90");
    }
    if (!ParseNumber(f[3], &s.alt_m) || s.alt_m < -500 ||
        s.alt_m > 9000) {
      return fail("altitude '" + f[3] + "' is not -500..9000 m");
    }
    if (f[4].empty()) return fail("no camera profile");
    if (f[5].empty()) return fail("no clip directory");
    s.profile = f[4];
    s.dir = f[5];
    if (!ids.insert(s.id).second) return fail("station " + s.id + " is listed twice");
    out->push_back(s);
  }
  if (out->empty()) {
    *error = "no station listed";
    return false;
  }
  return true;
}

NetworkStation MakeNetworkStation(const StationLine& line, const CameraProfile& camera,
                                  const fs::path& dir) {
  NetworkStation s;
  s.id = line.id;
  s.profile = camera;
  s.profile.p_lid = line.id.substr(0, line.id.find('_'));
  s.profile.p_sid = line.id.substr(line.id.find('_') + 1);
  s.profile.p_lng = static_cast<float>(line.lng < 0 ? line.lng + 360.0 : line.lng);
  s.profile.p_lat = static_cast<float>(line.lat);
  s.profile.p_alt = static_cast<float>(line.alt_m);
  s.dir = dir;
  return s;
}

bool PlanNetworkPath(const std::vector<NetworkStation>& stations,
                     const NetworkMeteorRequest& request, bool deceleration, int tries,
                     SimPath* path, std::string* error) {
  if (stations.empty()) {
    *error = "no station";
    return false;
  }
  std::vector<StationView> views;
  for (const NetworkStation& s : stations) {
    StationView v{s.profile, FrameOf(s.profile)};
    BuildDistortionTable(v.profile);
    SetInstant(v.profile, request.begin_mjd);
    views.push_back(std::move(v));
  }
  const StationView& first = views[0];
  Random rng{request.seed * 0x94D049BB133111EBull + 3};

  // The source: a shower's radiant, gravity-bent towards the zenith, or a
  // given or drawn sporadic one; its direction is taken at the first station.
  std::string shower = request.radiant.shower.empty() ? "spo" : request.radiant.shower;
  double ra = request.radiant.ra, dec = request.radiant.dec, speed = request.radiant.speed;
  double vg = 0.0;
  if (shower != "spo") {
    ShowerAtDate s;
    if (!LookUpShower(shower, first.profile.ClipSolarLongitude, &s)) {
      *error = "unknown shower code " + shower;
      return false;
    }
    if (!request.radiant.given) ra = s.ra, dec = s.dec, vg = s.vg;
    if (speed <= 0) speed = s.speed;
  }
  const bool fixed_radiant = shower != "spo" || request.radiant.given;
  HorizontalPoint rad{};
  if (fixed_radiant) {
    rad = EquatorialToHorizontal(first.profile.ClipMjdTt, first.profile.ClipLst,
                                 first.profile.p_lat, ra, dec);
    rad.ev = ZenithAttractedElevation(rad.ev, vg);
    if (rad.ev < 1.0) {
      *error = "the radiant is below the horizon at that time";
      return false;
    }
  }
  for (int attempt = 0; attempt < tries; ++attempt) {
    if (!fixed_radiant) {
      rad = {rng.Range(0.0, 360.0),
             std::asin(rng.Range(std::sin(15 * kDegToRad), std::sin(80 * kDegToRad))) * kRadToDeg};
    }
    const double v = speed > 0 ? speed : rng.Range(15.0, 70.0);
    const double h_begin = 80.0 + 0.45 * v, h_end = 70.0 + 0.25 * v;
    // The middle: on the line of sight of a pixel of one station (in turn),
    // at the middle height.
    const StationView& from = views[static_cast<std::size_t>(attempt) % views.size()];
    const HorizontalPoint sight = PixelToHorizontal(
        from.profile, rng.Range(0.1, 0.9) * from.profile.cx, rng.Range(0.15, 0.9) * from.profile.cy);
    if (sight.ev < kLowestSight) continue;
    const EarthVector look = DirectionVector(from.frame, sight.az, sight.ev);
    const EarthVector mid =
        from.frame.origin + CrossHeight(from.frame.origin, look, 0.5 * (h_begin + h_end), 0.0, 3000.0) * look;
    const EarthVector dir = -1.0 * DirectionVector(first.frame, rad.az, rad.ev);
    // Up the line to the begin height; down it, before its lowest point, to the end.
    const double lowest = -Dot(mid, dir);
    if (lowest <= 0 || EarthToGeodetic(mid + lowest * dir).height > h_end) continue;
    const double s0 = CrossHeight(mid, dir, h_begin, -3000.0, 0.0);
    const double s1 = CrossHeight(mid, dir, h_end, 0.0, lowest);
    const EarthVector begin = mid + s0 * dir, end = mid + s1 * dir;
    bool fits = true;
    for (const StationView& view : views) {
      for (int k = 0; k <= 4 && fits; ++k) fits = InField(view, begin + (0.25 * k) * (end - begin));
      fits = fits && AngleBetween(begin - view.frame.origin, end - view.frame.origin) >= kShortestPath;
      if (!fits) break;
    }
    if (!fits) continue;

    SimPath p;
    p.given = true;
    p.begin = begin;
    p.direction = dir;
    p.speed = v;
    p.shower = shower;
    p.abs_mag_peak = request.abs_mag_peak;
    p.abs_mag_ends = request.abs_mag_peak + 2.5;
    const double length = s1 - s0;
    double duration = length / v;
    if (request.decel_given) {
      p.decel_a1 = request.decel_a1;
      p.decel_a2 = request.decel_a2;
    } else if (deceleration) {
      // Slowed by 3-25 % at the end of the path of constant speed.
      const double loss = rng.Range(0.03, 0.25) * v;
      p.decel_a2 = rng.Range(3.0, 10.0) / duration;
      p.decel_a1 = loss / (p.decel_a2 * std::expm1(p.decel_a2 * duration));
    }
    if (p.decel_a1 > 0 && p.decel_a2 > 0) {
      // The time at which the slowed meteor reaches the end height, before
      // it would stop; a deceleration that stops it short is drawn again.
      const double stop = std::log1p(v / (p.decel_a1 * p.decel_a2)) / p.decel_a2;
      if (p.Length(stop) <= length) {
        if (request.decel_given) {
          *error = "the deceleration stops the meteor before its end height";
          return false;
        }
        continue;
      }
      double lo = 0.0, hi = stop;
      for (int k = 0; k < 60; ++k) {
        const double m = 0.5 * (lo + hi);
        (p.Length(m) < length ? lo : hi) = m;
      }
      duration = 0.5 * (lo + hi);
    }
    p.duration = request.duration > 0 ? request.duration : duration;
    // The apparent radiant (J2000): where the path comes from, seen at the begin.
    const HorizontalPoint from_dir = DirectionTo(first.frame, first.frame.origin - dir);
    const EquatorialPoint eq = HorizontalToEquatorial(
        first.profile.ClipMjdTt, first.profile.ClipLst, first.profile.p_lat, from_dir.az, from_dir.ev);
    p.radiant_ra = eq.ra;
    p.radiant_dec = eq.dec;
    *path = p;
    return true;
  }
  *error = "no path of that meteor lies in every station's field; do the fields overlap at "
           "meteor heights?";
  return false;
}

NetworkMeteorResult SimulateNetworkMeteor(const std::vector<NetworkStation>& stations,
                                          const NetworkOptions& options,
                                          const NetworkMeteorRequest& request,
                                          const StarCatalogue& catalogue,
                                          const fs::path& truth_dir) {
  NetworkMeteorResult result;
  NetworkMeteorTruth& truth = result.truth;
  if (!PlanNetworkPath(stations, request, options.deceleration, 4000, &truth.path,
                       &result.error)) {
    return result;
  }
  truth.seed = request.seed;
  truth.begin_mjd = request.begin_mjd;
  truth.begin = EarthToGeodetic(truth.path.At(0.0));
  truth.end = EarthToGeodetic(truth.path.At(truth.path.duration));
  {
    const std::string utc = UtcText(request.begin_mjd);  // "YYYY-MM-DD hh:mm:ss.ssssss"
    truth.name = "N" + utc.substr(0, 4) + utc.substr(5, 2) + utc.substr(8, 2) + "_" +
                 utc.substr(11, 2) + utc.substr(14, 2) + utc.substr(17, 2) + "_" +
                 utc.substr(20, 3);
  }
  Random rng{request.seed * 0xBF58476D1CE4E5B9ull + 11};
  for (std::size_t i = 0; i < stations.size(); ++i) {
    const NetworkStation& station = stations[i];
    SimOptions o = options.render;
    o.profile = station.profile;
    o.object = SimObjectKind::kMeteor;
    o.seed = request.seed * 7919ull + i;
    o.clock_error = options.clock_spread > 0
                        ? rng.Range(-options.clock_spread, options.clock_spread)
                        : 0.0;
    // Its own trigger, a little after the begin; the head frames hold the start.
    const double most = std::min(options.max_trigger_delay, 0.8 * o.head / o.fps);
    const double wanted = rng.Range(0.0, std::max(0.0, most));
    o.trigger = MjdToCivil(request.begin_mjd + (wanted + o.profile.p_tz) / 86400.0);
    const double trigger_mjd =
        CivilToMjd(o.trigger.year, o.trigger.month, o.trigger.day, o.trigger.hour,
                   o.trigger.minute, o.trigger.second) - o.profile.p_tz / 86400.0;
    o.path = truth.path;
    o.path.begin_delay = std::max(0.0, (trigger_mjd - request.begin_mjd) * 86400.0);
    o.radiant.shower = truth.path.shower;
    SimClipResult clip = SimulateClip(o, catalogue, station.dir);
    if (!clip.ok) {
      result.error = station.id + ": " + clip.error;
      return result;
    }
    const LocalFrame frame = FrameOf(station.profile);
    NetworkSighting seen;
    seen.station = station.id;
    seen.clip = clip.base;
    seen.dir = station.dir;
    seen.trigger_mjd = trigger_mjd;
    seen.clock_error = o.clock_error;
    seen.begin_delay = o.path.begin_delay;
    const EarthVector b = truth.path.At(0.0), e = truth.path.At(truth.path.duration);
    seen.range_begin = Norm(b - frame.origin);
    seen.range_end = Norm(e - frame.origin);
    seen.length_deg = AngleBetween(b - frame.origin, e - frame.origin);
    truth.seen.push_back(seen);
    result.clips.push_back(std::move(clip));
    for (std::size_t j = 0; j < i; ++j) {
      truth.max_convergence = std::max(
          truth.max_convergence, Convergence(FrameOf(stations[j].profile), frame, truth.path));
    }
  }
  std::error_code ec;
  fs::create_directories(truth_dir, ec);
  const fs::path file = truth_dir / (truth.name + "_truth.json");
  if (!ReplaceFileContent(file, NetworkTruthJson(truth))) {
    result.error = "cannot write " + file.string();
    return result;
  }
  result.ok = true;
  return result;
}

NetworkNightResult SimulateNetworkNight(const std::vector<NetworkStation>& stations,
                                        const NetworkOptions& options, int year, int month,
                                        int day, int count, int singles,
                                        const StarCatalogue& catalogue,
                                        const fs::path& truth_dir) {
  NetworkNightResult night;
  if (stations.empty()) {
    night.error = "no station";
    return night;
  }
  const CameraProfile& home = stations[0].profile;
  double dusk = -1, dawn = -1;
  if (!DarkHours(home, year, month, day, &dusk, &dawn)) {
    night.error = "the Sun does not go 12 degrees below the horizon that night";
    return night;
  }
  Random rng{options.render.seed * 0x9E3779B97F4A7C15ull + 13};
  // The slots from dusk to dawn, shuffled between network meteors and singles.
  const int slots = count + singles;
  std::vector<bool> network(static_cast<std::size_t>(slots), false);
  for (int i = 0; i < count; ++i) network[static_cast<std::size_t>(i)] = true;
  for (int i = slots - 1; i > 0; --i) {
    const int j = static_cast<int>(rng.Uniform() * (i + 1));
    const bool t = network[static_cast<std::size_t>(i)];
    network[static_cast<std::size_t>(i)] = network[static_cast<std::size_t>(j)];
    network[static_cast<std::size_t>(j)] = t;
  }
  const double step = (dawn - dusk) / std::max(1, slots);
  int single = 0;
  for (int i = 0; i < slots; ++i) {
    const double local = dusk + (i + rng.Range(0.1, 0.9)) * step;
    const double utc = local - home.p_tz / 86400.0;
    const std::uint64_t seed = options.render.seed * 1000003ull + static_cast<std::uint64_t>(i);
    CameraProfile at = home;
    SetInstant(at, utc);
    // A shower active now with its radiant well up, for about 40 % of them.
    std::vector<std::string> active;
    for (const std::string& code : SimulatedShowerCodes()) {
      ShowerAtDate s;
      if (!LookUpShower(code, at.ClipSolarLongitude, &s) || !s.active) continue;
      if (EquatorialToHorizontal(at.ClipMjdTt, at.ClipLst, at.p_lat, s.ra, s.dec).ev > 20.0) {
        active.push_back(code);
      }
    }
    SimRadiant radiant;
    if (!active.empty() && rng.Uniform() < 0.4) {
      radiant.shower = active[static_cast<std::size_t>(rng.Uniform() * active.size())];
    }
    if (network[static_cast<std::size_t>(i)]) {
      NetworkMeteorRequest request;
      request.begin_mjd = std::floor(utc * 86400.0 * 1000.0) / (86400.0 * 1000.0);
      request.radiant = radiant;
      request.abs_mag_peak = rng.Range(-3.0, -0.5);
      request.seed = seed;
      NetworkMeteorResult meteor =
          SimulateNetworkMeteor(stations, options, request, catalogue, truth_dir);
      if (!meteor.ok && radiant.shower != "spo") {
        // The shower's radiant gives no path in every field now: a sporadic.
        request.radiant = SimRadiant{};
        meteor = SimulateNetworkMeteor(stations, options, request, catalogue, truth_dir);
      }
      if (!meteor.ok) {
        night.error = meteor.error;
        return night;
      }
      night.meteors.push_back(std::move(meteor));
      continue;
    }
    // A meteor only one station saw, in the single-station model.
    const NetworkStation& station = stations[static_cast<std::size_t>(single++) % stations.size()];
    SimOptions o = options.render;
    o.profile = station.profile;
    o.object = SimObjectKind::kMeteor;
    o.radiant = radiant;
    o.mag_peak = rng.Range(-2.0, 1.0);
    o.seed = seed;
    o.trigger = MjdToCivil(std::floor((utc + station.profile.p_tz / 86400.0) * 86400.0) / 86400.0);
    SimClipResult clip = SimulateClip(o, catalogue, station.dir);
    if (!clip.ok && radiant.shower != "spo") {
      o.radiant = SimRadiant{};
      clip = SimulateClip(o, catalogue, station.dir);
    }
    if (!clip.ok) {
      night.error = station.id + ": " + clip.error;
      return night;
    }
    night.singles.push_back(std::move(clip));
    night.single_stations.push_back(station.id);
  }
  night.ok = true;
  return night;
}

std::string NetworkTruthJson(const NetworkMeteorTruth& t) {
  const SimPath& p = t.path;
  auto point = [](const GeodeticPoint& g, double mjd) {
    return "{\"utc\": " + JsonString(UtcText(mjd)) + ", \"lat\": " + Fmt("%.6f", g.lat) +
           ", \"lng\": " + Fmt("%.6f", g.lng) + ", \"height\": " + Fmt("%.4f", g.height) + "}";
  };
  const EarthVector b = p.At(0.0), e = p.At(p.duration);
  std::string j = "{\r\n";
  j += "  \"meteor\": " + JsonString(t.name) + ",\r\n";
  j += "  \"seed\": " + std::to_string(t.seed) + ",\r\n";
  j += "  \"shower\": " + JsonString(p.shower) + ",\r\n";
  j += "  \"begin\": " + point(t.begin, t.begin_mjd) + ",\r\n";
  j += "  \"end\": " + point(t.end, t.begin_mjd + p.duration / 86400.0) + ",\r\n";
  j += "  \"duration\": " + Fmt("%.6f", p.duration) + ",\r\n";
  j += "  \"begin_ecef\": [" + Fmt("%.6f", b.x) + ", " + Fmt("%.6f", b.y) + ", " +
       Fmt("%.6f", b.z) + "],\r\n";
  j += "  \"end_ecef\": [" + Fmt("%.6f", e.x) + ", " + Fmt("%.6f", e.y) + ", " +
       Fmt("%.6f", e.z) + "],\r\n";
  j += "  \"radiant_ra\": " + Fmt("%.6f", p.radiant_ra) + ", \"radiant_dec\": " +
       Fmt("%.6f", p.radiant_dec) + ",\r\n";
  j += "  \"speed\": " + Fmt("%.6f", p.speed) + ", \"end_speed\": " +
       Fmt("%.6f", p.SpeedAt(p.duration)) + ", \"decel_a1\": " + Fmt("%.9f", p.decel_a1) +
       ", \"decel_a2\": " + Fmt("%.6f", p.decel_a2) + ",\r\n";
  j += "  \"abs_mag_peak\": " + Fmt("%.2f", p.abs_mag_peak) + ", \"abs_mag_ends\": " +
       Fmt("%.2f", p.abs_mag_ends) + ",\r\n";
  j += "  \"max_convergence\": " + Fmt("%.4f", t.max_convergence) + ",\r\n";
  j += "  \"stations\": [";
  for (std::size_t i = 0; i < t.seen.size(); ++i) {
    const NetworkSighting& s = t.seen[i];
    j += i ? ",\r\n    " : "\r\n    ";
    j += "{\"station\": " + JsonString(s.station) + ", \"clip\": " + JsonString(s.clip) +
         ", \"dir\": " + JsonString(s.dir.generic_string()) + ",\r\n     \"trigger_utc\": " +
         JsonString(UtcText(s.trigger_mjd)) + ", \"clock_error\": " + Fmt("%.6f", s.clock_error) +
         ", \"begin_delay\": " + Fmt("%.6f", s.begin_delay) + ",\r\n     \"range_begin\": " +
         Fmt("%.3f", s.range_begin) + ", \"range_end\": " + Fmt("%.3f", s.range_end) +
         ", \"length\": " + Fmt("%.4f", s.length_deg) + "}";
  }
  j += t.seen.empty() ? "]\r\n}\r\n" : "\r\n  ]\r\n}\r\n";
  return j;
}

}  // namespace mr4
