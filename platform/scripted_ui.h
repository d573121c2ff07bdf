// A Ui for tests: records every message, question and status line, and
// answers questions and file dialogs from queues (a question with an empty
// queue is answered Cancel/No; a file dialog with an empty queue takes the
// proposed path).
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace mr4 {

class ScriptedUi final : public Ui {
 public:
  struct Shown {
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::kNone;
  };

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
  void Status(std::string_view text) override;
  void SetWaitCursor(bool) override {}
  KeyState Keys() override;
  void Beep() override {}

  // Script.
  void QueueAnswer(bool ok);
  void QueuePath(std::optional<std::filesystem::path> path);
  void SetKeys(KeyState keys);

  // Record (copies, safe to call while other threads use the Ui).
  std::vector<Shown> messages() const;
  std::vector<std::string> questions() const;
  std::vector<std::string> status_lines() const;
  void Clear();

 private:
  bool NextAnswer(std::string_view text);
  std::optional<std::filesystem::path> NextPath(const FileDialogRequest& r);

  mutable std::mutex mutex_;
  std::vector<Shown> messages_;
  std::vector<std::string> questions_;
  std::vector<std::string> status_;
  std::deque<bool> answers_;
  std::deque<std::optional<std::filesystem::path>> paths_;
  KeyState keys_;
};

}  // namespace mr4
