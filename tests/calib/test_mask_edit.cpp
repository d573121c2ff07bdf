// The mask editor's rules on small masks: the paint and erase rules of the
// four types, the brush shapes, lines and rectangles at the frame's edge,
// the automatic star mask beside the area mask and its region limit, the
// display colours and the N.BMP written and read back.
#include <gtest/gtest.h>

#include <vector>

#include "calib/camera_model.h"
#include "calib/mask_edit.h"
#include "calib/still_image.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

// A W x H mask of code `code` and brightness `green`.
struct Mask {
  Mask(int w, int h, std::uint8_t code = 0, std::uint8_t green = 10)
      : bgr(static_cast<std::size_t>(w) * h * 3) {
    for (std::size_t i = 0; i < bgr.size(); i += 3) {
      bgr[i] = code;
      bgr[i + 1] = green;
    }
    picture = {bgr, w, h};
  }
  int Count(std::uint8_t bits) {
    int n = 0;
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) n += (picture.Code(x, y) & bits) == bits;
    }
    return n;
  }
  std::vector<std::uint8_t> bgr;
  MaskPicture picture;
};

struct RuleCase {
  MaskType type;
  bool paint;
  std::uint8_t before;
  std::uint8_t after;
};

TEST(MaskRule, EachTypePaintsAndErasesItsBits) {
  const RuleCase cases[] = {
      // d-area writes 0 and 4 whatever was there.
      {MaskType::kDetectionArea, true, 246, 0},
      {MaskType::kDetectionArea, true, 4, 0},
      {MaskType::kDetectionArea, false, 242, 4},
      {MaskType::kDetectionArea, false, 0, 4},
      {MaskType::kArea, true, 4, 6},
      {MaskType::kArea, false, 246, 244},
      {MaskType::kStar, true, 2, 242},
      {MaskType::kStar, false, 246, 6},
      {MaskType::kOpt, true, 240, 244},
      {MaskType::kOpt, false, 246, 242},
  };
  for (const RuleCase& c : cases) {
    EXPECT_EQ(RuleOf(c.type, c.paint).Apply(c.before), c.after)
        << "type " << static_cast<int>(c.type) << " paint " << c.paint << " from "
        << int(c.before);
  }
}

TEST(MaskBrush, SizesCoverTheirDiscs) {
  struct Case {
    int size;
    int pixels;
  };
  // Size 2: the 3 x 3 square less the corners (i^2 + j^2 > 4 div 3).
  for (const Case c : {Case{1, 1}, Case{2, 5}, Case{4, 21}}) {
    Mask m(20, 20);
    ApplyBrush(m.picture, 10, 10, c.size, RuleOf(MaskType::kOpt, true));
    EXPECT_EQ(m.Count(kMaskOptBit), c.pixels) << "size " << c.size;
  }
  Mask plus(20, 20);
  ApplyBrush(plus.picture, 10, 10, 2, RuleOf(MaskType::kOpt, true));
  for (auto [x, y] : {std::pair{10, 10}, {9, 10}, {11, 10}, {10, 9}, {10, 11}}) {
    EXPECT_EQ(plus.picture.Code(x, y), kMaskOptBit) << x << "," << y;
  }
}

TEST(MaskBrush, StrokesAtTheEdgeStayInsideTheFrame) {
  Mask m(8, 6);
  ApplyBrush(m.picture, 0, 0, 16, RuleOf(MaskType::kOpt, true));
  ApplyBrush(m.picture, -5, 3, 1, RuleOf(MaskType::kArea, true));  // outside: nothing
  ApplyRect(m.picture, 6, 4, 40, 40, RuleOf(MaskType::kStar, true));
  EXPECT_EQ(m.Count(kMaskAreaBit), 0);
  EXPECT_EQ(m.Count(kMaskStarBits), 4);  // (6..7) x (4..5)
  EXPECT_EQ(m.bgr.size(), std::size_t{8 * 6 * 3});
}

TEST(MaskLine, StepsAlongTheLongerAxis) {
  Mask m(20, 10);
  ApplyLine(m.picture, 2, 1, 12, 6, 1, RuleOf(MaskType::kOpt, true));
  EXPECT_EQ(m.Count(kMaskOptBit), 11);  // one pixel per x from 2 to 12
  EXPECT_EQ(m.picture.Code(2, 1), kMaskOptBit);
  EXPECT_EQ(m.picture.Code(12, 6), kMaskOptBit);
}

TEST(AutoStarMask, MarksStarsButNeverTheAreaMask) {
  Mask m(40, 30);
  // Two stars, one of them inside an area-mask block.
  for (auto [x, y] : {std::pair{10, 10}, {30, 20}}) m.bgr[(y * 40 + x) * 3 + 1] = 200;
  ApplyRect(m.picture, 26, 16, 34, 24, RuleOf(MaskType::kArea, true));
  AutoMaskParameters p;
  AutoStarMask(m.picture, p);
  EXPECT_EQ(m.picture.Code(10, 10) & kMaskStarBits, kMaskStarBits);
  for (int y = 16; y <= 24; ++y) {
    for (int x = 26; x <= 34; ++x) EXPECT_EQ(m.picture.Code(x, y), kMaskAreaBit) << x << "," << y;
  }
}

