#include "platform/scripted_ui.h"

namespace mr4 {

void ScriptedUi::Message(std::string_view caption, std::string_view text,
                         MessageIcon icon) {
  std::lock_guard lock(mutex_);
  messages_.push_back({std::string(caption), std::string(text), icon});
}

bool ScriptedUi::NextAnswer(std::string_view text) {
  std::lock_guard lock(mutex_);
  questions_.emplace_back(text);
  if (answers_.empty()) return false;
  bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

bool ScriptedUi::AskOkCancel(std::string_view, std::string_view text) {
  return NextAnswer(text);
}

bool ScriptedUi::AskYesNo(std::string_view, std::string_view text) {
  return NextAnswer(text);
}

std::optional<std::filesystem::path> ScriptedUi::NextPath(
    const FileDialogRequest& r) {
  std::lock_guard lock(mutex_);
  if (paths_.empty()) {
    if (r.proposed.empty()) return std::nullopt;
    return r.proposed;
  }
  auto path = paths_.front();
  paths_.pop_front();
  return path;
}

std::optional<std::filesystem::path> ScriptedUi::OpenFile(
    const FileDialogRequest& request) {
  return NextPath(request);
}

std::optional<std::filesystem::path> ScriptedUi::SaveFile(
    const FileDialogRequest& request) {
  return NextPath(request);
}

std::optional<std::filesystem::path> ScriptedUi::ChooseFolder(
    const FileDialogRequest& request) {
  return NextPath(request);
}

void ScriptedUi::Status(std::string_view text) {
  std::lock_guard lock(mutex_);
  status_.emplace_back(text);
}

KeyState ScriptedUi::Keys() {
  std::lock_guard lock(mutex_);
  return keys_;
}

void ScriptedUi::QueueAnswer(bool ok) {
  std::lock_guard lock(mutex_);
  answers_.push_back(ok);
}

void ScriptedUi::QueuePath(std::optional<std::filesystem::path> path) {
  std::lock_guard lock(mutex_);
  paths_.push_back(std::move(path));
}

void ScriptedUi::SetKeys(KeyState keys) {
  std::lock_guard lock(mutex_);
  keys_ = keys;
}

std::vector<ScriptedUi::Shown> ScriptedUi::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::string> ScriptedUi::questions() const {
  std::lock_guard lock(mutex_);
  return questions_;
}

std::vector<std::string> ScriptedUi::status_lines() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void ScriptedUi::Clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
  questions_.clear();
  status_.clear();
  answers_.clear();
  paths_.clear();
}

}  // namespace mr4
