#include "clips/dispatch_dlg.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cstdio>

#include "app/main_window.h"
#include "app/settings.h"
#include "base/error.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

constexpr char kDestinationTitle[] = "destination directory";
constexpr char kCleaningCaption[] = "Cleaning";
// The dated folders go one level per run, so the question says what one
// run removes. Video files are never deleted by cleaning.
constexpr char kCleaningQuestion[] =
    "Remove the empty folders whose names begin with \"20\" and the Thumb.db files\n"
    "in every clip directory in use (one folder level per run) ok?";

// Reference-layout positions [layout units].
constexpr int kWidth = 300;
constexpr int kHeight = 178;
constexpr int kMargin = 7;
constexpr int kSwitchWidth = 132;
constexpr int kSwitchStep = 14;
constexpr int kListLeft = 145;
constexpr int kListHeight = 72;
constexpr int kRowDestination = 86;
constexpr int kRowButtons = 104;
constexpr int kRowCount = 128;
constexpr int kRowStatus = 144;
constexpr int kDeleteButtonWidth = 72;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 18;
constexpr int kTextHeight = 14;

struct SwitchSpec {
  int id;
  const char* caption;
  bool DispatchSwitches::*flag;
};
constexpr SwitchSpec kSwitches[] = {
    {kDispatchSwitchInterval, "time interval clips *=*", &DispatchSwitches::interval},
    {kDispatchSwitchThumbnails, "*T.jpg files", &DispatchSwitches::thumbnails},
    {kDispatchSwitchResults, "*A.XML files", &DispatchSwitches::results},
    {kDispatchSwitchUnclassified, "non classified clips __*", &DispatchSwitches::unclassified},
    {kDispatchSwitchEclass, "e-class clips _*", &DispatchSwitches::eclass},
};

// While an operation runs, its status lines go to the dialog; everything
// else goes to the Ui that was installed.
class DialogStatusUi final : public Ui {
 public:
  DialogStatusUi(Ui& next, CDispatchDlg& dialog) : next_(next), dialog_(dialog) {}

  void Message(std::string_view caption, std::string_view text, MessageIcon icon) override {
    next_.Message(caption, text, icon);
  }
  bool AskOkCancel(std::string_view caption, std::string_view text) override {
    return next_.AskOkCancel(caption, text);
  }
  bool AskYesNo(std::string_view caption, std::string_view text) override {
    return next_.AskYesNo(caption, text);
  }
  std::optional<fs::path> OpenFile(const FileDialogRequest& request) override {
    return next_.OpenFile(request);
  }
  std::optional<fs::path> SaveFile(const FileDialogRequest& request) override {
    return next_.SaveFile(request);
  }
  std::optional<fs::path> ChooseFolder(const FileDialogRequest& request) override {
    return next_.ChooseFolder(request);
  }
  void Status(std::string_view text) override {
    dialog_.ShowStatus(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  void SetWaitCursor(bool on) override { next_.SetWaitCursor(on); }
  KeyState Keys() override { return next_.Keys(); }
  void Beep() override { next_.Beep(); }

 private:
  Ui& next_;
  CDispatchDlg& dialog_;
};

}  // namespace

DispatchSwitches& DispatchDialogSwitches() {
  static DispatchSwitches switches;
  return switches;
}

CDispatchDlg::CDispatchDlg(CUDlg& window, std::vector<int> listed_rows)
    : QDialog(&window), window_(window), rows_(std::move(listed_rows)) {
  setWindowTitle(kDispatchCaption);
  setModal(true);
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  const LayoutScale& scale = window.layout_scale();
  auto place = [&scale](QWidget* w, int x, int y, int width, int height) {
    w->setGeometry(scale.X(x), scale.Y(y), scale.X(width), scale.Y(height));
  };

  const DispatchSwitches& state = DispatchDialogSwitches();
  for (std::size_t i = 0; i < std::size(kSwitches); ++i) {
    const SwitchSpec& spec = kSwitches[i];
    auto* box = new QCheckBox(spec.caption, this);
    box->setObjectName(QString::number(spec.id));
    place(box, kMargin, kMargin + kSwitchStep * static_cast<int>(i), kSwitchWidth, kTextHeight);
    box->setChecked(state.*spec.flag);
    connect(box, &QCheckBox::toggled, this, [this, id = spec.id](bool on) { SwitchChanged(id, on); });
    switches_[i] = box;
  }

  eclasses_ = new QTableWidget(this);
  eclasses_->setObjectName("eclass");
  eclasses_->setColumnCount(2);
  eclasses_->setHorizontalHeaderLabels({"ecls", "target"});
  eclasses_->verticalHeader()->hide();
  eclasses_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  eclasses_->setSelectionMode(QAbstractItemView::NoSelection);
  place(eclasses_, kListLeft, kMargin, kWidth - kListLeft - kMargin, kListHeight);
  FillEclassList();
  connect(eclasses_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != 1) return;
    const int row = item->data(Qt::UserRole).toInt();
    Table& table = Tables().eclass;
    if (!table.Exists(row)) return;
    table.SetUint(row, eclass::kTarget, item->checkState() == Qt::Checked ? 1 : 0);
  });

  destination_ = new QLineEdit(this);
  destination_->setObjectName(QString::number(kDispatchDestination));
  destination_->setReadOnly(true);
  destination_->setText(QString::fromStdString(AppSettings().deldir));
  place(destination_, kMargin, kRowDestination, kWidth - 2 * kMargin - 22, kTextHeight + 2);

  struct ButtonSpec {
    int id;
    const char* caption;
  };
  const ButtonSpec buttons[] = {
      {kDispatchDelete, "Delete clip files"}, {kDispatchCopy, "Copy clips"},
      {kDispatchMove, "Move clips"},          {kDispatchCount, "Count"},
      {kDispatchCleaning, "Cleaning"},
  };
  auto add_button = [&](int id, const char* caption, int x, int y, int width) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    place(button, x, y, width, kButtonHeight);
    connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  };
  add_button(kDispatchChooseDestination, "...", kWidth - kMargin - 20, kRowDestination - 1, 20);
  int x = kMargin;
  for (const ButtonSpec& b : buttons) {
    const int width = b.id == kDispatchDelete ? kDeleteButtonWidth : kButtonWidth;
    add_button(b.id, b.caption, x, kRowButtons, width);
    x += width + 2;
  }

  count_ = new QLabel(this);
  count_->setObjectName(QString::number(kDispatchCountDisplay));
  place(count_, kMargin, kRowCount, kWidth - 2 * kMargin, kTextHeight);
  status_ = new QLabel(this);
  status_->setObjectName(QString::number(kDispatchStatus));
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(status_, kMargin, kRowStatus, kWidth - 2 * kMargin, 2 * kTextHeight + 2);
  setFixedSize(scale.X(kWidth), scale.Y(kHeight));
}

