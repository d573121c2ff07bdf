// Per-frame cost of the replay filter element on a 720 x 480 BGR stream,
// pushed through GstHarness: plain pass-through, the copy into the frame
// buffer, and field interpolation plus the copy. Not a test: run by hand
// (build target bench_mr4f) and compare against the decoding cost of a frame.
#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "filter/mr4f_exchange.h"

namespace {

constexpr int kWidth = 720, kHeight = 480;

void PushFrames(benchmark::State& state, bool copy, bool interpolate) {
  GstHarness* h = gst_harness_new_with_padnames("mr4f", "Input", "Output1");
  std::vector<uint8_t> frame_buffer(size_t(kWidth) * kHeight * 3);
  Mr4fExchangeBlock block;
  std::memset(&block, 0, sizeof block);
  block.field_interpolation = interpolate ? 1 : 0;
  block.frame_buffer = copy ? frame_buffer.data() : nullptr;
  g_object_set(h->element, "exchange-block", &block, nullptr);
  gst_harness_set_src_caps_str(
      h, "video/x-raw,format=BGR,width=720,height=480,framerate=30000/1001");
  GstBuffer* frame = gst_buffer_new_allocate(nullptr, size_t(kWidth) * kHeight * 3, nullptr);
  gst_buffer_memset(frame, 0, 0x40, gst_buffer_get_size(frame));
  for (auto _ : state) {
    // The one frame goes round with a single reference, so the element
    // finds it writable and interpolates in place, as behind a decoder.
    gst_harness_push(h, frame);
    frame = gst_harness_pull(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
  gst_buffer_unref(frame);
  gst_harness_teardown(h);
}

void BM_PassThrough(benchmark::State& state) { PushFrames(state, false, false); }
void BM_Copy(benchmark::State& state) { PushFrames(state, true, false); }
void BM_InterpolateAndCopy(benchmark::State& state) { PushFrames(state, true, true); }

BENCHMARK(BM_PassThrough);
BENCHMARK(BM_Copy);
BENCHMARK(BM_InterpolateAndCopy);

}  // namespace

int main(int argc, char** argv) {
  g_setenv("GST_REGISTRY", MR4F_TEST_REGISTRY, TRUE);
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  GstPlugin* plugin = gst_plugin_load_file(MR4F_PLUGIN_FILE, &error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s: %s\n", MR4F_PLUGIN_FILE, error ? error->message : "?");
    return EXIT_FAILURE;
  }
  gst_object_unref(plugin);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return EXIT_SUCCESS;
}
