// The replay thread CReplayThread: the one owner of the replay graph. Other
// parts command it by posting commands 1 to 10 (below), which it handles in
// posting order; it builds the graph for the current clip on demand, plays,
// pauses, steps frame by frame (or field by field when the clip is
// interlaced and "IF.deinterace " is on), seeks and tears the graph down.
//
// Threads: PostCommand, SetCurrentClip, InstallAnalysis, RemoveAnalysis and
// Snapshot may be called from any thread. Every graph call of a command runs
// on the replay thread. Delivered frames and graph events reach the main
// thread through its MessageQueue and run OnFrameDelivered and
// HandleGraphEvents there; the view and the analysis's frame hook are called
// on the main thread only. Forward steps of one frame are step events of the
// paused pipeline (no decoding from the last key frame per frame); back
// steps, positioning and steps within a frame are accurate seeks. The thread
// waits (a few seconds at most) for the frame of each step before it takes
// the next command, so positions are settled when read.
//
// Positions and durations are 100-ns units; track-bar values milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/message_queue.h"
#include "replay/replay_graph.h"

namespace mr4 {

enum ReplayCommand : int {
  kReplayClose = 1,         // tear the graph down
  kReplayRewindPlay = 2,    // rewind and play from the start
  kReplayPause = 3,
  kReplayPlay = 4,          // play or resume
  kReplayStepForward = 5,   // one frame (or field) forward
  kReplayAnalysisStep = 6,  // the analysis: advance one frame
  kReplayToolStep = 7,      // the frame-by-frame tools: as 6
  kReplayStepBack = 8,      // one frame (or field) back
  kReplaySeek = 9,          // to the argument in milliseconds
  kReplayQuit = 10,         // tear down and end the thread
};

enum ReplayState : int {
  kReplayNoGraph = 0,
  kReplayStopped = 2,
  kReplayRunning = 3,
  kReplayPaused = 4,
  kReplaySeeking = 5,  // a step or seek was issued and its frame is awaited
};

// The graph event codes (the main window's graph-event message).
enum ReplayGraphEventCode : int {
  kEcComplete = 0x01,    // EC_COMPLETE: the end of the stream
  kEcErrorAbort = 0x03,  // EC_ERRORABORT: an element failed
};

struct ReplayGraphEvent {
  int code = kEcComplete;
  long param1 = 0;  // EC_ERRORABORT: the failure code
  std::uint64_t graph_id = 0;
};

// What the replay needs of the current clip (the clip model fills it when
// a clip is made current; no value means no current clip).
struct ReplayClip {
  std::filesystem::path video;  // the video path
  char media_kind = 0;          // 'a' AVI, 'w' WMV, 0 no video
  int width = 0;                // frame size [px], from the profile
  int height = 0;
  bool interlaced = false;      // `interlaced`
  bool bbf = false;             // `bbf`: the even-line field comes first
};

// One frame in the frame buffer, as the main thread sees it.
struct DeliveredFrame {
  std::shared_ptr<const FrameBuffer> buffer;  // width x height pixels,
  int width = 0;                              // rows bottom-up and packed
  int height = 0;
  FramePixels pixels = FramePixels::kBgr;     // 3 bytes a pixel, or green
  std::int64_t pts = -1;     // the frame's timestamp [100 ns], -1 unknown
  std::int64_t position = 0; // the replay position after the step [100 ns]
  int frame_number = 0;
  int field_index = 0;
  int field_parity = 0;      // the block's parity when it was copied
  bool field_step = false;   // the block's field-step flag then
  // True for the frame a step or seek asked for; false for frames of
  // playing and for the frame a build or a pause shows by itself.
  bool requested = false;
};

// The clip view's side of the replay (main thread only).
class ReplayView {
 public:
  virtual ~ReplayView() = default;
  virtual void SetTrackRange(std::int64_t milliseconds) = 0;
  virtual void SetTrackPosition(std::int64_t milliseconds) = 0;
  // The stream has ended and the graph stopped: play button caption ">".
  virtual void ShowStopped() = 0;
  // Draw the frame buffer.
  virtual void Redraw(const DeliveredFrame& frame) = 0;
};

// What the analysis of a replayed clip plugs in (RunReplay installs it,
// removes it when the run ends).
struct ReplayAnalysisHooks {
  // Main thread: each requested frame (ReplayFrame), instead of a redraw.
  // It reads the frame and posts the next command 6 itself.
  std::function<void(const DeliveredFrame&)> on_frame;
  // Replay thread, at each analysis step: the analysis stop flag.
  std::function<bool()> stop_requested;
  // The run's last analysis frame: a field index beyond it ends the run.
  int last_field_index = 2147483647;
  // Replay thread: the run cannot advance (the end callback and the end
  // event); no frame follows.
  std::function<void()> on_run_end;
  // The frame function reads only the green plane: a graph built for the
  // run delivers that plane alone (FramePixels::kGreen).
  bool green_plane = false;
};

// The replay state the pages read.
struct ReplaySnapshot {
  int state = kReplayNoGraph;
  std::int64_t position = 0;
  std::int64_t duration = 0;
  int frame_number = 0;
  int field_index = 0;
  bool analysis_mode = false;
  int frame_duration = 0;  // of the current graph's stream, 0 without one
  int field_duration = 0;
};

// The frame number and field index of a position (the replay's own
// arithmetic; durations from the exchange block).
int ReplayFrameNumber(std::int64_t position, int frame_duration);
int ReplayFieldIndex(std::int64_t position, int frame_duration,
                     int field_duration, bool interlaced);

class CReplayThread final : private ReplayGraphListener {
 public:
  // `main_queue` receives the frame and graph-event messages; it must
  // outlive the thread.
  explicit CReplayThread(MessageQueue& main_queue);
  // Ends the thread if it still runs (command 10) and joins it. Destroy it
  // on the main thread: messages still queued there are then dropped.
  ~CReplayThread();
  CReplayThread(const CReplayThread&) = delete;
  CReplayThread& operator=(const CReplayThread&) = delete;

