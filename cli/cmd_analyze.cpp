// `mr4 analyze CLIP...`: each named clip of the scan, on the current
// context, the way the profile page's "A" runs it (the camera fitted to the
// stars of the clip's mask, then the analysis), or with --no-star-fit the
// analysis alone. A clip without a mask picture is analysed with the empty
// mask. Prints a line per clip and one per object.
//
// `mr4 analyze` without clip names: the parallel analysis of every eligible
// clip of the scan, as "Analyze C all" from the first line runs it, on
// "gPAN" + 1 slots. A terminal shows the slots' progress; otherwise a line
// per finished clip. Ctrl-C stops: nothing new starts, and the running
// clips end without writing, so they keep their old result files; a second
// Ctrl-C ends the program at once. Ends with a summary of the run.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/analysis_run.h"
#include "analysis/clip_analysis.h"
#include "analysis/parallel_analysis.h"
#include "analysis/replay_run.h"
#include "base/process_values.h"
#include "calib/profile_fit.h"
#include "app/settings.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/scan_range.h"
#include "clips/clip_scan.h"
#include "platform/message_queue.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

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

// Set by the Ctrl-C handler, read by the run's poll timer. The handler is
// installed with SA_RESETHAND: a second Ctrl-C takes the default action
// and ends the program at once.
volatile std::sig_atomic_t g_interrupted = 0;
constexpr auto kInterruptPoll = std::chrono::milliseconds(100);

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
};

int RunAnalyzeClips(const CommandContext& context, const ParsedArgs& parsed) {
  const bool star_fit = !parsed.Has("--no-star-fit");
  const Table& clips = Tables().clip;
  std::vector<int> rows;
  for (const std::string& name : parsed.positionals()) {
    const std::vector<int> named = ClipRowsNamed(name);
    if (named.empty()) return UsageError(context, "no clip " + name + " in the scanned directories");
    rows.push_back(named.front());
  }
  AnalysisContext& c = AnalysisContextAt(0);
  // A clip on the replay road gets its frames through the main loop, which
  // this thread runs while the run waits.
  ScopedReplayPump pump(DefaultHeadlessLoop());
  // Ctrl-C ends the running clip without writing; the clips after it are
  // not analysed. A thread of its own watches: the own reader's frame loop
  // runs on this thread without the main loop.
  InterruptGuard interrupt;
  std::jthread watch([&c](std::stop_token done) {
    while (!done.stop_requested() && !g_interrupted)
      std::this_thread::sleep_for(kInterruptPoll);
    if (!g_interrupted) return;
    c.stop.store(kStopKeepingResult);
    SignalReplayRun();
  });
  std::vector<std::uint8_t> mask;
  int failed = 0;
  for (int row : rows) {
    const std::string name(clips.Text(row, clip::kClipName));
    if (g_interrupted) {
      std::printf("%s: not analysed: stopped\n", name.c_str());
      ++failed;
      continue;
    }
    std::string calibration_failure;
    const int code = AnalyzeClipRow(c, row, star_fit, true, mask, &calibration_failure);
    if (code == kAnalysisStopped) {
      std::printf("%s: stopped, its old result file kept\n", name.c_str());
      ++failed;
      continue;
    }
    if (code != kAnalysisOk) {
      std::printf("%s: failed (code %d)\n", name.c_str(), code);
      ++failed;
      continue;
    }
    std::printf("%s: %d objects, class %s\n", name.c_str(), clips.Int(row, clip::kO),
                std::string(clips.Text(row, clip::kClass)).c_str());
    PrintObjects(row);
    // Analysed with the recorded pointing, which the stars did not confirm.
    if (!calibration_failure.empty()) {
      std::printf("%s: calibration failed: %s\n", name.c_str(), calibration_failure.c_str());
      ++failed;
    }
  }
  watch.request_stop();
  watch.join();
  c.stop.store(0);
  return failed > 0 ? kExitSomeFailed : kExitOk;
}

constexpr int kBarWidth = 30;

// The progress display on a terminal (stderr): a bar with the run's
// summary and a line per busy slot, redrawn at each tick.
class ProgressDisplay {
 public:
  void Draw(const ParallelProgress& p) {
    Erase();
    const int done = p.eligible > 0 ? std::min(p.finished * kBarWidth / p.eligible, kBarWidth) : 0;
    std::string bar(static_cast<std::size_t>(done), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - done), '.');
    std::fprintf(stderr, "[%s] %s\n", bar.c_str(), p.summary.c_str());
    lines_ = 1;
    for (const SlotProgress& slot : p.slot_lines) {
      if (slot.label.empty()) continue;
      std::fprintf(stderr, "  %-40s %s\n", slot.label.c_str(), slot.progress.c_str());
      ++lines_;
    }
    std::fflush(stderr);
  }
  void Erase() {
    for (; lines_ > 0; --lines_) std::fputs("\x1b[1A\x1b[2K", stderr);
    std::fflush(stderr);
  }

 private:
  int lines_ = 0;
};

