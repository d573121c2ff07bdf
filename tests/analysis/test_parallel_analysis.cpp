// The parallel analysis's scheduling on hand-built clip rows: the runner
// stands in for the per-clip run, so no video is needed.
#include "analysis/parallel_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clips/clip_files.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

using namespace std::chrono_literals;

struct ClipSpec {
  std::string name;
  int drive = 0;
  int codecno = 1;  // own reader; -1 replay graph
  int check = 1;
  int media = KindBit(kKindAvi);
  std::string cls;
};

class ParallelAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override { Tables().clip.Clear(); }
  void TearDown() override { Tables().clip.Clear(); }

  int AddClip(const std::string& name, int drive, int codecno = 1, int check = 1,
              int media = KindBit(kKindAvi), const std::string& cls = "") {
    return AddClip({name, drive, codecno, check, media, cls});
  }
  int AddClip(const ClipSpec& spec) {
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetText(row, clip::kClipName, spec.name);
    clips.SetInt(row, clip::kDriveno, spec.drive);
    clips.SetInt(row, clip::kCodecno, spec.codecno);
    clips.SetInt(row, clip::kCheck, spec.check);
    clips.SetInt(row, clip::kMT, spec.media);
    clips.SetText(row, clip::kClass, spec.cls);
    clips.SetInt(row, clip::kOline, -1);
    return row;
  }
};

// Records which rows each slot was given, in order, and on which thread.
struct Recorder {
  std::mutex mutex;
  std::map<int, std::vector<int>> rows_by_slot;
  std::vector<int> rows;
  std::set<int> slots_on_main_thread;
  std::thread::id main_thread = std::this_thread::get_id();

  SlotRunner Runner() {
    return [this](int slot, int row) {
      std::lock_guard lock(mutex);
      rows_by_slot[slot].push_back(row);
      rows.push_back(row);
      if (std::this_thread::get_id() == main_thread) slots_on_main_thread.insert(slot);
      return SlotOutcome{};
    };
  }
};

ParallelOptions Options(int threads, bool unclassified_only, int start_line) {
  ParallelOptions options;
  options.threads = threads;
  options.unclassified_only = unclassified_only;
  options.start_line = start_line;
  return options;
}

