#include "utility/page_uty.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <string>

#include "analysis/analysis_context.h"
#include "analysis/page_class.h"
#include "analysis/showers.h"
#include "app/column_layouts.h"
#include "app/settings.h"
#include "app/stop_dlg.h"
#include "base/error.h"
#include "base/process_values.h"
#include "clips/clip_file_ops.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/dispatch_dlg.h"
#include "platform/message_queue.h"
#include "platform/processing_state.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "reports/export_files.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"
#include "utility/object_export.h"
#include "utility/peak_hold.h"
#include "utility/time_adjust.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The reference layout of the page [reference px]. The object list takes
// 134 to 230, the clip list 252 to the version line.
constexpr int kButtonHeight = 18;
constexpr int kBoxHeight = 16;
constexpr double kButtonFontFactor = 0.9;
constexpr int kRowTools = 2;
constexpr int kRowFiles = 22;
constexpr int kRowOutDir = 44;
constexpr int kRowCatalogue = 62;
constexpr int kRowCommand = 80;
constexpr int kRowFields = 116;
constexpr int kRowSwitches = 234;
constexpr int kVersionLineHeight = 14;

constexpr char kOutDirTitle[] = "Output directory";
constexpr char kCatalogueTitle[] = "Stream Catalog";
constexpr char kCommandTitle[] = "after command";
constexpr char kCatalogueOutsideHome[] = "Please select csv file that exist in MR4 directory";
constexpr char kTestCommandQuestion[] = "Test execution of after move C OK?";

// How often a running peak hold looks at the processing dialog's Stop [ms].
constexpr int kStopPollMs = 100;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CPageUty::CPageUty(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kUty, scale, parent) {}

QPushButton* CPageUty::AddButton(int id, const char* caption, int x, int y, int width) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(scale().X(x), scale().Y(y), scale().X(width), scale().Y(kButtonHeight));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * kButtonFontFactor);
  button->setFont(small);
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  return button;
}

QCheckBox* CPageUty::AddCheck(int id, const char* caption, int x, int y, int width) {
  auto* box = new QCheckBox(caption, this);
  box->setObjectName(QString::number(id));
  box->setGeometry(scale().X(x), scale().Y(y), scale().X(width), scale().Y(kBoxHeight));
  // The setting follows the click; the exclusions are the command's.
  connect(box, &QCheckBox::clicked, this, [this, id] {
    if (!updating_) Command(id);
  });
  return box;
}

QLineEdit* CPageUty::AddPathBox(const char* label, int label_width, int y) {
  int x = 1;
  if (label_width > 0) {
    auto* text = new QLabel(label, this);
    text->setGeometry(scale().X(x), scale().Y(y), scale().X(label_width), scale().Y(kBoxHeight));
    x += label_width;
  }
  // The path is chosen with the "..." beside it; the box shows it.
  auto* box = new QLineEdit(this);
  box->setReadOnly(true);
  box->setGeometry(scale().X(x), scale().Y(y), scale().X(318 - x), scale().Y(kBoxHeight));
  return box;
}

