// Process-wide values set up at start-up and read by every subsystem: the
// home directory, the version strings, the analysis-context limit, the export
// scrambler, the leap-second list and the YUV conversion tables.
//
// They sit in one record behind App(); start-up fills it on the
// user-interface thread before any worker exists, after which everything but
// the scrambler (user-interface thread only) and `replay_ended` is read-only.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mr4 {

inline constexpr double kVersion = 5.0;      // VersionTitle's "%.2f"
inline constexpr int kVersionNumber = 500;   // VersionNumberText, settings VERSION
inline constexpr int kHomeDirectoryMaxChars = 1023;
inline constexpr int kMaxContexts = 8;       // ContextLimit's upper bound
inline constexpr std::uint64_t kAssumedFreeMiB = 4096;
inline constexpr std::uint64_t kMiBPerContext = 641;

// The export scrambler: a 32-bit linear congruential generator, state `s`
// and `s` AND 0xFFFFFF. Its constants are shared by every writer of
// scrambled columns (clicks file, meteor summary CSV).
struct ExportScrambler {
  static constexpr std::uint32_t kSeed = 0x9E3779B9u;
  static constexpr std::uint32_t kMultiplier = 1664525u;
  static constexpr std::uint32_t kIncrement = 1013904223u;
  static constexpr int kRounds = 16;

  std::uint32_t s = 0;
  std::uint32_t s24 = 0;  // s AND 0xFFFFFF

  // One step of the generator (modulo 2^32).
  static constexpr std::uint32_t Step(std::uint32_t x) {
    return x * kMultiplier + kIncrement;
  }
  // Seeds from a wall-clock instant: milliseconds part and the low 32 bits
  // of the seconds since 1970.
  void Seed(std::uint32_t milliseconds, std::uint32_t unix_seconds_low);
};

// One row of the leap-second table as start-up reads it.
struct LeapSecondRow {
  int year = 0;
  int month = 0;
  int day = 0;
  int ls = 0;        // TAI - UTC, whole seconds
  float dls = 0.0f;  // fractional part
};

// Leap-second list: index n - i holds row i of the file, so index 1 is the
// newest change; index n + 1 is a sentinel (MJD 0, 10.0 s); index 0 unused.
struct LeapSecondList {
  static constexpr int kMaxRows = 99;
  int n = 0;
  std::array<double, kMaxRows + 2> mjd{};
  std::array<float, kMaxRows + 2> tai_minus_utc{};  // seconds
};

// Builds the list; FatalCode 9001 for 0 rows or more than 99.
LeapSecondList BuildLeapSecondList(std::span<const LeapSecondRow> rows);
// The MJD of 0h UT on a civil date by the leap-second table's formula.
int LeapSecondRowMjd(int year, int month, int day);

// BT.601 luma and the U and V contributions to green, 16.16 fixed point.
struct YuvTables {
  std::array<std::int32_t, 256> y{};
  std::array<std::int32_t, 256> ug{};
  std::array<std::int32_t, 256> vg{};
};
YuvTables BuildYuvTables();

struct AppState {
  std::filesystem::path home;          // HomeDirectory
  std::string version_title;           // "MeridraV4 V5.00 (64bit)"
  std::string version_number_text;     // "500"
  int context_limit = 1;               // ContextLimit, 1..8
  ExportScrambler scrambler;
  LeapSecondList leap_seconds;
  YuvTables yuv;
  std::atomic<int> replay_ended{0};    // ReplayEndedFlag
  bool startup_aborted = false;
};

// The one door to the process-wide values.
AppState& App();

// "%s\\%s" of the home directory and a file name.
std::filesystem::path HomeFile(std::string_view name);
// "%s\\PROF\\%s": a camera profile in the home directory.
std::filesystem::path ProfileFile(std::string_view name);

// Version strings as start-up builds them.
std::string MakeVersionTitle();
std::string MakeVersionNumberText();

// ContextLimit from the free physical memory (nullopt: not known). Shows
// "Cannot Get free mem size, assuming 4GB" below 4096 MiB; FatalError
// "Memory not enough" when the limit would be below 1.
int ComputeContextLimit(std::optional<std::uint64_t> free_mib);

}  // namespace mr4
