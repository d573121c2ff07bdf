// Frame formats and their conversion into the 8-bit green plane that the
// analysis works on.
//
// A frame is one picture in one of the formats below; the plane has
// width x height bytes, row r at r x width, row 0 the bottom line. The
// conversion is a pure function of its arguments: it allocates nothing, reads
// only the source span and writes only the plane rows it is given, so the
// analysis may run it on several threads at once, one band of rows each.
// Sizes are in pixels, strides in bytes.
#pragma once

#include <cstdint>
#include <span>

#include "base/process_values.h"

namespace mr4 {

// The frame format codes of the `codecno` column (1, 2, 4) and the replay
// filter's RGB24 frames. -1 is "not read directly" (see ProbeAviFormat).
enum class FrameFormat : int {
  kYuyv = 1,    // packed 4:2:2, Y0 U Y1 V per pixel pair, rows top-down
  kUyvy = 2,    // packed 4:2:2, U Y0 V Y1 per pixel pair, rows top-down
  kDib = 4,     // 8, 16, 24 or 32 bits per pixel, rows bottom-up
  kRgb24 = 24,  // replay filter frames: blue-green-red, taken row for row
};

// The largest frame any buffer holds.
inline constexpr int kMaxFrameWidth = 8192;
inline constexpr int kMaxFrameHeight = 4320;

// Whether a frame size read from a file (a capture record, a result file, a
// profile) is one the buffers can hold: 1 .. kMaxFrameWidth by
// 1 .. kMaxFrameHeight px. Every reader of a clip's `cx` and `cy` asks this
// before it sizes a buffer from them.
constexpr bool IsUsableFrameSize(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxFrameWidth && height <= kMaxFrameHeight;
}

struct FrameGeometry {
  FrameFormat format = FrameFormat::kYuyv;
  int width = 0;            // px; even for the 4:2:2 formats
  int height = 0;           // px
  int bytes_per_pixel = 2;  // 1, 2, 3 or 4 for kDib; implied otherwise
};

// Bytes of one packed source frame of this geometry (0 when the geometry is
// not one ToGreenPlane converts).
std::int64_t FrameBytes(const FrameGeometry& geometry);

// Converts plane rows [row_begin, row_end) of `source` into `plane`. For
// the 4:2:2 formats the value is the green of BT.601 in 16.16 fixed point,
// (Y[y] + Ug[u] + Vg[v] + 32768) clamped to 0 .. 0xFF0000, shifted right by
// 16; a pixel pair shares its u and v. For kDib it is byte 0 of an 8-bit
// pixel and byte 1 of wider ones; for kRgb24 the green byte.
// Returns false, writing nothing, when the geometry is invalid, the row
// range lies outside the frame, or a span is smaller than the frame.
bool ToGreenPlane(const FrameGeometry& geometry,
                  std::span<const std::uint8_t> source, int row_begin,
                  int row_end, std::span<std::uint8_t> plane,
                  const YuvTables& tables);

}  // namespace mr4
