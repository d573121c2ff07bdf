// The "Move files" dialog over a scanned clip folder: its switches and the
// e-class targets choose the clips, "Count" fills the count display, a move
// needs an existing destination and closes the dialog once it has run,
// cleaning reports into the dialog, and the switches outlive the dialog.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

#include "app/main_window.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "base/process_values.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/dispatch_dlg.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"

namespace mr4 {

namespace fs = std::filesystem;

class TestDispatchDlg : public QObject {
  Q_OBJECT

 private:
  ScriptedUi ui_;
  std::unique_ptr<ScopedUi> scoped_ui_;
  Settings saved_settings_;
  fs::path root_, in_;
  std::unique_ptr<CUDlg> window_;

  static const inline std::string kInterval = "M20240102_031500_ST1=M20240102_031510_ST1";
  static const inline std::string kPlain = "M20240102_032000_ST1";

  void MakeFile(const fs::path& path) { std::ofstream(path, std::ios::binary) << path.filename().native(); }

  std::vector<int> Rows() const {
    std::vector<int> rows;
    for (int r = 0; r < Tables().clip.count(); ++r) {
      if (Tables().clip.Exists(r)) rows.push_back(r);
    }
    return rows;
  }

  bool MessageSaid(const std::string& text) const {
    for (const auto& m : ui_.messages()) {
      if (m.text == text) return true;
    }
    return false;
  }

