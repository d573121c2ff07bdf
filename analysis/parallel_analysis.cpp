#include "analysis/parallel_analysis.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>

#include "analysis/analysis_run.h"
#include "analysis/clip_analysis.h"
#include "analysis/replay_run.h"
#include "clips/clip_files.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {

bool ClipEligible(const Table& clips, int row, bool unclassified_only) {
  if (clips.Int(row, clip::kCheck) == 0) return false;
  if ((clips.Int(row, clip::kMT) & (KindBit(kKindAvi) | KindBit(kKindWmv))) == 0) return false;
  if (!unclassified_only) return true;
  const std::string_view cls = clips.Text(row, clip::kClass);
  return cls.empty() || cls[0] == '_' || (cls.size() > 1 && cls[1] == '_');
}

bool NeedsReplayGraph(const Table& clips, int row) {
  // The run takes the replay road below format code 1; a worker on another
  // context must never start a second replay run beside slot 0's.
  return clips.Int(row, clip::kCodecno) < 1;
}

SlotOutcome RunClipInSlot(AnalysisContext& c, int row, bool star_fit,
                          std::vector<std::uint8_t>& mask) {
  SlotOutcome outcome;
  const ClipPreparation prepared = PrepareClip(c, row, false, mask);
  if (prepared != ClipPreparation::kReady) {
    // A clip without a camera or with an unusable frame size failed; one
    // without a mask picture is left for the one-by-one analysis.
    outcome.skipped = prepared == ClipPreparation::kFailed;
    outcome.code = kAnalysisPrepareFailed;
    return outcome;
  }
  if (star_fit) {
    const std::size_t bytes = std::size_t(c.profile.cx) * c.profile.cy * 3;
    outcome.calibration_failure =
        FitClipToStars(c, std::span<const std::uint8_t>(mask.data(), bytes));
  }
  // A run begun after the stop would replace the clip's result with an
  // empty one.
  if (c.stop.load(std::memory_order_relaxed)) {
    outcome.stopped = true;
    return outcome;
  }
  outcome.code = AnalyzeClip(c);
  outcome.stopped = outcome.code == kAnalysisStopped;
  outcome.fields = c.field_counter;
  return outcome;
}

SlotRunner StarFitThenAnalyze(bool star_fit) {
  auto masks = std::make_shared<std::array<std::vector<std::uint8_t>, kContextCount>>();
  return [masks, star_fit](int slot, int row) {
    return RunClipInSlot(AnalysisContextAt(slot), row, star_fit,
                         (*masks)[static_cast<std::size_t>(slot)]);
  };
}

namespace {

ParallelOptions Checked(const ParallelOptions& options) {
  ParallelOptions checked = options;
  checked.threads = std::clamp(options.threads, 1, kContextCount - 1);
  checked.start_line = std::max(options.start_line, 0);
  return checked;
}

}  // namespace

SlotRunner AnalyzeAsPrepared() {
  auto masks = std::make_shared<std::array<std::vector<std::uint8_t>, kContextCount>>();
  return [masks](int slot, int row) {
    AnalysisContext& c = AnalysisContextAt(slot);
    SlotOutcome outcome;
    outcome.code = AnalyzeClipRow(c, row, false, true, (*masks)[static_cast<std::size_t>(slot)]);
    outcome.stopped = outcome.code == kAnalysisStopped;
    outcome.fields = c.field_counter;
    return outcome;
  };
}

ParallelAnalysis::ParallelAnalysis(const ParallelOptions& options, SlotRunner runner,
                                   HeadlessLoop& loop)
    : options_(Checked(options)), runner_(std::move(runner)), queue_(loop), loop_(&loop) {}

ParallelAnalysis::ParallelAnalysis(const ParallelOptions& options, SlotRunner runner,
                                   MessageQueue& queue)
    : options_(Checked(options)),
      runner_(std::move(runner)),
      queue_(queue) {}

ParallelAnalysis::~ParallelAnalysis() {
  if (timer_ != 0) queue_.StopTimer(timer_);
  *alive_ = false;
  for (Slot& s : slots_) {
    if (s.thread.joinable()) s.thread.join();
  }
}

bool ParallelAnalysis::LineTakesPart(int line, bool replay_road, int drive) const {
  const Table& clips = Tables().clip;
  const int row = lines_[static_cast<std::size_t>(line)];
  // Road and drive first: they are never written by a run, while the class
  // of a clip another worker analyses is.
  if (NeedsReplayGraph(clips, row) != replay_road) return false;
  if (!replay_road && std::max(clips.Int(row, clip::kDriveno), 0) != drive) return false;
  return ClipEligible(clips, row, options_.unclassified_only);
}

int ParallelAnalysis::NextLine(int from, bool replay_road, int drive) const {
  for (int j = std::max(from, 0); j < static_cast<int>(lines_.size()); ++j) {
    if (LineTakesPart(j, replay_road, drive)) return j;
  }
  return -1;
}

