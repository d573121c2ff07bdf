#include "analysis/page_class.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "analysis/analysis_context.h"
#include "analysis/analysis_run.h"
#include "analysis/object_class.h"
#include "analysis/showers.h"
#include "app/column_layouts.h"
#include "app/settings.h"
#include "base/error.h"
#include "clips/clip_file_ops.h"
#include "clips/current_clip.h"
#include "platform/message_queue.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"

namespace mr4 {
namespace {

// The reference layout of the page [reference px]: the thresholds left of
// the extra-class list, the commands between the shower and object lists.
constexpr int kButtonHeight = 18;
constexpr int kRowCommands = 267;
constexpr int kFieldPitch = 18;
constexpr int kGroupTop = 2;
constexpr int kTypeGroupX = 2;
constexpr int kTypeGroupWidth = 140;
constexpr int kStreamGroupX = 146;
constexpr int kStreamGroupWidth = 100;

AnalysisContext& MainContext() { return AnalysisContextAt(0); }

void ShowTab(Host host, int tab) {
  if (CUDlg* window = MainWindow()) window->host(host)->OpenTab(tab);
}

// The current object when it belongs to the current clip, else -1.
int CurrentObjectOfClip() {
  const CurrentClipState& c = CurrentClip();
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  if (c.row < 0 || !clips.Exists(c.row)) return -1;
  const int o = c.current_object;
  if (o < 0 || o >= objects.count() || !objects.Exists(o)) return -1;
  return objects.Int(o, obj::kCline) == c.row ? o : -1;
}

// Every opened page that shows the clip's line redraws it and refills its
// object list.
void NotifyClipRow(int clip_row) {
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(clip_row);
}

}  // namespace

CPageClass::CPageClass(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kClass, scale, parent) {}

void CPageClass::OnInitPage() {
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  Settings& s = AppSettings();
  maxdps_ = static_cast<float>(MainContext().params.maxdps);

  struct FieldSpec {
    std::variant<int*, float*, std::string*> value;
    const char* label;
    double step, minimum, maximum;
    const char* unit;  // nullptr: none
  };
  const FieldSpec specs[kClassParamCount] = {
      {&s.c_tmin, "noise <", 0.01, 0, 10, "sec"},
      {&s.c_smax, "(flash)>", 50, 1, 1000000, "pixel"},
      {&maxdps_, "fast  >", 0.1, 0, 1000, "deg/sec"},
      {&s.c_vmin, "slow  <", 0.1, 0, 1000, "deg/sec"},
      {&s.c_cmax, "curve >", 0.01, 0, 10, "deg"},
      {&s.c_ddays, "+days", 1, -100, 100, nullptr},
      {&s.c_Nr, "Nr", 0.1, 0, 20, nullptr},
      {&s.c_Nv, "Nv", 0.1, 0, 20, nullptr},
  };
  auto* type_group = new QGroupBox("type param", this);
  type_group->setGeometry(scale().X(kTypeGroupX), scale().Y(kGroupTop), scale().X(kTypeGroupWidth),
                          scale().Y(16 + 5 * kFieldPitch));
  auto* stream_group = new QGroupBox("stream param", this);
  stream_group->setGeometry(scale().X(kStreamGroupX), scale().Y(kGroupTop),
                            scale().X(kStreamGroupWidth), scale().Y(16 + 3 * kFieldPitch));
  for (int i = 0; i < kClassParamCount; ++i) {
    const FieldSpec& spec = specs[i];
    const bool type_param = i < 5;
    const int k = type_param ? i : i - 5;
    ParamDescriptor field{spec.value};
    field.x = (type_param ? kTypeGroupX : kStreamGroupX) + 4;
    field.row = kGroupTop + 14 + k * kFieldPitch;
    field.label = spec.label;
    field.label_width = type_param ? 36 : 30;
    field.edit_width = type_param ? 46 : 44;
    field.minimum = spec.minimum;
    field.maximum = spec.maximum;
    field.limit = ParamLimit::kClamp;
    field.step = spec.step;
    field.id_base = kClassParamIdBase + 5 * i;
    auto* edit = new CUDEdit(this, field, scale(), [this, i](int) {
      if (updating_) return;
      if (i == 2) MainContext().params.maxdps = maxdps_;
    });
    params_[static_cast<std::size_t>(i)] = edit;
    if (spec.unit) {
      auto* unit = new QLabel(spec.unit, this);
      unit->setGeometry(scale().X(field.x + field.label_width + field.edit_width + 14),
                        scale().Y(field.row + 1), scale().X(38), scale().Y(14));
    }
  }

  struct ButtonSpec {
    int id;
    const char* caption;
    int x, width;
  };
  const ButtonSpec buttons[] = {
      {kCmdReclass, "re-class", 1, 50},
      {kCmdReclassAll, "re-class all", 53, 60},
      {kCmdDeleteClassObject, "delete an obj", 160, 62},
      {kCmdDeleteClassClip, "delete a cip", 224, 60},
  };
  for (const ButtonSpec& b : buttons) {
    auto* button = new QPushButton(b.caption, this);
    button->setObjectName(QString::number(b.id));
    button->setGeometry(scale().X(b.x), scale().Y(kRowCommands), scale().X(b.width),
                        scale().Y(kButtonHeight));
    connect(button, &QPushButton::clicked, this, [this, id = b.id] { Command(id); });
  }

  ProcessTables& tables = Tables();
  extra_classes_ = new CUList(this, *FindColumnLayout("UE"), tables.eclass);
  showers_ = new CUList(this, *FindColumnLayout("US"), tables.shower);
  objects_ = new CUList(this, *FindColumnLayout("UO3"), tables.obj);
  clips_ = new CUList(this, *FindColumnLayout("UC3"), tables.clip);
  extra_classes_->RebuildLines();
  showers_->RebuildLines();
  clips_->RebuildLines();
  Refresh();
}

void CPageClass::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  // The other pages may have scanned or deleted clips meanwhile.
  clips_->RebuildLines();
  extra_classes_->RebuildLines();
  showers_->RebuildLines();
  if (CurrentClip().row >= 0) clips_->SelectRow(CurrentClip().row);
  PostMessage(1325);
}

