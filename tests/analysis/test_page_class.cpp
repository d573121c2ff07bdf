// The Class page over one hand-built clip of two objects: classifying the
// current object (or every clip) again with a raised curvature limit,
// choosing a shower the radiant test refuses and the sporadic entry that
// needs no test, giving an extra class from the page and from the Main
// page's change-class dialog, deleting an object. Each change must reach
// the object table, the lists of the pages that show the clip, and the
// result file as the scan reads it back.
#include <QAbstractItemModel>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include <stdlib.h>

#include "analysis/analysis_context.h"
#include "analysis/page_class.h"
#include "analysis/result_file.h"
#include "app/column_layouts.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "base/process_values.h"
#include "clips/clip_record.h"
#include "clips/current_clip.h"
#include "clips/page_main.h"
#include "platform/message_queue.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"

namespace mr4 {

namespace fs = std::filesystem;

// The object every case works on, and a fainter one behind it in the chain.
struct ObjectSpec {
  float mag;
  float cdeg;
  const char* cls;
};
constexpr ObjectSpec kObjects[] = {{-3.0f, 0.3f, "__curve"}, {-1.0f, 0.0f, "spo"}};

class TestPageClass : public QObject {
  Q_OBJECT

 private:
  QtMessageQueue queue_;
  MessageQueue* previous_queue_ = nullptr;
  ScriptedUi ui_;
  std::unique_ptr<ScopedUi> scoped_ui_;
  Settings saved_settings_;
  fs::path root_;
  std::unique_ptr<CUDlg> window_;
  int clip_ = -1;
  int first_ = -1;  // the brightest object, current once the clip opens