  // Any thread. PostCommand returns the command's number in posting order
  // (1, 2, ...); CommandsHandled reaches it once the command is done.
  std::uint64_t PostCommand(int command, std::int64_t argument = 0);
  std::uint64_t CommandsHandled() const { return handled_.load(); }
  void SetCurrentClip(std::optional<ReplayClip> clip);
  void InstallAnalysis(ReplayAnalysisHooks hooks);
  void RemoveAnalysis();
  // True while hooks with a frame function are installed.
  bool AnalysisInstalled();
  // What went wrong in the current graph, or in the last one torn down
  // (ReplayGraph::Failure); empty from each new build on.
  std::string GraphFailure();
  ReplaySnapshot Snapshot() const;
  // True once command 10 has been handled.
  bool ended() const { return ended_.load(); }
  // Waits for the end of the thread; false when it did not end in time.
  bool Join(std::chrono::milliseconds limit);

  // Main thread.
  void SetView(ReplayView* view);  // not owned; nullptr: no clip view
  void HandleGraphEvents(const ReplayGraphEvent& event);
  void OnFrameDelivered(const DeliveredFrame& frame);

 private:
  struct Command {
    int command;
    std::int64_t argument;
  };
  // How a move of the stream ended.
  enum class MoveResult { kFrame, kEnd, kFailed, kTimeout };

  void Loop();
  void Handle(const Command& command);
  bool FieldStepping(const ReplayClip* clip) const;
  int ParityFromIndex(const ReplayClip& clip) const;
  bool BuildGraph(const ReplayClip& clip);
  void TearDown();
  bool ResetGraph(const ReplayClip& clip);
  bool PauseGraph();
  void ReadDuration();
  std::int64_t ReadPosition() const;
  MoveResult MoveTo(std::int64_t target);
  void AnalysisStep(const std::optional<ReplayClip>& clip);
  void EndRun(const ReplayAnalysisHooks& hooks);
  ReplayAnalysisHooks Hooks();
  void Publish();
  void PostTrackPosition();
  int FrameDuration() const;
  int FieldDuration() const;

  // ReplayGraphListener (streaming threads).
  void OnGraphFrame(std::uint64_t graph_id, std::shared_ptr<const FrameBuffer> buffer,
                    int width, int height, FramePixels pixels, std::int64_t pts,
                    int frame_duration, int field_duration) override;
  void OnGraphComplete(std::uint64_t graph_id) override;
  void OnGraphError(std::uint64_t graph_id, long code) override;

  MessageQueue& main_queue_;
  // Tasks posted to the main thread run only while this lives.
  std::shared_ptr<int> alive_;
  std::thread thread_;

  std::mutex command_mutex_;
  std::condition_variable command_ready_;
  std::deque<Command> commands_;
  std::uint64_t posted_ = 0;  // under command_mutex_
  std::atomic<std::uint64_t> handled_{0};

  mutable std::mutex clip_mutex_;
  std::optional<ReplayClip> clip_;

  std::mutex hooks_mutex_;
  ReplayAnalysisHooks hooks_;

  // The graph: replaced and used by the replay thread; the main thread
  // takes a reference under graph_mutex_ to stop it at the end of the
  // stream.
  mutable std::mutex graph_mutex_;
  std::shared_ptr<ReplayGraph> graph_;
  std::string last_failure_;  // of the graph torn down last, under graph_mutex_

  // The move in progress, resolved by the streaming threads.
  std::mutex move_mutex_;
  std::condition_variable move_done_;
  bool move_pending_ = false;
  std::optional<MoveResult> move_result_;
  bool move_is_seek_ = false;
  std::int64_t move_target_ = 0;
  std::int64_t move_position_ = 0;    // where the awaited frame puts us
  std::int64_t last_frame_pts_ = -1;  // of the current graph, -1 none yet
  std::uint64_t move_graph_id_ = 0;

  // Replay-thread state, published for the pages.
  std::int64_t position_ = 0;         // the position held by the thread
  std::int64_t stream_position_ = 0;  // the paused stream's settled position
  std::int64_t duration_ = 0;
  bool at_end_ = false;               // the sink holds the end of the stream
  bool analysis_mode_ = false;
  std::atomic<int> parity_{0};        // the block's field parity
  std::atomic<bool> field_step_{false};
  std::atomic<int> state_{kReplayNoGraph};
  std::atomic<std::int64_t> shown_position_{0};
  std::atomic<std::int64_t> shown_duration_{0};
  std::atomic<int> frame_number_{0};
  std::atomic<int> field_index_{0};
  std::atomic<bool> shown_analysis_mode_{false};
  std::atomic<int> frame_duration_{0};
  std::atomic<int> field_duration_{0};
  std::atomic<bool> ended_{false};

  ReplayView* view_ = nullptr;  // main thread
  std::uint64_t error_reported_graph_ = 0;  // main thread
};

// The program's replay thread: started at start-up (step 20), asked to end
// at shut-down (step 22) and awaited with a bound (step 26).
void StartReplayThread();
// The running replay thread; FatalError when none was started.
CReplayThread& ReplayThread();
bool ReplayThreadStarted();
// Waits up to `limit` for App().replay_ended (after command 10 was posted)
// and frees the thread when it has ended; a thread still busy is left to
// the end of the process.
void FinishReplayThread(std::chrono::milliseconds limit);

}  // namespace mr4
