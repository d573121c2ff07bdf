#include "platform/processing_state.h"

namespace mr4 {

std::string CutUtf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  std::size_t end = max_bytes;
  // Back over continuation bytes to the start of the character cut off.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

void ProcessingState::SetTitle(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  title_ = CutUtf8(text, kProcessingTitleMaxChars);
}

void ProcessingState::SetStatus(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = CutUtf8(text, kProcessingStatusMaxChars);
}

std::string ProcessingState::title() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return title_;
}

std::string ProcessingState::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

ProcessingState& Processing() {
  static ProcessingState state;
  return state;
}

}  // namespace mr4
