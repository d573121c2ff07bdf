// The analysis dialog over hand-built clip rows, the runner standing in for
// the per-clip run: closing by itself with nothing to do, "Stop" (and the
// other ways of closing) while workers run, the one-clip run, its place
// beside the main window, and the main window closed during a run.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "analysis/pa_dlg.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "base/process_values.h"
#include "clips/clip_files.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// Workers wait here until the test opens it, as clips in their frame loop.
class Gate {
 public:
  SlotRunner Runner(int code = 0) {
    return [this, code](int slot, int row) {
      AnalysisContext& c = AnalysisContextAt(slot);
      std::unique_lock lock(mutex_);
      started_.push_back({slot, row});
      changed_.notify_all();
      changed_.wait(lock, [&] { return open_; });
      stops_.push_back(c.stop.load());
      SlotOutcome outcome;
      outcome.code = code;
      return outcome;
    };
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  int Started() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(started_.size());
  }
  std::vector<std::pair<int, int>> started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  std::vector<int> stops() const {
    std::lock_guard lock(mutex_);
    return stops_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  std::vector<std::pair<int, int>> started_;  // (slot, row)
  std::vector<int> stops_;                    // the stop flag each saw at its end
};

// Runs `act` once, on the user-interface thread, as soon as `ready` holds:
// the steps of a test while the dialog's own loop runs.
void When(QObject* owner, std::function<bool()> ready, std::function<void()> act) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, owner, [poll, ready, act] {
    if (!ready()) return;
    poll->stop();
    poll->deleteLater();
    act();
  });
  poll->start(5);
}

QString Text(QWidget* dialog, const char* name) {
  auto* label = dialog->findChild<QLabel*>(name);
  return label ? label->text() : QString("(no %1)").arg(name);
}

QPushButton* StopButton(QWidget* dialog) {
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    if (button->text() == "Stop") return button;
  }
  return nullptr;
}

int AddClip(const std::string& name, int drive, int check = 1,
            int media = KindBit(kKindAvi)) {
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kClipName, name);
  clips.SetInt(row, clip::kDriveno, drive);
  clips.SetInt(row, clip::kCodecno, 1);
  clips.SetInt(row, clip::kCheck, check);
  clips.SetInt(row, clip::kMT, media);
  clips.SetInt(row, clip::kOline, -1);
  return row;
}

// A test must not hang when the run never ends: the gate opens and the
// dialog is asked to close; the test then fails on what it saw.
constexpr int kGiveUpMs = 20000;

}  // namespace

class TestPADlg : public QObject {
  Q_OBJECT

 private:
  Settings saved_settings_;
  const LayoutScale unit_{1.0, 1.0};

  void GuardAgainstHanging(Gate& gate, bool& gave_up) {
    QTimer::singleShot(kGiveUpMs, this, [&gate, &gave_up] {
      gave_up = true;
      gate.Open();
      if (CPADlg* open = AnalysisDialog()) open->Stop();
    });
  }

 private slots:
  void initTestCase() { App().context_limit = 8; }
  void init() {
    saved_settings_ = AppSettings();
    Tables().clip.Clear();
  }
  void cleanup() {
    AppSettings() = saved_settings_;
    Tables().clip.Clear();
  }

  void closesByItselfWhenNoClipIsEligible() {
    AddClip("unchecked", 0, 0);
    AddClip("no video", 1, 1, 0);
    CUDlg window(unit_);
    window.show();
    Gate gate;
    bool gave_up = false;
    GuardAgainstHanging(gate, gave_up);
    ParallelOptions options;
    options.threads = 2;
    RunParallelAnalysisDialog(window, options, gate.Runner());
    QVERIFY(!gave_up);
    QCOMPARE(gate.Started(), 0);
    QVERIFY(AnalysisDialog() == nullptr);
    QCOMPARE(AnalysisContextAt(0).clip_row, 0);  // the list's first line
  }

