// A minimal writer of uncompressed AVI files, for synthetic clips: test
// fixtures and the clip simulator.
//
// It writes one video stream in YUY2, UYVY or a DIB of 8, 16, 24 or 32
// bits, in one of two layouts: the capture program's, where each frame chunk
// and its padding fill one record of (image size + 8) rounded up to the
// padding granularity; or the one other programs write, frame chunks back to
// back after a JUNK chunk, with an "idx1" index at the end. Either can carry
// "LIST" chunks between frames and further "RIFF" "AVIX" parts, as long
// captures do. The fixed header is the one replay/avi_reader.h documents.
//
// One writer per file, used from one thread. Pixels are given in the
// stream's own layout: 4:2:2 rows top-down, DIB rows bottom-up, rows packed
// (width x bytes per pixel, no filler). Sizes in pixels and bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/file_replace.h"

namespace mr4 {

enum class AviPixelFormat { kYuy2, kUyvy, kDib8, kDib16, kDib24, kDib32 };

enum class AviLayout {
  kRecords,   // frames padded to records, as the capture program writes them
  kStandard,  // frames back to back, JUNK before the frames, idx1 at the end
};

struct AviWriterOptions {
  AviPixelFormat format = AviPixelFormat::kYuy2;
  int width = 0;   // even for 4:2:2; width x bytes per pixel a multiple of 4
  int height = 0;  // px, at least 1
  std::uint32_t microseconds_per_frame = 33367;  // 29.97 frames per second
  AviLayout layout = AviLayout::kRecords;
  // kRecords: written to the main header and used for the records (at least
  // 256). kStandard writes 0 there, as other programs do.
  std::uint32_t padding_granularity = 2048;
  // kRecords: fill each record's padding with a "JUNK" chunk (true) or with
  // zero bytes (false; also when the gap is too small for a chunk header).
  bool pad_with_junk = true;
  // When above 0: a "LIST" "xtra" chunk of a few bytes after every n frames.
  int list_every = 0;
  // When above 0: each "RIFF" part holds at most this many frames; the next
  // part is a "RIFF" "AVIX" with its own "LIST" "movi".
  int frames_per_riff = 0;
  // Write an "idx1" index of the first part's frames after it.
  bool write_index = true;
  // Overrides for fixtures of foreign files: the stream FourCC (default
  // "YUY2", "UYVY" or "DIB ") and the frame chunk id (default "00db").
  std::string stream_fourcc;
  std::string frame_chunk_id = "00db";
};

// Bytes per pixel of a format (2 for the 4:2:2 formats).
int AviBytesPerPixel(AviPixelFormat format);

class AviWriter {
 public:
  AviWriter() = default;
  ~AviWriter();  // a file not closed is abandoned: nothing is left at its path
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Starts `path` and writes the header. The file is written under a
  // temporary name and takes its path only when Close succeeds, so a failed
  // write (a full disk) never leaves a cut or empty clip there. False with
  // error() filled for invalid options or a file that cannot be created.
  bool Open(const std::filesystem::path& path, const AviWriterOptions& options);
  // Appends one frame of exactly ImageBytes() bytes.
  bool WriteFrame(std::span<const std::uint8_t> pixels);
  // Writes the index, fills in the sizes and the frame count, closes and
  // puts the file at its path.
  bool Close();

  std::int64_t ImageBytes() const { return image_bytes_; }
  int frames_written() const { return frames_; }
  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& what);
  bool Put(const void* data, std::size_t n);
  bool PutU32(std::uint32_t v);
  bool PutId(const char* id);
  bool PatchU32(std::int64_t offset, std::uint32_t v);
  bool BeginPart(bool first);
  bool EndPart();

  std::unique_ptr<FileReplacement> file_;
  AviWriterOptions options_;
  std::string error_;
  std::int64_t image_bytes_ = 0;
  std::int64_t record_bytes_ = 0;
  std::int64_t offset_ = 0;          // bytes written so far
  std::int64_t riff_size_at_ = 0;    // offset of the current part's RIFF size
  std::int64_t movi_size_at_ = 0;    // offset of the current part's movi size
  std::int64_t movi_start_ = 0;      // offset of the first part's "movi" id
  int frames_ = 0;
  int frames_in_part_ = 0;
  int parts_ = 0;
  struct IndexEntry {
    std::uint32_t offset;  // from the "movi" id
    std::uint32_t size;
  };
  std::vector<IndexEntry> index_;
};

}  // namespace mr4
