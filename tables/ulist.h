// The table list view CUList and the dialogs around it: the in-place cell
// editor CCellEdit, the "Edit record" dialog CEditLineDlg and the "Row
// Select" dialog CRSDlg.
//
// A list shows one table through its static ColumnLayout: the shown entries
// are its columns, each cell's text is formatted from the table when the
// view paints it (nothing is copied), and the lines, their sort and filter
// are a ListLines (tables/list_lines.h). The list tells its page what the
// user did by posting page messages (CPage::OnPageMessage) through the main
// queue, so a page always handles them after the list has finished.
// Dialogs open window-modal without blocking the caller.
//
// Column widths and shown flags the user changes go into the layout, which
// the settings file keeps.
//
// User-interface thread only.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <cstdint>
#include <string>

#include "app/column_layouts.h"
#include "app/main_window.h"
#include "tables/list_lines.h"
#include "tables/table.h"

class QMenu;
class QTableWidget;

namespace mr4 {

inline constexpr int kWmUser = 1024;
// Page messages every list posts, with the line as second parameter.
inline constexpr int kListCheckBoxClicked = kWmUser + 12;  // 1036
inline constexpr int kListDeleteKey = kWmUser + 14;        // 1038
inline constexpr int kListSpaceKey = kWmUser + 15;         // 1039
// Keys "1" to "5": kListDigitKey1 + 0 .. 4 (1045-1049).
inline constexpr int kListDigitKey1 = kWmUser + 21;
// Keys "A", "B", "C", "V", "M", "T", "G" in that order (1055-1061).
inline constexpr int kListLetterKeyA = kWmUser + 31;
inline constexpr char kListLetterKeys[] = "ABCVMTG";

// Dialog and control ids the list's pieces keep as object names.
inline constexpr int kCellEditId = 900;
inline constexpr int kEditLineDialogId = 901;
inline constexpr int kRowSelectDialogId = 902;
inline constexpr int kEditLineFirstBoxId = 9000;
// A click this close to a line's left edge hits its check box [px].
inline constexpr int kCheckBoxHitWidth = 20;

inline constexpr char kEditRecordCaption[] = "Edit record";
inline constexpr char kDeleteThisItem[] = "Delete This Item";
inline constexpr char kRowSelectCaption[] = "Row Select";

class CUList;

// The list's model: one row per line, one column per shown entry; every
// read formats the cell from the table.
class CUListModel final : public QAbstractTableModel {
 public:
  explicit CUListModel(CUList& list) : list_(list) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Announcements of the list (the model holds no data of its own).
  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void Relaid() { emit layoutChanged(); }
  void BeginRemoveLine(int line) { beginRemoveRows(QModelIndex(), line, line); }
  void EndRemoveLine() { endRemoveRows(); }
  void LineChanged(int line);

  // Cell texts formatted since the list was made (what the view read).
  long long cells_read() const { return cells_read_; }

 private:
  CUList& list_;
  mutable long long cells_read_ = 0;
};

// The in-place editor: an edit box over the cell, the list's font, its
// text selected.
class CCellEdit final : public QLineEdit {
 public:
  explicit CCellEdit(QWidget* parent);
};

class CUList final : public QTableView {
 public:
  // Attach: the list as a child of `page`, placed by the layout's edges
  // times the page's layout scale (and again whenever the page is resized).
  CUList(CPage* page, ColumnLayout& layout, Table& table);
  ~CUList() override;

  CPage* page() const { return page_; }
  ColumnLayout& layout() const { return layout_; }
  Table& table() const { return lines_.table(); }
  const ListLines& lines() const { return lines_; }
  CUListModel& list_model() const { return *model_; }
  int line_count() const { return lines_.count(); }

  // Rebuilds the columns from the shown entries and the lines from the
  // table (filter column 0: none), then re-applies the sort. An open
  // in-place edit is committed first.
  void RebuildLines(int filter_column = 0, std::uint32_t hidden_value = 0);
  // The same filter again.
  void RebuildWithFilter();
  // Sorts by table column `column`, ascending when `direction` > 0, and
  // posts the sorted message with the row that was selected.
  void SortLines(int column, int direction);
  // Deletes the table row shown on `line` (the selected line when
  // negative) and its line; rebuilds without filter unless `no_rebuild`.
  // Returns `line` when a line of that index still exists, else -1.
  int DeleteLine(int line, bool no_rebuild);
  // Selects and scrolls to the line showing `row`; the line or -1.
  int SelectRow(int row);
  // Selects and scrolls to `line` (no line: clears the selection).
  void SelectLine(int line);
  // The selected line, or -1.
  int SelectedLine() const;
  // The row of the selected line, or -1.
  int SelectedRow() const;
  void RedrawLine(int line);
  void RedrawAll();

  // The entry shown in visible column `column`, or nullptr.
  ColumnEntry* EntryAt(int column) const;
  // The table column of that entry, or -1.
  int TableColumnAt(int column) const;

  // The header menu of visible column `column`, opened at its header cell
  // (as a click on the header does). The menu lives until it closes.
  QMenu* OpenHeaderMenu(int column);
  // The dialogs, open and window-modal (as a header double click and a
  // right click open them); they delete themselves when closed.
  QDialog* OpenRowSelect();
  QDialog* OpenEditRecord(int line, bool from_right_click);
  // Opens the in-place editor on a cell (as a double click on an editable
  // non-flag cell does).
  void EditCell(int line, int column);
  // Ends an in-place edit, committing it (nothing when none is open).
  void EndEdit();
  bool editing() const { return editor_ != nullptr; }

  // Commits `text` into the cell of `line`, visible column `column` by the
  // column's type; false, with a message to the user, for a text the table
  // cannot keep. An unparsable number leaves the cell as it was.
  bool CommitCell(int line, int column, const QString& text);
  // The editor's first text for a cell.
  QString EditText(int row, int table_column) const;

  // A page message through the main queue.
  void Post(int message, int first, int second) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  friend class CUListDelegate;
  void Place();
  void OnSectionResized(int column, int old_size, int new_size);
  void RightClick(int line, int column);
  void DoubleClick(int line, int column);
  void SetCheckOfSelected(std::uint32_t value);
  void PostSelect() const;

  CPage* page_;
  ColumnLayout& layout_;
  ListLines lines_;
  CUListModel* model_;
  int check_column_;  // the table's check column when the list shows check boxes, else 0
  bool fitting_columns_ = false;  // the list itself sets the widths
  QPointer<CCellEdit> editor_;
  int edit_line_ = -1;
  int edit_column_ = -1;
};

// "Edit record": one label and edit box per entry of the layout.
class CEditLineDlg final : public QDialog {
 public:
  CEditLineDlg(CUList& list, int row, bool show_delete);
  // Parses every editable box into the row; false, the row unchanged and
  // the user told, when a text cannot be kept.
  bool Apply();

 private:
  CUList& list_;
  int row_;
};

// "Row Select": the entries with their shown flags, changed at once.
class CRSDlg final : public QDialog {
 public:
  explicit CRSDlg(CUList& list);
  void Toggle(int entry);
  void SetAll(bool shown);

 private:
  void Refresh();
  CUList& list_;
  QTableWidget* rows_;
};

}  // namespace mr4
