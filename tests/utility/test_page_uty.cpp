// The utilities page in the real main window over a night the program
// recorded and analysed: "TimeAdjust" (its field's largest shift) shifts the listed clips' records and
// files, "MakeOBJ csv" writes what `mr4 export-objects` writes for the same
// clips, a shower catalogue outside the home is refused and one inside it
// read, "Threads" is held to the machine's limit, "MakeP.bmp" writes the current clip's peak-hold picture through
// the replay graph, and the trash switches changed on the page (each
// excluding the other) are in the settings file after shut-down. With
// "TrashDir" on, "Delete a AXML" and "Delete AXMLs" move result files into
// the clip directory's "Trash", and "Move files" opens its dialog over the
// listed clips.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "analysis/analysis_context.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "base/process_values.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/dispatch_dlg.h"
#include "platform/qt_message_queue.h"
#include "replay/replay_graph.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"
#include "tests/support/run_program.h"
#include "utility/page_uty.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kCamera = {"cx=720", "cy=480", "lng=139.7", "lat=35.7",
                                          "alt=30", "tz=32400", "rot=0", "k4=0",
                                          "k3=0.06", "k2=-0.03", "yx=1", "dx=0",
                                          "dy=0", "dlim=40", "az=135", "ev=45", "vx=56"};

test::ProgramResult Mr4(const test::TempHome& home, std::vector<std::string> args) {
  args.insert(args.begin(), {"--home", home.path().string(), "--yes"});
  const test::ProgramResult r = test::RunMr4(args);
  if (r.exit_code != 0) qWarning("mr4 %s: %s", args[3].c_str(), r.err.c_str());
  return r;
}

// Two clips of one night in `dir`, analysed, their folder the home's only
// clip directory.
bool RecordNight(const test::TempHome& home, const fs::path& dir) {
  std::vector<std::string> profile = {"profile", "set", "sky.XML"};
  profile.insert(profile.end(), kCamera.begin(), kCamera.end());
  return Mr4(home, profile).exit_code == 0 &&
         Mr4(home, {"simulate", "--night", "--out", dir.string(), "--profile", "sky.XML",
                    "--date", "2024-08-12", "--clips", "2", "--head", "10", "--tail", "10",
                    "--seed", "3"}).exit_code == 0 &&
         Mr4(home, {"dirs", "add", dir.string(), "--profile", "sky.XML"}).exit_code == 0 &&
         Mr4(home, {"analyze", "--no-star-fit", "--range", "all"}).exit_code == 0;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The record's attribute `name` has `value` (attributes follow a blank, a
// tab or a line end).
bool HasAttribute(const std::string& record, const std::string& name, int value) {
  const std::string text = name + "=\"" + std::to_string(value) + "\"";
  for (std::size_t at = record.find(text); at != std::string::npos; at = record.find(text, at + 1)) {
    if (at > 0 && std::isspace(static_cast<unsigned char>(record[at - 1]))) return true;
  }
  return false;
}

struct ClipTime {
  std::string name;
  int y, mo, d, h, m;
  float s;
  double SecondsOfDay() const { return h * 3600.0 + m * 60.0 + s; }
};

}  // namespace

class TestPageUty : public QObject {
  Q_OBJECT

 private slots:
  // Each case is a run of the program of its own: no clip of an earlier
  // case's home is current.
  void init() { CurrentClip() = CurrentClipState{}; }

