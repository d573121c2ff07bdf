#include "maps/page_plot.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <initializer_list>

#include "maps/map_display.h"
#include "analysis/showers.h"
#include "app/column_layouts.h"
#include "app/settings.h"
#include "clips/current_clip.h"
#include "platform/message_queue.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"

namespace mr4 {
namespace {

CPageGPlot* g_plot_page = nullptr;

// The reference layout of the page [reference px]: the two switches top
// left, the extra-class list below them, the group "Ground map plot" to
// their right, then the shower, object and clip lists. The group and its
// controls sit kGroupShift right of the dialog's own places, so that the
// extra-class list (to x = 108) leaves its boxes and labels uncovered, and
// the profile list starts right of the fields' spins.
constexpr int kGroupShift = 16;
constexpr int kButtonTop = 3;
constexpr int kButtonHeight = 20;
constexpr int kGroupX = 94 + kGroupShift;
constexpr int kGroupY = 3;
constexpr int kGroupRightMargin = 3;  // from the page's reference width
constexpr int kGroupHeight = 142;
constexpr int kBoxX = 103 + kGroupShift;
constexpr int kBoxSize = 16;
constexpr int kHeightFieldX = 140 + kGroupShift;
constexpr int kDivFieldX = 124 + kGroupShift;
constexpr int kFieldEditWidth = 32;
constexpr int kFieldSpinWidth = 12;
constexpr int kProfileListX = kHeightFieldX + 6 + kFieldEditWidth + kFieldSpinWidth + 4;
constexpr int kProfileListY = 18;
constexpr int kProfileListHeight = 124;
constexpr int kProfileColumnWidth = 138;  // [px]
constexpr int kPageReferenceWidth = 345;

// The heights' boxes h0, h1, h2 with their rows, and the settings they
// switch.
struct HeightSpec {
  int id;
  int row;
  int Settings::*on;
};
constexpr HeightSpec kHeights[3] = {
    {kCmdPlotHeight0, 80, &Settings::g_h0on},
    {kCmdPlotHeight1, 58, &Settings::g_h1on},
    {kCmdPlotHeight2, 37, &Settings::g_h2on},
};

void ShowTab(Host host, int tab) {
  if (CUDlg* window = MainWindow()) window->host(host)->OpenTab(tab);
}

bool MapPageShowing() {
  CUDlg* window = MainWindow();
  if (!window) return false;
  for (PageId id : {PageId::kGroundMap, PageId::kTrailMap}) {
    CPage* page = window->OpenedPage(id);
    if (page && page->isVisible()) return true;
  }
  return false;
}

void RepaintShowing(std::initializer_list<PageId> ids) {
  CUDlg* window = MainWindow();
  if (!window) return;
  for (PageId id : ids) {
    CPage* page = window->OpenedPage(id);
    if (page && page->isVisible()) page->update();
  }
}

// With a shower or class chosen the maps show every object switched on,
// not the current clip's.
void CloseCurrentClip() {
  CurrentClip().object_selection = -1;
  MakeClipCurrent(-1);
  SelectCurrentObject(-1);
}

}  // namespace

CPageGPlot* PlotPage() { return g_plot_page; }

void RedrawMaps() { RepaintShowing({PageId::kGroundMap, PageId::kTrailMap}); }

CPageGPlot::CPageGPlot(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kPlot, scale, parent) {}

void CPageGPlot::OnInitPage() {
  g_plot_page = this;
  connect(this, &QObject::destroyed, [] { g_plot_page = nullptr; });
  setStyleSheet("QPushButton { padding: 0px 1px; }");

  struct ButtonSpec {
    int id;
    const char* caption;
    int x, y, width, height;
  };
  const ButtonSpec buttons[] = {
      {kCmdAllDisp, "all disp", 3, kButtonTop, 39, kButtonHeight},
      {kCmdAllOff, "all off", 42, kButtonTop, 38, kButtonHeight},
      {kCmdPlotFill, "fill", 110 + kGroupShift, 125, 56, 18},
  };
  auto* group = new QGroupBox("Ground map plot", this);
  const int group_width = kPageReferenceWidth - kGroupRightMargin - kGroupX;
  group->setGeometry(scale().X(kGroupX), scale().Y(kGroupY), scale().X(group_width),
                     scale().Y(kGroupHeight));
  auto* fov = new QLabel("FOV plot (km)", this);
  fov->setGeometry(scale().X(kBoxX), scale().Y(20), scale().X(72), scale().Y(14));
  for (const ButtonSpec& b : buttons) {
    auto* button = new QPushButton(b.caption, this);
    button->setObjectName(QString::number(b.id));
    button->setGeometry(scale().X(b.x), scale().Y(b.y), scale().X(b.width), scale().Y(b.height));
    connect(button, &QPushButton::clicked, this, [this, id = b.id] { Command(id); });
  }

  Settings& s = AppSettings();
  for (int i = 0; i < 3; ++i) {
    auto* box = new QCheckBox(this);
    box->setObjectName(QString::number(kHeights[i].id));
    box->setGeometry(scale().X(kBoxX), scale().Y(kHeights[i].row), scale().X(kBoxSize),
                     scale().Y(kBoxSize));
    box->setChecked(s.*kHeights[i].on != 0);
    // The box shows the setting; a click toggles the setting.
    connect(box, &QCheckBox::clicked, this, [this, i] { ToggleHeight(i); });
    height_boxes_[static_cast<std::size_t>(i)] = box;
  }

  struct FieldSpec {
    int* value;
    const char* label;
    int x, row, label_width;
    double maximum;
  };
  const FieldSpec fields[kPlotParamCount] = {
      {&s.g_h2, "", kHeightFieldX, 34, 6, 10000},
      {&s.g_h1, "", kHeightFieldX, 54, 6, 10000},
      {&s.g_h0, "", kHeightFieldX, 74, 6, 10000},
      {&s.g_line, "div", kDivFieldX, 94, 22, 100},
  };
  for (int i = 0; i < kPlotParamCount; ++i) {
    const FieldSpec& spec = fields[i];
    ParamDescriptor field{spec.value};
    field.x = spec.x;
    field.row = spec.row;
    field.label = spec.label;
    field.label_width = spec.label_width;
    field.edit_width = kFieldEditWidth;
    field.minimum = 1;
    field.maximum = spec.maximum;
    field.limit = ParamLimit::kClamp;
    field.step = 1;
    field.id_base = kPlotParamIdBase + 5 * i;
    params_[static_cast<std::size_t>(i)] = new CUDEdit(this, field, scale(), [this](int) {
      if (!updating_) RedrawMaps();
    });
  }

  profiles_ = new QTableWidget(0, 1, this);
  profiles_->setObjectName(QString::number(kCmdPlotProfiles));
  const int profile_width = kPageReferenceWidth - kGroupRightMargin - 6 - kProfileListX;
  profiles_->setGeometry(scale().X(kProfileListX), scale().Y(kProfileListY),
                         scale().X(profile_width), scale().Y(kProfileListHeight));
  profiles_->horizontalHeader()->hide();
  profiles_->verticalHeader()->hide();
  profiles_->setHorizontalHeaderLabels({"profile"});
  profiles_->setColumnWidth(0, scale().X(kProfileColumnWidth));
  profiles_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  profiles_->setSelectionBehavior(QAbstractItemView::SelectRows);
  profiles_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  profiles_->setShowGrid(false);
  profiles_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  connect(profiles_, &QTableWidget::itemSelectionChanged, this,
          [this] { ProfileSelectionChanged(); });

  ProcessTables& tables = Tables();
  clips_ = new CUList(this, *FindColumnLayout("UC4"), tables.clip);
  objects_ = new CUList(this, *FindColumnLayout("UO4"), tables.obj);
  showers_ = new CUList(this, *FindColumnLayout("US2"), tables.shower);
  extra_classes_ = new CUList(this, *FindColumnLayout("UE2"), tables.eclass);
  clips_->RebuildLines();
  objects_->RebuildLines(obj::kDisp, 0);
  extra_classes_->RebuildLines();
  updating_ = false;
  // The host shows a page before it first opens it.
  if (isVisible()) Activate();
}

void CPageGPlot::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (initialised()) Activate();
}

