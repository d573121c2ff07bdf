// Operating-system services that stand in for the Windows shell and memory
// queries: free physical memory, the documents folder, the recycle bin, the
// default application for a file, and the storage device of a directory.
// All functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace mr4 {

// Available physical memory in MiB (MemAvailable of /proc/meminfo, else
// sysinfo's free RAM); nullopt when it cannot be read.
std::optional<std::uint64_t> FreePhysicalMemoryMiB();

// The user's documents folder (XDG documents directory, else $HOME).
std::filesystem::path DocumentsFolder();

// Moves a file or directory into the desktop trash (freedesktop.org trash
// through GIO). Returns false and fills `error` when it could not.
bool MoveToTrash(const std::filesystem::path& path, std::string* error);

// Opens a file with the user's default application (the "open" verb).
// Returns false and fills `error` when no application could be started.
bool OpenWithDefaultApp(const std::filesystem::path& path, std::string* error);

// A key that is equal for two directories on the same storage device
// (st_dev of the directory); nullopt when the directory cannot be read.
// Used to spread analysis workers over disks.
std::optional<std::uint64_t> StorageDeviceKey(const std::filesystem::path& dir);

}  // namespace mr4
