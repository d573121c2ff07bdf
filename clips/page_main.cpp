#include "clips/page_main.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <ctime>
#include <filesystem>

#include "analysis/analysis_context.h"
#include "analysis/analysis_run.h"
#include "analysis/clip_analysis.h"
#include "analysis/pa_dlg.h"
#include "analysis/page_class.h"
#include "analysis/showers.h"
#include "app/column_layouts.h"
#include "app/settings.h"
#include "app/stop_dlg.h"
#include "base/error.h"
#include "base/process_values.h"
#include "calib/camera_profile.h"
#include "clips/clip_file_ops.h"
#include "clips/clip_list_ops.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/message_queue.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "reports/export_files.h"
#include "reports/meteor_csv.h"
#include "reports/period_report.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The reference layout of the page [reference px].
constexpr int kButtonHeight = 18;
constexpr double kButtonFontFactor = 0.9;
constexpr int kRowRange = 113;
constexpr int kRowFields = 133;
constexpr int kRowChecks = 152;
constexpr int kRowCommands = 172;
constexpr int kRowLabels = 195;

constexpr char kClipInputDirectoryTitle[] = "Clip Input Directory";
constexpr char kProfileFileTitle[] = "Default Profile file";
constexpr char kMoveToDirectoryTitle[] = "Clip Move_to Directory";
constexpr char kProfileFilter[] = "Profile (*.XML)|*.XML";

void ShowTab(Host host, int tab) {
  if (CUDlg* window = MainWindow()) window->host(host)->OpenTab(tab);
}

// Makes the program's profile folder; false, said, when it cannot be made.
bool MakeProfileFolder() {
  std::error_code ec;
  fs::create_directories(HomeFile(kProfileFolderName), ec);
  if (!ec) return true;
  ShowError("Cannot create %s", HomeFile(kProfileFolderName).c_str());
  return false;
}

// A text for the directory file, or nothing (said) when it cannot be kept.
bool StorableInDirectoryFile(const std::string& text) {
  const std::string problem = TableTextProblem(text);
  if (problem.empty()) return true;
  ShowError("%s cannot be kept in %s: %s", text.c_str(), kDirFileName, problem.c_str());
  return false;
}

}  // namespace

CPageMain::CPageMain(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kMain, scale, parent) {}

QPushButton* CPageMain::AddButton(int id, const char* caption, int x, int y, int width) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(scale().X(x), scale().Y(y), scale().X(width), scale().Y(kButtonHeight));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * kButtonFontFactor);
  button->setFont(small);
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  if (id == kCmdNext || id == kCmdOn || id == kCmdOff) {
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this,
            [this, id](const QPoint&) { Command(id, true); });
  }
  return button;
}

