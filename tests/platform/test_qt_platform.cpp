// The Qt side of the platform layer: workers' messages and questions reach
// the user-interface thread and their answers come back; the event-loop
// queue runs posts and timers on that thread in order; file filters.
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/qt_message_queue.h"
#include "platform/qt_ui.h"
#include "platform/scripted_ui.h"

namespace mr4 {
namespace {

// A scripted Ui that also notes the thread of every call.
class ThreadNotingUi final : public Ui {
 public:
  void Message(std::string_view caption, std::string_view text, MessageIcon icon) override {
    Note();
    inner_.Message(caption, text, icon);
  }
  bool AskOkCancel(std::string_view caption, std::string_view text) override {
    Note();
    return inner_.AskOkCancel(caption, text);
  }
  bool AskYesNo(std::string_view caption, std::string_view text) override {
    Note();
    return inner_.AskYesNo(caption, text);
  }
  std::optional<std::filesystem::path> OpenFile(const FileDialogRequest& r) override {
    Note();
    return inner_.OpenFile(r);
  }
  std::optional<std::filesystem::path> SaveFile(const FileDialogRequest& r) override {
    Note();
    return inner_.SaveFile(r);
  }
  std::optional<std::filesystem::path> ChooseFolder(const FileDialogRequest& r) override {
    Note();
    return inner_.ChooseFolder(r);
  }
  void Status(std::string_view text) override { inner_.Status(text); }
  void SetWaitCursor(bool) override { Note(); }
  KeyState Keys() override {
    Note();
    return inner_.Keys();
  }
  void Beep() override { Note(); }

  ScriptedUi& inner() { return inner_; }
  std::vector<QThread*> threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

 private:
  void Note() {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(QThread::currentThread());
  }
  ScriptedUi inner_;
  mutable std::mutex mutex_;
  std::vector<QThread*> threads_;
};

}  // namespace

class TestQtPlatform : public QObject {
  Q_OBJECT

 private slots:
  void workersCallsRunOnTheUserInterfaceThread() {
    ThreadNotingUi dialogs;
    MainThreadUi door(dialogs);
    constexpr int kWorkers = 3;
    constexpr int kQuestions = 20;
    for (int i = 0; i < kWorkers * kQuestions; ++i) dialogs.inner().QueueAnswer(i % 2 == 0);
    dialogs.inner().QueuePath(std::filesystem::path("/data/clips"));
    dialogs.inner().SetKeys(KeyState{true, false, true});

    std::atomic<int> ok_answers{0};
    std::atomic<int> finished{0};
    std::optional<std::filesystem::path> folder;
    KeyState keys;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int q = 0; q < kQuestions; ++q) {
          if (door.AskOkCancel("Qor series", "question")) ++ok_answers;
        }
        door.Message("Qor series", "UE044: Cannot create live graph", MessageIcon::kError);
        if (w == 0) {
          folder = door.ChooseFolder(FileDialogRequest{"clip directory", "/tmp", ""});
          keys = door.Keys();
        }
        ++finished;
      });
    }
    QVERIFY(QTest::qWaitFor([&] { return finished == kWorkers; }, 20000));
    for (std::thread& t : workers) t.join();

    QCOMPARE(ok_answers.load(), kWorkers * kQuestions / 2);
    QCOMPARE(folder, std::optional<std::filesystem::path>("/data/clips"));
    QVERIFY(keys.ctrl && keys.shift && !keys.alt);
    const std::vector<ScriptedUi::Shown> shown = dialogs.inner().messages();
    QCOMPARE(shown.size(), std::size_t(kWorkers));
    QCOMPARE(QString::fromStdString(shown[0].text), QString("UE044: Cannot create live graph"));
    const std::vector<QThread*> threads = dialogs.threads();
    QCOMPARE(threads.size(), std::size_t(kWorkers * (kQuestions + 1) + 2));
    for (QThread* thread : threads) QCOMPARE(thread, QThread::currentThread());

    // From the user-interface thread itself the call goes straight through.
    door.Message("Qor series", "direct", MessageIcon::kNone);
    QCOMPARE(dialogs.inner().messages().size(), std::size_t(kWorkers + 1));
  }

  void postsRunOnTheQueueThreadInPostingOrder() {
    QtMessageQueue queue;
    std::vector<int> order;  // written on the queue thread only
    std::atomic<bool> wrong_thread{false};
    QThread* ui_thread = QThread::currentThread();
    std::thread worker([&] {
      for (int i = 0; i < 100; ++i) {
        queue.Post([&, i] {
          if (QThread::currentThread() != ui_thread) wrong_thread = true;
          order.push_back(i);
        });
      }
    });
    worker.join();
    queue.Post([&] { order.push_back(100); });
    QVERIFY(QTest::qWaitFor([&] { return order.size() == 101; }, 10000));
    QVERIFY(!wrong_thread);
    for (int i = 0; i <= 100; ++i) QCOMPARE(order[i], i);
  }

  void timersTickOnTheQueueThreadUntilStopped() {
    QtMessageQueue queue;
    QThread* ui_thread = QThread::currentThread();
    std::atomic<int> ticks{0};
    std::atomic<int> never{0};
    std::atomic<bool> wrong_thread{false};
    MessageQueue::TimerId id = 0;
    std::thread worker([&] {
      id = queue.StartTimer(std::chrono::milliseconds(5), [&] {
        if (QThread::currentThread() != ui_thread) wrong_thread = true;
        ++ticks;
      });
      // Stopped before the queue thread has made it: it never ticks.
      const MessageQueue::TimerId gone =
          queue.StartTimer(std::chrono::milliseconds(1), [&] { ++never; });
      queue.StopTimer(gone);
    });
    worker.join();
    QVERIFY(id != 0);
    QVERIFY(QTest::qWaitFor([&] { return ticks >= 3; }, 10000));
    // A timer that stops itself from its own tick.
    std::atomic<int> self_ticks{0};
    MessageQueue::TimerId self = 0;
    self = queue.StartTimer(std::chrono::milliseconds(1), [&] {
      ++self_ticks;
      queue.StopTimer(self);
    });
    queue.StopTimer(id);
    const int at_stop = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks.load(), at_stop);
    QCOMPARE(self_ticks.load(), 1);
    QCOMPARE(never.load(), 0);
    QVERIFY(!wrong_thread);
    queue.StopTimer(12345);  // unknown: ignored
  }

  void fileFiltersBecomeQtNameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one pair") << "XML files (*.xml)|*.xml" << "XML files (*.xml)";
    QTest::newRow("two pairs") << "CSV (*.csv)|*.csv|All (*.*)|*.*" << "CSV (*.csv);;All (*.*)";
    QTest::newRow("pattern added") << "Pictures|*.bmp;*.png" << "Pictures (*.bmp *.png)";
    QTest::newRow("trailing bar") << "Text (*.txt)|*.txt|" << "Text (*.txt)";
    QTest::newRow("empty") << "" << "";
  }
  void fileFiltersBecomeQtNameFilters() {
    QFETCH(QString, filter);
    QFETCH(QString, expected);
    QCOMPARE(QtNameFilter(filter.toStdString()), expected);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestQtPlatform)
#include "test_qt_platform.moc"
