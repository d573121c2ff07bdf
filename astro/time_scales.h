// Calendar and time scales: civil dates to Modified Julian Dates and back,
// UTC to Terrestrial Time, local mean sidereal time, the calendar tables
// built at start-up and the date on which the Sun reaches a longitude.
//
// Units: MJD in days (JD = MJD + 2400000.5); seconds of a civil time in s
// (single precision, as the capture records hold them); zone offsets in s
// east of UT (local clock minus UT); longitudes and sidereal time in deg.
// Thread safety: every function may be called from any thread. The calendar
// tables are built once (BuildCalendarTables at start-up, or on first use)
// and read-only afterwards; UtcToTtMjd reads the leap-second list of App(),
// which start-up fills before any worker exists.
#pragma once

#include <array>

namespace mr4 {

// The calendar tables span the years 1900 to 2099.
inline constexpr int kCalendarFirstYear = 1900;
inline constexpr int kCalendarYears = 200;
inline constexpr double kCalendarFirstMjd = 15020.0;  // 1900-01-01 0h
inline constexpr double kCalendarLastMjd = 88038.0;   // 2099-12-01 0h

struct CalendarTables {
  // MonthStartMjd: entry (year - 1900) * 12 + (month - 1) is the MJD of 0h
  // UT on the first day of that month.
  std::array<double, kCalendarYears * 12> month_start_mjd{};
  // MonthStartSunLongitude: row year - 1900 holds the solar longitude (deg)
  // at 0h UT on the first of April, May, ..., December, January, February,
  // March of that calendar year, a rising sequence.
  std::array<std::array<double, 12>, kCalendarYears> month_start_sun_longitude{};
};

// Builds the tables if they do not exist yet (start-up step 10).
void BuildCalendarTables();
// The tables, built on first use if start-up has not built them.
const CalendarTables& Calendar();

struct CivilTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  float second = 0.0f;
};

// MJD of a Gregorian civil date and time.
double CivilToMjd(int year, int month, int day, int hour, int minute,
                  float second);

// MJD in Terrestrial Time of a UTC civil time: CivilToMjd plus
// (TAI - UTC + 32.184 s) from App().leap_seconds.
double UtcToTtMjd(int year, int month, int day, int hour, int minute,
                  float second);

// Local mean sidereal time (deg, 0..360) of a local clock time with its zone
// offset (s east of UT) at an east longitude (deg).
double LocalSiderealTime(int year, int month, int day, int hour, int minute,
                         float second, int zone_offset_seconds,
                         double longitude);

// The civil date and time of an MJD in 1900-01-01 0h .. 2099-12-01 0h (the
// month table's span); any other MJD ends the program with FatalCode 9003. The time of day is
// rounded to the millisecond, and snapped to the whole second when within
// 1 ms of it, before it is split, so the second is always below 60.
CivilTime MjdToCivil(double mjd);

struct MonthDay {
  int month = 0;
  int day = 0;
};

// The day of calendar year `year` on which the Sun's longitude passes
// `longitude_deg` (near 280 deg, where that day is 31 December or 1 January,
// the neighbouring year's date may be given); a year outside 1900..2099 is
// taken as 2007. A longitude outside 0..360 is taken by whole turns (a
// shower table may hold any number), one that is not finite as 0. Never
// fatal.
MonthDay SolarLongitudeToDate(double longitude_deg, int year);

}  // namespace mr4
