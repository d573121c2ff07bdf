// The analysis dialog on a real home with the real main window: the
// simulated clips that are checked get their result files, the unchecked
// one none; a clip only the replay graph decodes runs in slot 0 beside the
// workers, its frames coming through the desktop's main queue.
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/pa_dlg.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "clips/clip_scan.h"
#include "platform/qt_message_queue.h"
#include "replay/replay_graph.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/support/run_program.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kCamera = {"cx=720", "cy=480", "lng=139.7", "lat=35.7",
                                          "alt=30", "tz=32400", "rot=0", "k4=0",
                                          "k3=0.06", "k2=-0.03", "yx=1", "dx=0",
                                          "dy=0", "dlim=40"};

bool Mr4(const test::TempHome& home, std::vector<std::string> args) {
  args.insert(args.begin(), {"--home", home.path().string()});
  const test::ProgramResult r = test::RunMr4(args);
  if (r.exit_code != 0) qWarning("mr4 %s: %s", args[2].c_str(), r.err.c_str());
  return r.exit_code == 0;
}

bool SetProfile(const test::TempHome& home, const std::string& file,
                const std::vector<std::string>& pointing) {
  std::vector<std::string> args = {"profile", "set", file};
  args.insert(args.end(), kCamera.begin(), kCamera.end());
  args.insert(args.end(), pointing.begin(), pointing.end());
  return Mr4(home, args);
}

// A home with `count` simulated clips in clips/, added with the observer's
// profile.
bool PrepareHome(const test::TempHome& home, int count) {
  const fs::path dir = home.path() / "clips";
  return SetProfile(home, "sky.XML", {"az=135", "ev=45", "vx=56"}) &&
         SetProfile(home, "observer.XML", {"az=136", "ev=44", "vx=56.5"}) &&
         Mr4(home, {"simulate", "--night", "--out", dir.string(), "--profile", "sky.XML",
                    "--date", "2024-08-12", "--clips", std::to_string(count), "--head", "10",
                    "--tail", "10", "--seed", "1"}) &&
         Mr4(home, {"dirs", "add", dir.string(), "--profile", "observer.XML"});
}

