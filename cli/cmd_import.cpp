// mr4 import: videos from other cameras become clips of a clip directory,
// named and recorded as the capture program names and records its clips.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "calib/camera_profile.h"
#include "calib/profile_file.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_import.h"

namespace mr4::cli {
namespace {

bool ParseLocalTime(const std::string& text, CivilTime* t) {
  double second = 0.0;
  char sep = 0, end = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf%c", &t->year, &t->month,
                            &t->day, &sep, &t->hour, &t->minute, &second, &end);
  if (n != 7 || (sep != ' ' && sep != 'T') || !(second >= 0.0 && second < 60.0)) return false;
  t->second = static_cast<float>(second);
  return ValidCivilTime(*t);
}

}  // namespace

int RunImport(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--to", OptionKind::kValue}, {"--site", OptionKind::kValue},
                  {"--time", OptionKind::kValue}, {"--from-name", OptionKind::kValue},
                  {"--tz", OptionKind::kValue}, {"--station", OptionKind::kValue},
                  {"--profile", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  const std::vector<std::string>& files = parsed.positionals();
  if (files.empty()) return UsageError(context, "give the video FILE(s) to import");
  const auto to = parsed.Value("--to");
  if (!to || to->empty()) return UsageError(context, "--to DIR is required");
  std::error_code ec;
  if (!std::filesystem::is_directory(*to, ec)) {
    return UsageError(context, "--to '" + *to + "' is not a directory");
  }
  if (parsed.Has("--time") == parsed.Has("--from-name")) {
    return UsageError(context, "give --time 'YYYY-MM-DD hh:mm:ss' or --from-name PATTERN");
  }
  if (parsed.Has("--time") && files.size() != 1) {
    return UsageError(context, "--time takes one file; for several, --from-name PATTERN");
  }

  ImportSite site;
  bool have_site = false;
  if (const auto name = parsed.Value("--profile")) {
    const std::filesystem::path path(*name);
    const std::filesystem::path file = path.has_parent_path() ? path : ProfileFile(*name);
    CameraProfile profile = CurrentProfile();
    if (!ReadProfileFile(file, profile)) {
      return UsageError(context, "cannot read the profile " + file.string());
    }
    site.lid = profile.p_lid;
    site.sid = profile.p_sid;
    site.lng = profile.p_lng;
    site.lat = profile.p_lat;
    site.alt = profile.p_alt;
    site.tz = profile.p_tz;
    site.cam = profile.p_cam;
    site.lens = profile.p_lens;
    have_site = true;
  }
  if (const auto text = parsed.Value("--site")) {
    const std::vector<std::string> parts = SplitComma(*text);
    if (parts.size() != 3 || !ParseDouble(parts[0], &site.lng) ||
        !ParseDouble(parts[1], &site.lat) || !ParseDouble(parts[2], &site.alt) ||
        !(site.lng >= -180 && site.lng <= 360) || !(site.lat >= -90 && site.lat <= 90) ||
        !(site.alt >= -500 && site.alt <= 10000)) {
      return UsageError(context, "--site '" + *text +
                                     "' is not LNG,LAT,ALT (deg east, deg, m)");
    }
    if (site.lng < 0) site.lng += 360;
    have_site = true;
  }
  if (!have_site) return UsageError(context, "--site LNG,LAT,ALT (or --profile FILE) is required");
  if (const auto text = parsed.Value("--tz")) {
    if (!ParseInt(*text, &site.tz) || site.tz < -50400 || site.tz > 50400) {
      return UsageError(context, "--tz '" + *text + "' is not seconds in -50400..50400");
    }
  }
  if (const auto text = parsed.Value("--station")) {
    const std::size_t cut = text->find('_');
    if (cut == std::string::npos || cut == 0 || cut + 1 == text->size()) {
      return UsageError(context, "--station '" + *text + "' is not LID_SID");
    }
    site.lid = text->substr(0, cut);
    site.sid = text->substr(cut + 1);
  }

  // Every time first: a bad one is a usage error before anything is written.
  std::vector<CivilTime> times(files.size());
  if (const auto text = parsed.Value("--time")) {
    if (!ParseLocalTime(*text, &times[0])) {
      return UsageError(context, "--time '" + *text +
                                     "' is not a valid 'YYYY-MM-DD hh:mm:ss' in 1901..2098");
    }
  } else {
    const std::string pattern = *parsed.Value("--from-name");
    for (std::size_t k = 0; k < files.size(); ++k) {
      const std::string name = std::filesystem::path(files[k]).filename().string();
      if (!TimeFromFileName(name, pattern, &times[k], &error)) {
        return UsageError(context, "--from-name: " + error);
      }
    }
  }

  int status = kExitOk;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const ImportResult r = ImportVideo(files[k], *to, times[k], site);
    if (r.status != ImportStatus::kOk) {
      std::fprintf(stderr, "mr4 import: %s: %s\n", files[k].c_str(), r.error.c_str());
      status = kExitSomeFailed;
      continue;
    }
    std::printf("%s %s %dx%d fps=%.3f frames=%d %s %s\n", files[k].c_str(), r.base.c_str(),
                r.facts.width, r.facts.height, r.facts.fps, r.facts.frames,
                r.facts.fourcc.c_str(), r.remuxed ? "remuxed" : "copied");
  }
  return status;
}

}  // namespace mr4::cli
