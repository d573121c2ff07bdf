// mr4 sky: a small calculator for checking a pointing or a radiant. Converts
// one position between J2000 equatorial and horizontal coordinates for a
// site and a local clock time, the way the analysis does for a clip.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/sun.h"
#include "astro/time_scales.h"
#include "cli/args.h"
#include "cli/commands.h"

namespace mr4::cli {
namespace {

// Parses min_count to max_count comma-separated finite numbers.
bool ParseNumberList(const std::string& text, int min_count, int max_count,
                     double* values, int* count) {
  const std::vector<std::string> parts = SplitComma(text);
  const int n = static_cast<int>(parts.size());
  if (n < min_count || n > max_count) return false;
  for (int i = 0; i < n; ++i) {
    if (!ParseDouble(parts[i], &values[i]) || !std::isfinite(values[i])) return false;
  }
  *count = n;
  return true;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// True when `text` has the shape "dddd-dd-dd dd:dd:dd" with an optional
// ".d..." (a 'T' may stand for the blank).
bool HasTimeShape(const std::string& text) {
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  const std::size_t n = sizeof kShape - 1;
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool ok = kShape[i] == 'd'   ? (c >= '0' && c <= '9')
                    : kShape[i] == ' ' ? (c == ' ' || c == 'T')
                                       : c == kShape[i];
    if (!ok) return false;
  }
  if (text.size() == n) return true;
  if (text[n] != '.' || text.size() == n + 1) return false;
  for (std::size_t i = n + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// "YYYY-MM-DD hh:mm:ss[.fff]" into a civil time.
bool ParseLocalTime(const std::string& text, CivilTime* t, std::string* error) {
  char sep = 0;
  double second = 0.0;
  if (!HasTimeShape(text) ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf", &t->year, &t->month, &t->day,
                  &sep, &t->hour, &t->minute, &second) != 7) {
    *error = "--time '" + text + "' is not 'YYYY-MM-DD hh:mm:ss'";
    return false;
  }
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t->year < kCalendarFirstYear || t->year >= kCalendarFirstYear + kCalendarYears) {
    *error = "--time: the date must lie in the years 1900 to 2099";
    return false;
  }
  const bool day_ok =
      t->month >= 1 && t->month <= 12 && t->day >= 1 &&
      t->day <= kDays[t->month - 1] + (t->month == 2 && IsLeapYear(t->year) ? 1 : 0);
  if (!day_ok || t->hour < 0 || t->hour > 23 || t->minute < 0 || t->minute > 59 ||
      !(second >= 0.0 && static_cast<float>(second) < 60.0f)) {
    *error = "--time '" + text + "' is not a valid date and time";
    return false;
  }
  t->second = static_cast<float>(second);
  return true;
}

}  // namespace

int RunSky(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--site", OptionKind::kValue},
                  {"--time", OptionKind::kValue},
                  {"--tz", OptionKind::kValue},
                  {"--radec", OptionKind::kValue},
                  {"--azel", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  if (!parsed.Has("--site")) {
    return UsageError(context, "--site LNG,LAT[,ALT] is required");
  }
  if (!parsed.Has("--time")) {
    return UsageError(context, "--time 'YYYY-MM-DD hh:mm:ss' is required");
  }
  if (parsed.Has("--radec") == parsed.Has("--azel")) {
    return UsageError(context, "give exactly one of --radec RA,DEC and --azel AZ,EL");
  }

  double site[3] = {0.0, 0.0, 0.0};
  int n = 0;
  if (!ParseNumberList(*parsed.Value("--site"), 2, 3, site, &n)) {
    return UsageError(context, "--site '" + *parsed.Value("--site") +
                                   "' is not LNG,LAT[,ALT] in degrees and metres");
  }
  const double lng = site[0], lat = site[1];
  if (lng < -180.0 || lng > 360.0) {
    return UsageError(context, "--site: the longitude must lie in -180..360 degrees");
  }
  if (lat < -90.0 || lat > 90.0) {
    return UsageError(context, "--site: the latitude must lie in -90..90 degrees");
  }

  CivilTime local;
  if (!ParseLocalTime(*parsed.Value("--time"), &local, &error)) {
    return UsageError(context, error);
  }
  int tz = 0;
  if (parsed.Has("--tz")) {
    if (!ParseInt(*parsed.Value("--tz"), &tz) || tz <= -86400 || tz >= 86400) {
      return UsageError(context, "--tz '" + *parsed.Value("--tz") +
                                     "' is not a zone offset in seconds east of UT "
                                     "(-86399..86399)");
    }
  }

  double pos[2] = {0.0, 0.0};
  const bool from_radec = parsed.Has("--radec");
  const std::string pos_text = *parsed.Value(from_radec ? "--radec" : "--azel");
  if (!ParseNumberList(pos_text, 2, 2, pos, &n)) {
    return UsageError(context, std::string(from_radec ? "--radec" : "--azel") + " '" +
                                   pos_text + "' is not two numbers in degrees");
  }
  if (pos[0] < -360.0 || pos[0] > 360.0 || pos[1] < -90.0 || pos[1] > 90.0) {
    return UsageError(context, std::string(from_radec ? "--radec" : "--azel") +
                                   ": the first angle must lie in -360..360 and "
                                   "the second in -90..90 degrees");
  }

  // The clip's instant values, computed as a clip record's are.
  const double mjd_utc =
      CivilToMjd(local.year, local.month, local.day, local.hour, local.minute,
                 local.second) -
      tz / 86400.0;
  if (mjd_utc < kCalendarFirstMjd || mjd_utc >= CivilToMjd(2100, 1, 1, 0, 0, 0.0f)) {
    return UsageError(context, "the instant in UT must lie in the years 1900 to 2099");
  }
  // TAI - UTC is looked up at the UT instant.
  const CivilTime ut = MjdToCivil(mjd_utc);
  const double tt_minus_utc =
      UtcToTtMjd(ut.year, ut.month, ut.day, ut.hour, ut.minute, ut.second) -
      CivilToMjd(ut.year, ut.month, ut.day, ut.hour, ut.minute, ut.second);
  const double mjd_tt = mjd_utc + tt_minus_utc;
  const double lst = LocalSiderealTime(local.year, local.month, local.day, local.hour,
                                       local.minute, local.second, tz, lng);
  const double solar_longitude = SunLongitude(mjd_utc + 2400000.5) * kRadToDeg;

  HorizontalPoint hor;
  EquatorialPoint equ;
  if (from_radec) {
    equ = {pos[0], pos[1]};
    hor = EquatorialToHorizontal(mjd_tt, lst, lat, equ.ra, equ.dec);
  } else {
    hor = {pos[0], pos[1]};
    equ = HorizontalToEquatorial(mjd_tt, lst, lat, hor.az, hor.ev);
  }
  const double ev_apparent =
      TrueToApparentElevation(hor.ev, kStandardRefractionConstant);

  std::printf("mjd_utc=%.8f\n", mjd_utc);
  std::printf("mjd_tt=%.8f\n", mjd_tt);
  std::printf("lst=%.6f\n", lst);
  std::printf("solar_longitude=%.6f\n", solar_longitude);
  std::printf("az=%.6f\n", hor.az);
  std::printf("ev=%.6f\n", hor.ev);
  std::printf("ra=%.6f\n", equ.ra);
  std::printf("dec=%.6f\n", equ.dec);
  std::printf("ev_apparent=%.6f\n", ev_apparent);
  return kExitOk;
}

}  // namespace mr4::cli
