#include "sim/avi_writer.h"

#include <algorithm>
#include <cstring>

namespace mr4 {
namespace {

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAviifKeyframe = 0x10;
constexpr std::int64_t kFirstFrameOffset = 2048;  // JUNK fills up to here
constexpr std::int64_t kLargestChunk = 0xFFFFFFF0;

std::string DefaultFourcc(AviPixelFormat f) {
  switch (f) {
    case AviPixelFormat::kYuy2:
      return "YUY2";
    case AviPixelFormat::kUyvy:
      return "UYVY";
    default:
      return "DIB ";
  }
}

}  // namespace

int AviBytesPerPixel(AviPixelFormat format) {
  switch (format) {
    case AviPixelFormat::kYuy2:
    case AviPixelFormat::kUyvy:
    case AviPixelFormat::kDib16:
      return 2;
    case AviPixelFormat::kDib8:
      return 1;
    case AviPixelFormat::kDib24:
      return 3;
    case AviPixelFormat::kDib32:
      return 4;
  }
  return 0;
}

AviWriter::~AviWriter() = default;

bool AviWriter::Fail(const std::string& what) {
  error_ = what;
  file_.reset();
  return false;
}

bool AviWriter::Put(const void* data, std::size_t n) {
  if (n > 0 && std::fwrite(data, 1, n, file_->stream()) != n) {
    return Fail("cannot write the file");
  }
  offset_ += static_cast<std::int64_t>(n);
  return true;
}

bool AviWriter::PutU32(std::uint32_t v) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(v),
                             static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v >> 16),
                             static_cast<std::uint8_t>(v >> 24)};
  return Put(b, 4);
}

bool AviWriter::PutId(const char* id) { return Put(id, 4); }

bool AviWriter::PatchU32(std::int64_t offset, std::uint32_t v) {
  std::FILE* f = file_->stream();
  const std::int64_t end = offset_;
  if (::fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) {
    return Fail("cannot seek");
  }
  offset_ = offset;
  if (!PutU32(v)) return false;
  if (::fseeko(f, static_cast<off_t>(end), SEEK_SET) != 0) {
    return Fail("cannot seek");
  }
  offset_ = end;
  return true;
}