void CPageMain::OnInitPage() {
  ProcessTables& tables = Tables();
  // The directory commands beside the directory list.
  // Buttons carry their captions with little padding and a slightly
  // smaller font, so the captions fit the reference layout's narrow buttons.
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  AddButton(kCmdReadDir, "Read dir", 1, 2, 38);
  AddButton(kCmdAdd, "add", 1, 22, 38);
  AddButton(kCmdDirsAllOn, "allon", 1, 42, 38);
  AddButton(kCmdDirsAllOff, "alloff", 1, 62, 38);
  dirs_ = new CUList(this, *FindColumnLayout("UD"), tables.dir);

  // The date range.
  range_ = new QButtonGroup(this);
  const char* range_captions[] = {"all", "range", "latest"};
  for (int mode = 0; mode < 3; ++mode) {
    auto* radio = new QRadioButton(range_captions[mode], this);
    radio->setObjectName(QString::number(kCmdRangeAll + mode));
    radio->setGeometry(scale().X(1 + 50 * mode), scale().Y(kRowRange), scale().X(48), scale().Y(16));
    range_->addButton(radio, mode);
  }
  connect(range_, &QButtonGroup::idClicked, this, [this](int mode) {
    if (!updating_) SetRange(mode);
  });
  Settings& s = AppSettings();
  struct FieldSpec {
    int* value;
    const char* label;
    int label_width, edit_width;
    ScanField field;
  };
  const FieldSpec specs[] = {
      {&s.Y, "Y", 8, 30, ScanField::kYear},  {&s.M, "M", 9, 20, ScanField::kMonth},
      {&s.D, "D", 8, 20, ScanField::kDay},   {&s.H, "H", 8, 20, ScanField::kHour},
      {&s.days, "days", 20, 30, ScanField::kDays},
  };
  int x = 1;
  for (int i = 0; i < 5; ++i) {
    ParamDescriptor field{specs[i].value};
    field.x = x;
    field.row = kRowFields;
    field.label = specs[i].label;
    field.label_width = specs[i].label_width;
    field.edit_width = specs[i].edit_width;
    field.id_base = 1200 + 5 * i;
    const ScanField which = specs[i].field;
    auto* edit = new CUDEdit(this, field, scale(), [this, which](int) {
      if (updating_) return;
      // The latest range's start follows the days.
      if (which == ScanField::kDays && AppSettings().dirrange == 2) {
        LimitScanFields(AppSettings());
        SetLatestScanStart(AppSettings(), std::time(nullptr));
        for (CUDEdit* f : fields_) {
          if (f) f->Redisplay();
        }
      }
    });
    edit->set_spin_rule([this, which](bool up) {
      StepScanField(AppSettings(), which, up);
      for (CUDEdit* f : fields_) {
        if (f) f->Redisplay();
      }
      return -1;
    });
    fields_[i] = edit;
    x += specs[i].label_width + specs[i].edit_width + 14;
  }
  ParamDescriptor dlo{&CurrentProfile().p_u4_dloffset};
  dlo.x = x;
  dlo.row = kRowFields;
  dlo.label = "dlo";
  dlo.label_width = 16;
  dlo.edit_width = 22;
  dlo.id_base = 1225;
  fields_[5] = new CUDEdit(this, dlo, scale());

  // The clip commands.
  struct ButtonSpec {
    int id;
    const char* caption;
    int width;
  };
  const ButtonSpec checks[] = {
      {kCmdAllClipsOn, "allCon", 38}, {kCmdAllClipsOff, "allCoff", 40}, {kCmdOn, "on", 22},
      {kCmdOff, "off", 22},           {kCmdIntervalOn, "=on", 26},      {kCmdUnclassifiedOn, "_on", 26},
      {kCmdPrev, "prev", 30},         {kCmdNext, "next", 30},           {kCmdCheck, "check", 34},
  };
  x = 1;
  for (const ButtonSpec& b : checks) {
    AddButton(b.id, b.caption, x, kRowChecks, b.width);
    x += b.width + 2;
  }
  const ButtonSpec commands[] = {
      {kCmdAnalyzeChecked, "Analyze C all", 64}, {kCmdCalibrateAnalyze, "A", 14},
      {kCmdDeleteObject, "delete an obj", 62},   {kCmdDeleteClip, "delete a clip", 62},
      {kCmdDeleteChecked, "Delete C all", 58},   {kCmdMoveChecked, "Move C all", 54},
  };
  x = 1;
  for (const ButtonSpec& b : commands) {
    AddButton(b.id, b.caption, x, kRowCommands, b.width);
    x += b.width + 2;
  }
  AddButton(kCmdMeteorCsv, ">Mcsv", 240, kRowLabels - 2, 40);
  AddButton(kCmdPeriodReport, ">Rcsv", 282, kRowLabels - 2, 40);
  count_label_ = new QLabel("0 clip", this);
  count_label_->setObjectName(QString::number(kClipCountLabelId));
  count_label_->setGeometry(scale().X(1), scale().Y(kRowLabels), scale().X(70), scale().Y(16));
  result_label_ = new QLabel(this);
  result_label_->setObjectName(QString::number(kResultLabelId));
  result_label_->setGeometry(scale().X(80), scale().Y(kRowLabels), scale().X(150), scale().Y(16));

  objects_ = new CUList(this, *FindColumnLayout("UO"), tables.obj);
  clips_ = new CUList(this, *FindColumnLayout("UC"), tables.clip);

  updating_ = true;
  if (QAbstractButton* radio = range_->button(std::clamp(s.dirrange, 0, 2))) radio->setChecked(true);
  updating_ = false;
  SetRange(std::clamp(s.dirrange, 0, 2));
  RebuildObjectList();
  ShowClipCount();
}

