// The directory scan: rebuilds the clip table (and the objects of analysed
// clips) from the enabled rows of the clip-directory table, within the
// date range of the settings, one CLIP row per clip.
//
// It also keeps, per clip row, the real name of the file of each kind it
// met (kinds match their extension in any case, so a clip's peak-hold
// picture may be "...P.bmp"): everything that opens a clip's files opens
// these names rather than building them from the base name.
//
// Two adaptations to Linux: the storage drive of a directory is its device
// (StorageDeviceKey) instead of a drive letter, and directory paths keep
// their case; a directory reached again through a symbolic link (same
// device and inode) is scanned once per scan, so link loops end.
//
// User-interface thread only (or a command's thread while no page runs).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "clips/clip_files.h"

namespace mr4 {

// At most this many distinct storage drives take part in one scan.
inline constexpr int kMaxStorageDrives = 100;
// Directory texts longer than this are cut, as the table cells hold them.
inline constexpr int kDirectoryMaxChars = 1024;

// The file names of one clip, by kind; empty where the clip has none.
using ClipFileNames = std::array<std::string, kClipFileKindCount>;

// What one scan keeps besides the tables.
struct ClipLibrary {
  // Per clip row (index = row), the real names of its files.
  std::vector<ClipFileNames> file_names;
  // The storage drive keys met by this scan; `driveno` indexes them.
  std::vector<std::string> drives;
  // Directories (device, inode) already scanned by this scan.
  std::set<std::pair<std::uint64_t, std::uint64_t>> scanned;
  // Values new clip rows get from the last profile loaded.
  float default_fps = 29.97f;
  int default_avg_time_per_frame = 333333333;
  int default_sipos = 0;
  int default_sisize = 16;
  // The current profile name (file name in PROF, or a result file's name).
  std::string profile_name;
  // Per position in the directory list, the profile file its row names when
  // that file could not be read (empty otherwise).
  std::vector<std::filesystem::path> unreadable_profiles;
  // Told the number of clips after each directory (the clip count label).
  std::function<void(int clips)> on_clip_count;
};

// The one clip library of the process.
ClipLibrary& Clips();

// The path of the clip's file of `kind` as the scan met it; empty when the
// clip has no such file.
std::filesystem::path ClipFilePath(int row, int kind);

// The clip's edited mask N.BMP was written as `file_name` in its directory
// (empty: it was deleted): the row's `MT` bit and `media` letter follow,
// and ClipFilePath names the file, so that the analysis reads it.
void RecordEditedMask(int row, const std::string& file_name);

// The profile file named by the directory row of clip row `row` when that
// file could not be read and the clip has no result file (which would hold
// its camera): such a clip has no camera to calibrate or analyse with.
// Empty otherwise.
std::filesystem::path UnreadableProfile(int row);

// The rows of the clip table holding a clip named `name`, in row order
// (a name may stand in more than one directory).
std::vector<int> ClipRowsNamed(std::string_view name);

// The whole scan ("Read dir"): empties CLIP and OBJ, then scans every row
// of the directory table with `use` set, in table order, each with its
// profile. A profile file that cannot be read is reported, naming it, and
// recorded (UnreadableProfile); its directory is still listed. Returns the
// number of clips.
int ReadClipDirectories();

// Scans `directory` and its subdirectories (except those named exactly
// "Trash") into new CLIP rows with `driveno` = `drive` and `dirline` =
// `dir_line`. Files are merged into clips only with clips of the same
// directory.
void ScanClipDirectory(const std::filesystem::path& directory, int drive,
                       int dir_line);

// The drive index of `directory` in Clips().drives, appending its key;
// FatalError "too many storage drives (>%d)" at kMaxStorageDrives.
int StorageDriveIndex(const std::filesystem::path& directory);

}  // namespace mr4