bool AviWriter::Open(const std::filesystem::path& path,
                     const AviWriterOptions& options) {
  file_.reset();
  options_ = options;
  error_.clear();
  offset_ = 0;
  frames_ = frames_in_part_ = parts_ = 0;
  index_.clear();

  const AviWriterOptions& o = options_;
  const int bpp = AviBytesPerPixel(o.format);
  const bool packed422 =
      o.format == AviPixelFormat::kYuy2 || o.format == AviPixelFormat::kUyvy;
  const std::string fourcc =
      o.stream_fourcc.empty() ? DefaultFourcc(o.format) : o.stream_fourcc;
  if (o.width < 1 || o.height < 1) return Fail("width and height must be positive");
  if (packed422 && o.width % 2 != 0) return Fail("4:2:2 needs an even width");
  if (std::int64_t{o.width} * bpp % 4 != 0) {
    return Fail("rows must be a multiple of 4 bytes (no row filler is written)");
  }
  if (o.layout == AviLayout::kRecords && o.padding_granularity < 256) {
    return Fail("the record layout needs a padding granularity of 256 or more");
  }
  if (fourcc.size() != 4 || o.frame_chunk_id.size() != 4) {
    return Fail("FourCC and chunk id have four characters");
  }
  image_bytes_ = std::int64_t{o.width} * o.height * bpp;
  if (image_bytes_ > kLargestChunk - 4096) return Fail("frame too large");
  if (o.layout == AviLayout::kRecords) {
    const std::int64_t g = o.padding_granularity;
    record_bytes_ = (image_bytes_ + 8 + g - 1) / g * g;
  } else {
    record_bytes_ = image_bytes_ + 8 + (image_bytes_ & 1);
  }

  file_ = std::make_unique<FileReplacement>(path, false);
  if (!file_->opened()) return Fail("cannot create " + path.string());

  const auto image = static_cast<std::uint32_t>(image_bytes_);
  const auto record = static_cast<std::uint32_t>(record_bytes_);
  const std::uint32_t palette_bytes = o.format == AviPixelFormat::kDib8 ? 1024 : 0;
  const std::uint32_t strf_bytes = 40 + palette_bytes;
  const std::uint32_t strl_bytes = 4 + (8 + 56) + (8 + strf_bytes);
  const std::uint32_t hdrl_bytes = 4 + (8 + 56) + (8 + strl_bytes);
  const std::uint32_t rate = 1000000;
  const std::uint32_t bytes_per_second = static_cast<std::uint32_t>(
      std::min<std::int64_t>(record_bytes_ * rate / o.microseconds_per_frame,
                             0xFFFFFFFF));
  const std::uint32_t compression =
      packed422 ? std::uint32_t{static_cast<std::uint8_t>(fourcc[0])} |
                      std::uint32_t{static_cast<std::uint8_t>(fourcc[1])} << 8 |
                      std::uint32_t{static_cast<std::uint8_t>(fourcc[2])} << 16 |
                      std::uint32_t{static_cast<std::uint8_t>(fourcc[3])} << 24
                : 0;  // BI_RGB
  const std::uint32_t granularity =
      o.layout == AviLayout::kRecords ? o.padding_granularity : 0;
  const auto w = static_cast<std::uint32_t>(o.width);
  const auto h = static_cast<std::uint32_t>(o.height);

  bool ok = PutId("RIFF");
  riff_size_at_ = offset_;
  ok = ok && PutU32(0) && PutId("AVI ");
  ok = ok && PutId("LIST") && PutU32(hdrl_bytes) && PutId("hdrl");
  // Main header (offsets 32..87).
  ok = ok && PutId("avih") && PutU32(56) && PutU32(o.microseconds_per_frame) &&
       PutU32(bytes_per_second) && PutU32(granularity) &&
       PutU32(o.write_index ? kAvifHasIndex : 0) && PutU32(0) /* frames */ &&
       PutU32(0) && PutU32(1) && PutU32(record) && PutU32(w) && PutU32(h) &&
       PutU32(0) && PutU32(0) && PutU32(0) && PutU32(0);
  ok = ok && PutId("LIST") && PutU32(strl_bytes) && PutId("strl");
  // Stream header (offsets 108..163).
  ok = ok && PutId("strh") && PutU32(56) && PutId("vids") && Put(fourcc.data(), 4) &&
       PutU32(0) && PutU32(0) /* priority, language */ && PutU32(0) &&
       PutU32(o.microseconds_per_frame) && PutU32(rate) && PutU32(0) &&
       PutU32(0) /* length */ && PutU32(record) && PutU32(0xFFFFFFFF) &&
       PutU32(0) && PutU32(0) && PutU32((h << 16) | w);
  // Stream format: the bitmap header (offsets 172..211), then a grey
  // palette for 8 bits.
  ok = ok && PutId("strf") && PutU32(strf_bytes) && PutU32(40) && PutU32(w) &&
       PutU32(h) && PutU32(static_cast<std::uint32_t>(bpp * 8) << 16 | 1) &&
       PutU32(compression) && PutU32(image) && PutU32(0) && PutU32(0) &&
       PutU32(palette_bytes ? 256 : 0) && PutU32(0);
  for (std::uint32_t i = 0; ok && i < palette_bytes / 4; ++i) {
    const std::uint8_t quad[4] = {static_cast<std::uint8_t>(i),
                                  static_cast<std::uint8_t>(i),
                                  static_cast<std::uint8_t>(i), 0};
    ok = Put(quad, 4);
  }
  if (!ok) return false;
  // JUNK up to the "LIST" "movi" header, so that the first frame chunk
  // starts at kFirstFrameOffset.
  const std::int64_t junk = kFirstFrameOffset - 12 - offset_ - 8;
  if (junk < 0) return Fail("header too large");
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(junk), 0);
  if (!PutId("JUNK") || !PutU32(static_cast<std::uint32_t>(junk)) ||
      !Put(zeros.data(), zeros.size())) {
    return false;
  }
  return BeginPart(true);
}