void CPageMain::SetRange(int mode) {
  Settings& s = AppSettings();
  s.dirrange = mode;
  if (mode == 2) {
    LimitScanFields(s);
    SetLatestScanStart(s, std::time(nullptr));
  }
  // Y, M, D only for "range"; H and days for "range" and "latest".
  for (int i = 0; i < 5; ++i) {
    const bool enabled = mode == 1 || (mode == 2 && i >= 3);
    fields_[i]->setEnabled(enabled);
    fields_[i]->Redisplay();
  }
}

void CPageMain::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  active_ = true;
  Refresh();
  if (clips_->SelectedLine() >= 0) PostClipSelected();
}

void CPageMain::hideEvent(QHideEvent* event) {
  active_ = false;
  CPage::hideEvent(event);
}

void CPageMain::Refresh() {
  if (!initialised()) return;
  updating_ = true;
  for (CUDEdit* f : fields_) f->Redisplay();
  RebuildObjectList();
  const CurrentClipState& c = CurrentClip();
  if (c.current_object >= 0) objects_->SelectRow(c.current_object);
  if (c.row >= 0) clips_->SelectRow(c.row);
  clips_->RedrawLine(clips_->SelectedLine());
  result_label_->setText(QString::fromStdString(c.result_text));
  updating_ = false;
}

void CPageMain::RebuildObjectList() {
  // The current clip's objects are the rows MakeClipCurrent marked shown.
  objects_->RebuildLines(obj::kDisp, 0);
}

void CPageMain::RebuildClipLists() {
  clips_->RebuildLines();
  RebuildObjectList();
  ShowClipCount();
}

void CPageMain::ShowClipCount() {
  count_label_->setText(QString::asprintf("%d clips", clips_->line_count()));
}

void CPageMain::PostClipSelected() {
  QPointer<CPageMain> page(this);
  MainQueue().Post([page] {
    if (page) page->OnPageMessage(kMsgClipSelected, 0, 0);
  });
}

void CPageMain::SelectAndOpenLine(int line) {
  clips_->SelectLine(line);
  PostClipSelected();
  clips_->setFocus();
}

void CPageMain::RedrawClipRow(int clip_row) {
  if (!initialised()) return;
  clips_->RedrawLine(clip_row < 0 ? clips_->SelectedLine() : clips_->lines().LineOf(clip_row));
  RebuildObjectList();
}

void CPageMain::ReloadClipLists() {
  if (!initialised()) return;
  RebuildClipLists();
  Refresh();
}

bool CPageMain::HasClipLines() const { return clips_ && clips_->line_count() > 0; }

std::optional<int> CPageMain::SelectedClipLine() const {
  if (!clips_) return std::nullopt;
  const int line = clips_->SelectedLine();
  return line < 0 ? std::nullopt : std::optional<int>(line);
}

bool CPageMain::MapPageShowing() const {
  const CUDlg* window = MainWindow();
  if (!window) return false;
  const int tab = window->host(Host::kRight)->currentIndex();
  return tab == PageInfoOf(PageId::kGroundMap).tab || tab == PageInfoOf(PageId::kTrailMap).tab;
}

void CPageMain::SelectClipRow(int clip_row) {
  if (clips_) clips_->SelectRow(clip_row);
}

