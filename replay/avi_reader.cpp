#include "replay/avi_reader.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

namespace mr4 {
namespace {

// Both the probe and the reader take their header fields from this many
// leading bytes (every field lies below offset 196).
constexpr std::size_t kHeaderBytes = 1024;
constexpr std::int64_t kDefaultGranularity = 512;
constexpr std::int64_t kSmallestGranularity = 256;

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
bool Is(const std::uint8_t* p, const char (&id)[5]) {
  return std::memcmp(p, id, 4) == 0;
}

// The FourCC as text, one character per byte: it ends at a NUL byte, and a
// byte outside printable ASCII shows as "." so that the text stays valid
// UTF-8 and safe in a table cell.
std::string FourccText(const std::uint8_t* p) {
  std::string text;
  for (int i = 0; i < 4 && p[i] != 0; ++i) {
    text += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
  }
  return text;
}

bool IsChunkId(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] >= 0x7F) return false;
  }
  return true;
}

// The file position after a chunk of this declared size (data padded to an
// even length). Always at least 8 bytes on.
std::int64_t AfterChunk(std::int64_t position, std::uint32_t size) {
  return position + 8 + std::int64_t{size} + (size & 1);
}

std::FILE* OpenForReading(const std::filesystem::path& path) {
  return std::fopen(path.c_str(), "rb");
}

bool Seek(std::FILE* f, std::int64_t position) {
  return ::fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
}

}  // namespace

AviProbe ProbeAviFormat(const std::filesystem::path& path) {
  AviProbe probe;
  std::FILE* f = OpenForReading(path);
  if (f == nullptr) return probe;  // -1, text empty
  std::uint8_t h[kHeaderBytes];
  const std::size_t got = std::fread(h, 1, sizeof h, f);
  std::fclose(f);
  if (got < sizeof h) {
    probe.code = kProbeShortHeader;
  } else if (!Is(h, "RIFF")) {
    probe.code = kProbeNotRiff;
  } else if (U32(h + 28) != 56) {
    probe.code = kProbeBadMainHeader;
  } else if (U32(h + 104) != 56) {
    probe.code = kProbeBadStreamHeader;
  } else {
    probe.fourcc = FourccText(h + 112);
    if (U32(h + 40) < kSmallestGranularity) {
      probe.code = kProbeSmallGranularity;
    } else if (Is(h + 112, "YUYV") || Is(h + 112, "YUY2")) {
      probe.code = kProbeYuyv;
    } else if (Is(h + 112, "UYVY")) {
      probe.code = kProbeUyvy;
    } else if (Is(h + 112, "DIB ")) {
      probe.code = kProbeDib;
    } else {
      probe.code = kProbeNotDirect;
    }
  }
  if (probe.code < kProbeNotDirect) probe.fourcc += "?";
  return probe;
}

void CloseAviFrames(AviReader& reader) { reader = AviReader{}; }

std::string AviStatusText(int status) {
  switch (status) {
    case kAviOk: return "no fault";
    case kAviCannotOpen: return "the file cannot be opened";
    case kAviShortHeader: return "the file is shorter than an AVI header (1024 bytes)";
    case kAviNotRiff: return "not a RIFF file";
    case kAviBadMainHeader: return "its main header is not 56 bytes long";
    case kAviBadStreamHeader: return "its stream header is not 56 bytes long";
    case kAviUnknownFourcc: return "its video format is none of YUY2, UYVY and DIB";
    case kAviBadBitmapHeader: return "its bitmap header is not 40 bytes long";
    case kAviBadPlanes: return "its bitmap header does not give one plane";
    case kAviBadDepth: return "its bits per pixel do not fit its video format";
    case kAviBadImageSize: return "its image size does not fit its frame size";
    case kAviSeekFirst: return "the file ends before its first frame";
    case kAviBadFrameSize: return "its frame size is out of range";
    case kAviRecordTooLarge: return "a record is larger than the frame buffer";
    case kAviSeekRiff:
    case kAviSeekList:
    case kAviSeekChunk: return "the file ends inside a chunk";
    case kAviShortFrameChunk: return "a frame chunk is smaller than its image";
    case kAviReadFailed: return "the file could not be read";
    case kAviEnd: return "no more frames";
    default: return "AVI reader status " + std::to_string(status);
  }
}

