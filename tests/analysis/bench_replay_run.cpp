// The analysis of a compressed clip through the replay road against plain
// decoding of the same file by gst-launch-1.0 (filesrc ! decodebin !
// videoconvert ! fakesink): wall time per clip. A 720 x 480 synthetic meteor
// clip of 300 frames, encoded by GStreamer as Motion JPEG and, when x264enc
// exists, as H.264, both in AVI. Run by hand:
//   bench_replay_run [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/replay_run.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "clips/clip_files.h"
#include "platform/message_queue.h"
#include "replay/replay_graph.h"
#include "replay/replay_thread.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/analysis/replay_fixtures.h"

namespace {

namespace fs = std::filesystem;
using mr4::testing_replay::HaveElements;
using mr4::testing_replay::MeteorClip;
using mr4::testing_replay::Transcode;

struct Encoded {
  std::string name;
  fs::path base;  // the clip: base + ".avi"
};

int AddRow(const fs::path& base, const MeteorClip& clip) {
  using namespace mr4;
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, base.parent_path().string());
  clips.SetText(row, clip::kClipName, base.filename().string());
  clips.SetInt(row, clip::kMT, KindBit(kKindAvi));
  clips.SetInt(row, clip::kFrames, clip.frames);
  clips.SetFloat(row, clip::kFps, 29.97f);
  clips.SetInt(row, clip::kHead, 30);
  clips.SetInt(row, clip::kCodecno, -1);
  clips.SetFloat(row, clip::kYx, 1.0f);
  clips.SetInt(row, clip::kCx, clip.w);
  clips.SetInt(row, clip::kCy, clip.h);
  clips.SetInt(row, clip::kMaxLev, 255);
  clips.SetInt(row, clip::kOline, -1);
  return row;
}

void ReplayAnalysis(benchmark::State& state, const Encoded& clip, const MeteorClip& meteor) {
  using namespace mr4;
  AnalysisContext& c = AnalysisContextAt(0);
  AllocateAnalysisContext(c);
  const int row = AddRow(clip.base, meteor);
  for (auto _ : state) {
    c.profile = CameraProfile{};
    c.profile.cx = meteor.w;
    c.profile.cy = meteor.h;
    c.profile.p_u4_consR = 0;
    c.clip_row = row;
    const int code = AnalyzeClip(c);
    if (code != kAnalysisOk) state.SkipWithError("the analysis failed");
  }
  state.counters["tracks"] = c.track_count;
}

void GstLaunchDecode(benchmark::State& state, const Encoded& clip) {
  const std::string command = "gst-launch-1.0 -q filesrc location=\"" + clip.base.string() +
                              ".avi\" ! decodebin ! videoconvert ! fakesink";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("gst-launch-1.0 failed");
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mr4;
  const fs::path dir = fs::temp_directory_path() / ("mr4-bench-replay-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string registry = (dir / "registry.bin").string();
  g_setenv("GST_REGISTRY", registry.c_str(), TRUE);
  gst_init(&argc, &argv);
  SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
  ApplyDefaultSettings();
  App().yuv = BuildYuvTables();
  StartReplayThread();
  const ScopedReplayPump pump(DefaultHeadlessLoop());

  MeteorClip meteor;
  meteor.w = 720;
  meteor.h = 480;
  meteor.frames = 300;
  meteor.first = 100;
  meteor.last = 130;
  meteor.x0 = 200;
  meteor.y0 = 150;
  meteor.vx = 8;
  meteor.vy = 4;
  const fs::path original = dir / "M20240101_000000.avi";
  if (const std::string e = meteor.Write(original, AviPixelFormat::kDib24); !e.empty()) {
    std::fprintf(stderr, "cannot write the clip: %s\n", e.c_str());
    return 1;
  }
  std::vector<Encoded> clips;
  struct Codec {
    const char* name;
    std::initializer_list<const char*> elements;
    const char* encoder;
  };
  const Codec codecs[] = {
      {"mjpeg", {"jpegenc", "avimux"}, "jpegenc quality=85 ! avimux"},
      {"h264", {"x264enc", "avimux"},
       "video/x-raw,format=I420 ! x264enc speed-preset=veryfast bitrate=4000 ! avimux"},
  };
  int n = 1;
  for (const Codec& codec : codecs) {
    if (!HaveElements(codec.elements)) {
      std::printf("no %s encoder: skipped\n", codec.name);
      continue;
    }
    const fs::path base = dir / ("M20240101_00000" + std::to_string(n++));
    if (const std::string e = Transcode(original, base.string() + ".avi", codec.encoder); !e.empty()) {
      std::fprintf(stderr, "cannot encode %s: %s\n", codec.name, e.c_str());
      continue;
    }
    clips.push_back({codec.name, base});
  }
  for (const Encoded& clip : clips) {
    benchmark::RegisterBenchmark(("ReplayAnalysis/" + clip.name).c_str(),
                                 [&clip, &meteor](benchmark::State& s) {
                                   ReplayAnalysis(s, clip, meteor);
                                 })
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
    benchmark::RegisterBenchmark(("GstLaunchDecode/" + clip.name).c_str(),
                                 [&clip](benchmark::State& s) { GstLaunchDecode(s, clip); })
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  ReplayThread().PostCommand(kReplayQuit);
  FinishReplayThread(std::chrono::seconds(5));
  fs::remove_all(dir);
  return 0;
}
