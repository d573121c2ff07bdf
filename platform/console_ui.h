// The headless Ui: message boxes become lines on stderr ("caption: text"),
// questions are answered OK/Yes only when the program was told so (--yes),
// otherwise declined with a note on stderr; file dialogs take the proposed
// path; status lines go to stdout.
#pragma once

#include <cstdio>
#include <mutex>

#include "platform/ui.h"

namespace mr4 {

class ConsoleUi final : public Ui {
 public:
  struct Options {
    bool answer_yes = false;  // --yes
    bool quiet_status = false;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    KeyState keys;            // modifier keys given on the command line
  };

  ConsoleUi() = default;
  explicit ConsoleUi(Options options) : options_(options) {}

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
  KeyState Keys() override { return options_.keys; }
  void Beep() override {}

  // Questions declined so far (none with --yes): the command's exit status
  // tells a script that something was not done.
  int declined() const;

 private:
  bool Ask(std::string_view caption, std::string_view text);

  Options options_;
  mutable std::mutex mutex_;
  int declined_ = 0;
};

}  // namespace mr4
