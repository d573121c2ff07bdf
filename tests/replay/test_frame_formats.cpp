#include "replay/frame_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mr4 {
namespace {

using Bytes = std::vector<std::uint8_t>;

const YuvTables& Tables() {
  static const YuvTables tables = BuildYuvTables();
  return tables;
}

Bytes Plane(const FrameGeometry& g, const Bytes& source) {
  Bytes plane(static_cast<std::size_t>(g.width * g.height), 0xEE);
  EXPECT_TRUE(ToGreenPlane(g, source, 0, g.height, plane, Tables()));
  return plane;
}

std::string Show(const Bytes& b) {
  std::string s;
  for (std::uint8_t v : b) s += std::to_string(v) + " ";
  return s;
}

TEST(ToGreenPlane, YuyvPixelPairExample) {
  struct Case {
    const char* name;
    Bytes pair;  // Y0 U Y1 V
    Bytes green;
  };
  const Case cases[] = {
      {"black and white", {16, 128, 235, 128}, {0, 255}},
      {"luma 255 clamps", {255, 128, 255, 128}, {255, 255}},
      {"luma 0 clamps", {0, 128, 0, 128}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Show(Plane({FrameFormat::kYuyv, 2, 1, 2}, c.pair)), Show(c.green));
  }
}

// A 4 x 2 frame with different chroma per pair. Expected greens from the
// BT.601 16.16 formula, worked out apart from the code:
//   (200,40,60,220) -> 174 11; (90,200,180,30) -> 138 242;
//   (16,128,235,128) -> 0 255; (128,0,128,128) -> 181 181.
// The source is top-down, so its first row becomes plane row 1.
TEST(ToGreenPlane, PackedFormatsTakeChromaFromTheirPairAndFlipRows) {
  const Bytes expected = {0, 255, 181, 181, 174, 11, 138, 242};
  struct Case {
    const char* name;
    FrameFormat format;
    Bytes source;
  };
  const Case cases[] = {
      {"YUYV",
       FrameFormat::kYuyv,
       {200, 40, 60, 220, 90, 200, 180, 30,  // top row: Y0 U Y1 V
        16, 128, 235, 128, 128, 0, 128, 128}},
      {"UYVY",
       FrameFormat::kUyvy,
       {40, 200, 220, 60, 200, 90, 30, 180,  // top row: U Y0 V Y1
        128, 16, 128, 235, 0, 128, 128, 128}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Show(Plane({c.format, 4, 2, 2}, c.source)), Show(expected));
  }
}

TEST(ToGreenPlane, DibAndRgbTakeTheirGreenByteWithoutFlipping) {
  // Two rows of two pixels; bytes numbered so that byte k holds 10 + k.
  auto numbered = [](int n) {
    Bytes b(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(10 + k);
    return b;
  };
  struct Case {
    const char* name;
    FrameGeometry geometry;
    Bytes green;
  };
  const Case cases[] = {
      {"DIB 8 bits: the bitmap's own bytes", {FrameFormat::kDib, 2, 2, 1}, {10, 11, 12, 13}},
      {"DIB 16 bits: byte 1", {FrameFormat::kDib, 2, 2, 2}, {11, 13, 15, 17}},
      {"DIB 24 bits: green of BGR", {FrameFormat::kDib, 2, 2, 3}, {11, 14, 17, 20}},
      {"DIB 32 bits: green of BGRX", {FrameFormat::kDib, 2, 2, 4}, {11, 15, 19, 23}},
      {"RGB24 from the replay filter", {FrameFormat::kRgb24, 2, 2, 3}, {11, 14, 17, 20}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes source = numbered(static_cast<int>(FrameBytes(c.geometry)));
    EXPECT_EQ(Show(Plane(c.geometry, source)), Show(c.green));
  }
}

TEST(ToGreenPlane, BandsWriteOnlyTheirRowsAndComposeTheWholePlane) {
  const FrameGeometry g{FrameFormat::kYuyv, 6, 5, 2};
  Bytes source(static_cast<std::size_t>(FrameBytes(g)));
  for (std::size_t k = 0; k < source.size(); ++k) source[k] = static_cast<std::uint8_t>(k * 37 + 11);
  const Bytes whole = Plane(g, source);

  Bytes banded(whole.size(), 0xEE);
  ASSERT_TRUE(ToGreenPlane(g, source, 2, 4, banded, Tables()));
  for (int r = 0; r < g.height; ++r) {
    for (int j = 0; j < g.width; ++j) {
      const std::size_t i = static_cast<std::size_t>(r * g.width + j);
      SCOPED_TRACE("row " + std::to_string(r) + " column " + std::to_string(j));
      EXPECT_EQ(banded[i], (r >= 2 && r < 4) ? whole[i] : 0xEE);
    }
  }
  ASSERT_TRUE(ToGreenPlane(g, source, 0, 2, banded, Tables()));
  ASSERT_TRUE(ToGreenPlane(g, source, 4, 5, banded, Tables()));
  EXPECT_EQ(banded, whole);
}

TEST(ToGreenPlane, RefusesWhatDoesNotFitAndWritesNothing) {
  struct Case {
    const char* name;
    FrameGeometry geometry;
    std::size_t source_bytes;
    std::size_t plane_bytes;
    int row_begin;
    int row_end;
  };
  const Case cases[] = {
      {"odd width 4:2:2", {FrameFormat::kYuyv, 3, 2, 2}, 12, 6, 0, 2},
      {"source one byte short", {FrameFormat::kUyvy, 4, 2, 2}, 15, 8, 0, 2},
      {"plane one byte short", {FrameFormat::kDib, 4, 2, 3}, 24, 7, 0, 2},
      {"rows past the bottom", {FrameFormat::kDib, 4, 2, 1}, 8, 8, -1, 2},
      {"rows past the top", {FrameFormat::kDib, 4, 2, 1}, 8, 8, 0, 3},
      {"rows reversed", {FrameFormat::kDib, 4, 2, 1}, 8, 8, 2, 1},
      {"DIB of 5 bytes per pixel", {FrameFormat::kDib, 4, 2, 5}, 40, 8, 0, 2},
      {"zero height", {FrameFormat::kDib, 4, 0, 1}, 8, 8, 0, 0},
      {"wider than the largest frame", {FrameFormat::kDib, 8194, 1, 1}, 8194, 8194, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes source(c.source_bytes, 77);
    Bytes plane(c.plane_bytes, 0xEE);
    EXPECT_FALSE(ToGreenPlane(c.geometry, source, c.row_begin, c.row_end, plane, Tables()));
    EXPECT_EQ(plane, Bytes(c.plane_bytes, 0xEE));
  }
}

}  // namespace
}  // namespace mr4
