// The user-facing services the engine needs: message boxes, questions, file
// and folder dialogs, the wait cursor, the modifier keys, the beep and status
// lines. The engine calls only this interface; the desktop program installs a
// Qt implementation, the headless program a console one, tests a scripted one.
//
// Thread safety: every method may be called from any thread (analysis workers
// report errors and ask questions); each implementation serialises the calls.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mr4 {

enum class MessageIcon { kNone, kInformation, kWarning, kError };

// Modifier keys held when a command was given (engine variants of commands
// take this as an explicit argument; pages read it from Ui::Keys()).
struct KeyState {
  bool ctrl = false;
  bool alt = false;
  bool shift = false;
};

struct FileDialogRequest {
  std::string title;
  std::filesystem::path proposed;  // directory and/or file name offered
  std::string filter;              // e.g. "XML files (*.xml)|*.xml"
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box; returns when the user has closed it.
  virtual void Message(std::string_view caption, std::string_view text,
                       MessageIcon icon) = 0;
  // An OK/Cancel question; true for OK.
  virtual bool AskOkCancel(std::string_view caption, std::string_view text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;
  // File and folder dialogs; nullopt when cancelled.
  virtual std::optional<std::filesystem::path> OpenFile(
      const FileDialogRequest& request) = 0;
  virtual std::optional<std::filesystem::path> SaveFile(
      const FileDialogRequest& request) = 0;
  virtual std::optional<std::filesystem::path> ChooseFolder(
      const FileDialogRequest& request) = 0;
  // A status line of a page (headless: printed).
  virtual void Status(std::string_view text) = 0;
  virtual void SetWaitCursor(bool on) = 0;
  virtual KeyState Keys() = 0;
  virtual void Beep() = 0;
};

// The installed implementation. Before anything is installed a console Ui
// that declines every question is used, so early errors are never lost.
Ui& CurrentUi();
// Installs `ui` (not owned; must outlive its use) and returns the previous
// one. nullptr restores the default console Ui.
Ui* SetUi(Ui* ui);

// Installs a Ui for the life of a scope (tests).
class ScopedUi {
 public:
  explicit ScopedUi(Ui& ui) : previous_(SetUi(&ui)) {}
  ~ScopedUi() { SetUi(previous_); }
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* previous_;
};

}  // namespace mr4