std::vector<int> Sorted(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(ParallelAnalysisTest, DrivesAreSpreadBeforeOneGetsASecondWorker) {
  // Six clips on drive 0 (lines 0 .. 5), two on drive 1 (lines 6, 7).
  std::vector<int> all;
  for (int i = 0; i < 6; ++i) all.push_back(AddClip("A" + std::to_string(i), 0));
  for (int i = 0; i < 2; ++i) all.push_back(AddClip("B" + std::to_string(i), 1));
  Recorder rec;
  ParallelAnalysis run(Options(4, false, 0), rec.Runner(), DefaultHeadlessLoop());
  run.Run();

  // The first clip of each slot is its assignment at the start.
  ASSERT_EQ(rec.rows_by_slot.size(), 4u);
  EXPECT_EQ(rec.rows_by_slot[1].front(), all[0]) << "slot 1: the first drive";
  EXPECT_EQ(rec.rows_by_slot[2].front(), all[6]) << "slot 2: the idle second drive";
  EXPECT_EQ(rec.rows_by_slot[3].front(), all[1]) << "slot 3: a second worker on drive 0";
  EXPECT_EQ(rec.rows_by_slot[4].front(), all[2]) << "slot 4: a third worker on drive 0";
  EXPECT_EQ(rec.rows_by_slot.count(0), 0u) << "no clip needs the replay graph";
  EXPECT_EQ(Sorted(rec.rows), all) << "every clip exactly once";
  const ParallelProgress end = run.Progress();
  EXPECT_EQ(end.finished, 8);
  EXPECT_EQ(end.running, 0);
  EXPECT_EQ(end.summary, "0 threads 8 / 8 ");
}

TEST_F(ParallelAnalysisTest, OneWorkerTakesEachDriveInItsListOrder) {
  const int a0 = AddClip("A0", 0);
  const int b0 = AddClip("B0", 1);
  const int a1 = AddClip("A1", 0);
  const int b1 = AddClip("B1", 1);
  Recorder rec;
  ParallelAnalysis run(Options(1, false, 0), rec.Runner(), DefaultHeadlessLoop());
  run.Run();
  // Slot 1 alone: each time every drive is idle, so the first drive with
  // work wins; a drive's candidates only move forward.
  EXPECT_EQ(rec.rows_by_slot[1], (std::vector<int>{a0, a1, b0, b1}));
}

TEST_F(ParallelAnalysisTest, ReplayClipsRunInSlotZeroOnTheMainThread) {
  const int avi1 = AddClip("avi1", 0);
  const int wmv = AddClip("wmv", 0, -1, 1, KindBit(kKindWmv));
  const int avi2 = AddClip("avi2", 1);
  const int compressed = AddClip("xvid", 1, -1);
  // Format code 0 (never probed) also takes the replay road in the run, so
  // it must not run beside slot 0 on another context.
  const int unprobed = AddClip("unprobed", 0, 0);
  Recorder rec;
  ParallelAnalysis run(Options(4, false, 0), rec.Runner(), DefaultHeadlessLoop());
  run.Run();
  EXPECT_EQ(rec.rows_by_slot[0], (std::vector<int>{wmv, compressed, unprobed}));
  EXPECT_EQ(rec.slots_on_main_thread, std::set<int>{0});
  std::vector<int> workers;
  for (const auto& [slot, rows] : rec.rows_by_slot) {
    if (slot != 0) workers.insert(workers.end(), rows.begin(), rows.end());
  }
  EXPECT_EQ(Sorted(workers), (std::vector<int>{avi1, avi2}));
}

TEST_F(ParallelAnalysisTest, ReplayClipsDoNotCountOnTheirDrive) {
  AddClip("wmv", 0, -1, 1, KindBit(kKindWmv));
  const int a0 = AddClip("A0", 0);
  const int a1 = AddClip("A1", 0);
  const int b0 = AddClip("B0", 1);
  std::mutex mutex;
  std::condition_variable changed;
  bool slot0_done = false;
  std::vector<int> worker_rows;
  auto runner = [&](int slot, int row) {
    if (slot == 0) return SlotOutcome{};
    std::unique_lock lock(mutex);
    // The replay clip ends first, while drive 0 has a worker.
    changed.wait(lock, [&] { return slot0_done; });
    worker_rows.push_back(row);
    return SlotOutcome{};
  };
  ParallelAnalysis run(Options(1, false, 0), runner, DefaultHeadlessLoop());
  run.on_finished = [&](const FinishedClip& done) {
    if (done.slot != 0) return;
    std::lock_guard lock(mutex);
    slot0_done = true;
    changed.notify_all();
  };
  run.Run();
  // Drive 0 is idle again after A0, so it comes first again (drive order).
  EXPECT_EQ(worker_rows, (std::vector<int>{a0, a1, b0}));
}

TEST_F(ParallelAnalysisTest, Eligibility) {
  struct Case {
    const char* what;
    ClipSpec spec;
    bool unclassified_only;
    bool eligible;
  };
  const Case cases[] = {
      {"checked AVI", {"c", 0, 1, 1, KindBit(kKindAvi), "spo"}, false, true},
      {"checked WMV", {"c", 0, -1, 1, KindBit(kKindWmv), ""}, false, true},
      {"unchecked", {"c", 0, 1, 0, KindBit(kKindAvi), ""}, false, false},
      {"no video", {"c", 0, 1, 1, KindBit(kKindMaskM), ""}, false, false},
      {"Ctrl: unclassified", {"c", 0, 1, 1, KindBit(kKindAvi), ""}, true, true},
      {"Ctrl: __noise again", {"c", 0, 1, 1, KindBit(kKindAvi), "__noise"}, true, true},
      {"Ctrl: second character _", {"c", 0, 1, 1, KindBit(kKindAvi), "x_y"}, true, true},
      {"Ctrl: spo kept", {"c", 0, 1, 1, KindBit(kKindAvi), "spo"}, true, false},
      {"Ctrl: shower kept", {"c", 0, 1, 1, KindBit(kKindAvi), "PER"}, true, false},
      {"Ctrl: unchecked", {"c", 0, 1, 0, KindBit(kKindAvi), ""}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tables().clip.Clear();
    const int row = AddClip(c.spec);
    EXPECT_EQ(ClipEligible(Tables().clip, row, c.unclassified_only), c.eligible);
    Recorder rec;
    ParallelAnalysis run(Options(2, c.unclassified_only, 0), rec.Runner(), DefaultHeadlessLoop());
    run.Run();
    EXPECT_EQ(rec.rows.size(), c.eligible ? 1u : 0u);
    EXPECT_EQ(run.Progress().eligible, c.eligible ? 1 : 0);
  }
}

TEST_F(ParallelAnalysisTest, OnlyLinesFromTheStartLineTakePart) {
  AddClip("before", 0);
  const int first = AddClip("first", 0);
  const int second = AddClip("second", 1);
  Recorder rec;
  ParallelAnalysis run(Options(4, false, 1), rec.Runner(), DefaultHeadlessLoop());
  run.Run();
  EXPECT_EQ(Sorted(rec.rows), (std::vector<int>{first, second}));
  EXPECT_EQ(run.Progress().total, 2);
}

TEST_F(ParallelAnalysisTest, StopWhileThreeWorkersRun) {
  for (int i = 0; i < 6; ++i) AddClip("clip" + std::to_string(i), i % 2);
  std::mutex mutex;
  std::condition_variable changed;
  int waiting = 0;
  bool released = false;
  std::vector<int> saw_stop;
  ParallelAnalysis* running = nullptr;
  auto runner = [&](int slot, int) {
    AnalysisContext& c = AnalysisContextAt(slot);
    // As a frame loop in progress: the tick shows its counters.
    c.last_detection_field = 600;
    c.field_counter = 120;
    std::unique_lock lock(mutex);
    ++waiting;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    saw_stop.push_back(c.stop.load());
    return SlotOutcome{};
  };
  ParallelAnalysis run(Options(3, false, 0), runner, DefaultHeadlessLoop());
  running = &run;
  ParallelProgress busy;
  std::thread user([&] {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return waiting == 3; });
    }
    // Wait for a tick to show the slots' counters, then "Stop".
    const auto limit = std::chrono::steady_clock::now() + 10s;
    do {
      busy = running->Progress();
      std::this_thread::sleep_for(20ms);
    } while (busy.slot_lines[3].progress.empty() && std::chrono::steady_clock::now() < limit);
    running->Stop();
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  });
  run.Run();
  user.join();

  EXPECT_EQ(busy.summary, "3 threads 0 / 6 ");
  ASSERT_EQ(busy.slot_lines.size(), 4u);
  EXPECT_EQ(busy.slot_lines[0].label, "");
  for (int slot = 1; slot <= 3; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(busy.slot_lines[static_cast<std::size_t>(slot)].label.rfind(std::to_string(slot) + ": clip", 0), 0u);
    EXPECT_EQ(busy.slot_lines[static_cast<std::size_t>(slot)].progress, "  120/  600");
  }
  EXPECT_EQ(saw_stop, (std::vector<int>{1, 1, 1})) << "each running clip saw the stop";
  EXPECT_EQ(waiting, 3) << "no new clip started after the stop";
  EXPECT_TRUE(run.stopped());
  const ParallelProgress end = run.Progress();
  EXPECT_EQ(end.finished, 3);
  EXPECT_EQ(end.running, 0);
  for (int slot = 0; slot <= 3; ++slot) {
    EXPECT_EQ(AnalysisContextAt(slot).stop.load(), 0) << "slot " << slot << ": cleared at the end";
  }
}

