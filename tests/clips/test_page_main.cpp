// The Main page over small clip and object tables: the keys of its clip
// list, checking clips (check box, "on", "=on", "_on"), the "check" walk,
// "next" and "prev" at the ends, deleting an object and a clip, and the
// directory list's cell actions.
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

#include "app/main_window.h"
#include "app/settings.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "base/process_values.h"
#include "clips/current_clip.h"
#include "clips/page_main.h"
#include "platform/message_queue.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"

namespace mr4 {

namespace fs = std::filesystem;

struct ClipSpec {
  const char* name;
  const char* cls;
  int objects;  // each gets an OBJ row, chained in order
};

class TestPageMain : public QObject {
  Q_OBJECT

 private:
  QtMessageQueue queue_;
  MessageQueue* previous_queue_ = nullptr;
  ScriptedUi ui_;
  std::unique_ptr<ScopedUi> scoped_ui_;
  Settings saved_settings_;
  fs::path root_;
  std::unique_ptr<CUDlg> window_;

  static void Drain() {
    for (int i = 0; i < 4; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }

  // Clip rows in `root_` with their objects; the clip list shows them in
  // row order.
  void MakeClips(const std::vector<ClipSpec>& specs) {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    for (const ClipSpec& spec : specs) {
      const int row = clips.AppendRow();
      clips.SetText(row, clip::kDirectory, root_.native());
      clips.SetText(row, clip::kClipName, spec.name);
      clips.SetText(row, clip::kClass, spec.cls);
      clips.SetInt(row, clip::kO, spec.objects);
      clips.SetInt(row, clip::kOline, -1);
      clips.SetInt(row, clip::kCx, 720);
      clips.SetInt(row, clip::kCy, 480);
      clips.SetInt(row, clip::kY, 2026);
      clips.SetInt(row, clip::kMo, 12);
      clips.SetInt(row, clip::kD, 11);
      clips.SetInt(row, clip::kH, 1);
      clips.SetInt(row, clip::kTz, 32400);
      clips.SetFloat(row, clip::kLng, 139.7f);
      clips.SetFloat(row, clip::kLat, 35.7f);
      int previous = -1;
      for (int k = 0; k < spec.objects; ++k) {
        const int o = objects.AppendRow();
        objects.SetInt(o, obj::kCline, row);
        objects.SetInt(o, obj::kOlinenext, -1);
        objects.SetText(o, obj::kClass, spec.cls);
        objects.SetFloat(o, obj::kMag, -1.0f - k);
        // A start point seen at az 180, ev 45 from the clip's site at its
        // start: where (ra1, dc1) is.
        const double lst = LocalSiderealTime(2026, 12, 11, 1, 0, 0.0f, 32400, 139.7f);
        const double mjd = UtcToTtMjd(2026, 12, 11, 1, 0, 0.0f) - 32400 / 86400.0;
        const EquatorialPoint start = HorizontalToEquatorial(mjd, lst, 35.7f, 180.0, 45.0);
        objects.SetFloat(o, obj::kAz1, 180.0f);
        objects.SetFloat(o, obj::kEv1, 45.0f);
        objects.SetFloat(o, obj::kRa1, static_cast<float>(start.ra));
        objects.SetFloat(o, obj::kDc1, static_cast<float>(start.dec));
        if (previous < 0) {
          clips.SetInt(row, clip::kOline, o);
        } else {
          objects.SetInt(previous, obj::kOlinenext, o);
        }
        previous = o;
      }
    }
  }

  CPageMain& Page() { return *static_cast<CPageMain*>(window_->OpenedPage(PageId::kMain)); }
  CUList& Clips() { return *Page().clip_list(); }
  void OpenWindow() {
    window_ = std::make_unique<CUDlg>(LayoutScale{1.0, 1.0});
    window_->resize(1000, 760);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    Page().clip_list()->RebuildLines();
    Page().Refresh();
    Drain();
  }
  std::string ResultText() { return Page().result_label()->text().toStdString(); }

 private slots:
  void initTestCase() {
    previous_queue_ = SetMainQueue(&queue_);
    scoped_ui_ = std::make_unique<ScopedUi>(ui_);
    const LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
    BuildCalendarTables();
  }
  void cleanupTestCase() {
    scoped_ui_.reset();
    SetMainQueue(previous_queue_);
  }
  void init() {
    saved_settings_ = AppSettings();
    std::string pattern = (fs::temp_directory_path() / "mr4-page-main.XXXXXX").string();
    QVERIFY(mkdtemp(pattern.data()) != nullptr);
    root_ = pattern;
    App().home = root_;
    ui_.Clear();
    ui_.SetKeys({});
    Tables().clip.Clear();
    Tables().obj.Clear();
    Tables().dir.Clear();
    Tables().clip.set_list_sort(0, 1);
  }
  void cleanup() {
    window_.reset();
    MakeClipCurrent(-1);
    Tables().clip.Clear();
    Tables().obj.Clear();
    Tables().dir.Clear();
    AppSettings() = saved_settings_;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void clipListKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("host");
    QTest::addColumn<int>("tab");
    QTest::newRow("2: Profile/Analyze") << int(Qt::Key_2) << int(Host::kLeft) << 1;
    QTest::newRow("5: Uty") << int(Qt::Key_5) << int(Host::kLeft) << 4;
    QTest::newRow("V: View") << int(Qt::Key_V) << int(Host::kRight) << 0;
    QTest::newRow("M: Mask Editor") << int(Qt::Key_M) << int(Host::kRight) << 1;
    QTest::newRow("T: Trail Map") << int(Qt::Key_T) << int(Host::kRight) << 2;
    QTest::newRow("G: Ground Map") << int(Qt::Key_G) << int(Host::kRight) << 3;
  }
  void clipListKeys() {
    QFETCH(int, key);
    QFETCH(int, host);
    QFETCH(int, tab);
    MakeClips({{"a", "spo", 1}});
    OpenWindow();
    window_->host(Host::kRight)->OpenTab(1);
    Clips().SelectLine(0);
    QTest::keyClick(&Clips(), static_cast<Qt::Key>(key));
    Drain();
    QCOMPARE(window_->host(static_cast<Host>(host))->currentIndex(), tab);
  }

  void arrowKeysOpenAndCheckClips() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}, {"c", "spo", 1}});
    OpenWindow();
    QTest::keyClick(&Clips(), Qt::Key_Down);
    Drain();
    QCOMPARE(CurrentClip().row, 0);
    QTest::keyClick(&Clips(), Qt::Key_Down);
    Drain();
    QCOMPARE(CurrentClip().row, 1);
    QTest::keyClick(&Clips(), Qt::Key_Right);  // checks and moves on
    QCOMPARE(Tables().clip.Uint(1, clip::kCheck), 1u);
    QCOMPARE(Clips().SelectedLine(), 2);
    // "C" runs "check": every clip is fine, the walk ends on item 0.
    QTest::keyClick(&Clips(), Qt::Key_C);
    Drain();
    QCOMPARE(CurrentClip().row, 0);
    QCOMPARE(ResultText(), std::string());
  }

  void checkBoxClickTogglesTheClip() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}});
    OpenWindow();
    const QRect line = Clips().visualRect(Clips().list_model().index(1, 0));
    const QPoint box(line.left() + 6, line.center().y());
    QTest::mouseClick(Clips().viewport(), Qt::LeftButton, {}, box);
    Drain();
    QCOMPARE(Tables().clip.Uint(1, clip::kCheck), 1u);
    QCOMPARE(CurrentClip().row, 1);  // the click also opened the clip
    QTest::mouseClick(Clips().viewport(), Qt::LeftButton, {}, box);
    Drain();
    QCOMPARE(Tables().clip.Uint(1, clip::kCheck), 0u);
    QCOMPARE(Tables().clip.Uint(0, clip::kCheck), 0u);
  }

  void checkCommands() {
    MakeClips({{"a=b", "spo", 1}, {"c", "", 0}, {"d", "__noise", 1}, {"e", "_plane", 1},
               {"f=g", "PER", 1}});
    OpenWindow();
    Page().Command(kCmdUnclassifiedOn);
    Drain();
    std::vector<unsigned> checks;
    for (int r = 0; r < 5; ++r) checks.push_back(Tables().clip.Uint(r, clip::kCheck));
    QCOMPARE(checks, (std::vector<unsigned>{0, 1, 1, 0, 0}));
    QCOMPARE(CurrentClip().row, 1);  // the first checked clip
    Page().Command(kCmdIntervalOn);
    Drain();
    checks.clear();
    for (int r = 0; r < 5; ++r) checks.push_back(Tables().clip.Uint(r, clip::kCheck));
    QCOMPARE(checks, (std::vector<unsigned>{1, 0, 0, 0, 1}));
    QCOMPARE(CurrentClip().row, 0);
    // "on" checks the selected clip and walks on to the next checked one
    // (the last clip when none follows); its right click unchecks.
    Clips().SelectLine(1);
    Page().Command(kCmdOn);
    Drain();
    QCOMPARE(Tables().clip.Uint(1, clip::kCheck), 1u);
    QCOMPARE(CurrentClip().row, 4);
    Page().Command(kCmdOn, true);
    Drain();
    QCOMPARE(Tables().clip.Uint(4, clip::kCheck), 0u);
    QCOMPARE(CurrentClip().row, 4);
    Page().Command(kCmdAllClipsOff);
    Drain();
    for (int r = 0; r < 5; ++r) QCOMPARE(Tables().clip.Uint(r, clip::kCheck), 0u);
    QCOMPARE(CurrentClip().row, 0);
  }

  void intervalOnWithoutIntervalsUnchecksAll() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}});
    Tables().clip.SetUint(1, clip::kCheck, 1);
    OpenWindow();
    Clips().SelectLine(1);
    Page().Command(kCmdIntervalOn);
    Drain();
    QCOMPARE(Tables().clip.Uint(1, clip::kCheck), 0u);
    QCOMPARE(Clips().SelectedLine(), 0);
  }

  void checkWalkStopsWhereAttentionIsNeeded() {
    MakeClips({{"a", "spo", 1}, {"b", "", 1}, {"c", "spo", 2}, {"d", "__noise", 1},
               {"e", "spo", 1}, {"f", "spo", 1}, {"g", "_plane", 1}});
    // "f" is too long for its field, "g" too but of an e-class; "e" was
    // measured 12 deg off in azimuth.
    Tables().clip.SetFloat(5, clip::kCdegmax, 0.08f);  // > 33.6 / 480
    Tables().clip.SetFloat(6, clip::kCdegmax, 0.08f);
    Tables().obj.SetFloat(5, obj::kAz1, 192.0f);
    OpenWindow();
    struct Step {
      bool ctrl;
      int row;
      const char* text;
    };
    const Step steps[] = {
        {false, 1, "E class"}, {false, 2, "obj > 1"}, {false, 3, "__noise"},
        {false, 4, "ax ev err"}, {false, 5, "cdegmax"},
        // The end of the list: item 0, the label cleared.
        {false, 0, ""},
        // Again from item 0; with Ctrl the object count does not stop it.
        {true, 1, "E class"}, {true, 3, "__noise"},
    };
    for (const Step& step : steps) {
      ui_.SetKeys({step.ctrl, false, false});
      Page().Command(kCmdCheck);
      Drain();
      QCOMPARE(CurrentClip().row, step.row);
      QCOMPARE(ResultText(), std::string(step.text));
    }
  }

  void theWindowOpensAClipThroughTheList() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 2}});
    OpenWindow();
    window_->OpenClipRow(1);
    Drain();
    QCOMPARE(CurrentClip().row, 1);
    QCOMPARE(Clips().SelectedLine(), 1);
    QCOMPARE(Page().object_list()->line_count(), 2);
  }

  void nextAndPrevStayAtTheEnds() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}});
    OpenWindow();
    Page().Command(kCmdNext);  // no selection: item 0
    Drain();
    QCOMPARE(CurrentClip().row, 0);
    Page().Command(kCmdPrev);
    Drain();
    QCOMPARE(CurrentClip().row, 0);
    Page().Command(kCmdNext);
    Page().Command(kCmdNext);
    Drain();
    QCOMPARE(CurrentClip().row, 1);
    QCOMPARE(Clips().SelectedLine(), 1);
  }

  void nextWalksThroughTheObjectsFirst() {
    MakeClips({{"a", "spo", 2}, {"b", "spo", 1}});
    OpenWindow();
    Clips().SelectLine(0);
    Page().OnClipSelected(0);
    QCOMPARE(Page().object_list()->line_count(), 2);
    Page().Command(kCmdNext);
    QCOMPARE(Page().object_list()->SelectedLine(), 0);
    Page().Command(kCmdNext);
    QCOMPARE(Page().object_list()->SelectedLine(), 1);
    Page().Command(kCmdNext);  // past the last object: the next clip
    Drain();
    QCOMPARE(CurrentClip().row, 1);
  }

  void deleteAnObject() {
    MakeClips({{"a", "spo", 3}});
    Tables().obj.SetText(1, obj::kClass, "PER");
    Tables().obj.SetFloat(1, obj::kMag, -5.0f);
    OpenWindow();
    Clips().SelectLine(0);
    Page().OnClipSelected(0);
    CUList& objects = *Page().object_list();
    QCOMPARE(objects.line_count(), 3);
    objects.SelectLine(1);  // the middle one of the chain, the brightest
    Page().Command(kCmdDeleteObject);
    Drain();
    const Table& clips = Tables().clip;
    const Table& objs = Tables().obj;
    QVERIFY(!objs.Exists(1));
    QCOMPARE(clips.Int(0, clip::kOline), 0);
    QCOMPARE(objs.Int(0, obj::kOlinenext), 2);
    QCOMPARE(clips.Int(0, clip::kO), 2);
    // The summary follows the objects left: the brightest is now -2.
    QCOMPARE(clips.Text(0, clip::kClass), std::string_view("spo"));
    QCOMPARE(clips.Float(0, clip::kMag), -3.0f);
    QCOMPARE(objects.line_count(), 2);
    QCOMPARE(objects.SelectedLine(), 1);  // the item at the same place
    QVERIFY(fs::exists(root_ / "aA.XML"));  // the result file rewritten
    // Nothing selected: nothing happens.
    objects.SelectLine(-1);
    Page().Command(kCmdDeleteObject);
    QCOMPARE(clips.Int(0, clip::kO), 2);
  }

  void deleteTheLastClipLeavesNoCurrentClip() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}});
    OpenWindow();
    Clips().SelectLine(1);
    Page().OnClipSelected(1);
    Page().Command(kCmdDeleteClip);
    Drain();
    QVERIFY(!Tables().clip.Exists(1));
    QCOMPARE(Clips().line_count(), 1);
    QCOMPARE(Page().clip_count_label()->text(), QString("1 clips"));
    QCOMPARE(Clips().SelectedLine(), 0);
  }

  void deleteKeyDeletesTheCheckedClipsAfterAsking() {
    MakeClips({{"a", "spo", 1}, {"b", "spo", 1}});
    const fs::path video = root_ / "b.avi";
    std::ofstream(video) << "x";
    Tables().clip.SetUint(1, clip::kCheck, 1);
    OpenWindow();
    Clips().SelectLine(0);
    ui_.QueueAnswer(false);
    QTest::keyClick(&Clips(), Qt::Key_Delete);
    Drain();
    QCOMPARE(ui_.questions(), (std::vector<std::string>{"DELETE CHECKED 1 clips ok?"}));
    QVERIFY(fs::exists(video));
    QCOMPARE(Clips().line_count(), 2);
    // Declined or not, nothing is asked without a checked clip.
    Tables().clip.SetUint(1, clip::kCheck, 0);
    QTest::keyClick(&Clips(), Qt::Key_Delete);
    Drain();
    QCOMPARE(ui_.questions().size(), size_t{1});
  }

  void directoryCellActions() {
    Table& dirs = Tables().dir;
    for (const char* d : {"/a", "/b"}) {
      const int row = dirs.AppendRow();
      dirs.SetText(row, dir::kDir, d);
      dirs.SetUint(row, dir::kUse, 1);
    }
    OpenWindow();
    CUList& list = *Page().directory_list();
    list.RebuildLines();
    Page().OnPageMessage(kMsgOnlyThisDirectory, 0, 1);
    QCOMPARE(dirs.Uint(0, dir::kUse), 0u);
    QCOMPARE(dirs.Uint(1, dir::kUse), 1u);
    // A cancelled folder dialog changes nothing; a chosen one sets the
    // save directory with use and +ymd.
    ui_.QueuePath(std::nullopt);
    Page().OnPageMessage(kMsgChooseSaveDirectory, 0, 0);
    QCOMPARE(dirs.Text(0, dir::kSaveDir), std::string_view());
    ui_.QueuePath(fs::path("/night"));
    Page().OnPageMessage(kMsgChooseSaveDirectory, 0, 0);
    QCOMPARE(dirs.Text(0, dir::kSaveDir), std::string_view("/night"));
    QCOMPARE(dirs.Uint(0, dir::kUse), 1u);
    QCOMPARE(dirs.Uint(0, dir::kYmd), 1u);
    // A folder the directory file cannot keep is refused with a message.
    ui_.QueuePath(fs::path("/a,b"));
    Page().OnPageMessage(kMsgChooseDirectory, 0, 0);
    QCOMPARE(dirs.Text(0, dir::kDir), std::string_view("/a"));
    QCOMPARE(ui_.messages().size(), size_t{1});
    Page().OnPageMessage(kMsgAllDirectoriesOff, dir::kUse, 0);
    QCOMPARE(dirs.Uint(0, dir::kUse) + dirs.Uint(1, dir::kUse), 0u);
    // "add" appends a used row and makes the profile folder.
    ui_.QueuePath(root_ / "clips");
    Page().Command(kCmdAdd);
    QCOMPARE(list.line_count(), 3);
    QCOMPARE(dirs.Uint(2, dir::kUse), 1u);
    QVERIFY(fs::is_directory(root_ / "PROF"));
  }

  void rangeModesEnableTheirControls() {
    OpenWindow();
    auto enabled = [&](const char* id) {
      return Page().findChild<QWidget*>(id)->parentWidget()->isEnabled();
    };
    Page().Command(kCmdRangeAll);
    QCOMPARE(AppSettings().dirrange, 0);
    QVERIFY(!enabled("1200") && !enabled("1215") && !enabled("1220"));
    Page().Command(kCmdRangeLatest);
    QCOMPARE(AppSettings().dirrange, 2);
    QVERIFY(!enabled("1200") && !enabled("1210") && enabled("1215") && enabled("1220"));
    Page().Command(kCmdRangeRange);
    QVERIFY(enabled("1200") && enabled("1205") && enabled("1210"));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageMain)
#include "test_page_main.moc"