int OpenAviFrames(const std::filesystem::path& path, AviReader& reader,
                  std::span<const std::uint8_t> buffer) {
  CloseAviFrames(reader);
  AviReader r;
  r.file.reset(OpenForReading(path));
  if (!r.file) return kAviCannotOpen;
  std::FILE* f = r.file.get();
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return kAviCannotOpen;
  r.file_size = st.st_size;

  // The header fields lie in the first 1024 bytes. Asking for no more than
  // the probe does keeps every file the probe sends here readable, however
  // few or small its frames.
  std::uint8_t h[kHeaderBytes];
  if (std::fread(h, 1, sizeof h, f) < sizeof h) return kAviShortHeader;
  if (!Is(h, "RIFF")) return kAviNotRiff;
  if (U32(h + 28) != 56) return kAviBadMainHeader;
  const std::uint32_t total = U32(h + 48);
  r.total_frames = total > INT_MAX ? INT_MAX : static_cast<int>(total);
  r.width = static_cast<std::int32_t>(U32(h + 64));
  r.height = static_cast<std::int32_t>(U32(h + 68));
  const std::uint32_t granularity = U32(h + 40);
  if (U32(h + 104) != 56) return kAviBadStreamHeader;
  r.fourcc = FourccText(h + 112);
  if (Is(h + 112, "YUYV") || Is(h + 112, "YUY2")) {
    r.format = FrameFormat::kYuyv;
  } else if (Is(h + 112, "UYVY")) {
    r.format = FrameFormat::kUyvy;
  } else if (Is(h + 112, "DIB ")) {
    r.format = FrameFormat::kDib;
  } else {
    return kAviUnknownFourcc;
  }
  if (U32(h + 172) != 40) return kAviBadBitmapHeader;
  if (U16(h + 184) != 1) return kAviBadPlanes;
  const int bits = U16(h + 186);
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return kAviBadDepth;
  // Packed 4:2:2 is 16 bits per pixel; any other depth would make the
  // conversion read past the frame.
  if (r.format != FrameFormat::kDib && bits != 16) return kAviBadDepth;
  const std::int64_t image_size = U32(h + 192);
  if (image_size != std::int64_t{bits / 8} * r.height * r.width) {
    return kAviBadImageSize;
  }
  r.bytes_per_pixel = bits / 8;
  if (FrameBytes(r.geometry()) == 0) return kAviBadFrameSize;

  r.frame_chunk_size = image_size + 8;
  r.granularity = granularity < kSmallestGranularity ? kDefaultGranularity
                                                     : std::int64_t{granularity};
  r.record_size = (r.frame_chunk_size + r.granularity - 1) / r.granularity *
                  r.granularity;
  if (r.record_size > static_cast<std::int64_t>(buffer.size())) {
    return kAviRecordTooLarge;
  }
  const std::uint32_t header_list_size = U32(h + 16);
  r.position = std::int64_t{header_list_size} + 20 + (header_list_size & 1);
  if (!Seek(f, r.position)) return kAviSeekFirst;
  reader = std::move(r);
  return kAviOk;
}

int NextAviFrame(AviReader& r, std::span<std::uint8_t> buffer) {
  std::FILE* f = r.file.get();
  if (f == nullptr) return kAviEnd;
  if (static_cast<std::int64_t>(buffer.size()) < r.record_size) {
    return kAviRecordTooLarge;
  }
  // Invariant: at the top of the loop the file is positioned at r.position.
  for (;;) {
    if (r.position > r.file_size - 8) return kAviEnd;
    std::uint8_t head[12] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    if (got < 8) return std::ferror(f) ? kAviReadFailed : kAviEnd;
    const std::uint32_t size = U32(head + 4);
    std::int64_t next = AfterChunk(r.position, size);
    int seek_error = kAviSeekChunk;

    if (Is(head, "RIFF")) {
      if (got == 12 && (Is(head + 8, "AVI ") || Is(head + 8, "AVIX"))) {
        next = r.position + 12;
      }
      seek_error = kAviSeekRiff;
    } else if (Is(head, "LIST")) {
      if (got == 12 && (Is(head + 8, "movi") || Is(head + 8, "rec "))) {
        next = r.position + 12;
      }
      seek_error = kAviSeekList;
    } else if (Is(head, "00db")) {
      ++r.frames_read;
      if (size < r.frame_chunk_size - 8) {
        // Not a whole picture (a dropped-frame marker or damage): skip it
        // and tell the caller, who counts the frame as failed.
        if (!Seek(f, next)) return kAviSeekChunk;
        r.position = next;
        return kAviShortFrameChunk;
      }
      if (r.position + r.frame_chunk_size > r.file_size) return kAviEnd;
      if (!Seek(f, r.position)) return kAviSeekChunk;
      const auto want = static_cast<std::size_t>(r.frame_chunk_size);
      if (std::fread(buffer.data(), 1, want, f) < want) {
        return std::ferror(f) ? kAviReadFailed : kAviEnd;
      }
      // Where the next chunk starts: right after this one when a chunk id
      // is there (frames back to back, or padding written as a JUNK
      // chunk), else at the end of the record (padding without a chunk).
      const std::int64_t record_end = r.position + r.record_size;
      if (next != record_end) {
        std::uint8_t id[4];
        const bool chunk_follows = next <= r.file_size - 8 && Seek(f, next) &&
                                   std::fread(id, 1, 4, f) == 4 &&
                                   IsChunkId(id);
        if (!chunk_follows) next = record_end;
      }
      if (!Seek(f, next)) return kAviSeekChunk;
      r.position = next;
      return kAviOk;
    }
    if (!Seek(f, next)) return seek_error;
    r.position = next;
  }
}

}  // namespace mr4