TEST_F(ParallelAnalysisTest, FinishedClipsAreReportedOnTheMainThread) {
  AddClip("a", 0);
  AddClip("b", 1);
  AddClip("w", 0, -1);
  Recorder rec;
  ParallelAnalysis run(Options(2, false, 0), rec.Runner(), DefaultHeadlessLoop());
  std::vector<int> finished;
  bool all_on_main = true;
  run.on_finished = [&](const FinishedClip& done) {
    finished.push_back(done.row);
    all_on_main = all_on_main && std::this_thread::get_id() == rec.main_thread;
  };
  run.Run();
  EXPECT_EQ(Sorted(finished), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(all_on_main);
}

TEST_F(ParallelAnalysisTest, AClipWithoutMaskPictureIsSkipped) {
  Table& clips = Tables().clip;
  const int row = AddClip("nomask", 0);
  clips.SetInt(row, clip::kCx, 64);
  clips.SetInt(row, clip::kCy, 48);
  clips.SetFloat(row, clip::kYx, 1.0f);
  AnalysisContext c;
  std::vector<std::uint8_t> mask;
  const SlotOutcome outcome = RunClipInSlot(c, row, true, mask);
  EXPECT_TRUE(outcome.skipped);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(clips.Int(row, clip::kO), 0) << "nothing was run";
}


// Started over a queue whose loop the caller runs (the desktop's way): the
// call returns at once, every slot runs on a thread of its own (slot 0 too:
// the main thread must keep its loop running), and the end comes through
// the queue after the last clip's report.
TEST_F(ParallelAnalysisTest, StartedRunEndsThroughTheQueue) {
  const int a = AddClip("a", 0);
  const int w = AddClip("w", 0, -1);
  const int b = AddClip("b", 1);
  const int c = AddClip("c", 0);
  HeadlessLoop loop;
  Recorder rec;
  std::vector<std::string> events;
  ParallelAnalysis run(Options(2, false, 0), rec.Runner(), loop);
  run.on_finished = [&](const FinishedClip& done) {
    events.push_back("finished " + std::to_string(done.row));
  };
  run.on_end = [&] {
    events.push_back(run.running() ? "end while running" : "end");
  };
  ASSERT_TRUE(run.Start());
  EXPECT_TRUE(run.running());
  EXPECT_TRUE(loop.RunUntil([&] { return !run.running(); }, 10s));
  loop.RunPending();
  EXPECT_TRUE(rec.slots_on_main_thread.empty()) << "no slot ran on the loop's thread";
  EXPECT_EQ(rec.rows_by_slot[0], (std::vector<int>{w}));
  EXPECT_EQ(Sorted(rec.rows), Sorted({a, w, b, c}));
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events.back(), "end");
  EXPECT_EQ(std::count(events.begin(), events.end(), "end"), 1);
  EXPECT_EQ(run.Progress().summary, "0 threads 4 / 4 ");
}

