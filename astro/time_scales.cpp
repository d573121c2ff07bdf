#include "astro/time_scales.h"

#include <cmath>
#include <cstdint>

#include "base/error.h"
#include "base/process_values.h"
#include "astro/angles.h"
#include "astro/sun.h"

namespace mr4 {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::int64_t kMillisecondsPerDay = 86400000;

CalendarTables MakeCalendarTables() {
  static constexpr int kMonthsFromApril[12] = {4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                1, 2, 3};
  CalendarTables t;
  for (int row = 0; row < kCalendarYears; ++row) {
    const int year = kCalendarFirstYear + row;
    for (int k = 0; k < 12; ++k) {
      const int month = kMonthsFromApril[k];
      const double mjd = CivilToMjd(year, month, 1, 0, 0, 0.0f);
      t.month_start_mjd[row * 12 + month - 1] = mjd;
      t.month_start_sun_longitude[row][k] =
          SunLongitude(mjd + 2400000.5) * kRadToDeg;
    }
  }
  return t;
}

// Gregorian date of a whole MJD, valid for any day (no table involved).
void DateOfDayNumber(std::int64_t mjd, int* year, int* month, int* day) {
  // Days since 0000-03-01 in the proleptic Gregorian calendar.
  const std::int64_t z = mjd + 678881;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

int DaysInMonth(int year, int month) {
  switch (month) {
    case 2: {
      const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
      return leap ? 29 : 28;
    }
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    default:
      return 31;
  }
}

// How far (deg, in (-180, 180)) the longitude lies ahead of the Sun at 0h
// of the day `mjd`.
double LongitudeAhead(double longitude_deg, double mjd) {
  double d = longitude_deg - SunLongitude(mjd + 2400000.5) * kRadToDeg;
  return Wrap180(d);
}

}  // namespace

const CalendarTables& Calendar() {
  static const CalendarTables tables = MakeCalendarTables();
  return tables;
}

void BuildCalendarTables() { (void)Calendar(); }

double CivilToMjd(int year, int month, int day, int hour, int minute,
                  float second) {
  int y = year;
  int m = month;
  if (m <= 2) {
    y = year - 1;
    m = month + 12;
  }
  const double days = std::trunc(365.25 * y) + y / 400 - y / 100 +
                      std::trunc(30.59 * (m - 2)) + day - 678912;
  return days + (hour + (minute + static_cast<double>(second) / 60.0) / 60.0) / 24.0;
}

double UtcToTtMjd(int year, int month, int day, int hour, int minute,
                  float second) {
  const double m = CivilToMjd(year, month, day, hour, minute, second);
  const LeapSecondList& list = App().leap_seconds;
  // Newest entry first; the sentinel at n + 1 ends the search.
  int i = 1;
  while (i < list.n + 1 && list.mjd[i] > m) ++i;
  return m + (list.tai_minus_utc[i] + 32.184) / kSecondsPerDay;
}

double LocalSiderealTime(int year, int month, int day, int hour, int minute,
                         float second, int zone_offset_seconds,
                         double longitude) {
  // Local clock time to UT, carrying through the calendar; the fraction of
  // the second rides along unchanged.
  const double whole_second = std::trunc(static_cast<double>(second));
  const double fraction = static_cast<double>(second) - whole_second;
  const std::int64_t day_number =
      static_cast<std::int64_t>(CivilToMjd(year, month, day, 0, 0, 0.0f));
  std::int64_t seconds = static_cast<std::int64_t>(hour) * 3600 +
                         static_cast<std::int64_t>(minute) * 60 +
                         static_cast<std::int64_t>(whole_second) -
                         zone_offset_seconds;
  std::int64_t day_shift = seconds / 86400;
  seconds -= day_shift * 86400;
  if (seconds < 0) {
    seconds += 86400;
    --day_shift;
  }
  int ut_year = 0, ut_month = 0, ut_day = 0;
  DateOfDayNumber(day_number + day_shift, &ut_year, &ut_month, &ut_day);
  const int ut_hour = static_cast<int>(seconds / 3600);
  const int ut_minute = static_cast<int>(seconds % 3600 / 60);
  const int ut_second = static_cast<int>(seconds % 60);

  const double t =
      (CivilToMjd(ut_year, ut_month, ut_day, 0, 0, 0.0f) + 2400000.5 - 2451545.0) /
      36525.0;
  const double h = (fraction + ut_second) / 3600.0 + ut_minute / 60.0 + ut_hour;
  const double theta =
      (h * 1.0027379093 + 6.697374558 + 2400.051336 * t + 2.5862e-5 * t * t) /
      24.0;
  double lst = (theta - std::trunc(theta)) * 360.0 + longitude;
  return Fold360(lst);
}

CivilTime MjdToCivil(double mjd) {
  if (!(mjd >= kCalendarFirstMjd && mjd <= kCalendarLastMjd)) {
    FatalCode(kFatalDateOutOfRange);
  }
  // The day by its number (the month table holds the same month starts).
  std::int64_t day_number = static_cast<std::int64_t>(std::floor(mjd));
  const double s = (mjd - static_cast<double>(day_number)) * kSecondsPerDay;

  // Snap to the whole second within 1 ms, otherwise round to the
  // millisecond; then split, so that no field can reach 60.
  const double whole = std::floor(s + 0.5);
  std::int64_t ms = std::fabs(s - whole) < 0.001
                        ? static_cast<std::int64_t>(whole) * 1000
                        : static_cast<std::int64_t>(std::floor(s * 1000.0 + 0.5));
  if (ms >= kMillisecondsPerDay) {
    ms -= kMillisecondsPerDay;
    ++day_number;
  }
  CivilTime out;
  DateOfDayNumber(day_number, &out.year, &out.month, &out.day);
  out.hour = static_cast<int>(ms / 3600000);
  out.minute = static_cast<int>(ms / 60000 % 60);
  out.second = static_cast<float>(ms % 60000) / 1000.0f;
  return out;
}

MonthDay SolarLongitudeToDate(double longitude_deg, int year) {
  // Compared unsigned, without the signed overflow of year - 1900 for a
  // year near the int range's lower end.
  if (static_cast<unsigned>(year) - static_cast<unsigned>(kCalendarFirstYear) >=
      static_cast<unsigned>(kCalendarYears)) {
    year = 2007;
  }
  const std::array<double, 12>& row =
      Calendar().month_start_sun_longitude[year - kCalendarFirstYear];
  // The day counts below are whole numbers of an angle within one turn.
  if (!std::isfinite(longitude_deg)) longitude_deg = 0.0;
  longitude_deg = Wrap360(longitude_deg);
  int k = 0;
  while (k < 12 && !(row[k] > longitude_deg)) ++k;
  const int e = (k == 0 || k == 12) ? 11 : k - 1;

  MonthDay out;
  out.month = e + 4 > 12 ? e - 8 : e + 4;
  int day = static_cast<int>(std::trunc((longitude_deg - row[e]) / 360.0 * 365.25 + 1.0));
  if (day < 1) {
    day = static_cast<int>(
        std::trunc((longitude_deg + 360.0 - row[e]) / 360.0 * 365.25 + 1.0));
  }
  if (day < 1) day = 1;
  const int last = DaysInMonth(year, out.month);
  if (day > last) day = last;
  out.day = day;

  // The table gives the day to within one; the Sun's longitude at the start
  // of that day and of the next decides. (A fixed daily motion would miss
  // the next day in the northern summer, when the Sun moves only 0.95 deg.)
  const double m = CivilToMjd(year, out.month, day, 0, 0, 0.0f);
  const double d = LongitudeAhead(longitude_deg, m);
  if (d < 0.0 || LongitudeAhead(longitude_deg, m + 1.0) >= 0.0) {
    // By day number rather than the month table, which ends on 2099-12-01:
    // a December day of 2099 (or 1 January 1900) must not end the program.
    int y = 0;
    DateOfDayNumber(static_cast<std::int64_t>(m) + (d < 0.0 ? -1 : 1), &y, &out.month,
                    &out.day);
  }
  return out;
}

}  // namespace mr4