struct RunTally {
  std::vector<int> analysed;
  std::vector<int> skipped;
  std::vector<std::pair<int, int>> failed;  // row, code
  // Analysed clips whose star fit failed: row, why.
  std::vector<std::pair<int, std::string>> calibration_failed;
  long long fields = 0;
};

void PrintFinished(const FinishedClip& done) {
  const Table& clips = Tables().clip;
  const std::string name(clips.Text(done.row, clip::kClipName));
  const SlotOutcome& o = done.outcome;
  if (o.skipped) {
    std::printf("%s: skipped: cannot be prepared for the star fit (mask picture or profile)\n",
                name.c_str());
  } else if (o.stopped) {
    std::printf(o.code == kAnalysisStopped ? "%s: stopped, its old result file kept\n"
                                           : "%s: not analysed: stopped\n",
                name.c_str());
  } else if (o.code != kAnalysisOk) {
    std::printf("%s: failed (code %d)\n", name.c_str(), o.code);
  } else {
    std::printf("%s: %d objects, class %s", name.c_str(), clips.Int(done.row, clip::kO),
                std::string(clips.Text(done.row, clip::kClass)).c_str());
    if (!o.calibration_failure.empty()) {
      std::printf(" (calibration failed: %s)", o.calibration_failure.c_str());
    }
    std::printf("\n");
  }
  std::fflush(stdout);
}

std::string ClassCounts(const std::map<std::string, int>& counts) {
  std::string text;
  for (const auto& [cls, n] : counts) {
    if (!text.empty()) text += ", ";
    text += cls + " " + std::to_string(n);
  }
  return text;
}

void PrintSummary(const RunTally& tally, int slots, double seconds, bool stopped, int eligible) {
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  std::map<std::string, int> meteors, others;
  int meteor_count = 0, other_count = 0;
  for (int row : tally.analysed) {
    for (int o = clips.Int(row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext)) {
      const std::string cls(objects.Text(o, obj::kClass));
      if (!cls.empty() && cls[0] == '_') {
        ++others[cls];
        ++other_count;
      } else {
        ++meteors[cls.empty() ? "(none)" : cls];
        ++meteor_count;
      }
    }
  }
  std::printf("clips: %zu analysed", tally.analysed.size());
  if (!tally.calibration_failed.empty()) {
    std::printf(" (%zu calibration failed)", tally.calibration_failed.size());
  }
  std::printf(", %zu skipped, %zu failed", tally.skipped.size(), tally.failed.size());
  if (stopped) {
    const int left = eligible - static_cast<int>(tally.analysed.size() + tally.skipped.size() +
                                                 tally.failed.size());
    std::printf(", %d not analysed (stopped)", left);
  }
  std::printf("\n");
  std::printf("meteors: %d", meteor_count);
  if (meteor_count > 0) std::printf(" (%s)", ClassCounts(meteors).c_str());
  std::printf("\nother objects: %d", other_count);
  if (other_count > 0) std::printf(" (%s)", ClassCounts(others).c_str());
  std::printf("\n");
  std::printf("elapsed: %.1f s on %d slots, %.1f fields/s\n", seconds, slots,
              seconds > 0 ? static_cast<double>(tally.fields) / seconds : 0.0);
  for (const auto& [row, code] : tally.failed) {
    std::printf("failed: %s (code %d)\n", std::string(clips.Text(row, clip::kClipName)).c_str(),
                code);
  }
  for (const auto& [row, why] : tally.calibration_failed) {
    std::printf("calibration failed: %s (%s): analysed with its recorded pointing, result "
                "file marked errm=%.0f\n",
                std::string(clips.Text(row, clip::kClipName)).c_str(), why.c_str(),
                kErrmCalibrationFailed);
  }
  if (!tally.skipped.empty()) {
    std::printf("skipped, no usable mask picture (N.BMP, M.BMP) or an invalid profile:\n");
    for (int row : tally.skipped) {
      std::printf("  %s\n", std::string(clips.Text(row, clip::kClipName)).c_str());
    }
    std::printf("  'mr4 analyze CLIP' analyses them one by one with an empty mask.\n");
  }
}