void CPageClass::PostMessage(int message) {
  QPointer<CPageClass> page(this);
  MainQueue().Post([page, message] {
    if (page) page->OnPageMessage(message, 0, 0);
  });
}

void CPageClass::Refresh() {
  if (!initialised()) return;
  updating_ = true;
  maxdps_ = static_cast<float>(MainContext().params.maxdps);
  for (CUDEdit* f : params_) f->Redisplay();
  const CurrentClipState& c = CurrentClip();
  if (c.row >= 0) {
    clips_->SelectRow(c.row);
    clips_->RedrawLine(clips_->SelectedLine());
  }
  objects_->RebuildLines(obj::kDisp, 0);
  ShowCurrentObject();
  updating_ = false;
}

void CPageClass::ShowCurrentObject() {
  const int o = CurrentObjectOfClip();
  if (o >= 0) objects_->SelectRow(o);
  // The shower list's working columns: the clip's solar longitude on every
  // row, the object's values on the rows of its class. The clip may have
  // been opened by another page, which does not fill them.
  if (CurrentClip().row >= 0) SelectCurrentObject(o);
  showers_->RedrawAll();
}

void CPageClass::RedrawClipRow(int clip_row) {
  if (!initialised()) return;
  clips_->RedrawLine(clip_row < 0 ? clips_->SelectedLine() : clips_->lines().LineOf(clip_row));
  objects_->RebuildLines(obj::kDisp, 0);
  ShowCurrentObject();
}

void CPageClass::ReloadClipLists() {
  if (!initialised()) return;
  clips_->RebuildLines();
  Refresh();
}

