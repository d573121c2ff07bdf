#include "tables/ulist.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/error.h"
#include "platform/message_queue.h"
#include "platform/ui.h"
#include "tables/cell_text.h"

namespace mr4 {
namespace {

// Characters typed into a list that never start its type-ahead search
// (they are the lists' command keys).
constexpr char kDiscardedCharacters[] = " %'.12345ABCGMTVgmtv";

// "Edit record": entries per dialog column, and its geometry [px].
constexpr int kEditLineRowsPerColumn = 30;
constexpr int kEditLineTop = 32;
constexpr int kEditLineRowStep = 20;
constexpr int kEditLineColumnStep = 250;
constexpr int kEditLineLabelX = 10;
constexpr int kEditLineBoxX = 62;
constexpr int kEditLineBoxRight = 250;

// "Row Select"'s columns [px].
constexpr int kRowSelectNameWidth = 100;
constexpr int kRowSelectFlagWidth = 32;

std::uint32_t ColumnType(const Table& table, int column) {
  return table.schema().columns[column].type;
}

// Why `text` cannot go into a text cell, or empty. Tables the program
// writes as files refuse what their files cannot keep; every cell refuses
// a text beyond its capacity (which would end the program).
std::string TextCellProblem(const Table& table, int column, std::string_view text) {
  if (table.schema().version != 0 && table.schema().columns[column].persist) {
    return TableTextProblem(text);
  }
  if (text.size() > static_cast<std::size_t>(kCellTextMaxBytes)) {
    return "a text of more than " + std::to_string(kCellTextMaxBytes) +
           " bytes cannot be kept in a cell";
  }
  return {};
}

// False for a float cell beyond the float range (or typed as "inf" or
// "nan"): no list value is meant to be infinite, so such a text is refused.
bool FiniteCell(const Cell& cell, std::uint32_t type) {
  if (type == kCellFloat) {
    float v;
    std::memcpy(&v, &cell.bits, sizeof v);
    return std::isfinite(v);
  }
  if (type == kCellDouble) {
    double v;
    std::memcpy(&v, &cell.bits, sizeof v);
    return std::isfinite(v);
  }
  return true;
}

void TellTextRefused(const std::string& problem) {
  CurrentUi().Message(kMessageCaption, "The text was not stored: " + problem,
                      MessageIcon::kWarning);
}

// The text of a number cell as "Edit record" shows it: 1 "%d", 2-4 "%u",
// 7 and 8 "%f", 9 the text.
QString RecordText(const Table& table, int row, int column) {
  const std::uint32_t type = ColumnType(table, column);
  if (type == kCellText) return QString::fromStdString(std::string(table.Text(row, column)));
  std::string out;
  if (type == kCellFloat) {
    AppendFloat(&out, table.Float(row, column));
  } else {
    AppendCellNumber(&out, table.CellForReading(row, column), type);
  }
  return QString::fromStdString(out);
}

}  // namespace

// The list's delegate: opens CCellEdit and hands its text to the list.
class CUListDelegate final : public QStyledItemDelegate {
 public:
  explicit CUListDelegate(CUList& list) : QStyledItemDelegate(&list), list_(list) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                        const QModelIndex& index) const override {
    auto* editor = new CCellEdit(parent);
    editor->setFont(list_.font());
    list_.editor_ = editor;
    list_.edit_line_ = index.row();
    list_.edit_column_ = index.column();
    return editor;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* edit = static_cast<CCellEdit*>(editor);
    const int row = list_.lines_.RowAt(index.row());
    const int column = list_.TableColumnAt(index.column());
    if (row < 0 || column < 0) return;
    edit->setText(list_.EditText(row, column));
    edit->selectAll();
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    list_.CommitCell(index.row(), index.column(), static_cast<CCellEdit*>(editor)->text());
  }
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
    if (list_.editor_ == editor) list_.editor_ = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
  }

 private:
  CUList& list_;
};

int CUListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : list_.line_count();
}

int CUListModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  int shown = 0;
  for (const ColumnEntry& e : list_.layout().entries) shown += e.visible_column >= 0 ? 1 : 0;
  return shown;
}

