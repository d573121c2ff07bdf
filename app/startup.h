// Start-up and shut-down of the program, shared by the desktop program and
// every headless command: the same steps in the same order, so that a
// command that changes settings or tables leaves them on disk at exit.
//
// Runs on the user-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace mr4 {

struct StartupOptions {
  // Made the current directory before start-up reads it (--home DIR).
  std::optional<std::filesystem::path> home;
  // The credit window's lines go to stderr (headless --verbose).
  bool verbose = false;
  // Free memory to assume instead of asking the system (tests).
  std::optional<std::uint64_t> free_mib_override;
};

// Steps 1 to 20. Returns false when start-up was aborted (a missing ground
// map or star catalogue); nothing is then saved at the end.
bool StartUp(const StartupOptions& options);

// Steps 22 to 27. Writes the persistent tables and the settings unless
// start-up was aborted.
void ShutDown();

// StartUp, then `main_window` (step 21: the desktop window or a headless
// command), then ShutDown. Returns the main window's result, or 1 when
// start-up was aborted or the home directory could not be entered.
int RunApplication(const StartupOptions& options,
                   const std::function<int()>& main_window);

}  // namespace mr4
