// The parallel analysis of the clip list: every eligible clip from the
// start line to the end, scheduled onto worker slots 0 .. N, slot i working
// in analysis context i.
//
// Slots 1 .. N run the clips the own reader decodes, each clip on a thread
// of its own; the clips are spread over the storage drives (the clip row's
// `driveno`) so that a drive gets a second worker only when no idle drive
// has work. Slot 0 runs the clips that need the replay graph, one after the
// other, on the main thread: the graph and context 0 exist once.
//
// Two ways to run it. Run (a headless program) schedules and returns at the
// end, running `loop` while it waits; slot 0 runs on the main thread (a
// replay run of slot 0 runs the loop too). Start (a program whose main
// thread runs an event loop of its own, the desktop) schedules and returns
// at once; the workers' ends and the ticks arrive through the queue, slot 0
// runs on a thread of its own (a replay run there blocks while the main
// thread's loop hands out its frames), and `on_end` tells the end.
//
// Threads: Run, Start, the slot bookkeeping and the callbacks run on the
// main thread; Stop and Progress may be called from any thread. A worker
// writes only its clip's CLIP row (OBJ rows under the table's lock, by the
// run).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis_context.h"
#include "platform/message_queue.h"

namespace mr4 {

class Table;

// The progress tick of the slots and the replay watchdog.
inline constexpr auto kParallelTickPeriod = std::chrono::milliseconds(1000);

// What one slot did with one clip.
struct SlotOutcome {
  int code = 0;          // the run's result code (AnalysisResult)
  bool skipped = false;  // the clip could not be prepared: not analysed
  bool stopped = false;  // the stop came before its run began, or an
                         // interrupt cut it short: not analysed, the old
                         // result file kept
  int fields = 0;        // fields the run went through
  // Why its star fit failed (CalibrationFailure); the clip was analysed
  // with the recorded pointing and its result file is marked. Empty when
  // the fit held or did not run.
  std::string calibration_failure;
};

// Runs clip row `row` in slot `slot` (on context `slot`); on the slot's
// thread, slot 0 on the main thread.
using SlotRunner = std::function<SlotOutcome(int slot, int row)>;

// The clip may take part: checked, with an AVI or WMV file, and with
// `unclassified_only` only while its class is empty or marked "_" in its
// first or second character.
bool ClipEligible(const Table& clips, int row, bool unclassified_only);

// True for the clips only the replay graph decodes (format code below 1):
// these run in slot 0.
bool NeedsReplayGraph(const Table& clips, int row);

// The worker's sequence on its context: the clip prepared for the star work
// (without a usable mask picture or with an invalid profile it is skipped),
// the star fit when `star_fit`, then the analysis run. `mask` is the slot's
// mask picture buffer, kept between clips.
SlotOutcome RunClipInSlot(AnalysisContext& c, int row, bool star_fit,
                          std::vector<std::uint8_t>& mask);
// A runner calling RunClipInSlot on context `slot` with a buffer per slot.
SlotRunner StarFitThenAnalyze(bool star_fit);
// The runner of a one-clip run: the clip prepared (the empty mask when it
// has no mask picture) and analysed with the camera of its row, no star fit.
SlotRunner AnalyzeAsPrepared();

struct ParallelOptions {
  int threads = 4;                 // N ("gPAN"): slots 0 .. N, 1 .. kContextCount - 1
  bool unclassified_only = false;  // the Ctrl variant
  int start_line = 0;              // first line of the list taking part
  // The list: the CLIP rows in line order. Empty: the existing rows in
  // table order.
  std::vector<int> lines;
  // One clip only, the start line's, in slot 0, whatever its checks (the
  // caller has chosen it); total 1. `threads` and the drives play no part.
  bool sequential = false;
};

struct SlotProgress {
  std::string label;     // "%d: %s" (slot, clip name); empty when idle
  std::string progress;  // "%5d/%5d" (field counter, last detection field)
};

struct ParallelProgress {
  int running = 0;
  int finished = 0;
  int total = 0;     // list lines from the start line to the end
  int eligible = 0;  // of them, clips that take part
  std::string summary;              // "%d threads %d / %d "
  // Slot 0 .. N. (Not `slots`: the Qt code that shows it cannot use the name.)
  std::vector<SlotProgress> slot_lines;
};

struct FinishedClip {
  int slot = 0;
  int row = -1;
  SlotOutcome outcome;
};

class ParallelAnalysis {
 public:
  // `loop` is the main thread's (Run or Start).
  ParallelAnalysis(const ParallelOptions& options, SlotRunner runner, HeadlessLoop& loop);
  // `queue` delivers to the main thread, whose own loop runs (Start only).
  ParallelAnalysis(const ParallelOptions& options, SlotRunner runner, MessageQueue& queue);
  // Waits for workers still running (a Start-ed run given up: their ends
  // are dropped).
  ~ParallelAnalysis();
  ParallelAnalysis(const ParallelAnalysis&) = delete;
  ParallelAnalysis& operator=(const ParallelAnalysis&) = delete;