void CPageUty::OnInitPage() {
  ProcessTables& tables = Tables();
  Settings& s = AppSettings();
  setStyleSheet("QPushButton { padding: 0px 1px; }");

  peak_hold_ = AddButton(kUtyPeakHold, kPeakHoldCaption, 1, kRowTools, 58);
  AddButton(kUtyTimeAdjust, "TimeAdjust", 170, kRowTools, 56);
  AddButton(kUtyExportObjects, "MakeOBJ csv", 1, kRowFiles, 62);
  AddButton(kUtyDeleteResult, "Delete a AXML", 66, kRowFiles, 70);
  AddButton(kUtyDeleteResults, "Delete AXMLs", 139, kRowFiles, 66);
  AddButton(kUtyMoveFiles, "Move files", 208, kRowFiles, 52);
  // "ecsv" and "conv" are part of the page but not shown.
  AddButton(kUtyHiddenCsv, "ecsv", 262, kRowFiles, 30)->hide();
  AddButton(kUtyHiddenConvert, "conv", 294, kRowFiles, 30)->hide();

  out_dir_ = AddPathBox("out dir", 40, kRowOutDir);
  AddButton(kUtyChooseOutDir, "...", 320, kRowOutDir - 1, 18);
  catalogue_ = AddPathBox("shwr-cat", 40, kRowCatalogue);
  AddButton(kUtyChooseCatalogue, "...", 320, kRowCatalogue - 1, 18);
  command_ = AddPathBox("", 0, kRowCommand);
  AddButton(kUtyChooseCommand, "...", 320, kRowCommand - 1, 18);
  checks_[0] = AddCheck(kUtyRunAfterMove, "exec after move C", 1, kRowCommand + 18, 104);
  AddButton(kUtyTestCommand, "test", 108, kRowCommand + 17, 28);

  struct FieldSpec {
    ParamDescriptor field;
    int x, label_width, edit_width;
    const char* label;
    double minimum, maximum, step;
  };
  FieldSpec specs[] = {
      {{&s.peakf}, 62, 38, 28, "interval", 1, 1000, 1},
      {{&shift_}, 230, 34, 40, "+/- sec", -1000, 1000, 0.1},
      {{&s.a_km1}, 130, 28, 30, "H1km", 1, 1000, 1},
      {{&s.a_km2}, 204, 28, 30, "H2km", 1, 1000, 1},
      {{&s.gPAN}, 1, 38, 24, "Threads", 1, 8, 1},
  };
  const int rows[] = {kRowTools + 2, kRowTools + 2, kRowFields, kRowFields, kRowFields};
  for (int i = 0; i < 5; ++i) {
    ParamDescriptor field = specs[i].field;
    field.x = specs[i].x;
    field.row = rows[i];
    field.label = specs[i].label;
    field.label_width = specs[i].label_width;
    field.edit_width = specs[i].edit_width;
    field.minimum = specs[i].minimum;
    field.maximum = specs[i].maximum;
    field.limit = ParamLimit::kClamp;
    field.step = specs[i].step;
    field.id_base = 1430 + 5 * i;
    CUDEdit::Changed changed;
    if (i == 4) changed = [this](int) { ThreadsChanged(); };
    fields_[static_cast<std::size_t>(i)] = new CUDEdit(this, field, scale(), changed);
  }

  checks_[1] = AddCheck(kUtyTrashBox, "TrashBox", 1, kRowSwitches, 60);
  checks_[2] = AddCheck(kUtyTrashDir, "TrashDir", 64, kRowSwitches, 60);
  checks_[3] = AddCheck(kUtyAnalyzeLog, "analyzelog", 128, kRowSwitches, 66);

  version_ = new QLabel(Text(App().version_title), this);
  version_->setObjectName(QString::number(kUtyVersionLabelId));

  objects_ = new CUList(this, *FindColumnLayout("UO5"), tables.obj);
  clips_ = new CUList(this, *FindColumnLayout("UC5"), tables.clip);

  // A stored conflict of the two trash switches goes to the directory.
  if (s.trashdir != 0 && s.usetrash != 0) s.usetrash = 0;
  ShowSettings();
  RebuildClipList();
  resizeEvent(nullptr);
}

void CPageUty::resizeEvent(QResizeEvent* event) {
  if (event) CPage::resizeEvent(event);
  if (version_) {
    version_->setGeometry(scale().X(2), height() - scale().Y(kVersionLineHeight),
                          width() - scale().X(4), scale().Y(kVersionLineHeight));
  }
}

QCheckBox* CPageUty::check_box(int id) const {
  switch (id) {
    case kUtyRunAfterMove: return checks_[0];
    case kUtyTrashBox: return checks_[1];
    case kUtyTrashDir: return checks_[2];
    case kUtyAnalyzeLog: return checks_[3];
    default: return nullptr;
  }
}

void CPageUty::set_time_shift(double seconds) {
  shift_ = static_cast<float>(std::clamp(seconds, -1000.0, 1000.0));
  if (fields_[1]) fields_[1]->Redisplay();
}

void CPageUty::ShowSettings() {
  const Settings& s = AppSettings();
  updating_ = true;
  for (CUDEdit* field : fields_) field->Redisplay();
  checks_[0]->setChecked(s.moveendC != 0);
  checks_[1]->setChecked(s.usetrash != 0);
  checks_[2]->setChecked(s.trashdir != 0);
  checks_[3]->setChecked(s.a_log != 0);
  out_dir_->setText(Text(s.outdir));
  catalogue_->setText(Text(s.catalog));
  command_->setText(Text(s.moveendcom));
  updating_ = false;
}

void CPageUty::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  Refresh();
  // The selected clip is loaded, as a click on its line does.
  if (clips_->SelectedLine() >= 0) {
    QPointer<CPageUty> page(this);
    MainQueue().Post([page] {
      if (page) page->OnClipSelected(0);
    });
  }
}

