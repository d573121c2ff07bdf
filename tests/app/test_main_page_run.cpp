// An observer's night through the real main window and the Main page's own
// controls: a fresh home, a folder of three simulated clips added through
// the folder dialog, its profile chosen in the directory list, the scan,
// two clips checked with the list's check boxes, "Analyze C all" from the
// first line. The checked clips get their result files and their classes
// in the clip list; the unchecked one keeps no result file.
#include <QAbstractItemModel>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/pa_dlg.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "clips/page_main.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"
#include "tests/support/run_program.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

constexpr int kAnalysisTimeoutMs = 120000;

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

// The camera that recorded the night, the observer's profile of it (a
// little off, as a first calibration is), and three clips in `dir`.
bool RecordNight(const test::TempHome& home, const fs::path& dir) {
  return SetProfile(home, "sky.XML", {"az=135", "ev=45", "vx=56"}) &&
         SetProfile(home, "observer.XML", {"az=136", "ev=44", "vx=56.5"}) &&
         Mr4(home, {"simulate", "--night", "--out", dir.string(), "--profile", "sky.XML",
                    "--date", "2024-08-12", "--clips", "3", "--head", "10", "--tail", "10",
                    "--seed", "1"});
}

// The shown column of `list` captioned `caption`, or -1.
int ColumnCaptioned(CUList& list, const char* caption) {
  const QAbstractItemModel& model = list.list_model();
  for (int c = 0; c < model.columnCount(); ++c) {
    if (model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() == caption) return c;
  }
  return -1;
}

QString ShownText(CUList& list, int line, int column) {
  return list.list_model().index(line, column).data(Qt::DisplayRole).toString();
}

// Where a click on `line` lands: its check box, or its text (`column`).
QPoint CheckBoxOf(CUList& list, int line) {
  const QRect rect = list.visualRect(list.list_model().index(line, 0));
  return {rect.left() + 6, rect.center().y()};
}
QPoint CellOf(CUList& list, int line, int column) {
  return list.visualRect(list.list_model().index(line, column)).center();
}

fs::path ResultFile(int row) {
  const Table& clips = Tables().clip;
  return fs::path(std::string(clips.Text(row, clip::kDirectory))) /
         (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
}

}  // namespace

class TestMainPageRun : public QObject {
  Q_OBJECT