QCheckBox* CDispatchDlg::switch_box(int id) const {
  for (std::size_t i = 0; i < std::size(kSwitches); ++i) {
    if (kSwitches[i].id == id) return switches_[i];
  }
  return nullptr;
}

void CDispatchDlg::FillEclassList() {
  filling_ = true;
  const Table& table = Tables().eclass;
  eclasses_->setRowCount(0);
  for (int r = 0; r < table.count(); ++r) {
    if (!table.Exists(r)) continue;
    const int line = eclasses_->rowCount();
    eclasses_->insertRow(line);
    auto* name = new QTableWidgetItem(QString::fromStdString(std::string(table.Text(r, eclass::kEcls))));
    name->setFlags(Qt::ItemIsEnabled);
    auto* target = new QTableWidgetItem;
    target->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    target->setCheckState(table.Uint(r, eclass::kTarget) != 0 ? Qt::Checked : Qt::Unchecked);
    target->setData(Qt::UserRole, r);
    eclasses_->setItem(line, 0, name);
    eclasses_->setItem(line, 1, target);
  }
  filling_ = false;
}

void CDispatchDlg::SwitchChanged(int id, bool on) {
  for (const SwitchSpec& spec : kSwitches) {
    if (spec.id == id) DispatchDialogSwitches().*spec.flag = on;
  }
}

void CDispatchDlg::ShowStatus(const QString& text) {
  status_->setText(text);
  status_->repaint();
}

void CDispatchDlg::ShowCount(const DispatchCount& count) {
  char text[64];
  std::snprintf(text, sizeof text, " %d clips  %.1f MB", count.clips, count.megabytes);
  count_->setText(text);
  count_->repaint();
}

void CDispatchDlg::Command(int id) {
  DialogStatusUi ui(CurrentUi(), *this);
  ScopedUi scoped(ui);
  switch (id) {
    case kDispatchDelete: DeleteClipFiles(); return;
    case kDispatchCopy: MoveOrCopy(true); return;
    case kDispatchMove: MoveOrCopy(false); return;
    case kDispatchCount: CountTargets(); return;
    case kDispatchChooseDestination: ChooseDestination(); return;
    case kDispatchCleaning: Clean(); return;
    default: return;
  }
}

void CDispatchDlg::DeleteClipFiles() {
  FileOpRun run;
  if (DispatchDeleteClips(rows_, DispatchDialogSwitches(), run)) accept();
}

void CDispatchDlg::MoveOrCopy(bool copy) {
  FileOpRun run;
  DispatchSummary summary;
  if (!DispatchMoveClips(rows_, DispatchDialogSwitches(), fs::path(AppSettings().deldir), copy,
                         run, [this](const DispatchCount& count) { ShowCount(count); },
                         &summary)) {
    return;
  }
  // What moved, what failed and what stayed, before the dialog goes.
  const bool clean = summary.failed.empty() && summary.skipped.empty();
  CurrentUi().Message(kDispatchCaption, DispatchSummaryText(summary),
                      clean ? MessageIcon::kInformation : MessageIcon::kWarning);
  accept();
}

void CDispatchDlg::CountTargets() {
  ShowCount({});
  CountDispatchTargets(rows_, DispatchDialogSwitches(),
                       [this](const DispatchCount& count) { ShowCount(count); });
}

void CDispatchDlg::ChooseDestination() {
  Settings& s = AppSettings();
  const auto chosen = CurrentUi().ChooseFolder(
      {kDestinationTitle, s.deldir.empty() ? DocumentsFolder() : fs::path(s.deldir), ""});
  if (!chosen) return;
  if (chosen->native().size() >= static_cast<std::size_t>(kPathTextBytes)) {
    ShowError("%s is too long for a setting", chosen->c_str());
    return;
  }
  s.deldir = chosen->native();
  destination_->setText(QString::fromStdString(s.deldir));
}

void CDispatchDlg::Clean() {
  Ui& ui = CurrentUi();
  if (!ui.AskOkCancel(kCleaningCaption, kCleaningQuestion)) return;
  ui.SetWaitCursor(true);
  CleanClipDirectories();
  ui.SetWaitCursor(false);
}

void RunMoveFilesDialog(CUDlg& window, const std::vector<int>& listed_rows) {
  CDispatchDlg dialog(window, listed_rows);
  dialog.exec();
}

}  // namespace mr4
