// The directory scan over 10,000 clip files: 2,500 clips of four files
// each (a small uncompressed AVI, a capture record, a peak-hold picture and
// a thumbnail), in one directory with ten night subdirectories. Measures
// ReadClipDirectories from empty tables, with a warm file-system cache.
//
//   build-dir/tests/clips/bench_clip_scan
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/process_values.h"
#include "app/settings.h"
#include "clips/clip_scan.h"
#include "platform/scripted_ui.h"
#include "sim/avi_writer.h"
#include "tables/table_catalogue.h"

namespace {

constexpr int kClips = 2500;
constexpr int kNights = 10;

std::filesystem::path MakeTree() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mr4-bench-scan.XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  const std::filesystem::path root = pattern;
  // One real AVI, copied for every clip.
  const std::filesystem::path avi = root / "template.avi.tmp";
  mr4::AviWriterOptions options;
  options.width = 16;
  options.height = 8;
  mr4::AviWriter writer;
  std::vector<std::uint8_t> frame(16 * 8 * 2, 16);
  if (!writer.Open(avi, options) || !writer.WriteFrame(frame) || !writer.Close()) {
    std::abort();
  }
  for (int i = 0; i < kClips; ++i) {
    const std::filesystem::path night = root / ("night" + std::to_string(i % kNights));
    std::filesystem::create_directories(night);
    char base[64];
    std::snprintf(base, sizeof base, "M202401%02d_%02d%02d%02d_ST1", 1 + i % 28,
                  (i / 3600) % 24, (i / 60) % 60, i % 60);
    std::filesystem::copy_file(avi, night / (std::string(base) + ".avi"));
    std::ofstream(night / (std::string(base) + ".xml"))
        << "<?xml version=\"1.0\" ?>\r\n<halvex_record cx=\"720\" cy=\"480\" "
           "fps=\"29.97\" frames=\"300\" lid=\"TK\" sid=\"ST1\" lng=\"139.5\" "
           "lat=\"35.5\" observer=\"obs\" cam=\"cam\" lens=\"lens\"/>\r\n";
    std::ofstream(night / (std::string(base) + "P.BMP")) << std::string(200, 'x');
    std::ofstream(night / (std::string(base) + "T.jpg")) << std::string(100, 'x');
  }
  std::filesystem::remove(avi);
  return root;
}

std::filesystem::path& Tree() {
  static std::filesystem::path root;
  return root;
}

void BM_ReadClipDirectories(benchmark::State& state) {
  if (Tree().empty()) Tree() = MakeTree();
  const std::filesystem::path& root = Tree();
  mr4::ScriptedUi ui;
  mr4::ScopedUi scoped(ui);
  const mr4::LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
  mr4::App().leap_seconds = mr4::BuildLeapSecondList(rows);
  mr4::Table& dirs = mr4::Tables().dir;
  dirs.Clear();
  const int row = dirs.AppendRow();
  dirs.SetUint(row, mr4::dir::kUse, 1);
  dirs.SetText(row, mr4::dir::kDir, root.native());
  int clips = 0;
  for (auto _ : state) {
    clips = mr4::ReadClipDirectories();
    benchmark::DoNotOptimize(clips);
  }
  if (clips != kClips) state.SkipWithError("wrong clip count");
  state.counters["files"] = kClips * 4;
  state.counters["files/s"] =
      benchmark::Counter(kClips * 4.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadClipDirectories)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!Tree().empty()) std::filesystem::remove_all(Tree());
  return 0;
}