TEST(MaskRegions, TheStarMaskDropsRegionsBeyondItsLimit) {
  // Rows of star pixels whose larger side (max - min) is 20 and 21.
  Mask m(60, 10);
  ApplyRect(m.picture, 1, 2, 21, 2, RuleOf(MaskType::kStar, true));   // side 20
  ApplyRect(m.picture, 30, 6, 51, 6, RuleOf(MaskType::kStar, true));  // side 21
  FilterMaskRegions(m.picture, kMaskStarBits, 20, true);
  EXPECT_EQ(m.picture.Code(1, 2), kMaskStarBits);
  EXPECT_EQ(m.picture.Code(21, 2), kMaskStarBits);
  EXPECT_EQ(m.picture.Code(30, 6), 0);
  EXPECT_EQ(m.picture.Code(51, 6), 0);
  // The cloud mask keeps only the large ones.
  Mask c(60, 10, 0);
  ApplyRect(c.picture, 1, 2, 21, 2, RuleOf(MaskType::kArea, true));
  ApplyRect(c.picture, 30, 6, 51, 6, RuleOf(MaskType::kArea, true));
  ApplyAll(c.picture, RuleOf(MaskType::kOpt, true));
  FilterMaskRegions(c.picture, kMaskAreaBit | kMaskOptBit, 20, false);
  EXPECT_EQ(c.picture.Code(1, 2), 0);
  EXPECT_EQ(c.picture.Code(30, 6), kMaskAreaBit | kMaskOptBit);
}

TEST(AutoAreaMask, MarksDarkPixelsAndTheTextBand) {
  Mask m(60, 60, 0, 100);
  m.bgr[(30 * 60 + 30) * 3 + 1] = 20;  // 80 below its surroundings
  AutoMaskParameters p;
  p.text_band_top = 0;
  p.text_band_rows = 3;
  AutoAreaMask(m.picture, p);
  EXPECT_EQ(m.Count(kMaskAreaBit), 11 * 11);  // the square of half-size 5
  EXPECT_EQ(m.picture.Code(30, 30) & kMaskAreaBit, kMaskAreaBit);
  EXPECT_EQ(m.picture.Code(30, 36), 0);
  EXPECT_EQ(m.Count(kMaskOptBit), 3 * 60);
}

TEST(MaskDisplay, ColoursFollowTheCodes) {
  struct Case {
    std::uint8_t code, green, red;
    bool hits;
    std::uint8_t b, g, r;
  };
  const Case cases[] = {
      {2, 100, 0, true, 50, 100, 50},     // area: c = 100
      {2, 200, 100, true, 101, 151, 101},  // area: c = min(300, 255)
      {240, 100, 0, true, 255, 50, 50},   // star pixels
      {4, 100, 0, true, 120, 120, 100},   // outside the detection area
      {0, 100, 7, true, 255, 255, 100},   // a capture mark, "h" on
      {0, 100, 7, false, 100, 100, 100},  // "h" off
      {0, 100, 0, true, 100, 100, 100},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> mask = {c.code, c.green, c.red};
    std::vector<std::uint8_t> display(3);
    ComposeMaskDisplay({mask, 1, 1}, c.hits, display);
    EXPECT_EQ(display, (std::vector<std::uint8_t>{c.b, c.g, c.r}))
        << "code " << int(c.code) << " green " << int(c.green) << " red " << int(c.red);
  }
}

TEST(MaskReadout, ShowsThePixelAndItsDirection) {
  Mask m(16, 8, 0, 35);
  m.bgr[(2 * 16 + 3) * 3 + 2] = 7;
  m.picture.Code(5, 2) = kMaskOptBit;
  CameraProfile p;
  p.cx = 16;
  p.cy = 8;
  p.clip_y = 2024;
  p.clip_mo = 8;
  p.clip_d = 12;
  p.clip_tz = 32400;
  ComputeClipInstantValues(p);
  BuildDistortionTable(p);
  const std::string free = MaskReadout(m.picture, p, 3, 2);
  EXPECT_EQ(free.rfind("x 0003  y 0002  g= 35 r=  7\naz ", 0), 0u) << free;
  const std::string masked = MaskReadout(m.picture, p, 5, 2);
  EXPECT_EQ(masked.rfind("x 0005  y 0002  masked\naz ", 0), 0u) << masked;
  // "az %08.4f ev %07.4f", then "ra %08.4f dc %07.4f".
  const std::size_t az = masked.find("\naz ") + 4, ra = masked.find("\nra ") + 4;
  ASSERT_NE(ra, std::string::npos);
  EXPECT_EQ(masked[az + 3], '.');
  EXPECT_EQ(masked.substr(az + 8, 4), " ev ");
  EXPECT_EQ(masked[ra + 3], '.');
  EXPECT_EQ(masked.substr(ra + 8, 4), " dc ");
}

TEST(EditedMask, IsWrittenAsTheClipsNBmpAndReadsBack) {
  test::TempDir dir("mr4-mask-edit");
  Mask m(16, 8, 4, 30);
  ApplyRect(m.picture, 2, 2, 5, 5, RuleOf(MaskType::kDetectionArea, true));
  const std::filesystem::path path = EditedMaskPath(dir.path(), "M20240812_010203_C2_");
  EXPECT_EQ(path.filename(), "M20240812_010203_C2_N.BMP");
  ASSERT_TRUE(WriteEditedMask(path, m.picture));
  std::vector<std::uint8_t> read(16 * 8 * 3);
  ImageBuffer image{read, 0, 0};
  ASSERT_EQ(ReadStillBmp(path, image), ImageStatus::kOk);
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.height, 8);
  EXPECT_EQ(read, m.bgr);
  // No temporary file is left beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace mr4
