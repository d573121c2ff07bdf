// The program's entries that need the desktop windows (built into `mr4`
// itself, beside the headless commands of commands.h).
#pragma once

#include <span>
#include <string>

#include "app/startup.h"

namespace mr4::cli {

extern const char kScreenshotSummary[];
extern const char kScreenshotUsage[];

// `mr4 screenshot ARGS`; argc and argv are the program's, for Qt.
int RunScreenshotCommand(int argc, char** argv, const StartupOptions& startup,
                         std::span<const std::string> args);

}  // namespace mr4::cli
