#include "replay/frame_formats.h"

#include <cstring>

namespace mr4 {
namespace {

bool ValidGeometry(const FrameGeometry& g) {
  if (g.width < 1 || g.height < 1 || g.width > kMaxFrameWidth ||
      g.height > kMaxFrameHeight) {
    return false;
  }
  switch (g.format) {
    case FrameFormat::kYuyv:
    case FrameFormat::kUyvy:
      return g.width % 2 == 0;  // whole pixel pairs
    case FrameFormat::kDib:
      return g.bytes_per_pixel >= 1 && g.bytes_per_pixel <= 4;
    case FrameFormat::kRgb24:
      return true;
  }
  return false;
}

int SourceBytesPerPixel(const FrameGeometry& g) {
  switch (g.format) {
    case FrameFormat::kYuyv:
    case FrameFormat::kUyvy:
      return 2;
    case FrameFormat::kDib:
      return g.bytes_per_pixel;
    case FrameFormat::kRgb24:
      return 3;
  }
  return 0;
}

// One destination row from a 4:2:2 source row. Both pixels of a pair share
// their chroma, so the chroma sum is formed once per pair. `y0`, `y1`, `u`,
// `v` are the byte positions within a pair.
template <int y0, int u, int y1, int v>
void Row422(const std::uint8_t* src, std::uint8_t* dst, int width,
            const YuvTables& t) {
  for (int j = 0; j < width; j += 2, src += 4) {
    const std::int32_t chroma = t.ug[src[u]] + t.vg[src[v]] + 32768;
    std::int32_t g0 = t.y[src[y0]] + chroma;
    std::int32_t g1 = t.y[src[y1]] + chroma;
    g0 = g0 < 0 ? 0 : (g0 > 0xFF0000 ? 0xFF0000 : g0);
    g1 = g1 < 0 ? 0 : (g1 > 0xFF0000 ? 0xFF0000 : g1);
    dst[j] = static_cast<std::uint8_t>(g0 >> 16);
    dst[j + 1] = static_cast<std::uint8_t>(g1 >> 16);
  }
}

// One destination row taking byte `offset` of every `step`-byte pixel.
void RowPick(const std::uint8_t* src, std::uint8_t* dst, int width, int step,
             int offset) {
  src += offset;
  for (int j = 0; j < width; ++j, src += step) dst[j] = *src;
}

}  // namespace

std::int64_t FrameBytes(const FrameGeometry& geometry) {
  if (!ValidGeometry(geometry)) return 0;
  return std::int64_t{geometry.width} * geometry.height *
         SourceBytesPerPixel(geometry);
}

bool ToGreenPlane(const FrameGeometry& geometry,
                  std::span<const std::uint8_t> source, int row_begin,
                  int row_end, std::span<std::uint8_t> plane,
                  const YuvTables& tables) {
  const std::int64_t frame_bytes = FrameBytes(geometry);
  const int w = geometry.width;
  const int h = geometry.height;
  if (frame_bytes == 0 || row_begin < 0 || row_end > h ||
      row_begin > row_end ||
      static_cast<std::int64_t>(source.size()) < frame_bytes ||
      static_cast<std::int64_t>(plane.size()) < std::int64_t{w} * h) {
    return false;
  }
  const std::int64_t src_stride = std::int64_t{w} * SourceBytesPerPixel(geometry);
  for (int r = row_begin; r < row_end; ++r) {
    std::uint8_t* dst = plane.data() + std::int64_t{r} * w;
    switch (geometry.format) {
      case FrameFormat::kYuyv:  // top-down source
        Row422<0, 1, 2, 3>(source.data() + (h - 1 - r) * src_stride, dst, w,
                           tables);
        break;
      case FrameFormat::kUyvy:
        Row422<1, 0, 3, 2>(source.data() + (h - 1 - r) * src_stride, dst, w,
                           tables);
        break;
      case FrameFormat::kDib: {  // bottom-up source
        const std::uint8_t* src = source.data() + r * src_stride;
        if (geometry.bytes_per_pixel == 1) {
          std::memcpy(dst, src, static_cast<std::size_t>(w));
        } else {
          RowPick(src, dst, w, geometry.bytes_per_pixel, 1);
        }
        break;
      }
      case FrameFormat::kRgb24:  // as delivered, no flip
        RowPick(source.data() + r * src_stride, dst, w, 3, 1);
        break;
    }
  }
  return true;
}

}  // namespace mr4
