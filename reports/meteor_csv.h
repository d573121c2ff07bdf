// The meteor summary CSV: one line per analysed object of the loaded clips
// (CLIP and OBJ tables), 48 columns, named after the period and the site;
// the main page's ">Mcsv" and the profile page's trial mode (numbered
// exports) write it.
//
// File name "M<y><mo><d>_<h>_<days>_<lid>_<sid>.csv" (year in full, the
// earliest clip's local date and hour, the period's days with three
// digits); "..._<lid>.csv" when some clip belongs to another station than
// the current profile's `sid`; "..._<lid>_<n>.csv" for the n-th numbered
// export. Lines end with CR LF. Objects of class "__none", "__noise",
// "__fast", "__slow" and "__curve", and objects whose clip row is gone, are
// left out.
//
// The station's position is written only in scrambled form: five unsigned
// 32-bit columns per line from the export scrambler (advanced once per
// line), the position (altitude in km) scaled by a factor of the object's
// start right ascension, and the object's start velocity, mixed with the generator's output by
// multiplication and exclusive-or; DecodeStation reverses them.
//
// User-interface thread only; reads the tables, changes no row.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/process_values.h"
#include "reports/export_files.h"
#include "tables/table.h"

namespace mr4 {

struct MeteorCsvOptions {
  int number = 0;     // 0: the button; n >= 1: the n-th export of the trial mode
  bool ctrl = false;  // Ctrl held: the "X" variant (button only)
  bool alt = false;   // left Alt held: the period report first; no dialogs
};

struct MeteorCsvResult {
  ExportResult csv;
  std::optional<ExportResult> report;  // when Alt asked for it
};

// Writes the summary into `folder`. Unless Alt is held or the export is
// numbered, the save dialog "Save M*CSV file" proposes the name first. The
// scrambler advances only when the file is written.
MeteorCsvResult ExportMeteorCsv(const Table& clips, const Table& objects,
                                const ExportSite& site, const std::filesystem::path& folder,
                                const MeteorCsvOptions& options, ExportScrambler& scrambler);

// The five scrambled columns of one line, in file order.
struct ScrambledStation {
  std::uint32_t column[5] = {};
};
// Advances `scrambler` once. lat, lng [deg], alt [m], ra1 [deg], av1 [deg/s].
ScrambledStation ScrambleStation(ExportScrambler& scrambler, float lat, float lng,
                                 float alt, float ra1, float av1, bool ctrl_variant);

// The inputs back from the five columns and the line's start right ascension
// (as written, [deg]): positions to about 1e-6 deg, the altitude to about
// 1 mm (it enters in km), the velocity to 0.001 deg/s.
struct StationPosition {
  double lat = 0.0, lng = 0.0, alt = 0.0, av1 = 0.0;
};
StationPosition DecodeStation(const ScrambledStation& columns, double ra1, bool ctrl_variant);

}  // namespace mr4
