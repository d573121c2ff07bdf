#include "utility/peak_hold.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/replay_run.h"
#include "base/error.h"
#include "app/settings.h"
#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/ui.h"
#include "replay/replay_thread.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// The progress line is refreshed every this many frames.
constexpr int kProgressEvery = 50;

// One peak hold: what the frame function, the replay thread's hooks and the
// waiting MakePeakHold share. The picture is touched only until `finished`.
struct PeakHoldRun {
  CReplayThread* replay = nullptr;
  int width = 0, height = 0;
  int interval = 1;
  int frames_to_take = 0;  // `frames`, doubled when interlaced; 0 unknown: all

  std::mutex frame_mutex;  // held while a frame is taken
  bool finished = false;   // under frame_mutex
  std::vector<std::uint8_t> picture;
  int seen = 0;
  int taken = 0;

  std::atomic<bool> signalled{false};
  std::atomic<int> frames{0};
};

std::mutex g_run_mutex;
std::shared_ptr<PeakHoldRun> g_run;

void TakeFrame(PeakHoldRun& run, const DeliveredFrame& frame) {
  std::lock_guard lock(run.frame_mutex);
  if (run.finished) return;
  if (run.picture.empty() && frame.buffer) {
    // The picture is the video's size, black at the start.
    run.width = frame.width;
    run.height = frame.height;
    run.picture.assign(std::size_t(run.width) * run.height * 3, 0);
  }
  const std::size_t bytes = run.picture.size();
  if (!frame.buffer || frame.width != run.width || frame.height != run.height ||
      frame.buffer->size() < bytes) {
    // A frame of another size cannot be held.
    run.signalled = true;
    return;
  }
  ++run.seen;
  if (run.seen % run.interval == 0) {
    const std::uint8_t* source = frame.buffer->data();
    std::uint8_t* held = run.picture.data();
    for (std::size_t i = 0; i < bytes; ++i) held[i] = std::max(held[i], source[i]);
    ++run.taken;
  }
  if (run.seen % kProgressEvery == 0) {
    char text[32];
    std::snprintf(text, sizeof text, "frame =%d ", run.seen);
    CurrentUi().Status(text);
  }
  ++run.frames;
  if (run.frames_to_take > 0 && run.seen >= run.frames_to_take) {
    run.signalled = true;
    return;
  }
  run.replay->PostCommand(kReplayToolStep);
}

// Waits for the end: the replay's end, the frame count, "Finish P.BMP", or
// a second without a frame once frames have come.
void WaitForEnd(PeakHoldRun& run) {
  const auto start = std::chrono::steady_clock::now();
  int seen = 0;
  for (;;) {
    WaitWithMainLoop([&] { return run.signalled.load(); }, kReplayWatchdogPeriod);
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

std::filesystem::path ClipVideo(int row, char* kind) {
  const Table& clips = Tables().clip;
  const std::filesystem::path base =
      std::filesystem::path(clips.Text(row, clip::kDirectory)) /
      std::string(clips.Text(row, clip::kClipName));
  const int mt = clips.Int(row, clip::kMT);
  const struct {
    int file_kind;
    const char* extension;
    char media_kind;
  } videos[] = {{kKindAvi, ".avi", 'a'}, {kKindWmv, ".wmv", 'w'}};
  for (const auto& v : videos) {
    if ((mt & KindBit(v.file_kind)) == 0) continue;
    std::filesystem::path path = ClipFilePath(row, v.file_kind);
    if (path.empty()) path = base.string() + v.extension;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      *kind = v.media_kind;
      return path;
    }
  }
  return {};
}

// The chosen file; nullopt when the dialog or the overwrite question was
// declined.
std::optional<std::filesystem::path> ChoosePicture(const std::filesystem::path& proposed) {
  Ui& ui = CurrentUi();
  FileDialogRequest request;
  request.title = "New peak hold still image";
  request.proposed = proposed;
  request.filter = "*.bmp";
  std::optional<std::filesystem::path> chosen = ui.SaveFile(request);
  if (!chosen) return std::nullopt;
  if (!chosen->has_extension()) chosen->replace_extension("bmp");
  std::error_code ec;
  if (std::filesystem::exists(*chosen, ec) &&
      !ui.AskOkCancel(kMessageCaption, "file already exists overwrite?\n" + chosen->string()))
    return std::nullopt;
  return chosen;
}

// The clip's own peak-hold picture now exists.
void RecordPeakPicture(int row, const std::filesystem::path& path) {
  Table& clips = Tables().clip;
  clips.SetInt(row, clip::kMT, clips.Int(row, clip::kMT) | KindBit(kKindPeakBmp));
  std::string media(clips.Text(row, clip::kMedia));
  media.resize(kMediaChars, ' ');
  media[1] = 'B';
  clips.SetText(row, clip::kMedia, media);
  ClipLibrary& library = Clips();
  if (row < static_cast<int>(library.file_names.size()))
    library.file_names[static_cast<std::size_t>(row)][kKindPeakBmp] = path.filename().string();
  if (CurrentClip().row == row) MakeClipCurrent(row);
}

}  // namespace

