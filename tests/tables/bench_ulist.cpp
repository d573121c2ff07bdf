// The clip list over 10,000 clip rows: painting the list, scrolling one
// page, and sorting by a number and by a text column. Built, not run by the
// tests: `build/tests/tables/bench_ulist` (offscreen unless a platform is
// set).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <cstdio>
#include <memory>

#include "app/column_layouts.h"
#include "app/main_window.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"

namespace mr4 {
namespace {

constexpr int kClipRows = 10000;

struct ListFixture {
  Table clips{kClipSchema};
  ColumnLayout layout;
  CPage page{PageId::kMain, LayoutScale{1.0, 1.0}};
  std::unique_ptr<CUList> list;
  QImage canvas;

  ListFixture() {
    for (const ColumnLayout& l : BuiltInColumnLayouts()) {
      if (std::string_view(l.prefix) == "UC") layout = l;
    }
    char name[64];
    for (int i = 0; i < kClipRows; ++i) {
      const int row = clips.AppendRow();
      std::snprintf(name, sizeof name, "M2026%04d_%06d_CAM%d", 1000 + i % 300, (i * 7919) % 240000, i % 4);
      clips.SetText(row, clip::kClipName, name);
      clips.SetText(row, clip::kClass, i % 5 ? "spo" : "__noise");
      clips.SetInt(row, clip::kO, i % 4);
      clips.SetFloat(row, clip::kMag, -0.1f * static_cast<float>(i % 61));
      clips.SetFloat(row, clip::kCdegmax, 0.001f * static_cast<float>((i * 37) % 997));
      clips.SetText(row, clip::kMedia, "avi");
    }
    page.resize(345, 900);
    list = std::make_unique<CUList>(&page, layout, clips);
    page.show();
    QCoreApplication::processEvents();
    canvas = QImage(list->size(), QImage::Format_ARGB32_Premultiplied);
  }
  void Paint() { list->render(&canvas); }
};

ListFixture& Fixture() {
  static ListFixture fixture;
  return fixture;
}

void BM_PaintList(benchmark::State& state) {
  ListFixture& f = Fixture();
  for (auto _ : state) f.Paint();
  state.counters["cells"] = benchmark::Counter(
      static_cast<double>(f.list->list_model().cells_read()), benchmark::Counter::kDefaults);
}
BENCHMARK(BM_PaintList)->Unit(benchmark::kMillisecond);

void BM_ScrollOnePage(benchmark::State& state) {
  ListFixture& f = Fixture();
  QScrollBar* bar = f.list->verticalScrollBar();
  for (auto _ : state) {
    const int next = bar->value() + bar->pageStep();
    bar->setValue(next > bar->maximum() ? 0 : next);
    f.Paint();
  }
}
BENCHMARK(BM_ScrollOnePage)->Unit(benchmark::kMillisecond);

void BM_SortByNumber(benchmark::State& state) {
  ListFixture& f = Fixture();
  int direction = 1;
  for (auto _ : state) {
    f.list->SortLines(clip::kMag, direction);
    direction = -direction;
  }
}
BENCHMARK(BM_SortByNumber)->Unit(benchmark::kMillisecond);

void BM_SortByText(benchmark::State& state) {
  ListFixture& f = Fixture();
  int direction = 1;
  for (auto _ : state) {
    f.list->SortLines(clip::kClipName, direction);
    direction = -direction;
  }
}
BENCHMARK(BM_SortByText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
