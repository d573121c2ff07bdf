// `mr4 time-adjust --shift SECONDS CLIP...`: the utilities page's
// "TimeAdjust" over the clips named. Scans the clip directories, shifts the
// recorded start of each named clip in its result file, capture record and
// capture log lines (the question is answered by --yes), scans again and
// prints one summary line.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_scan.h"
#include "tables/table_catalogue.h"
#include "utility/time_adjust.h"

namespace mr4::cli {

int RunTimeAdjust(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--shift", OptionKind::kValue}}, &parsed, &error)) {
    return UsageError(context, error);
  }
  const std::optional<std::string> shift_text = parsed.Value("--shift");
  double shift = 0.0;
  if (!shift_text) return UsageError(context, "give --shift SECONDS");
  if (!ParseDouble(*shift_text, &shift) || !std::isfinite(shift)) {
    return UsageError(context, "--shift wants a number of seconds, not '" + *shift_text + "'");
  }
  if (parsed.positionals().empty()) return UsageError(context, "name the clips to adjust");

  ReadClipDirectories();
  std::vector<int> rows;
  for (const std::string& name : parsed.positionals()) {
    const std::vector<int> named = ClipRowsNamed(name);
    if (named.empty()) return UsageError(context, "no clip '" + name + "' in the scanned directories");
    rows.insert(rows.end(), named.begin(), named.end());
  }

  TimeAdjustRun run;
  AdjustClipTimes(Tables().clip, rows, shift, run);
  ReadClipDirectories();
  std::printf("%d clips, %d result files, %d capture records, %d log lines adjusted, %d failed\n",
              run.clips, run.results, run.captures, run.log_lines, run.failures);
  return run.failures > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace mr4::cli