QVariant CUListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole && role != Qt::CheckStateRole) return {};
  const int row = list_.lines().RowAt(index.row());
  if (row < 0) return {};
  if (role == Qt::CheckStateRole) {
    const int check = list_.layout().check_boxes ? list_.table().schema().check_column : 0;
    if (index.column() != 0 || check <= 0) return {};
    return list_.table().Uint(row, check) != 0 ? Qt::Checked : Qt::Unchecked;
  }
  const ColumnEntry* entry = list_.EntryAt(index.column());
  const int column = list_.TableColumnAt(index.column());
  if (!entry || column < 0) return {};
  ++cells_read_;
  return QString::fromStdString(FormatListCell(list_.table(), row, column, entry->format));
}

QVariant CUListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const ColumnEntry* entry = list_.EntryAt(section);
  return entry ? QVariant(QString::fromUtf8(entry->column)) : QVariant();
}

Qt::ItemFlags CUListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // Check boxes are the list's own (the view never toggles them); editing
  // opens only where the list asks (no edit triggers).
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void CUListModel::LineChanged(int line) {
  if (line < 0 || line >= rowCount()) return;
  emit dataChanged(index(line, 0), index(line, std::max(0, columnCount() - 1)));
}

CCellEdit::CCellEdit(QWidget* parent) : QLineEdit(parent) {
  setObjectName(QString::number(kCellEditId));
  setFrame(false);
}

