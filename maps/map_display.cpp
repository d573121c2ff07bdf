#include "maps/map_display.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "app/settings.h"
#include "base/process_values.h"
#include "calib/camera_model.h"
#include "clips/clip_list_ops.h"
#include "clips/current_clip.h"
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

ChartClip ChartClipOfRow(int row) {
  const Table& clips = Tables().clip;
  ChartClip clip;
  clip.present = true;
  clip.name = std::string(clips.Text(row, clip::kClipName));
  clip.year = clips.Int(row, clip::kY);
  clip.month = clips.Int(row, clip::kMo);
  clip.day = clips.Int(row, clip::kD);
  clip.hour = clips.Int(row, clip::kH);
  clip.minute = clips.Int(row, clip::kM);
  clip.second = clips.Float(row, clip::kS);
  clip.tz = clips.Int(row, clip::kTz);
  clip.lng = clips.Float(row, clip::kLng);
  clip.lat = clips.Float(row, clip::kLat);
  return clip;
}

GroundMapProfile ProfileOutline(const CameraProfile& profile, bool current, bool fill,
                                int lines) {
  GroundMapProfile out;
  out.station = GroundStation{profile.p_lng, profile.p_lat,
                              double(profile.p_alt) + profile.p_gioidh};
  out.lid = profile.p_lid;
  out.sid = profile.p_sid;
  out.memo = profile.p_memo;
  out.pixel_to_horizontal = [profile](double x, double y) {
    return PixelToHorizontal(profile, x, y);
  };
  out.samples = OutlineSamples(profile.cx, profile.cy, current, fill, lines, nullptr);
  out.centre_x = profile.cx / 2.0;
  out.centre_y = profile.cy / 2.0;
  return out;
}

void AddGroundTracksAndCaption(const CameraProfile& current, GroundMapInput& in) {
  const Table& objects = Tables().obj;
  const Table& clips = Tables().clip;
  const CurrentClipState& c = CurrentClip();
  for (int row = 0; row < objects.count(); ++row) {
    if (!objects.Exists(row)) continue;
    const bool is_current = row == c.current_object;
    if (!is_current && objects.Int(row, obj::kSel) == 0) continue;
    const int clip_row = objects.Int(row, obj::kCline);
    if (clip_row < 0 || clip_row >= clips.count() || !clips.Exists(clip_row)) continue;
    GroundTrack t;
    t.lng = clips.Float(clip_row, clip::kLng);
    t.lat = clips.Float(clip_row, clip::kLat);
    t.lid = std::string(clips.Text(clip_row, clip::kLid));
    t.lng1 = objects.Float(row, obj::kLng1);
    t.lat1 = objects.Float(row, obj::kLat1);
    t.lng2 = objects.Float(row, obj::kLng2);
    t.lat2 = objects.Float(row, obj::kLat2);
    t.current = is_current;
    in.tracks.push_back(std::move(t));
  }
  if (c.row >= 0 && c.row < clips.count() && clips.Exists(c.row)) {
    in.caption = std::string(clips.Text(c.row, clip::kClipName));
  } else {
    char date[32];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d", current.clip_y, current.clip_mo,
                  current.clip_d);
    in.caption = date;
  }
}

void SetTrailMapSettings(int width, int height, double horizontal, double vertical,
                         TrailMapInput& in) {
  const Settings& s = AppSettings();
  in.frame = ChartFrame{width, height, horizontal, vertical, s.t_ra, s.t_dec, s.t_rot, s.t_scale};
  in.mag = s.t_mag;
  in.showers = s.t_st != 0;
  in.peak = s.t_st2 != 0;
  in.axes = s.t_ax != 0;
  in.ecliptic = s.t_ap != 0;
  in.stars = s.t_star != 0;
  in.black_on_white = s.t_bw != 0;
  in.text = s.t_text != 0;
  in.velocity_limit = s.t_vgon != 0;
  in.vglim = s.t_vglim;
  in.ddays = s.c_ddays;
  in.circle = s.c_Nr;
  in.bvf = CurrentProfile().p_u4_bvf;
}

void SetGroundMapSettings(int width, int height, GroundMapInput& in) {
  const Settings& s = AppSettings();
  in.marks = &AddMapMarks();
  in.width = width;
  in.height = height;
  in.zoom = s.g_zoom;
  in.ofh = s.g_ofh;
  in.ofv = s.g_ofv;
  in.bw = s.BW != 0;
  in.text = s.g_text != 0;
  in.addm = s.g_addm != 0;
  in.heights = {double(s.g_h0), double(s.g_h1), double(s.g_h2)};
  in.height_on = {s.g_h0on != 0, s.g_h1on != 0, s.g_h2on != 0};
}

}  // namespace mr4
