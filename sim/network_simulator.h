// Simulated networks: one meteor seen by several stations, each rendering
// it into its own clip at its own place, pointing, trigger and clock, and a
// truth file of the meteor for the whole network.
//
// The meteor is a straight path in the Earth-fixed frame (WGS84, km) with
// its speed, an optional deceleration and a light curve in absolute
// magnitude (sim/clip_simulator.h `SimPath`). Its middle lies where the
// stations' fields overlap, and its whole luminous path is inside every
// field. Units as in the clip simulator; times are UTC MJD unless named
// local.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "sim/clip_simulator.h"
#include "sim/earth_frame.h"

namespace mr4 {

// One line of a stations file (see docs/notes/sim.md):
//   LID_SID,longitude,latitude,altitude,profile,directory
struct StationLine {
  std::string id;   // "LID_SID"; LID may not hold '_', SID may
  double lng = 0.0;     // deg east
  double lat = 0.0;     // deg north
  double alt_m = 0.0;   // above sea level [m]
  std::string profile;  // camera profile: a name in PROF/ or a path
  std::string dir;      // the station's clip directory
};
// Parses a stations file's text. Lines starting with '#' and blank lines
// are skipped. False with `error` ("line N: ...") on a malformed line, a
// repeated station or no station at all.
bool ParseStationsText(const std::string& text, std::vector<StationLine>* out,
                       std::string* error);

struct NetworkStation {
  std::string id;
  CameraProfile profile;  // the true camera, placed and named by its line
  std::filesystem::path dir;
};
// The station's camera at its line's place and name.
NetworkStation MakeNetworkStation(const StationLine& line, const CameraProfile& camera,
                                  const std::filesystem::path& dir);

struct NetworkOptions {
  SimOptions render;          // frames, format, noise, seed; profile unused
  double clock_spread = 0.0;  // each station's clock off by up to +-this [s]
  double max_trigger_delay = 0.15;  // a station triggers this long after the begin at most [s]
  bool deceleration = false;  // draw a deceleration for each meteor
};

// What one meteor of the network is to be: its begin instant, its source,
// brightness and, when given, its deceleration.
struct NetworkMeteorRequest {
  double begin_mjd = 0.0;  // UTC
  SimRadiant radiant;
  double abs_mag_peak = -1.0;
  double duration = 0.0;   // 0: from the begin and end heights
  bool decel_given = false;
  double decel_a1 = 0.0, decel_a2 = 0.0;
  std::uint64_t seed = 1;
};

// A station's view of a network meteor.
struct NetworkSighting {
  std::string station;
  std::string clip;            // base name of its clip
  std::filesystem::path dir;
  double trigger_mjd = 0.0;    // true trigger, UTC
  double clock_error = 0.0;    // recorded minus true [s]
  double begin_delay = 0.0;    // trigger after the meteor's begin [s]
  double range_begin = 0.0, range_end = 0.0;  // [km]
  double length_deg = 0.0;     // the path's length in this station's sky
};
struct NetworkMeteorTruth {
  std::string name;            // "N" + UTC begin "YYYYMMDD_hhmmss_mmm"
  std::uint64_t seed = 0;
  SimPath path;
  double begin_mjd = 0.0;      // UTC
  GeodeticPoint begin, end;
  double max_convergence = 0.0;  // largest angle between two stations' planes [deg]
  std::vector<NetworkSighting> seen;
};

struct NetworkMeteorResult {
  bool ok = false;
  std::string error;
  NetworkMeteorTruth truth;
  std::vector<SimClipResult> clips;  // one per station, in station order
};
// Plans the meteor, renders it into every station's clip and writes the
// network truth "<name>_truth.json" into `truth_dir`.
NetworkMeteorResult SimulateNetworkMeteor(const std::vector<NetworkStation>& stations,
                                          const NetworkOptions& options,
                                          const NetworkMeteorRequest& request,
                                          const StarCatalogue& catalogue,
                                          const std::filesystem::path& truth_dir);

// The path alone (no files): false with `error` when no path of the request
// fits every station's field in `tries` draws.
bool PlanNetworkPath(const std::vector<NetworkStation>& stations,
                     const NetworkMeteorRequest& request, bool deceleration, int tries,
                     SimPath* path, std::string* error);

// A night of `count` meteors each seen by every station and `singles`
// meteors seen by one station only (stations in turn), in time order from
// dusk to dawn of the first station's local date.
struct NetworkNightResult {
  bool ok = false;
  std::string error;
  std::vector<NetworkMeteorResult> meteors;
  std::vector<SimClipResult> singles;
  std::vector<std::string> single_stations;  // the station of each single
};
NetworkNightResult SimulateNetworkNight(const std::vector<NetworkStation>& stations,
                                        const NetworkOptions& options, int year, int month,
                                        int day, int count, int singles,
                                        const StarCatalogue& catalogue,
                                        const std::filesystem::path& truth_dir);

// The network truth file's text (CR LF JSON).
std::string NetworkTruthJson(const NetworkMeteorTruth& truth);

}  // namespace mr4