// Motion JPEG through gst-launch-1.0; false when the tool or an element is
// missing.
bool TranscodeToMotionJpeg(const fs::path& in, const fs::path& out) {
  if (std::system("gst-inspect-1.0 jpegenc > /dev/null 2>&1") != 0 ||
      std::system("gst-inspect-1.0 avimux > /dev/null 2>&1") != 0)
    return false;
  const std::string command = "gst-launch-1.0 -q filesrc location=\"" + in.string() +
                              "\" ! decodebin ! videoconvert ! jpegenc quality=90 ! avimux ! "
                              "filesink location=\"" + out.string() + "\" > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

fs::path ResultFile(int row) {
  const Table& clips = Tables().clip;
  return fs::path(std::string(clips.Text(row, clip::kDirectory))) /
         (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
}

}  // namespace

class TestPADlgHome : public QObject {
  Q_OBJECT

 private slots:
  void checkedClipsOfTheListGetResults() {
    test::TempHome home("mr4-pa-dlg");
    QVERIFY(PrepareHome(home, 3));

    const fs::path cwd = fs::current_path();
    StartupOptions options;
    options.home = home.path();
    std::vector<int> rows;
    int unchecked = -1;
    bool checked_files = false;
    // Start-up, the window, shut-down: as the desktop program runs.
    const int result = RunApplication(options, [&] {
      ReadClipDirectories();
      Table& clips = Tables().clip;
      for (int r = 0; r < clips.count(); ++r) {
        if (clips.Exists(r)) rows.push_back(r);
      }
      if (rows.size() != 3) return 1;
      for (int row : rows) {
        if (fs::exists(ResultFile(row))) return 1;
      }
      unchecked = rows[1];
      for (int row : rows) clips.SetInt(row, clip::kCheck, row == unchecked ? 0 : 1);

      CUDlg window;
      window.ShowAsPlaced();
      ParallelOptions run;
      run.threads = 2;
      bool returned = false;
      int context0 = -2;
      // As the Main page's button: from its handler, inside the window's loop.
      QTimer::singleShot(0, &window, [&] {
        context0 = RunParallelAnalysisDialog(window, run);
        returned = true;
      });
      [&] {
        QVERIFY(QTest::qWaitFor([&] { return returned; }, 120000));
        QVERIFY(AnalysisDialog() == nullptr);
        QCOMPARE(context0, rows[0]);  // the list's first line
        const ResultPicture& picture = window.analysis_result();
        QVERIFY(picture.clip_row == rows[0] || picture.clip_row == rows[2]);
        QCOMPARE(picture.width, 720);
        QCOMPARE(picture.height, 480);
        QCOMPARE(picture.bgr.size(), std::size_t(720) * 480 * 3);
        for (int row : rows) {
          const fs::path file = ResultFile(row);
          QVERIFY2(fs::exists(file) == (row != unchecked),
                   qPrintable(QString::fromStdString(file)));
        }
        checked_files = true;
      }();
      return 0;
    });
    fs::current_path(cwd);  // start-up went into the home, which goes
    QCOMPARE(result, 0);
    QCOMPARE(rows.size(), std::size_t(3));
    QVERIFY(checked_files);
  }

  void replayClipRunsInSlotZeroBesideTheWorkers() {
    test::TempHome home("mr4-pa-dlg-replay");
    QVERIFY(PrepareHome(home, 3));
    const fs::path dir = home.path() / "clips";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".avi") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    QCOMPARE(names.size(), std::size_t(3));
    const fs::path video = dir / (names[1] + ".avi");
    if (!TranscodeToMotionJpeg(video, home.path() / "mjpeg.avi"))
      QSKIP("no gst-launch-1.0 with jpegenc and avimux");
    fs::rename(home.path() / "mjpeg.avi", video);

    // As the desktop: the replay's frames come through the Qt loop.
    const std::string registry = (home.path() / "gst-registry.bin").string();
    setenv("GST_REGISTRY", registry.c_str(), 1);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
    QtMessageQueue queue;
    MessageQueue* previous = SetMainQueue(&queue);
    const fs::path cwd = fs::current_path();
    StartupOptions options;
    options.home = home.path();
    int replay_rows = 0;
    bool checked_files = false;
    const int result = RunApplication(options, [&] {
      ReadClipDirectories();
      const Table& clips = Tables().clip;
      std::vector<int> rows;
      for (int r = 0; r < clips.count(); ++r) {
        if (!clips.Exists(r)) continue;
        rows.push_back(r);
        if (NeedsReplayGraph(clips, r)) ++replay_rows;
      }
      CUDlg window;
      window.ShowAsPlaced();
      ParallelOptions run;
      run.threads = 2;
      // The observer's runner, recording where each clip ran and how.
      std::mutex mutex;
      std::vector<std::tuple<int, int, int>> ran;  // (row, slot, code)
      SlotRunner observer = StarFitThenAnalyze(true);
      SlotRunner recording = [&](int slot, int row) {
        const SlotOutcome outcome = observer(slot, row);
        std::lock_guard lock(mutex);
        ran.emplace_back(row, slot, outcome.code);
        return outcome;
      };
      bool returned = false;
      QTimer::singleShot(0, &window, [&] {
        RunParallelAnalysisDialog(window, run, recording);
        returned = true;
      });
      [&] {
        QVERIFY(QTest::qWaitFor([&] { return returned; }, 120000));
        std::sort(ran.begin(), ran.end());
        QCOMPARE(ran.size(), rows.size());
        for (const auto& [row, slot, code] : ran) {
          const QString what = QString::fromStdString(ResultFile(row));
          QVERIFY2(code == 0, qPrintable(what + " code " + QString::number(code)));
          QVERIFY2((slot == 0) == NeedsReplayGraph(clips, row), qPrintable(what));
          QVERIFY2(fs::exists(ResultFile(row)), qPrintable(what));
        }
        checked_files = true;
      }();
      return 0;
    });
    fs::current_path(cwd);
    SetMainQueue(previous);
    unsetenv("GST_REGISTRY");
    SetReplayPluginFile(std::nullopt);
    QCOMPARE(result, 0);
    QCOMPARE(replay_rows, 1);
    QVERIFY(checked_files);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPADlgHome)
#include "test_pa_dlg_home.moc"
