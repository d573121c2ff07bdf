#include "analysis/pa_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>

#include "analysis/clip_analysis.h"
#include "analysis/result_pictures.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "base/process_values.h"
#include "calib/star_catalogue.h"
#include "clips/clip_files.h"
#include "platform/qt_message_queue.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

CPADlg* g_analysis_dialog = nullptr;

// Reference-layout positions [layout units].
constexpr int kMargin = 7;
constexpr int kSlotTop = 24;
constexpr int kLabelWidth = 150;
constexpr int kProgressLeft = 162;
constexpr int kProgressWidth = 70;
constexpr int kTextHeight = 14;
constexpr int kStopWidth = 50;
constexpr int kStopHeight = 20;

MaskPageSwitches SwitchesFromSettings() {
  const Settings& s = AppSettings();
  MaskPageSwitches switches;
  switches.stars = s.m_star != 0;
  switches.graphs = s.m_mgrf != 0;
  switches.graph_lines = s.m_mgln != 0;
  switches.residuals = s.m_rgraph != 0;
  switches.hits = s.m_objplot != 0;
  return switches;
}

}  // namespace

CPADlg* AnalysisDialog() { return g_analysis_dialog; }

CPADlg::CPADlg(CUDlg& window, const ParallelOptions& options, SlotRunner runner)
    : QDialog(&window), window_(window), options_(options) {
  setWindowTitle(options_.sequential ? kSequentialAnalysisCaption : kParallelAnalysisCaption);
  setModal(true);
  if (!runner) runner = options_.sequential ? AnalyzeAsPrepared() : StarFitThenAnalyze(true);
  queue_ = std::make_unique<QtMessageQueue>();
  run_ = std::make_unique<ParallelAnalysis>(options_, std::move(runner), *queue_);
  run_->on_context_done = [this](const FinishedClip& done) { OnContextDone(done); };
  run_->on_finished = [this](const FinishedClip&) { ShowProgress(); };
  run_->on_tick = [this](const ParallelProgress&) { ShowProgress(); };
  run_->on_end = [this] { OnEnd(); };

  const LayoutScale& scale = window.layout_scale();
  const int n = std::clamp(options_.threads, 1, kContextCount - 1);
  summary_ = new QLabel(this);
  summary_->setObjectName("summary");
  summary_->setGeometry(scale.X(kMargin), scale.Y(kMargin), scale.X(kPADlgWidth - 2 * kMargin),
                        scale.Y(kTextHeight));
  for (int slot = 0; slot <= n; ++slot) {
    const int y = kSlotTop + kPADlgSlotHeight * slot;
    auto* label = new QLabel(this);
    label->setObjectName(QString("label%1").arg(slot));
    label->setGeometry(scale.X(kMargin), scale.Y(y), scale.X(kLabelWidth), scale.Y(kTextHeight));
    auto* progress = new QLabel(this);
    progress->setObjectName(QString("progress%1").arg(slot));
    progress->setGeometry(scale.X(kProgressLeft), scale.Y(y), scale.X(kProgressWidth),
                          scale.Y(kTextHeight));
    labels_.push_back(label);
    progress_.push_back(progress);
  }
  stop_ = new QPushButton("Stop", this);
  stop_->setDefault(true);
  stop_->setGeometry(scale.X((kPADlgWidth - kStopWidth) / 2),
                     scale.Y(kSlotTop + kPADlgSlotHeight * (n + 1) + 2), scale.X(kStopWidth),
                     scale.Y(kStopHeight));
  connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
  setFixedSize(scale.X(kPADlgWidth), scale.Y(kPADlgBaseHeight + kPADlgSlotHeight * n));
  g_analysis_dialog = this;
}

CPADlg::~CPADlg() {
  if (g_analysis_dialog == this) g_analysis_dialog = nullptr;
  run_.reset();  // its workers' posts go to the queue
}

bool CPADlg::running() const { return run_->running(); }

void CPADlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (placed_) return;
  placed_ = true;
  if (window_.isMinimized()) {
    QTimer::singleShot(0, this, [this] { showMinimized(); });
  } else {
    const Settings& s = AppSettings();
    move(window_.pos() + QPoint(s.PAdlgx0, s.PAdlgy0));
  }
  // Once the dialog's own loop runs: a run with nothing to start closes it.
  QTimer::singleShot(0, this, [this] { StartRun(); });
}