int ParallelAnalysis::TakeFromDrive(int drive) {
  Drive& d = drives_[static_cast<std::size_t>(drive)];
  const int line = NextLine(d.next, false, drive);
  if (line < 0) {
    d.next = -1;
    return -1;
  }
  ++d.running;
  d.next = NextLine(line + 1, false, drive);
  return line;
}

std::string ParallelAnalysis::SummaryText() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d threads %d / %d ", running_, finished_, total_);
  return text;
}

bool ParallelAnalysis::StartSlot(int slot) {
  std::lock_guard lock(mutex_);
  if (stop_.load()) return false;
  int line = -1;
  int drive = -1;
  if (slot >= 1 && !options_.sequential) {
    // An idle drive first; a busy one only when no idle drive has work.
    for (bool idle_only : {true, false}) {
      for (int d = 0; d < static_cast<int>(drives_.size()) && line < 0; ++d) {
        const Drive& entry = drives_[static_cast<std::size_t>(d)];
        if (entry.next < 0 || (idle_only && entry.running != 0)) continue;
        line = TakeFromDrive(d);
        if (line >= 0) drive = d;
      }
      if (line >= 0) break;
    }
  } else if (options_.sequential) {
    if (!sequential_taken_ && !lines_.empty()) line = 0;
    sequential_taken_ = true;
  } else if (slot0_next_ >= 0) {
    line = NextLine(slot0_next_, true, -1);
    slot0_next_ = line >= 0 ? NextLine(line + 1, true, -1) : -1;
  }
  if (line < 0) return false;

  const Table& clips = Tables().clip;
  const int row = lines_[static_cast<std::size_t>(line)];
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  s.row = row;
  s.drive = drive;
  s.seen_fields = -1;
  s.progress.clear();
  const std::string name(clips.Text(row, clip::kClipName));
  s.label = name.empty() ? std::string() : std::to_string(slot) + ": " + name;
  AnalysisContextAt(slot).clip_row = row;
  ++running_;
  if (slot == 0 && !slot0_on_thread_) {
    slot0_pending_ = row;  // Run takes it on the main thread
  } else {
    s.thread = std::thread([this, slot, row, alive = alive_] {
      const SlotOutcome outcome = runner_(slot, row);
      queue_.Post([this, slot, outcome, alive] {
        if (*alive) FinishSlot(slot, outcome);
      });
    });
  }
  return true;
}

void ParallelAnalysis::FinishSlot(int slot, const SlotOutcome& outcome) {
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  if (s.thread.joinable()) s.thread.join();  // it has posted and is ending
  FinishedClip done;
  {
    std::lock_guard lock(mutex_);
    --running_;
    ++finished_;
    if (s.drive >= 0) --drives_[static_cast<std::size_t>(s.drive)].running;
    done = {slot, s.row, outcome};
    s.row = -1;
    s.drive = -1;
    s.label.clear();
    s.progress.clear();
  }
  const Table& clips = Tables().clip;
  if (done.row >= 0 && clips.Exists(done.row)) {
    AnalysisContextAt(slot).current_object = clips.Int(done.row, clip::kOline);
  }
  if (on_context_done) on_context_done(done);
  if (!stop_.load()) StartSlot(slot);
  // After the slot's next start, so that a display shows the slots busy.
  if (on_finished) on_finished(done);
  if (!slot0_on_thread_) return;  // Run sees the end itself
  {
    std::lock_guard lock(mutex_);
    if (running_ != 0) return;
  }
  End();
  // Last: the callback may end the object's owner.
  if (on_end) on_end();
}

bool ParallelAnalysis::Begin() {
  start_ = std::chrono::steady_clock::now();
  const int n = options_.threads;
  for (int s = 0; s <= n; ++s) AnalysisContextAt(s).stop.store(0);

  const Table& clips = Tables().clip;
  {
    std::lock_guard lock(mutex_);
    started_ = true;
    if (options_.lines.empty()) {
      for (int r = 0; r < clips.count(); ++r) {
        if (clips.Exists(r)) lines_.push_back(r);
      }
    } else {
      for (int r : options_.lines) {
        if (r >= 0 && clips.Exists(r)) lines_.push_back(r);
      }
    }
    const int first = std::min(options_.start_line, static_cast<int>(lines_.size()));
    lines_.erase(lines_.begin(), lines_.begin() + first);
    if (options_.sequential) {
      lines_.resize(std::min<std::size_t>(lines_.size(), 1));
      total_ = eligible_ = 1;
    } else {
      total_ = static_cast<int>(lines_.size());
    }
    int drive_count = 0;
    for (int row : lines_) drive_count = std::max(drive_count, clips.Int(row, clip::kDriveno) + 1);
    drives_.assign(static_cast<std::size_t>(std::max(drive_count, 1)), Drive{});
    for (int j = 0; j < total_ && !options_.sequential; ++j) {
      const int row = lines_[static_cast<std::size_t>(j)];
      if (!ClipEligible(clips, row, options_.unclassified_only)) continue;
      ++eligible_;
      if (NeedsReplayGraph(clips, row)) {
        if (slot0_next_ < 0) slot0_next_ = j;
      } else {
        Drive& d = drives_[static_cast<std::size_t>(std::max(clips.Int(row, clip::kDriveno), 0))];
        if (d.next < 0) d.next = j;
      }
    }
  }

  if (options_.sequential) return StartSlot(0);
  const int first_slot = slot0_next_ >= 0 ? 0 : 1;
  bool started = false;
  for (int slot = first_slot; slot <= n; ++slot) {
    if (!StartSlot(slot)) break;
    started = true;
  }
  return started;
}