void CPageUty::Refresh() {
  if (!initialised()) return;
  ShowSettings();
  clips_->RebuildLines();
  objects_->RebuildLines(obj::kDisp, 0);
  const CurrentClipState& c = CurrentClip();
  if (c.current_object >= 0) objects_->SelectRow(c.current_object);
  if (c.row >= 0) clips_->SelectRow(c.row);
}

void CPageUty::RebuildClipList() {
  clips_->RebuildLines();
  objects_->RebuildLines(obj::kDisp, 0);
}

std::vector<int> CPageUty::ListedClips() const {
  std::vector<int> rows;
  if (!clips_) return rows;
  const Table& clips = Tables().clip;
  for (int line = 0; line < clips_->line_count(); ++line) {
    const int row = clips_->lines().RowAt(line);
    if (row >= 0 && row < clips.count() && clips.Exists(row)) rows.push_back(row);
  }
  return rows;
}

void CPageUty::RedrawClipRow(int clip_row) {
  if (!initialised()) return;
  clips_->RedrawLine(clip_row < 0 ? clips_->SelectedLine() : clips_->lines().LineOf(clip_row));
  objects_->RebuildLines(obj::kDisp, 0);
}

bool CPageUty::HasClipLines() const { return clips_ && clips_->line_count() > 0; }

std::optional<int> CPageUty::SelectedClipLine() const {
  if (!clips_) return std::nullopt;
  const int line = clips_->SelectedLine();
  return line < 0 ? std::nullopt : std::optional<int>(line);
}

void CPageUty::SelectClipRow(int clip_row) {
  if (clips_) clips_->SelectRow(clip_row);
}

void CPageUty::OnClipSelected(int) {
  const int line = clips_->SelectedLine();
  if (line < 0 || line >= clips_->line_count()) return;
  const int row = clips_->lines().RowAt(line);
  if (row < 0) return;
  if (row != CurrentClip().row) MakeClipCurrent(row);
  objects_->RebuildLines(obj::kDisp, 0);
}

void CPageUty::OnPageMessage(int message, int first, int second) {
  (void)first;
  if (!initialised()) return;
  switch (message) {
    case 1325: OnClipSelected(second); return;
    case 1326: {
      const int row = CurrentClip().row;
      if (row >= 0) clips_->SelectRow(row);
      return;
    }
    case 1328: {
      const int line = objects_->SelectedLine();
      if (line < 0 || line >= objects_->line_count()) return;
      CurrentClip().object_selection = line;
      SelectCurrentObject(objects_->lines().RowAt(line));
      return;
    }
    default: return;
  }
}

void CPageUty::Command(int id) {
  if (!initialised()) return;
  Settings& s = AppSettings();
  switch (id) {
    case kUtyPeakHold: MakePeakHoldPicture(); return;
    case kUtyTimeAdjust: AdjustTimes(); return;
    case kUtyExportObjects: ExportListedObjects(); return;
    case kUtyDeleteResult: DeleteResult(); return;
    case kUtyDeleteResults: DeleteResults(); return;
    case kUtyMoveFiles: MoveFiles(); return;
    case kUtyChooseOutDir: ChooseOutDir(); return;
    case kUtyChooseCatalogue: ChooseShowerCatalogue(); return;
    case kUtyChooseCommand: ChooseCommand(); return;
    case kUtyTestCommand: TestCommand(); return;
    case kUtyRunAfterMove: s.moveendC = checks_[0]->isChecked() ? 1 : 0; return;
    case kUtyTrashBox:
      s.usetrash = checks_[1]->isChecked() ? 1 : 0;
      if (s.usetrash != 0) s.trashdir = 0;
      ShowSettings();
      return;
    case kUtyTrashDir:
      s.trashdir = checks_[2]->isChecked() ? 1 : 0;
      if (s.trashdir != 0) s.usetrash = 0;
      ShowSettings();
      return;
    case kUtyAnalyzeLog: s.a_log = checks_[3]->isChecked() ? 1 : 0; return;
    default: return;
  }
}

