// From the end of start-up to the main window shown with its clip list
// painted, over an empty clip table and over 10,000 clip rows (rows only:
// the list formats its cells from the table and opens no clip file), on a
// home made by `mr4 init`. The steps are timed alone too: building the
// window (its pages and lists), and the first paint once it is shown.
// Built, not run by the tests: `build/tests/app/bench_window_start`
// (offscreen unless a platform is set).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "clips/page_main.h"
#include "platform/qt_message_queue.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"
#include "tests/support/run_program.h"

namespace mr4 {
namespace {

constexpr int kWaitLimitMs = 10000;
constexpr int kClipRows = 10000;

// Clip rows as a scan of one folder leaves them.
void FillClipTable(int count) {
  Table& clips = Tables().clip;
  clips.Clear();
  char name[64];
  for (int i = 0; i < count; ++i) {
    const int row = clips.AppendRow();
    std::snprintf(name, sizeof name, "M2026%04d_%06d_CAM%d", 1000 + i % 300,
                  (i * 7919) % 240000, i % 4);
    clips.SetText(row, clip::kDirectory, "/data/night");
    clips.SetText(row, clip::kClipName, name);
    clips.SetText(row, clip::kClass, i % 5 ? "spo" : "__noise");
    clips.SetInt(row, clip::kOline, -1);
    clips.SetInt(row, clip::kO, i % 4);
    clips.SetFloat(row, clip::kMag, -0.1f * static_cast<float>(i % 61));
    clips.SetFloat(row, clip::kCdegmax, 0.001f * static_cast<float>((i * 37) % 997));
    clips.SetInt(row, clip::kY, 2026);
    clips.SetInt(row, clip::kMo, 12);
    clips.SetInt(row, clip::kD, 1 + i % 28);
    clips.SetInt(row, clip::kCheck, 1);
    clips.SetText(row, clip::kMedia, "avi");
  }
}

// Notes the first paint of a widget.
class PaintWatch final : public QObject {
 public:
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

QWidget& ClipListViewport(CUDlg& window) {
  auto* page = static_cast<CPageMain*>(window.OpenedPage(PageId::kMain));
  return *page->clip_list()->viewport();
}

// Serves the loop until the watch saw its paint; false past the limit.
bool WaitForPaint(const PaintWatch& watch) {
  QElapsedTimer waited;
  waited.start();
  while (!watch.painted) {
    if (waited.elapsed() > kWaitLimitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

void CloseWindow(std::unique_ptr<CUDlg>& window) {
  window.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

// Milliseconds from building a window to its clip list painted; -1 when
// it was not painted.
double ShowWindowOnce() {
  QElapsedTimer timer;
  timer.start();
  auto window = std::make_unique<CUDlg>();
  PaintWatch watch;
  ClipListViewport(*window).installEventFilter(&watch);
  window->ShowAsPlaced();
  const bool painted = WaitForPaint(watch);
  const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  CloseWindow(window);
  return painted ? ms : -1.0;
}

void BM_WindowShownAndListPainted(benchmark::State& state) {
  FillClipTable(static_cast<int>(state.range(0)));
  int lines = 0;
  for (auto _ : state) {
    auto window = std::make_unique<CUDlg>();
    PaintWatch watch;
    ClipListViewport(*window).installEventFilter(&watch);
    window->ShowAsPlaced();
    if (!WaitForPaint(watch)) {
      state.SkipWithError("the clip list was not painted");
      break;
    }
    state.PauseTiming();
    lines = static_cast<CPageMain*>(window->OpenedPage(PageId::kMain))->clip_list()->line_count();
    CloseWindow(window);
    state.ResumeTiming();
  }
  state.counters["lines"] = lines;
}
BENCHMARK(BM_WindowShownAndListPainted)->Arg(0)->Arg(kClipRows)->Unit(benchmark::kMillisecond);

void BM_BuildWindow(benchmark::State& state) {
  FillClipTable(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto window = std::make_unique<CUDlg>();
    state.PauseTiming();
    CloseWindow(window);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BuildWindow)->Arg(0)->Arg(kClipRows)->Unit(benchmark::kMillisecond);

void BM_ShowAndPaint(benchmark::State& state) {
  FillClipTable(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto window = std::make_unique<CUDlg>();
    PaintWatch watch;
    ClipListViewport(*window).installEventFilter(&watch);
    state.ResumeTiming();
    window->ShowAsPlaced();
    if (!WaitForPaint(watch)) {
      state.SkipWithError("the clip list was not painted");
      break;
    }
    state.PauseTiming();
    CloseWindow(window);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ShowAndPaint)->Arg(0)->Arg(kClipRows)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mr4

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  mr4::QtMessageQueue queue;
  mr4::MessageQueue* previous = mr4::SetMainQueue(&queue);
  const std::filesystem::path cwd = std::filesystem::current_path();
  int result = 0;
  {
    mr4::test::TempHome home("mr4-bench-window");
    mr4::StartupOptions options;
    options.home = home.path();
    result = mr4::RunApplication(options, [] {
      // The first window of the process, as the desktop program shows it:
      // nothing of Qt's drawing warmed up yet.
      mr4::FillClipTable(mr4::kClipRows);
      const double ms = mr4::ShowWindowOnce();
      if (ms < 0) return 1;
      std::printf("first window shown, %d clip lines painted: %.1f ms\n", mr4::kClipRows, ms);
      benchmark::RunSpecifiedBenchmarks();
      mr4::Tables().clip.Clear();
      return 0;
    });
    std::filesystem::current_path(cwd);
  }
  mr4::SetMainQueue(previous);
  benchmark::Shutdown();
  return result;
}
