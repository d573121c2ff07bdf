#include "replay/replay_thread.h"

#include <utility>

#include "base/error.h"
#include "base/process_values.h"
#include "app/settings.h"

namespace mr4 {
namespace {

// How long the thread waits for the frame of a step or seek.
constexpr auto kMoveLimit = std::chrono::seconds(5);
// A new build waits this long after tearing the old graph down.
constexpr auto kRebuildPause = std::chrono::milliseconds(200);

// The frame whose time holds a position, on the grid of the frame duration.
std::int64_t HoldingFrame(std::int64_t position, int frame_duration) {
  return position <= 0 || frame_duration <= 0 ? 0 : position / frame_duration;
}

// The grid frame nearest to a frame's timestamp (timestamps of a rate like
// 30000/1001 drift below the grid of the rounded frame duration).
std::int64_t NearestFrame(std::int64_t pts, int frame_duration) {
  return pts <= 0 || frame_duration <= 0 ? 0 : (pts + frame_duration / 2) / frame_duration;
}

}  // namespace

int ReplayFrameNumber(std::int64_t position, int frame_duration) {
  if (position <= 0 || frame_duration <= 0) return 0;
  return static_cast<int>((position + 100) / frame_duration);
}

int ReplayFieldIndex(std::int64_t position, int frame_duration,
                     int field_duration, bool interlaced) {
  if (position <= 0) return 0;
  if (!interlaced) return ReplayFrameNumber(position, frame_duration);
  if (field_duration <= 0) return 0;
  return static_cast<int>((position + 100) / field_duration) - 2;
}

CReplayThread::CReplayThread(MessageQueue& main_queue)
    : main_queue_(main_queue), alive_(std::make_shared<int>(0)) {
  thread_ = std::thread([this] { Loop(); });
}

CReplayThread::~CReplayThread() {
  if (thread_.joinable()) {
    if (!ended_.load()) PostCommand(kReplayQuit);
    thread_.join();
  }
}

std::uint64_t CReplayThread::PostCommand(int command, std::int64_t argument) {
  std::uint64_t number;
  {
    std::lock_guard<std::mutex> lock(command_mutex_);
    commands_.push_back(Command{command, argument});
    number = ++posted_;
  }
  command_ready_.notify_one();
  return number;
}

void CReplayThread::SetCurrentClip(std::optional<ReplayClip> clip) {
  std::lock_guard<std::mutex> lock(clip_mutex_);
  clip_ = std::move(clip);
}

void CReplayThread::InstallAnalysis(ReplayAnalysisHooks hooks) {
  std::lock_guard<std::mutex> lock(hooks_mutex_);
  hooks_ = std::move(hooks);
}

void CReplayThread::RemoveAnalysis() {
  std::lock_guard<std::mutex> lock(hooks_mutex_);
  hooks_ = ReplayAnalysisHooks{};
}

bool CReplayThread::AnalysisInstalled() {
  std::lock_guard<std::mutex> lock(hooks_mutex_);
  return static_cast<bool>(hooks_.on_frame);
}

std::string CReplayThread::GraphFailure() {
  std::lock_guard<std::mutex> lock(graph_mutex_);
  return graph_ ? graph_->Failure() : last_failure_;
}

ReplayAnalysisHooks CReplayThread::Hooks() {
  std::lock_guard<std::mutex> lock(hooks_mutex_);
  return hooks_;
}

ReplaySnapshot CReplayThread::Snapshot() const {
  ReplaySnapshot s;
  s.state = state_.load();
  s.position = shown_position_.load();
  s.duration = shown_duration_.load();
  s.frame_number = frame_number_.load();
  s.field_index = field_index_.load();
  s.analysis_mode = shown_analysis_mode_.load();
  s.frame_duration = frame_duration_.load();
  s.field_duration = field_duration_.load();
  return s;
}

bool CReplayThread::Join(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ended_.load()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (thread_.joinable()) thread_.join();
  return true;
}

void CReplayThread::SetView(ReplayView* view) { view_ = view; }

// ---- the command loop (replay thread) ------------------------------------

void CReplayThread::Loop() {
  for (;;) {
    Command command;
    {
      std::unique_lock<std::mutex> lock(command_mutex_);
      command_ready_.wait(lock, [this] { return !commands_.empty(); });
      command = commands_.front();
      commands_.pop_front();
    }
    Handle(command);
    ++handled_;
    if (command.command == kReplayQuit) return;
  }
}

bool CReplayThread::FieldStepping(const ReplayClip* clip) const {
  return clip && clip->interlaced && AppSettings().deinterace != 0;
}

int CReplayThread::ParityFromIndex(const ReplayClip& clip) const {
  const bool even = field_index_.load() % 2 == 0;
  return (even && !clip.bbf) || (!even && clip.bbf) ? 1 : 0;
}

int CReplayThread::FrameDuration() const {
  if (graph_ && graph_->block().frame_duration > 0) return graph_->block().frame_duration;
  return MR4F_DEFAULT_FRAME_DURATION;
}

int CReplayThread::FieldDuration() const {
  if (graph_ && graph_->block().field_duration > 0) return graph_->block().field_duration;
  return FrameDuration() / 2;
}

void CReplayThread::Handle(const Command& command) {
  std::optional<ReplayClip> clip;
  {
    std::lock_guard<std::mutex> lock(clip_mutex_);
    clip = clip_;
  }
  if (clip && clip->media_kind == 0) clip.reset();  // no video: no clip to replay
  const bool fields = FieldStepping(clip ? &*clip : nullptr);
  // Every command starts with the field-step flag cleared.
  field_step_ = false;
  if (graph_) graph_->SetFieldStep(false, parity_);
  auto set_field_step = [&](int parity) {
    parity_ = parity;
    field_step_ = true;
    if (graph_) graph_->SetFieldStep(true, parity);
  };

  switch (command.command) {
    case kReplayClose:
      parity_ = clip && clip->bbf ? 1 : 0;
      analysis_mode_ = false;
      TearDown();
      break;

    case kReplayRewindPlay: {
      analysis_mode_ = false;
      parity_ = clip && clip->bbf ? 1 : 0;
      const int state = state_.load();
      if (state == kReplayRunning || state == kReplayPaused || state == kReplaySeeking) {
        if (graph_->Stop()) state_ = kReplayStopped;
        stream_position_ = 0;
        at_end_ = false;
      } else if (state == kReplayNoGraph && clip) {
        BuildGraph(*clip);
      }
      if (!clip || !graph_) break;
      state_ = kReplayRunning;
      if (graph_->Run()) ReadDuration();
      break;
    }

    case kReplayPause: {
      if (!graph_) break;
      analysis_mode_ = false;
      PauseGraph();
      const std::int64_t frame = FrameDuration();
      const std::int64_t target = (stream_position_ / frame + 1) * frame - 100;
      if (fields) set_field_step(ParityFromIndex(*clip));
      MoveTo(target);
      PostTrackPosition();
      break;
    }

    case kReplayPlay: {
      const int old_state = state_.load();
      analysis_mode_ = false;
      if (old_state == kReplayNoGraph) {
        if (!clip || !BuildGraph(*clip)) break;
      }
      if (!clip || !graph_) break;
      if (old_state == kReplayPaused) {
        state_ = kReplayRunning;
        graph_->Run();
        break;
      }
      // From a stop (or a new graph) the pause prerolls the start; from
      // playing or seeking it settles the position; then on from there.
      if (!PauseGraph()) break;
      MoveTo(stream_position_);
      state_ = kReplayRunning;
      graph_->Run();
      break;
    }

    case kReplayStepForward: {
      if (clip && !ResetGraph(*clip)) break;
      if (!graph_) break;
      std::int64_t target = ReadPosition();
      if (fields) {
        target += FieldDuration();
        set_field_step(parity_ ? 0 : 1);
      } else {
        target += FrameDuration();
      }
      state_ = kReplaySeeking;
      MoveTo(target);
      break;
    }

    case kReplayAnalysisStep:
    case kReplayToolStep:
      AnalysisStep(clip);
      break;

    case kReplayStepBack: {
      if (clip && state_.load() == kReplayNoGraph && !BuildGraph(*clip)) break;
      if (!graph_ || !PauseGraph()) break;
      std::int64_t target = stream_position_;
      if (fields) {
        target -= FieldDuration();
        set_field_step(parity_ ? 0 : 1);
      } else {
        target -= FrameDuration();
      }
      state_ = kReplaySeeking;
      MoveTo(target < 0 ? 0 : target);
      break;
    }

    case kReplaySeek: {
      if (state_.load() != kReplayPaused && clip && !ResetGraph(*clip)) break;
      if (!graph_) break;
      const std::int64_t target = command.argument * 10000;
      if (fields) set_field_step(ParityFromIndex(*clip));
      state_ = kReplaySeeking;
      MoveTo(target);
      break;
    }

    case kReplayQuit:
      TearDown();
      Publish();
      App().replay_ended = 1;
      ended_ = true;
      return;

    default:
      break;  // not a replay command: passed over unchanged
  }
  position_ = graph_ ? ReadPosition() : 0;
  Publish();
}

bool CReplayThread::BuildGraph(const ReplayClip& clip) {
  if (graph_) {
    TearDown();
    std::this_thread::sleep_for(kRebuildPause);
  }
  {
    std::lock_guard<std::mutex> lock(graph_mutex_);
    last_failure_.clear();
  }
  ReplayGraphRequest request;
  request.video = clip.video;
  request.analysis_mode = analysis_mode_;
  if (analysis_mode_ && Hooks().green_plane) request.pixels = FramePixels::kGreen;
  request.width = clip.width;
  request.height = clip.height;
  std::unique_ptr<ReplayGraph> graph = ReplayGraph::Build(request, this);
  if (!graph) {
    state_ = kReplayNoGraph;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(move_mutex_);
    last_frame_pts_ = -1;
  }
  std::shared_ptr<ReplayGraph> shared(std::move(graph));
  {
    std::lock_guard<std::mutex> lock(graph_mutex_);
    graph_ = shared;
  }
  graph_->SetFieldStep(false, parity_);
  state_ = kReplayStopped;  // built, not yet prerolled
  stream_position_ = 0;
  at_end_ = false;
  duration_ = 0;
  position_ = 0;
  return true;
}

void CReplayThread::TearDown() {
  std::shared_ptr<ReplayGraph> old;
  {
    std::lock_guard<std::mutex> lock(graph_mutex_);
    if (graph_) last_failure_ = graph_->Failure();
    old = std::move(graph_);
    graph_.reset();
  }
  old.reset();  // the pipeline stops and goes (unless the main thread holds it)
  state_ = kReplayNoGraph;
  position_ = 0;
  stream_position_ = 0;
  duration_ = 0;
  at_end_ = false;
}

// Build the graph if there is none; from a stop, back to the start; then
// paused (state 4).
bool CReplayThread::ResetGraph(const ReplayClip& clip) {
  if ((state_.load() == kReplayNoGraph || !graph_) && !BuildGraph(clip)) return false;
  return PauseGraph();
}

// Pauses (state 4) and settles the stream position: the start after a
// stop, where playing had got to, or the last move's.
bool CReplayThread::PauseGraph() {
  const int old_state = state_.load();
  if (!graph_->Pause()) return false;
  if (old_state == kReplayStopped) {
    at_end_ = false;
    stream_position_ = 0;
  } else if (old_state == kReplayRunning) {
    stream_position_ = graph_->QueryPosition().value_or(stream_position_);
  }
  state_ = kReplayPaused;
  ReadDuration();
  return true;
}

void CReplayThread::ReadDuration() {
  if (!graph_ || duration_ > 0) return;
  duration_ = graph_->Duration();
  if (duration_ <= 0) return;
  const std::int64_t milliseconds = duration_ / 10000;
  std::weak_ptr<int> alive = alive_;
  main_queue_.Post([this, alive, milliseconds] {
    if (alive.lock() && view_) view_->SetTrackRange(milliseconds);
  });
}

std::int64_t CReplayThread::ReadPosition() const {
  if (!graph_) return 0;
  switch (state_.load()) {
    case kReplayStopped:
      return 0;
    case kReplayRunning:
      return graph_->QueryPosition().value_or(stream_position_);
    default:
      return stream_position_;
  }
}

CReplayThread::MoveResult CReplayThread::MoveTo(std::int64_t target) {
  if (!graph_) return MoveResult::kFailed;
  if (target < 0) target = 0;
  const int frame = FrameDuration();
  std::unique_lock<std::mutex> lock(move_mutex_);
  // One frame on: a step of the paused stream; anything else (back, within
  // the frame, further on) an accurate seek.
  const bool step = last_frame_pts_ >= 0 &&
                    HoldingFrame(target, frame) == NearestFrame(last_frame_pts_, frame) + 1;
  if (step && at_end_) return MoveResult::kEnd;
  move_pending_ = true;
  move_result_.reset();
  move_is_seek_ = !step;
  move_target_ = target;
  move_graph_id_ = graph_->id();
  lock.unlock();
  const bool issued = step ? graph_->StepForward() : graph_->SeekTo(target);
  lock.lock();
  if (!issued) {
    move_pending_ = false;
    return MoveResult::kFailed;
  }
  if (!step) at_end_ = false;
  move_done_.wait_for(lock, kMoveLimit, [this] { return move_result_.has_value(); });
  move_pending_ = false;
  const MoveResult result = move_result_.value_or(MoveResult::kTimeout);
  if (result == MoveResult::kFrame) {
    stream_position_ = move_position_;
  } else if (result == MoveResult::kEnd) {
    at_end_ = true;
    stream_position_ = duration_ > 0 ? duration_ : target;
  }
  return result;
}

void CReplayThread::AnalysisStep(const std::optional<ReplayClip>& clip) {
  analysis_mode_ = true;
  const ReplayAnalysisHooks hooks = Hooks();
  auto stop_requested = [&] { return hooks.stop_requested && hooks.stop_requested(); };
  if (stop_requested() || field_index_.load() > hooks.last_field_index) {
    if (clip) ResetGraph(*clip);
    EndRun(hooks);
    return;
  }
  // A run that cannot build or pause its graph ends here: its frames
  // would never come.
  if (!clip || !ResetGraph(*clip)) {
    EndRun(hooks);
    return;
  }
  const std::int64_t p0 = ReadPosition();
  if (position_ > 0 && p0 == 0) ShowError("pos error happens");
  const std::int64_t frame = FrameDuration();
  state_ = kReplaySeeking;
  position_ += frame;
  MoveTo(position_);
  position_ = ReadPosition();
  if (position_ == p0) {  // the stream did not move: once more
    position_ += frame;
    MoveTo(position_);
    position_ = ReadPosition();
  }
  if (!stop_requested() && p0 < position_ && (duration_ <= 0 || position_ < duration_)) {
    return;  // the frame is on its way to the main thread
  }
  EndRun(hooks);
}

void CReplayThread::EndRun(const ReplayAnalysisHooks& hooks) {
  if (hooks.on_run_end) hooks.on_run_end();
}

void CReplayThread::Publish() {
  const int frame = FrameDuration();
  const int field = FieldDuration();
  std::optional<ReplayClip> clip;
  {
    std::lock_guard<std::mutex> lock(clip_mutex_);
    clip = clip_;
  }
  const int number = ReplayFrameNumber(position_, frame);
  shown_position_ = position_;
  shown_duration_ = duration_;
  frame_number_ = number;
  field_index_ = ReplayFieldIndex(position_, frame, field, clip && clip->interlaced);
  shown_analysis_mode_ = analysis_mode_;
  frame_duration_ = graph_ ? graph_->block().frame_duration : 0;
  field_duration_ = graph_ ? graph_->block().field_duration : 0;
  // The program keeps its frame number in the block's sample counter.
  if (graph_) graph_->SetSampleCounter(number);
}

void CReplayThread::PostTrackPosition() {
  const std::int64_t milliseconds = position_ / 10000;
  std::weak_ptr<int> alive = alive_;
  main_queue_.Post([this, alive, milliseconds] {
    if (alive.lock() && view_) view_->SetTrackPosition(milliseconds);
  });
}

// ---- streaming threads ---------------------------------------------------

void CReplayThread::OnGraphFrame(std::uint64_t graph_id,
                                 std::shared_ptr<const FrameBuffer> buffer,
                                 int width, int height, FramePixels pixels,
                                 std::int64_t pts, int frame_duration, int field_duration) {
  DeliveredFrame frame;
  frame.buffer = std::move(buffer);
  frame.width = width;
  frame.height = height;
  frame.pixels = pixels;
  frame.pts = pts;
  {
    std::lock_guard<std::mutex> lock(move_mutex_);
    last_frame_pts_ = pts;
    frame.position = pts >= 0 ? pts : 0;
    const int duration = frame_duration;
    // A seek answers with the frame that holds its target; frames that end
    // before it (a demuxer may start at an earlier key frame, or at the
    // last frame when the target is past the end) are not the answer.
    const bool before_target =
        move_is_seek_ && pts >= 0 && pts + duration <= move_target_;
    if (move_pending_ && graph_id == move_graph_id_ && !move_result_ && !before_target) {
      // The answer stands for the target itself, so positions stay on the
      // replay's own grid; a step that lands elsewhere takes the frame's.
      frame.position = move_is_seek_ || pts < 0 ||
                               NearestFrame(pts, duration) == HoldingFrame(move_target_, duration)
                           ? move_target_ : pts;
      frame.requested = true;
      move_position_ = frame.position;
      move_result_ = MoveResult::kFrame;
      move_done_.notify_all();
    }
  }
  std::optional<ReplayClip> clip;
  {
    std::lock_guard<std::mutex> lock(clip_mutex_);
    clip = clip_;
  }
  frame.frame_number = ReplayFrameNumber(frame.position, frame_duration);
  frame.field_index = ReplayFieldIndex(frame.position, frame_duration, field_duration,
                                       clip && clip->interlaced);
  frame.field_parity = parity_;
  frame.field_step = field_step_;
  std::weak_ptr<int> alive = alive_;
  main_queue_.Post([this, alive, frame = std::move(frame)] {
    if (alive.lock()) OnFrameDelivered(frame);
  });
}

void CReplayThread::OnGraphComplete(std::uint64_t graph_id) {
  {
    std::lock_guard<std::mutex> lock(move_mutex_);
    if (move_pending_ && graph_id == move_graph_id_ && !move_result_) {
      move_result_ = MoveResult::kEnd;
      move_done_.notify_all();
    }
  }
  std::weak_ptr<int> alive = alive_;
  main_queue_.Post([this, alive, graph_id] {
    if (alive.lock()) HandleGraphEvents(ReplayGraphEvent{kEcComplete, 0, graph_id});
  });
}

void CReplayThread::OnGraphError(std::uint64_t graph_id, long code) {
  {
    std::lock_guard<std::mutex> lock(move_mutex_);
    if (move_pending_ && graph_id == move_graph_id_ && !move_result_) {
      move_result_ = MoveResult::kFailed;
      move_done_.notify_all();
    }
  }
  std::weak_ptr<int> alive = alive_;
  main_queue_.Post([this, alive, graph_id, code] {
    if (alive.lock()) HandleGraphEvents(ReplayGraphEvent{kEcErrorAbort, code, graph_id});
  });
}

// ---- main thread ---------------------------------------------------------

void CReplayThread::HandleGraphEvents(const ReplayGraphEvent& event) {
  if (view_) view_->SetTrackPosition(shown_position_.load() / 10000);
  std::shared_ptr<ReplayGraph> graph;
  {
    std::lock_guard<std::mutex> lock(graph_mutex_);
    graph = graph_;
  }
  // Events of a graph that has gone since are over.
  if (!graph || graph->id() != event.graph_id) return;
  // A graph torn down meanwhile keeps the replay's state 0.
  auto stopped = [&] {
    std::lock_guard<std::mutex> lock(graph_mutex_);
    if (graph_ != graph) return false;
    state_ = kReplayStopped;
    return true;
  };
  if (event.code == kEcComplete) {
    if (graph->Stop() && stopped()) {
      if (view_) view_->ShowStopped();
    }
  } else if (event.code == kEcErrorAbort) {
    // One failure posts several errors; the first is reported.
    if (error_reported_graph_ == event.graph_id) return;
    error_reported_graph_ = event.graph_id;
    ShowError("UE064: Playback error (EC_ERRORABORT - 0x%08lx). Aborting...\r\n",
              event.param1);
    if (graph->Stop()) {
      stopped();
    } else {
      ShowError("UE065: Failed(0x%08lx) to stop media clip!\r\n", kGraphErrorCode);
    }
  }
}

void CReplayThread::OnFrameDelivered(const DeliveredFrame& frame) {
  if (view_) view_->SetTrackPosition(frame.position / 10000);
  const ReplayAnalysisHooks hooks = Hooks();
  if (hooks.on_frame) {
    if (frame.requested) hooks.on_frame(frame);
  } else if (view_) {
    view_->Redraw(frame);
  }
}

// ---- the program's replay thread -----------------------------------------

namespace {
std::unique_ptr<CReplayThread> g_replay_thread;
}  // namespace

void StartReplayThread() {
  if (g_replay_thread) return;
  App().replay_ended = 0;
  g_replay_thread = std::make_unique<CReplayThread>(MainQueue());
}

bool ReplayThreadStarted() { return g_replay_thread != nullptr; }

CReplayThread& ReplayThread() {
  if (!g_replay_thread) FatalError("the replay thread was not started");
  return *g_replay_thread;
}

void FinishReplayThread(std::chrono::milliseconds limit) {
  if (!g_replay_thread) return;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (App().replay_ended.load() != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (g_replay_thread->Join(std::chrono::milliseconds(0))) {
    g_replay_thread.reset();
  } else {
    // Still busy in the media framework: left to the end of the process.
    (void)g_replay_thread.release();
  }
}

}  // namespace mr4