void CPageUty::MakePeakHoldPicture() {
  // A second click while the picture is being made finishes it.
  if (peak_hold_->text() == kPeakHoldFinishCaption) {
    FinishPeakHold();
    return;
  }
  const int row = CurrentClip().row;
  const Table& clips = Tables().clip;
  if (row < 0 || row >= clips.count() || !clips.Exists(row)) return;
  const std::string name(clips.Text(row, clip::kClipName));
  peak_hold_->setText(kPeakHoldFinishCaption);
  // "Stop" in the processing dialog finishes the picture with the frames
  // held so far, as "Finish P.BMP" does.
  QTimer stop_watch;
  connect(&stop_watch, &QTimer::timeout, this, [] {
    if (Processing().closed()) FinishPeakHold();
  });
  stop_watch.start(kStopPollMs);
  PeakHoldOutcome outcome;
  RunWithProgress("Make P bmp running " + name,
                  [row, &outcome](ProcessingState&) { outcome = MakePeakHold(row); });
  stop_watch.stop();
  peak_hold_->setText(kPeakHoldCaption);
  if (outcome.status == PeakHoldStatus::kWritten) {
    if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(row);
  }
}

void CPageUty::AdjustTimes() {
  const std::vector<int> rows = ListedClips();
  if (rows.empty()) return;
  // The question comes first; the files are rewritten under the wait cursor.
  TimeAdjustRun run;
  if (!AdjustClipTimes(Tables().clip, rows, shift_, run)) return;
  Ui& ui = CurrentUi();
  ui.SetWaitCursor(true);
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  RebuildClipList();
}

void CPageUty::ExportListedObjects() {
  const std::vector<int> rows = ListedClips();
  if (rows.empty()) return;
  // The save dialog is the export's own.
  mr4::ExportListedObjects(rows, ExportFolder(AppSettings()));
}

void CPageUty::DeleteResult() {
  const int row = clips_->SelectedRow();
  if (row < 0) return;
  FileOpRun run;
  DeleteClipResult(row, run);
  RebuildClipList();
}

void CPageUty::MoveFiles() {
  CUDlg* window = MainWindow();
  if (!window) return;
  RunMoveFilesDialog(*window, ListedClips());
  // A move, copy or deletion scanned the directories again.
  RebuildClipList();
}

void CPageUty::DeleteResults() {
  const std::vector<int> rows = ListedClips();
  if (rows.empty()) return;
  FileOpRun run;
  if (DeleteListedResults(rows, run)) RebuildClipList();
}

void CPageUty::ChooseOutDir() {
  Settings& s = AppSettings();
  const auto chosen = CurrentUi().ChooseFolder(
      {kOutDirTitle, s.outdir.empty() ? DocumentsFolder() : fs::path(s.outdir), ""});
  if (!chosen) return;
  if (chosen->native().size() >= static_cast<std::size_t>(kPathTextBytes)) {
    ShowError("%s is too long for a setting", chosen->c_str());
    return;
  }
  s.outdir = chosen->native();
  ShowSettings();
}

void CPageUty::ChooseShowerCatalogue() {
  const auto chosen = CurrentUi().OpenFile({kCatalogueTitle, App().home, "CSV (*.csv)|*.csv"});
  if (!chosen) return;
  const std::string name = chosen->filename().native();
  std::error_code ec;
  if (name.empty() || chosen->parent_path() != App().home ||
      !fs::is_regular_file(HomeFile(name), ec)) {
    ShowError("%s", kCatalogueOutsideHome);
    return;
  }
  Settings& s = AppSettings();
  s.catalog = name;
  LoadShowerCatalogue(App().home, name);
  PrepareShowerTable(s.Y);
  // The shower lists' lines are rows of the old table.
  if (CUDlg* window = MainWindow()) {
    if (auto* page = dynamic_cast<CPageClass*>(window->OpenedPage(PageId::kClass))) {
      page->shower_list()->RebuildLines();
    }
  }
  ShowSettings();
}

void CPageUty::ChooseCommand() {
  const auto chosen = CurrentUi().OpenFile({kCommandTitle, App().home, "*.*|*"});
  if (!chosen) return;
  if (chosen->native().size() >= static_cast<std::size_t>(kPathTextBytes)) {
    ShowError("%s is too long for a setting", chosen->c_str());
    return;
  }
  AppSettings().moveendcom = chosen->native();
  ShowSettings();
}

void CPageUty::TestCommand() {
  const std::string command = AppSettings().moveendcom;
  if (command.empty()) return;
  if (!CurrentUi().AskOkCancel(kMessageCaption, kTestCommandQuestion)) return;
  RunAfterMoveCommand(command);
}

void CPageUty::ThreadsChanged() {
  Settings& s = AppSettings();
  s.gPAN = std::clamp(s.gPAN, 1, std::max(1, App().context_limit));
  fields_[4]->Redisplay();
  AllocateParallelContexts(s.gPAN);
}

}  // namespace mr4
