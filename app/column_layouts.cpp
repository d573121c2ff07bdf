#include "app/column_layouts.h"

#include <cstring>
#include <initializer_list>

namespace mr4 {
namespace {

// How an entry differs from its layout's usual entry.
enum EntryFlags : unsigned {
  kShown = 0,
  kHidden = 1u << 0,
  kReadOnly = 1u << 1,
  kEditable = 1u << 2,
};

struct EntrySpec {
  const char* column;
  int width;
  const char* format;
  unsigned flags = kShown;
  int double_click_message = 0;
};

// Builds entries; `read_only_by_default` gives the usual entry's read-only
// flag, which kReadOnly and kEditable override.
std::vector<ColumnEntry> Entries(bool read_only_by_default,
                                 std::initializer_list<EntrySpec> specs) {
  std::vector<ColumnEntry> entries;
  entries.reserve(specs.size());
  for (const EntrySpec& s : specs) {
    ColumnEntry e;
    e.column = s.column;
    e.width = s.width;
    e.format = s.format;
    e.shown = (s.flags & kHidden) ? 0 : 1;
    e.read_only = read_only_by_default;
    if (s.flags & kReadOnly) e.read_only = true;
    if (s.flags & kEditable) e.read_only = false;
    e.double_click_message = s.double_click_message;
    entries.push_back(e);
  }
  return entries;
}

// The clip table views "UC" to "UC5" (89 entries).
std::vector<ColumnEntry> ClipEntries() {
  constexpr unsigned H = kHidden;
  return Entries(true, {
      {"directory", 200, "%s", H}, {"clip_name", 180, "%s"}, {"o", 20, "%d"},
      {"class", 48, "%s"}, {"mag", 35, "%.1f"}, {"sec", 35, "%.1f"},
      {"cdegmax", 60, "%.3f"}, {"avmin", 60, "%.2f"}, {"rstar", 40, "%d"},
      {"ddega", 50, "%.4f"}, {"ddegm", 50, "%.4f"}, {"errm", 40, "%.2f"},
      {"media", 66, "%s"}, {"MB", 40, "%.2f"},
      {"y", 40, "%d", H}, {"mo", 32, "%d", H}, {"d", 32, "%d", H},
      {"h", 32, "%d", H}, {"m", 32, "%d", H}, {"s", 32, "%.1f", H},
      {"profile", 180, "%s", H}, {"tz", 50, "%d", H},
      {"lid", 80, "%s", H | kEditable}, {"sid", 40, "%s", H | kEditable},
      {"lng", 60, "%.4f", H}, {"lat", 50, "%.4f", H}, {"alt", 40, "%.1f", H},
      {"gioidh", 40, "%.1f", H},
      {"cx", 40, "%d"}, {"cy", 40, "%d"}, {"fps", 40, "%.3f"},
      {"AvgTimePerFrame_setting", 60, "%d"}, {"interlaced", 20, "%d", H},
      {"frames", 50, "%d"},
      {"head", 40, "%d", H}, {"tail", 40, "%d", H}, {"dlev", 40, "%d", H},
      {"dsize", 40, "%d", H}, {"sipos", 40, "%d", H}, {"sisize", 50, "%d", H},
      {"trig", 40, "%d", H}, {"az", 60, "%.4f", H}, {"ev", 50, "%.4f", H},
      {"rot", 50, "%.4f", H}, {"vx", 60, "%.4f", H}, {"yx", 60, "%.4f", H},
      {"k4", 50, "%.5f", H}, {"k3", 50, "%.5f", H}, {"k2", 50, "%.5f", H},
      {"dx", 40, "%.1f", H}, {"dy", 40, "%.1f", H}, {"atc", 40, "%.1f", H},
      {"BVF", 50, "%.2f", H}, {"maxLev", 50, "%d", H}, {"maxMag", 50, "%f", H},
      {"minLev", 50, "%d", H}, {"mimMag", 50, "%.4f", H}, {"dl", 40, "%d", H},
      {"dlo", 40, "%d", H}, {"dapix", 40, "%d", H}, {"s1", 40, "%d", H},
      {"s2", 40, "%d", H}, {"mins", 40, "%d", H}, {"leaps", 40, "%d", H},
      {"rm_small", 40, "%d", H}, {"maxdps", 50, "%.1f", H},
      {"maxedeg", 50, "%.4f", H}, {"cdlim", 50, "%.4f", H},
      {"consR", 50, "%.1f", H}, {"refmag", 50, "%.1f", H},
      {"ddpix", 50, "%.1f", H}, {"dlim", 40, "%d", H}, {"dxoffset", 40, "%d", H},
      {"pixs", 50, "%d"},
      {"observer", 70, "%s", kEditable}, {"source_type", 50, "%s", kEditable},
      {"source_name", 100, "%s", kEditable}, {"cam", 70, "%s", kEditable},
      {"lens", 60, "%s", kEditable}, {"cap", 70, "%s", kEditable},
      {"fourcc_original", 50, "%s", kEditable}, {"fourcc", 50, "%s", kEditable},
      {"codec", 50, "%s", kEditable},
      {"u2", 40, "%s"}, {"ua", 40, "%s"}, {"memo", 60, "%s", kEditable},
      {"bbf", 20, "%d"}, {"tme", 40, "%.1f"}, {"drop", 40, "%d"},
  });
}

// The object table view "UO" (55 entries).
std::vector<ColumnEntry> MainObjectEntries() {
  constexpr unsigned H = kHidden;
  return Entries(true, {
      {"class", 55, "%s", kShown, 1331}, {"manual", 24, "%d", kEditable},
      {"delay", 42, "%.3f"}, {"sec", 42, "%.3f"}, {"mag", 35, "%.2f"},
      {"cdeg", 40, "%.3f"}, {"cdegpeak", 45, "%.4f", H}, {"dr", 30, "%.1f"},
      {"dv", 30, "%.0f"}, {"Vo", 40, "%.1f"},
      {"fs", 32, "%d", H}, {"fe", 32, "%d", H}, {"fN", 32, "%d", H},
      {"av1", 40, "%.2f"}, {"pix", 32, "%d"},
      {"bmax", 40, "%d", H}, {"bN", 50, "%d", H}, {"Lmax", 50, "%.1f", H},
      {"io", 24, "%d", H}, {"raP", 55, "%.4f", H}, {"dcP", 55, "%.4f", H},
      {"x1", 50, "%.3f", H}, {"y1", 50, "%.3f", H}, {"x2", 50, "%.3f", H},
      {"y2", 50, "%.3f", H},
      {"az1", 58, "%.4f"}, {"ev1", 50, "%.4f"}, {"az2", 58, "%.4f"},
      {"ev2", 50, "%.4f"}, {"ra1", 55, "%.4f"}, {"dc1", 50, "%.4f"},
      {"ra2", 55, "%.4f"}, {"dc2", 50, "%.4f"}, {"av2", 50, "%.4f"},
      {"ram", 55, "%.4f"}, {"dcm", 50, "%.4f"}, {"avm", 50, "%.4f"},
      {"delay_m", 50, "%.4f"},
      {"lng1", 55, "%.2f"}, {"lat1", 50, "%.2f"}, {"h1", 40, "%.1f"},
      {"dist1", 40, "%.1f"}, {"gd1", 40, "%.1f"}, {"azL1", 55, "%.1f"},
      {"evL1", 50, "%.1f"},
      {"lng2", 55, "%.2f"}, {"lat2", 50, "%.2f"}, {"h2", 40, "%.1f"},
      {"dist2", 40, "%.1f"}, {"gd2", 40, "%.1f"},
      {"len", 40, "%.1f"}, {"GV", 40, "%.1f"}, {"memo", 150, "%s", kEditable},
      {"sN", 32, "%d"}, {"Npass", 32, "%d"},
  });
}

// "UO2" to "UO5": as "UO" with some wider or narrower columns.
std::vector<ColumnEntry> PageObjectEntries() {
  struct Change {
    const char* column;
    int width;
    const char* format;  // nullptr: unchanged
  };
  static const Change kChanges[] = {
      {"class", 60, nullptr}, {"cdegpeak", 50, nullptr}, {"av1", 50, "%.4f"},
      {"raP", 50, nullptr},   {"dcP", 50, nullptr},      {"az1", 50, nullptr},
      {"az2", 50, nullptr},   {"ra1", 50, nullptr},      {"ra2", 50, nullptr},
      {"azL1", 50, nullptr},  {"lng1", 50, nullptr},     {"lng2", 50, nullptr},
      {"h1", 50, nullptr},    {"dist1", 50, nullptr},    {"gd1", 50, nullptr},
      {"h2", 50, nullptr},    {"dist2", 50, nullptr},    {"gd2", 50, nullptr},
  };
  std::vector<ColumnEntry> entries = MainObjectEntries();
  for (ColumnEntry& e : entries) {
    for (const Change& c : kChanges) {
      if (std::strcmp(e.column, c.column) != 0) continue;
      e.width = c.width;
      if (c.format) e.format = c.format;
    }
  }
  return entries;
}

// The shower table view "US" (22 entries).
std::vector<ColumnEntry> ShowerEntries() {
  constexpr unsigned H = kHidden;
  constexpr unsigned R = kReadOnly;
  return Entries(false, {
      {"*", 32, "%u"}, {"code", 60, "%s", R}, {"name", 110, "%s", H},
      {"sel", 28, "%d"},
      {"dsol", 40, "%.0f", R}, {"dR", 40, "%.1f", R}, {"dvg%", 40, "%.0f", R},
      {"vgc", 40, "%.1f", R},
      {"M/D1", 44, "%s", R, 1338}, {"M/D2", 44, "%s", R, 1339},
      {"M/Dp", 44, "%s", R, 1340},
      {"sol1", 40, "%.1f", H}, {"sol2", 40, "%.1f", H},
      {"solp", 40, "%.1f"}, {"rap", 40, "%.1f"}, {"decp", 40, "%.1f"},
      {"dra", 40, "%.2f"}, {"ddec", 40, "%.2f"}, {"dvg", 40, "%.3f"},
      {"vg", 40, "%.1f"}, {"sdr", 40, "%.1f"}, {"sdv", 40, "%.1f", H},
  });
}

// The Plot page's shower view "US2" (17 entries).
std::vector<ColumnEntry> PlotShowerEntries() {
  constexpr unsigned H = kHidden;
  constexpr unsigned R = kReadOnly;
  return Entries(false, {
      {"code", 50, "%s", R}, {"disp", 36, "%d", kShown, 1341},
      {"cnt", 30, "%d"}, {"M/D1", 44, "%s", R}, {"M/D2", 44, "%s", R},
      {"M/Dp", 44, "%s", R}, {"sol1", 40, "%.1f", H}, {"sol2", 40, "%.1f", H},
      {"solp", 40, "%.1f"}, {"rap", 40, "%.1f"}, {"decp", 40, "%.1f"},
      {"dra", 40, "%.2f"}, {"ddec", 40, "%.2f"}, {"dvg", 40, "%.3f"},
      {"vg", 40, "%.1f"}, {"sdr", 40, "%.1f"}, {"sdv", 40, "%.1f", H},
  });
}

struct LayoutSpec {
  const char* prefix;
  LayoutTable table;
  int top, bottom, left, right;
  int changed, right_click, select, sorted, remove, menu;
  int sort_mode;
  bool check_boxes;
};

ColumnLayout MakeLayout(const LayoutSpec& s, std::vector<ColumnEntry> entries) {
  ColumnLayout l;
  l.prefix = s.prefix;
  l.table = s.table;
  l.top = s.top;
  l.bottom = s.bottom;
  l.left = s.left;
  l.right = s.right;
  l.changed_message = s.changed;
  l.right_click_message = s.right_click;
  l.select_message = s.select;
  l.sorted_message = s.sorted;
  l.delete_message = s.remove;
  l.menu_mode = s.menu;
  l.sort_mode = s.sort_mode;
  l.check_boxes = s.check_boxes;
  l.entries = std::move(entries);
  return l;
}

std::array<ColumnLayout, kColumnLayoutCount> BuildLayouts() {
  using T = LayoutTable;
  const std::vector<ColumnEntry> clip = ClipEntries();
  const std::vector<ColumnEntry> page_objects = PageObjectEntries();
  return {
      MakeLayout({"UO", T::kObject, 220, 290, 1, -1, 0, 0, 1328, 1329, 0, 0, 2, false},
                 MainObjectEntries()),
      MakeLayout({"UO2", T::kObject, 362, 428, 1, -1, 0, 0, 1328, 1329, 0, 0, 2, false},
                 page_objects),
      MakeLayout({"UO3", T::kObject, 288, 358, 1, -1, 0, 0, 1328, 1329, 0, 0, 2, false},
                 page_objects),
      MakeLayout({"UO4", T::kObject, 274, 336, 1, -1, 0, 0, 1328, 1329, 0, 0, 2, false},
                 page_objects),
      MakeLayout({"UO5", T::kObject, 134, 230, 1, -1, 0, 0, 1328, 1329, 0, 0, 2, false},
                 page_objects),
      MakeLayout({"UC", T::kClip, 295, -1, 1, -1, 0, 0, 1325, 1326, 0, 0, 2, true},
                 clip),
      MakeLayout({"UC2", T::kClip, 430, -1, 1, -1, 0, 0, 1325, 1326, 0, 0, 2, false},
                 clip),
      MakeLayout({"UC3", T::kClip, 360, -1, 1, -1, 0, 0, 1325, 1326, 0, 0, 2, false},
                 clip),
      MakeLayout({"UC4", T::kClip, 340, -1, 1, -1, 0, 0, 1325, 1326, 0, 0, 2, false},
                 clip),
      MakeLayout({"UC5", T::kClip, 252, -15, 1, -1, 0, 0, 1325, 1326, 0, 0, 2, false},
                 clip),
      MakeLayout({"US", T::kShower, 118, 264, 0, -1, 1337, 0, 1335, 1336, 0, 0, 1, false},
                 ShowerEntries()),
      MakeLayout({"US2", T::kShower, 144, 270, 0, -1, 0, 0, 1335, 1336, 0, 0, 1, false},
                 PlotShowerEntries()),
      MakeLayout({"UE", T::kExtraClass, 0, 115, 250, -1, 0, 0, 1332, 1333, 0, 0, 1, false},
                 Entries(true, {{"ecls", 60, "%s"}})),
      MakeLayout({"UE2", T::kExtraClass, 23, 136, 2, 108, 0, 0, 1332, 1333, 0, 0, 1, false},
                 Entries(false, {{"ecls", 32, "%s", kReadOnly},
                                 {"cnt", 26, "%d"},
                                 {"disp", 50, "%d", kShown, 1334}})),
      MakeLayout({"UD", T::kClipDirectory, 2, 110, 40, -1, 0, 0, 1342, 1343, 1344, 1345, 1,
                  false},
                 Entries(false, {{"use", 32, "%u", kShown, 1347},
                                 {"dir", 130, "%s", kShown, 1348},
                                 {"profile", 110, "%s", kShown, 1349},
                                 {"save dir", 110, "%s", kShown, 1350},
                                 {"+ymd", 80, "%u", kShown, 1351}})),
  };
}

}  // namespace

const std::array<ColumnLayout, kColumnLayoutCount>& BuiltInColumnLayouts() {
  static const std::array<ColumnLayout, kColumnLayoutCount> layouts = BuildLayouts();
  return layouts;
}

std::span<ColumnLayout, kColumnLayoutCount> ColumnLayouts() {
  static std::array<ColumnLayout, kColumnLayoutCount> layouts = BuiltInColumnLayouts();
  return layouts;
}

ColumnLayout* FindColumnLayout(std::string_view prefix) {
  for (ColumnLayout& l : ColumnLayouts()) {
    if (prefix == l.prefix) return &l;
  }
  return nullptr;
}

}  // namespace mr4
