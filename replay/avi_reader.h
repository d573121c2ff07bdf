// The program's own reader of uncompressed AVI files: the probe that decides
// whether a clip's video is read directly (and stores its format in
// `codecno` and `codec`), and the frame-by-frame reader of the direct road.
//
// An AviReader belongs to one analysis of one clip on one thread; it owns
// its open file and closes it when reset or destroyed. The frame buffer is
// the caller's: it must hold at least the reader's record size, and each
// NextAviFrame overwrites its start with the next frame chunk (8 bytes of
// chunk header, then the pixels). Positions and sizes are bytes, 64-bit.
//
// The reader walks only inside the file: every step moves forward by at
// least 8 bytes and a position past the end ends the frames, so no file
// content can make it read outside the buffer or loop forever.
//
// File layout read (all values little-endian; offsets from the file start
// for the fixed header, which the capture program and other writers share):
//
// | offset | size | meaning                                                |
// |-------:|-----:|--------------------------------------------------------|
// |      0 |    4 | "RIFF"                                                 |
// |      4 |    4 | RIFF size (not used)                                   |
// |      8 |    4 | "AVI "                                                 |
// |     12 |    4 | "LIST"                                                 |
// |     16 |    4 | header list size; frames start at size + 20 (even)     |
// |     20 |    4 | "hdrl"                                                 |
// |     24 |    4 | "avih"                                                 |
// |     28 |    4 | main header size, must be 56                           |
// |     40 |    4 | padding granularity (below 256: 512 is used)           |
// |     48 |    4 | total frames                                           |
// |     64 |    4 | width, px (signed)                                     |
// |     68 |    4 | height, px (signed)                                    |
// |    104 |    4 | first stream header size, must be 56                   |
// |    112 |    4 | stream FourCC: "YUYV" "YUY2" "UYVY" "DIB "             |
// |    172 |    4 | bitmap header size, must be 40                         |
// |    184 |    2 | planes, must be 1                                      |
// |    186 |    2 | bits per pixel: 8, 16, 24, 32                          |
// |    192 |    4 | image size = bits / 8 x width x height                 |
//
// After the header list comes a sequence of chunks, each an id (4 bytes), a
// size (4 bytes) and size bytes of data padded to an even length:
//   "RIFF" size "AVI " | "AVIX"   entered (the next chunk is 12 bytes on)
//   "LIST" size "movi" | "rec "   entered
//   "00db" size pixels            a frame: image size bytes of pixels
//   any other id ("JUNK", "idx1", "ix00", other lists)   skipped whole
// The capture program writes each frame chunk with its padding as one
// record of (image size + 8) rounded up to the granularity; other programs
// write frame chunks back to back. After a frame the reader continues at
// the end of the frame chunk when a chunk id starts there, and otherwise at
// the end of the record, so that both layouts give every frame once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "replay/frame_formats.h"

namespace mr4 {

// Probe results (the `codecno` column). Codes below -1 are header errors.
enum AviProbeCode : int {
  kProbeYuyv = 1,
  kProbeUyvy = 2,
  kProbeDib = 4,
  kProbeNotDirect = -1,        // other FourCC, or the file cannot be opened
  kProbeShortHeader = -11,     // fewer than 1024 bytes
  kProbeNotRiff = -12,
  kProbeBadMainHeader = -13,   // main header size not 56
  kProbeSmallGranularity = -14,
  kProbeBadStreamHeader = -30, // stream header size not 56
};

struct AviProbe {
  int code = kProbeNotDirect;
  // The stream FourCC (the `codec` column), followed by "?" for a code
  // below -1; "?" alone when the header failed before the FourCC was read.
  std::string fourcc;
};

// Reads the first 1024 bytes of `path`. Never reports; the code says it all.
AviProbe ProbeAviFormat(const std::filesystem::path& path);

// Results of OpenAviFrames and NextAviFrame.
enum AviStatus : int {
  kAviOk = 0,
  kAviCannotOpen = 1,
  kAviShortHeader = 11,       // fewer than 1024 bytes
  kAviNotRiff = 12,
  kAviBadMainHeader = 13,     // main header size not 56
  kAviBadStreamHeader = 30,   // stream header size not 56
  kAviUnknownFourcc = 31,
  kAviBadBitmapHeader = 41,   // bitmap header size not 40
  kAviBadPlanes = 42,
  kAviBadDepth = 43,          // bits per pixel not 8, 16, 24, 32
  kAviBadImageSize = 44,      // image size not bits / 8 x width x height
  kAviSeekFirst = 45,
  kAviBadFrameSize = 46,      // width or height below 1 or above the largest
                              // frame, or an odd width for 4:2:2
  kAviRecordTooLarge = 47,    // a record larger than the frame buffer
  kAviSeekRiff = 51,
  kAviSeekList = 52,
  kAviSeekChunk = 54,
  kAviShortFrameChunk = 55,   // a "00db" chunk smaller than the image: the
                              // frame is skipped, the next call goes on
  kAviReadFailed = 56,        // the file could not be read (not its end)
  kAviEnd = 99,               // no more frames
};

// What a result of OpenAviFrames or NextAviFrame says of the file, as a
// message shows it ("not a RIFF file", ...).
std::string AviStatusText(int status);

struct AviReader {
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file;
  std::int64_t file_size = 0;
  std::int64_t position = 0;          // next chunk to look at
  std::int64_t frame_chunk_size = 0;  // image size + 8
  std::int64_t record_size = 0;       // frame chunk size rounded up to g
  std::int64_t granularity = 0;       // g
  int total_frames = 0;
  int width = 0;
  int height = 0;
  std::string fourcc;
  FrameFormat format = FrameFormat::kYuyv;
  int bytes_per_pixel = 0;
  int frames_read = 0;  // frame chunks met, including short ones

  FrameGeometry geometry() const {
    return {format, width, height, bytes_per_pixel};
  }
};

// Opens `path` for frame reading. `buffer` is the frame buffer the frames
// will be read into; its size limits the record size. On failure the reader
// is left closed.
int OpenAviFrames(const std::filesystem::path& path, AviReader& reader,
                  std::span<const std::uint8_t> buffer);

// Reads the next frame chunk into the start of `buffer`: kAviOk, an error
// code, or kAviEnd.
int NextAviFrame(AviReader& reader, std::span<std::uint8_t> buffer);

// The pixels of the frame NextAviFrame last put into `buffer`.
inline std::span<const std::uint8_t> AviFramePixels(
    const AviReader& reader, std::span<const std::uint8_t> buffer) {
  return buffer.subspan(8, static_cast<std::size_t>(reader.frame_chunk_size - 8));
}

// Closes the file; the reader can be opened again.
void CloseAviFrames(AviReader& reader);

}  // namespace mr4
