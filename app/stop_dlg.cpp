#include "app/stop_dlg.h"

#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <thread>

#include "app/main_window.h"

namespace mr4 {
namespace {

CStopDlg* g_processing_dialog = nullptr;

QWidget* MainWindowWidget() { return MainWindow(); }

}  // namespace

CStopDlg* ProcessingDialog() { return g_processing_dialog; }

CStopDlg::CStopDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kStopDialogCaption);
  setWindowFlag(Qt::WindowMinimizeButtonHint);
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(true);

  ProcessingState& state = Processing();
  title_ = new QLabel(QString::fromStdString(state.title()), this);
  status_ = new QLabel(QString::fromStdString(state.status()), this);
  title_->setWordWrap(true);
  title_->setMinimumWidth(360);
  auto* stop = new QPushButton("Stop", this);
  auto* minimize = new QPushButton("Minimize", this);
  stop->setDefault(true);
  connect(stop, &QPushButton::clicked, this, [this] { reject(); });
  connect(minimize, &QPushButton::clicked, this, [this] { MinimizeMainWindow(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(stop);
  buttons->addWidget(minimize);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(status_);
  layout->addLayout(buttons);

  status_timer_.setInterval(kStopDialogStatusRefresh);
  connect(&status_timer_, &QTimer::timeout, this, [this] {
    status_->setText(QString::fromStdString(Processing().status()));
  });
  close_timer_.setSingleShot(true);
  close_timer_.setInterval(kStopDialogCloseDelay);
  connect(&close_timer_, &QTimer::timeout, this, [this] { accept(); });
  raise_timer_.setSingleShot(true);
  raise_timer_.setInterval(kStopDialogRaiseDelay);
  connect(&raise_timer_, &QTimer::timeout, this, [this] { raise(); });

  g_processing_dialog = this;
  status_timer_.start();
}

CStopDlg::~CStopDlg() {
  if (g_processing_dialog == this) g_processing_dialog = nullptr;
}

void CStopDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (placed_) return;
  placed_ = true;
  QWidget* main = MainWindowWidget();
  if (main && main->isMinimized()) {
    QTimer::singleShot(0, this, [this] { showMinimized(); });
    return;
  }
  move(pos() + QPoint(kStopDialogShift, 0));
  raise_timer_.start();
}

void CStopDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // The dialog's own minimise command minimises the main window as well.
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    QWidget* main = MainWindowWidget();
    if (main && !main->isMinimized()) main->showMinimized();
  }
}

void CStopDlg::MinimizeMainWindow() {
  if (QWidget* main = MainWindowWidget()) main->showMinimized();
  showMinimized();
}

void CStopDlg::OnWorkerDone() {
  if (!close_timer_.isActive()) close_timer_.start();
}

void CStopDlg::done(int result) {
  status_timer_.stop();
  close_timer_.stop();
  raise_timer_.stop();
  Processing().SetClosed(true);
  if (g_processing_dialog == this) g_processing_dialog = nullptr;
  QDialog::done(result);
}

void RunWithProgress(std::string_view title,
                     const std::function<void(ProcessingState&)>& worker) {
  ProcessingState& state = Processing();
  state.SetClosed(false);
  state.SetTitle(title);
  state.SetStatus("");

  CStopDlg dialog(MainWindowWidget());
  QObject receiver;
  QEventLoop wait;
  bool worker_ended = false;  // user-interface thread only
  std::thread thread([&] {
    worker(state);
    // The worker's last message: it finds the dialog open or gone.
    QMetaObject::invokeMethod(&receiver, [&] {
      worker_ended = true;
      if (CStopDlg* open = ProcessingDialog()) open->OnWorkerDone();
      wait.quit();
    }, Qt::QueuedConnection);
  });
  dialog.exec();
  if (!worker_ended) wait.exec();
  thread.join();
}

}  // namespace mr4
