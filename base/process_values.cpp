#include "base/process_values.h"

#include <cmath>
#include <cstdio>

#include "base/error.h"

namespace mr4 {

AppState& App() {
  static AppState state;
  return state;
}

std::filesystem::path HomeFile(std::string_view name) {
  return App().home / std::filesystem::path(name);
}

std::filesystem::path ProfileFile(std::string_view name) {
  return App().home / "PROF" / std::filesystem::path(name);
}

std::string MakeVersionTitle() {
  char text[80];
  std::snprintf(text, sizeof text, "MeridraV4 V%.2f (64bit)", kVersion);
  return text;
}

std::string MakeVersionNumberText() {
  char text[20];
  std::snprintf(text, sizeof text, "%d", kVersionNumber);
  return text;
}

void ExportScrambler::Seed(std::uint32_t milliseconds,
                           std::uint32_t unix_seconds_low) {
  std::uint32_t x = milliseconds * unix_seconds_low * kSeed;
  for (int i = 0; i < kRounds; ++i) x = Step(x);
  s = x;
  s24 = x & 0xFFFFFFu;
}

int LeapSecondRowMjd(int year, int month, int day) {
  int y = month > 2 ? year : year - 1;
  int m = month > 2 ? month : month + 12;
  return static_cast<int>(365.25 * y) + y / 400 - y / 100 +
         static_cast<int>(30.59 * (m - 2)) + day - 678912;
}

LeapSecondList BuildLeapSecondList(std::span<const LeapSecondRow> rows) {
  const int n = static_cast<int>(rows.size());
  if (n < 1 || n > LeapSecondList::kMaxRows) FatalCode(kFatalLeapSecondTable);
  LeapSecondList list;
  list.n = n;
  for (int i = 0; i < n; ++i) {
    const LeapSecondRow& r = rows[i];
    list.mjd[n - i] = LeapSecondRowMjd(r.year, r.month, r.day);
    list.tai_minus_utc[n - i] = static_cast<float>(r.ls) + r.dls;
  }
  list.mjd[n + 1] = 0.0;
  list.tai_minus_utc[n + 1] = 10.0f;
  return list;
}

YuvTables BuildYuvTables() {
  YuvTables t;
  for (int v = 0; v < 256; ++v) {
    t.y[v] = static_cast<std::int32_t>(std::trunc((v - 16) * 1.164383 * 65536));
    t.ug[v] =
        static_cast<std::int32_t>(std::trunc((v - 128) * (-0.391762) * 65536));
    t.vg[v] =
        static_cast<std::int32_t>(std::trunc((v - 128) * (-0.812968) * 65536));
  }
  return t;
}

int ComputeContextLimit(std::optional<std::uint64_t> free_mib) {
  std::uint64_t mib = free_mib.value_or(0);
  if (mib < kAssumedFreeMiB) {
    ShowError("Cannot Get free mem size, assuming 4GB");
    return 4;
  }
  std::int64_t limit = static_cast<std::int64_t>(mib / kMiBPerContext) - 2;
  if (limit < 1) FatalError("Memory not enough");
  if (limit > kMaxContexts) limit = kMaxContexts;
  return static_cast<int>(limit);
}

}  // namespace mr4