void CPageGPlot::Activate() {
  // A page shown again because the hosts are fitted to a new size keeps
  // its profile list and the selection in it.
  const CUDlg* window = MainWindow();
  if (!window || !window->sizing()) {
    ReloadPlotProfiles();
    ShowProfiles();
  }
  // The other pages may have scanned or deleted clips meanwhile.
  clips_->RebuildLines();
  extra_classes_->RebuildLines();
  Refresh();
  shown_ = true;
  if (clips_->line_count() > 0 && clips_->SelectedLine() >= 0) {
    QPointer<CPageGPlot> page(this);
    const int line = clips_->SelectedLine();
    MainQueue().Post([page, line] {
      if (page) page->OnPageMessage(1325, 0, line);
    });
  }
}

void CPageGPlot::hideEvent(QHideEvent* event) {
  CPage::hideEvent(event);
  shown_ = false;
}

void CPageGPlot::ShowProfiles() {
  const GroundMapPlot& plot = MapDisplay().ground;
  filling_profiles_ = true;
  profiles_->clearSelection();
  profiles_->setRowCount(static_cast<int>(plot.profiles.size()));
  for (std::size_t i = 0; i < plot.profiles.size(); ++i) {
    profiles_->setItem(static_cast<int>(i), 0,
                       new QTableWidgetItem(QString::fromStdString(plot.profiles[i])));
  }
  filling_profiles_ = false;
}

