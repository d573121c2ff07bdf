// Throughput of the direct road: NextAviFrame and ToGreenPlane over a
// 720 x 480 YUY2 clip written by the simulator's writer (the file sits in
// the page cache after the first pass, so this measures the reader and the
// conversion, not the disk).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "replay/avi_reader.h"
#include "replay/frame_formats.h"
#include "sim/avi_writer.h"

namespace mr4 {
namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 480;
constexpr int kFrames = 120;

const std::filesystem::path& Clip(AviLayout layout) {
  static std::filesystem::path paths[2];
  auto& path = paths[layout == AviLayout::kRecords ? 0 : 1];
  if (path.empty()) {
    std::string dir =
        (std::filesystem::temp_directory_path() / "mr4-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) std::abort();
    path = std::filesystem::path(dir) / "clip.avi";
    AviWriterOptions o;
    o.format = AviPixelFormat::kYuy2;
    o.width = kWidth;
    o.height = kHeight;
    o.layout = layout;
    AviWriter writer;
    if (!writer.Open(path, o)) std::abort();
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(writer.ImageBytes()));
    for (int k = 0; k < kFrames; ++k) {
      for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(k));
      }
      if (!writer.WriteFrame(frame)) std::abort();
    }
    if (!writer.Close()) std::abort();
  }
  return path;
}

void ReadAndConvert(benchmark::State& state, AviLayout layout, bool convert) {
  const auto& path = Clip(layout);
  const YuvTables tables = BuildYuvTables();
  std::vector<std::uint8_t> buffer(1 << 20);
  std::vector<std::uint8_t> plane(kWidth * kHeight);
  AviReader reader;
  std::int64_t frames = 0;
  for (auto _ : state) {
    if (OpenAviFrames(path, reader, buffer) != kAviOk) {
      state.SkipWithError("open failed");
      return;
    }
    while (NextAviFrame(reader, buffer) == kAviOk) {
      if (convert) {
        ToGreenPlane(reader.geometry(), AviFramePixels(reader, buffer), 0, kHeight,
                     plane, tables);
      }
      benchmark::DoNotOptimize(plane.data());
      ++frames;
    }
    CloseAviFrames(reader);
  }
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(frames * kWidth * kHeight * 2);
}

void BM_ReadAndConvertRecords(benchmark::State& s) { ReadAndConvert(s, AviLayout::kRecords, true); }
void BM_ReadAndConvertBackToBack(benchmark::State& s) { ReadAndConvert(s, AviLayout::kStandard, true); }
void BM_ReadOnlyRecords(benchmark::State& s) { ReadAndConvert(s, AviLayout::kRecords, false); }

void BM_ConvertOnly(benchmark::State& state) {
  const YuvTables tables = BuildYuvTables();
  std::vector<std::uint8_t> frame(kWidth * kHeight * 2);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> plane(kWidth * kHeight);
  const FrameGeometry g{FrameFormat::kYuyv, kWidth, kHeight, 2};
  for (auto _ : state) {
    ToGreenPlane(g, frame, 0, kHeight, plane, tables);
    benchmark::DoNotOptimize(plane.data());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ReadAndConvertRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndConvertBackToBack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOnlyRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace mr4

BENCHMARK_MAIN();
