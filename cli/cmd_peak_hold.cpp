// mr4 peak-hold: the peak-hold picture of one clip's video, as the
// utilities page's "MakeP.bmp" makes it. The frames come through the replay
// graph to this thread's headless loop, which the command runs while it
// waits.
#include <cstdio>
#include <string>

#include "analysis/replay_run.h"
#include "app/settings.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_scan.h"
#include "platform/message_queue.h"
#include "tables/table_catalogue.h"
#include "utility/peak_hold.h"

namespace mr4::cli {
namespace {

// "1" .. "1000", the range of the page's field.
bool ParseInterval(const std::string& text, int* interval) {
  return ParseInt(text, interval) && *interval >= 1 && *interval <= 1000;
}

}  // namespace

int RunPeakHold(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--interval", OptionKind::kValue}, {"--out", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (parsed.positionals().size() != 1) {
    return UsageError(context, "name one clip");
  }
  if (const auto text = parsed.Value("--interval")) {
    int interval = 0;
    if (!ParseInterval(*text, &interval)) {
      return UsageError(context, "--interval takes a whole number from 1 to 1000");
    }
    AppSettings().peakf = interval;
  }
  std::filesystem::path out;
  if (const auto file = parsed.Value("--out")) {
    if (file->empty()) return UsageError(context, "--out needs a file name");
    out = *file;
  }

  ReadClipDirectories();
  const std::string& name = parsed.positionals().front();
  const std::vector<int> named = ClipRowsNamed(name);
  if (named.empty()) return UsageError(context, "no clip " + name + " in the scanned directories");
  const int row = named.front();

  const ScopedReplayPump pump(DefaultHeadlessLoop());
  const PeakHoldOutcome outcome = MakePeakHold(row, out);
  switch (outcome.status) {
    case PeakHoldStatus::kWritten:
      std::printf("wrote %s: %d frames seen, %d held\n", outcome.path.c_str(),
                  outcome.frames_seen, outcome.frames_taken);
      return kExitOk;
    case PeakHoldStatus::kCancelled:
      std::printf("not written: the file exists (--yes replaces it)\n");
      return kExitDeclined;
    case PeakHoldStatus::kBusy:
      std::printf("the replay is busy\n");
      return kExitSomeFailed;
    case PeakHoldStatus::kNoVideo:
      std::printf("clip %s has no video to replay\n", name.c_str());
      return kExitSomeFailed;
    case PeakHoldStatus::kNotWritten:
    case PeakHoldStatus::kNoFrames:
      return kExitSomeFailed;
  }
  return kExitSomeFailed;
}

}  // namespace mr4::cli