void ParallelAnalysis::End() {
  if (timer_ != 0) queue_.StopTimer(timer_);
  timer_ = 0;
  for (int s = 0; s <= options_.threads; ++s) AnalysisContextAt(s).stop.store(0);
  std::lock_guard lock(mutex_);
  end_ = std::chrono::steady_clock::now();
  ended_ = true;
}

void ParallelAnalysis::Run() {
  if (loop_ == nullptr) return;  // built for Start
  ScopedReplayPump pump(*loop_);
  if (Begin()) {
    timer_ = queue_.StartTimer(kParallelTickPeriod, [this] { Tick(); });
    for (;;) {
      int row;
      {
        std::lock_guard lock(mutex_);
        if (running_ == 0) break;
        row = slot0_pending_;
        slot0_pending_ = -1;
      }
      if (row >= 0) {
        // Slot 0 on the main thread: a replay run runs the loop while it
        // waits, so the workers' ends and the ticks go on meanwhile.
        FinishSlot(0, runner_(0, row));
        continue;
      }
      loop_->RunUntil(
          [this] {
            std::lock_guard lock(mutex_);
            return running_ == 0 || slot0_pending_ >= 0;
          },
          kParallelTickPeriod);
    }
  }
  End();
}

bool ParallelAnalysis::Start() {
  slot0_on_thread_ = true;
  if (!Begin()) {
    End();
    return false;
  }
  timer_ = queue_.StartTimer(kParallelTickPeriod, [this] { Tick(); });
  return true;
}

bool ParallelAnalysis::running() const {
  std::lock_guard lock(mutex_);
  return started_ && !ended_;
}

void ParallelAnalysis::Stop(int kind) {
  stop_.store(true);
  // A later, milder stop does not undo a stop keeping the old results.
  for (int s = 0; s <= options_.threads; ++s) {
    std::atomic<int>& flag = AnalysisContextAt(s).stop;
    int now = flag.load();
    while (now < kind && !flag.compare_exchange_weak(now, kind)) {
    }
  }
  SignalReplayRun();
}

void ParallelAnalysis::Tick() {
  {
    std::lock_guard lock(mutex_);
    for (int slot = 0; slot <= options_.threads; ++slot) {
      Slot& s = slots_[static_cast<std::size_t>(slot)];
      if (s.label.empty()) {
        s.progress.clear();
        s.seen_fields = -1;
        continue;
      }
      const AnalysisContext& c = AnalysisContextAt(slot);
      const int counter = c.field_counter;
      const int last = c.last_detection_field;
      if (counter >= last - 2) {
        s.progress.clear();
      } else {
        char text[32];
        std::snprintf(text, sizeof text, "%5d/%5d", counter, last);
        s.progress = text;
      }
      // The watchdog looks at slot 0 only: a worker busy with its star fit
      // or its reduction must not end the replay run. A run whose frames
      // have come and then stopped for a tick ends with what it has.
      if (slot == 0 && counter > 0 && counter == s.seen_fields && ReplayRunActive()) {
        SignalReplayRun();
      }
      s.seen_fields = counter;
    }
  }
  if (on_tick) on_tick(Progress());
}

ParallelProgress ParallelAnalysis::Progress() const {
  std::lock_guard lock(mutex_);
  ParallelProgress p;
  p.running = running_;
  p.finished = finished_;
  p.total = total_;
  p.eligible = eligible_;
  p.summary = SummaryText();
  for (int slot = 0; slot <= options_.threads; ++slot) {
    const Slot& s = slots_[static_cast<std::size_t>(slot)];
    p.slot_lines.push_back({s.label, s.progress});
  }
  return p;
}

bool ParallelAnalysis::SlotBusy(int slot) const {
  if (slot < 0 || slot >= kContextCount) return false;
  std::lock_guard lock(mutex_);
  return slots_[static_cast<std::size_t>(slot)].row >= 0;
}

double ParallelAnalysis::ElapsedSeconds() const {
  std::lock_guard lock(mutex_);
  const auto end = ended_ ? end_ : std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - start_).count();
}

}  // namespace mr4