 private slots:
  void initTestCase() {
    scoped_ui_ = std::make_unique<ScopedUi>(ui_);
    const LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
    BuildCalendarTables();
  }
  void cleanupTestCase() { scoped_ui_.reset(); }
  void init() {
    saved_settings_ = AppSettings();
    std::string pattern = (fs::temp_directory_path() / "mr4-dispatch.XXXXXX").string();
    QVERIFY(mkdtemp(pattern.data()) != nullptr);
    root_ = pattern;
    in_ = root_ / "in";
    fs::create_directories(in_);
    App().home = root_;
    ui_.Clear();
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().dir, &Tables().eclass}) t->Clear();
    for (const std::string& name : {kInterval, kPlain}) {
      MakeFile(in_ / (name + ".avi"));
      MakeFile(in_ / (name + "T.jpg"));
    }
    const int dir = Tables().dir.AppendRow();
    Tables().dir.SetUint(dir, dir::kUse, 1);
    Tables().dir.SetText(dir, dir::kDir, in_.native());
    ReadClipDirectories();
    QCOMPARE(static_cast<int>(Rows().size()), 2);
    DispatchDialogSwitches() = {};
    window_ = std::make_unique<CUDlg>(LayoutScale{1.0, 1.0});
  }
  void cleanup() {
    window_.reset();
    MakeClipCurrent(-1);
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().dir, &Tables().eclass}) t->Clear();
    DispatchDialogSwitches() = {};
    AppSettings() = saved_settings_;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void switchesChooseTheCountedClipsAndLastWhileTheProgramRuns() {
    Tables().clip.SetFloat(Rows()[0], clip::kMB, 1.5f);
    Tables().clip.SetFloat(Rows()[1], clip::kMB, 1.5f);
    {
      CDispatchDlg dialog(*window_, Rows());
      dialog.Command(kDispatchCount);
      QCOMPARE(dialog.count_display()->text(), QString(" 0 clips  0.0 MB"));
      dialog.switch_box(kDispatchSwitchInterval)->click();
      dialog.Command(kDispatchCount);
      QCOMPARE(dialog.count_display()->text(), QString(" 1 clips  1.5 MB"));
      QCOMPARE(dialog.status_line()->text(), QString());
      // Neither clip has a class: both are unclassified.
      dialog.switch_box(kDispatchSwitchUnclassified)->click();
      dialog.Command(kDispatchCount);
      QCOMPARE(dialog.count_display()->text(), QString(" 2 clips  3.0 MB"));
      dialog.switch_box(kDispatchSwitchUnclassified)->click();
    }
    CDispatchDlg again(*window_, Rows());
    QVERIFY(again.switch_box(kDispatchSwitchInterval)->isChecked());
    QVERIFY(!again.switch_box(kDispatchSwitchUnclassified)->isChecked());
  }

  void theEclassListSetsTheTargets() {
    Table& eclasses = Tables().eclass;
    const int plane = eclasses.AppendRow();
    eclasses.SetText(plane, eclass::kEcls, "_plane");
    const int bird = eclasses.AppendRow();
    eclasses.SetText(bird, eclass::kEcls, "_bird");
    eclasses.SetUint(bird, eclass::kTarget, 1);
    Tables().clip.SetText(Rows()[1], clip::kClass, "_plane");
    CDispatchDlg dialog(*window_, Rows());
    QTableWidget& list = *dialog.eclass_list();
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.item(0, 0)->text(), QString("_plane"));
    QCOMPARE(list.item(0, 1)->checkState(), Qt::Unchecked);
    QCOMPARE(list.item(1, 1)->checkState(), Qt::Checked);
    dialog.switch_box(kDispatchSwitchEclass)->click();
    dialog.Command(kDispatchCount);
    QCOMPARE(dialog.count_display()->text(), QString(" 0 clips  0.0 MB"));
    list.item(0, 1)->setCheckState(Qt::Checked);
    QCOMPARE(eclasses.Uint(plane, eclass::kTarget), 1u);
    dialog.Command(kDispatchCount);
    QCOMPARE(dialog.count_display()->text(), QString(" 1 clips  0.0 MB"));
  }

  void aMoveNeedsTheDestinationAndClosesTheDialog() {
    const fs::path dest = root_ / "dest";
    AppSettings().deldir = dest.native();
    DispatchDialogSwitches().interval = true;
    CDispatchDlg dialog(*window_, Rows());
    dialog.show();
    QCOMPARE(dialog.destination_box()->text(), QString::fromStdString(dest.native()));
    dialog.Command(kDispatchMove);
    QVERIFY(MessageSaid("destination directiry does not exist\n" + dest.native()));
    QVERIFY(dialog.isVisible());
    QVERIFY(fs::exists(in_ / (kInterval + ".avi")));

    // "..." stores the chosen folder and shows it.
    fs::create_directories(dest);
    AppSettings().deldir.clear();
    ui_.QueuePath(dest);
    dialog.Command(kDispatchChooseDestination);
    QCOMPARE(AppSettings().deldir, dest.native());
    QCOMPARE(dialog.destination_box()->text(), QString::fromStdString(dest.native()));

    dialog.Command(kDispatchMove);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(fs::exists(dest / (kInterval + ".avi")));
    QVERIFY(fs::exists(dest / (kInterval + "T.jpg")));
    QVERIFY(!fs::exists(dest / (kPlain + ".avi")));
    QVERIFY(fs::exists(in_ / (kPlain + ".avi")));
    QCOMPARE(dialog.status_line()->text(), QString());
  }

  // A night of four clips, all targets: one cannot move, one moves, the
  // third's video is already in the destination and its overwrite is
  // declined, which stops the run before the fourth. The summary names each.
  void aMoveSummarySaysWhatMovedFailedAndStayed() {
    const std::string second = "M20240102_033000_ST1", third = "M20240102_034000_ST1";
    for (const std::string& name : {second, third}) {
      MakeFile(in_ / (name + ".avi"));
      MakeFile(in_ / (name + "T.jpg"));
    }
    ReadClipDirectories();
    QCOMPARE(static_cast<int>(Rows().size()), 4);
    // A destination so deep that the interval clip's longer file names pass
    // the system's path limit (4095 bytes): its moves fail, the others' not.
    fs::path dest = root_ / "deep";
    while (dest.native().size() < 3800) dest /= std::string(200, 'd');
    dest /= std::string(4060 - dest.native().size() - 1, 'e');
    QCOMPARE(static_cast<int>(dest.native().size()), 4060);
    fs::create_directories(dest);
    std::ofstream(dest / (second + ".avi"), std::ios::binary) << "old";
    AppSettings().deldir = dest.native();
    DispatchDialogSwitches().unclassified = true;

    // The dialog takes the clips in the order of the page's list: by name.
    std::vector<int> listed = Rows();
    std::sort(listed.begin(), listed.end(), [](int a, int b) {
      return Tables().clip.Text(a, clip::kClipName) < Tables().clip.Text(b, clip::kClipName);
    });
    CDispatchDlg dialog(*window_, listed);
    dialog.show();
    ui_.QueueAnswer(false);  // "Destination file already exists overwrite?"
    dialog.Command(kDispatchMove);
    QVERIFY(!dialog.isVisible());

    QVERIFY(fs::exists(in_ / (kInterval + ".avi")));
    QVERIFY(fs::exists(in_ / (kInterval + "T.jpg")));
    QVERIFY(fs::exists(dest / (kPlain + ".avi")));
    QVERIFY(fs::exists(dest / (kPlain + "T.jpg")));
    QVERIFY(!fs::exists(in_ / (kPlain + ".avi")));
    QVERIFY(fs::exists(in_ / (second + ".avi")));
    QVERIFY(!fs::exists(dest / (second + "T.jpg")));
    std::ifstream old(dest / (second + ".avi"), std::ios::binary);
    std::string kept;
    old >> kept;
    QCOMPARE(kept, std::string("old"));
    QVERIFY(fs::exists(in_ / (third + ".avi")));
    QVERIFY(!fs::exists(dest / (third + ".avi")));

    int failures = 0;
    for (const auto& m : ui_.messages()) failures += m.text.rfind("Cannot move", 0) == 0;
    QCOMPARE(failures, 2);
    const std::string summary = "Moved 1 clip (2 files, 0.0 MB)\n  " + kPlain +
                                "\nFailed: 1 clip (a file of each stayed where it was)\n  " +
                                kInterval + "\nNot moved: 2 clips (the overwrite of " + second +
                                " was declined: the run stopped there)\n  " + second + "\n  " +
                                third;
    const auto messages = ui_.messages();
    QVERIFY(!messages.empty());
    QCOMPARE(messages.back().caption, std::string(kDispatchCaption));
    QCOMPARE(messages.back().text, summary);
  }

  void deletingWithNoTargetsRemovesOnlyThumbnails() {
    DispatchDialogSwitches().thumbnails = true;
    CDispatchDlg dialog(*window_, Rows());
    ui_.QueueAnswer(false);
    dialog.Command(kDispatchDelete);
    QVERIFY(fs::exists(in_ / (kPlain + "T.jpg")));
    ui_.QueueAnswer(true);
    dialog.Command(kDispatchDelete);
    for (const std::string& name : {kInterval, kPlain}) {
      QVERIFY(!fs::exists(in_ / (name + "T.jpg")));
      QVERIFY(fs::exists(in_ / (name + ".avi")));
    }
  }

  void cleaningAsksAndReportsInTheStatusLine() {
    fs::create_directories(in_ / "2024/202401/20240101");
    CDispatchDlg dialog(*window_, Rows());
    ui_.QueueAnswer(false);
    dialog.Command(kDispatchCleaning);
    QVERIFY(fs::exists(in_ / "2024/202401/20240101"));
    QCOMPARE(dialog.status_line()->text(), QString());
    ui_.QueueAnswer(true);
    dialog.Command(kDispatchCleaning);
    QVERIFY(!fs::exists(in_ / "2024/202401/20240101"));
    QVERIFY(fs::exists(in_ / "2024/202401"));
    QCOMPARE(dialog.status_line()->text(), QString("deleted 1 directories , 0 files"));
    QCOMPARE(static_cast<int>(ui_.questions().size()), 2);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestDispatchDlg)
#include "test_dispatch_dlg.moc"