  // Schedules the list (the existing CLIP rows in table order) and returns
  // when the last started clip has finished; returns at once when no clip
  // is eligible. Main thread only; once per object.
  void Run();
  // Schedules the list and returns: false when no clip started (the run
  // has then ended, and `on_end` is not called). Otherwise `on_end` follows
  // the last started clip's end. Main thread only; once per object.
  bool Start();
  // True from Run or Start until the last started clip has finished.
  bool running() const;
  // Nothing new starts; the running clips end their frame loops and write
  // what they have, or with kStopKeepingResult (an interrupt) end without
  // writing, keeping their clips' old result files; a later milder stop
  // does not undo that. Any thread.
  void Stop(int kind = kStopWithWhatItHas);
  bool stopped() const { return stop_.load(); }

  ParallelProgress Progress() const;
  // The slot has a clip (its context is in use). Any thread.
  bool SlotBusy(int slot) const;
  // Seconds from the start of Run to its end (or to now while it runs).
  double ElapsedSeconds() const;

  // Main thread: a clip has finished and its context (its current object
  // set to the clip's first object) is not yet given the next clip, so its
  // images and detections can be read.
  std::function<void(const FinishedClip&)> on_context_done;
  // Main thread: after each clip (and its slot's next start), and after
  // each progress tick.
  std::function<void(const FinishedClip&)> on_finished;
  std::function<void(const ParallelProgress&)> on_tick;
  // Main thread, Start only: the last started clip has finished (after its
  // on_finished); the stop flags are cleared again.
  std::function<void()> on_end;

 private:
  struct Drive {
    int next = -1;  // next candidate line, -1 none
    int running = 0;
  };
  struct Slot {
    int row = -1;  // the clip being analysed, -1 idle
    int drive = -1;
    std::string label;
    std::string progress;
    int seen_fields = -1;  // field counter at the previous tick
    std::thread thread;
  };

  // Builds the list and starts the first slots; false when none started.
  bool Begin();
  void End();
  bool StartSlot(int slot);
  void FinishSlot(int slot, const SlotOutcome& outcome);
  // Takes the drive's candidate (the first own-reader line at or after it)
  // and advances it; -1 when the drive has none.
  int TakeFromDrive(int drive);
  int NextLine(int from, bool replay_road, int drive) const;
  bool LineTakesPart(int line, bool replay_road, int drive) const;
  void Tick();
  std::string SummaryText() const;

  const ParallelOptions options_;
  SlotRunner runner_;
  MessageQueue& queue_;
  HeadlessLoop* loop_ = nullptr;  // Run's; null for Start
  bool slot0_on_thread_ = false;  // Start-ed: slot 0 gets a thread too
  MessageQueue::TimerId timer_ = 0;
  // The posted ends of the workers look here first: a run given up while
  // workers ran is gone when their ends arrive.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  mutable std::mutex mutex_;  // the slots, drives and counters
  std::vector<int> lines_;    // list line -> CLIP row
  std::vector<Drive> drives_;
  int slot0_next_ = -1;
  int slot0_pending_ = -1;    // row waiting for the main thread, -1 none
  std::array<Slot, kContextCount> slots_;
  int running_ = 0;
  int finished_ = 0;
  int total_ = 0;
  int eligible_ = 0;
  std::atomic<bool> stop_{false};
  std::chrono::steady_clock::time_point start_{}, end_{};
  bool started_ = false;
  bool ended_ = false;
  bool sequential_taken_ = false;
};

}  // namespace mr4
