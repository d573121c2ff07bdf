// The processing dialog over RunWithProgress: Stop, the close after the
// worker's end, the minimised main window, the status line, and a worker's
// question while the dialog is open.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/main_window.h"
#include "app/settings.h"
#include "app/stop_dlg.h"
#include "platform/qt_ui.h"
#include "platform/scripted_ui.h"

namespace mr4 {
namespace {

QPushButton* Button(QWidget* dialog, const QString& text) {
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

// A test must not hang when the dialog never closes: after this long the
// dialog is closed and the test fails.
constexpr int kGiveUpMs = 20000;

}  // namespace

class TestStopDlg : public QObject {
  Q_OBJECT

 private:
  bool gave_up_ = false;
  void GuardAgainstHanging() {
    gave_up_ = false;
    QTimer::singleShot(kGiveUpMs, this, [this] {
      if (CStopDlg* open = ProcessingDialog()) {
        gave_up_ = true;
        open->reject();
      }
    });
  }

 private slots:
  void stopClosesAtOnceAndTheWorkerEndsEarly() {
    constexpr int kSteps = 100000;  // 100 s of work if it never stopped
    std::atomic<int> steps{0};
    std::atomic<bool> worker_saw_no_dialog{false};
    bool closed_at_once = false;
    QTimer::singleShot(50, this, [&] {
      CStopDlg* dialog = ProcessingDialog();
      QVERIFY(dialog);
      QVERIFY(dialog->isVisible());
      QCOMPARE(dialog->windowTitle(), QString("MeridraV4 processing"));
      QTest::mouseClick(Button(dialog, "Stop"), Qt::LeftButton);
      closed_at_once = ProcessingDialog() == nullptr && !dialog->isVisible() &&
                       Processing().closed();
    });
    GuardAgainstHanging();
    RunWithProgress("moving clips", [&](ProcessingState& state) {
      for (int i = 0; i < kSteps && !state.closed(); ++i) {
        ++steps;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      worker_saw_no_dialog = state.closed();
    });
    QVERIFY(!gave_up_);
    QVERIFY(closed_at_once);
    QVERIFY(worker_saw_no_dialog);
    QVERIFY2(steps < kSteps, qPrintable(QString::number(steps)));
    QVERIFY(ProcessingDialog() == nullptr);
  }

  // The worker's end does not close the dialog at once, but shortly after.
  void workerEndClosesTheDialogAfterADelay() {
    std::atomic<bool> ended{false};
    bool open_after_end = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      if (ended && ProcessingDialog()) open_after_end = true;
    });
    poll.start(5);
    GuardAgainstHanging();
    RunWithProgress("star fit", [&](ProcessingState&) { ended = true; });
    QVERIFY(!gave_up_);
    QVERIFY(open_after_end);
    QVERIFY(ProcessingDialog() == nullptr);
  }

  void titleAndStatusLinesShowTheWorkersTexts() {
    std::atomic<bool> seen{false};
    QString title_shown;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      CStopDlg* dialog = ProcessingDialog();
      if (!dialog) return;
      QStringList texts;
      for (QLabel* label : dialog->findChildren<QLabel*>()) texts << label->text();
      if (texts.contains("retry count=3 ddpix = 0.0000120")) {
        title_shown = texts.contains("adj pos all") ? "yes" : texts.join("|");
        seen = true;
      }
    });
    poll.start(10);
    GuardAgainstHanging();
    RunWithProgress("adj pos all", [&](ProcessingState& state) {
      state.SetStatus("retry count=3 ddpix = 0.0000120");
      while (!seen && !state.closed()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    QVERIFY(!gave_up_);
    QVERIFY(seen);
    QCOMPARE(title_shown, QString("yes"));
  }

  // Over a minimised main window the dialog opens minimised, and the end of
  // the worker still closes it.
  void minimisedMainWindowMinimisesTheDialog() {
    const Settings saved = AppSettings();
    CUDlg window(LayoutScale{1.0, 1.0});
    window.show();
    window.showMinimized();
    bool dialog_minimised = false;
    std::atomic<bool> go{false};
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      if (CStopDlg* dialog = ProcessingDialog(); dialog && dialog->isMinimized()) {
        dialog_minimised = true;
        go = true;
      }
    });
    poll.start(5);
    GuardAgainstHanging();
    RunWithProgress("peak hold", [&](ProcessingState& state) {
      while (!go && !state.closed()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    QVERIFY(!gave_up_);
    QVERIFY(dialog_minimised);
    AppSettings() = saved;
  }

  void minimizeButtonMinimisesTheMainWindow() {
    CUDlg window(LayoutScale{1.0, 1.0});
    window.show();
    bool main_minimised = false;
    QTimer::singleShot(50, this, [&] {
      CStopDlg* dialog = ProcessingDialog();
      QVERIFY(dialog);
      QTest::mouseClick(Button(dialog, "Minimize"), Qt::LeftButton);
      main_minimised = window.isMinimized();
      dialog->reject();
    });
    GuardAgainstHanging();
    RunWithProgress("moving clips", [](ProcessingState& state) {
      while (!state.closed()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    QVERIFY(!gave_up_);
    QVERIFY(main_minimised);
  }

  // A worker that asks a question while the dialog is open gets its answer
  // from the user-interface thread, and the run still ends.
  void workerQuestionReachesTheUserInterfaceThread() {
    ScriptedUi scripted;
    scripted.QueueAnswer(true);
    MainThreadUi door(scripted);
    ScopedUi installed(door);
    std::atomic<bool> answer{false};
    GuardAgainstHanging();
    RunWithProgress("moving clips", [&](ProcessingState&) {
      answer = CurrentUi().AskOkCancel("Qor series", "replace M20240812_220000?");
    });
    QVERIFY(!gave_up_);
    QVERIFY(answer);
    QCOMPARE(scripted.questions().size(), std::size_t(1));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestStopDlg)
#include "test_stop_dlg.moc"
