// Start-up and shut-down of the program, shared by the desktop program and
// every headless command: the same steps in the same order, so that a
// command that changes settings or tables leaves them on disk at exit.
//
// Runs on the user-interface thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace mr4 {

// The file of the home directory whose lock says that a program uses the
// home: one program at a time reads and writes a home's files.
inline constexpr char kHomeLockFileName[] = "MR4_HOME.lock";
// How long start-up waits for another program to leave the home.
inline constexpr std::chrono::milliseconds kHomeLockWait{5000};

// RunApplication's own results (the main window's otherwise).
inline constexpr int kRunStartupAborted = 1;  // or the home could not be entered
inline constexpr int kRunNotSaved = 2;        // a file could not be written at shut-down
inline constexpr int kRunHomeInUse = 4;       // another program held the home

struct StartupOptions {
  // Made the current directory before start-up reads it (--home DIR).
  std::optional<std::filesystem::path> home;
  // The credit window's lines go to stderr (headless --verbose).
  bool verbose = false;
  // Free memory to assume instead of asking the system (tests).
  std::optional<std::uint64_t> free_mib_override;
  // How long to wait for another program that holds the home.
  std::chrono::milliseconds home_lock_wait = kHomeLockWait;
};

// Steps 1 to 20. Step 4 takes the home's lock; when another program holds
// it for the whole wait, the message names that program and start-up ends
// there (HomeInUse). Returns false when start-up was aborted (the home in
// use, a missing ground map or star catalogue); nothing is then saved at
// the end.
bool StartUp(const StartupOptions& options);

// The last start-up ended because another program held the home.
bool HomeInUse();

// Steps 22 to 27. Writes the persistent tables and the settings unless
// start-up was aborted, then leaves the home (its lock). False when a file
// could not be written (each said with its message).
bool ShutDown();

// Writes the persistent tables (step 23) now, as shut-down will: for the
// commands whose whole work is a change of them. False after the message
// naming the file that could not be written.
bool SavePersistentTables();

// StartUp, then `main_window` (step 21: the desktop window or a headless
// command), then ShutDown. Returns the main window's result, or
// kRunStartupAborted when start-up was aborted or the home directory could
// not be entered, kRunHomeInUse when another program held the home, and
// kRunNotSaved instead of a success when shut-down could not write a file.
int RunApplication(const StartupOptions& options,
                   const std::function<int()>& main_window);

}  // namespace mr4
