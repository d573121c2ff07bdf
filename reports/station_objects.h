// The meteor objects of the loaded clips as the pairing of several
// stations takes them: each object's station ("lid_sid" of its clip), its
// clip's site, its begin and end in UTC and its first and last direction.
// Shared by `mr4 trajectory` and the period report's count of meteors seen
// by two or more stations.
//
// An object's times: the clip's trigger (the row's local time less `tz`)
// plus its first and last field (`fs`, `fe`) at the clip's field rate
// (twice `fps` when interlaced) less the `head` frames, with the analysis's
// defaults for a missing `fps` or a short `head`. Meteors only: classes not
// beginning with "_". Reads the tables; changes no row.
#pragma once

#include <string>
#include <vector>

#include "tables/table.h"
#include "trajectory/pairing.h"

namespace mr4 {

// How a clip's field numbers map to time, as the analysis counts them:
// seconds from the clip's trigger are field / rate - head time.
struct FieldClock {
  double rate = 25.0;
  double head_s = 0.0;
  double Seconds(int field) const { return field / rate - head_s; }
};
FieldClock ClipFieldClock(const Table& clips, int row);
// UTC MJD of the clip's trigger.
double ClipTriggerMjdUtc(const Table& clips, int row);

struct StationObject {
  int object_row = -1;
  int clip_row = -1;
  int track = 0;  // its place in the clip's chain: its track in the result file
  std::string station;
  std::string cls;
};

struct StationObjects {
  std::vector<StationObject> objects;
  std::vector<PairingObject> records;  // the same objects, for PairObjects
};

StationObjects LoadStationObjects(const Table& clips, const Table& objects);

// The meteors of two or more stations among the loaded clips' objects.
int CountMultiStationMeteors(const Table& clips, const Table& objects,
                             const PairingOptions& options = {});

}  // namespace mr4
