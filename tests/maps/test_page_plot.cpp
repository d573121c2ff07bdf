// The Plot page over three hand-built clips: the counts its shower list
// shows, a double click on a shower's "disp" cell that leaves exactly that
// shower's clips and objects on the maps, the profile list of the home's
// profile folder, and the outline switches and divisions set on the page
// reaching the settings file at shut-down.
#include <QCheckBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

#include "maps/map_display.h"
#include "maps/page_plot.h"
#include "app/column_layouts.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "astro/time_scales.h"
#include "base/process_values.h"
#include "clips/current_clip.h"
#include "platform/message_queue.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"
#include "tables/ud_edit.h"

namespace mr4 {

namespace fs = std::filesystem;

// The clips' objects by class; the clip's class is its first object's.
const std::vector<std::vector<const char*>> kClipObjects = {
    {"spo"},
    {"PER", "PER"},
    {"GEM", "spo"},
};
constexpr const char* kShowerCodes[] = {"spo", "PER", "GEM"};
constexpr int kPer = 1;

class TestPagePlot : public QObject {
  Q_OBJECT

 private:
  QtMessageQueue queue_;
  MessageQueue* previous_queue_ = nullptr;
  ScriptedUi ui_;
  std::unique_ptr<ScopedUi> scoped_ui_;
  Settings saved_settings_;
  fs::path root_;
  std::unique_ptr<CUDlg> window_;
  std::vector<int> clips_;
  std::vector<std::vector<int>> objects_;

