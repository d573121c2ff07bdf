#include "clips/save_png.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mr4 {
namespace {

constexpr std::uint8_t kLight = 229;  // first byte of a margin pixel
constexpr int kMaxMarginColumns = 15;
constexpr int kMaxMarginRows = 16;

}  // namespace

ImageStatus SaveImageAsPng(const std::filesystem::path& path,
                           std::span<const std::uint8_t> pixels, int width, int height) {
  if (width < 1 || height < 1) return ImageStatus::kBadSize;
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  if (pixels.size() < stride * static_cast<std::size_t>(height)) return ImageStatus::kTooLarge;
  std::vector<std::uint8_t> picture(pixels.begin(),
                                    pixels.begin() + static_cast<std::ptrdiff_t>(stride * height));
  // Right margin: the light columns at the end of the first row.
  int margin = width;
  for (int x = width - 1; x >= 0 && x >= width - kMaxMarginColumns; --x) {
    if (picture[static_cast<std::size_t>(x) * 3] < kLight) break;
    margin = x;
  }
  // Bottom margin: the first row, and the rows after it that start light.
  int rows = 1;
  while (rows < std::min(height, kMaxMarginRows) && picture[stride * rows] >= kLight) ++rows;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.data() + stride * static_cast<std::size_t>(y);
    if (y < rows) {
      std::memset(row, 0, stride);
    } else if (margin < width) {
      std::memset(row + static_cast<std::size_t>(margin) * 3, 0,
                  stride - static_cast<std::size_t>(margin) * 3);
    }
  }
  return WritePng(path, picture, width, height);
}

}  // namespace mr4
