// The table list view: cells read only where the view paints, the two sort
// modes, check boxes, the header menu, "Row Select", "Edit record", the
// in-place editor and the keys, each through the page messages a page gets.
#include <QHeaderView>
#include <QLineEdit>
#include <QAbstractButton>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <memory>
#include <vector>

#include "app/column_layouts.h"
#include "app/main_window.h"
#include "platform/message_queue.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"

namespace mr4 {

struct PageMessage {
  int message, first, second;
  bool operator==(const PageMessage&) const = default;
};

// A page that records what its lists post.
class RecordingPage final : public CPage {
 public:
  RecordingPage() : CPage(PageId::kMain, LayoutScale{1.0, 1.0}) { resize(600, 700); }
  void OnPageMessage(int message, int first, int second) override {
    messages.push_back({message, first, second});
  }
  bool Got(int message) const {
    for (const PageMessage& m : messages) {
      if (m.message == message) return true;
    }
    return false;
  }
  std::vector<PageMessage> messages;
};

ColumnLayout BuiltIn(const char* prefix) {
  for (const ColumnLayout& layout : BuiltInColumnLayouts()) {
    if (std::string_view(layout.prefix) == prefix) return layout;
  }
  return {};
}

class TestUList : public QObject {
  Q_OBJECT

 private:
  QtMessageQueue queue_;
  MessageQueue* previous_queue_ = nullptr;
  ScriptedUi ui_;
  std::unique_ptr<ScopedUi> scoped_ui_;

  // Runs the posted page messages and the editors' deferred deletes.
  static void Drain() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }
  // A clip row per name, with its object count.
  static void AddClips(Table& clips, const std::vector<std::pair<const char*, int>>& rows) {
    for (const auto& [name, objects] : rows) {
      const int row = clips.AppendRow();
      clips.SetText(row, clip::kClipName, name);
      clips.SetInt(row, clip::kO, objects);
    }
  }
  static std::vector<std::string> ShownNames(const CUList& list, int column) {
    std::vector<std::string> names;
    for (int line = 0; line < list.line_count(); ++line) {
      names.push_back(std::string(list.table().Text(list.lines().RowAt(line), column)));
    }
    return names;
  }
  static int VisibleColumnOf(const CUList& list, const char* name) {
    for (int c = 0; c < list.list_model().columnCount(); ++c) {
      if (std::string_view(list.EntryAt(c)->column) == name) return c;
    }
    return -1;
  }
  static QPoint CellCentre(const CUList& list, int line, int column) {
    return list.visualRect(list.list_model().index(line, column)).center();
  }
  static void TriggerMenuItem(QMenu* menu, const QString& text) {
    QVERIFY(menu);
    for (QAction* action : menu->actions()) {
      if (action->text() == text) {
        action->trigger();
        menu->close();
        return;
      }
    }
    QFAIL(qPrintable("no menu item " + text));
  }
  static QStringList MenuItems(QMenu* menu) {
    QStringList items;
    for (QAction* action : menu->actions()) items << action->text();
    menu->close();
    return items;
  }

 private slots:
  void initTestCase() {
    previous_queue_ = SetMainQueue(&queue_);
    scoped_ui_ = std::make_unique<ScopedUi>(ui_);
  }
  void cleanupTestCase() {
    scoped_ui_.reset();
    SetMainQueue(previous_queue_);
  }
  void init() { ui_.Clear(); }

