// The state of the processing dialog that a long operation shows while its
// worker runs: the title and status lines and the closed flag.
//
// One record for the process. Any thread may set the status line and read
// the flag; the user-interface thread opens and closes the dialog and sets
// the title. A worker stops early once closed() is true; the dialog may be
// gone by then.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace mr4 {

inline constexpr int kProcessingTitleMaxChars = 1023;
inline constexpr int kProcessingStatusMaxChars = 255;

class ProcessingState {
 public:
  // Texts longer than their limits are cut (bytes; never inside a UTF-8
  // character).
  void SetTitle(std::string_view text);
  void SetStatus(std::string_view text);
  std::string title() const;
  std::string status() const;

  bool closed() const { return closed_.load(std::memory_order_acquire); }
  void SetClosed(bool closed) { closed_.store(closed, std::memory_order_release); }

 private:
  mutable std::mutex mutex_;
  std::string title_;
  std::string status_;
  std::atomic<bool> closed_{true};
};

// The one processing state.
ProcessingState& Processing();

// `text` cut to at most `max_bytes` bytes, not inside a UTF-8 character.
std::string CutUtf8(std::string_view text, std::size_t max_bytes);

}  // namespace mr4
