// Which objects of different stations are one meteor: objects whose time
// spans overlap within a window and whose planes of sight meet in a
// plausible line (the planes converge by a minimum angle, the line lies
// between two heights where both stations' first and last lines of sight
// meet it, in front of both). Three or more stations join one meteor when
// their pairs chain; a station gives at most one object to a meteor.
//
// The objects are swept in the order of their begin times, each compared
// only with the earlier objects still inside the window, so the work grows
// with the objects and their neighbours in time, never with all pairs.
// Objects are plain records: the caller loads them from wherever it keeps
// them.
//
// Units: times as UTC MJD (days), angles in deg, heights in km, station
// heights in m. Thread safety: a pure function of its arguments.
#pragma once

#include <span>
#include <vector>

namespace mr4 {

struct PairingObject {
  int station = 0;                 // caller's station number; equal means one station
  double lng_deg = 0.0;            // the station's site: east longitude,
  double lat_deg = 0.0;            // geodetic latitude,
  double alt_m = 0.0;              // height
  double begin_mjd_utc = 0.0;      // first and last sample
  double end_mjd_utc = 0.0;
  double begin_ra_deg = 0.0, begin_dec_deg = 0.0;  // J2000 direction of the first
  double end_ra_deg = 0.0, end_dec_deg = 0.0;      // and of the last sample
};

struct PairingOptions {
  double window_s = 2.0;               // largest gap between two time spans
  double min_convergence_deg = 1.0;    // angle between the two planes
  double min_height_km = 20.0;         // every first and last line of sight
  double max_height_km = 200.0;        // meets the line between these
  // Stations farther apart are never compared: no meteor below
  // max_height_km is in sight of both.
  double max_baseline_km = 1500.0;
};

// One meteor of two or more stations: indices into the objects, one per
// station, in the order of their begin times.
struct MultiStationMeteor {
  std::vector<int> objects;
};

struct PairingCounts {
  long long compared = 0;    // pairs within the window, of different stations
  long long plausible = 0;   // of which the geometry holds
  long long refused = 0;     // plausible pairs not joined: a station already in the meteor
};

// The meteors among `objects`, in the order of their first begin time.
// Pairs are joined in the order of their convergence, the best first, so a
// station with two candidate objects gives the one that fits best.
std::vector<MultiStationMeteor> PairObjects(std::span<const PairingObject> objects,
                                            const PairingOptions& options = {},
                                            PairingCounts* counts = nullptr);

// Whether two objects of different stations can be one meteor by their
// geometry alone (not their times); the convergence angle when they can.
bool PlausiblePair(const PairingObject& a, const PairingObject& b,
                   const PairingOptions& options, double* convergence_deg = nullptr);

}  // namespace mr4
