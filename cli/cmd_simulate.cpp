// mr4 simulate: writes synthetic clips of the real sky (one clip, or a night
// of them) the way the capture program writes them, with a truth file each.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/process_values.h"
#include "calib/camera_profile.h"
#include "calib/profile_file.h"
#include "calib/star_catalogue.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "sim/clip_simulator.h"
#include "sim/network_simulator.h"

namespace mr4::cli {
namespace {

bool ParseDateTime(const std::string& text, bool with_time, CivilTime* t) {
  double second = 0.0;
  char sep = 0, end = 0;
  const int n = with_time ? std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf%c", &t->year,
                                        &t->month, &t->day, &sep, &t->hour, &t->minute,
                                        &second, &end)
                          : std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &t->year, &t->month,
                                        &t->day, &end);
  if (n != (with_time ? 7 : 3) || (with_time && sep != ' ' && sep != 'T')) return false;
  t->second = static_cast<float>(second);
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t->year < 1901 || t->year > 2098 || t->month < 1 || t->month > 12) return false;
  const bool leap = t->year % 4 == 0 && (t->year % 100 != 0 || t->year % 400 == 0);
  const int days = kDays[t->month - 1] + (t->month == 2 && leap ? 1 : 0);
  return t->day >= 1 && t->day <= days && t->hour >= 0 && t->hour <= 23 && t->minute >= 0 &&
         t->minute <= 59 && second >= 0.0 && second < 60.0;
}

void PrintClip(const SimClipResult& clip) {
  std::printf("%s frames=%d stars=%d", clip.base.c_str(), clip.frames, clip.stars_marked);
  for (const SimObjectTruth& o : clip.objects) {
    std::printf(" %s %s", SimObjectKindName(o.kind), o.ideal_class.c_str());
  }
  if (clip.objects.empty()) std::printf(" none");
  std::printf("\n");
}

void PrintNetworkMeteor(const NetworkMeteorResult& meteor) {
  const NetworkMeteorTruth& t = meteor.truth;
  std::printf("%s %s v=%.1f km/s h=%.1f-%.1f km convergence=%.1f deg:", t.name.c_str(),
              t.path.shower.c_str(), t.path.speed, t.begin.height, t.end.height,
              t.max_convergence);
  for (const NetworkSighting& s : t.seen) std::printf(" %s %s", s.station.c_str(), s.clip.c_str());
  std::printf("\n");
}

// The stations of a stations file, each with its camera profile.
bool LoadStations(const std::string& name, std::vector<NetworkStation>* stations,
                  std::string* error) {
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    *error = "cannot read the stations file " + name;
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::vector<StationLine> lines;
  if (!ParseStationsText(text, &lines, error)) {
    *error = name + ": " + *error;
    return false;
  }
  for (const StationLine& line : lines) {
    const std::filesystem::path path(line.profile);
    const std::filesystem::path file = path.has_parent_path() ? path : ProfileFile(line.profile);
    CameraProfile camera = CurrentProfile();
    if (!ReadProfileFile(file, camera)) {
      *error = name + ": station " + line.id + ": cannot read the profile " + file.string();
      return false;
    }
    stations->push_back(MakeNetworkStation(line, camera, line.dir));
  }
  return true;
}

}  // namespace

