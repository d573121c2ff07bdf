// End-to-end checks of `mr4 sky`: its lines against the engine's routines,
// and its refusals of bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "astro/sky_coordinates.h"
#include "astro/sun.h"
#include "astro/time_scales.h"
#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

// name=value lines, in order.
std::vector<std::pair<std::string, double>> ParseLines(const std::string& out) {
  std::vector<std::pair<std::string, double>> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    EXPECT_NE(eq, std::string::npos) << line;
    if (eq == std::string::npos) continue;
    lines.emplace_back(line.substr(0, eq), std::strtod(line.c_str() + eq + 1, nullptr));
  }
  return lines;
}

std::map<std::string, double> RunSky(const TempDir& home,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--home", home.path().string(), "sky"};
  all.insert(all.end(), args.begin(), args.end());
  const ProgramResult r = RunMr4(all);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const auto lines = ParseLines(r.out);
  std::vector<std::string> names;
  for (const auto& [name, value] : lines) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"mjd_utc", "mjd_tt", "lst", "solar_longitude",
                                             "az", "ev", "ra", "dec", "ev_apparent"}));
  return {lines.begin(), lines.end()};
}

TEST(SkyCommand, ConvertsAsTheEngineDoes) {
  TempHome home("mr4-sky");
  // Vega from Tokyo at J2000.0 (21:00 local, 9 h east of UT).
  auto v = RunSky(home, {"--site", "139.5,35.7,50", "--time", "2000-01-01 21:00:00",
                         "--tz", "32400", "--radec", "279.23,38.78"});
  EXPECT_DOUBLE_EQ(v["mjd_utc"], 51544.5);
  const double tt_minus_utc = (v["mjd_tt"] - v["mjd_utc"]) * 86400.0;
  EXPECT_GE(tt_minus_utc, 32.184 - 0.01);
  EXPECT_LE(tt_minus_utc, 32.184 + 37.0 + 0.01);
  const double lst = LocalSiderealTime(2000, 1, 1, 21, 0, 0.0f, 32400, 139.5);
  EXPECT_NEAR(v["lst"], lst, 1e-6);
  EXPECT_NEAR(v["lst"], 280.46061837504 + 139.5 - 360.0, 1e-4);
  EXPECT_NEAR(v["solar_longitude"], SunLongitude(2451545.0) * 57.29577951308234, 1e-6);
  const HorizontalPoint h = EquatorialToHorizontal(v["mjd_tt"], lst, 35.7, 279.23, 38.78);
  EXPECT_NEAR(v["az"], h.az, 1e-6);
  EXPECT_NEAR(v["ev"], h.ev, 1e-6);
  EXPECT_NEAR(v["ra"], 279.23, 1e-9);
  EXPECT_NEAR(v["dec"], 38.78, 1e-9);
  EXPECT_NEAR(v["ev_apparent"], TrueToApparentElevation(h.ev, 58.3), 1e-6);

  // And back: the horizontal position gives the star again.
  char azel[64];
  std::snprintf(azel, sizeof azel, "%.6f,%.6f", v["az"], v["ev"]);
  auto w = RunSky(home, {"--site", "139.5,35.7", "--time", "2000-01-01 21:00:00", "--tz",
                         "32400", "--azel", azel});
  EXPECT_NEAR(w["ra"], 279.23, 1e-5);
  EXPECT_NEAR(w["dec"], 38.78, 1e-5);
  EXPECT_DOUBLE_EQ(w["lst"], v["lst"]);
}

TEST(SkyCommand, BadInputIsAUsageError) {
  TempHome home("mr4-sky-bad");
  const std::vector<std::string> good_site = {"--site", "139.5,35.7"};
  struct Case {
    std::vector<std::string> args;
    std::string err_part;
  };
  const Case cases[] = {
      {{"--time", "2020-01-01 00:00:00", "--radec", "1,2"}, "--site"},
      {{"--site", "139.5,35.7", "--radec", "1,2"}, "--time"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00"}, "exactly one of"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00", "--radec", "1,2", "--azel",
        "1,2"},
       "exactly one of"},
      {{"--site", "139.5,95", "--time", "2020-01-01 00:00:00", "--radec", "1,2"},
       "latitude must lie in -90..90"},
      {{"--site", "139.5", "--time", "2020-01-01 00:00:00", "--radec", "1,2"},
       "is not LNG,LAT[,ALT]"},
      {{"--site", "abc,35", "--time", "2020-01-01 00:00:00", "--radec", "1,2"},
       "is not LNG,LAT[,ALT]"},
      {{"--site", "400,35", "--time", "2020-01-01 00:00:00", "--radec", "1,2"},
       "longitude must lie"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01", "--radec", "1,2"},
       "is not 'YYYY-MM-DD hh:mm:ss'"},
      {{"--site", "139.5,35.7", "--time", "2020/01/01 00:00:00", "--radec", "1,2"},
       "is not 'YYYY-MM-DD hh:mm:ss'"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00x", "--radec", "1,2"},
       "is not 'YYYY-MM-DD hh:mm:ss'"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00: 5", "--radec", "1,2"},
       "is not 'YYYY-MM-DD hh:mm:ss'"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:05.", "--radec", "1,2"},
       "is not 'YYYY-MM-DD hh:mm:ss'"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:59.99999999", "--radec", "1,2"},
       "is not a valid date and time"},
      {{"--site", "139.5,35.7", "--time", "2021-02-29 00:00:00", "--radec", "1,2"},
       "is not a valid date and time"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 24:00:00", "--radec", "1,2"},
       "is not a valid date and time"},
      {{"--site", "139.5,35.7", "--time", "1899-12-31 23:00:00", "--radec", "1,2"},
       "years 1900 to 2099"},
      {{"--site", "139.5,35.7", "--time", "2100-01-01 00:00:00", "--radec", "1,2"},
       "years 1900 to 2099"},
      {{"--site", "139.5,35.7", "--time", "1900-01-01 01:00:00", "--tz", "7200", "--radec",
        "1,2"},
       "instant in UT must lie in the years 1900 to 2099"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00", "--tz", "9h", "--radec",
        "1,2"},
       "--tz '9h'"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00", "--radec", "1"},
       "is not two numbers"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00", "--azel", "10,91"},
       "the second in -90..90"},
      {{"--site", "139.5,35.7", "--time", "2020-01-01 00:00:00", "--radec", "nan,2"},
       "is not two numbers"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> all = {"--home", home.path().string(), "sky"};
    all.insert(all.end(), c.args.begin(), c.args.end());
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const ProgramResult r = RunMr4(all);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace mr4::test
