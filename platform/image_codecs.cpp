#include "platform/image_codecs.h"

#include <png.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_replace.h"

namespace mr4 {
namespace {

// A JPEG of the largest picture stays far below this; a bigger file is not
// one of our stills and is not loaded into memory.
constexpr std::int64_t kMaxJpegFileBytes = 512ll << 20;

bool SizeFits(int width, int height, std::size_t capacity, ImageStatus* why) {
  if (width < 1 || height < 1) {
    *why = ImageStatus::kBadSize;
    return false;
  }
  if (width > kMaxImageWidth || height > kMaxImageHeight ||
      std::int64_t{width} * height * 3 > static_cast<std::int64_t>(capacity)) {
    *why = ImageStatus::kTooLarge;
    return false;
  }
  return true;
}

struct TjHandle {
  tjhandle h;
  explicit TjHandle(tjhandle handle) : h(handle) {}
  ~TjHandle() {
    if (h != nullptr) tjDestroy(h);
  }
  TjHandle(const TjHandle&) = delete;
  TjHandle& operator=(const TjHandle&) = delete;
};

// CMYK as JPEG files store it (Adobe convention, inverted: 255 is no ink)
// to blue-green-red: each colour is its ink value times the key, / 255.
void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i, cmyk += 4, bgr += 3) {
    const int k = cmyk[3];
    bgr[0] = static_cast<std::uint8_t>((cmyk[2] * k + 127) / 255);
    bgr[1] = static_cast<std::uint8_t>((cmyk[1] * k + 127) / 255);
    bgr[2] = static_cast<std::uint8_t>((cmyk[0] * k + 127) / 255);
  }
}

void AppendPngData(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushPngData(png_structp) {}

}  // namespace

void ImageBuffer::Clear() {
  std::memset(pixels.data(), 0, pixels.size());
  width = 0;
  height = 0;
}

const char* ImageStatusText(ImageStatus status) {
  switch (status) {
    case ImageStatus::kOk: return "ok";
    case ImageStatus::kCannotOpen: return "cannot open";
    case ImageStatus::kReadFailed: return "read error";
    case ImageStatus::kNotThisFormat: return "not a picture of this format";
    case ImageStatus::kBadSize: return "bad picture size";
    case ImageStatus::kTooLarge: return "picture too large";
    case ImageStatus::kCompressed: return "compressed bitmap";
    case ImageStatus::kBadDepth: return "unsupported bits per pixel";
    case ImageStatus::kBadOffset: return "bad pixel data offset";
    case ImageStatus::kTruncated: return "truncated";
    case ImageStatus::kBroken: return "broken picture data";
    case ImageStatus::kUnknownFormat: return "unknown picture format";
    case ImageStatus::kWriteFailed: return "write error";
  }
  return "?";
}

ImageStatus ReadJpeg(const std::filesystem::path& path, ImageBuffer& image) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return ImageStatus::kCannotOpen;
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) {
    std::fclose(f);
    return ImageStatus::kReadFailed;
  }
  if (st.st_size > kMaxJpegFileBytes) {
    std::fclose(f);
    return ImageStatus::kTooLarge;
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(st.st_size));
  const std::size_t got = std::fread(data.data(), 1, data.size(), f);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return ImageStatus::kReadFailed;
  data.resize(got);
  if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8) {
    return ImageStatus::kNotThisFormat;
  }

  TjHandle tj(tjInitDecompress());
  if (tj.h == nullptr) return ImageStatus::kBroken;
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(tj.h, data.data(), data.size(), &width, &height,
                          &subsampling, &colourspace) != 0) {
    return ImageStatus::kBroken;
  }
  ImageStatus why = ImageStatus::kOk;
  if (!SizeFits(width, height, image.pixels.size(), &why)) return why;

  // Any warning (a cut file, damaged data) counts as a broken picture; the
  // scan limit bounds the work a hostile progressive file can cause.
  const int flags = TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS;
  const std::int64_t n = std::int64_t{width} * height;
  if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
    std::vector<std::uint8_t> cmyk(static_cast<std::size_t>(n * 4));
    if (tjDecompress2(tj.h, data.data(), data.size(), cmyk.data(), width,
                      width * 4, height, TJPF_CMYK, flags) != 0) {
      return ImageStatus::kBroken;
    }
    CmykToBgr(cmyk.data(), image.pixels.data(), n);
  } else if (tjDecompress2(tj.h, data.data(), data.size(), image.pixels.data(),
                           width, width * 3, height, TJPF_BGR, flags) != 0) {
    return ImageStatus::kBroken;
  }
  image.width = width;
  image.height = height;
  return ImageStatus::kOk;
}

ImageStatus WriteJpeg(const std::filesystem::path& path,
                      std::span<const std::uint8_t> pixels, int width,
                      int height, int quality) {
  ImageStatus why = ImageStatus::kOk;
  if (!SizeFits(width, height, pixels.size(), &why)) return why;
  TjHandle tj(tjInitCompress());
  if (tj.h == nullptr) return ImageStatus::kWriteFailed;
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  if (tjCompress2(tj.h, pixels.data(), width, width * 3, height, TJPF_BGR,
                  &jpeg, &jpeg_size, TJSAMP_444, quality,
                  TJFLAG_BOTTOMUP) != 0) {
    tjFree(jpeg);
    return ImageStatus::kWriteFailed;
  }
  const ImageStatus status =
      WriteFileReplacing(path, {std::span<const std::uint8_t>(jpeg, jpeg_size)});
  tjFree(jpeg);
  return status;
}

ImageStatus WritePng(const std::filesystem::path& path,
                     std::span<const std::uint8_t> pixels, int width,
                     int height) {
  ImageStatus why = ImageStatus::kOk;
  if (!SizeFits(width, height, pixels.size(), &why)) return why;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return ImageStatus::kWriteFailed;
  png_infop info = png_create_info_struct(png);
  std::vector<std::uint8_t> encoded;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return ImageStatus::kWriteFailed;
  }
  png_set_write_fn(png, &encoded, AppendPngData, FlushPngData);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width),
               static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int r = height - 1; r >= 0; --r) {  // PNG rows run top-down
    png_write_row(png, pixels.data() + static_cast<std::size_t>(r) * stride);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return WriteFileReplacing(path, {std::span<const std::uint8_t>(encoded)});
}

ImageStatus WriteFileReplacing(
    const std::filesystem::path& path,
    std::initializer_list<std::span<const std::uint8_t>> parts) {
  FileReplacement file(path);
  if (!file.opened()) return ImageStatus::kCannotOpen;
  bool ok = true;
  for (std::span<const std::uint8_t> part : parts) ok = ok && file.Write(part);
  return ok && file.Commit() ? ImageStatus::kOk : ImageStatus::kWriteFailed;
}

}  // namespace mr4
