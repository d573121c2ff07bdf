#include "tables/table_catalogue.h"

#include "base/error.h"

namespace mr4 {
namespace {

// Columns in index order: type code, persist flag, name.
const ColumnDescriptor kDirColumns[] = {
    {4, 0, "exist"},  // 0
    {2, 1, "use"},  // 1
    {9, 1, "dir"},  // 2
    {9, 1, "profile"},  // 3
    {9, 1, "save dir"},  // 4
    {2, 1, "+ymd"},  // 5
    {9, 1, "+command"},  // 6
    {1, 0, "dline"},  // 7
    {1, 0, "itemdata"},  // 8
    {1, 0, "shutdownrq"},  // 9
};
const ColumnDescriptor kLeapColumns[] = {
    {4, 0, "exist"},  // 0
    {1, 1, "Y"},  // 1
    {1, 1, "M"},  // 2
    {1, 1, "D"},  // 3
    {1, 1, "LS"},  // 4
    {7, 1, "dls"},  // 5
};
const ColumnDescriptor kShowerColumns[] = {
    {4, 0, "exist"},  // 0
    {4, 0, "SID"},  // 1
    {2, 0, "*"},  // 2
    {9, 1, "mk"},  // 3
    {9, 1, "code"},  // 4
    {9, 1, "index"},  // 5
    {7, 1, "solp"},  // 6
    {7, 1, "sol1"},  // 7
    {7, 1, "sol2"},  // 8
    {7, 1, "rap"},  // 9
    {7, 1, "decp"},  // 10
    {7, 1, "vg"},  // 11
    {7, 1, "dra"},  // 12
    {7, 1, "ddec"},  // 13
    {7, 1, "dvg"},  // 14
    {7, 1, "a"},  // 15
    {7, 1, "q"},  // 16
    {7, 1, "e"},  // 17
    {7, 1, "peri"},  // 18
    {7, 1, "node"},  // 19
    {7, 1, "incl"},  // 20
    {7, 1, "sdr"},  // 21
    {7, 1, "sdv"},  // 22
    {7, 1, "sdd"},  // 23
    {7, 1, "sig"},  // 24
    {7, 1, "ip"},  // 25
    {1, 1, "ns"},  // 26
    {9, 1, "data source"},  // 27
    {9, 1, "activity"},  // 28
    {9, 1, "spectrum"},  // 29
    {9, 1, "explosion"},  // 30
    {9, 1, "parent"},  // 31
    {7, 1, "iauno"},  // 32
    {9, 1, "name"},  // 33
    {9, 1, "relation"},  // 34
    {9, 1, "remark"},  // 35
    {9, 0, "M/D1"},  // 36
    {9, 0, "M/D2"},  // 37
    {9, 0, "M/Dp"},  // 38
    {7, 0, "dsol"},  // 39
    {7, 0, "dR"},  // 40
    {7, 0, "dvg%"},  // 41
    {7, 0, "vgc"},  // 42
    {2, 0, "sel"},  // 43
    {2, 0, "disp"},  // 44
    {1, 0, "cnt"},  // 45
    {1, 0, "valid"},  // 46
    {1, 0, "dline"},  // 47
    {1, 0, "itemdata"},  // 48
};
const ColumnDescriptor kEclassColumns[] = {
    {4, 0, "exist"},  // 0
    {9, 1, "ecls"},  // 1
    {1, 0, "cnt"},  // 2
    {2, 0, "disp"},  // 3
    {2, 1, "target"},  // 4
    {1, 0, "dline"},  // 5
    {1, 0, "itemdata"},  // 6
};
const ColumnDescriptor kObjColumns[] = {
    {4, 0, "exist"},  // 0
    {1, 1, "fs"},  // 1
    {1, 1, "fe"},  // 2
    {1, 1, "fN"},  // 3
    {1, 1, "sN"},  // 4
    {1, 1, "Npass"},  // 5
    {7, 1, "sec"},  // 6
    {1, 1, "pix"},  // 7
    {1, 1, "bmax"},  // 8
    {1, 1, "bN"},  // 9
    {7, 1, "Lmax"},  // 10
    {7, 1, "mag"},  // 11
    {7, 1, "cdeg"},  // 12
    {7, 1, "cdegpeak"},  // 13
    {1, 1, "io"},  // 14
    {7, 1, "raP"},  // 15
    {7, 1, "dcP"},  // 16
    {7, 1, "x1"},  // 17
    {7, 1, "y1"},  // 18
    {7, 1, "x2"},  // 19
    {7, 1, "y2"},  // 20
    {7, 1, "az1"},  // 21
    {7, 1, "ev1"},  // 22
    {7, 1, "az2"},  // 23
    {7, 1, "ev2"},  // 24
    {7, 1, "ra1"},  // 25
    {7, 1, "dc1"},  // 26
    {7, 1, "av1"},  // 27
    {7, 1, "ra2"},  // 28
    {7, 1, "dc2"},  // 29
    {7, 1, "av2"},  // 30
    {7, 1, "ram"},  // 31
    {7, 1, "dcm"},  // 32
    {7, 1, "avm"},  // 33
    {9, 1, "class"},  // 34
    {2, 1, "manual"},  // 35
    {7, 1, "dr"},  // 36
    {7, 1, "dv"},  // 37
    {7, 1, "Vo"},  // 38
    {7, 1, "Voshower"},  // 39
    {7, 1, "lng1"},  // 40
    {7, 1, "lat1"},  // 41
    {7, 1, "h1"},  // 42
    {7, 1, "dist1"},  // 43
    {7, 1, "gd1"},  // 44
    {7, 1, "azL1"},  // 45
    {7, 1, "evL1"},  // 46
    {7, 1, "lng2"},  // 47
    {7, 1, "lat2"},  // 48
    {7, 1, "h2"},  // 49
    {7, 1, "dist2"},  // 50
    {7, 1, "gd2"},  // 51
    {7, 1, "len"},  // 52
    {7, 1, "GV"},  // 53
    {9, 1, "memo"},  // 54
    {7, 1, "delay"},  // 55
    {7, 1, "delay_m"},  // 56
    {7, 1, "v_rao"},  // 57
    {7, 1, "v_dco"},  // 58
    {7, 1, "v_Vo"},  // 59
    {7, 1, "v_h1"},  // 60
    {7, 1, "v_rat"},  // 61
    {7, 1, "v_dct"},  // 62
    {7, 1, "v_Vg"},  // 63
    {1, 0, "cline"},  // 64
    {1, 0, "olinenext"},  // 65
    {1, 0, "disp"},  // 66
    {2, 0, "sel"},  // 67
    {1, 0, "dline"},  // 68
    {1, 0, "itemdata"},  // 69
};
const ColumnDescriptor kClipColumns[] = {
    {4, 0, "exist"},  // 0
    {9, 0, "directory"},  // 1
    {9, 1, "clip_name"},  // 2
    {1, 1, "o"},  // 3
    {9, 0, "media"},  // 4
    {7, 0, "MB"},  // 5
    {1, 1, "y"},  // 6
    {1, 1, "mo"},  // 7
    {1, 1, "d"},  // 8
    {1, 1, "h"},  // 9
    {1, 1, "m"},  // 10
    {7, 1, "s"},  // 11
    {9, 0, "profile"},  // 12
    {1, 1, "tz"},  // 13
    {7, 1, "tme"},  // 14
    {9, 1, "lid"},  // 15
    {9, 1, "sid"},  // 16
    {7, 1, "lng"},  // 17
    {7, 1, "lat"},  // 18
    {7, 1, "alt"},  // 19
    {7, 1, "gioidh"},  // 20
    {1, 1, "cx"},  // 21
    {1, 1, "cy"},  // 22
    {7, 1, "fps"},  // 23
    {1, 1, "AvgTimePerFrame_setting"},  // 24
    {1, 1, "interlaced"},  // 25
    {1, 1, "bbf"},  // 26
    {1, 1, "frames"},  // 27
    {1, 1, "head"},  // 28
    {1, 1, "tail"},  // 29
    {1, 1, "drop"},  // 30
    {1, 1, "dlev"},  // 31
    {1, 1, "dsize"},  // 32
    {1, 1, "sipos"},  // 33
    {1, 1, "sisize"},  // 34
    {1, 1, "trig"},  // 35
    {9, 1, "observer"},  // 36
    {9, 1, "source_type"},  // 37
    {9, 1, "source_name"},  // 38
    {9, 1, "cam"},  // 39
    {9, 1, "lens"},  // 40
    {9, 1, "cap"},  // 41
    {9, 1, "fourcc_original"},  // 42
    {9, 1, "fourcc"},  // 43
    {9, 1, "codec"},  // 44
    {9, 1, "u2"},  // 45
    {9, 1, "ua"},  // 46
    {9, 1, "memo"},  // 47
    {7, 1, "az"},  // 48
    {7, 1, "ev"},  // 49
    {7, 1, "rot"},  // 50
    {7, 1, "vx"},  // 51
    {7, 1, "yx"},  // 52
    {7, 1, "dx"},  // 53
    {7, 1, "dy"},  // 54
    {7, 1, "k4"},  // 55
    {7, 1, "k3"},  // 56
    {7, 1, "k2"},  // 57
    {7, 1, "atc"},  // 58
    {7, 1, "BVF"},  // 59
    {1, 1, "maxLev"},  // 60
    {7, 1, "maxMag"},  // 61
    {1, 1, "minLev"},  // 62
    {7, 1, "mimMag"},  // 63
    {1, 1, "rstar"},  // 64
    {7, 1, "ddega"},  // 65
    {7, 1, "ddegm"},  // 66
    {7, 1, "errm"},  // 67
    {1, 1, "Lmrgn"},  // 68
    {1, 1, "Rmrgn"},  // 69
    {1, 1, "Dmrgn"},  // 70
    {1, 1, "Umrgn"},  // 71
    {1, 1, "dl"},  // 72
    {1, 1, "dlo"},  // 73
    {1, 1, "pixs"},  // 74
    {1, 1, "dapix"},  // 75
    {1, 1, "s1"},  // 76
    {1, 1, "s2"},  // 77
    {1, 1, "mins"},  // 78
    {1, 1, "leaps"},  // 79
    {1, 1, "rm_small"},  // 80
    {7, 1, "maxdps"},  // 81
    {7, 1, "maxedeg"},  // 82
    {7, 1, "cdlim"},  // 83
    {7, 1, "consR"},  // 84
    {7, 1, "refmag"},  // 85
    {7, 1, "ddpix"},  // 86
    {1, 1, "dlim"},  // 87
    {1, 1, "dxoffset"},  // 88
    {1, 0, "MT"},  // 89
    {9, 0, "class"},  // 90
    {7, 0, "mag"},  // 91
    {7, 0, "sec"},  // 92
    {1, 0, "oline"},  // 93
    {2, 0, "disp"},  // 94
    {7, 0, "cdegmax"},  // 95
    {7, 0, "avmin"},  // 96
    {1, 0, "dline"},  // 97
    {1, 0, "itemdata"},  // 98
    {1, 0, "driveno"},  // 99
    {1, 0, "codecno"},  // 100
    {1, 0, "dirline"},  // 101
    {1, 0, "check"},  // 102
};

}  // namespace

// Name, version, block size, check column, columns.
const TableSchema kDirSchema{kDirFileName, 101, 100, 0, kDirColumns};
const TableSchema kLeapSchema{kLeapSecondFileName, 101, 100, 0, kLeapColumns};
const TableSchema kShowerSchema{"V14.jx.csv", 0, 1000, 0, kShowerColumns};
const TableSchema kEclassSchema{kEclassFileName, 101, 100, 0, kEclassColumns};
const TableSchema kObjSchema{"OBJ", 0, 1000, 0, kObjColumns};
const TableSchema kClipSchema{"CLIP", 0, 1000, clip::kCheck, kClipColumns};

static_assert(std::size(kDirColumns) == dir::kColumnCount);
static_assert(std::size(kLeapColumns) == leap::kColumnCount);
static_assert(std::size(kShowerColumns) == shower::kColumnCount);
static_assert(std::size(kEclassColumns) == eclass::kColumnCount);
static_assert(std::size(kObjColumns) == obj::kColumnCount);
static_assert(std::size(kClipColumns) == clip::kColumnCount);

ProcessTables& Tables() {
  // The store is made first so that it outlives the tables' strings.
  Strings();
  static ProcessTables tables;
  return tables;
}

Table* ProcessTables::Find(std::string_view name) {
  for (Table* t : {&leap, &clip, &shower, &obj, &dir, &eclass}) {
    if (t->name() == name) return t;
  }
  return nullptr;
}

std::vector<LeapSecondRow> LoadLeapSecondTable(const std::filesystem::path& path) {
  Table& table = Tables().leap;
  table.Reset();
  std::vector<int> lines;
  const bool read = table.ReadFile(path, &lines);
  std::vector<LeapSecondRow> rows;
  for (int r = 0; r < table.count(); ++r) {
    if (!table.Exists(r)) continue;
    rows.push_back({table.Int(r, leap::kY), table.Int(r, leap::kM),
                    table.Int(r, leap::kD), table.Int(r, leap::kLS),
                    table.Float(r, leap::kDls)});
  }
  // The list takes 1 to kMaxRows rows (FatalCode 9001 otherwise); a file
  // that is there is named with where it goes wrong.
  if (read && rows.empty()) {
    FatalCodeWithMessage(kFatalLeapSecondTable,
                         "Leap-second table %s, line 2: no rows after the header line",
                         path.c_str());
  }
  if (read && rows.size() > static_cast<std::size_t>(LeapSecondList::kMaxRows)) {
    FatalCodeWithMessage(kFatalLeapSecondTable,
                         "Leap-second table %s, line %d: more than %d rows", path.c_str(),
                         lines[static_cast<std::size_t>(LeapSecondList::kMaxRows)],
                         LeapSecondList::kMaxRows);
  }
  return rows;
}

void CreateTables(const std::filesystem::path& home) {
  ProcessTables& t = Tables();
  for (Table* table : {&t.clip, &t.shower, &t.obj, &t.dir, &t.eclass}) {
    table->Reset();
  }
  t.shower.set_name(kShowerSchema.name);
  t.held_profiles.clear();
  t.eclass.Clear();
  t.eclass.ReadFile(home / kEclassFileName);
  t.dir.Clear();
  t.dir.ReadFile(home / kDirFileName);
}

void HoldMissingProfiles(const std::function<bool(std::string_view)>& profile_exists) {
  ProcessTables& t = Tables();
  for (int r = 0; r < t.dir.count(); ++r) {
    if (!t.dir.Exists(r)) continue;
    std::string_view profile = t.dir.Text(r, dir::kProfile);
    if (profile.empty() || profile_exists(profile)) continue;
    t.held_profiles.push_back(
        {r, std::string(t.dir.Text(r, dir::kDir)), std::string(profile)});
    t.dir.SetText(r, dir::kProfile, "");
  }
}

void LoadShowerCatalogue(const std::filesystem::path& home, std::string_view catalog) {
  Table& table = Tables().shower;
  table.set_name(catalog);
  table.Clear();
  const int spo = table.AppendRow();
  table.ReadFile(home / std::filesystem::path(catalog));
  table.SetUint(spo, shower::kInUse, 1);
  table.SetText(spo, shower::kCode, kSporadicCode);
  table.SetText(spo, shower::kName, kSporadicCode);
  table.SetFloat(spo, shower::kDsol, 0.0f);
  table.SetFloat(spo, shower::kDR, 0.0f);
}

bool WritePersistentTables(const std::filesystem::path& home) {
  ProcessTables& t = Tables();
  std::vector<int> restored;
  for (const ProcessTables::HeldProfile& held : t.held_profiles) {
    if (held.row >= t.dir.count() || !t.dir.Exists(held.row)) continue;
    if (t.dir.Text(held.row, dir::kDir) != held.dir) continue;
    if (!t.dir.Text(held.row, dir::kProfile).empty()) continue;
    t.dir.SetText(held.row, dir::kProfile, held.profile);
    restored.push_back(held.row);
  }
  bool all = true;
  for (const auto& [table, name] : {std::pair{&t.eclass, kEclassFileName},
                                    std::pair{&t.dir, kDirFileName}}) {
    if (table->WriteFile(home / name)) continue;
    ShowError("Cannot write %s", (home / name).c_str());
    all = false;
  }
  for (int row : restored) t.dir.SetText(row, dir::kProfile, "");
  return all;
}

void FreeTables() {
  ProcessTables& t = Tables();
  for (Table* table : {&t.eclass, &t.dir, &t.obj, &t.shower, &t.clip}) {
    table->Free();
  }
  t.held_profiles.clear();
}

void FreeLeapSecondTable() { Tables().leap.Free(); }

}  // namespace mr4
