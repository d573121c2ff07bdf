// The desktop program's Ui: Qt message boxes, questions and file dialogs
// (QtUi), and the door every other thread goes through to reach them
// (MainThreadUi).
//
// Qt widgets belong to the user-interface thread, yet analysis workers and
// long operations show messages and ask questions. MainThreadUi hands such a
// call to the user-interface thread as a blocking queued call and waits for
// the answer; on the user-interface thread it calls straight through. So the
// user-interface thread must never wait on a worker without serving its
// event loop (RunWithProgress serves it while it waits).
#pragma once

#include <QObject>
#include <QString>
#include <mutex>
#include <string>

#include "platform/ui.h"

namespace mr4 {

// The Qt dialogs. User-interface thread only, except Status.
class QtUi final : public Ui {
 public:
  void Message(std::string_view caption, std::string_view text,
               MessageIcon icon) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  bool AskYesNo(std::string_view caption, std::string_view text) override;
  std::optional<std::filesystem::path> OpenFile(
      const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> SaveFile(
      const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> ChooseFolder(
      const FileDialogRequest& request) override;
  // Any thread: the processing dialog's status line shows it.
  void Status(std::string_view text) override;
  // Nested: the cursor comes back after as many offs as ons.
  void SetWaitCursor(bool on) override;
  KeyState Keys() override;
  void Beep() override;
};

// "Text files (*.txt)|*.txt|All (*.*)|*.*" (description and pattern pairs)
// as a Qt name filter "Text files (*.txt);;All (*.*)". A description without
// its pattern in brackets gets it appended.
QString QtNameFilter(const std::string& filter);

// Forwards every call to `inner` on the thread that built it (the
// user-interface thread), blocking a calling worker until the answer is
// there. Status goes straight to `inner` from any thread.
class MainThreadUi final : public Ui {
 public:
  explicit MainThreadUi(Ui& inner) : inner_(inner) {}

  void Message(std::string_view caption, std::string_view text,
               MessageIcon icon) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;
  bool AskYesNo(std::string_view caption, std::string_view text) override;
  std::optional<std::filesystem::path> OpenFile(
      const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> SaveFile(
      const FileDialogRequest& request) override;
  std::optional<std::filesystem::path> ChooseFolder(
      const FileDialogRequest& request) override;
  void Status(std::string_view text) override { inner_.Status(text); }
  void SetWaitCursor(bool on) override;
  KeyState Keys() override;
  void Beep() override;

 private:
  template <typename F>
  auto OnUiThread(F call) -> decltype(call());

  Ui& inner_;
  QObject context_;  // lives on the user-interface thread
  // Workers' calls go one at a time, in arrival order.
  std::mutex worker_calls_;
};

}  // namespace mr4