void CPADlg::StartRun() {
  // Not after a close that came first: nobody would wait for the clips.
  if (started_ || !isVisible()) return;
  started_ = true;
  if (!run_->Start()) {
    done(QDialog::Accepted);
    return;
  }
  ShowProgress();
}

void CPADlg::ShowProgress() {
  const ParallelProgress p = run_->Progress();
  summary_->setText(QString::fromStdString(p.summary));
  for (std::size_t slot = 0; slot < labels_.size() && slot < p.slot_lines.size(); ++slot) {
    labels_[slot]->setText(QString::fromStdString(p.slot_lines[slot].label));
    progress_[slot]->setText(QString::fromStdString(p.slot_lines[slot].progress));
  }
}

void CPADlg::OnContextDone(const FinishedClip& done) {
  last_row_ = done.row;
  last_code_ = done.outcome.code;
  const Table& clips = Tables().clip;
  if (done.row < 0 || !clips.Exists(done.row)) return;
  const AnalysisContext& c = AnalysisContextAt(done.slot);
  ResultPictureSource source;
  source.context = &c;
  // Context 0's stars, unless a clip of slot 0 is using them now.
  if (done.slot == 0 || !run_->SlotBusy(0)) source.visible = &AnalysisContextAt(0).stars.visible;
  source.catalogue = &StarMap();
  source.parallel = !options_.sequential;
  source.parallel_running = !options_.sequential && run_->Progress().running > 0;
  ResultPicture picture;
  picture.clip_row = done.row;
  picture.width = c.width;
  picture.height = c.height;
  ComposeResultPicture(source, SwitchesFromSettings(), picture.bgr);
  window_.SetAnalysisResult(std::move(picture));
  window_.NotifyClipRowChanged(done.row);
}

void CPADlg::OnEnd() {
  ShowProgress();
  done(QDialog::Accepted);
}

void CPADlg::Stop(int kind) {
  if (!run_->running()) {
    done(QDialog::Rejected);
    return;
  }
  run_->Stop(kind);
}

void CPADlg::done(int result) {
  if (run_->running()) {
    // Closing while clips run is a "Stop": the last clip's end closes.
    run_->Stop(kStopWithWhatItHas);
    return;
  }
  if (placed_ && !isMinimized()) {
    Settings& s = AppSettings();
    s.PAdlgx0 = pos().x() - window_.pos().x();
    s.PAdlgy0 = pos().y() - window_.pos().y();
  }
  if (!options_.sequential) {
    // After "Stop" context 0 keeps the last finished clip; otherwise it
    // gets the list's first line.
    int row = -1;
    if (run_->stopped() && last_row_ >= 0) {
      row = last_row_;
    } else if (!options_.lines.empty()) {
      row = options_.lines.front();
    } else {
      const Table& clips = Tables().clip;
      for (int r = 0; r < clips.count() && row < 0; ++r) {
        if (clips.Exists(r)) row = r;
      }
    }
    AnalysisContextAt(0).clip_row = row;
  }
  started_ = true;  // a start still queued does nothing now
  if (g_analysis_dialog == this) g_analysis_dialog = nullptr;
  QDialog::done(result);
  // The main window was asked to close while the clips ran.
  if (window_.close_after_analysis()) {
    QTimer::singleShot(0, &window_, [window = &window_] { window->close(); });
  }
}

int RunParallelAnalysisDialog(CUDlg& window, const ParallelOptions& options, SlotRunner runner) {
  ParallelOptions checked = options;
  checked.sequential = false;
  checked.threads = std::clamp(std::min(options.threads, App().context_limit), 1, kContextCount - 1);
  AllocateParallelContexts(checked.threads);
  CPADlg dialog(window, checked, std::move(runner));
  dialog.exec();
  return AnalysisContextAt(0).clip_row;
}

int RunSequentialAnalysisDialog(CUDlg& window, int clip_row, SlotRunner runner) {
  const Table& clips = Tables().clip;
  if (clip_row < 0 || !clips.Exists(clip_row) ||
      (clips.Int(clip_row, clip::kMT) & (KindBit(kKindAvi) | KindBit(kKindWmv))) == 0) {
    return kNoVideoToAnalyse;
  }
  ParallelOptions options;
  options.sequential = true;
  options.threads = std::clamp(std::min(AppSettings().gPAN, App().context_limit), 1,
                               kContextCount - 1);
  options.lines = {clip_row};
  CPADlg dialog(window, options, std::move(runner));
  dialog.exec();
  return dialog.last_code();
}

}  // namespace mr4