  static void Drain() {
    for (int i = 0; i < 4; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }

  void MakeTables() {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    clips_.clear();
    objects_.clear();
    for (std::size_t i = 0; i < kClipObjects.size(); ++i) {
      const int c = clips.AppendRow();
      clips.SetText(c, clip::kDirectory, root_.native());
      clips.SetText(c, clip::kClipName, "M20261211_01000" + std::to_string(i) + "_TK1");
      clips.SetText(c, clip::kClass, kClipObjects[i][0]);
      clips.SetInt(c, clip::kOline, -1);
      clips.SetInt(c, clip::kY, 2026);
      clips.SetInt(c, clip::kMo, 12);
      clips.SetInt(c, clip::kD, 11);
      clips.SetInt(c, clip::kH, 1);
      clips.SetInt(c, clip::kTz, 32400);
      std::vector<int> rows;
      for (const char* cls : kClipObjects[i]) {
        const int o = objects.AppendRow();
        objects.SetInt(o, obj::kCline, c);
        objects.SetInt(o, obj::kOlinenext, -1);
        objects.SetText(o, obj::kClass, cls);
        if (rows.empty()) {
          clips.SetInt(c, clip::kOline, o);
        } else {
          objects.SetInt(rows.back(), obj::kOlinenext, o);
        }
        rows.push_back(o);
      }
      clips.SetInt(c, clip::kO, static_cast<int>(rows.size()));
      clips_.push_back(c);
      objects_.push_back(rows);
    }
    for (const char* code : kShowerCodes) {
      const int s = Tables().shower.AppendRow();
      Tables().shower.SetText(s, shower::kCode, code);
      Tables().shower.SetUint(s, shower::kInUse, 1);
    }
    const int sat = Tables().eclass.AppendRow();
    Tables().eclass.SetText(sat, eclass::kEcls, "SAT");
  }

  CPageGPlot& Page() { return *static_cast<CPageGPlot*>(window_->OpenedPage(PageId::kPlot)); }

  void OpenWindow() {
    window_ = std::make_unique<CUDlg>(LayoutScale{1.0, 1.0});
    window_->resize(1000, 760);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->ShowPage(PageId::kPlot);
    Drain();
  }

  // The text a list shows in the entry of `column` on list line `line`.
  static std::string CellAt(CUList& list, int line, const char* column) {
    for (int k = 0; k < list.list_model().columnCount(); ++k) {
      const ColumnEntry* entry = list.EntryAt(k);
      if (entry && std::string(entry->column) == column) {
        return list.list_model().data(list.list_model().index(line, k), Qt::DisplayRole)
            .toString().toStdString();
      }
    }
    return "(no column)";
  }
  static int ColumnOf(CUList& list, const char* column) {
    for (int k = 0; k < list.list_model().columnCount(); ++k) {
      const ColumnEntry* entry = list.EntryAt(k);
      if (entry && std::string(entry->column) == column) return k;
    }
    return -1;
  }
  std::vector<std::vector<int>> ObjectMarks() const {
    std::vector<std::vector<int>> marks;
    for (const std::vector<int>& rows : objects_) {
      std::vector<int> m;
      for (int o : rows) m.push_back(static_cast<int>(Tables().obj.Uint(o, obj::kSel)));
      marks.push_back(m);
    }
    return marks;
  }
  std::vector<int> ClipMarks() const {
    std::vector<int> marks;
    for (int c : clips_) marks.push_back(static_cast<int>(Tables().clip.Uint(c, clip::kDisp)));
    return marks;
  }

 private slots:
  void initTestCase() {
    previous_queue_ = SetMainQueue(&queue_);
    scoped_ui_ = std::make_unique<ScopedUi>(ui_);
    BuildCalendarTables();
  }
  void cleanupTestCase() {
    scoped_ui_.reset();
    SetMainQueue(previous_queue_);
  }
  void init() {
    saved_settings_ = AppSettings();
    std::string pattern = (fs::temp_directory_path() / "mr4-page-plot.XXXXXX").string();
    QVERIFY(mkdtemp(pattern.data()) != nullptr);
    root_ = pattern;
    App().home = root_;
    // Shut-down frees the leap-second table; every case starts with one.
    const LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
    ui_.Clear();
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().shower, &Tables().eclass}) t->Clear();
    MakeTables();
  }
  void cleanup() {
    window_.reset();
    MakeClipCurrent(-1);
    for (Table* t : {&Tables().clip, &Tables().obj, &Tables().shower, &Tables().eclass}) t->Clear();
    AppSettings() = saved_settings_;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void showerListCountsAndSwitchesOneShower() {
    OpenWindow();
    CUList& showers = *Page().shower_list();
    // Sorted by count: spo and PER (2 each) before GEM (1).
    QCOMPARE(showers.line_count(), 3);
    QCOMPARE(CellAt(showers, 2, "code"), std::string("GEM"));
    QCOMPARE(CellAt(showers, showers.lines().LineOf(kPer), "cnt"), std::string("2"));
    QCOMPARE(CellAt(showers, 2, "cnt"), std::string("1"));

    window_->OpenClipRow(clips_[2]);
    Drain();
    QCOMPARE(CurrentClip().row, clips_[2]);
    Page().Command(kCmdAllDisp);
    QCOMPARE(ClipMarks(), (std::vector<int>{kMapAllOn, kMapAllOn, kMapAllOn}));

    // A double click on PER's "disp" cell: everything off, then PER on.
    const int line = showers.lines().LineOf(kPer);
    showers.SelectLine(line);
    Page().OnPageMessage(kMsgPlotShowerDispClicked, ColumnOf(showers, "disp"), line);
    QCOMPARE(ObjectMarks(), (std::vector<std::vector<int>>{{0}, {1, 1}, {0, 0}}));
    QCOMPARE(ClipMarks(), (std::vector<int>{0, 1, 0}));
    QCOMPARE(MapDisplay().selected_shower, kPer);
    // The maps show every object switched on: no clip is current, and the
    // clip switched on leads the clip list.
    QCOMPARE(CurrentClip().row, -1);
    QCOMPARE(CurrentClip().current_object, -1);
    QCOMPARE(Page().clip_list()->lines().RowAt(0), clips_[1]);
    QCOMPARE(CellAt(showers, showers.lines().LineOf(kPer), "disp"), std::string("*"));

    // A single click on the same line switches them off again.
    showers.SelectLine(showers.lines().LineOf(kPer));
    Page().OnPageMessage(kMsgPlotShowerSelected, 0, showers.SelectedLine());
    QCOMPARE(ObjectMarks(), (std::vector<std::vector<int>>{{0}, {0, 0}, {0, 0}}));
    QCOMPARE(ClipMarks(), (std::vector<int>{0, 0, 0}));

    // Switched on by "all disp" (1023) leads switched on through a shower
    // (1): PER off and on again puts its clip last.
    Page().Command(kCmdAllDisp);
    for (int i = 0; i < 2; ++i) {
      showers.SelectLine(showers.lines().LineOf(kPer));
      Page().OnPageMessage(kMsgPlotShowerSelected, 0, showers.SelectedLine());
    }
    QCOMPARE(ClipMarks(), (std::vector<int>{kMapAllOn, 1, kMapAllOn}));
    QCOMPARE(Page().clip_list()->lines().RowAt(2), clips_[1]);
    QVERIFY(ui_.messages().empty());
  }

  void clipSelectedWithoutLineChangesNothing() {
    OpenWindow();
    window_->OpenClipRow(clips_[0]);
    Drain();
    Page().clip_list()->clearSelection();
    Page().OnPageMessage(1325, 0, -1);
    QCOMPARE(CurrentClip().row, clips_[0]);
  }

  void profileListAndSettingsReachTheFileAtShutDown() {
    fs::create_directories(root_ / "PROF");
    for (const char* name : {"p_TK2_.XML", "p_TK1_.XML", "readme.txt"}) {
      std::ofstream(root_ / "PROF" / name) << "<x/>";
    }
    AppSettings().g_h2on = 0;
    AppSettings().g_line = 2;
    OpenWindow();
    QTableWidget& profiles = *Page().profile_list();
    QCOMPARE(profiles.rowCount(), 3);
    QCOMPARE(profiles.item(0, 0)->text(), QString("Current Profile"));
    QCOMPARE(profiles.item(1, 0)->text(), QString("p_TK1_.XML"));
    QCOMPARE(profiles.item(2, 0)->text(), QString("p_TK2_.XML"));
    profiles.selectRow(2);
    QCOMPARE(MapDisplay().ground.selected, (std::vector<bool>{false, false, true}));

    // The h2 box (top) switched on by a click, the divisions typed.
    QCheckBox& h2 = *Page().height_box(2);
    QTest::mouseClick(&h2, Qt::LeftButton);
    QVERIFY(h2.isChecked());
    QCOMPARE(AppSettings().g_h2on, 1);
    QLineEdit& div = *Page().param(3)->box();
    div.selectAll();
    QTest::keyClicks(&div, "7");
    QCOMPARE(AppSettings().g_line, 7);

    window_.reset();
    QVERIFY(ShutDown());
    AppSettings() = Settings{};
    ReadSettings();
    QCOMPARE(AppSettings().g_h2on, 1);
    QCOMPARE(AppSettings().g_line, 7);
    QCOMPARE(AppSettings().g_h1on, Settings{}.g_h1on);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPagePlot)
#include "test_page_plot.moc"
