// Picture codecs: JPEG reading and writing (libjpeg-turbo) and PNG writing
// (libpng), on the system's pixel buffers.
//
// A pixel buffer holds a 24-bit blue-green-red picture, rows bottom-up
// (row 0 is the bottom line) and packed (width x 3 bytes, no row filler),
// at most kMaxImageWidth x kMaxImageHeight pixels. Buffers belong to the
// caller; a reader writes only into the span it is given and fills in the
// size on success. After a failed read the buffer may be partly written:
// the caller clears it (ImageBuffer::Clear). Writers replace the target file
// only when the whole picture was written (a temporary file in the same
// directory is renamed into place). All functions may be called from any
// thread; they share no state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>

namespace mr4 {

inline constexpr int kMaxImageWidth = 8192;   // px
inline constexpr int kMaxImageHeight = 4320;  // px

// A caller-owned picture buffer and the size of the picture it holds.
struct ImageBuffer {
  std::span<std::uint8_t> pixels;  // capacity: at least width x height x 3
  int width = 0;
  int height = 0;
  // What a failed read leaves: a 0 x 0 picture and a black buffer.
  void Clear();
};

enum class ImageStatus {
  kOk,
  kCannotOpen,      // the file cannot be opened or created
  kReadFailed,      // an I/O error while reading
  kNotThisFormat,   // no BMP / JPEG signature, or a header too short
  kBadSize,         // width or height below 1 (or a top-down bitmap)
  kTooLarge,        // above kMaxImageWidth x kMaxImageHeight or the buffer
  kCompressed,      // a compressed (or bit-field) bitmap
  kBadDepth,        // bits per pixel not 8, 24 or 32
  kBadOffset,       // pixel data said to start inside the headers
  kTruncated,       // the file ends before the last pixel row
  kBroken,          // the codec refused the data
  kUnknownFormat,   // a file name extension no writer handles
  kWriteFailed,     // the file could not be written completely
};

// A short English description ("truncated", ...), for messages and tests.
const char* ImageStatusText(ImageStatus status);

// Decodes a JPEG (baseline or progressive; colour, grey or CMYK, each
// becoming 3 bytes per pixel) into `image`, bottom row first.
ImageStatus ReadJpeg(const std::filesystem::path& path, ImageBuffer& image);

// Encode width x height pixels of `pixels` (bytes as above).
ImageStatus WriteJpeg(const std::filesystem::path& path,
                      std::span<const std::uint8_t> pixels, int width,
                      int height, int quality = 90);
ImageStatus WritePng(const std::filesystem::path& path,
                     std::span<const std::uint8_t> pixels, int width,
                     int height);

// Writes the parts one after the other as the new content of `path`
// (platform/file_replace.h); on failure `path` stays as it was.
ImageStatus WriteFileReplacing(
    const std::filesystem::path& path,
    std::initializer_list<std::span<const std::uint8_t>> parts);

}  // namespace mr4