int RunAnalyzeLibrary(const CommandContext& context, const ParsedArgs& parsed) {
  Settings& settings = AppSettings();
  const int saved_threads = settings.gPAN;
  int threads = settings.gPAN;
  if (auto text = parsed.Value("--threads")) {
    if (!ParseInt(*text, &threads) || threads < 1 || threads > kContextCount - 1) {
      return UsageError(context, "--threads wants 1 to " + std::to_string(kContextCount - 1) +
                                     ", not '" + *text + "'");
    }
    if (threads > App().context_limit) {
      std::fprintf(stderr, "mr4 analyze: %d threads, as many as the free memory allows\n",
                   App().context_limit);
      threads = App().context_limit;
    }
  }
  threads = std::max(threads, 1);
  // For this run only: the settings file keeps its thread count.
  settings.gPAN = threads;
  AllocateParallelContexts(threads);

  ParallelOptions options;
  options.threads = threads;
  options.unclassified_only = parsed.Has("--unclassified-only");
  HeadlessLoop& loop = DefaultHeadlessLoop();
  ParallelAnalysis run(options, StarFitThenAnalyze(!parsed.Has("--no-star-fit")), loop);

  const bool live = isatty(STDERR_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
  ProgressDisplay display;
  RunTally tally;
  run.on_finished = [&](const FinishedClip& done) {
    const SlotOutcome& o = done.outcome;
    // A clip the stop came before counts with those the stop left.
    if (o.skipped) tally.skipped.push_back(done.row);
    else if (o.stopped) {}
    else if (o.code != kAnalysisOk) tally.failed.emplace_back(done.row, o.code);
    else {
      tally.analysed.push_back(done.row);
      if (!o.calibration_failure.empty()) {
        tally.calibration_failed.emplace_back(done.row, o.calibration_failure);
      }
    }
    tally.fields += o.fields;
    if (live) display.Draw(run.Progress());
    else PrintFinished(done);
  };
  if (live) run.on_tick = [&](const ParallelProgress& p) { display.Draw(p); };

  InterruptGuard interrupt;
  const MessageQueue::TimerId poll = loop.StartTimer(kInterruptPoll, [&] {
    if (g_interrupted && !run.stopped()) {
      run.Stop(kStopKeepingResult);
      if (live) display.Erase();
      std::fprintf(stderr, "stopping: the running clips end without writing and keep their "
                           "old result files (Ctrl-C again ends at once)\n");
    }
  });
  run.Run();
  loop.StopTimer(poll);
  if (live) display.Erase();
  settings.gPAN = saved_threads;

  const ParallelProgress end = run.Progress();
  if (end.eligible == 0) {
    std::printf(options.unclassified_only
                    ? "no clip to analyse: none is checked, has a video and is unclassified\n"
                    : "no clip to analyse: none is checked and has a video\n");
    return kExitOk;
  }
  // The sort keeps the summary's lists in list order, whatever the finish
  // order of the slots.
  std::sort(tally.analysed.begin(), tally.analysed.end());
  std::sort(tally.skipped.begin(), tally.skipped.end());
  std::sort(tally.failed.begin(), tally.failed.end());
  std::sort(tally.calibration_failed.begin(), tally.calibration_failed.end());
  PrintSummary(tally, threads + 1, run.ElapsedSeconds(), run.stopped(), end.eligible);
  // A stopped run did not analyse what was asked, and a failed calibration
  // leaves results in doubt: neither is a success.
  return !tally.failed.empty() || !tally.calibration_failed.empty() || run.stopped()
             ? kExitSomeFailed
             : kExitOk;
}

}  // namespace

int RunAnalyze(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--no-star-fit", OptionKind::kFlag},
                  {"--threads", OptionKind::kValue},
                  {"--unclassified-only", OptionKind::kFlag},
                  {"--range", OptionKind::kValue},
                  {"--from", OptionKind::kValue},
                  {"--days", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  const bool library = parsed.positionals().empty();
  if (!library && (parsed.Has("--threads") || parsed.Has("--unclassified-only"))) {
    return UsageError(context, "--threads and --unclassified-only analyse the whole library: "
                               "name no clip");
  }
  Settings wanted = AppSettings();
  if (!ReadScanRange(parsed, &wanted, &error)) {
    return UsageError(context, error);
  }
  ApplyScanRange(wanted);
  ReadClipDirectories();
  if (library) return RunAnalyzeLibrary(context, parsed);
  return RunAnalyzeClips(context, parsed);
}

}  // namespace mr4::cli
