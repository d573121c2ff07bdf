// `mr4 trailmap` and `mr4 groundmap --render`: the Trail Map and Ground Map
// pages' pictures drawn without a window. Each scans the clip directories
// (the scan range options as for `mr4 scan`), switches every scanned clip's
// objects on for the maps, as "all disp" does, fills the drawing's inputs
// from the settings as the page does and writes the picture as PNG.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "maps/ground_map.h"
#include "maps/ground_map_view.h"
#include "maps/map_display.h"
#include "maps/trail_map.h"
#include "app/settings.h"
#include "base/process_values.h"
#include "calib/camera_profile.h"
#include "calib/profile_file.h"
#include "calib/star_catalogue.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/scan_range.h"
#include "clips/clip_list_ops.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/save_png.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

namespace fs = std::filesystem;

// The pictures' size [px]; the trail map's width is a multiple of 4, as
// the page keeps it.
constexpr int kPictureWidth = 1024;
constexpr int kPictureHeight = 768;

// Reads --out and the scan range, then scans. False with `status` set for
// a usage error.
bool ScanForMap(const CommandContext& context, std::span<const std::string> args,
                bool render, fs::path* out, int* status) {
  ParsedArgs parsed;
  std::string error;
  const bool parsed_ok =
      render ? ParseArgs(args,
                         {{"--render", OptionKind::kFlag},
                          {"--out", OptionKind::kValue},
                          {"--range", OptionKind::kValue},
                          {"--from", OptionKind::kValue},
                          {"--days", OptionKind::kValue}},
                         &parsed, &error)
             : ParseArgs(args,
                         {{"--out", OptionKind::kValue},
                          {"--range", OptionKind::kValue},
                          {"--from", OptionKind::kValue},
                          {"--days", OptionKind::kValue}},
                         &parsed, &error);
  if (!parsed_ok) {
    *status = UsageError(context, error);
    return false;
  }
  if (!parsed.positionals().empty()) {
    *status = UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
    return false;
  }
  if (!parsed.Has("--out") || parsed.Value("--out")->empty()) {
    *status = UsageError(context, "--out FILE.png is required");
    return false;
  }
  Settings wanted = AppSettings();
  if (!ReadScanRange(parsed, &wanted, &error)) {
    *status = UsageError(context, error);
    return false;
  }
  *out = *parsed.Value("--out");
  ApplyScanRange(wanted);
  ReadClipDirectories();
  SetAllMapDisplay(true);
  return true;
}

int Save(const CommandContext& context, const fs::path& out,
         const std::vector<std::uint8_t>& bgr, int width, int height) {
  const ImageStatus status = SaveImageAsPng(out, bgr, width, height);
  if (status != ImageStatus::kOk) {
    std::fprintf(stderr, "mr4 %s: cannot write %s (%s); nothing was written\n",
                 context.name.c_str(), out.c_str(), ImageStatusText(status));
    return kExitSomeFailed;
  }
  std::printf("%s: %dx%d\n", out.c_str(), width, height);
  return kExitOk;
}


}  // namespace

int RunTrailMap(const CommandContext& context, std::span<const std::string> args) {
  fs::path out;
  int status = kExitOk;
  if (!ScanForMap(context, args, false, &out, &status)) return status;

  TrailMapInput in;
  SetTrailMapSettings(kPictureWidth, kPictureHeight, 1.0, 1.0, in);
  // The chart's date: the current clip's, else the first scanned clip's
  // (without its name, as the page shows it with no clip current).
  const CurrentClipState& c = CurrentClip();
  const Table& clips = Tables().clip;
  if (c.row >= 0 && clips.Exists(c.row)) {
    in.clip = ChartClipOfRow(c.row);
  } else {
    for (int row = 0; row < clips.count(); ++row) {
      if (!clips.Exists(row)) continue;
      in.clip = ChartClipOfRow(row);
      in.clip.present = false;
      break;
    }
  }
  in.catalogue = &StarMap();
  in.objects = &Tables().obj;
  in.showers_table = &Tables().shower;
  in.current_object = c.current_object;
  in.selected_shower = MapDisplay().selected_shower;

  std::vector<std::uint8_t> bgr;
  DrawTrailMap(in, bgr);
  return Save(context, out, bgr, kPictureWidth, kPictureHeight);
}

int RenderGroundMap(const CommandContext& context, std::span<const std::string> args) {
  fs::path out;
  int status = kExitOk;
  if (!ScanForMap(context, args, true, &out, &status)) return status;

  const Settings& s = AppSettings();
  const CameraProfile& current = CurrentProfile();
  if (!GroundMap().loaded() && fs::exists(HomeFile(s.g_map))) LoadGroundMap(HomeFile(s.g_map));
  if (s.g_addm != 0 && AddMapMarks().empty()) LoadAddMap(s.g_addmfile);
  GroundRaster fallback;
  GroundMapInput in;
  if (GroundMap().loaded()) {
    in.raster = &GroundMap();
  } else {
    std::fprintf(stderr, "mr4 %s: no base map loaded: %s\n", context.name.c_str(),
                 HomeFile(s.g_map).c_str());
    fallback = EmptyGroundRaster(current.p_lng, current.p_lat);
    in.raster = &fallback;
  }
  SetGroundMapSettings(kPictureWidth, kPictureHeight, in);

  // The fields of view of the current profile and of every profile of the
  // home's profile folder, as with every line of the plot's list selected.
  in.profiles.push_back(ProfileOutline(current, true, false, s.g_line));
  for (const std::string& name : ListPlotProfiles(App().home / kProfileFolderName)) {
    CameraProfile other = current;
    if (!ReadProfileFile(ProfileFile(name), other)) continue;
    in.profiles.push_back(ProfileOutline(other, false, false, s.g_line));
  }

  AddGroundTracksAndCaption(current, in);

  GroundMapPicture picture;
  DrawGroundMap(in, picture);
  if (in.text) BurnGroundLabels(picture, in.bw);
  return Save(context, out, picture.bgr, picture.width, picture.height);
}

}  // namespace mr4::cli
