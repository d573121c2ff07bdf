#include "analysis/map_display.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <system_error>

#include "base/process_values.h"
#include "clips/clip_list_ops.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// The first existing row of `table` whose text column `column` is `text`.
int FirstRowWithText(const Table& table, int column, std::string_view text) {
  for (int row = 0; row < table.count(); ++row) {
    if (table.Exists(row) && table.Text(row, column) == text) return row;
  }
  return -1;
}

// Gives `value` to the objects and clips whose class is `cls`.
void MarkClass(std::string_view cls, int value) {
  Table& objects = Tables().obj;
  for (int o = 0; o < objects.count(); ++o) {
    if (objects.Exists(o) && objects.Text(o, obj::kClass) == cls) {
      objects.SetUint(o, obj::kSel, static_cast<std::uint32_t>(value));
    }
  }
  Table& clips = Tables().clip;
  for (int c = 0; c < clips.count(); ++c) {
    if (clips.Exists(c) && clips.Text(c, clip::kClass) == cls) {
      clips.SetUint(c, clip::kDisp, static_cast<std::uint32_t>(value));
    }
  }
}

int ToggleDisplay(Table& table, int row, int disp_column, int name_column) {
  if (row < 0 || row >= table.count() || !table.Exists(row)) return -1;
  const int value = table.Uint(row, disp_column) != 0 ? 0 : 1;
  table.SetUint(row, disp_column, static_cast<std::uint32_t>(value));
  MarkClass(table.Text(row, name_column), value);
  return value;
}

bool HasXmlExtension(const std::filesystem::path& file) {
  const std::string ext = file.extension().string();
  if (ext.size() != 4) return false;
  std::string lower(ext);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return lower == ".xml";
}

}  // namespace

MapDisplayState& MapDisplay() {
  static MapDisplayState state;
  return state;
}

void CountObjectsPerClass() {
  Table& showers = Tables().shower;
  Table& classes = Tables().eclass;
  const Table& objects = Tables().obj;
  for (int row = 0; row < showers.count(); ++row) showers.SetInt(row, shower::kCnt, 0);
  for (int row = 0; row < classes.count(); ++row) classes.SetInt(row, eclass::kCnt, 0);
  for (int o = 0; o < objects.count(); ++o) {
    if (!objects.Exists(o)) continue;
    const std::string_view cls = objects.Text(o, obj::kClass);
    if (cls.empty()) continue;
    if (const int s = FirstRowWithText(showers, shower::kCode, cls); s >= 0) {
      showers.SetInt(s, shower::kCnt, showers.Int(s, shower::kCnt) + 1);
    } else if (const int e = FirstRowWithText(classes, eclass::kEcls, cls); e >= 0) {
      classes.SetInt(e, eclass::kCnt, classes.Int(e, eclass::kCnt) + 1);
    }
  }
}

int ToggleShowerDisplay(int shower_row) {
  return ToggleDisplay(Tables().shower, shower_row, shower::kDisp, shower::kCode);
}

int ToggleExtraClassDisplay(int class_row) {
  return ToggleDisplay(Tables().eclass, class_row, eclass::kDisp, eclass::kEcls);
}

void SetAllMapDisplay(bool on) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const std::uint32_t mark = on ? kMapAllOn : 0;
  for (int c = 0; c < clips.count(); ++c) {
    if (!clips.Exists(c)) continue;
    clips.SetUint(c, clip::kDisp, mark);
    // The chain is followed at most once around the table: a broken link
    // must not hold the page.
    int o = clips.Int(c, clip::kOline);
    for (int steps = 0; o >= 0 && o < objects.count() && steps < objects.count(); ++steps) {
      objects.SetUint(o, obj::kSel, mark);
      o = objects.Int(o, obj::kOlinenext);
    }
  }
  Table& showers = Tables().shower;
  for (int row = 0; row < showers.count(); ++row) {
    if (showers.Exists(row) && showers.Uint(row, shower::kInUse) != 0) {
      showers.SetUint(row, shower::kDisp, on ? 1 : 0);
    }
  }
  Table& classes = Tables().eclass;
  for (int row = 0; row < classes.count(); ++row) {
    if (classes.Exists(row)) classes.SetUint(row, eclass::kDisp, on ? 1 : 0);
  }
}

std::vector<std::string> ListPlotProfiles(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && HasXmlExtension(it->path())) {
      names.push_back(it->path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void ReloadPlotProfiles() {
  GroundMapPlot& plot = MapDisplay().ground;
  plot.profiles.assign(1, kCurrentProfileLine);
  for (std::string& name : ListPlotProfiles(App().home / kProfileFolderName)) plot.profiles.push_back(std::move(name));
  plot.selected.assign(plot.profiles.size(), false);
}

}  // namespace mr4