void CPageGPlot::ProfileSelectionChanged() {
  GroundMapPlot& plot = MapDisplay().ground;
  plot.selected.assign(plot.profiles.size(), false);
  for (const QModelIndex& index : profiles_->selectionModel()->selectedRows()) {
    const auto line = static_cast<std::size_t>(index.row());
    if (line < plot.selected.size()) plot.selected[line] = true;
  }
  if (!filling_profiles_) RedrawMaps();
}

void CPageGPlot::Refresh() {
  if (!initialised()) return;
  updating_ = true;
  objects_->RebuildLines(obj::kDisp, 0);
  const CurrentClipState& c = CurrentClip();
  if (c.current_object >= 0) objects_->SelectRow(c.current_object);
  if (c.row >= 0) {
    clips_->SelectRow(c.row);
    clips_->RedrawLine(clips_->SelectedLine());
  }
  CountObjectsPerClass();
  extra_classes_->RedrawAll();
  showers_->SortLines(shower::kCnt, -1);
  showers_->RebuildLines(shower::kInUse, 0);
  for (CUDEdit* f : params_) f->Redisplay();
  MapDisplay().selected_shower = -1;
  updating_ = false;
}

void CPageGPlot::RedrawClipRow(int clip_row) {
  if (!initialised()) return;
  clips_->RedrawLine(clip_row < 0 ? clips_->SelectedLine() : clips_->lines().LineOf(clip_row));
  objects_->RebuildLines(obj::kDisp, 0);
  if (CurrentClip().current_object >= 0) objects_->SelectRow(CurrentClip().current_object);
}

void CPageGPlot::ReloadClipLists() {
  if (!initialised()) return;
  clips_->RebuildLines();
  Refresh();
}

bool CPageGPlot::HasClipLines() const { return clips_ && clips_->line_count() > 0; }

std::optional<int> CPageGPlot::SelectedClipLine() const {
  if (!clips_) return std::nullopt;
  const int line = clips_->SelectedLine();
  return line < 0 ? std::nullopt : std::optional<int>(line);
}

void CPageGPlot::SelectClipRow(int clip_row) {
  if (clips_) clips_->SelectRow(clip_row);
}

void CPageGPlot::OnClipSelected(int) {
  CurrentClip().object_selection = -1;
  const int line = clips_->SelectedLine();
  if (line >= 0 && line < clips_->line_count()) {
    const int row = clips_->lines().RowAt(line);
    // With a map in front the clip already current stays open as it is:
    // opening it again would only reload what the map shows.
    if (row >= 0 && !(MapPageShowing() && row == CurrentClip().row)) {
      MakeClipCurrent(row);
      SelectCurrentObject(CurrentClip().current_object);
    }
    Refresh();
  }
  clips_->setFocus();
}

void CPageGPlot::ShowCurrentClip() {
  const int row = CurrentClip().row;
  const int line = row >= 0 ? clips_->lines().LineOf(row) : 0;
  if (clips_->line_count() > 0) clips_->SelectLine(std::max(0, line));
  if (row >= 0) {
    MakeClipCurrent(row);
    SelectCurrentObject(CurrentClip().current_object);
    Refresh();
  }
}

