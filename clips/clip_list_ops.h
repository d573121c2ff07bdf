// What the clip list page does to the clip table besides showing it: the
// checks of clips ("allCon", "=on", "_on"), the "check" walk's test of one
// clip, and the scan's date range as the page's calendar controls step it
// (with the "latest" start the scan and the page compute alike).
//
// User-interface thread only (or a command's thread while no page runs).
#pragma once

#include <ctime>
#include <string>

#include "app/settings.h"

namespace mr4 {

// The program's folder of profile files, in the home directory.
inline constexpr char kProfileFolderName[] = "PROF";

// "add": makes the profile folder when it is missing and appends a row of
// the directory table in use for `dir`, with `profile` (a file name in the
// profile folder), `save_dir` and `+ymd`. Returns the row; -1 with
// `problem` set, and nothing appended, when a text cannot be kept in the
// directory file or the folder cannot be made.
int AddClipDirectory(const std::string& dir, const std::string& profile,
                     const std::string& save_dir, bool ymd, std::string* problem);

// Sets `check` of every clip to `on`.
void SetAllClipChecks(bool on);
// "=on": `check` = 1 exactly for the clips whose name contains "=".
void CheckIntervalClips();
// "_on": `check` = 1 exactly for the clips whose class is empty or starts
// with "__" (not yet classified, or classified as no meteor).
void CheckUnclassifiedClips();

// The "check" walk's verdict on clip row `row`: empty when the clip needs
// no attention, else why it stops the walk: "E class" (no class), the
// class itself when it starts with "__", "obj > 1" (unless
// `ignore_object_count`), "cdegmax" (a meteor class whose largest angular
// length exceeds 33.6 / `cy` ... deg), "ax ev err" (the first object's
// start point (ra1, dc1) seen from the clip's site at its start time lies
// more than 10 deg in azimuth or 3 deg in elevation from its az1, ev1).
std::string ClipAttentionText(int row, bool ignore_object_count);

// The latest range's start: `now` plus AP.H hours minus AP.days days, in
// local time, into AP.Y, AP.M, AP.D.
void SetLatestScanStart(Settings& s, std::time_t now);

// Days of a Gregorian month.
int DaysInMonth(int year, int month);

// The scan-range controls, stepping like a calendar: a unit passing its
// range carries into the next larger one (hour into day, day into month,
// month into year), the day stays within its month, the year within 1900
// to 3000 and the days within 1 to 10000.
enum class ScanField { kYear, kMonth, kDay, kHour, kDays };
void StepScanField(Settings& s, ScanField field, bool up);
// Brings typed values into their ranges (the day into its month).
void LimitScanFields(Settings& s);

}  // namespace mr4