bool CPageClass::HasClipLines() const { return clips_ && clips_->line_count() > 0; }

std::optional<int> CPageClass::SelectedClipLine() const {
  if (!clips_) return std::nullopt;
  const int line = clips_->SelectedLine();
  return line < 0 ? std::nullopt : std::optional<int>(line);
}

void CPageClass::SelectClipRow(int clip_row) {
  if (clips_) clips_->SelectRow(clip_row);
}

void CPageClass::OnClipSelected(int) {
  const int row = clips_->lines().RowAt(clips_->SelectedLine());
  if (row < 0) return;
  MakeClipCurrent(row);
  SelectCurrentObject(CurrentClip().current_object);
  Refresh();
}

void CPageClass::OnPageMessage(int message, int, int second) {
  if (!initialised()) return;
  switch (message) {
    case 1325: OnClipSelected(second); return;
    case 1326: {
      const int row = CurrentClip().row;
      const int line = row >= 0 ? clips_->lines().LineOf(row) : 0;
      clips_->SelectLine(std::max(0, line));
      OnClipSelected(line);
      return;
    }
    case 1328: ObjectSelected(); return;
    case 1331:
      if (CurrentObjectOfClip() >= 0) OpenChangeClassDialog(this);
      return;
    case kMsgExtraClassSelected: ChooseExtraClassLine(extra_classes_->SelectedLine()); return;
    case kMsgShowerSelected: ChooseShowerLine(showers_->SelectedLine()); return;
    case kMsgShowerEdited: ShowerEdited(showers_->SelectedLine()); return;
    default: break;
  }
  if (message >= kListDigitKey1 && message < kListDigitKey1 + 5) {
    ShowTab(Host::kLeft, message - kListDigitKey1);
  } else if (message >= kListLetterKeyA + 3 && message <= kListLetterKeyA + 6) {
    ShowTab(Host::kRight, message - (kListLetterKeyA + 3));
  }
}

void CPageClass::Command(int id) {
  if (!initialised()) return;
  switch (id) {
    case kCmdReclass: Reclass(); return;
    case kCmdReclassAll: ReclassAll(); return;
    case kCmdDeleteClassObject: DeleteObject(); return;
    case kCmdDeleteClassClip: DeleteClip(); return;
    default: return;
  }
}

void CPageClass::ObjectSelected() {
  const int line = objects_->SelectedLine();
  if (line < 0 || line >= objects_->line_count()) return;
  CurrentClip().object_selection = line;
  SelectCurrentObject(objects_->lines().RowAt(line));
  Refresh();
}

void CPageClass::ClipRowChanged(int clip_row) {
  if (MainWindow()) {
    NotifyClipRow(clip_row);
  } else {
    RedrawClipRow(clip_row);
  }
}

void CPageClass::ReloadOtherPages() {
  if (CUDlg* window = MainWindow()) window->ReloadClipLists();
}

void CPageClass::Reclass() {
  const int clip_row = CurrentClip().row;
  const int o = CurrentObjectOfClip();
  if (o < 0) return;
  AnalysisContext& c = MainContext();
  LoadClipForClassing(c, clip_row);
  ReclassifyObject(c, clip_row, o);
  ClipRowChanged(clip_row);
  SaveClipResult(c, clip_row);
  SelectCurrentObject(o);
  Refresh();
  ReloadOtherPages();
}

void CPageClass::ReclassAll() {
  const int current = CurrentClip().row;
  ReclassifyAllClips(MainContext(), [this](int clip_row) {
    clips_->RedrawLine(clips_->lines().LineOf(clip_row));
  });
  // The clip that was current before is shown again.
  if (current >= 0 && Tables().clip.Exists(current)) MakeClipCurrent(current);
  SelectCurrentObject(CurrentClip().current_object);
  Refresh();
  ReloadOtherPages();
}

