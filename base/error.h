// The program-wide error convention.
//
// ShowError: a message the user can act on (a modal box captioned
// "Qor series"; headless, a line on stderr). FatalError and FatalCode: an
// internal inconsistency; the message is shown and the process ends with exit
// status 99, there is no recovery. Callable from any thread.
#pragma once

namespace mr4 {

// Messages are cut to this many characters (the message buffer holds 1024).
inline constexpr int kMessageMaxChars = 1023;
inline constexpr int kFatalExitStatus = 99;
// The caption of the program's message boxes and questions.
inline constexpr char kMessageCaption[] = "Qor series";

// Fatal codes of the core.
enum FatalCodes : int {
  kFatalAfterMessage = -9,
  kFatalStringStoreNoMemory = 101,
  kFatalStringTooLong = 102,
  kFatalStringNotInStore = 103,
  kFatalRowBlockNoMemory = 105,
  kFatalRowBeyondBlocksScan = 106,
  kFatalAppendNoBlock = 107,
  kFatalListItemOutside = 109,
  kFatalRowMissing = 110,
  kFatalRowBeyondBlocksRead = 111,
  kFatalCellTextTooLong = 113,
  kFatalMalformedTableFile = 201,
  kFatalLeapSecondTable = 9001,
  kFatalDateOutOfRange = 9003,
};

void ShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void FatalError(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
[[noreturn]] void FatalCode(int code);
// FatalError's message, then FatalCode with `code` instead of -9: for the
// coded faults whose code alone would not say where they are (the file and
// line of a malformed table).
[[noreturn]] void FatalCodeWithMessage(int code, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace mr4
