#include "base/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/ui.h"

namespace mr4 {
namespace {

constexpr char kFatalErrorCaption[] = "Qor series Fatal Error";
constexpr char kFatalCodeCaption[] = "Qorseries FATAL ERROR";

}  // namespace

void ShowError(const char* format, ...) {
  char text[kMessageMaxChars + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  CurrentUi().Message(kMessageCaption, text, MessageIcon::kNone);
}

void FatalError(const char* format, ...) {
  char text[kMessageMaxChars + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  CurrentUi().Message(kFatalErrorCaption, text, MessageIcon::kError);
  FatalCode(kFatalAfterMessage);
}

void FatalCodeWithMessage(int code, const char* format, ...) {
  char text[kMessageMaxChars + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  CurrentUi().Message(kFatalErrorCaption, text, MessageIcon::kError);
  FatalCode(code);
}

void FatalCode(int code) {
  char text[32];
  std::snprintf(text, sizeof text, "err=%d", code);
  CurrentUi().Message(kFatalCodeCaption, text, MessageIcon::kNone);
  std::fflush(nullptr);
  // No destructors or atexit handlers: other threads may hold the state
  // they would tear down.
  std::_Exit(kFatalExitStatus);
}

}  // namespace mr4
