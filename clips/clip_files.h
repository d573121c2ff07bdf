// What a clip file is: the kind of a file by the end of its name, the clip
// base name it belongs to, the date and time a time-stamped name carries,
// and the media summary columns of a clip row that its files build up
// (`media` letters, `MT` bits, `MB` size).
//
// A clip is the set of files in one directory that share a base name
// "M%04d%02d%02d_%02d%02d%02d" + suffix (local trigger time of the capture
// program). Kinds are told apart by the last five characters of the name:
// a character X, "." and a three-letter extension; the extension is
// compared without case except where noted, X always with case.
//
// Pure functions, callable from any thread. Sizes in bytes and megabytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mr4 {

// File kinds 0..15; the roles of the kinds are in the comments.
enum ClipFileKind : int {
  kKindAvi = 0,          // ".avi", video
  kKindWmv = 1,          // ".wmv", video
  kKindPeakBmp = 2,      // "P.BMP", peak-hold picture
  kKindStillBmp = 3,     // "S.BMP"
  kKindPeakJpg = 4,      // "P.JPG"
  kKindStillJpg = 5,     // "S.JPG"
  kKindOtherBmp = 6,     // any other ".BMP" but M, N, C
  kKindOtherJpg = 7,     // any other ".JPG" but T
  kKindCBmp = 8,         // "C.BMP"
  kKindMaskN = 9,        // "N.BMP", edited mask
  kKindMaskM = 10,       // "M.BMP", capture mask
  kKindCaptureRecord = 11,  // ".xml" (lower case only)
  kKindResult = 12,      // "A.XML" (upper case only)
  kKindThumbnail = 13,   // "T.JPG"
  kKindClicks = 14,      // "s.csv": the clicks file "_clicks.csv"
  kKindOther = 15,       // anything else starting with "M"
  kClipFileKindCount = 16,
};

enum class ClipFileClass {
  kNotClipFile,  // too short, not starting with "M", no "X.ext" ending
  kSkipped,      // "B.XML" secondary result, "L.csv" trail log
  kClipFile,
};

// The `MT` bit of each kind.
inline constexpr std::array<int, kClipFileKindCount> kKindBits = {
    0x000001, 0x000002, 0x000010, 0x000020, 0x000040, 0x000080,
    0x000100, 0x000200, 0x000400, 0x001000, 0x002000, 0x010000,
    0x020000, 0x040000, 0x080000, 0x100000};

constexpr int KindBit(int kind) { return kKindBits[static_cast<std::size_t>(kind)]; }

// The date and time of a time-stamped name (local clock of the station).
struct ClipNameTime {
  bool time_stamped = false;
  int y = 0, mo = 0, d = 0, h = 0, m = 0;
  float s = 0.0f;
};

struct ClassifiedFile {
  ClipFileClass cls = ClipFileClass::kNotClipFile;
  int kind = -1;     // 0..15 for clip files
  std::string base;  // the clip's base name (clip files only)
  ClipNameTime time;
};

// Classifies a file name (no directory part).
ClassifiedFile ClassifyClipFile(std::string_view file_name);

// The date fields of a name by the time-stamp rule; all zero when the name
// is not time-stamped.
ClipNameTime ParseClipNameTime(std::string_view file_name);

// The media string of a new clip: eight blanks.
inline constexpr char kEmptyMedia[] = "        ";
inline constexpr int kMediaChars = 8;

// Writes the letter of `kind` into `media` (eight characters) by the rules
// of each position: a later file never downgrades a letter a better file
// already set.
void ApplyMediaLetter(int kind, std::string& media);

// A file size in the `MB` column's megabytes: low 32 bits / 1024 / 1024 plus
// the high 32 bits x 4096.
float FileSizeMegabytes(std::uint64_t bytes);

}  // namespace mr4
