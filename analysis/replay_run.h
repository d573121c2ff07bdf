// The analysis of a clip through the replay graph, for every clip the own
// reader cannot decode: RunReplay makes the clip's video current on the
// replay thread, drives its analysis steps one frame at a time and waits for
// the run's end; ReplayFrame (inside) analyses each delivered frame, with
// the phases of the own reader's loop, on the main thread, and asks for the
// next one.
//
// Threads: the frames are analysed on the main thread, whose MessageQueue
// the replay thread delivers them to. RunReplay may be called on the main
// thread, when a ScopedReplayPump on it names the loop it runs (RunReplay
// then runs that loop while it waits), or on any other thread while the
// main thread runs its loop (RunReplay then blocks). Only one run exists at a
// time (the replay graph exists once); the program runs it on context 0.
//
// The run ends at the end of the stream, at the end of the detection window,
// when the stop flag is raised, through SignalReplayRun ("Stop"), or by the
// watchdog: once the first frame has arrived, a second without a new frame
// ends the run with what it has.
#pragma once

#include <chrono>
#include <functional>

#include "analysis/analysis_context.h"
#include "platform/message_queue.h"
#include "replay/replay_thread.h"

namespace mr4 {

// The watchdog's period: a run whose frames stop for this long ends.
inline constexpr auto kReplayWatchdogPeriod = std::chrono::milliseconds(1000);
// A run whose first frame has not come after this long ends (a pipeline that
// never starts).
inline constexpr auto kReplayFirstFrameLimit = std::chrono::seconds(30);

// Marks the calling thread, for the guard's life, as the one that runs
// `loop`: replay runs started on this thread run the loop while they wait.
class ScopedReplayPump {
 public:
  explicit ScopedReplayPump(HeadlessLoop& loop);
  ~ScopedReplayPump();
  ScopedReplayPump(const ScopedReplayPump&) = delete;
  ScopedReplayPump& operator=(const ScopedReplayPump&) = delete;

 private:
  HeadlessLoop* previous_;
};

// Waits until `done()` or `limit` has passed, running the main loop when a
// ScopedReplayPump names it on this thread; returns done().
bool WaitWithMainLoop(const std::function<bool()>& done, std::chrono::milliseconds limit);

// The start of a run on the replay thread (an analysis or a frame tool):
// closes what the replay shows, makes `clip` current, and waits until the
// close is done and the main loop has handed out what was queued before it,
// so that no frame or step of an earlier graph reaches the run.
void RestartReplayFor(CReplayThread& replay, const ReplayClip& clip);

// The frame loop over the program's replay thread for the context's clip
// (prepared by PrepareRun): 0 after the reduction and the tidying; 81 when
// the context has no clip, 82 when the clip has no video file to replay, 12
// when the stream gave no frame of the detection phase (a stream that
// cannot be decoded, frames of another size than the clip's) and the run
// was not stopped. FatalError "still Analyze1 running" when a frame
// function is already installed on the replay thread.
int RunReplay(AnalysisContext& c);

// Ends the waiting replay run, if any, with what it has (any thread).
void SignalReplayRun();
// True while a replay run waits for its end.
bool ReplayRunActive();

}  // namespace mr4