void CPageMain::OnClipSelected(int) {
  const int line = clips_->SelectedLine();
  if (line < 0 || line >= clips_->line_count()) {
    CurrentClip().row = -1;
    clips_->setFocus();
    return;
  }
  int row = clips_->lines().RowAt(line);
  // A second click on the current clip over a map shows every clip there.
  if (MapPageShowing() && row == CurrentClip().row) row = -2;
  MakeClipCurrent(row);
  result_label_->setText(QString::fromStdString(CurrentClip().result_text));
  RebuildObjectList();
  clips_->setFocus();
}

void CPageMain::OnPageMessage(int message, int first, int second) {
  if (!initialised()) return;
  Table& clips = Tables().clip;
  switch (message) {
    case kMsgClipSelected: OnClipSelected(second); return;
    case kMsgShowCurrentClip: {
      const int row = CurrentClip().row;
      const int line = row >= 0 ? clips_->lines().LineOf(row) : 0;
      clips_->SelectLine(std::max(0, line));
      if (row >= 0 && clips.Exists(row)) {
        MakeClipCurrent(row);
        Refresh();
      }
      return;
    }
    case kMsgObjectSelected: {
      const int line = objects_->SelectedLine();
      if (line < 0 || line >= objects_->line_count()) return;
      CurrentClip().object_selection = line;
      SelectCurrentObject(objects_->lines().RowAt(line));
      return;
    }
    case kMsgChangeObjectClass:
      if (CurrentClip().current_object >= 0) OpenChangeClassDialog(this);
      return;
    case kListCheckBoxClicked: {
      const int row = clips_->lines().RowAt(second);
      if (row < 0) return;
      clips.SetUint(row, clip::kCheck, clips.Uint(row, clip::kCheck) != 0 ? 0 : 1);
      clips_->RedrawLine(second);
      return;
    }
    case kListDeleteKey: DeleteCheckedClips(); return;
    case kListSpaceKey: {
      // Play: the clip becomes current and the clip view comes to the front.
      const int row = clips_->lines().RowAt(second);
      if (row < 0) return;
      if (row != CurrentClip().row) MakeClipCurrent(row);
      ShowTab(Host::kRight, PageInfoOf(PageId::kView).tab);
      return;
    }
    case kListLetterKeyA + 2: FindClipNeedingAttention(CurrentUi().Keys().ctrl); return;
    case kMsgToggleDirectoryUse: {
      const int row = dirs_->SelectedRow();
      if (row < 0) return;
      Tables().dir.SetUint(row, dir::kUse, Tables().dir.Uint(row, dir::kUse) != 0 ? 0 : 1);
      dirs_->RedrawLine(dirs_->SelectedLine());
      return;
    }
    case kMsgDeleteDirectory: {
      const int line = dirs_->lines().LineOf(second);
      if (line >= 0) dirs_->DeleteLine(line, false);
      return;
    }
    case kMsgAllDirectoriesOn:
    case kMsgAllDirectoriesOff:
      SetAllDirectories(first, message == kMsgAllDirectoriesOn);
      return;
    case kMsgOnlyThisDirectory:
    case kMsgChooseDirectory:
    case kMsgChooseProfile:
    case kMsgChooseSaveDirectory:
    case kMsgToggleYmd:
      DirectoryCellAction(message, second);
      return;
    default: break;
  }
  if (message >= kListDigitKey1 && message < kListDigitKey1 + 5) {
    ShowTab(Host::kLeft, message - kListDigitKey1);
  } else if (message >= kListLetterKeyA + 3 && message <= kListLetterKeyA + 6) {
    ShowTab(Host::kRight, message - (kListLetterKeyA + 3));  // V, M, T, G
  }
}

void CPageMain::SetAllDirectories(int column, bool on) {
  if (column != dir::kUse && column != dir::kYmd) return;
  Table& dirs = Tables().dir;
  for (int r = 0; r < dirs.count(); ++r) {
    if (dirs.Exists(r)) dirs.SetUint(r, column, on ? 1 : 0);
  }
  dirs_->RedrawAll();
}

