#include "analysis/replay_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "analysis/analysis_run.h"
#include "analysis/detector.h"
#include "analysis/reduction.h"
#include "base/error.h"
#include "base/process_values.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "replay/replay_thread.h"

namespace mr4 {
namespace {

// How long the start of a run waits for the replay thread to close the old
// graph, and for the main loop to hand out the frames still queued for it.
constexpr auto kBarrierLimit = std::chrono::seconds(10);

thread_local HeadlessLoop* t_pump = nullptr;

// One run: what the frame function, the replay thread's hooks and the
// waiting RunReplay share. The hooks hold it, so it outlives a frame still
// queued after the run; the context is touched only until `finished`.
struct ReplayRunState {
  AnalysisContext* c = nullptr;
  CReplayThread* replay = nullptr;

  std::mutex frame_mutex;  // held while a frame is analysed
  bool finished = false;   // under frame_mutex
  bool detection_frame = false;
  // The size of a frame that was not the clip's (0: none came), under
  // frame_mutex.
  int other_width = 0, other_height = 0;

  std::mutex event_mutex;  // the completion event
  std::condition_variable event;
  std::atomic<bool> signalled{false};
  std::atomic<int> frames{0};  // frames analysed so far

  void Signal() {
    {
      std::lock_guard lock(event_mutex);
      signalled = true;
    }
    event.notify_all();
  }
};

std::mutex g_run_mutex;
std::shared_ptr<ReplayRunState> g_run;

// Waits for the completion event until `deadline`.
void WaitForEvent(ReplayRunState& run, std::chrono::steady_clock::time_point deadline) {
  if (t_pump) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    t_pump->RunUntil([&] { return run.signalled.load(); },
                     std::max(left, std::chrono::milliseconds(0)));
    return;
  }
  std::unique_lock lock(run.event_mutex);
  run.event.wait_until(lock, deadline, [&] { return run.signalled.load(); });
}

// Waits for the run's end: its event, or the watchdog, which starts with
// the first frame (a pipeline takes its time to start) and ends a run whose
// frames have stopped.
void WaitForRunEnd(ReplayRunState& run) {
  const auto start = std::chrono::steady_clock::now();
  int seen = 0;
  for (;;) {
    WaitForEvent(run, std::chrono::steady_clock::now() + kReplayWatchdogPeriod);
    if (run.signalled.load()) return;
    const int frames = run.frames.load();
    if (frames == 0) {
      if (std::chrono::steady_clock::now() - start >= kReplayFirstFrameLimit) return;
      continue;
    }
    if (frames == seen) return;
    seen = frames;
  }
}

// The frame function: one delivered frame (the green plane, rows
// bottom-up), with the phases of the own reader's loop; the next analysis
// step is asked for as soon as the frame is copied.
void ReplayFrame(ReplayRunState& run, const DeliveredFrame& frame) {
  std::lock_guard lock(run.frame_mutex);
  if (run.finished) return;
  if (!frame.buffer) FatalError("Initialize was failed");
  AnalysisContext& c = *run.c;
  if (c.stop.load(std::memory_order_relaxed)) {
    run.Signal();
    return;
  }
  const std::size_t bytes = std::size_t(c.width) * c.height;
  if (frame.width != c.width || frame.height != c.height ||
      frame.pixels != FramePixels::kGreen || frame.buffer->size() < bytes) {
    // The planes and the profile are the clip's frame size.
    if (frame.width != c.width || frame.height != c.height) {
      run.other_width = frame.width;
      run.other_height = frame.height;
    }
    run.Signal();
    return;
  }
  // The frame is analysed from the context's raw buffer, so the next one
  // can be decoded into the shared buffer meanwhile: decoding and analysis
  // overlap.
  std::memcpy(c.raw, frame.buffer->data(), bytes);
  run.replay->PostCommand(kReplayAnalysisStep);
  const ClipRunValues& clip = c.clip;
  const int advance = clip.interlaced ? 2 : 1;
  // The first frame a step brings is frame 1: the frames before it (frame 0
  // shown by the preroll) count as skipped, so that fields and times are
  // those of the own reader on the same video.
  if (run.frames.load() == 0) c.field_counter = frame.frame_number * advance;
  c.last_seen_field.store(c.field_counter, std::memory_order_relaxed);
  const std::int64_t duration = run.replay->Snapshot().duration;
  if (c.field_counter >= kMaxFields - 5) {
    c.field_counter += advance;
  } else if (duration <= 0 || frame.position < duration) {
    // The green plane is what an 8-bit bottom-up bitmap holds.
    const FrameGeometry geometry{FrameFormat::kDib, c.width, c.height, 1};
    const std::span<const std::uint8_t> pixels(c.raw, bytes);
    const YuvTables& tables = App().yuv;
    if (AnalyzeFrame(c, c.field_counter / advance, geometry, pixels, tables))
      run.detection_frame = true;
  }
  ++run.frames;
}

// The clip's video as the scan met it (the AVI first), else by its base
// path; empty when the clip has none.
std::filesystem::path ReplayVideo(const AnalysisContext& c, char* kind) {
  const ClipRunValues& clip = c.clip;
  const struct {
    bool has;
    int file_kind;
    const char* extension;
    char media_kind;
  } videos[] = {{clip.has_avi, kKindAvi, ".avi", 'a'}, {clip.has_wmv, kKindWmv, ".wmv", 'w'}};
  for (const auto& v : videos) {
    if (!v.has) continue;
    std::filesystem::path path = ClipFilePath(c.clip_row, v.file_kind);
    if (path.empty()) path = clip.base_path + v.extension;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      *kind = v.media_kind;
      return path;
    }
  }
  return {};
}

}  // namespace

