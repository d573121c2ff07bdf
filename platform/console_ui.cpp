#include "platform/console_ui.h"

#include <string>

namespace mr4 {
namespace {

void WriteLine(std::FILE* f, std::string_view caption, std::string_view text) {
  std::string line;
  if (!caption.empty()) {
    line.append(caption).append(": ");
  }
  line.append(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), f);
  std::fflush(f);
}

}  // namespace

void ConsoleUi::Message(std::string_view caption, std::string_view text,
                        MessageIcon) {
  std::lock_guard lock(mutex_);
  WriteLine(options_.err, caption, text);
}

bool ConsoleUi::Ask(std::string_view caption, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (options_.answer_yes) return true;
  ++declined_;
  std::string note = "declined (run with --yes to accept): ";
  note.append(text);
  WriteLine(options_.err, caption, note);
  return false;
}

int ConsoleUi::declined() const {
  std::lock_guard lock(mutex_);
  return declined_;
}

bool ConsoleUi::AskOkCancel(std::string_view caption, std::string_view text) {
  return Ask(caption, text);
}

bool ConsoleUi::AskYesNo(std::string_view caption, std::string_view text) {
  return Ask(caption, text);
}

std::optional<std::filesystem::path> ConsoleUi::OpenFile(
    const FileDialogRequest& request) {
  if (request.proposed.empty()) return std::nullopt;
  return request.proposed;
}

std::optional<std::filesystem::path> ConsoleUi::SaveFile(
    const FileDialogRequest& request) {
  if (request.proposed.empty()) return std::nullopt;
  return request.proposed;
}

std::optional<std::filesystem::path> ConsoleUi::ChooseFolder(
    const FileDialogRequest& request) {
  if (request.proposed.empty()) return std::nullopt;
  return request.proposed;
}

void ConsoleUi::Status(std::string_view text) {
  if (options_.quiet_status) return;
  std::lock_guard lock(mutex_);
  WriteLine(options_.out, {}, text);
}

}  // namespace mr4
