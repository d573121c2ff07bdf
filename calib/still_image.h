// Still pictures of a clip (peak-hold P.BMP, mask M.BMP / N.BMP, JPEG
// stills): reading them into, and writing them from, the system's 24-bit
// pixel buffers (platform/image_codecs.h: blue-green-red, rows bottom-up and
// packed, at most 8192 x 4320).
//
// The buffers belong to the caller (the analysis context's still and mask
// images). A failed read may leave a buffer partly written; ReadStill clears
// it then, so a clip whose picture cannot be read never shows the previous
// clip's. Functions may be called from any thread; the messages go through
// ShowError.
//
// Bitmap file read (all values little-endian):
//
// | offset | size | meaning                                                  |
// |-------:|-----:|----------------------------------------------------------|
// |      0 |    2 | "BM"                                                     |
// |      2 |    4 | file size (not used)                                     |
// |      6 |    4 | reserved                                                 |
// |     10 |    4 | pixel data offset, at least 54; bytes before it skipped  |
// |     14 |    4 | information header size, at least 40                     |
// |     18 |    4 | width W, px, signed, 1 .. 8192                           |
// |     22 |    4 | height H, px, signed, 1 .. 4320 (top-down refused)       |
// |     26 |    2 | planes (not used)                                        |
// |     28 |    2 | bits per pixel: 8 (grey, palette not used), 24, 32       |
// |     30 |    4 | compression, must be 0                                   |
// | offset |  ... | H rows bottom-up, W x bits / 8 bytes each               |
//
// Rows are packed, as the capture program and WriteStillBmp write them;
// a file whose length is exactly that of rows padded to 4 bytes (the usual
// bitmap layout, different only when W x bits / 8 is not a multiple of 4)
// is read with the padding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/image_codecs.h"

namespace mr4 {

// Reads a bitmap into `image` (always 24-bit: 8-bit pixels become grey,
// 32-bit pixels lose their fourth byte). A file that ends before its last
// row also shows "BMP broken %s" with the path.
ImageStatus ReadStillBmp(const std::filesystem::path& path, ImageBuffer& image);

// Reads a still by its extension (".bmp" or ".jpg" / ".jpeg", any case;
// JPEGs through ReadJpeg). On any failure `image` is cleared.
ImageStatus ReadStill(const std::filesystem::path& path, ImageBuffer& image);

// Writes W x H pixels of `buffer` as a 24-bit bitmap (file size W x H x 3 +
// 54, data offset 54, rows as they lie in the buffer). On failure shows
// "cannot save image Please set correct X Y".
ImageStatus WriteStillBmp(const std::filesystem::path& path,
                          std::span<const std::uint8_t> buffer, int width,
                          int height);

// Writes the picture in the format the extension of `path` names: ".bmp",
// ".jpg" / ".jpeg" or ".png" (any case); others give kUnknownFormat. On a
// failed write shows the message of WriteStillBmp.
ImageStatus SaveStillImage(const std::filesystem::path& path,
                           std::span<const std::uint8_t> buffer, int width,
                           int height);

}  // namespace mr4