  void readsOnlyTheVisibleCells() {
    Table clips(kClipSchema);
    constexpr int kRows = 100000;
    for (int i = 0; i < kRows; ++i) {
      const int row = clips.AppendRow();
      clips.SetInt(row, clip::kO, i % 7);
      clips.SetFloat(row, clip::kMag, -0.25f * (i % 20));
    }
    clips.SetText(kRows - 1, clip::kClipName, "M20261211_031500_last");
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UC");
    CUList list(&page, layout, clips);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(list.line_count(), kRows);
    list.grab();
    const long long first_paint = list.list_model().cells_read();
    const int rows_on_screen = list.viewport()->height() / list.rowHeight(0) + 1;
    int columns_on_screen = 0;
    for (int c = 0; c < list.list_model().columnCount(); ++c) {
      if (list.columnViewportPosition(c) < list.viewport()->width()) ++columns_on_screen;
    }
    const long long on_screen = static_cast<long long>(rows_on_screen) * columns_on_screen;
    QVERIFY2(first_paint > 0 && first_paint <= 3 * on_screen,
             qPrintable(QString("%1 cells read for %2 on screen").arg(first_paint).arg(on_screen)));
    // The last page: its cells, formatted from the table as it is now.
    list.scrollToBottom();
    list.grab();
    const long long scrolled = list.list_model().cells_read() - first_paint;
    QVERIFY2(scrolled <= 3 * on_screen, qPrintable(QString::number(scrolled)));
    const QModelIndex last = list.list_model().index(kRows - 1, VisibleColumnOf(list, "clip_name"));
    QCOMPARE(list.list_model().data(last, Qt::DisplayRole).toString(),
             QString("M20261211_031500_last"));
    QCOMPARE(list.list_model().data(list.list_model().index(kRows - 1, VisibleColumnOf(list, "mag")),
                                    Qt::DisplayRole).toString(),
             QString("-4.8"));  // -4.75 with "%.1f"
  }

  void sortSharedThroughTheTable() {
    Table clips(kClipSchema);
    AddClips(clips, {{"b", 2}, {"a", 1}, {"c", 2}, {"d", 1}});
    RecordingPage main_page, other_page;
    ColumnLayout main_layout = BuiltIn("UC"), other_layout = BuiltIn("UC2");
    CUList main(&main_page, main_layout, clips);
    CUList other(&other_page, other_layout, clips);
    main.SelectRow(3);
    // "Sort -" on "o": equal counts come in reverse row order.
    TriggerMenuItem(main.OpenHeaderMenu(VisibleColumnOf(main, "o")), "Sort -");
    QCOMPARE(ShownNames(main, clip::kClipName), (std::vector<std::string>{"c", "b", "d", "a"}));
    QCOMPARE(main.SelectedRow(), 3);  // the selection stays with its row
    Drain();
    QCOMPARE(main_page.messages.back(), (PageMessage{1326, 0, 3}));
    QCOMPARE(clips.Int(2, clip::kDline), 0);
    // The other list of the table takes the sort at its next rebuild.
    QCOMPARE(ShownNames(other, clip::kClipName), (std::vector<std::string>{"b", "a", "c", "d"}));
    other.RebuildLines();
    QCOMPARE(ShownNames(other, clip::kClipName), (std::vector<std::string>{"c", "b", "d", "a"}));
  }

  void ownSortStaysWithTheList() {
    Table dirs(kDirSchema);
    for (const char* d : {"/b", "/a", "/c"}) dirs.SetText(dirs.AppendRow(), dir::kDir, d);
    RecordingPage page;
    ColumnLayout first_layout = BuiltIn("UD"), second_layout = BuiltIn("UD");
    CUList first(&page, first_layout, dirs);
    CUList second(&page, second_layout, dirs);
    first.SortLines(dir::kDir, 1);
    QCOMPARE(ShownNames(first, dir::kDir), (std::vector<std::string>{"/a", "/b", "/c"}));
    second.RebuildLines();
    QCOMPARE(ShownNames(second, dir::kDir), (std::vector<std::string>{"/b", "/a", "/c"}));
    dirs.SetText(dirs.AppendRow(), dir::kDir, "/0");
    first.RebuildLines();
    QCOMPARE(ShownNames(first, dir::kDir), (std::vector<std::string>{"/0", "/a", "/b", "/c"}));
    Drain();
    QVERIFY(page.Got(1343));
  }

  void checkBoxesAndArrowKeys() {
    Table clips(kClipSchema);
    AddClips(clips, {{"a", 1}, {"b", 1}, {"c", 1}});
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UC");
    CUList list(&page, layout, clips);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const QRect line1 = list.visualRect(list.list_model().index(1, 0));
    // Within 20 px of the line's left edge: the check box.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(line1.left() + 5, line1.center().y()));
    Drain();
    QCOMPARE(page.messages, (std::vector<PageMessage>{{1036, 0, 1}, {1325, 0, 1}}));
    page.messages.clear();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(line1.left() + 40, line1.center().y()));
    Drain();
    QCOMPARE(page.messages, (std::vector<PageMessage>{{1325, 0, 1}}));
    QCOMPARE(list.list_model().data(list.list_model().index(1, 0), Qt::CheckStateRole).toInt(),
             static_cast<int>(Qt::Unchecked));