int RunSimulate(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--out", OptionKind::kValue},       {"--profile", OptionKind::kValue},
                  {"--time", OptionKind::kValue},      {"--shower", OptionKind::kValue},
                  {"--radiant", OptionKind::kValue},   {"--speed", OptionKind::kValue},
                  {"--mag-peak", OptionKind::kValue},  {"--duration", OptionKind::kValue},
                  {"--object", OptionKind::kValue},    {"--format", OptionKind::kValue},
                  {"--interlaced", OptionKind::kFlag}, {"--bbf", OptionKind::kFlag},
                  {"--frames", OptionKind::kValue},    {"--head", OptionKind::kValue},
                  {"--tail", OptionKind::kValue},      {"--seed", OptionKind::kValue},
                  {"--clock-error", OptionKind::kValue}, {"--suffix", OptionKind::kValue},
                  {"--fisheye", OptionKind::kFlag},    {"--night", OptionKind::kFlag},
                  {"--date", OptionKind::kValue},      {"--clips", OptionKind::kValue},
                  {"--stations", OptionKind::kValue},  {"--clock-spread", OptionKind::kValue},
                  {"--singles", OptionKind::kValue},   {"--decel", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  const auto out = parsed.Value("--out");
  if (!out || out->empty()) return UsageError(context, "--out DIR is required");

  SimOptions o;
  o.profile = CurrentProfile();
  if (const auto name = parsed.Value("--profile")) {
    const std::filesystem::path path(*name);
    const std::filesystem::path file = path.has_parent_path() ? path : ProfileFile(*name);
    if (!ReadProfileFile(file, o.profile)) {
      return UsageError(context, "cannot read the profile " + file.string());
    }
  }
  auto number = [&](const char* option, double* value, double lo, double hi) {
    const auto text = parsed.Value(option);
    if (!text) return true;
    if (!ParseDouble(*text, value) || !std::isfinite(*value) || *value < lo || *value > hi) {
      error = std::string(option) + " '" + *text + "' is not a number in range";
      return false;
    }
    return true;
  };
  auto integer = [&](const char* option, int* value, int lo, int hi) {
    const auto text = parsed.Value(option);
    if (!text) return true;
    if (!ParseInt(*text, value) || *value < lo || *value > hi) {
      error = std::string(option) + " '" + *text + "' is not a whole number in range";
      return false;
    }
    return true;
  };
  double seed = 1;
  if (!number("--speed", &o.radiant.speed, 11.0, 75.0) ||
      !number("--mag-peak", &o.mag_peak, -15.0, 8.0) ||
      !number("--duration", &o.duration, 0.0, 60.0) ||
      !number("--clock-error", &o.clock_error, -86400.0, 86400.0) ||
      !number("--seed", &seed, 0.0, 4e9) || !integer("--frames", &o.frames, 0, 100000) ||
      !integer("--head", &o.head, 0, 10000) || !integer("--tail", &o.tail, 0, 10000)) {
    return UsageError(context, error);
  }
  o.seed = static_cast<std::uint64_t>(seed);
  if (const auto text = parsed.Value("--object"); text && !ParseSimObjectKind(*text, &o.object)) {
    return UsageError(context, "--object must be meteor, flash, slow, curve or none");
  }
  if (const auto text = parsed.Value("--format"); text && !ParseSimFormat(*text, &o.format)) {
    return UsageError(context, "--format must be yuy2, uyvy, dib8, dib24 or dib32");
  }
  if (parsed.Has("--shower") && parsed.Has("--radiant")) {
    return UsageError(context, "give --shower CODE or --radiant RA,DEC, not both");
  }
  if (const auto code = parsed.Value("--shower")) o.radiant.shower = *code;
  if (const auto text = parsed.Value("--radiant")) {
    const std::vector<std::string> parts = SplitComma(*text);
    if (parts.size() != 2 || !ParseDouble(parts[0], &o.radiant.ra) ||
        !ParseDouble(parts[1], &o.radiant.dec) || o.radiant.dec < -90 || o.radiant.dec > 90) {
      return UsageError(context, "--radiant '" + *text + "' is not RA,DEC in degrees");
    }
    o.radiant.given = true;
  }
  if (const auto s = parsed.Value("--suffix")) o.suffix = *s;
  o.interlaced = parsed.Has("--interlaced");
  o.bbf = parsed.Has("--bbf");
  o.fisheye = parsed.Has("--fisheye");
  o.profile.p_inter = o.interlaced;
  o.profile.p_bbf = o.bbf;

  if (const auto file = parsed.Value("--stations")) {
    if (parsed.Has("--profile")) {
      return UsageError(context, "--stations gives each station its profile; drop --profile");
    }
    NetworkOptions network;
    network.render = o;
    if (!number("--clock-spread", &network.clock_spread, 0.0, 60.0)) {
      return UsageError(context, error);
    }
    NetworkMeteorRequest request;
    request.radiant = o.radiant;
    request.duration = o.duration;
    request.seed = o.seed;
    if (parsed.Has("--mag-peak")) request.abs_mag_peak = o.mag_peak;
    if (const auto text = parsed.Value("--decel")) {
      const std::vector<std::string> parts = SplitComma(*text);
      if (*text == "random") {
        network.deceleration = true;
      } else if (parts.size() != 2 || !ParseDouble(parts[0], &request.decel_a1) ||
                 !ParseDouble(parts[1], &request.decel_a2) || !(request.decel_a1 >= 0) ||
                 !(request.decel_a1 <= 100) || !(request.decel_a2 >= 0) ||
                 !(request.decel_a2 <= 100)) {
        return UsageError(context, "--decel '" + *text + "' is not A1,A2 (km, 1/s) nor random");
      } else {
        request.decel_given = true;
      }
    }
    if (o.object != SimObjectKind::kMeteor) {
      return UsageError(context, "--stations simulates meteors only");
    }
    std::vector<NetworkStation> stations;
    if (!LoadStations(*file, &stations, &error)) return UsageError(context, error);
    if (parsed.Has("--night")) {
      CivilTime date;
      const auto text = parsed.Value("--date");
      if (!text) return UsageError(context, "--night needs --date YYYY-MM-DD");
      if (!ParseDateTime(*text, false, &date)) {
        return UsageError(context,
                          "--date '" + *text + "' is not a valid YYYY-MM-DD in 1901..2098");
      }
      int clips = 10;
      int singles = -1;
      if (!integer("--clips", &clips, 1, 1000) || !integer("--singles", &singles, 0, 1000)) {
        return UsageError(context, error);
      }
      if (singles < 0) singles = (clips + 3) / 4;
      const NetworkNightResult night = SimulateNetworkNight(
          stations, network, date.year, date.month, date.day, clips, singles, StarMap(), *out);
      for (const NetworkMeteorResult& meteor : night.meteors) PrintNetworkMeteor(meteor);
      for (std::size_t i = 0; i < night.singles.size(); ++i) {
        std::printf("single %s ", night.single_stations[i].c_str());
        PrintClip(night.singles[i]);
      }
      if (!night.ok) {
        std::fprintf(stderr, "mr4 simulate: %s\n", night.error.c_str());
        return kExitSomeFailed;
      }
      return kExitOk;
    }
    const auto time = parsed.Value("--time");
    if (!time) return UsageError(context, "--time 'YYYY-MM-DD hh:mm:ss' is required");
    CivilTime begin;
    if (!ParseDateTime(*time, true, &begin)) {
      return UsageError(context, "--time '" + *time +
                                     "' is not a valid 'YYYY-MM-DD hh:mm:ss' in 1901..2098");
    }
    // The begin in the first station's zone.
    request.begin_mjd = CivilToMjd(begin.year, begin.month, begin.day, begin.hour, begin.minute,
                                   begin.second) -
                        stations[0].profile.p_tz / 86400.0;
    const NetworkMeteorResult meteor =
        SimulateNetworkMeteor(stations, network, request, StarMap(), *out);
    if (!meteor.ok) {
      std::fprintf(stderr, "mr4 simulate: %s\n", meteor.error.c_str());
      return kExitSomeFailed;
    }
    PrintNetworkMeteor(meteor);
    return kExitOk;
  }
  for (const char* option : {"--clock-spread", "--singles", "--decel"}) {
    if (parsed.Has(option)) return UsageError(context, std::string(option) + " needs --stations");
  }

  if (parsed.Has("--night")) {
    CivilTime date;
    const auto text = parsed.Value("--date");
    if (!text) return UsageError(context, "--night needs --date YYYY-MM-DD");
    if (!ParseDateTime(*text, false, &date)) {
      return UsageError(context, "--date '" + *text + "' is not a valid YYYY-MM-DD in 1901..2098");
    }
    int clips = 10;
    if (!integer("--clips", &clips, 1, 1000)) return UsageError(context, error);
    const SimNightResult night =
        SimulateNight(o, date.year, date.month, date.day, clips, StarMap(), *out);
    for (const SimClipResult& clip : night.clips) PrintClip(clip);
    if (!night.ok) {
      std::fprintf(stderr, "mr4 simulate: %s\n", night.error.c_str());
      return kExitSomeFailed;
    }
    return kExitOk;
  }
  const auto time = parsed.Value("--time");
  if (!time) return UsageError(context, "--time 'YYYY-MM-DD hh:mm:ss' is required");
  if (!ParseDateTime(*time, true, &o.trigger)) {
    return UsageError(context, "--time '" + *time +
                                   "' is not a valid 'YYYY-MM-DD hh:mm:ss' in 1901..2098");
  }
  const SimClipResult clip = SimulateClip(o, StarMap(), *out);
  if (!clip.ok) {
    std::fprintf(stderr, "mr4 simulate: %s\n", clip.error.c_str());
    return kExitSomeFailed;
  }
  PrintClip(clip);
  return kExitOk;
}

}  // namespace mr4::cli