void CPageMain::DirectoryCellAction(int message, int line) {
  Table& dirs = Tables().dir;
  const int row = dirs_->lines().RowAt(line);
  if (row < 0) return;
  Ui& ui = CurrentUi();
  switch (message) {
    case kMsgOnlyThisDirectory:
      for (int r = 0; r < dirs.count(); ++r) {
        if (dirs.Exists(r)) dirs.SetUint(r, dir::kUse, 0);
      }
      dirs.SetUint(row, dir::kUse, 1);
      dirs_->RedrawAll();
      return;
    case kMsgChooseDirectory: {
      const std::string_view current = dirs.Text(row, dir::kDir);
      const auto chosen = ui.ChooseFolder(
          {kClipInputDirectoryTitle, current.empty() ? DocumentsFolder() : fs::path(current), ""});
      if (!chosen || !StorableInDirectoryFile(chosen->native())) return;
      dirs.SetText(row, dir::kDir, chosen->native());
      break;
    }
    case kMsgChooseProfile: {
      if (!MakeProfileFolder()) return;
      const auto chosen = ui.OpenFile({kProfileFileTitle, HomeFile(kProfileFolderName), kProfileFilter});
      if (!chosen) return;
      const std::string name = chosen->filename().native();
      if (!StorableInDirectoryFile(name)) return;
      dirs.SetText(row, dir::kProfile, name);
      break;
    }
    case kMsgChooseSaveDirectory: {
      const auto chosen = ui.ChooseFolder({kMoveToDirectoryTitle, DocumentsFolder(), ""});
      if (!chosen || !StorableInDirectoryFile(chosen->native())) return;
      dirs.SetText(row, dir::kSaveDir, chosen->native());
      dirs.SetUint(row, dir::kUse, 1);
      dirs.SetUint(row, dir::kYmd, 1);
      break;
    }
    case kMsgToggleYmd:
      dirs.SetUint(row, dir::kYmd, dirs.Uint(row, dir::kYmd) != 0 ? 0 : 1);
      break;
    default: return;
  }
  dirs_->RedrawLine(line);
}

void CPageMain::ReadDirectories() {
  LimitScanFields(AppSettings());
  Ui& ui = CurrentUi();
  ui.SetWaitCursor(true);
  ReadClipDirectories();
  ui.SetWaitCursor(false);
  RebuildClipLists();
  // The first clip is opened when the scan ends.
  if (clips_->line_count() > 0) SelectAndOpenLine(0);
}