void CPageClass::ChooseShowerLine(int line) {
  const int shower_row = showers_->lines().RowAt(line);
  const int o = CurrentObjectOfClip();
  if (shower_row < 0 || o < 0) return;
  const int clip_row = CurrentClip().row;
  const ShowerChoice choice = ChooseShower(MainContext(), clip_row, o, shower_row);
  if (choice == ShowerChoice::kNotSelectable) {
    const std::string code(Tables().shower.Text(shower_row, shower::kCode));
    ShowError(kNotSelectableMessage, code.c_str());
    return;
  }
  if (choice == ShowerChoice::kNoObject) return;
  SelectCurrentObject(o);
  ClipRowChanged(clip_row);
  Refresh();
}

void CPageClass::ChooseExtraClassLine(int line) {
  const int row = extra_classes_->lines().RowAt(line);
  const int o = CurrentObjectOfClip();
  if (row < 0 || o < 0) return;
  const int clip_row = CurrentClip().row;
  const std::string name(Tables().eclass.Text(row, eclass::kEcls));
  ChooseExtraClass(MainContext(), clip_row, o, name);
  ClipRowChanged(clip_row);
  Refresh();
}

void CPageClass::ShowerEdited(int line) {
  const int row = showers_->lines().RowAt(line);
  if (row < 0) return;
  FillShowerDates(row, AppSettings().Y);
  showers_->RedrawLine(line);
}

void CPageClass::DeleteClip() {
  const int line = clips_->SelectedLine();
  const int row = clips_->lines().RowAt(line);
  if (row < 0) return;
  const int next = clips_->lines().RowAt(line + 1);
  FileOpRun run;
  ::mr4::DeleteClip(row, next, run);
  clips_->RebuildLines();
  ReloadOtherPages();
  const int current = CurrentClip().row;
  const int shown = current >= 0 ? clips_->lines().LineOf(current) : -1;
  clips_->SelectLine(shown >= 0 ? shown : 0);
  PostMessage(1325);
}

void CPageClass::DeleteObject() {
  const int line = objects_->SelectedLine();
  const int object_row = objects_->lines().RowAt(line);
  const int clip_row = CurrentClip().row;
  if (object_row < 0 || clip_row < 0) return;
  DeleteObjectOfClip(MainContext(), clip_row, object_row);
  ClipRowChanged(clip_row);
  MakeClipCurrent(clip_row);
  objects_->RebuildLines(obj::kDisp, 0);
  if (line < objects_->line_count()) {
    objects_->SelectLine(line);
    PostMessage(1328);
  } else {
    Refresh();
  }
}

CChangeClassDlg::CChangeClassDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kChangeClassCaption);
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  const Table& classes = Tables().eclass;
  for (int row = 0; row < classes.count(); ++row) {
    if (!classes.Exists(row)) continue;
    list_->addItem(QString::fromUtf8(classes.Text(row, eclass::kEcls)));
    rows_.push_back(row);
  }
  layout->addWidget(list_);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName(QString::number(kCmdCancelChangeClass));
  layout->addWidget(cancel);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { Choose(list_->row(item)); });
}

void CChangeClassDlg::Choose(int line) {
  if (line < 0 || line >= static_cast<int>(rows_.size())) return;
  const int o = CurrentObjectOfClip();
  if (o >= 0) {
    const int clip_row = CurrentClip().row;
    const std::string name(Tables().eclass.Text(rows_[static_cast<std::size_t>(line)], eclass::kEcls));
    ChooseExtraClass(MainContext(), clip_row, o, name);
    NotifyClipRow(clip_row);
  }
  accept();
}

CChangeClassDlg* OpenChangeClassDialog(QWidget* parent) {
  auto* dialog = new CChangeClassDlg(parent);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->open();
  // Beside the list it was opened from rather than over it.
  const LayoutScale scale = MainWindow() ? MainWindow()->layout_scale() : LayoutScale{};
  dialog->move(dialog->pos() + QPoint(scale.X(150), scale.Y(100)));
  return dialog;
}

}  // namespace mr4
