// The analysis of a compressed clip through the replay road against plain
// decoding of the same file by the pipeline gst-launch-1.0 would run
// (filesrc ! decodebin ! videoconvert ! fakesink), in this process, so that
// neither side pays a start-up: wall time per clip. Each iteration decodes,
// then analyses, so both see the same load; "decode_ms" is the decoding's
// time and "ratio" the analysis' over it. "decode_cpu_ms" and
// "analysis_cpu_ms" are the process's CPU time (all threads) of each side:
// on a machine of few cores the analysis's own work shows in the wall time
// once the decoder keeps the cores busy. A 720 x 480 synthetic meteor clip
// of 320 frames, encoded by GStreamer as Motion JPEG in AVI, H.264 in AVI
// (x264 at constant quality 18, 4:2:0) and WMV2 in ASF, each where its
// encoder exists. Run by hand:
//   bench_replay_run [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
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
using mr4::testing_replay::RunPipeline;
using mr4::testing_replay::Transcode;

struct Encoded {
  std::string name;
  fs::path base;  // the clip: base + extension
  std::string extension;
  int kind;       // the clip file kind of the video
};

// CPU seconds of every thread of the process so far.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int AddRow(const Encoded& encoded, const MeteorClip& clip) {
  using namespace mr4;
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, encoded.base.parent_path().string());
  clips.SetText(row, clip::kClipName, encoded.base.filename().string());
  clips.SetInt(row, clip::kMT, KindBit(encoded.kind));
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
  using Clock = std::chrono::steady_clock;
  AnalysisContext& c = AnalysisContextAt(0);
  AllocateAnalysisContext(c);
  const int row = AddRow(clip, meteor);
  const std::string decode = "filesrc location=\"" + clip.base.string() + clip.extension +
                             "\" ! decodebin ! videoconvert ! fakesink";
  double decoding = 0, analysis = 0, decoding_cpu = 0, analysis_cpu = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    const double cpu_start = ProcessCpuSeconds();
    if (const std::string e = RunPipeline(decode); !e.empty()) state.SkipWithError(e.c_str());
    const auto decoded = Clock::now();
    const double cpu_decoded = ProcessCpuSeconds();
    c.profile = CameraProfile{};
    c.profile.cx = meteor.w;
    c.profile.cy = meteor.h;
    c.profile.p_u4_consR = 0;
    c.clip_row = row;
    const int code = AnalyzeClip(c);
    if (code != kAnalysisOk) state.SkipWithError("the analysis failed");
    const auto analysed = Clock::now();
    analysis_cpu += ProcessCpuSeconds() - cpu_decoded;
    decoding_cpu += cpu_decoded - cpu_start;
    const double seconds = std::chrono::duration<double>(analysed - decoded).count();
    state.SetIterationTime(seconds);
    analysis += seconds;
    decoding += std::chrono::duration<double>(decoded - start).count();
  }
  state.counters["tracks"] = c.track_count;
  state.counters["decode_ms"] = 1000 * decoding / double(state.iterations());
  state.counters["ratio"] = decoding > 0 ? analysis / decoding : 0;
  state.counters["decode_cpu_ms"] = 1000 * decoding_cpu / double(state.iterations());
  state.counters["analysis_cpu_ms"] = 1000 * analysis_cpu / double(state.iterations());
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
  meteor.frames = 320;
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
    const char* extension;
    int kind;
  };
  const Codec codecs[] = {
      {"mjpeg", {"jpegenc", "avimux"}, "jpegenc quality=85 ! avimux", ".avi", kKindAvi},
      {"h264", {"x264enc", "avimux"},
       "video/x-raw,format=I420 ! x264enc pass=qual quantizer=18 ! avimux", ".avi", kKindAvi},
      {"wmv", {"avenc_wmv2", "avmux_asf"},
       "video/x-raw,format=I420 ! avenc_wmv2 pass=quant quantizer=2 ! avmux_asf", ".wmv",
       kKindWmv},
  };
  int n = 1;
  for (const Codec& codec : codecs) {
    if (!HaveElements(codec.elements)) {
      std::printf("no %s encoder: skipped\n", codec.name);
      continue;
    }
    const fs::path base = dir / ("M20240101_00000" + std::to_string(n++));
    const std::string video = base.string() + codec.extension;
    if (const std::string e = Transcode(original, video, codec.encoder); !e.empty()) {
      std::fprintf(stderr, "cannot encode %s: %s\n", codec.name, e.c_str());
      continue;
    }
    clips.push_back({codec.name, base, codec.extension, codec.kind});
  }
  for (const Encoded& clip : clips) {
    benchmark::RegisterBenchmark(("ReplayAnalysis/" + clip.name).c_str(),
                                 [&clip, &meteor](benchmark::State& s) {
                                   ReplayAnalysis(s, clip, meteor);
                                 })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  ReplayThread().PostCommand(kReplayQuit);
  FinishReplayThread(std::chrono::seconds(5));
  fs::remove_all(dir);
  return 0;
}
