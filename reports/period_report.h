// The period report: one text file over every object of the OBJ table that
// carries a class (the main page's ">Rcsv"; the meteor summary writes it
// first when Alt is held): the observation period, meteors and e-class
// objects per site, hourly and magnitude counts per class, and the objects
// in time order with their main measurements.
//
// An object whose class begins with "_" counts as e-class, every other
// class as a meteor; objects without a class, and objects whose clip row is
// gone, take no part. Hours are binned from 12 h (bin 0) to 11 h (bin 23),
// magnitudes rounded away from zero into -10 .. 10. Classes in a block are
// ordered by count, largest first (a selection sort from the order of first
// occurrence). Lines end with CR LF.
//
// File name "M<y><mo><d>_<h>_<days>_<lid>_<sid>R.csv" with the current
// profile's site, or "..._<lid>R.csv" when the objects come from two sites
// or more.
//
// Capacities: kReportMaxSites sites (a 100th is fatal, "report site
// overflow"), kReportMaxClasses class entries (fatal " Report data
// overlow"), the first kReportMaxListed object rows in the list. The
// tallies are allocated once per report, nothing per object; class texts
// are referenced in the object table, which must not change meanwhile.
// User-interface thread only; reads the tables, changes no row.
#pragma once

#include <filesystem>

#include "reports/export_files.h"
#include "tables/table.h"

namespace mr4 {

inline constexpr int kReportMaxSites = 99;
inline constexpr int kReportMaxClasses = 1000;  // entries 0 .. 999; 0..2 are the totals
inline constexpr int kReportMaxListed = 10000;
inline constexpr int kReportSiteKeyBytes = 100;  // "lid_sid" and its terminator

// Writes the report into `folder`. Unless `left_alt`, the save dialog
// "Save Rxml file" proposes the name first; with it an existing file is
// replaced without asking. "No object to report" when no object with a
// class belongs to an existing clip row.
ExportResult ExportPeriodReport(const Table& clips, const Table& objects,
                                const ExportSite& site, const std::filesystem::path& folder,
                                bool left_alt);

}  // namespace mr4