void CPageMain::Command(int id, bool right_click) {
  if (!initialised()) return;
  const bool ctrl = CurrentUi().Keys().ctrl;
  Table& clips = Tables().clip;
  switch (id) {
    case kCmdReadDir: ReadDirectories(); return;
    case kCmdAdd: {
      const auto chosen = CurrentUi().ChooseFolder({kClipInputDirectoryTitle, DocumentsFolder(), ""});
      if (!chosen) return;
      std::string problem;
      if (AddClipDirectory(chosen->native(), "", "", false, &problem) < 0) {
        ShowError("%s", problem.c_str());
        return;
      }
      dirs_->RebuildLines();
      return;
    }
    case kCmdDirsAllOn:
    case kCmdDirsAllOff: SetAllDirectories(dir::kUse, id == kCmdDirsAllOn); return;
    case kCmdRangeAll:
    case kCmdRangeRange:
    case kCmdRangeLatest:
      if (QAbstractButton* radio = range_->button(id - kCmdRangeAll)) radio->setChecked(true);
      SetRange(id - kCmdRangeAll);
      return;
    case kCmdAllClipsOn:
    case kCmdAllClipsOff:
      SetAllClipChecks(id == kCmdAllClipsOn);
      clips_->SelectLine(-1);
      Refresh();
      clips_->RedrawAll();
      SelectAndOpenLine(0);
      return;
    case kCmdOn:
    case kCmdOff: {
      // A right click on "on" unchecks, on "off" checks; Ctrl swaps.
      bool on = id == kCmdOn;
      if (right_click || ctrl) on = !on;
      CheckSelected(on, true);
      return;
    }
    case kCmdIntervalOn:
    case kCmdUnclassifiedOn: {
      if (id == kCmdIntervalOn) {
        CheckIntervalClips();
      } else {
        CheckUnclassifiedClips();
      }
      int first = 0;
      for (int line = 0; line < clips_->line_count(); ++line) {
        const int row = clips_->lines().RowAt(line);
        if (row >= 0 && clips.Uint(row, clip::kCheck) != 0) {
          first = line;
          break;
        }
      }
      clips_->RedrawAll();
      SelectAndOpenLine(first);
      return;
    }
    case kCmdNext:
      if (right_click) {
        CheckSelected(false, true);
        return;
      }
      WalkClips(true, ctrl);
      return;
    case kCmdPrev: WalkClips(false, ctrl); return;
    case kCmdCheck: FindClipNeedingAttention(ctrl); return;
    case kCmdAnalyzeChecked: AnalyzeChecked(ctrl); return;
    case kCmdCalibrateAnalyze: CalibrateAndAnalyze(); return;
    case kCmdDeleteObject: DeleteObject(); return;
    case kCmdDeleteClip: DeleteSelectedClip(); return;
    case kCmdDeleteChecked: DeleteCheckedClips(); return;
    case kCmdMoveChecked: {
      FileOpRun run;
      MoveCheckedClips(run);
      RebuildClipLists();
      return;
    }
    case kCmdMeteorCsv: {
      const KeyState keys = CurrentUi().Keys();
      MeteorCsvOptions options;
      options.ctrl = keys.ctrl;
      options.alt = keys.alt;
      const ProcessTables& tables = Tables();
      ExportMeteorCsv(tables.clip, tables.obj, {CurrentProfile().p_lid, CurrentProfile().p_sid},
                      ExportFolder(AppSettings()), options, App().scrambler);
      return;
    }
    case kCmdPeriodReport: {
      const ProcessTables& tables = Tables();
      ExportPeriodReport(tables.clip, tables.obj, {CurrentProfile().p_lid, CurrentProfile().p_sid},
                         ExportFolder(AppSettings()), CurrentUi().Keys().alt);
      return;
    }
    default: return;
  }
}

void CPageMain::CheckSelected(bool on, bool ctrl) {
  const int line = clips_->SelectedLine();
  const int row = clips_->lines().RowAt(line);
  if (row >= 0) {
    Tables().clip.SetUint(row, clip::kCheck, on ? 1 : 0);
    clips_->RedrawLine(line);
  }
  WalkClips(true, ctrl);
}

void CPageMain::WalkClips(bool next, bool ctrl) {
  const int n = clips_->line_count();
  if (n == 0) return;
  const int line = clips_->SelectedLine();
  if (!ctrl) {
    // Within the current clip's objects first.
    const int objects = objects_->line_count();
    const int object = objects_->SelectedLine();
    if (objects > 1) {
      const int to = object < 0 ? (next ? 0 : objects - 1) : object + (next ? 1 : -1);
      if (to >= 0 && to < objects) {
        objects_->SelectLine(to);
        OnPageMessage(kMsgObjectSelected, 0, to);
        return;
      }
    }
    int to = line < 0 ? (next ? 0 : n - 1) : std::clamp(line + (next ? 1 : -1), 0, n - 1);
    SelectAndOpenLine(to);
    return;
  }
  // With Ctrl: the next (previous) checked clip, else the last (first).
  const Table& clips = Tables().clip;
  int to = next ? n - 1 : 0;
  for (int k = line + (next ? 1 : -1); k >= 0 && k < n; k += next ? 1 : -1) {
    const int row = clips_->lines().RowAt(k);
    if (row >= 0 && clips.Uint(row, clip::kCheck) != 0) {
      to = k;
      break;
    }
  }
  clips_->SelectLine(to);
  PostClipSelected();
}

