// The clicks file of a clip, "<clip>_clicks.csv" next to its other files:
// the points the user marked on the clip's picture (pixel position and its
// sky directions), read when a clip is opened and written when the clicks
// are saved.
//
// File format (one byte per character, lines end with CR LF; readers also
// take LF): a header line, then one line per click:
//   "%4d,%02d,%02d,%02d,%02d,%.3f,%d,%.1f,%.1f,%.2f,%.2f,%.3f,%.3f,_%s,_%s,
//    %.2f,%.2f,%.1f,%u,%u,%u,%.1f,%.4f"
// UT year, month, day, hour; the clip's minute and second; the click's
// number from 1; x, y [px]; az, ev, ra, dec [deg]; "_" lid, "_" sid; the
// station's longitude, latitude [deg] and height [m]; three check values;
// the geoid height [m]; the clip's `ddega`.
//
// The check values carry the station's position in scrambled form. They
// draw on two state words that live for the whole run: S1, reseeded from
// the clock for every file, and S2, the state of App().scrambler, which
// every line advances (and the meteor summary CSV too). User-interface
// thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/process_values.h"

namespace mr4 {

inline constexpr int kMaxClicks = 9999;
inline constexpr int kClicksLineMaxChars = 1024;
inline constexpr char kClicksFileSuffix[] = "_clicks.csv";
inline constexpr char kClicksHeader[] =
    "_Y_ut,_M_ut,_D_ut,_h_ut,_m_ut,_s_ut,_pos,_x,_y,_az,_ev,_ra,_dec,_lid,"
    "_sid,_long,_lat,_alt,,,,_gioidh,_ddeg";

// One marked point: pixel position and its directions (single precision,
// as the file keeps them).
struct Click {
  float x = 0.0f;    // [px]
  float y = 0.0f;    // [px]
  float ra = 0.0f;   // [deg]
  float dec = 0.0f;  // [deg]
  float az = 0.0f;   // [deg]
  float ev = 0.0f;   // [deg]
};

// The clicks file of a clip: "<directory>/<clip name>_clicks.csv".
std::filesystem::path ClicksFilePath(const std::filesystem::path& directory,
                                     std::string_view clip_name);

// Reads up to kMaxClicks clicks; every line after the header counts, a
// field that a line does not supply is 0. A file that cannot be opened
// shows "Cannot read clicks %s " and gives no clicks.
std::vector<Click> ReadClicksFile(const std::filesystem::path& path);

// What a clicks file records besides the clicks.
struct ClicksClip {
  int y = 0, mo = 0, d = 0, h = 0, m = 0;  // local start time of the clip
  float s = 0.0f;
  int tz = 0;           // [s east of UT]
  float ddega = 0.0f;   // mean star residual [deg]
  std::string lid, sid;
  float lng = 0.0f;     // [deg east]
  float lat = 0.0f;     // [deg north]
  float alt = 0.0f;     // [m]
  float gioidh = 0.0f;  // [m]
};

// The instant S1 is seeded from: whole seconds since 1970 (low 32 bits) and
// the millisecond part.
struct ClicksClock {
  std::uint32_t seconds = 0;
  std::uint32_t milliseconds = 0;
};
ClicksClock ClicksClockNow();

// The three check values of one line, advancing `s1` and `scrambler`.
struct CheckValues {
  std::uint32_t first = 0, second = 0, third = 0;
};
CheckValues NextCheckValues(std::uint32_t& s1, ExportScrambler& scrambler,
                            float lng, float lat);
std::uint32_t SeedClicksS1(const ClicksClock& clock);

// The file's text (CR LF line ends). Advances `scrambler` once per click.
std::string FormatClicksFile(const ClicksClip& clip, const std::vector<Click>& clicks,
                             const ClicksClock& clock, ExportScrambler& scrambler);

// Writes the file through a temporary file renamed into place, advancing
// App().scrambler. False after "Cannot open %s"; the scrambler is then
// left as it was.
bool WriteClicksFile(const std::filesystem::path& path, const ClicksClip& clip,
                     const std::vector<Click>& clicks,
                     const ClicksClock& clock = ClicksClockNow());

}  // namespace mr4