    // Right checks and moves down, Left clears and moves down; the last
    // line stays.
    QTest::keyClick(&list, Qt::Key_Right);
    QCOMPARE(clips.Uint(1, clip::kCheck), 1u);
    QCOMPARE(list.SelectedLine(), 2);
    QTest::keyClick(&list, Qt::Key_Right);
    QCOMPARE(clips.Uint(2, clip::kCheck), 1u);
    QCOMPARE(list.SelectedLine(), 2);
    QTest::keyClick(&list, Qt::Key_Left);
    QCOMPARE(clips.Uint(2, clip::kCheck), 0u);
    QCOMPARE(list.list_model().data(list.list_model().index(1, 0), Qt::CheckStateRole).toInt(),
             static_cast<int>(Qt::Checked));
  }

  void keysPostPageMessages_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("message");
    QTest::newRow("Space plays") << int(Qt::Key_Space) << 1039;
    QTest::newRow("Delete") << int(Qt::Key_Delete) << 1038;
    QTest::newRow("1") << int(Qt::Key_1) << 1045;
    QTest::newRow("5") << int(Qt::Key_5) << 1049;
    QTest::newRow("A") << int(Qt::Key_A) << 1055;
    QTest::newRow("C") << int(Qt::Key_C) << 1057;
    QTest::newRow("V") << int(Qt::Key_V) << 1058;
    QTest::newRow("G") << int(Qt::Key_G) << 1061;
  }
  void keysPostPageMessages() {
    QFETCH(int, key);
    QFETCH(int, message);
    Table clips(kClipSchema);
    AddClips(clips, {{"a", 1}, {"b", 1}});
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UC");
    CUList list(&page, layout, clips);
    list.SelectLine(1);
    QTest::keyClick(&list, static_cast<Qt::Key>(key));
    Drain();
    QCOMPARE(page.messages, (std::vector<PageMessage>{{message, 0, 1}}));
  }

  void upAndDownStopAtTheEnds() {
    Table clips(kClipSchema);
    AddClips(clips, {{"a", 1}, {"b", 1}});
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UC");
    CUList list(&page, layout, clips);
    QTest::keyClick(&list, Qt::Key_Down);  // no selection: the first line
    QCOMPARE(list.SelectedLine(), 0);
    QTest::keyClick(&list, Qt::Key_Up);
    QCOMPARE(list.SelectedLine(), 0);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(list.SelectedLine(), 1);
    Drain();
    QCOMPARE(page.messages.size(), size_t{4});
    QCOMPARE(page.messages.back(), (PageMessage{1325, 0, 1}));
  }

  void inPlaceEditRefusesWhatTheCellCannotTake() {
    Table showers(kShowerSchema);
    showers.SetFloat(showers.AppendRow(), shower::kRap, 46.2f);
    RecordingPage page;
    ColumnLayout layout = BuiltIn("US");
    CUList list(&page, layout, showers);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const int rap = VisibleColumnOf(list, "rap");
    QVERIFY(rap >= 0);
    auto edit = [&](const QString& text, Qt::Key end) {
      QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, 0, rap));
      QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, 0, rap));
      auto* editor = list.findChild<QLineEdit*>("900");
      QVERIFY(editor);
      QVERIFY(editor->hasSelectedText());
      editor->setText(text);
      QTest::keyClick(editor, end);
      Drain();
      QVERIFY(!list.editing());
    };
    edit("1e39", Qt::Key_Return);  // beyond a float: refused
    QCOMPARE(showers.Float(0, shower::kRap), 46.2f);
    edit("north", Qt::Key_Return);  // no number
    QCOMPARE(showers.Float(0, shower::kRap), 46.2f);
    edit("123.5", Qt::Key_Escape);  // cancelled
    QCOMPARE(showers.Float(0, shower::kRap), 46.2f);
    page.messages.clear();
    edit("123.5", Qt::Key_Return);
    QCOMPARE(showers.Float(0, shower::kRap), 123.5f);
    QCOMPARE(page.messages.back(), (PageMessage{1337, rap, 0}));
    // Read-only cells open no editor.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, 0, VisibleColumnOf(list, "code")));
    QVERIFY(!list.editing());
  }

  void aTextBeyondTheCellIsRefusedWithAMessage() {
    Table objects(kObjSchema);
    const int row = objects.AppendRow();
    objects.SetText(row, obj::kMemo, "kept");
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UO");
    CUList list(&page, layout, objects);
    const int memo = VisibleColumnOf(list, "memo");
    QVERIFY(!list.CommitCell(0, memo, QString(1024, 'x')));
    QCOMPARE(objects.Text(row, obj::kMemo), std::string_view("kept"));
    QCOMPARE(ui_.messages().size(), size_t{1});
    QVERIFY(list.CommitCell(0, memo, QString(1023, 'y')));
    QCOMPARE(objects.Text(row, obj::kMemo).size(), size_t{1023});
    // A flag cell toggles on a double click instead of editing.
    const int manual = VisibleColumnOf(list, "manual");
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, 0, manual));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, CellCentre(list, 0, manual));
    QCOMPARE(objects.Uint(row, obj::kManual), 1u);
    QVERIFY(!list.editing());
  }

  void headerMenu() {
    Table dirs(kDirSchema);
    dirs.SetText(dirs.AppendRow(), dir::kDir, "/clips");
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UD");
    CUList list(&page, layout, dirs);
    QCOMPARE(MenuItems(list.OpenHeaderMenu(VisibleColumnOf(list, "use"))),
             (QStringList{"Hide", "Row Select", "Sort +", "Sort -", "all On", "all Off"}));
    QCOMPARE(MenuItems(list.OpenHeaderMenu(VisibleColumnOf(list, "dir"))),
             (QStringList{"Hide", "Row Select", "Sort +", "Sort -"}));
    TriggerMenuItem(list.OpenHeaderMenu(VisibleColumnOf(list, "+ymd")), "all Off");
    Drain();
    QCOMPARE(page.messages, (std::vector<PageMessage>{{1346, dir::kYmd, 0}}));
    TriggerMenuItem(list.OpenHeaderMenu(VisibleColumnOf(list, "profile")), "Hide");
    QCOMPARE(list.list_model().columnCount(), 4);
    QCOMPARE(layout.entries[2].shown, 0);
    QCOMPARE(VisibleColumnOf(list, "profile"), -1);
  }

  void rowSelectHidingEveryEntryKeepsTheFirst() {
    Table dirs(kDirSchema);
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UD");
    CUList list(&page, layout, dirs);
    auto* dialog = static_cast<CRSDlg*>(list.OpenRowSelect());
    auto* rows = dialog->findChild<QTableWidget*>();
    QCOMPARE(rows->item(4, 0)->text(), QString("+ymd"));
    QCOMPARE(rows->item(4, 1)->text(), QString("*"));
    dialog->SetAll(false);
    QCOMPARE(list.list_model().columnCount(), 5);  // nothing rebuilt before OK
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
      if (b->text() == "OK") b->click();
    }
    QCOMPARE(list.list_model().columnCount(), 1);
    QCOMPARE(std::string_view(list.EntryAt(0)->column), "use");
    // Cancel keeps the flags already changed, without a rebuild.
    dialog = static_cast<CRSDlg*>(list.OpenRowSelect());
    dialog->Toggle(1);
    dialog->reject();
    QCOMPARE(layout.entries[1].shown, 1);
    QCOMPARE(list.list_model().columnCount(), 1);
  }

  void editRecordAndDeleteThisItem() {
    Table dirs(kDirSchema);
    const int row = dirs.AppendRow();
    dirs.SetText(row, dir::kDir, "/clips");
    dirs.SetUint(row, dir::kUse, 1);
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UD");
    CUList list(&page, layout, dirs);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, CellCentre(list, 0, 1));
    auto* dialog = list.findChild<CEditLineDlg*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QString("MR4_DIR.csv"));
    auto* dir_box = dialog->findChild<QLineEdit*>("9001");
    auto* use_box = dialog->findChild<QLineEdit*>("9000");
    QCOMPARE(dir_box->text(), QString("/clips"));
    QCOMPARE(use_box->text(), QString("1"));
    // A comma cannot be kept in the directory file: nothing is stored.
    dir_box->setText("/a,b");
    use_box->setText("");
    QVERIFY(!dialog->Apply());
    QCOMPARE(dirs.Text(row, dir::kDir), std::string_view("/clips"));
    QCOMPARE(dirs.Uint(row, dir::kUse), 1u);
    dir_box->setText("/night");
    QVERIFY(dialog->Apply());
    QCOMPARE(dirs.Text(row, dir::kDir), std::string_view("/night"));
    QCOMPARE(dirs.Uint(row, dir::kUse), 0u);  // an empty flag box is 0
    dialog->accept();

    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, CellCentre(list, 0, 1));
    dialog = list.findChild<CEditLineDlg*>();
    QPushButton* remove = nullptr;
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
      if (b->text() == kDeleteThisItem) remove = b;
    }
    QVERIFY(remove);
    page.messages.clear();
    remove->click();
    Drain();
    QCOMPARE(page.messages, (std::vector<PageMessage>{{1344, 0, row}}));
    QVERIFY(dirs.Exists(row));  // the page deletes it
  }

  void userWidthsGoIntoTheLayout() {
    Table dirs(kDirSchema);
    RecordingPage page;
    ColumnLayout& layout = *FindColumnLayout("UD");
    const ColumnLayout saved = layout;
    {
      CUList list(&page, layout, dirs);
      QCOMPARE(list.columnWidth(1), 131);  // (130 + 0.5) x 1 + 0.5
      list.horizontalHeader()->resizeSection(1, 101);
      QCOMPARE(layout.entries[1].width, 100);
      QCOMPARE(layout.entries[0].width, 32);
      list.RebuildLines();
      QCOMPARE(list.columnWidth(1), 101);
    }
    layout = saved;
  }

  void parameterField() {
    QWidget page;
    int minute = 59;
    int on = 0;
    std::vector<int> reports;
    ParamDescriptor field{&minute};
    field.minimum = 0;
    field.maximum = 59;
    field.limit = ParamLimit::kWrap;
    field.wrap_code = 3;
    field.on_flag = &on;
    field.id_base = 1200;
    field.label = "m";
    field.label_width = 10;
    CUDEdit edit(&page, field, LayoutScale{1.0, 1.0}, [&](int code) { reports.push_back(code); });
    QCOMPARE(edit.box()->text(), QString("59"));
    QCOMPARE(edit.box()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    auto* up = edit.findChild<QAbstractButton*>("1201");
    QVERIFY(up);
    up->click();  // wraps to the minimum and reports the carry
    QCOMPARE(minute, 0);
    QCOMPARE(edit.box()->text(), QString("0"));
    QTest::keyClicks(edit.box(), "7");  // "07"
    QCOMPARE(minute, 7);
    edit.on_box()->click();
    QCOMPARE(on, 1);
    QCOMPARE(reports, (std::vector<int>{3, -1, -1}));
    // Redisplay rewrites a box that differs, caret at the end, and leaves
    // one that shows the value as it is.
    edit.Redisplay();
    QCOMPARE(edit.box()->text(), QString("7"));
    QCOMPARE(edit.box()->cursorPosition(), 1);
    edit.box()->setCursorPosition(0);
    edit.Redisplay();
    QCOMPARE(edit.box()->cursorPosition(), 0);
  }

  void deleteLine() {
    Table dirs(kDirSchema);
    for (const char* d : {"/a", "/b"}) dirs.SetText(dirs.AppendRow(), dir::kDir, d);
    RecordingPage page;
    ColumnLayout layout = BuiltIn("UD");
    CUList list(&page, layout, dirs);
    QCOMPARE(list.DeleteLine(-1, false), -1);  // no selection
    list.SelectLine(1);
    QCOMPARE(list.DeleteLine(-1, false), -1);  // the last line goes
    QCOMPARE(dirs.count(), 1);
    QCOMPARE(list.DeleteLine(0, true), -1);
    QCOMPARE(list.line_count(), 0);
    QVERIFY(!dirs.Exists(0));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestUList)
#include "test_ulist.moc"