  static void Drain() {
    for (int i = 0; i < 4; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }

  // One clip in `root_` with the two objects, moving 5 deg in 0.5 s over
  // 50 px: a meteor but for its curvature.
  void MakeClip() {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    clip_ = clips.AppendRow();
    clips.SetText(clip_, clip::kDirectory, root_.native());
    clips.SetText(clip_, clip::kClipName, "M20261211_010000_TK1");
    clips.SetInt(clip_, clip::kOline, -1);
    clips.SetInt(clip_, clip::kCx, 720);
    clips.SetInt(clip_, clip::kCy, 480);
    clips.SetInt(clip_, clip::kY, 2026);
    clips.SetInt(clip_, clip::kMo, 12);
    clips.SetInt(clip_, clip::kD, 11);
    clips.SetInt(clip_, clip::kH, 1);
    clips.SetInt(clip_, clip::kTz, 32400);
    clips.SetFloat(clip_, clip::kLng, 139.7f);
    clips.SetFloat(clip_, clip::kLat, 35.7f);
    int previous = -1;
    for (const ObjectSpec& spec : kObjects) {
      const int o = objects.AppendRow();
      objects.SetInt(o, obj::kCline, clip_);
      objects.SetInt(o, obj::kOlinenext, -1);
      objects.SetText(o, obj::kClass, spec.cls);
      objects.SetFloat(o, obj::kMag, spec.mag);
      objects.SetFloat(o, obj::kCdeg, spec.cdeg);
      objects.SetInt(o, obj::kPix, 100);
      objects.SetFloat(o, obj::kSec, 0.5f);
      objects.SetFloat(o, obj::kAv1, 5.0f);
      objects.SetFloat(o, obj::kRa1, 10.0f);
      objects.SetFloat(o, obj::kDc1, 20.0f);
      objects.SetFloat(o, obj::kRa2, 15.0f);
      objects.SetFloat(o, obj::kDc2, 20.0f);
      objects.SetFloat(o, obj::kX1, 100.0f);
      objects.SetFloat(o, obj::kY1, 100.0f);
      objects.SetFloat(o, obj::kX2, 150.0f);
      objects.SetFloat(o, obj::kY2, 100.0f);
      if (previous < 0) {
        clips.SetInt(clip_, clip::kOline, o);
        first_ = o;
      } else {
        objects.SetInt(previous, obj::kOlinenext, o);
      }
      previous = o;
    }
    clips.SetInt(clip_, clip::kO, 2);
    SummariseClipObjects(clip_);
  }

  // The sporadic entry and a shower that takes no part this year.
  static void MakeShowers() {
    Table& showers = Tables().shower;
    const int spo = showers.AppendRow();
    showers.SetText(spo, shower::kCode, "spo");
    const int per = showers.AppendRow();
    showers.SetText(per, shower::kCode, "PER");
    showers.SetUint(per, shower::kInUse, 0);
    const int sat = Tables().eclass.AppendRow();
    Tables().eclass.SetText(sat, eclass::kEcls, "SAT");
  }

  CPageClass& Page() { return *static_cast<CPageClass*>(window_->OpenedPage(PageId::kClass)); }
  CPageMain& Main() { return *static_cast<CPageMain*>(window_->OpenedPage(PageId::kMain)); }

  // The window with the clip open and the Class page in front.
  void OpenWindow() {
    window_ = std::make_unique<CUDlg>(LayoutScale{1.0, 1.0});
    window_->resize(1000, 760);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    Main().clip_list()->RebuildLines();
    window_->ShowPage(PageId::kClass);
    Drain();
    window_->OpenClipRow(clip_);
    Drain();
    QCOMPARE(CurrentClip().row, clip_);
    QCOMPARE(CurrentClip().current_object, first_);
    // The Main page opened the clip; the shower list's working columns are
    // the Class page's own to fill.
    QCOMPARE(Tables().shower.Int(1, shower::kValid), 1);
  }

  // The text a list shows in the entry of `column` on the line of `row`.
  static std::string Cell(CUList& list, int row, const char* column) {
    const int line = list.lines().LineOf(row);
    if (line < 0) return "(no line)";
    for (int k = 0; k < list.list_model().columnCount(); ++k) {
      const ColumnEntry* entry = list.EntryAt(k);
      if (entry && std::string(entry->column) == column) {
        return list.list_model().data(list.list_model().index(line, k), Qt::DisplayRole)
            .toString().toStdString();
      }
    }
    return "(no column)";
  }

  std::string ObjectClass(int row) { return std::string(Tables().obj.Text(row, obj::kClass)); }
  fs::path ResultFile() { return ResultFilePath(Tables().clip, clip_); }

  // The result file read back as a scan reads it: the class and manual of
  // the clip's first object.
  std::pair<std::string, int> ReadBack() {
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetInt(row, clip::kOline, -1);
    if (ReadResultObjects(ResultFile(), row) != 2) return {"(not read)", -1};
    const int o = clips.Int(row, clip::kOline);
    return {std::string(Tables().obj.Text(o, obj::kClass)), Tables().obj.Int(o, obj::kManual)};
  }

  // Every list that shows the clip shows `cls`: the clip lists of the Main
  // and Class pages, and their object lists for the first object.
  void ExpectListsShow(const std::string& cls) {
    QCOMPARE(Cell(*Main().clip_list(), clip_, "class"), cls);
    QCOMPARE(Cell(*Page().clip_list(), clip_, "class"), cls);
    QCOMPARE(Cell(*Main().object_list(), first_, "class"), cls);
    QCOMPARE(Cell(*Page().object_list(), first_, "class"), cls);
  }

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
    std::string pattern = (fs::temp_directory_path() / "mr4-page-class.XXXXXX").string();
    QVERIFY(mkdtemp(pattern.data()) != nullptr);
    root_ = pattern;
    App().home = root_;
    ui_.Clear();
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().shower, &Tables().eclass}) t->Clear();
    Tables().clip.set_list_sort(0, 1);
    MakeClip();
    MakeShowers();
  }
  void cleanup() {
    window_.reset();
    MakeClipCurrent(-1);
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().shower, &Tables().eclass}) t->Clear();
    AppSettings() = saved_settings_;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void reclassUsesTheRaisedCurveLimit_data() {
    QTest::addColumn<int>("command");
    QTest::newRow("re-class") << int(kCmdReclass);
    QTest::newRow("re-class all") << int(kCmdReclassAll);
  }
  void reclassUsesTheRaisedCurveLimit() {
    QFETCH(int, command);
    OpenWindow();
    ExpectListsShow("__curve");
    AppSettings().c_cmax = 0.5f;  // "curve >" raised from 0.15
    Page().Command(command);
    Drain();
    QCOMPARE(CurrentClip().row, clip_);
    QCOMPARE(ObjectClass(first_), std::string("spo"));
    QCOMPARE(std::string(Tables().clip.Text(clip_, clip::kClass)), std::string("spo"));
    ExpectListsShow("spo");
    // The save names the result file as the clip's profile.
    QCOMPARE(std::string(Tables().clip.Text(clip_, clip::kProfile)),
             std::string("M20261211_010000_TK1A.XML"));
    QCOMPARE(ReadBack(), std::make_pair(std::string("spo"), 0));
  }

  void reclassWithoutCurrentObjectDoesNothing() {
    OpenWindow();
    AppSettings().c_cmax = 0.5f;
    CurrentClip().current_object = -1;
    Page().Command(kCmdReclass);
    QCOMPARE(ObjectClass(first_), std::string("__curve"));
    QVERIFY(!fs::exists(ResultFile()));
  }

  void refusedShowerChangesNothing() {
    OpenWindow();
    CUList& showers = *Page().shower_list();
    showers.SelectRow(1);  // PER, which takes no part
    Page().OnPageMessage(kMsgShowerSelected, 0, showers.SelectedLine());
    QCOMPARE(ui_.messages().size(), std::size_t(1));
    QCOMPARE(ui_.messages()[0].text, std::string("PER is not selectable for this meteor"));
    QCOMPARE(ObjectClass(first_), std::string("__curve"));
    QCOMPARE(Tables().obj.Int(first_, obj::kManual), 0);
    QVERIFY(!fs::exists(ResultFile()));

    // The sporadic entry is given without any test.
    showers.SelectRow(0);
    Page().OnPageMessage(kMsgShowerSelected, 0, showers.SelectedLine());
    QCOMPARE(ui_.messages().size(), std::size_t(1));
    QCOMPARE(ObjectClass(first_), std::string("spo"));
    QCOMPARE(Tables().obj.Int(first_, obj::kManual), 1);
    ExpectListsShow("spo");
    QCOMPARE(ReadBack(), std::make_pair(std::string("spo"), 1));
  }

  void deletingAnObjectRefreshesEveryList() {
    OpenWindow();
    CUList& objects = *Page().object_list();
    objects.SelectRow(first_);
    Page().Command(kCmdDeleteClassObject);
    Drain();
    QVERIFY(!Tables().obj.Exists(first_));
    QCOMPARE(Tables().clip.Int(clip_, clip::kO), 1);
    QCOMPARE(objects.line_count(), 1);
    QCOMPARE(Main().object_list()->line_count(), 1);
    // The clip now describes the object left, and the line in the same
    // place is selected and current.
    QCOMPARE(Cell(*Main().clip_list(), clip_, "class"), std::string("spo"));
    QCOMPARE(objects.SelectedLine(), 0);
    QCOMPARE(CurrentClip().current_object, objects.lines().RowAt(0));
    QVERIFY(fs::exists(ResultFile()));
  }

  void extraClassSurvivesTheResultFile_data() {
    QTest::addColumn<bool>("from_main_page");
    QTest::newRow("Class page's list") << false;
    QTest::newRow("Main page's change-class dialog") << true;
  }
  void extraClassSurvivesTheResultFile() {
    QFETCH(bool, from_main_page);
    OpenWindow();
    if (from_main_page) {
      window_->ShowPage(PageId::kMain);
      Main().OnPageMessage(kMsgChangeObjectClass, 0, 0);
      auto* dialog = Main().findChild<CChangeClassDlg*>();
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->windowTitle(), QString("Change Class"));
      dialog->Choose(0);
      Drain();
      QVERIFY(Main().findChild<CChangeClassDlg*>() == nullptr);  // closed
    } else {
      Page().extra_class_list()->SelectLine(0);
      Page().OnPageMessage(kMsgExtraClassSelected, 0, 0);
    }
    QCOMPARE(ObjectClass(first_), std::string("SAT"));
    QCOMPARE(Tables().obj.Int(first_, obj::kManual), 2);
    ExpectListsShow("SAT");
    QCOMPARE(ReadBack(), std::make_pair(std::string("SAT"), 2));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageClass)
#include "test_page_class.moc"
