#include "calib/still_image.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"

namespace mr4 {
namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;
constexpr int kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;  // 54

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::string LowerExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

ImageStatus Truncated(const std::filesystem::path& path) {
  ShowError("BMP broken %s", path.c_str());
  return ImageStatus::kTruncated;
}

ImageStatus ReportWrite(ImageStatus status) {
  if (status != ImageStatus::kOk) ShowError("cannot save image Please set correct X Y");
  return status;
}

}  // namespace

ImageStatus ReadStillBmp(const std::filesystem::path& path, ImageBuffer& image) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return ImageStatus::kCannotOpen;
  std::FILE* f = file.get();
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return ImageStatus::kReadFailed;

  std::uint8_t h[kHeaderBytes];
  const std::size_t got = std::fread(h, 1, sizeof h, f);
  if (got < 2 || h[0] != 'B' || h[1] != 'M') return ImageStatus::kNotThisFormat;
  if (got < sizeof h) return Truncated(path);
  if (U32(h + 14) < kInfoHeaderBytes) return ImageStatus::kNotThisFormat;
  const auto width = static_cast<std::int32_t>(U32(h + 18));
  const auto height = static_cast<std::int32_t>(U32(h + 22));
  const int bits = U16(h + 28);
  const std::uint32_t offset = U32(h + 10);
  if (width < 1 || height < 1) return ImageStatus::kBadSize;
  if (U32(h + 30) != 0) return ImageStatus::kCompressed;
  if (bits != 8 && bits != 24 && bits != 32) return ImageStatus::kBadDepth;
  if (width > kMaxImageWidth || height > kMaxImageHeight ||
      std::int64_t{width} * height * 3 >
          static_cast<std::int64_t>(image.pixels.size())) {
    return ImageStatus::kTooLarge;
  }
  if (offset < kHeaderBytes) return ImageStatus::kBadOffset;

  const int bytes = bits / 8;
  const std::int64_t packed = std::int64_t{width} * bytes;
  const std::int64_t padded = (packed + 3) / 4 * 4;
  const std::int64_t stride =
      padded != packed && st.st_size == offset + padded * height ? padded : packed;
  if (::fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return Truncated(path);

  std::vector<std::uint8_t> row(static_cast<std::size_t>(stride));
  for (int r = 0; r < height; ++r) {
    if (std::fread(row.data(), 1, row.size(), f) != row.size()) {
      return std::ferror(f) ? ImageStatus::kReadFailed : Truncated(path);
    }
    std::uint8_t* dst = image.pixels.data() + std::int64_t{r} * width * 3;
    const std::uint8_t* src = row.data();
    for (int j = 0; j < width; ++j, dst += 3, src += bytes) {
      if (bytes == 1) {
        dst[0] = dst[1] = dst[2] = src[0];
      } else {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
    }
  }
  image.width = width;
  image.height = height;
  return ImageStatus::kOk;
}

ImageStatus ReadStill(const std::filesystem::path& path, ImageBuffer& image) {
  const std::string ext = LowerExtension(path);
  ImageStatus status = ImageStatus::kUnknownFormat;
  if (ext == ".bmp") {
    status = ReadStillBmp(path, image);
  } else if (ext == ".jpg" || ext == ".jpeg") {
    status = ReadJpeg(path, image);
  }
  if (status != ImageStatus::kOk) image.Clear();
  return status;
}

ImageStatus WriteStillBmp(const std::filesystem::path& path,
                          std::span<const std::uint8_t> buffer, int width,
                          int height) {
  if (width < 1 || height < 1 || width > kMaxImageWidth ||
      height > kMaxImageHeight ||
      std::int64_t{width} * height * 3 > static_cast<std::int64_t>(buffer.size())) {
    return ReportWrite(ImageStatus::kBadSize);
  }
  const auto pixel_bytes = static_cast<std::uint32_t>(width * height * 3);
  std::uint8_t h[kHeaderBytes] = {'B', 'M'};
  Put32(h + 2, pixel_bytes + kHeaderBytes);
  Put32(h + 10, kHeaderBytes);
  Put32(h + 14, kInfoHeaderBytes);
  Put32(h + 18, static_cast<std::uint32_t>(width));
  Put32(h + 22, static_cast<std::uint32_t>(height));
  h[26] = 1;   // planes
  h[28] = 24;  // bits per pixel; compression and the rest stay 0
  return ReportWrite(WriteFileReplacing(
      path, {std::span<const std::uint8_t>(h), buffer.first(pixel_bytes)}));
}

ImageStatus SaveStillImage(const std::filesystem::path& path,
                           std::span<const std::uint8_t> buffer, int width,
                           int height) {
  const std::string ext = LowerExtension(path);
  if (ext == ".bmp") return WriteStillBmp(path, buffer, width, height);
  if (ext == ".jpg" || ext == ".jpeg") {
    return ReportWrite(WriteJpeg(path, buffer, width, height));
  }
  if (ext == ".png") return ReportWrite(WritePng(path, buffer, width, height));
  return ImageStatus::kUnknownFormat;
}

}  // namespace mr4
