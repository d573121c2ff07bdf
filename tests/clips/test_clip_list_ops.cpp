// The scan range's calendar steps and the "latest" start.
#include <gtest/gtest.h>

#include <ctime>

#include "clips/clip_list_ops.h"

namespace mr4 {
namespace {

struct StepCase {
  const char* name;
  int y, m, d, h;
  ScanField field;
  bool up;
  int y2, m2, d2, h2;
};

TEST(ScanRange, StepsLikeACalendar) {
  const StepCase cases[] = {
      {"day into month", 2026, 4, 30, 5, ScanField::kDay, true, 2026, 5, 1, 5},
      {"day back into month", 2026, 3, 1, 5, ScanField::kDay, false, 2026, 2, 28, 5},
      {"leap February", 2024, 3, 1, 5, ScanField::kDay, false, 2024, 2, 29, 5},
      {"1900 is no leap year", 1900, 2, 28, 5, ScanField::kDay, true, 1900, 3, 1, 5},
      {"2000 is a leap year", 2000, 2, 28, 5, ScanField::kDay, true, 2000, 2, 29, 5},
      {"month into year", 2026, 12, 11, 5, ScanField::kMonth, true, 2027, 1, 11, 5},
      {"month keeps the day in its month", 2026, 1, 31, 5, ScanField::kMonth, true, 2026, 2, 28, 5},
      {"hour into day", 2026, 12, 31, 23, ScanField::kHour, true, 2027, 1, 1, 0},
      {"hour back into day", 2026, 1, 1, 0, ScanField::kHour, false, 2025, 12, 31, 23},
      {"year stops at 3000", 3000, 12, 31, 23, ScanField::kHour, true, 3000, 12, 31, 23},
      {"year stops at 1900", 1900, 1, 1, 0, ScanField::kDay, false, 1900, 1, 1, 0},
      {"leap day to a common year", 2024, 2, 29, 5, ScanField::kYear, true, 2025, 2, 28, 5},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    Settings s;
    s.Y = c.y;
    s.M = c.m;
    s.D = c.d;
    s.H = c.h;
    StepScanField(s, c.field, c.up);
    EXPECT_EQ(s.Y, c.y2);
    EXPECT_EQ(s.M, c.m2);
    EXPECT_EQ(s.D, c.d2);
    EXPECT_EQ(s.H, c.h2);
  }
  Settings s;
  s.days = 10000;
  StepScanField(s, ScanField::kDays, true);
  EXPECT_EQ(s.days, 10000);
  s.days = 1;
  StepScanField(s, ScanField::kDays, false);
  EXPECT_EQ(s.days, 1);
}

TEST(ScanRange, LatestStartCountsBackFromNowPlusTheHours) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::tm at{};
  at.tm_year = 2026 - 1900;
  at.tm_mon = 11;
  at.tm_mday = 11;
  at.tm_hour = 2;
  const std::time_t now = timegm(&at);
  Settings s;
  s.H = 12;
  s.days = 3;
  SetLatestScanStart(s, now);  // 02:00 + 12 h - 3 days: 8 December
  EXPECT_EQ(s.Y, 2026);
  EXPECT_EQ(s.M, 12);
  EXPECT_EQ(s.D, 8);
  s.H = 23;
  s.days = 1;
  SetLatestScanStart(s, now);  // 02:00 + 23 h - 1 day: still 11 December
  EXPECT_EQ(s.D, 11);
}

}  // namespace
}  // namespace mr4
