// The desktop program: `mr4` without a command opens the main window between
// start-up and shut-down, as the headless commands run theirs; `mr4
// screenshot` builds the window off screen and saves a picture of a page.
// Only these create a QApplication.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/startup.h"

namespace mr4 {

// Installs the Qt Ui and main queue, runs start-up, the main window until
// it closes, and shut-down. Returns the program's exit status.
int RunDesktop(int argc, char** argv, const StartupOptions& options);

struct ScreenshotRequest {
  std::string page;          // a page name of PageTable()
  std::filesystem::path out; // the PNG file written
  std::string clip;          // made current when not empty
  std::optional<int> frame;  // View page: this frame of the clip's video
  std::optional<int> width;  // the window's size; the stored one otherwise
  std::optional<int> height;
};

// Start-up, the main window on Qt's offscreen platform with the page shown
// (and the clip current), the window rendered to a PNG file, shut-down.
// Returns 0, or 2 when the clip is unknown or the file cannot be written.
int RunScreenshot(int argc, char** argv, const StartupOptions& options,
                  const ScreenshotRequest& request);

}  // namespace mr4
