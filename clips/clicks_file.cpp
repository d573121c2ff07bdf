#include "clips/clicks_file.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "base/error.h"
#include "astro/time_scales.h"
#include "platform/image_codecs.h"
#include "tables/cell_text.h"

namespace mr4 {
namespace {

// Constants of the check values (fixed for every run and every version:
// files written earlier must stay checkable).
constexpr std::uint32_t kC1 = 0x2545F491u;  // S1 seed factor
constexpr std::uint32_t kC2 = 0x5851F42Du;
constexpr std::uint32_t kC3 = 0x14057B7Eu;
constexpr std::uint32_t kC4 = 0x9E3779B1u;
constexpr std::uint32_t kC5 = 7u;           // S1 step increment
constexpr double kPositionScale = 1048576.0;  // F: degrees to fixed point
constexpr int kRounds = ExportScrambler::kRounds;

std::uint32_t Steps(std::uint32_t x, int rounds) {
  for (int i = 0; i < rounds; ++i) x = ExportScrambler::Step(x);
  return x;
}

// Low 32 bits of trunc(value x F), formed in double precision.
std::uint32_t Scaled(float value) {
  const double scaled = static_cast<double>(value) * kPositionScale;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(scaled)));
}

void AppendInt(std::string* out, const char* format, long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, value);
  *out += buffer;
}

// The clip's start in UT: year, month, day and hour. A clip without a
// usable date (a name that carries none) keeps its local fields, so that
// its clicks can still be saved.
struct UtHour {
  int y, mo, d, h;
};
UtHour ClipUtHour(const ClicksClip& c) {
  const double mjd = CivilToMjd(c.y, c.mo, c.d, c.h, c.m, c.s) - c.tz / 86400.0;
  if (!(mjd >= kCalendarFirstMjd && mjd < kCalendarLastMjd)) {
    return {c.y, c.mo, c.d, c.h};
  }
  const CivilTime t = MjdToCivil(mjd);
  return {t.year, t.month, t.day, t.hour};
}

// Splits a line into the numbers of the read pattern
// "%d,%d,%d,%d,%d,%f,%d,%f,%f,%f,%f,%f,%f": the scan stops at the first
// field that does not read or is not followed by a comma.
int ScanClickLine(std::string_view line, double* fields, int count) {
  std::size_t at = 0;
  for (int i = 0; i < count; ++i) {
    std::string_view rest = line.substr(at);
    std::size_t used = 0;
    const bool integer = i < 5 || i == 6;
    if (integer) {
      std::int32_t v = 0;
      used = ParseIntPrefix(rest, &v);
      fields[i] = v;
    } else {
      float v = 0.0f;
      used = ParseFloatPrefix(rest, &v);
      fields[i] = v;
    }
    if (used == 0) return i;
    at += used;
    if (i + 1 < count) {
      if (at >= line.size() || line[at] != ',') return i + 1;
      ++at;
    }
  }
  return count;
}

}  // namespace

std::filesystem::path ClicksFilePath(const std::filesystem::path& directory,
                                     std::string_view clip_name) {
  return directory / (std::string(clip_name) + kClicksFileSuffix);
}

std::vector<Click> ReadClicksFile(const std::filesystem::path& path) {
  std::vector<Click> clicks;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ShowError("Cannot read clicks %s ", path.c_str());
    return clicks;
  }
  std::string line;
  std::getline(in, line);  // the header
  while (static_cast<int>(clicks.size()) < kMaxClicks && std::getline(in, line)) {
    if (line.size() > kClicksLineMaxChars - 1) line.resize(kClicksLineMaxChars - 1);
    double f[13] = {};
    ScanClickLine(line, f, 13);
    Click c;
    c.x = static_cast<float>(f[7]);
    c.y = static_cast<float>(f[8]);
    c.az = static_cast<float>(f[9]);
    c.ev = static_cast<float>(f[10]);
    c.ra = static_cast<float>(f[11]);
    c.dec = static_cast<float>(f[12]);
    clicks.push_back(c);
  }
  return clicks;
}

ClicksClock ClicksClockNow() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return {static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint32_t>(ms % 1000)};
}

std::uint32_t SeedClicksS1(const ClicksClock& clock) {
  return clock.seconds * clock.milliseconds * clock.milliseconds * kC1;
}

CheckValues NextCheckValues(std::uint32_t& s1, ExportScrambler& scrambler,
                            float lng, float lat) {
  constexpr std::uint32_t k = ExportScrambler::kIncrement;
  const std::uint32_t b = (k - scrambler.s * kC2) & 0xFFFFFFu;
  scrambler.s24 = b;
  s1 = s1 * s1 + kC5;
  const std::uint32_t v = s1 * b;
  const std::uint32_t a = Steps(v, kRounds);
  CheckValues out;
  out.first = (a & 0xFFFFFFu) ^ Scaled(lng) ^ (v * v);
  out.second = (((k - a * kC2) & 0xFFFFFFu) * v) ^ Scaled(lat) ^ (v * v);
  out.third = v;
  scrambler.s = kC3 - Steps(v, kRounds - 1) * kC4;
  return out;
}

std::string FormatClicksFile(const ClicksClip& clip, const std::vector<Click>& clicks,
                             const ClicksClock& clock, ExportScrambler& scrambler) {
  std::string text = std::string(kClicksHeader) + "\r\n";
  const UtHour ut = ClipUtHour(clip);
  std::uint32_t s1 = SeedClicksS1(clock);
  int number = 0;
  for (const Click& c : clicks) {
    const CheckValues check = NextCheckValues(s1, scrambler, clip.lng, clip.lat);
    AppendInt(&text, "%4lld,", ut.y);
    AppendInt(&text, "%02lld,", ut.mo);
    AppendInt(&text, "%02lld,", ut.d);
    AppendInt(&text, "%02lld,", ut.h);
    AppendInt(&text, "%02lld,", clip.m);
    AppendFixed(&text, clip.s, 3);
    AppendInt(&text, ",%lld,", ++number);
    const struct { float v; int decimals; } values[] = {
        {c.x, 1}, {c.y, 1}, {c.az, 2}, {c.ev, 2}, {c.ra, 3}, {c.dec, 3}};
    for (const auto& v : values) {
      AppendFixed(&text, v.v, v.decimals);
      text += ',';
    }
    text += '_' + clip.lid + ",_" + clip.sid + ',';
    AppendFixed(&text, clip.lng, 2);
    text += ',';
    AppendFixed(&text, clip.lat, 2);
    text += ',';
    AppendFixed(&text, clip.alt, 1);
    AppendInt(&text, ",%llu", check.first);
    AppendInt(&text, ",%llu", check.second);
    AppendInt(&text, ",%llu,", check.third);
    AppendFixed(&text, clip.gioidh, 1);
    text += ',';
    AppendFixed(&text, clip.ddega, 4);
    text += "\r\n";
  }
  return text;
}

bool WriteClicksFile(const std::filesystem::path& path, const ClicksClip& clip,
                     const std::vector<Click>& clicks, const ClicksClock& clock) {
  ExportScrambler state = App().scrambler;
  const std::string text = FormatClicksFile(clip, clicks, clock, state);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (WriteFileReplacing(path, {std::span<const std::uint8_t>(bytes, text.size())}) !=
      ImageStatus::kOk) {
    ShowError("Cannot open %s", path.c_str());
    return false;
  }
  App().scrambler = state;
  return true;
}

}  // namespace mr4
