// Saving a drawn page's picture (the ground map, the trail map) as a PNG
// file: the light margin the drawing leaves at the right edge and the
// light rows at the bottom edge are blacked out, then the picture is
// encoded directly with libpng (written to a temporary file and renamed
// into place). Callable from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/image_codecs.h"

namespace mr4 {

// `pixels`: width x height, 24-bit blue-green-red, rows bottom-up and
// packed; left unchanged (the margins are blacked out in a copy).
ImageStatus SaveImageAsPng(const std::filesystem::path& path,
                           std::span<const std::uint8_t> pixels, int width, int height);

}  // namespace mr4