bool WaitWithMainLoop(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  if (t_pump) return t_pump->RunUntil(done, limit);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

ScopedReplayPump::ScopedReplayPump(HeadlessLoop& loop) : previous_(t_pump) { t_pump = &loop; }
ScopedReplayPump::~ScopedReplayPump() { t_pump = previous_; }

void RestartReplayFor(CReplayThread& replay, const ReplayClip& clip) {
  const std::uint64_t closed = replay.PostCommand(kReplayClose);
  replay.SetCurrentClip(clip);
  WaitWithMainLoop([&] { return replay.CommandsHandled() >= closed; }, kBarrierLimit);
  auto flushed = std::make_shared<std::atomic<bool>>(false);
  MainQueue().Post([flushed] { *flushed = true; });
  WaitWithMainLoop([&] { return flushed->load(); }, kBarrierLimit);
}

int RunReplay(AnalysisContext& c) {
  if (c.clip_row < 0) return kAnalysisNoReplayClip;
  ClipRunValues& clip = c.clip;
  char media_kind = 0;
  const std::filesystem::path video = ReplayVideo(c, &media_kind);
  if (video.empty()) {
    c.run_failure = clip.base_path + " has no video file (.avi or .wmv)";
    return kAnalysisNoReplayVideo;
  }
  if (clip.fps < 0.01) clip.fps = 29.97;

  std::memset(c.background, 0, std::size_t(c.width) * c.height * sizeof(float));
  c.background_histogram.fill(0);
  c.field_counter = 0;
  c.last_seen_field.store(-1, std::memory_order_relaxed);

  CReplayThread& replay = ReplayThread();
  if (replay.AnalysisInstalled()) FatalError("still Analyze1 running");
  // A fresh graph of this clip, in analysis mode from position 0.
  ReplayClip current;
  current.video = video;
  current.media_kind = media_kind;
  current.width = c.width;
  current.height = c.height;
  current.interlaced = clip.interlaced != 0;
  current.bbf = clip.bbf != 0;
  RestartReplayFor(replay, current);

  auto run = std::make_shared<ReplayRunState>();
  run->c = &c;
  run->replay = &replay;
  {
    std::lock_guard lock(g_run_mutex);
    g_run = run;
  }
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [run](const DeliveredFrame& frame) { ReplayFrame(*run, frame); };
  // Read at each step on the replay thread: without the frame lock, so the
  // next frame is decoded while this one is analysed. A stop flag raised
  // meanwhile is seen by the next frame, which ends the run.
  hooks.stop_requested = [run] { return run->signalled.load(); };
  hooks.last_field_index = c.last_detection_field;
  hooks.on_run_end = [run] { run->Signal(); };
  hooks.green_plane = true;
  replay.InstallAnalysis(std::move(hooks));
  replay.PostCommand(kReplayAnalysisStep);

  WaitForRunEnd(*run);
  run->Signal();  // ended by the watchdog too: no further step

  bool detection_frame;
  int other_width, other_height;
  {
    std::lock_guard lock(run->frame_mutex);
    run->finished = true;
    detection_frame = run->detection_frame;
    other_width = run->other_width;
    other_height = run->other_height;
  }
  replay.RemoveAnalysis();
  {
    std::lock_guard lock(g_run_mutex);
    g_run.reset();
  }

  // Frames are counted as the own reader counts them: frame 0, which the
  // first step passes, included.
  c.frames_read = (clip.interlaced + c.field_counter) / (clip.interlaced + 1);
  c.source_failure = replay.GraphFailure();
  if (clip.frames == 2005) clip.frames = c.frames_read;
  // As on the own reader: a stream that gave no frame of the detection
  // phase (undecodable, or of another frame size) has nothing to report.
  if (!detection_frame && !c.stop.load(std::memory_order_relaxed)) {
    // The cause: frames of another size, else the graph's own account,
    // else too few frames.
    if (other_width > 0 || other_height > 0) {
      c.run_failure =
          FrameSizeFailure(video.string(), other_width, other_height, c.width, c.height);
    } else if (!c.source_failure.empty()) {
      c.run_failure = video.string() + " cannot be decoded: " + c.source_failure;
    } else {
      c.run_failure = TooFewFramesFailure(c, video.string());
    }
    return kAnalysisBadInput;
  }
  c.any_detection_frame = detection_frame;
  ReduceRun(c);
  TidyObjects(c);
  return kAnalysisOk;
}

void SignalReplayRun() {
  std::shared_ptr<ReplayRunState> run;
  {
    std::lock_guard lock(g_run_mutex);
    run = g_run;
  }
  if (run) run->Signal();
}

bool ReplayRunActive() {
  std::lock_guard lock(g_run_mutex);
  return g_run != nullptr;
}

}  // namespace mr4
