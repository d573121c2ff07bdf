#include "clips/clip_files.h"

#include <cctype>
#include <cstdio>

namespace mr4 {
namespace {

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool ExtensionIs(std::string_view ext, const char* upper) {
  return Upper(ext[0]) == upper[0] && Upper(ext[1]) == upper[1] &&
         Upper(ext[2]) == upper[2];
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The kind of an "X.ext" ending and the characters it takes off the name;
// -1 for the skipped endings.
struct KindRule {
  int kind;
  int strip;
};

KindRule KindOfEnding(char x, std::string_view ext) {
  if (ExtensionIs(ext, "AVI")) return {kKindAvi, 4};
  if (ExtensionIs(ext, "WMV")) return {kKindWmv, 4};
  const bool bmp = ExtensionIs(ext, "BMP");
  const bool jpg = ExtensionIs(ext, "JPG");
  if (bmp && x == 'P') return {kKindPeakBmp, 5};
  if (bmp && x == 'S') return {kKindStillBmp, 5};
  if (jpg && x == 'P') return {kKindPeakJpg, 5};
  if (jpg && x == 'S') return {kKindStillJpg, 5};
  if (bmp && x != 'M' && x != 'N' && x != 'P' && x != 'S' && x != 'C') {
    return {kKindOtherBmp, 4};
  }
  if (jpg && x != 'P' && x != 'S' && x != 'T') return {kKindOtherJpg, 4};
  if (bmp && x == 'C') return {kKindCBmp, 5};
  if (bmp && x == 'N') return {kKindMaskN, 5};
  if (bmp && x == 'M') return {kKindMaskM, 5};
  if (ext == "xml") return {kKindCaptureRecord, 4};
  if (x == 'A' && ext == "XML") return {kKindResult, 5};
  if (jpg && x == 'T') return {kKindThumbnail, 5};
  if (x == 's' && ext == "csv") return {kKindClicks, 4};
  if ((x == 'B' && ext == "XML") || (x == 'L' && ext == "csv")) return {-1, 0};
  return {kKindOther, 4};
}

}  // namespace

ClipNameTime ParseClipNameTime(std::string_view name) {
  ClipNameTime t;
  if (name.size() < 19 || name[0] != 'M' || name[9] != '_') return t;
  if (!AllDigits(name.substr(1, 8)) || !AllDigits(name.substr(10, 6))) return t;
  auto number = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (name[i] - '0');
    return v;
  };
  if (number(1, 8) <= 0) return t;
  t.time_stamped = true;
  t.y = number(1, 4);
  t.mo = number(5, 2);
  t.d = number(7, 2);
  t.h = number(10, 2);
  t.m = number(12, 2);
  t.s = static_cast<float>(number(14, 2));
  return t;
}

ClassifiedFile ClassifyClipFile(std::string_view name) {
  ClassifiedFile f;
  if (name.size() < 5 || name[0] != 'M') return f;
  const std::size_t n = name.size();
  if (name[n - 4] != '.') return f;
  const KindRule rule = KindOfEnding(name[n - 5], name.substr(n - 3));
  if (rule.kind < 0) {
    f.cls = ClipFileClass::kSkipped;
    return f;
  }
  f.cls = ClipFileClass::kClipFile;
  f.kind = rule.kind;
  std::string_view base = name.substr(0, n - rule.strip);
  for (std::string_view tail : {std::string_view("_clicks"), std::string_view("_click")}) {
    if (base.size() >= tail.size() && base.substr(base.size() - tail.size()) == tail) {
      base.remove_suffix(tail.size());
      break;
    }
  }
  f.base = std::string(base);
  f.time = ParseClipNameTime(name);
  return f;
}

void ApplyMediaLetter(int kind, std::string& media) {
  if (media.size() != kMediaChars) media.resize(kMediaChars, ' ');
  char& video = media[0];
  char& still = media[1];
  switch (kind) {
    case kKindAvi: video = 'A'; break;
    case kKindWmv: if (video == ' ') video = 'W'; break;
    case kKindPeakBmp:
    case kKindStillBmp: still = 'B'; break;
    case kKindPeakJpg:
    case kKindStillJpg: if (still != 'B') still = 'J'; break;
    case kKindOtherBmp:
      if (still == ' ' || still == 'C' || still == 'j') still = 'b';
      break;
    case kKindOtherJpg: if (still == ' ' || still == 'C') still = 'j'; break;
    case kKindCBmp: if (still == ' ') still = 'C'; break;
    case kKindMaskM: media[2] = 'M'; break;
    case kKindMaskN: media[3] = 'N'; break;
    case kKindCaptureRecord: media[4] = 'x'; break;
    case kKindResult: media[5] = 'X'; break;
    case kKindThumbnail: media[6] = 't'; break;
    case kKindClicks: media[7] = 'c'; break;
    case kKindOther: if (media[7] == ' ') media[7] = '*'; break;
    default: break;
  }
}

float FileSizeMegabytes(std::uint64_t bytes) {
  const auto low = static_cast<std::uint32_t>(bytes & 0xFFFFFFFFu);
  const auto high = static_cast<std::uint32_t>(bytes >> 32);
  return static_cast<float>(low / 1024.0 / 1024.0 + high * 4096.0);
}

}  // namespace mr4
