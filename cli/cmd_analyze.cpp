// `mr4 analyze CLIP...`: each named clip of the scan, on the current
// context, the way the profile page's "A" runs it (the camera fitted to the
// stars of the clip's mask, then the analysis), or with --no-star-fit the
// analysis alone. A clip without a mask picture is analysed with the empty
// mask. Prints a line per clip and one per object.
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/analysis_run.h"
#include "analysis/clip_analysis.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_scan.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

int FindClip(const Table& clips, const std::string& name) {
  for (int r = 0; r < clips.count(); ++r) {
    if (clips.Exists(r) && clips.Text(r, clip::kClipName) == name) return r;
  }
  return -1;
}

void PrintObjects(int row) {
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  for (int o = clips.Int(row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext)) {
    const std::string cls(objects.Text(o, obj::kClass));
    std::printf("  %-8s mag %6.2f  sec %6.3f  av1 %7.2f  start %8.3f %+8.3f  end %8.3f %+8.3f",
                cls.c_str(), objects.Float(o, obj::kMag), objects.Float(o, obj::kSec),
                objects.Float(o, obj::kAv1), objects.Float(o, obj::kRa1),
                objects.Float(o, obj::kDc1), objects.Float(o, obj::kRa2),
                objects.Float(o, obj::kDc2));
    if (objects.Float(o, obj::kVo) >= 0) {
      std::printf("  shower %s dr %.2f dv %.1f Vo %.1f", cls.c_str(),
                  objects.Float(o, obj::kDr), objects.Float(o, obj::kDv),
                  objects.Float(o, obj::kVo));
    }
    std::printf("\n");
  }
}

}  // namespace

int RunAnalyzeClips(const CommandContext& context, const ParsedArgs& parsed) {
  const bool star_fit = !parsed.Has("--no-star-fit");
  const Table& clips = Tables().clip;
  std::vector<int> rows;
  for (const std::string& name : parsed.positionals()) {
    const int row = FindClip(clips, name);
    if (row < 0) return UsageError(context, "no clip " + name + " in the scanned directories");
    rows.push_back(row);
  }
  AnalysisContext& c = AnalysisContextAt(0);
  std::vector<std::uint8_t> mask;
  int failed = 0;
  for (int row : rows) {
    const std::string name(clips.Text(row, clip::kClipName));
    const int code = AnalyzeClipRow(c, row, star_fit, true, mask);
    if (code != kAnalysisOk) {
      std::printf("%s: failed (code %d)\n", name.c_str(), code);
      ++failed;
      continue;
    }
    std::printf("%s: %d objects, class %s\n", name.c_str(), clips.Int(row, clip::kO),
                std::string(clips.Text(row, clip::kClass)).c_str());
    PrintObjects(row);
  }
  return failed > 0 ? kExitSomeFailed : kExitOk;
}

int RunAnalyze(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--no-star-fit", OptionKind::kFlag}}, &parsed, &error)) {
    return UsageError(context, error);
  }
  ReadClipDirectories();
  if (parsed.positionals().empty()) {
    return UsageError(context, "name the clips to analyse");
  }
  return RunAnalyzeClips(context, parsed);
}

}  // namespace mr4::cli