void CPageMain::FindClipNeedingAttention(bool ctrl) {
  const int n = clips_->line_count();
  if (n == 0) return;
  CurrentClipState& c = CurrentClip();
  int start = 0;
  if (c.row < 0) {
    clips_->SelectLine(0);
    MakeClipCurrent(clips_->lines().RowAt(0));
  } else {
    start = std::max(0, clips_->lines().LineOf(c.row));
    if (!result_label_->text().isEmpty()) {
      if (start == n - 1) {
        SelectAndOpenLine(0);
        result_label_->clear();
        c.result_text.clear();
        return;
      }
      ++start;
    }
  }
  for (int line = start; line < n; ++line) {
    const int row = clips_->lines().RowAt(line);
    if (row < 0) continue;
    const std::string stop = ClipAttentionText(row, ctrl);
    if (stop.empty()) continue;
    clips_->SelectLine(line);
    result_label_->setText(QString::fromStdString(stop));
    c.result_text = stop;
    c.keep_result_text = true;  // opening the clip keeps the text
    PostClipSelected();
    return;
  }
  SelectAndOpenLine(0);
  result_label_->clear();
  c.result_text.clear();
}

void CPageMain::DeleteObject() {
  const int line = objects_->SelectedLine();
  const int object_row = objects_->lines().RowAt(line);
  const int clip_row = CurrentClip().row;
  if (object_row < 0 || clip_row < 0) return;
  DeleteObjectOfClip(AnalysisContextAt(0), clip_row, object_row);
  if (CUDlg* window = MainWindow()) {
    window->NotifyClipRowChanged(clip_row);
  } else {
    RedrawClipRow(clip_row);
  }
  MakeClipCurrent(clip_row);
  RebuildObjectList();
  if (line < objects_->line_count()) {
    objects_->SelectLine(line);
    OnPageMessage(kMsgObjectSelected, 0, line);
  }
}

void CPageMain::DeleteSelectedClip() {
  const int line = clips_->SelectedLine();
  const int row = clips_->lines().RowAt(line);
  if (row < 0) return;
  const int next = clips_->lines().RowAt(line + 1);
  FileOpRun run;
  DeleteClip(row, next, run);
  RebuildClipLists();
  const int current = CurrentClip().row;
  const int shown = current >= 0 ? clips_->lines().LineOf(current) : -1;
  SelectAndOpenLine(shown >= 0 ? shown : 0);
}

void CPageMain::DeleteCheckedClips() {
  FileOpRun run;
  if (!::mr4::DeleteCheckedClips(run)) return;
  clips_->SelectLine(-1);
  RebuildClipLists();
}

void CPageMain::AnalyzeChecked(bool ctrl) {
  const int line = clips_->SelectedLine();
  CUDlg* window = MainWindow();
  if (line < 0 || !window) return;
  for (int i = 0; i < kContextCount; ++i) AnalysisContextAt(i).stop.store(0);
  if (window->host(Host::kRight)->currentIndex() != PageInfoOf(PageId::kMask).tab) {
    window->ShowPage(PageId::kMask);
  }
  ParallelOptions options;
  options.threads = AppSettings().gPAN;
  options.unclassified_only = ctrl;
  options.start_line = line;
  for (int k = 0; k < clips_->line_count(); ++k) options.lines.push_back(clips_->lines().RowAt(k));
  const int selected = RunParallelAnalysisDialog(*window, options);
  RebuildClipLists();
  if (clips_->line_count() > 0) {
    const int row = selected >= 0 ? selected : CurrentClip().row;
    const int shown = row >= 0 ? clips_->lines().LineOf(row) : -1;
    clips_->SelectLine(shown >= 0 ? shown : 0);
    PostClipSelected();
  }
}

void CPageMain::CalibrateAndAnalyze() {
  const int row = CurrentClip().row;
  if (row < 0) return;
  RunWithProgress("calibrate and analyze", [row](ProcessingState&) {
    std::vector<std::uint8_t> mask;
    AnalyzeClipRow(AnalysisContextAt(0), row, true, true, mask);
  });
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(row);
  clips_->SelectRow(row);
  MakeClipCurrent(row);
  RebuildObjectList();
}

}  // namespace mr4
