// The peak-hold picture of a clip ("MakeP.bmp" of the utilities page): the
// clip's video is stepped frame by frame through the replay graph (command
// 7), and every `AP.peakf`-th frame lifts each byte of the picture (blue,
// green and red separately) to the frame's byte where that is larger. The
// picture, of the video's frame size and black at the start, is written as a
// 24-bit bitmap when at least one frame was held (an unreadable video
// writes nothing); written to the clip's own "%sP.BMP", it becomes the clip's
// peak-hold still (the `MT` bit and the "B" of `media`). The frames taken
// are the clip's `frames` (doubled when interlaced), or all of them when the
// count is unknown (0); the first is the video's frame 1.
//
// Threads: as the analysis of a replayed clip (analysis/replay_run.h): the
// frames are taken on the main thread; MakePeakHold waits on the main thread
// under a ScopedReplayPump, or on another thread while the main thread runs
// its loop. FinishPeakHold may be called from any thread.
#pragma once

#include <filesystem>

namespace mr4 {

enum class PeakHoldStatus {
  kWritten,      // the picture was written
  kCancelled,    // the save dialog or the overwrite question was declined
  kBusy,         // a frame function was installed (a running peak hold is told to finish)
  kNoVideo,      // no such clip row, or the clip has no video file
  kNotWritten,   // the bitmap could not be written (its message was shown)
  kNoFrames,     // no frame was held (the video unreadable): nothing written, said
};

struct PeakHoldOutcome {
  PeakHoldStatus status = PeakHoldStatus::kNoVideo;
  std::filesystem::path path;  // the picture's file
  int frames_seen = 0;         // frames delivered
  int frames_taken = 0;        // frames held into the picture
};

// The whole tool for clip row `row`. The save dialog proposes `proposed`,
// or the clip's "%sP.BMP" in its directory when empty; an existing file
// needs the answer to "file already exists overwrite?\n%s".
PeakHoldOutcome MakePeakHold(int row, const std::filesystem::path& proposed = {});

// "Finish P.BMP": the running peak hold stops and writes what it has.
void FinishPeakHold();

}  // namespace mr4