  // Every way of closing while three workers run is a "Stop": no new clip
  // starts, and the dialog closes after the third has ended.
  void stopWhileWorkersRun_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Stop") << "Stop";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "Escape";
  }
  void stopWhileWorkersRun() {
    QFETCH(QString, how);
    std::vector<int> rows;
    for (int i = 0; i < 6; ++i) rows.push_back(AddClip("clip" + std::to_string(i), i % 2));
    CUDlg window(unit_);
    window.show();
    Gate gate;
    bool gave_up = false;
    GuardAgainstHanging(gate, gave_up);
    QString title, summary, label1, label0;
    QSize size;
    bool open_after_stop = false;
    int started_after_stop = -1;
    When(this, [&] { return gate.Started() == 3 && AnalysisDialog(); }, [&] {
      CPADlg* dialog = AnalysisDialog();
      title = dialog->windowTitle();
      size = dialog->size();
      summary = Text(dialog, "summary");
      label0 = Text(dialog, "label0");
      label1 = Text(dialog, "label1");
      if (how == "Stop") QTest::mouseClick(StopButton(dialog), Qt::LeftButton);
      if (how == "close") dialog->close();
      if (how == "Escape") QTest::keyClick(dialog, Qt::Key_Escape);
      open_after_stop = AnalysisDialog() == dialog && dialog->isVisible();
      QTimer::singleShot(100, this, [&] {
        started_after_stop = gate.Started();
        gate.Open();
      });
    });
    ParallelOptions options;
    options.threads = 3;
    const int context0 = RunParallelAnalysisDialog(window, options, gate.Runner());
    QVERIFY(!gave_up);
    QCOMPARE(title, QString("Parallel Analysis"));
    QCOMPARE(size, QSize(240, 68 + 17 * 3));
    QCOMPARE(summary, QString("3 threads 0 / 6 "));
    QCOMPARE(label0, QString());
    QVERIFY2(label1.startsWith("1: clip"), qPrintable(label1));
    QVERIFY(open_after_stop);
    QCOMPARE(started_after_stop, 3);
    QCOMPARE(gate.Started(), 3);
    QCOMPARE(gate.stops(), (std::vector<int>{kStopWithWhatItHas, kStopWithWhatItHas,
                                             kStopWithWhatItHas}));
    QVERIFY(AnalysisDialog() == nullptr);
    // After "Stop" context 0 keeps the last finished clip, whose picture the
    // main window holds for the mask page.
    QVERIFY(context0 >= 0);
    QCOMPARE(window.analysis_result().clip_row, context0);
    for (int slot = 0; slot <= 3; ++slot) QCOMPARE(AnalysisContextAt(slot).stop.load(), 0);
  }

  // "Stop" before the run has begun closes the dialog, and no clip starts
  // afterwards.
  void stopBeforeTheRunBeginsStartsNothing() {
    AddClip("a", 0);
    CUDlg window(unit_);
    window.show();
    Gate gate;
    ParallelOptions options;
    options.threads = 2;
    CPADlg dialog(window, options, gate.Runner());
    QTimer::singleShot(0, &dialog, [&] { dialog.Stop(); });  // ahead of the start
    dialog.exec();
    QTest::qWait(50);
    QCOMPARE(gate.Started(), 0);
    QVERIFY(!dialog.running());
    gate.Open();
  }

  // One clip, the one asked for, in slot 0, then the dialog closes by
  // itself; its place beside the main window is kept.
  void sequentialRunAnalysesOneClip() {
    AddClip("a", 0);
    const int b = AddClip("b", 0, 0);  // unchecked: asked for all the same
    AddClip("c", 1);
    AppSettings().gPAN = 2;
    AppSettings().PAdlgx0 = 30;
    AppSettings().PAdlgy0 = 40;
    CUDlg window(unit_);
    window.show();
    window.move(100, 80);
    Gate gate;
    bool gave_up = false;
    GuardAgainstHanging(gate, gave_up);
    QString title, label0;
    QPoint offset;
    QSize size;
    When(this, [&] { return gate.Started() == 1 && AnalysisDialog(); }, [&] {
      CPADlg* dialog = AnalysisDialog();
      title = dialog->windowTitle();
      label0 = Text(dialog, "label0");
      size = dialog->size();
      offset = dialog->pos() - window.pos();
      dialog->move(dialog->pos() + QPoint(5, 6));
      gate.Open();
    });
    const int code = RunSequentialAnalysisDialog(window, b, gate.Runner(7));
    QVERIFY(!gave_up);
    QCOMPARE(code, 7);
    QCOMPARE(gate.started(), (std::vector<std::pair<int, int>>{{0, b}}));
    QCOMPARE(title, QString("Sequential Analysis"));
    QCOMPARE(label0, QString("0: b"));
    QCOMPARE(size, QSize(240, 68 + 17 * 2));
    QCOMPARE(offset, QPoint(30, 40));
    QCOMPARE(AppSettings().PAdlgx0, 35);
    QCOMPARE(AppSettings().PAdlgy0, 46);
    QCOMPARE(window.analysis_result().clip_row, b);
  }

  void sequentialRunRefusesAClipWithoutVideo() {
    const int row = AddClip("stills only", 0, 1, 0);
    CUDlg window(unit_);
    Gate gate;
    QCOMPARE(RunSequentialAnalysisDialog(window, row, gate.Runner()), kNoVideoToAnalyse);
    QCOMPARE(RunSequentialAnalysisDialog(window, -1, gate.Runner()), kNoVideoToAnalyse);
    QCOMPARE(gate.Started(), 0);
  }

  // Closing the main window while clips run asks first; OK stops them
  // keeping their old results and closes the window after the last.
  void closingTheMainWindowDuringARun_data() {
    QTest::addColumn<bool>("answer_ok");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
  }
  void closingTheMainWindowDuringARun() {
    QFETCH(bool, answer_ok);
    for (int i = 0; i < 4; ++i) AddClip("clip" + std::to_string(i), i % 2);
    ScriptedUi ui;
    ScopedUi scoped(ui);
    ui.QueueAnswer(answer_ok);
    CUDlg window(unit_);
    window.show();
    Gate gate;
    bool gave_up = false;
    GuardAgainstHanging(gate, gave_up);
    bool closed_at_once = true;
    When(this, [&] { return gate.Started() == 2 && AnalysisDialog(); }, [&] {
      closed_at_once = window.close();
      // "Stop" afterwards does not make the running clips write.
      if (answer_ok) QTest::mouseClick(StopButton(AnalysisDialog()), Qt::LeftButton);
      gate.Open();
    });
    ParallelOptions options;
    options.threads = 2;
    RunParallelAnalysisDialog(window, options, gate.Runner());
    QVERIFY(!gave_up);
    QVERIFY(!closed_at_once);
    const std::vector<std::string> asked = ui.questions();
    QCOMPARE(asked.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(asked[0]), QString(kAnalysisRunningQuestion));
    if (answer_ok) {
      QCOMPARE(gate.stops(), (std::vector<int>{kStopKeepingResult, kStopKeepingResult}));
      QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    } else {
      QCOMPARE(gate.Started(), 4);
      QCOMPARE(gate.stops(), (std::vector<int>{0, 0, 0, 0}));
      QTest::qWait(50);
      QVERIFY(window.isVisible());
    }
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPADlg)
#include "test_pa_dlg.moc"