bool AviWriter::BeginPart(bool first) {
  if (!first) {
    if (!PutId("RIFF")) return false;
    riff_size_at_ = offset_;
    if (!PutU32(0) || !PutId("AVIX")) return false;
  }
  if (!PutId("LIST")) return false;
  movi_size_at_ = offset_;
  if (!PutU32(0)) return false;
  if (first) movi_start_ = offset_;
  frames_in_part_ = 0;
  return PutId("movi");
}

bool AviWriter::EndPart() {
  if (!PatchU32(movi_size_at_,
                static_cast<std::uint32_t>(offset_ - movi_size_at_ - 4))) {
    return false;
  }
  if (parts_ == 0 && options_.write_index) {
    if (!PutId("idx1") || !PutU32(static_cast<std::uint32_t>(index_.size() * 16))) {
      return false;
    }
    for (const IndexEntry& e : index_) {
      if (!Put(options_.frame_chunk_id.data(), 4) || !PutU32(kAviifKeyframe) ||
          !PutU32(e.offset) || !PutU32(e.size)) {
        return false;
      }
    }
  }
  ++parts_;
  return PatchU32(riff_size_at_,
                  static_cast<std::uint32_t>(offset_ - riff_size_at_ - 4));
}

bool AviWriter::WriteFrame(std::span<const std::uint8_t> pixels) {
  if (!file_) return Fail(error_.empty() ? "not open" : error_);
  if (static_cast<std::int64_t>(pixels.size()) != image_bytes_) {
    error_ = "frame has the wrong size";
    return false;
  }
  if (options_.frames_per_riff > 0 && frames_in_part_ == options_.frames_per_riff) {
    if (!EndPart() || !BeginPart(false)) return false;
  }
  if (options_.list_every > 0 && frames_ > 0 && frames_ % options_.list_every == 0) {
    const std::uint8_t note[8] = {'m', 'r', '4', ' ', 's', 'i', 'm', 0};
    if (!PutId("LIST") || !PutU32(4 + sizeof note) || !PutId("xtra") ||
        !Put(note, sizeof note)) {
      return false;
    }
  }
  const std::int64_t chunk_start = offset_;
  if (!Put(options_.frame_chunk_id.data(), 4) ||
      !PutU32(static_cast<std::uint32_t>(image_bytes_)) ||
      !Put(pixels.data(), pixels.size())) {
    return false;
  }
  static const std::uint8_t kZeros[4096] = {};
  if ((image_bytes_ & 1) != 0 && !Put(kZeros, 1)) return false;
  if (parts_ == 0) {
    index_.push_back({static_cast<std::uint32_t>(chunk_start - movi_start_),
                      static_cast<std::uint32_t>(image_bytes_)});
  }
  if (options_.layout == AviLayout::kRecords) {
    std::int64_t gap = chunk_start + record_bytes_ - offset_;
    if (options_.pad_with_junk && gap >= 8) {
      if (!PutId("JUNK") || !PutU32(static_cast<std::uint32_t>(gap - 8))) return false;
      gap -= 8;
    }
    while (gap > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(gap, sizeof kZeros));
      if (!Put(kZeros, n)) return false;
      gap -= static_cast<std::int64_t>(n);
    }
  }
  ++frames_;
  ++frames_in_part_;
  return true;
}

bool AviWriter::Close() {
  if (!file_) return false;
  const auto frames = static_cast<std::uint32_t>(frames_);
  if (!EndPart() || !PatchU32(48, frames) || !PatchU32(140, frames)) return false;
  if (!file_->Finish()) return Fail("cannot write the file");
  if (!file_->Place()) return Fail("cannot put the file at " + file_->target().string());
  file_.reset();
  return true;
}

}  // namespace mr4
