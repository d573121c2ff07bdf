#include <gtest/gtest.h>

#include <algorithm>

#include "clips/clip_files.h"

namespace mr4 {
namespace {

constexpr ClipFileClass kNot = ClipFileClass::kNotClipFile;
constexpr ClipFileClass kSkip = ClipFileClass::kSkipped;
constexpr ClipFileClass kClip = ClipFileClass::kClipFile;

TEST(ClassifyClipFile, KindsAndBaseNames) {
  struct Case {
    const char* name;
    ClipFileClass cls;
    int kind;
    const char* base;
  };
  const Case cases[] = {
      {"M20240101_203015_ST1.avi", kClip, kKindAvi, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.AVI", kClip, kKindAvi, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.WmV", kClip, kKindWmv, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1P.BMP", kClip, kKindPeakBmp, "M20240101_203015_ST1"},
      // The extension in any case, the letter X only as written.
      {"M20240101_203015_ST1P.bmp", kClip, kKindPeakBmp, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1p.bmp", kClip, kKindOtherBmp, "M20240101_203015_ST1p"},
      {"M20240101_203015_ST1S.BMP", kClip, kKindStillBmp, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1P.jpg", kClip, kKindPeakJpg, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1S.JPG", kClip, kKindStillJpg, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.bmp", kClip, kKindOtherBmp, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.jpg", kClip, kKindOtherJpg, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1C.BMP", kClip, kKindCBmp, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1N.BMP", kClip, kKindMaskN, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1M.bmp", kClip, kKindMaskM, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1T.jpg", kClip, kKindThumbnail, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.xml", kClip, kKindCaptureRecord, "M20240101_203015_ST1"},
      // An upper-case "A.XML" is the result of the clip named without the A;
      // with another letter before it, it is nothing known.
      {"M20240101_203015_STA.XML", kClip, kKindResult, "M20240101_203015_ST"},
      {"M20240101_203015_ST1A.XML", kClip, kKindResult, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1.XML", kClip, kKindOther, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1A.xml", kClip, kKindCaptureRecord, "M20240101_203015_ST1A"},
      {"M20240101_203015_ST1_clicks.csv", kClip, kKindClicks, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1_click.bmp", kClip, kKindOtherBmp, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1_clicks.CSV", kClip, kKindOther, "M20240101_203015_ST1"},
      {"M20240101_203015_ST1B.XML", kSkip, -1, ""},
      {"M20240101_203015_ST1L.csv", kSkip, -1, ""},
      {"M20240101_203015_ST1L.CSV", kClip, kKindOther, "M20240101_203015_ST1L"},
      {"Mtest.dat", kClip, kKindOther, "Mtest"},
      {"Mtest.avi", kClip, kKindAvi, "Mtest"},
      {"M.avi", kClip, kKindAvi, "M"},  // five characters are enough
      {"Mavi", kNot, -1, ""},
      {"Ma.avi", kClip, kKindAvi, "Ma"},
      {"N20240101_203015_ST1.avi", kNot, -1, ""},
      {"m20240101_203015_ST1.avi", kNot, -1, ""},
      {"M20240101_203015_ST1.jpeg", kNot, -1, ""},
      {"Mreadme", kNot, -1, ""},
      {"", kNot, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClassifiedFile f = ClassifyClipFile(c.name);
    EXPECT_EQ(f.cls, c.cls);
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.base, c.base);
  }
}

TEST(ClassifyClipFile, TimeStampedNames) {
  struct Case {
    const char* name;
    bool stamped;
    int y, mo, d, h, m;
    float s;
  };
  const Case cases[] = {
      {"M20240101_203015_ST1.avi", true, 2024, 1, 1, 20, 30, 15.0f},
      {"M20240101_203015.avi", true, 2024, 1, 1, 20, 30, 15.0f},
      {"M20240101_203015.a", false, 0, 0, 0, 0, 0, 0.0f},  // 18 characters
      {"M20240101_203015.av", true, 2024, 1, 1, 20, 30, 15.0f},  // 19
      {"M2024010X_203015_ST1.avi", false, 0, 0, 0, 0, 0, 0.0f},
      {"M20240101_20301X_ST1.avi", false, 0, 0, 0, 0, 0, 0.0f},
      {"M20240101-203015_ST1.avi", false, 0, 0, 0, 0, 0, 0.0f},
      {"M00000000_203015_ST1.avi", false, 0, 0, 0, 0, 0, 0.0f},  // the date must be positive
      {"Mtest.avi", false, 0, 0, 0, 0, 0, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClipNameTime t = ParseClipNameTime(c.name);
    EXPECT_EQ(t.time_stamped, c.stamped);
    EXPECT_EQ(t.y, c.y);
    EXPECT_EQ(t.mo, c.mo);
    EXPECT_EQ(t.d, c.d);
    EXPECT_EQ(t.h, c.h);
    EXPECT_EQ(t.m, c.m);
    EXPECT_EQ(t.s, c.s);
  }
}

std::string MediaOf(std::vector<int> kinds) {
  std::string media = kEmptyMedia;
  for (int k : kinds) ApplyMediaLetter(k, media);
  return media;
}

// The media string must not depend on the order the directory lists the
// files in: a better still or video letter is never replaced.
TEST(MediaSummary, LettersInEveryOrder) {
  struct Case {
    std::vector<int> kinds;
    const char* media;
  };
  const Case cases[] = {
      {{kKindAvi, kKindWmv}, "A       "},
      {{kKindPeakBmp, kKindPeakJpg}, " B      "},
      {{kKindStillJpg, kKindOtherBmp}, " J      "},
      {{kKindCBmp, kKindOtherJpg, kKindOtherBmp}, " b      "},
      {{kKindCBmp, kKindOtherJpg}, " j      "},
      {{kKindMaskM, kKindMaskN, kKindCaptureRecord, kKindResult, kKindThumbnail,
        kKindClicks},
       "  MNxXtc"},
      {{kKindClicks, kKindOther}, "       c"},
  };
  for (const Case& c : cases) {
    std::vector<int> kinds = c.kinds;
    std::sort(kinds.begin(), kinds.end());
    do {
      std::string order;
      for (int k : kinds) order += std::to_string(k) + " ";
      SCOPED_TRACE(order);
      EXPECT_EQ(MediaOf(kinds), c.media);
    } while (std::next_permutation(kinds.begin(), kinds.end()));
  }
  // A file not of the list marks the clip only while nothing else did.
  EXPECT_EQ(MediaOf({kKindOther, kKindClicks}), "       c");
  EXPECT_EQ(MediaOf({kKindWmv}), "W       ");
  EXPECT_EQ(MediaOf({kKindOther}), "       *");
}

TEST(MediaSummary, KindBitsAreDistinct) {
  int all = 0;
  for (int k = 0; k < kClipFileKindCount; ++k) {
    EXPECT_EQ(all & KindBit(k), 0) << k;
    all |= KindBit(k);
  }
  EXPECT_EQ(KindBit(kKindResult), 0x020000);
  EXPECT_EQ(KindBit(kKindClicks), 0x080000);
}

TEST(MediaSummary, FileSizeMegabytes) {
  EXPECT_FLOAT_EQ(FileSizeMegabytes(0), 0.0f);
  EXPECT_FLOAT_EQ(FileSizeMegabytes(1048576), 1.0f);
  EXPECT_FLOAT_EQ(FileSizeMegabytes(3 * 524288ull), 1.5f);
  // 4 GiB and 1 MiB: the high word counts 4096 MB.
  EXPECT_FLOAT_EQ(FileSizeMegabytes((1ull << 32) + 1048576), 4097.0f);
}

}  // namespace
}  // namespace mr4