CUList::CUList(CPage* page, ColumnLayout& layout, Table& table)
    : QTableView(page), page_(page), layout_(layout), lines_(table), model_(new CUListModel(*this)) {
  check_column_ = layout.check_boxes ? table.schema().check_column : 0;
  setObjectName(QString::fromUtf8(layout.prefix));
  for (ColumnEntry& e : layout_.entries) e.visible_column = -1;
  setModel(model_);
  setItemDelegate(new CUListDelegate(*this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setWordWrap(false);
  setShowGrid(false);
  setTabKeyNavigation(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  QHeaderView* header = horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setSectionsClickable(layout.sort_mode != 0);
  connect(header, &QHeaderView::sectionClicked, this, [this](int c) { OpenHeaderMenu(c); });
  connect(header, &QHeaderView::sectionDoubleClicked, this, [this](int) { OpenRowSelect(); });
  connect(header, &QHeaderView::sectionResized, this, &CUList::OnSectionResized);
  if (page_) page_->installEventFilter(this);
  Place();
  RebuildLines();
}

CUList::~CUList() {
  if (page_) page_->removeEventFilter(this);
}

ColumnEntry* CUList::EntryAt(int column) const {
  auto& entries = layout_.entries;
  if (column < 0 || column >= static_cast<int>(entries.size())) return nullptr;
  const int shown = entries[column].shown_entry;
  if (shown < 0 || shown >= static_cast<int>(entries.size())) return nullptr;
  if (entries[shown].visible_column != column) return nullptr;
  return &entries[shown];
}

int CUList::TableColumnAt(int column) const {
  const ColumnEntry* entry = EntryAt(column);
  return entry ? table().FindColumn(entry->column) : -1;
}

void CUList::Place() {
  if (!page_) return;
  const LayoutScale& s = page_->scale();
  const QSize area = page_->size();
  const int top = s.Y(layout_.top);
  const int bottom = layout_.bottom < 0 ? area.height() - s.Y(-layout_.bottom) : s.Y(layout_.bottom);
  const int left = s.X(layout_.left);
  const int right = layout_.right < 0 ? area.width() - s.X(-layout_.right) : s.X(layout_.right);
  setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

bool CUList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == page_ && event->type() == QEvent::Resize) Place();
  return QTableView::eventFilter(watched, event);
}

void CUList::RebuildLines(int filter_column, std::uint32_t hidden_value) {
  EndEdit();
  const int selected_row = SelectedRow();
  model_->BeginReset();
  auto& entries = layout_.entries;
  int shown = 0;
  for (ColumnEntry& e : entries) e.visible_column = -1;
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    if (!entries[i].shown) continue;
    entries[i].visible_column = shown;
    entries[shown].shown_entry = i;
    ++shown;
  }
  if (shown == 0 && !entries.empty()) {  // never a list without columns
    entries[0].visible_column = 0;
    entries[0].shown_entry = 0;
    shown = 1;
  }
  lines_.Rebuild(filter_column, hidden_value, ListSortMode::kNone);
  // The sort of the list's mode, as SortLines applies it.
  int sort_column = -1;
  int sort_direction = 1;
  if (layout_.sort_mode == 2 && table().list_sort_column() != 0) {
    sort_column = table().list_sort_column();
    sort_direction = table().list_sort_direction();
  } else if (layout_.sort_mode != 0 && lines_.sort_column() >= 0) {
    sort_column = lines_.sort_column();
    sort_direction = lines_.sort_direction();
  }
  const bool sorted = sort_column >= 0 && lines_.Sort(sort_column, sort_direction);
  model_->EndReset();

  fitting_columns_ = true;
  const double h = page_ ? page_->scale().horizontal : 1.0;
  for (int c = 0; c < shown; ++c) {
    setColumnWidth(c, static_cast<int>((EntryAt(c)->width + 0.5) * h + 0.5));
  }
  fitting_columns_ = false;
  if (selected_row >= 0) {
    const int line = lines_.LineOf(selected_row);
    if (line >= 0) {
      selectionModel()->setCurrentIndex(model_->index(line, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
  }
  if (sorted) Post(layout_.sorted_message, 0, selected_row);
}

void CUList::RebuildWithFilter() { RebuildLines(lines_.filter_column(), lines_.hidden_value()); }

void CUList::SortLines(int column, int direction) {
  if (lines_.count() == 0) return;
  const int selected_row = SelectedRow();
  emit model_->layoutAboutToBeChanged();
  lines_.Sort(column, direction);
  model_->Relaid();
  // The selection stays with its row.
  const int line = lines_.LineOf(selected_row);
  if (line >= 0) {
    selectionModel()->setCurrentIndex(model_->index(line, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  Post(layout_.sorted_message, 0, selected_row);
}

int CUList::DeleteLine(int line, bool no_rebuild) {
  if (line < 0) line = SelectedLine();
  if (line < 0 || line >= lines_.count()) return -1;
  EndEdit();
  const int row = lines_.RowAt(line);
  model_->BeginRemoveLine(line);
  if (row >= 0) table().DeleteRow(row);
  lines_.RemoveLine(line);
  model_->EndRemoveLine();
  if (!no_rebuild) RebuildLines();
  return line < lines_.count() ? line : -1;
}

int CUList::SelectRow(int row) {
  const int line = lines_.LineOf(row);
  if (line >= 0) SelectLine(line);
  return line;
}

void CUList::SelectLine(int line) {
  if (line < 0 || line >= lines_.count()) {
    selectionModel()->clearSelection();
    return;
  }
  const QModelIndex index = model_->index(line, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
  scrollTo(index);
}

int CUList::SelectedLine() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

int CUList::SelectedRow() const { return lines_.RowAt(SelectedLine()); }

void CUList::RedrawLine(int line) { model_->LineChanged(line); }

void CUList::RedrawAll() { viewport()->update(); }

void CUList::Post(int message, int first, int second) const {
  if (message == 0 || !page_) return;
  QPointer<CPage> page(page_);
  MainQueue().Post([page, message, first, second] {
    if (page) page->OnPageMessage(message, first, second);
  });
}

void CUList::PostSelect() const { Post(layout_.select_message, 0, SelectedLine()); }

void CUList::OnSectionResized(int column, int, int new_size) {
  if (fitting_columns_) return;
  // Only the column the user resized: converting the others' pixels back
  // would lose a reference pixel at some scales on every resize.
  ColumnEntry* entry = EntryAt(column);
  if (!entry) return;
  const double h = page_ ? page_->scale().horizontal : 1.0;
  entry->width = std::max(0, static_cast<int>(std::trunc((new_size - 0.5) / h - 0.5)));
}

QMenu* CUList::OpenHeaderMenu(int column) {
  ColumnEntry* entry = EntryAt(column);
  const int table_column = TableColumnAt(column);
  if (!entry) return nullptr;
  const int entry_index = static_cast<int>(entry - layout_.entries.data());
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction("Hide", this, [this, entry_index] {
    layout_.entries[entry_index].shown = 0;
    RebuildWithFilter();
  });
  menu->addAction(kRowSelectCaption, this, [this] { OpenRowSelect(); });
  if (table_column >= 0) {
    menu->addAction("Sort +", this, [this, table_column] { SortLines(table_column, 1); });
    menu->addAction("Sort -", this, [this, table_column] { SortLines(table_column, -1); });
    const std::uint32_t type = ColumnType(table(), table_column);
    const int mode = layout_.menu_mode;
    if (mode == 2) {
      if (type == kCellUnsigned) {
        menu->addAction("reset", this, [this, table_column] {
          for (int line = 0; line < lines_.count(); ++line) {
            const int row = lines_.RowAt(line);
            if (row >= 0) table().SetUint(row, table_column, table().Uint(row, table_column) & 1u);
          }
          RedrawAll();
        });
      }
    } else if (mode != 0 && (type == kCellFlag || type == kCellUnsigned)) {
      menu->addAction("all On", this, [this, mode, table_column] { Post(mode, table_column, 0); });
      menu->addAction("all Off", this, [this, mode, table_column] { Post(mode + 1, table_column, 0); });
    }
    if (entry->right_click > 0) {
      const int message = entry->right_click;
      menu->addAction(QString::fromUtf8(entry->menu_caption), this,
                      [this, message, table_column] { Post(message, table_column, 0); });
    }
  }
  QHeaderView* header = horizontalHeader();
  menu->popup(header->mapToGlobal(QPoint(header->sectionViewportPosition(column), header->height())));
  return menu;
}

QDialog* CUList::OpenRowSelect() {
  auto* dialog = new CRSDlg(*this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}

QDialog* CUList::OpenEditRecord(int line, bool from_right_click) {
  const int row = lines_.RowAt(line);
  if (row < 0) return nullptr;
  auto* dialog = new CEditLineDlg(*this, row, from_right_click && layout_.delete_message != 0);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QDialog::accepted, this, [this, row] {
    const int shown = lines_.LineOf(row);
    RedrawLine(shown);
    Post(layout_.changed_message, -1, shown);
  });
  dialog->open();
  return dialog;
}

void CUList::EditCell(int line, int column) {
  EndEdit();
  if (lines_.RowAt(line) < 0 || TableColumnAt(column) < 0) return;
  const QModelIndex index = model_->index(line, column);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
  edit(index);
}

void CUList::EndEdit() {
  if (!editor_) return;
  CCellEdit* editor = editor_;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
  editor_ = nullptr;
}

QString CUList::EditText(int row, int table_column) const {
  const std::uint32_t type = ColumnType(table(), table_column);
  switch (type) {
    case kCellText:
      return QString::fromStdString(std::string(table().Text(row, table_column))).left(255);
    case kCellFloat:
    case kCellDouble: {
      std::string out;
      AppendFloat(&out, type == kCellFloat ? table().Float(row, table_column)
                                           : static_cast<float>(table().Double(row, table_column)));
      return QString::fromStdString(out);
    }
    default: {
      const ColumnEntry* entry = nullptr;
      for (const ColumnEntry& e : layout_.entries) {
        if (table().FindColumn(e.column) == table_column) entry = &e;
      }
      return QString::fromStdString(
          FormatListCell(table(), row, table_column, entry ? entry->format : "%d"));
    }
  }
}

bool CUList::CommitCell(int line, int column, const QString& text) {
  const int row = lines_.RowAt(line);
  const int table_column = TableColumnAt(column);
  if (row < 0 || table_column < 0) return false;
  const std::uint32_t type = ColumnType(table(), table_column);
  const std::string value = text.toStdString();
  if (type == kCellText) {
    const std::string problem = TextCellProblem(table(), table_column, value);
    if (!problem.empty()) {
      TellTextRefused(problem);
      return false;
    }
    table().SetText(row, table_column, value);
  } else {
    Cell parsed;
    // A number that does not parse, or does not fit, leaves the cell.
    if (ParseCellNumber(value, type, &parsed) && FiniteCell(parsed, type)) {
      table().CellForWriting(row, table_column) = parsed;
    }
  }
  RedrawLine(line);
  Post(layout_.changed_message, column, line);
  return true;
}

void CUList::scrollContentsBy(int dx, int dy) {
  EndEdit();  // scrolling commits
  QTableView::scrollContentsBy(dx, dy);
}

void CUList::SetCheckOfSelected(std::uint32_t value) {
  const int row = SelectedRow();
  if (row >= 0 && check_column_ > 0) table().SetUint(row, check_column_, value);
}

void CUList::keyPressEvent(QKeyEvent* event) {
  const int n = lines_.count();
  const int line = SelectedLine();
  const int key = event->key();
  switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
      if (n > 0) {
        const int next = line < 0 ? 0 : std::clamp(line + (key == Qt::Key_Up ? -1 : 1), 0, n - 1);
        SelectLine(next);
      }
      PostSelect();
      return;
    }
    case Qt::Key_Right:
    case Qt::Key_Left:
      if (key == Qt::Key_Left && check_column_ <= 0) return;
      if (check_column_ > 0) SetCheckOfSelected(key == Qt::Key_Right ? 1 : 0);
      RedrawLine(line);
      if (line >= 0 && line < n - 1) SelectLine(line + 1);
      return;
    case Qt::Key_Space: Post(kListSpaceKey, 0, line); return;
    case Qt::Key_Delete: Post(kListDeleteKey, 0, line); return;
    default: break;
  }
  if (key >= Qt::Key_1 && key <= Qt::Key_5) {
    Post(kListDigitKey1 + (key - Qt::Key_1), 0, line);
    return;
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) {
    const char* letter = std::strchr(kListLetterKeys, 'A' + (key - Qt::Key_A));
    if (letter) {
      Post(kListLetterKeyA + static_cast<int>(letter - kListLetterKeys), 0, line);
      return;
    }
  }
  const QString text = event->text();
  if (text.size() == 1 && text[0].unicode() < 128 &&
      std::strchr(kDiscardedCharacters, text[0].toLatin1())) {
    return;
  }
  QTableView::keyPressEvent(event);
}

void CUList::mousePressEvent(QMouseEvent* event) {
  EndEdit();  // a click commits
  const QPoint at = event->position().toPoint();
  const QModelIndex index = indexAt(at);
  if (event->button() == Qt::RightButton) {
    if (index.isValid()) {
      SelectLine(index.row());
      RightClick(index.row(), index.column());
    }
    return;
  }
  QTableView::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  if (check_column_ > 0 && index.isValid() &&
      at.x() - columnViewportPosition(0) < kCheckBoxHitWidth) {
    Post(kListCheckBoxClicked, 0, index.row());
  }
  PostSelect();
}

void CUList::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) DoubleClick(index.row(), index.column());
}

void CUList::RightClick(int line, int column) {
  const ColumnEntry* entry = EntryAt(column);
  if (layout_.right_click_message != 0 && entry && entry->right_click != 0) {
    Post(layout_.right_click_message, column, line);
    return;
  }
  OpenEditRecord(line, true);
}

void CUList::DoubleClick(int line, int column) {
  const ColumnEntry* entry = EntryAt(column);
  const int table_column = TableColumnAt(column);
  const int row = lines_.RowAt(line);
  if (!entry || table_column < 0 || row < 0) return;
  if (entry->double_click_message != 0) {
    Post(entry->double_click_message, column, line);
    return;
  }
  if (entry->read_only) return;
  if (ColumnType(table(), table_column) == kCellFlag) {
    table().SetUint(row, table_column, table().Uint(row, table_column) != 0 ? 0 : 1);
    RedrawLine(line);
    Post(layout_.changed_message, column, line);
    return;
  }
  EditCell(line, column);
}

CEditLineDlg::CEditLineDlg(CUList& list, int row, bool show_delete)
    : QDialog(&list), list_(list), row_(row) {
  setObjectName(QString::number(kEditLineDialogId));
  setWindowTitle(QString::fromStdString(list.table().name()));
  const LayoutScale scale = list.page() ? list.page()->scale() : LayoutScale{};
  const auto& entries = list.layout().entries;
  const int n = static_cast<int>(entries.size());
  const int box_height = scale.Y(kEditLineRowStep - 2);
  for (int i = 0; i < n; ++i) {
    const int x0 = (i / kEditLineRowsPerColumn) * kEditLineColumnStep;
    const int y = kEditLineTop + (i % kEditLineRowsPerColumn) * kEditLineRowStep;
    auto* label = new QLabel(QString::fromUtf8(entries[i].column), this);
    label->setGeometry(scale.X(x0 + kEditLineLabelX), scale.Y(y),
                       scale.X(kEditLineBoxX - kEditLineLabelX - 2), box_height);
    auto* box = new QLineEdit(this);
    box->setObjectName(QString::number(kEditLineFirstBoxId + i));
    box->setGeometry(scale.X(x0 + kEditLineBoxX), scale.Y(y),
                     scale.X(kEditLineBoxRight - kEditLineBoxX), box_height);
    const int column = list.table().FindColumn(entries[i].column);
    if (column >= 0) box->setText(RecordText(list.table(), row, column));
    box->setReadOnly(entries[i].read_only || column < 0);
  }
  const int width = n < kEditLineRowsPerColumn ? 300 : kEditLineColumnStep * (n / kEditLineRowsPerColumn) + 300;
  const int height = n < kEditLineRowsPerColumn ? kEditLineRowStep * n + 120 : 720;
  const int buttons_y = height - 40;
  auto* ok = new QPushButton("OK", this);
  ok->setGeometry(scale.X(width - 180), scale.Y(buttons_y), scale.X(75), scale.Y(23));
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setGeometry(scale.X(width - 95), scale.Y(buttons_y), scale.X(75), scale.Y(23));
  connect(ok, &QPushButton::clicked, this, [this] {
    if (Apply()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  if (show_delete) {
    auto* remove = new QPushButton(kDeleteThisItem, this);
    remove->setGeometry(scale.X(10), scale.Y(buttons_y), scale.X(110), scale.Y(23));
    connect(remove, &QPushButton::clicked, this, [this] {
      list_.Post(list_.layout().delete_message, 0, row_);
      reject();
    });
  }
  setFixedSize(scale.X(width), scale.Y(height));
}

bool CEditLineDlg::Apply() {
  Table& table = list_.table();
  if (!table.Exists(row_)) return true;
  const auto& entries = list_.layout().entries;
  struct Edit {
    int column;
    std::string text;
  };
  std::vector<Edit> edits;
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    const int column = table.FindColumn(entries[i].column);
    if (entries[i].read_only || column <= 0) continue;
    const auto* box = findChild<QLineEdit*>(QString::number(kEditLineFirstBoxId + i));
    if (!box) continue;
    Edit edit{column, box->text().toStdString()};
    if (ColumnType(table, column) == kCellText) {
      const std::string problem = TextCellProblem(table, column, edit.text);
      if (!problem.empty()) {  // nothing is stored, the dialog stays
        TellTextRefused(problem);
        return false;
      }
    }
    edits.push_back(std::move(edit));
  }
  for (const Edit& edit : edits) {
    const std::uint32_t type = ColumnType(table, edit.column);
    if (type == kCellText) {
      table.SetText(row_, edit.column, edit.text);
    } else if ((type == kCellFlag || type == kCellUnsigned) &&
               edit.text.find_first_not_of(" \t") == std::string::npos) {
      table.SetUint(row_, edit.column, 0);
    } else {
      Cell parsed;
      if (ParseCellNumber(edit.text, type, &parsed) && FiniteCell(parsed, type)) {
        table.CellForWriting(row_, edit.column) = parsed;
      }
    }
  }
  return true;
}

CRSDlg::CRSDlg(CUList& list) : QDialog(&list), list_(list) {
  setObjectName(QString::number(kRowSelectDialogId));
  setWindowTitle(kRowSelectCaption);
  rows_ = new QTableWidget(static_cast<int>(list.layout().entries.size()), 2, this);
  rows_->setHorizontalHeaderLabels({"ROW", "ON"});
  rows_->setColumnWidth(0, kRowSelectNameWidth);
  rows_->setColumnWidth(1, kRowSelectFlagWidth);
  rows_->verticalHeader()->hide();
  rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
  rows_->setSelectionMode(QAbstractItemView::SingleSelection);
  rows_->setGeometry(10, 10, kRowSelectNameWidth + kRowSelectFlagWidth + 24, 300);
  connect(rows_, &QTableWidget::cellClicked, this, [this](int entry, int) { Toggle(entry); });
  auto* all_on = new QPushButton("allOn", this);
  auto* all_off = new QPushButton("allOff", this);
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  const int x = rows_->geometry().right() + 10;
  all_on->setGeometry(x, 10, 75, 23);
  all_off->setGeometry(x, 40, 75, 23);
  ok->setGeometry(x, 247, 75, 23);
  cancel->setGeometry(x, 277, 75, 23);
  ok->setDefault(true);
  connect(all_on, &QPushButton::clicked, this, [this] { SetAll(true); });
  connect(all_off, &QPushButton::clicked, this, [this] { SetAll(false); });
  connect(ok, &QPushButton::clicked, this, [this] {
    list_.RebuildWithFilter();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(x + 85, 320);
  Refresh();
}

void CRSDlg::Refresh() {
  const auto& entries = list_.layout().entries;
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    rows_->setItem(i, 0, new QTableWidgetItem(QString::fromUtf8(entries[i].column)));
    rows_->setItem(i, 1, new QTableWidgetItem(entries[i].shown ? "*" : ""));
  }
}

void CRSDlg::Toggle(int entry) {
  auto& entries = list_.layout().entries;
  if (entry < 0 || entry >= static_cast<int>(entries.size())) return;
  entries[entry].shown = entries[entry].shown ? 0 : 1;
  Refresh();
}

void CRSDlg::SetAll(bool shown) {
  for (ColumnEntry& e : list_.layout().entries) e.shown = shown ? 1 : 0;
  Refresh();
}

}  // namespace mr4