TEST_F(ParallelAnalysisTest, StartWithNoEligibleClipStartsNothing) {
  AddClip("unchecked", 0, 1, 0);
  AddClip("no video", 1, 1, 1, 0);
  HeadlessLoop loop;
  Recorder rec;
  bool ended = false;
  ParallelAnalysis run(Options(4, false, 0), rec.Runner(), loop);
  run.on_end = [&] { ended = true; };
  EXPECT_FALSE(run.Start());
  EXPECT_FALSE(run.running());
  loop.RunPending();
  EXPECT_TRUE(rec.rows.empty());
  EXPECT_FALSE(ended) << "the caller knows from Start's answer";
  EXPECT_EQ(run.Progress().eligible, 0);
}

// One clip, the start line's, in slot 0, whatever its check and however
// many clips follow; and the list given in line order rather than table
// order.
TEST_F(ParallelAnalysisTest, SequentialRunAnalysesTheStartLineOnly) {
  const int a = AddClip("a", 0);
  const int b = AddClip("b", 0, 1, 0);  // unchecked: chosen all the same
  const int c = AddClip("c", 1);
  struct Case {
    const char* name;
    std::vector<int> lines;
    int start_line;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"table order", {}, 1, {b}},
      {"given line order", {c, b, a}, 0, {c}},
      {"start line past the end", {}, 3, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    HeadlessLoop loop;
    Recorder rec;
    ParallelOptions options;
    options.threads = 4;
    options.start_line = k.start_line;
    options.lines = k.lines;
    options.sequential = true;
    ParallelAnalysis run(options, rec.Runner(), loop);
    const bool started = run.Start();
    EXPECT_EQ(started, !k.expected.empty());
    if (started) {
      EXPECT_TRUE(loop.RunUntil([&] { return !run.running(); }, 10s));
    }
    EXPECT_EQ(rec.rows, k.expected);
    EXPECT_EQ(rec.rows_by_slot.size(), k.expected.empty() ? 0u : 1u);
    EXPECT_EQ(rec.rows_by_slot.count(0), k.expected.empty() ? 0u : 1u);
    EXPECT_EQ(run.Progress().total, 1);
  }
}

// A run given up while its workers run waits for them, and their ends,
// still queued, reach nothing.
TEST_F(ParallelAnalysisTest, RunGivenUpWhileWorkersRunDropsTheirEnds) {
  AddClip("a", 0);
  AddClip("b", 1);
  HeadlessLoop loop;
  int reports = 0;
  {
    ParallelAnalysis run(Options(2, false, 0), [](int, int) {
      std::this_thread::sleep_for(30ms);
      return SlotOutcome{};
    }, loop);
    run.on_finished = [&](const FinishedClip&) { ++reports; };
    ASSERT_TRUE(run.Start());
  }
  loop.RunPending();
  EXPECT_EQ(reports, 0);
}

}  // namespace
}  // namespace mr4
