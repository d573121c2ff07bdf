#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "base/error.h"
#include "base/process_values.h"
#include "astro/angles.h"
#include "astro/sun.h"
#include "astro/time_scales.h"

namespace mr4 {
namespace {

// The leap-second list of a small table: 1972-01-01 10 s, 1972-07-01 11 s,
// 2017-01-01 37 s. Installed in App() for the tests that need it.
class WithLeapSeconds : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = App().leap_seconds;
    const LeapSecondRow rows[] = {{1972, 1, 1, 10, 0.0f},
                                  {1972, 7, 1, 11, 0.0f},
                                  {2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
  }
  void TearDown() override { App().leap_seconds = saved_; }

 private:
  LeapSecondList saved_;
};

// ERFA's MJD of a civil UTC instant (day from eraCal2jd, fraction of day).
double ErfaMjd(int y, int m, int d, int h, int mi, double s) {
  double djm0 = 0.0, djm = 0.0;
  EXPECT_EQ(eraCal2jd(y, m, d, &djm0, &djm), 0);
  return djm + (h * 3600.0 + mi * 60.0 + s) / 86400.0;
}

TEST(CivilToMjd, KnownDates) {
  struct Case {
    int y, m, d, h, mi;
    float s;
    double mjd;  // expected
    const char* source;
  };
  const Case cases[] = {
      {2000, 1, 1, 12, 0, 0.0f, 51544.5, "J2000.0"},
      {1858, 11, 17, 0, 0, 0.0f, 0.0, "the origin of MJD"},
      {1900, 1, 1, 0, 0, 0.0f, 15020.0, "first month of the table"},
      {2099, 12, 1, 0, 0, 0.0f, 88038.0, "last month of the table"},
      {2000, 2, 29, 18, 0, 0.0f, 51603.75, "leap day (eraCal2jd)"},
      {1900, 3, 1, 0, 0, 0.0f, 15079.0, "1900 is not a leap year"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_NEAR(CivilToMjd(c.y, c.m, c.d, c.h, c.mi, c.s), c.mjd, 1e-9);
  }
}

TEST(CivilToMjd, AgreesWithErfaOver1900To2099) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> year(1900, 2099), month(1, 12), day(1, 28),
      hour(0, 23), minute(0, 59), ms(0, 59999);
  for (int i = 0; i < 20000; ++i) {
    const int y = year(rng), m = month(rng), d = day(rng), h = hour(rng),
              mi = minute(rng);
    const float s = static_cast<float>(ms(rng)) / 1000.0f;
    SCOPED_TRACE(testing::Message() << y << "-" << m << "-" << d << " " << h << ":"
                                    << mi << ":" << s);
    ASSERT_NEAR(CivilToMjd(y, m, d, h, mi, s), ErfaMjd(y, m, d, h, mi, s), 1e-10);
  }
}

TEST(CalendarTables, HoldTheMonthStartsAndARisingSunRow) {
  BuildCalendarTables();
  const CalendarTables& t = Calendar();
  EXPECT_EQ(t.month_start_mjd.front(), 15020.0);
  EXPECT_EQ(t.month_start_mjd.back(), 88038.0);
  for (int row = 0; row < kCalendarYears; ++row) {
    for (int m = 1; m <= 12; ++m) {
      ASSERT_EQ(t.month_start_mjd[row * 12 + m - 1],
                CivilToMjd(1900 + row, m, 1, 0, 0, 0.0f));
    }
    const auto& sun = t.month_start_sun_longitude[row];
    for (int k = 1; k < 12; ++k) ASSERT_GT(sun[k], sun[k - 1]) << "year " << 1900 + row;
  }
  // Row 0: 1900-04-01 to 1900-03-01, about 11 and 340 deg on the ecliptic
  // of date, 1.4 deg more on the J2000 ecliptic (a century of precession).
  EXPECT_NEAR(t.month_start_sun_longitude[0][0], 11.0 + 1.4, 0.5);
  EXPECT_NEAR(t.month_start_sun_longitude[0][11], 340.0 + 1.4, 0.5);
  EXPECT_DOUBLE_EQ(t.month_start_sun_longitude[0][0],
                   SunLongitude(CivilToMjd(1900, 4, 1, 0, 0, 0.0f) + 2400000.5) *
                       kRadToDeg);
}

TEST_F(WithLeapSeconds, UtcToTtMjdTakesTheEntryInForce) {
  struct Case {
    const char* what;
    int y, m, d, h, mi;
    float s;
    double tt_minus_utc;  // s
  };
  const Case cases[] = {
      {"after the newest entry", 2024, 6, 1, 0, 0, 0.0f, 37 + 32.184},
      {"exactly on the newest entry", 2017, 1, 1, 0, 0, 0.0f, 37 + 32.184},
      {"just before the newest entry", 2016, 12, 31, 23, 59, 59.0f, 11 + 32.184},
      {"exactly on the oldest entry", 1972, 1, 1, 0, 0, 0.0f, 10 + 32.184},
      {"before the oldest entry", 1971, 12, 31, 0, 0, 0.0f, 10 + 32.184},
      {"long before: the sentinel", 1900, 1, 1, 0, 0, 0.0f, 10 + 32.184},
      {"a negative MJD", 1800, 1, 1, 0, 0, 0.0f, 10 + 32.184},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double utc = CivilToMjd(c.y, c.m, c.d, c.h, c.mi, c.s);
    EXPECT_NEAR((UtcToTtMjd(c.y, c.m, c.d, c.h, c.mi, c.s) - utc) * 86400.0,
                c.tt_minus_utc, 1e-5);
  }
}

TEST(LocalSiderealTime, KnownValues) {
  struct Case {
    const char* what;
    int y, m, d, h, mi;
    float s;
    int tz;
    double lng;
    double lst;  // expected, deg
    double tolerance;
  };
  const Case cases[] = {
      // eraGmst06 at 2000-01-01 12:00 UT gives 280.46061837504 deg.
      {"J2000.0 at Greenwich", 2000, 1, 1, 12, 0, 0.0f, 0, 0.0, 280.46061837504, 1e-4},
      // The same instant as local time 21:00 in a zone 9 h east, 139.5 E.
      {"J2000.0 from Tokyo's clock", 2000, 1, 1, 21, 0, 0.0f, 32400, 139.5,
       280.46061837504 + 139.5 - 360.0, 1e-4},
      // 02:00 on New Year's day in a zone 5 h east is 1999-12-31 21:00 UT,
      // 15 solar hours before J2000.0 (15.041068640261 sidereal deg each).
      {"carry back across the year", 2000, 1, 1, 2, 0, 0.0f, 18000, 0.0,
       280.46061837504 - 15.0 * 15.041068640261, 1e-4},
      // 22:30 on 31 December in a zone 3.5 h west is 2000-01-01 02:00 UT.
      {"carry forward across the year", 1999, 12, 31, 22, 30, 0.0f, -12600, 0.0,
       280.46061837504 - 10.0 * 15.041068640261, 1e-4},
      // The fraction of the second rides along: 0.5 s later.
      {"fraction of a second", 2000, 1, 1, 12, 0, 0.5f, 0, 0.0,
       280.46061837504 + 0.5 / 3600.0 * 15.041068640261, 1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    double expected = std::fmod(c.lst + 720.0, 360.0);
    EXPECT_NEAR(LocalSiderealTime(c.y, c.m, c.d, c.h, c.mi, c.s, c.tz, c.lng), expected,
                c.tolerance);
  }
}

TEST(LocalSiderealTime, AgreesWithErfaGmst06From1950To2050) {
  // Local clock times in zones from -12 h to +14 h, longitudes all round
  // the globe (the profile's 0..360), UT1 taken as UTC.
  constexpr double kBoundDeg = 0.001;
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> day_number(33282, 69806);  // MJD 1950..2050
  std::uniform_int_distribution<int> second_of_day(0, 86399), ms(0, 999),
      zone(-12 * 4, 14 * 4);
  std::uniform_real_distribution<double> longitude(0.0, 360.0);
  double worst = 0.0;
  for (int i = 0; i < 20000; ++i) {
    const int mjd_ut = day_number(rng);
    const int sod_ut = second_of_day(rng);
    const int milli = ms(rng);
    const int tz = zone(rng) * 900;
    const double lng = longitude(rng);

    // The local clock time of that UT instant.
    int sod_local = sod_ut + tz;
    int mjd_local = mjd_ut;
    while (sod_local < 0) sod_local += 86400, --mjd_local;
    while (sod_local >= 86400) sod_local -= 86400, ++mjd_local;
    int y = 0, m = 0, d = 0;
    double fd = 0.0;
    ASSERT_EQ(eraJd2cal(2400000.5, mjd_local, &y, &m, &d, &fd), 0);
    const float s = static_cast<float>(sod_local % 60) + milli / 1000.0f;

    const double ut = mjd_ut + (sod_ut + static_cast<double>(s) - sod_local % 60) / 86400.0;
    int uy = 0, um = 0, ud = 0;
    ASSERT_EQ(eraJd2cal(2400000.5, mjd_ut, &uy, &um, &ud, &fd), 0);
    double dat = 0.0;
    ASSERT_GE(eraDat(uy, um, ud, 0.5, &dat), 0);
    const double gmst =
        eraGmst06(2400000.5, ut, 2400000.5, ut + (dat + 32.184) / 86400.0) * kRadToDeg;
    const double expected = std::fmod(gmst + lng, 360.0);

    const double got = LocalSiderealTime(y, m, d, sod_local / 3600, sod_local / 60 % 60,
                                         s, tz, lng);
    ASSERT_GE(got, 0.0);
    ASSERT_LE(got, 360.0);
    const double diff = std::fabs(std::remainder(got - expected, 360.0));
    worst = std::max(worst, diff);
    ASSERT_LT(diff, kBoundDeg) << "local " << y << "-" << m << "-" << d << " tz " << tz;
  }
  std::printf("LocalSiderealTime - ERFA: largest %.7f deg\n", worst);
}

TEST(MjdToCivil, KnownInstants) {
  struct Case {
    const char* what;
    double mjd;
    CivilTime expected;
  };
  const double six_pm = CivilToMjd(2000, 1, 1, 18, 0, 0.0f);
  const Case cases[] = {
      {"first instant of the range", 15020.0, {1900, 1, 1, 0, 0, 0.0f}},
      {"last instant of the range", 88038.0, {2099, 12, 1, 0, 0, 0.0f}},
      {"J2000.0", 51544.5, {2000, 1, 1, 12, 0, 0.0f}},
      {"18:00:00 plus 0.0005 s snaps to the whole second", six_pm + 0.0005 / 86400.0,
       {2000, 1, 1, 18, 0, 0.0f}},
      {"18:00:00 minus 0.0005 s snaps up to it", six_pm - 0.0005 / 86400.0,
       {2000, 1, 1, 18, 0, 0.0f}},
      {"a millisecond is kept", six_pm + 12.345 / 86400.0, {2000, 1, 1, 18, 0, 12.345f}},
      {"the snap carries into the next day", 51545.0 - 0.0004 / 86400.0,
       {2000, 1, 2, 0, 0, 0.0f}},
      {"and into the next year", 51544.0 - 0.0004 / 86400.0, {2000, 1, 1, 0, 0, 0.0f}},
      {"rounding to the millisecond carries into the minute",
       CivilToMjd(2010, 6, 30, 2, 52, 59.9996f), {2010, 6, 30, 2, 53, 0.0f}},
      {"the last day of February in a leap year", CivilToMjd(2000, 2, 29, 23, 0, 0.0f),
       {2000, 2, 29, 23, 0, 0.0f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CivilTime t = MjdToCivil(c.mjd);
    EXPECT_EQ(t.year, c.expected.year);
    EXPECT_EQ(t.month, c.expected.month);
    EXPECT_EQ(t.day, c.expected.day);
    EXPECT_EQ(t.hour, c.expected.hour);
    EXPECT_EQ(t.minute, c.expected.minute);
    EXPECT_EQ(t.second, c.expected.second);
  }
}

TEST(MjdToCivil, EveryWholeMinuteComesBackWithSecondZero) {
  // Whole-minute instants used to come back as hh:mm-1:60 for about a third
  // of the minutes of a day.
  for (int day : {15020, 33282, 51544, 60000, 88037}) {
    for (int minute_of_day = 0; minute_of_day < 1440; ++minute_of_day) {
      const CivilTime date = MjdToCivil(day);
      const double mjd = CivilToMjd(date.year, date.month, date.day, minute_of_day / 60,
                                    minute_of_day % 60, 0.0f);
      const CivilTime t = MjdToCivil(mjd);
      ASSERT_EQ(t.hour * 60 + t.minute, minute_of_day) << "MJD " << day;
      ASSERT_EQ(t.second, 0.0f) << "MJD " << day << " minute " << minute_of_day;
    }
  }
}

TEST(MjdToCivil, RoundTripsCivilTimesToTheMillisecond) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> year(1900, 2098), month(1, 12), day(1, 28),
      hour(0, 23), minute(0, 59), ms(0, 59999);
  for (int i = 0; i < 50000; ++i) {
    const CivilTime in{year(rng), month(rng), day(rng), hour(rng), minute(rng),
                       static_cast<float>(ms(rng)) / 1000.0f};
    const CivilTime out =
        MjdToCivil(CivilToMjd(in.year, in.month, in.day, in.hour, in.minute, in.second));
    // Within 1 ms of a whole second the second snaps to it; the instants
    // right at 1 ms may fall on either side of the snap and are not judged.
    const float whole = std::floor(in.second + 0.5f);
    const float off = std::fabs(in.second - whole);
    if (whole == 60.0f || (off > 0.0009f && off < 0.0011f)) continue;
    const float expected = off <= 0.0009f ? whole : in.second;
    SCOPED_TRACE(testing::Message() << in.year << "-" << in.month << "-" << in.day << " "
                                    << in.hour << ":" << in.minute << ":" << in.second);
    ASSERT_EQ(out.year, in.year);
    ASSERT_EQ(out.month, in.month);
    ASSERT_EQ(out.day, in.day);
    ASSERT_EQ(out.hour, in.hour);
    ASSERT_EQ(out.minute, in.minute);
    ASSERT_EQ(out.second, expected);
  }
}

TEST(MjdToCivilDeathTest, OutsideTheTableEndsWith9003) {
  EXPECT_EXIT(MjdToCivil(15020.0 - 1e-6), testing::ExitedWithCode(99), "err=9003");
  EXPECT_EXIT(MjdToCivil(88038.0 + 1e-6), testing::ExitedWithCode(99), "err=9003");
  EXPECT_EXIT(MjdToCivil(std::nan("")), testing::ExitedWithCode(99), "err=9003");
}

// True when the Sun passes `lambda` during the day `mjd` (0h to 0h).
bool SunPassesOn(double lambda, double mjd) {
  const double a = std::remainder(lambda - SunLongitude(mjd + 2400000.5) * kRadToDeg, 360.0);
  const double b =
      std::remainder(lambda - SunLongitude(mjd + 1.0 + 2400000.5) * kRadToDeg, 360.0);
  return a >= 0.0 && b < 0.0;
}

TEST(SolarLongitudeToDate, GivesTheDayTheSunPassesTheLongitude) {
  for (int year : {1900, 1901, 1950, 2000, 2007, 2024, 2050, 2099}) {
    for (double lambda = 0.05; lambda < 360.0; lambda += 0.29) {
      const MonthDay md = SolarLongitudeToDate(lambda, year);
      SCOPED_TRACE(testing::Message() << "year " << year << " lambda " << lambda
                                      << " -> " << md.month << "/" << md.day);
      // Near 280 deg the passage falls on 31 December or 1 January, and the
      // neighbouring year's date is the one reported.
      bool ok = SunPassesOn(lambda, CivilToMjd(year, md.month, md.day, 0, 0, 0.0f));
      if (!ok && md.month == 1 && md.day == 1) {
        ok = SunPassesOn(lambda, CivilToMjd(year + 1, 1, 1, 0, 0, 0.0f));
      }
      if (!ok && md.month == 12 && md.day == 31) {
        ok = SunPassesOn(lambda, CivilToMjd(year - 1, 12, 31, 0, 0, 0.0f));
      }
      ASSERT_TRUE(ok);
    }
  }
}

TEST(SolarLongitudeToDate, TableEndsAndYearsOutsideTheTable) {
  const auto& row2024 = Calendar().month_start_sun_longitude[2024 - 1900];
  struct Case {
    const char* what;
    double lambda;
    int year;
    int month, day;  // expected
  };
  const Case cases[] = {
      {"the value of 1 April", row2024[0], 2024, 4, 1},
      {"just below the value of 1 April", row2024[0] - 0.01, 2024, 3, 31},
      {"the value of 1 March", row2024[11], 2024, 3, 1},
      {"just below the value of 1 March", row2024[11] - 0.01, 2024, 2, 29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MonthDay md = SolarLongitudeToDate(c.lambda, c.year);
    EXPECT_EQ(md.month, c.month);
    EXPECT_EQ(md.day, c.day);
  }
  // A year outside 1900..2099 is taken as 2007.
  for (double lambda : {0.0, 45.5, 139.8, 280.0, 359.9}) {
    SCOPED_TRACE(lambda);
    const MonthDay in2007 = SolarLongitudeToDate(lambda, 2007);
    for (int year : {2150, 1899, -5}) {
      const MonthDay md = SolarLongitudeToDate(lambda, year);
      EXPECT_EQ(md.month, in2007.month);
      EXPECT_EQ(md.day, in2007.day);
    }
  }
}

}  // namespace
}  // namespace mr4

namespace mr4 {
namespace {

// Folds by whole turns, in one step however far the angle lies from the
// circle (a shower table or a capture record may hold 1e30): each fold keeps
// its own end of the range.
TEST(AngleFolds, KeepTheirRangeEndsAndTakeHugeValuesInOneStep) {
  struct Case {
    double deg;
    double fold360, wrap360, wrap180;  // expected
  };
  const Case cases[] = {
      {0.0, 0.0, 0.0, 0.0},        {360.0, 360.0, 0.0, 0.0},
      {720.0, 360.0, 0.0, 0.0},    {-360.0, 0.0, 0.0, 0.0},
      {-90.0, 270.0, 270.0, -90.0}, {180.0, 180.0, 180.0, 180.0},
      {-180.0, 180.0, 180.0, 180.0}, {541.5, 181.5, 181.5, -178.5},
      {-725.0, 355.0, 355.0, -5.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deg);
    EXPECT_EQ(Fold360(c.deg), c.fold360);
    EXPECT_EQ(Wrap360(c.deg), c.wrap360);
    EXPECT_EQ(Wrap180(c.deg), c.wrap180);
  }
  for (double huge : {1e30, -1e30, 3.4e38, -1e300}) {
    SCOPED_TRACE(huge);
    const double folded = Fold360(huge);
    EXPECT_GE(folded, 0.0);
    EXPECT_LE(folded, 360.0);
    EXPECT_EQ(Wrap360(huge), std::fmod(folded, 360.0));
    EXPECT_GT(Wrap180(huge), -180.0);
    EXPECT_LE(Wrap180(huge), 180.0);
  }
  for (double bad : {INFINITY, -INFINITY, NAN}) {
    EXPECT_TRUE(std::isnan(Fold360(bad))) << bad;
  }
}

TEST(AngleFolds, SiderealTimeAndSolarDatesOfHugeValuesEnd) {
  const double lst = LocalSiderealTime(2024, 8, 12, 23, 15, 30.0f, 32400, 1e30);
  EXPECT_GE(lst, 0.0);
  EXPECT_LE(lst, 360.0);

  // A solar longitude is taken by whole turns; one that is not finite as 0.
  struct Case {
    double lambda, same_as;
  };
  const Case cases[] = {{370.0, 10.0}, {-45.0, 315.0}, {720.0 + 139.5, 139.5},
                        {NAN, 0.0},    {INFINITY, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lambda);
    const MonthDay md = SolarLongitudeToDate(c.lambda, 2024);
    const MonthDay expected = SolarLongitudeToDate(c.same_as, 2024);
    EXPECT_EQ(md.month, expected.month);
    EXPECT_EQ(md.day, expected.day);
  }
  for (double lambda : {1e30, -1e30}) {
    const MonthDay md = SolarLongitudeToDate(lambda, 2024);
    EXPECT_GE(md.month, 1) << lambda;
    EXPECT_LE(md.month, 12) << lambda;
    EXPECT_GE(md.day, 1) << lambda;
    EXPECT_LE(md.day, 31) << lambda;
  }
  // The lowest int year is outside the table, taken as 2007.
  const MonthDay lowest = SolarLongitudeToDate(139.5, INT32_MIN);
  const MonthDay in2007 = SolarLongitudeToDate(139.5, 2007);
  EXPECT_EQ(lowest.month, in2007.month);
  EXPECT_EQ(lowest.day, in2007.day);
}

}  // namespace
}  // namespace mr4