PeakHoldOutcome MakePeakHold(int row, const std::filesystem::path& proposed) {
  PeakHoldOutcome outcome;
  const Table& clips = Tables().clip;
  if (row < 0 || row >= clips.count() || !clips.Exists(row)) return outcome;
  CReplayThread& replay = ReplayThread();
  if (replay.AnalysisInstalled()) {
    FinishPeakHold();
    outcome.status = PeakHoldStatus::kBusy;
    return outcome;
  }
  char media_kind = 0;
  const std::filesystem::path video = ClipVideo(row, &media_kind);
  if (video.empty()) return outcome;

  auto run = std::make_shared<PeakHoldRun>();
  run->replay = &replay;
  run->width = clips.Int(row, clip::kCx);
  run->height = clips.Int(row, clip::kCy);
  if (!IsUsableFrameSize(run->width, run->height)) return outcome;
  const bool interlaced = clips.Int(row, clip::kInterlaced) != 0;
  run->interval = std::clamp(AppSettings().peakf, 1, 1000);
  run->frames_to_take = std::max(clips.Int(row, clip::kFrames), 0) * (interlaced ? 2 : 1);

  ReplayClip current;
  current.video = video;
  current.media_kind = media_kind;
  current.width = run->width;
  current.height = run->height;
  current.interlaced = interlaced;
  current.bbf = clips.Int(row, clip::kBbf) != 0;
  RestartReplayFor(replay, current);

  const std::filesystem::path own =
      std::filesystem::path(clips.Text(row, clip::kDirectory)) /
      (std::string(clips.Text(row, clip::kClipName)) + "P.BMP");
  const std::optional<std::filesystem::path> chosen =
      ChoosePicture(proposed.empty() ? own : proposed);
  if (!chosen) {
    outcome.status = PeakHoldStatus::kCancelled;
    return outcome;
  }
  outcome.path = *chosen;

  {
    std::lock_guard lock(g_run_mutex);
    g_run = run;
  }
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [run](const DeliveredFrame& frame) { TakeFrame(*run, frame); };
  hooks.stop_requested = [run] { return run->signalled.load(); };
  hooks.on_run_end = [run] { run->signalled = true; };
  replay.InstallAnalysis(std::move(hooks));
  CurrentUi().Status("Make P bmp running " + std::string(clips.Text(row, clip::kClipName)));
  replay.PostCommand(kReplayToolStep);
  WaitForEnd(*run);

  run->signalled = true;  // no further step
  {
    std::lock_guard lock(run->frame_mutex);
    run->finished = true;
  }
  // The replay back at the start, then the picture.
  RestartReplayFor(replay, current);
  replay.RemoveAnalysis();
  {
    std::lock_guard lock(g_run_mutex);
    g_run.reset();
  }
  outcome.frames_seen = run->seen;
  outcome.frames_taken = run->taken;
  // Without a frame held there is no picture: a black one written over the
  // clip's still would lose it.
  if (run->taken == 0) {
    if (run->seen == 0) {
      ShowError("No frame of %s could be read: %s not written", video.c_str(), chosen->c_str());
    } else {
      ShowError("No frame of %s was held (%d seen, every %d-th taken): %s not written",
                video.c_str(), run->seen, run->interval, chosen->c_str());
    }
    outcome.status = PeakHoldStatus::kNoFrames;
    return outcome;
  }
  if (WriteStillBmp(*chosen, run->picture, run->width, run->height) != ImageStatus::kOk) {
    outcome.status = PeakHoldStatus::kNotWritten;
    return outcome;
  }
  outcome.status = PeakHoldStatus::kWritten;
  if (*chosen == own) RecordPeakPicture(row, *chosen);
  return outcome;
}

void FinishPeakHold() {
  std::shared_ptr<PeakHoldRun> run;
  {
    std::lock_guard lock(g_run_mutex);
    run = g_run;
  }
  if (run) run->signalled = true;
}

}  // namespace mr4