void CPageGPlot::ObjectSelected() {
  const int line = objects_->SelectedLine();
  if (line < 0 || line >= objects_->line_count()) return;
  CurrentClip().object_selection = line;
  SelectCurrentObject(objects_->lines().RowAt(line));
  RepaintShowing({PageId::kView, PageId::kMask, PageId::kTrailMap, PageId::kGroundMap});
  Refresh();
}

void CPageGPlot::OnPageMessage(int message, int, int second) {
  if (!initialised()) return;
  switch (message) {
    case 1325: OnClipSelected(second); return;
    case 1326: ShowCurrentClip(); return;
    case 1328: ObjectSelected(); return;
    case kMsgPlotShowerSelected: ShowerChosen(false); return;
    case kMsgPlotShowerDispClicked: ShowerChosen(true); return;
    case kMsgPlotExtraClassSelected: ExtraClassChosen(false); return;
    case kMsgPlotExtraClassDispClicked: ExtraClassChosen(true); return;
    default: break;
  }
  if (message >= kListDigitKey1 && message < kListDigitKey1 + 5) {
    ShowTab(Host::kLeft, message - kListDigitKey1);
  } else if (message >= kListLetterKeyA + 3 && message <= kListLetterKeyA + 6) {
    ShowTab(Host::kRight, message - (kListLetterKeyA + 3));
  }
}

void CPageGPlot::Command(int id) {
  if (!initialised()) return;
  switch (id) {
    case kCmdAllDisp: SetAll(true); return;
    case kCmdAllOff: SetAll(false); return;
    case kCmdPlotHeight0: ToggleHeight(0); return;
    case kCmdPlotHeight1: ToggleHeight(1); return;
    case kCmdPlotHeight2: ToggleHeight(2); return;
    case kCmdPlotFill: Fill(); return;
    default: return;
  }
}

void CPageGPlot::ToggleHeight(int index) {
  int& on = AppSettings().*kHeights[index].on;
  on = on != 0 ? 0 : 1;
  height_boxes_[static_cast<std::size_t>(index)]->setChecked(on != 0);
  RedrawMaps();
}

void CPageGPlot::SetAll(bool on) {
  SetAllMapDisplay(on);
  clips_->RedrawAll();
  objects_->RebuildLines(obj::kDisp, 0);
  showers_->RedrawAll();
  extra_classes_->RedrawAll();
  RedrawMaps();
}

void CPageGPlot::ShowerChosen(bool disp_clicked) {
  CloseCurrentClip();
  if (disp_clicked) SetAllMapDisplay(false);
  const int line = showers_->SelectedLine();
  if (line >= 0 && line < showers_->line_count()) {
    const int row = showers_->lines().RowAt(line);
    MapDisplay().selected_shower = row;
    ToggleShowerDisplay(row);
    showers_->RedrawLine(line);
  }
  if (disp_clicked) showers_->RedrawAll();
  AfterDisplayChange();
}

void CPageGPlot::ExtraClassChosen(bool disp_clicked) {
  CloseCurrentClip();
  if (disp_clicked) SetAllMapDisplay(false);
  const int line = extra_classes_->SelectedLine();
  if (line >= 0 && line < extra_classes_->line_count()) {
    ToggleExtraClassDisplay(extra_classes_->lines().RowAt(line));
    extra_classes_->RedrawLine(line);
  }
  if (disp_clicked) {
    showers_->RedrawAll();
    extra_classes_->RedrawAll();
  }
  AfterDisplayChange();
}

void CPageGPlot::AfterDisplayChange() {
  clips_->SortLines(clip::kDisp, -1);
  clips_->RebuildLines();
  objects_->RebuildLines(obj::kDisp, 0);
  RedrawMaps();
}

void CPageGPlot::Fill() {
  MapDisplay().ground.fill = true;
  if (CUDlg* window = MainWindow()) {
    CPage* map = window->OpenedPage(PageId::kGroundMap);
    if (map && map->isVisible()) map->repaint();
  }
  MapDisplay().ground.fill = false;
}

}  // namespace mr4
