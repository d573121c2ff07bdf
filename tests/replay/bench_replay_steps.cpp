// What stepping costs: a Motion JPEG clip of 720 x 480 decoded once by a
// plain pipeline (decodebin ! videoconvert to BGR ! fakesink, as fast as it
// goes) against the same clip pulled frame by frame through the replay
// thread's analysis steps (command 6, each frame posting the next). Run by
// hand; the clip is written by GStreamer into a temporary directory.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "platform/message_queue.h"
#include "replay/replay_thread.h"

namespace mr4 {
namespace {

constexpr int kFrames = 300;

std::filesystem::path Clip() {
  static const std::filesystem::path path = [] {
    g_setenv("GST_REGISTRY",
             ("/tmp/mr4-replay-bench-registry." + std::to_string(::getpid())).c_str(), TRUE);
    gst_init(nullptr, nullptr);
    SetReplayPluginFile(std::filesystem::path(MR4F_PLUGIN_FILE));
    const auto file = std::filesystem::temp_directory_path() /
                      ("mr4-replay-bench-" + std::to_string(::getpid()) + ".avi");
    const std::string launch =
        "videotestsrc pattern=ball num-buffers=" + std::to_string(kFrames) +
        " ! video/x-raw,width=720,height=480,framerate=30000/1001 ! jpegenc ! avimux"
        " ! filesink location=" + file.string();
    GstElement* p = gst_parse_launch(launch.c_str(), nullptr);
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    gst_message_unref(gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return file;
  }();
  return path;
}

void BM_DecodeOnly(benchmark::State& state) {
  const std::string launch = "filesrc location=" + Clip().string() +
                             " ! decodebin ! videoconvert ! video/x-raw,format=BGR"
                             " ! fakesink sync=false";
  for (auto _ : state) {
    GstElement* p = gst_parse_launch(launch.c_str(), nullptr);
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    gst_message_unref(gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReplayAnalysisSteps(benchmark::State& state) {
  const std::filesystem::path clip = Clip();
  HeadlessLoop loop;
  CReplayThread replay(loop);
  ReplayClip current;
  current.video = clip;
  current.media_kind = 'a';
  replay.SetCurrentClip(current);
  std::int64_t frames = 0;
  for (auto _ : state) {
    std::atomic<bool> ended{false};
    ReplayAnalysisHooks hooks;
    hooks.on_frame = [&](const DeliveredFrame&) {
      ++frames;
      replay.PostCommand(kReplayAnalysisStep);
    };
    hooks.on_run_end = [&] { ended = true; };
    replay.PostCommand(kReplayClose);
    replay.InstallAnalysis(hooks);
    replay.PostCommand(kReplayAnalysisStep);
    loop.RunUntil([&] { return ended.load(); }, std::chrono::seconds(120));
    replay.RemoveAnalysis();
  }
  state.SetItemsProcessed(frames);
  replay.PostCommand(kReplayQuit);
  loop.RunUntil([&] { return replay.ended(); }, std::chrono::seconds(10));
}
BENCHMARK(BM_ReplayAnalysisSteps)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace mr4

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(mr4::Clip());
  std::filesystem::remove("/tmp/mr4-replay-bench-registry." + std::to_string(::getpid()));
  return 0;
}