  void toolsAndSettingsOfTheListedClips() {
    test::TempHome home("mr4-page-uty");
    const fs::path night = home.path() / "night";
    QVERIFY(RecordNight(home, night));
    const fs::path page_export = home.path() / "page-export";
    fs::create_directories(page_export);

    // The replay filter from the build tree, with a registry of the test's own.
    const std::string registry = std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
    ::setenv("GST_REGISTRY", registry.c_str(), 1);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
    QtMessageQueue queue;
    MessageQueue* previous_queue = SetMainQueue(&queue);
    ScriptedUi ui;
    std::vector<ClipTime> before;
    std::vector<ClipTime> after;
    fs::path exported;
    int threads_set = 0;
    const fs::path peak_picture = home.path() / "page-export" / "peak.bmp";
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
          ReadClipDirectories();
          window.ShowPage(PageId::kUty);
          auto* page = static_cast<CPageUty*>(window.OpenedPage(PageId::kUty));
          QVERIFY(page != nullptr);
          QTest::qWait(50);
          auto button = [&](int id) {
            return page->findChild<QPushButton*>(QString::number(id));
          };
          const Table& clips = Tables().clip;
          const std::vector<int> listed = page->ListedClips();
          QCOMPARE(listed.size(), std::size_t{2});
          auto times = [&] {
            std::vector<ClipTime> t;
            for (int row : page->ListedClips()) {
              t.push_back({std::string(clips.Text(row, clip::kClipName)), clips.Int(row, clip::kY),
                           clips.Int(row, clip::kMo), clips.Int(row, clip::kD),
                           clips.Int(row, clip::kH), clips.Int(row, clip::kM),
                           clips.Float(row, clip::kS)});
            }
            return t;
          };
          before = times();

          // The field's largest shift: asked once, then every listed clip's
          // records, read back by the scan that ends the command.
          page->set_time_shift(1000);
          ui.QueueAnswer(true);
          QTest::mouseClick(button(kUtyTimeAdjust), Qt::LeftButton);
          QCOMPARE(ui.questions().size(), std::size_t{1});
          QCOMPARE(ui.questions()[0], std::string("Time adjust for all listed clips ok?"));
          QCOMPARE(page->clip_list()->line_count(), 2);
          after = times();

          // The export: the save dialog answers a folder of the test's.
          ui.QueuePath(page_export / "objects.csv");
          QTest::mouseClick(button(kUtyExportObjects), Qt::LeftButton);
          exported = page_export / "objects.csv";

          // TrashBox on, then TrashDir on: TrashBox goes off.
          QCheckBox* trash_box = page->check_box(kUtyTrashBox);
          QCheckBox* trash_dir = page->check_box(kUtyTrashDir);
          QTest::mouseClick(trash_box, Qt::LeftButton);
          QVERIFY(trash_box->isChecked());
          QTest::mouseClick(trash_dir, Qt::LeftButton);
          QVERIFY(trash_dir->isChecked());
          QVERIFY(!trash_box->isChecked());

          // A shower catalogue must lie in the home: one elsewhere is
          // refused, one there is read and shown (its name keeps the
          // catalogue name rule, so that it lasts past this run).
          const std::string shipped = AppSettings().catalog;
          const int showers = Tables().shower.count();
          QVERIFY(showers > 1);
          fs::create_directories(page_export / "cat");
          fs::copy_file(home.path() / shipped, page_export / "cat" / "mine.jx.csv");
          fs::copy_file(home.path() / shipped, home.path() / "mine.jx.csv");
          ui.QueuePath(page_export / "cat" / "mine.jx.csv");
          QTest::mouseClick(button(kUtyChooseCatalogue), Qt::LeftButton);
          QCOMPARE(AppSettings().catalog, shipped);
          QCOMPARE(ui.messages().size(), std::size_t{1});
          QCOMPARE(ui.messages()[0].text,
                   std::string("Please select csv file that exist in MR4 directory"));
          ui.QueuePath(home.path() / "mine.jx.csv");
          QTest::mouseClick(button(kUtyChooseCatalogue), Qt::LeftButton);
          QCOMPARE(AppSettings().catalog, std::string("mine.jx.csv"));
          QCOMPARE(page->catalogue_box()->text(), QString("mine.jx.csv"));
          QCOMPARE(Tables().shower.count(), showers);

          // "Threads" beyond what the machine allows is held to the limit,
          // and every context up to it is there for the analysis.
          QLineEdit* threads = page->threads_field()->box();
          threads->setFocus();
          threads->selectAll();
          QTest::keyClicks(threads, "8");
          threads_set = std::min(8, App().context_limit);
          QCOMPARE(AppSettings().gPAN, threads_set);
          QCOMPARE(threads->text(), QString::number(threads_set));
          for (int i = 1; i <= threads_set; ++i) QVERIFY(AnalysisContextAt(i).current != nullptr);

          // The peak hold of the current clip under the processing dialog,
          // saved elsewhere than its own "P.BMP" (which stays the clip's).
          page->clip_list()->SelectLine(0);
          page->OnClipSelected(0);
          const int current = page->ListedClips().front();
          QCOMPARE(CurrentClip().row, current);
          const std::string own_still = ReadBytes(
              night / (std::string(clips.Text(current, clip::kClipName)) + "P.BMP"));
          ui.QueuePath(peak_picture);
          QTest::mouseClick(button(kUtyPeakHold), Qt::LeftButton);
          QCOMPARE(button(kUtyPeakHold)->text(), QString(kPeakHoldCaption));
          QCOMPARE(ReadBytes(night / (std::string(clips.Text(current, clip::kClipName)) + "P.BMP")),
                   own_still);
          finished = true;
        }();
        return 0;
      });
    }();
    fs::current_path(cwd);
    SetMainQueue(previous_queue);
    fs::remove(registry);
    QCOMPARE(result, 0);
    QVERIFY(finished);
    for (const ScriptedUi::Shown& message : ui.messages()) qWarning("message: %s", message.text.c_str());
    QCOMPARE(ui.messages().size(), std::size_t{1});  // the refused catalogue

    // 1000 s later in the clip rows the scan read back from the files, and
    // in each capture record.
    QCOMPARE(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
      const ClipTime& b = before[i];
      const ClipTime& a = after[i];
      QCOMPARE(a.name, b.name);
      double shift = a.SecondsOfDay() - b.SecondsOfDay();
      if (shift < 0) shift += 86400.0;
      QVERIFY2(std::abs(shift - 1000.0) < 1e-3, qPrintable(QString::number(shift)));
      const std::string record = ReadBytes(night / (b.name + ".xml"));
      QVERIFY2(HasAttribute(record, "h", a.h) && HasAttribute(record, "m", a.m) &&
                   HasAttribute(record, "d", a.d),
               record.c_str());
    }

    // A 24-bit bitmap of the clip's 720 x 480 frames.
    const std::string peak = ReadBytes(peak_picture);
    QCOMPARE(peak.size(), std::size_t{54 + 720 * 480 * 3});
    QCOMPARE(peak.substr(0, 2), std::string("BM"));

    // The command over the same clips writes the same bytes.
    const fs::path command_export = home.path() / "command-export";
    fs::create_directories(command_export);
    QCOMPARE(Mr4(home, {"export-objects", "--out", command_export.string()}).exit_code, 0);
    std::vector<fs::path> written;
    for (const auto& entry : fs::directory_iterator(command_export)) written.push_back(entry.path());
    QCOMPARE(written.size(), std::size_t{1});
    const std::string page_bytes = ReadBytes(exported);
    QVERIFY(page_bytes.find('\n') != page_bytes.rfind('\n'));  // a header and objects
    QCOMPARE(page_bytes, ReadBytes(written.front()));

    const test::ProgramResult settings =
        Mr4(home, {"settings", "--get", "AP.usetrash", "--get", "AP.trashdir", "--get",
                   "AP.catalog", "--get", "gPAN"});
    QCOMPARE(settings.out, "AP.usetrash=0\nAP.trashdir=1\nAP.catalog=mine.jx.csv\ngPAN=" +
                               std::to_string(threads_set) + "\n");
  }

  void resultFilesGoByTheTrashRules() {
    test::TempHome home("mr4-page-uty-delete");
    const fs::path night = home.path() / "night";
    QVERIFY(RecordNight(home, night));

    QtMessageQueue queue;
    MessageQueue* previous_queue = SetMainQueue(&queue);
    ScriptedUi ui;
    std::vector<std::string> names;
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
          ReadClipDirectories();
          window.ShowPage(PageId::kUty);
          auto* page = static_cast<CPageUty*>(window.OpenedPage(PageId::kUty));
          QVERIFY(page != nullptr);
          auto button = [&](int id) {
            return page->findChild<QPushButton*>(QString::number(id));
          };
          const Table& clips = Tables().clip;
          for (int row : page->ListedClips()) names.emplace_back(clips.Text(row, clip::kClipName));
          QCOMPARE(names.size(), std::size_t{2});
          auto has_result = [&](const std::string& name) {
            for (int row : page->ListedClips()) {
              if (clips.Text(row, clip::kClipName) == name)
                return (clips.Int(row, clip::kMT) & KindBit(kKindResult)) != 0;
            }
            return false;
          };
          QVERIFY(has_result(names[0]) && has_result(names[1]));
          QTest::mouseClick(page->check_box(kUtyTrashDir), Qt::LeftButton);

          // The selected clip's result goes to the directory's "Trash";
          // the scan that follows sees the clip without it. A second
          // click finds nothing to delete.
          page->clip_list()->SelectRow(page->ListedClips().front());
          QTest::mouseClick(button(kUtyDeleteResult), Qt::LeftButton);
          QVERIFY(!has_result(names[0]));
          QVERIFY(has_result(names[1]));
          page->clip_list()->SelectLine(0);
          QTest::mouseClick(button(kUtyDeleteResult), Qt::LeftButton);
          QVERIFY(has_result(names[1]));
          QVERIFY(ui.questions().empty());

          // "Delete AXMLs" declined keeps the rest; answered, takes it.
          ui.QueueAnswer(false);
          QTest::mouseClick(button(kUtyDeleteResults), Qt::LeftButton);
          QVERIFY(has_result(names[1]));
          ui.QueueAnswer(true);
          QTest::mouseClick(button(kUtyDeleteResults), Qt::LeftButton);
          QVERIFY(!has_result(names[1]));
          QCOMPARE(ui.questions().size(), std::size_t{2});
          QCOMPARE(ui.questions()[1],
                   std::string("Delete All *A.XML file (Analisys result) from listed clips ok?"));
          QCOMPARE(page->clip_list()->line_count(), 2);

          // "Move files" opens the dialog over the listed clips: without
          // their results both are unclassified and counted.
          QString counted;
          QString title;
          QTimer::singleShot(50, &window, [&] {
            auto* dialog = dynamic_cast<CDispatchDlg*>(QApplication::activeModalWidget());
            if (!dialog) return;
            title = dialog->windowTitle();
            dialog->switch_box(kDispatchSwitchUnclassified)->setChecked(true);
            dialog->Command(kDispatchCount);
            counted = dialog->count_display()->text();
            dialog->switch_box(kDispatchSwitchUnclassified)->setChecked(false);
            dialog->reject();
          });
          QTest::mouseClick(button(kUtyMoveFiles), Qt::LeftButton);
          QCOMPARE(title, QString("Move files"));
          QVERIFY2(counted.startsWith(" 2 clips  "), qPrintable(counted));
          QCOMPARE(page->clip_list()->line_count(), 2);
          finished = true;
        }();
        return 0;
      });
    }();
    fs::current_path(cwd);
    SetMainQueue(previous_queue);
    QCOMPARE(result, 0);
    QVERIFY(finished);
    QVERIFY(ui.messages().empty());
    for (const std::string& name : names) {
      QVERIFY(!fs::exists(night / (name + "A.XML")));
      QVERIFY(fs::exists(night / "Trash" / (name + "A.XML")));
    }
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageUty)
#include "test_page_uty.moc"