 private slots:
  void observerAnalysesTheCheckedClipsOfANight() {
    test::TempHome home("mr4-main-page-run");
    const fs::path night = home.path() / "night";
    QVERIFY(RecordNight(home, night));

    // The desktop's roads: page messages through the Qt loop, dialogs
    // answered by the script.
    QtMessageQueue queue;
    MessageQueue* previous_queue = SetMainQueue(&queue);
    ScriptedUi ui;
    std::vector<std::string> checked_names;
    std::string unchecked_name;
    bool finished = false;
    const fs::path cwd = fs::current_path();
    StartupOptions options;
    options.home = home.path();
    const int result = [&] {
      ScopedUi scoped_ui(ui);
      return RunApplication(options, [&] {
        CUDlg window;
        window.ShowAsPlaced();
        [&] {
          QVERIFY(QTest::qWaitForWindowExposed(&window));
          auto* page = static_cast<CPageMain*>(window.OpenedPage(PageId::kMain));
          QVERIFY(page != nullptr);
          auto button = [&](int id) {
            return page->findChild<QPushButton*>(QString::number(id));
          };
          for (int id : {kCmdAdd, kCmdReadDir, kCmdAllClipsOff, kCmdAnalyzeChecked})
            QVERIFY2(button(id) != nullptr, qPrintable(QString::number(id)));

          // "add": the folder dialog answers the night's folder.
          CUList& dirs = *page->directory_list();
          ui.QueuePath(night);
          QTest::mouseClick(button(kCmdAdd), Qt::LeftButton);
          QCOMPARE(dirs.line_count(), 1);
          QCOMPARE(Tables().dir.Text(0, dir::kDir), std::string_view(night.native()));
          // A double click on its profile cell: the file dialog answers
          // the observer's profile.
          const int profile_column = ColumnCaptioned(dirs, "profile");
          QVERIFY(profile_column >= 0);
          ui.QueuePath(home.path() / "PROF" / "observer.XML");
          QTest::mouseDClick(dirs.viewport(), Qt::LeftButton, {},
                             CellOf(dirs, 0, profile_column));
          QVERIFY(QTest::qWaitFor(
              [&] { return Tables().dir.Text(0, dir::kProfile) == "observer.XML"; }, 5000));

          // "Read dir": the three clips, all checked by the scan.
          CUList& clips = *page->clip_list();
          QTest::mouseClick(button(kCmdReadDir), Qt::LeftButton);
          QCOMPARE(clips.line_count(), 3);
          QCOMPARE(page->clip_count_label()->text(), QString("3 clips"));
          const Table& table = Tables().clip;
          for (int line = 0; line < 3; ++line) {
            const int row = clips.lines().RowAt(line);
            QVERIFY(row >= 0);
            QVERIFY(!fs::exists(ResultFile(row)));
          }

          // None checked, then the first and the last with their boxes.
          QTest::mouseClick(button(kCmdAllClipsOff), Qt::LeftButton);
          for (int line : {0, 2}) {
            QTest::mouseClick(clips.viewport(), Qt::LeftButton, {}, CheckBoxOf(clips, line));
            const int row = clips.lines().RowAt(line);
            QVERIFY(QTest::qWaitFor([&] { return table.Uint(row, clip::kCheck) != 0; }, 5000));
          }
          std::vector<unsigned> checks;
          for (int line = 0; line < 3; ++line)
            checks.push_back(table.Uint(clips.lines().RowAt(line), clip::kCheck));
          QCOMPARE(checks, (std::vector<unsigned>{1, 0, 1}));
          for (int line : {0, 2})
            checked_names.emplace_back(table.Text(clips.lines().RowAt(line), clip::kClipName));
          unchecked_name = table.Text(clips.lines().RowAt(1), clip::kClipName);

          // The first line selected by a click on its name.
          const int name_column = ColumnCaptioned(clips, "clip_name");
          QVERIFY(name_column >= 0);
          QTest::mouseClick(clips.viewport(), Qt::LeftButton, {}, CellOf(clips, 0, name_column));
          QVERIFY(QTest::qWaitFor([&] { return clips.SelectedLine() == 0; }, 5000));

          // "Analyze C all" runs its dialog in a loop of its own: clicked
          // from the window's loop, the test waits for the click to return.
          // The dialog's loop serves the watch on the dialog meanwhile.
          bool returned = false;
          bool dialog_seen = false;
          QTimer watch;
          watch.setInterval(5);
          connect(&watch, &QTimer::timeout, [&] { dialog_seen |= AnalysisDialog() != nullptr; });
          watch.start();
          QTimer::singleShot(0, &window, [&] {
            QTest::mouseClick(button(kCmdAnalyzeChecked), Qt::LeftButton);
            returned = true;
          });
          QVERIFY(QTest::qWaitFor([&] { return returned; }, kAnalysisTimeoutMs));
          watch.stop();
          QVERIFY(dialog_seen);
          QVERIFY(AnalysisDialog() == nullptr);

          // The result files on disk, the classes in the list.
          QCOMPARE(clips.line_count(), 3);
          const int class_column = ColumnCaptioned(clips, "class");
          QVERIFY(class_column >= 0);
          for (int line = 0; line < 3; ++line) {
            const int row = clips.lines().RowAt(line);
            const bool checked = line != 1;
            const QString what = QString::fromStdString(ResultFile(row));
            QVERIFY2(fs::exists(ResultFile(row)) == checked, qPrintable(what));
            const QString shown = ShownText(clips, line, class_column);
            QCOMPARE(shown, QString::fromUtf8(table.Text(row, clip::kClass)));
            QVERIFY2(shown.isEmpty() != checked, qPrintable(what + ": '" + shown + "'"));
          }
          finished = true;
        }();
        return 0;
      });
    }();
    fs::current_path(cwd);  // start-up went into the home, which goes
    SetMainQueue(previous_queue);
    QCOMPARE(result, 0);
    QVERIFY(finished);
    QVERIFY(ui.messages().empty());
    // The results are the clips' own files, beside their videos.
    for (const std::string& name : checked_names)
      QVERIFY(fs::exists(night / (name + "A.XML")));
    QVERIFY(!unchecked_name.empty());
    QVERIFY(!fs::exists(night / (unchecked_name + "A.XML")));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestMainPageRun)
#include "test_main_page_run.moc"
