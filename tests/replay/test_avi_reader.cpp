#include "replay/avi_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/avi_writer.h"
#include "tests/replay/avi_fixtures.h"

namespace mr4 {
namespace {

using namespace testing_avi;

constexpr std::size_t kBuffer = 1 << 20;

AviWriterOptions Options(AviPixelFormat format, int width, int height) {
  AviWriterOptions o;
  o.format = format;
  o.width = width;
  o.height = height;
  return o;
}

struct ReadResult {
  int open = -1;
  std::vector<int> codes;   // every NextAviFrame result, the last not 0/55
  std::vector<int> frames;  // frame numbers of the frames read
  bool pixels_match = true;
};

// Reads until a code other than 0 and 55, at most `max_calls` calls.
ReadResult ReadAll(const std::filesystem::path& path, std::size_t buffer_bytes = kBuffer,
                   int max_calls = 100000) {
  ReadResult out;
  AviReader reader;
  Bytes buffer(buffer_bytes);
  out.open = OpenAviFrames(path, reader, buffer);
  if (out.open != kAviOk) return out;
  for (int call = 0; call < max_calls; ++call) {
    const int code = NextAviFrame(reader, buffer);
    out.codes.push_back(code);
    if (code == kAviShortFrameChunk) continue;
    if (code != kAviOk) break;
    const auto pixels = AviFramePixels(reader, buffer);
    int k = 0;
    std::memcpy(&k, pixels.data(), pixels.size() < 4 ? pixels.size() : 4);
    out.frames.push_back(k);
    const Bytes want = NumberedFrame(static_cast<std::int64_t>(pixels.size()), k);
    if (!std::equal(pixels.begin(), pixels.end(), want.begin())) out.pixels_match = false;
  }
  return out;
}

std::vector<int> Range(int n) {
  std::vector<int> v;
  for (int k = 0; k < n; ++k) v.push_back(k);
  return v;
}

// ---------------------------------------------------------------------------
// The format table: probe and open.

TEST(AviFormats, EachPixelFormatProbesAndOpensWithItsCode) {
  struct Case {
    AviPixelFormat format;
    int probe;
    const char* fourcc;
    FrameFormat frame_format;
    int bytes_per_pixel;
  };
  const Case cases[] = {
      {AviPixelFormat::kYuy2, 1, "YUY2", FrameFormat::kYuyv, 2},
      {AviPixelFormat::kUyvy, 2, "UYVY", FrameFormat::kUyvy, 2},
      {AviPixelFormat::kDib8, 4, "DIB ", FrameFormat::kDib, 1},
      {AviPixelFormat::kDib16, 4, "DIB ", FrameFormat::kDib, 2},
      {AviPixelFormat::kDib24, 4, "DIB ", FrameFormat::kDib, 3},
      {AviPixelFormat::kDib32, 4, "DIB ", FrameFormat::kDib, 4},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fourcc + std::to_string(c.bytes_per_pixel));
    const auto path = dir / "clip.avi";
    WriteNumberedAvi(path, Options(c.format, 20, 12), 3);
    const AviProbe probe = ProbeAviFormat(path);
    EXPECT_EQ(probe.code, c.probe);
    EXPECT_EQ(probe.fourcc, c.fourcc);

    AviReader reader;
    Bytes buffer(kBuffer);
    ASSERT_EQ(OpenAviFrames(path, reader, buffer), kAviOk);
    EXPECT_EQ(reader.format, c.frame_format);
    EXPECT_EQ(reader.bytes_per_pixel, c.bytes_per_pixel);
    EXPECT_EQ(reader.width, 20);
    EXPECT_EQ(reader.height, 12);
    EXPECT_EQ(reader.total_frames, 3);
    EXPECT_EQ(reader.fourcc, c.fourcc);
    const std::int64_t chunk = 20 * 12 * c.bytes_per_pixel + 8;
    EXPECT_EQ(reader.frame_chunk_size, chunk);
    EXPECT_EQ(reader.record_size, (chunk + 2047) / 2048 * 2048);
  }
}

TEST(AviProbe, HeaderVariantsGiveTheirCodeAndText) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    int code;
    std::string text;
  };
  const Case cases[] = {
      {"unchanged", [](Bytes&) {}, 1, "YUY2"},
      {"YUYV", [](Bytes& b) { PutId(b, 112, "YUYV"); }, 1, "YUYV"},
      {"lower-case yuy2 goes to the replay graph", [](Bytes& b) { PutId(b, 112, "yuy2"); }, -1, "yuy2"},
      {"compressed MJPG", [](Bytes& b) { PutId(b, 112, "MJPG"); }, -1, "MJPG"},
      {"NUL ends the text, control bytes show as dots",
       [](Bytes& b) { PutId(b, 112, "D\x01\0B"); }, -1, "D."},
      {"padding granularity 0", [](Bytes& b) { Put32(b, 40, 0); }, -14, "YUY2?"},
      {"padding granularity 255", [](Bytes& b) { Put32(b, 40, 255); }, -14, "YUY2?"},
      {"padding granularity 256", [](Bytes& b) { Put32(b, 40, 256); }, 1, "YUY2"},
      {"shorter than 1024 bytes", [](Bytes& b) { b.resize(1023); }, -11, "?"},
      {"not RIFF", [](Bytes& b) { PutId(b, 0, "RIFX"); }, -12, "?"},
      {"main header size 57", [](Bytes& b) { Put32(b, 28, 57); }, -13, "?"},
      {"stream header size 64", [](Bytes& b) { Put32(b, 104, 64); }, -30, "?"},
  };
  TempDir dir;
  const auto good = dir / "good.avi";
  WriteNumberedAvi(good, Options(AviPixelFormat::kYuy2, 16, 8), 2);
  const Bytes original = ReadFileData(good);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = original;
    c.change(b);
    const auto path = dir / "probe.avi";
    WriteFileData(path, b);
    const AviProbe probe = ProbeAviFormat(path);
    EXPECT_EQ(probe.code, c.code);
    EXPECT_EQ(probe.fourcc, c.text);
  }
  const AviProbe missing = ProbeAviFormat(dir / "missing.avi");
  EXPECT_EQ(missing.code, -1);
  EXPECT_EQ(missing.fourcc, "");
}

TEST(AviOpen, EveryHeaderErrorHasItsCode) {
  // A YUY2 16 x 8 file; a changed width or height also sets a matching
  // image size, so that the frame size check itself is reached.
  auto size = [](std::int32_t w, std::int32_t h, int bytes) {
    return [=](Bytes& b) {
      Put32(b, 64, static_cast<std::uint32_t>(w));
      Put32(b, 68, static_cast<std::uint32_t>(h));
      Put32(b, 192, static_cast<std::uint32_t>(std::int64_t{w} * h * bytes));
    };
  };
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    int code;
  };
  const Case cases[] = {
      {"unchanged", [](Bytes&) {}, kAviOk},
      {"shorter than the header", [](Bytes& b) { b.resize(1000); }, kAviShortHeader},
      {"not RIFF", [](Bytes& b) { PutId(b, 0, "JUNK"); }, kAviNotRiff},
      {"main header size", [](Bytes& b) { Put32(b, 28, 0); }, kAviBadMainHeader},
      {"stream header size", [](Bytes& b) { Put32(b, 104, 48); }, kAviBadStreamHeader},
      {"unknown FourCC", [](Bytes& b) { PutId(b, 112, "MJPG"); }, kAviUnknownFourcc},
      {"lower-case FourCC", [](Bytes& b) { PutId(b, 112, "uyvy"); }, kAviUnknownFourcc},
      {"bitmap header size", [](Bytes& b) { Put32(b, 172, 108); }, kAviBadBitmapHeader},
      {"planes", [](Bytes& b) { Put16(b, 184, 2); }, kAviBadPlanes},
      {"12 bits per pixel", [](Bytes& b) { Put16(b, 186, 12); }, kAviBadDepth},
      {"YUY2 at 8 bits per pixel",
       [](Bytes& b) { Put16(b, 186, 8); Put32(b, 192, 16 * 8); }, kAviBadDepth},
      {"image size one byte more", [](Bytes& b) { Put32(b, 192, 16 * 8 * 2 + 1); }, kAviBadImageSize},
      {"negative height", [](Bytes& b) { Put32(b, 68, static_cast<std::uint32_t>(-8)); }, kAviBadImageSize},
      {"width 8194", size(8194, 8, 2), kAviBadFrameSize},
      {"height 4321", size(16, 4321, 2), kAviBadFrameSize},
      {"width and height 0", size(0, 0, 2), kAviBadFrameSize},
      {"odd width for 4:2:2", size(15, 8, 2), kAviBadFrameSize},
      {"largest frame fits the check", size(8192, 4320, 2), kAviRecordTooLarge},
      {"granularity 2^31: record beyond the buffer",
       [](Bytes& b) { Put32(b, 40, 0x80000000u); }, kAviRecordTooLarge},
  };
  TempDir dir;
  const auto good = dir / "good.avi";
  WriteNumberedAvi(good, Options(AviPixelFormat::kYuy2, 16, 8), 2);
  const Bytes original = ReadFileData(good);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = original;
    c.change(b);
    const auto path = dir / "open.avi";
    WriteFileData(path, b);
    AviReader reader;
    Bytes buffer(kBuffer);
    EXPECT_EQ(OpenAviFrames(path, reader, buffer), c.code);
    EXPECT_EQ(reader.file != nullptr, c.code == kAviOk);
  }
  AviReader reader;
  Bytes buffer(kBuffer);
  EXPECT_EQ(OpenAviFrames(dir / "missing.avi", reader, buffer), kAviCannotOpen);
}

TEST(AviOpen, RecordLargerThanTheBufferIsRefused) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  WriteNumberedAvi(path, Options(AviPixelFormat::kYuy2, 16, 8), 2);  // record 2048
  AviReader reader;
  Bytes small(2047);
  EXPECT_EQ(OpenAviFrames(path, reader, small), kAviRecordTooLarge);
  Bytes exact(2048);
  ASSERT_EQ(OpenAviFrames(path, reader, exact), kAviOk);
  EXPECT_EQ(NextAviFrame(reader, small), kAviRecordTooLarge);
  EXPECT_EQ(NextAviFrame(reader, exact), kAviOk);
}

// ---------------------------------------------------------------------------
// Both layouts give every frame once.

TEST(AviFrames, EveryLayoutGivesEveryFrameOnceInOrder) {
  struct Case {
    const char* name;
    AviPixelFormat format;
    int width, height;
    AviLayout layout;
    std::uint32_t granularity;
    bool junk;
    int list_every, frames_per_riff;
  };
  const Case cases[] = {
      {"records, JUNK padding", AviPixelFormat::kYuy2, 32, 10, AviLayout::kRecords, 2048, true, 0, 0},
      {"records, zero padding", AviPixelFormat::kUyvy, 32, 10, AviLayout::kRecords, 512, false, 0, 0},
      {"records filled exactly by the frame chunk", AviPixelFormat::kDib8, 8, 31, AviLayout::kRecords, 256, true, 0, 0},
      {"records, gap too small for a JUNK header", AviPixelFormat::kDib8, 4, 61, AviLayout::kRecords, 256, true, 0, 0},
      {"records with LIST chunks and AVIX parts", AviPixelFormat::kDib24, 12, 9, AviLayout::kRecords, 1024, true, 2, 3},
      {"zero-padded records with LIST and AVIX", AviPixelFormat::kDib32, 12, 9, AviLayout::kRecords, 4096, false, 3, 4},
      {"back to back, granularity 0, idx1", AviPixelFormat::kYuy2, 32, 10, AviLayout::kStandard, 0, true, 0, 0},
      {"back to back with LIST and AVIX", AviPixelFormat::kDib16, 10, 7, AviLayout::kStandard, 0, true, 2, 3},
      {"back to back, frames larger than 512", AviPixelFormat::kDib24, 100, 10, AviLayout::kStandard, 0, true, 0, 0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AviWriterOptions o = Options(c.format, c.width, c.height);
    o.layout = c.layout;
    o.padding_granularity = c.granularity;
    o.pad_with_junk = c.junk;
    o.list_every = c.list_every;
    o.frames_per_riff = c.frames_per_riff;
    const auto path = dir / "clip.avi";
    WriteNumberedAvi(path, o, 7);
    const ReadResult r = ReadAll(path);
    ASSERT_EQ(r.open, kAviOk);
    EXPECT_EQ(r.frames, Range(7));
    EXPECT_TRUE(r.pixels_match);
    EXPECT_EQ(r.codes.back(), kAviEnd);
    // The end stays the end.
    AviReader reader;
    Bytes buffer(kBuffer);
    ASSERT_EQ(OpenAviFrames(path, reader, buffer), kAviOk);
    for (int k = 0; k < 7; ++k) ASSERT_EQ(NextAviFrame(reader, buffer), kAviOk);
    EXPECT_EQ(NextAviFrame(reader, buffer), kAviEnd);
    EXPECT_EQ(NextAviFrame(reader, buffer), kAviEnd);
    EXPECT_EQ(reader.frames_read, 7);
  }
}

TEST(AviFrames, CompressedFrameChunksAreSkippedToTheEnd) {
  TempDir dir;
  const auto path = dir / "clip.avi";
  AviWriterOptions o = Options(AviPixelFormat::kYuy2, 16, 8);
  o.frame_chunk_id = "00dc";
  WriteNumberedAvi(path, o, 4);
  const ReadResult r = ReadAll(path);
  ASSERT_EQ(r.open, kAviOk);
  EXPECT_TRUE(r.frames.empty());
  EXPECT_EQ(r.codes, std::vector<int>{kAviEnd});
}

// Hand-built chunk sequences after the header of a file without frames.
TEST(AviFrames, ChunkWalkOverHandBuiltSequences) {
  TempDir dir;
  const auto empty = dir / "empty.avi";
  AviWriterOptions o = Options(AviPixelFormat::kDib8, 4, 2);  // 8-byte frames
  o.layout = AviLayout::kStandard;
  o.write_index = false;
  WriteNumberedAvi(empty, o, 0);
  const Bytes header = ReadFileData(empty);  // ends with "LIST" 4 "movi"

  auto frame = [](int k) { return NumberedFrame(8, k); };
  auto list = [](const char* type, const Bytes& content) {
    Bytes b(type, type + 4);
    b.insert(b.end(), content.begin(), content.end());
    return b;
  };
  auto chunk = [](const char* id, const Bytes& data) {
    Bytes b;
    AppendChunk(b, id, data);
    return b;
  };
  auto raw = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
  };
  struct Case {
    const char* name;
    Bytes tail;
    std::vector<int> frames;
    std::vector<int> codes;
  };
  Bytes huge_junk(8);
  PutId(huge_junk, 0, "JUNK");
  Put32(huge_junk, 4, 0xFFFFFFFF);
  const Case cases[] = {
      {"frames back to back", raw({chunk("00db", frame(0)), chunk("00db", frame(1))}), {0, 1}, {0, 0, 99}},
      {"JUNK and index chunks are skipped",
       raw({chunk("JUNK", Bytes(30)), chunk("00db", frame(0)), chunk("01wb", Bytes(5)),
            chunk("00db", frame(1)), chunk("idx1", Bytes(32))}),
       {0, 1}, {0, 0, 99}},
      {"an empty frame chunk is a skipped frame",
       raw({chunk("00db", {}), chunk("00db", frame(1))}), {1}, {55, 0, 99}},
      {"a frame chunk larger than the image gives its first bytes",
       raw({chunk("00db", raw({frame(0), Bytes(6)})), chunk("00db", frame(1))}), {0, 1}, {0, 0, 99}},
      {"a LIST rec is entered, other lists are skipped",
       raw({chunk("LIST", list("rec ", chunk("00db", frame(0)))),
            chunk("LIST", list("INFO", chunk("00db", frame(9)))), chunk("00db", frame(1))}),
       {0, 1}, {0, 0, 99}},
      {"a RIFF AVIX is entered, another form is skipped",
       raw({chunk("RIFF", list("WAVE", chunk("00db", frame(9)))),
            chunk("RIFF", list("AVIX", chunk("LIST", list("movi", chunk("00db", frame(0))))))}),
       {0}, {0, 99}},
      {"a JUNK chunk of 4 GiB ends the frames", raw({huge_junk, chunk("00db", frame(0))}), {}, {99}},
      {"the last frame cut short",
       raw({chunk("00db", frame(0)), Bytes{'0', '0', 'd', 'b', 8, 0, 0, 0, 1, 0, 0, 0}}), {0}, {0, 99}},
      {"a chunk header cut short", raw({chunk("00db", frame(0)), Bytes{'0', '0', 'd'}}), {0}, {0, 99}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / "walk.avi";
    WriteFileData(path, raw({header, c.tail}));
    const ReadResult r = ReadAll(path);
    ASSERT_EQ(r.open, kAviOk);
    EXPECT_EQ(r.frames, c.frames);
    EXPECT_EQ(r.codes, c.codes);
    EXPECT_TRUE(r.pixels_match);
  }
}

TEST(AviFrames, HeaderListSizeDecidesWhereTheWalkStarts) {
  TempDir dir;
  const auto good = dir / "good.avi";
  WriteNumberedAvi(good, Options(AviPixelFormat::kYuy2, 16, 8), 3);
  const Bytes original = ReadFileData(good);
  const std::uint32_t written = static_cast<std::uint32_t>(
      original[16] | original[17] << 8 | original[18] << 16 | original[19] << 24);
  struct Case {
    const char* name;
    std::uint32_t header_list_size;
    std::size_t frames;
  };
  const Case cases[] = {
      {"as written", written, 3},
      {"odd: padded to even, the same place", written - 1, 3},
      {"beyond the file", 0xFFFFFFF0u, 0},
      {"largest", 0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = original;
    Put32(b, 16, c.header_list_size);
    const auto path = dir / "walk.avi";
    WriteFileData(path, b);
    const ReadResult r = ReadAll(path);
    ASSERT_EQ(r.open, kAviOk);
    EXPECT_EQ(r.frames.size(), c.frames);
    EXPECT_EQ(r.codes.back(), kAviEnd);
  }
}

// ---------------------------------------------------------------------------
// Damaged files end with a code, and never read or loop past the file.

TEST(AviFrames, TruncatedFilesGiveTheWholeFramesBeforeTheCut) {
  struct Case {
    const char* name;
    AviLayout layout;
    bool junk;
  };
  const Case cases[] = {
      {"records", AviLayout::kRecords, true},
      {"zero-padded records", AviLayout::kRecords, false},
      {"back to back", AviLayout::kStandard, true},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AviWriterOptions o = Options(AviPixelFormat::kYuy2, 24, 6);
    o.layout = c.layout;
    o.pad_with_junk = c.junk;
    o.padding_granularity = 512;
    o.list_every = 2;
    o.frames_per_riff = 3;
    const auto good = dir / "good.avi";
    WriteNumberedAvi(good, o, 8);
    const Bytes original = ReadFileData(good);
    for (std::size_t cut = 1024; cut < original.size(); cut += 37) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      const auto path = dir / "cut.avi";
      WriteFileData(path, Bytes(original.begin(), original.begin() + static_cast<long>(cut)));
      const ReadResult r = ReadAll(path);
      ASSERT_EQ(r.open, kAviOk);
      EXPECT_EQ(r.codes.back(), kAviEnd);
      EXPECT_EQ(r.frames, Range(static_cast<int>(r.frames.size())));
      EXPECT_TRUE(r.pixels_match);
    }
  }
}

TEST(AviFrames, RandomlyDamagedFilesEndWithACode) {
  TempDir dir;
  AviWriterOptions o = Options(AviPixelFormat::kYuy2, 24, 6);
  o.padding_granularity = 512;
  o.list_every = 2;
  o.frames_per_riff = 3;
  const auto good = dir / "good.avi";
  WriteNumberedAvi(good, o, 8);
  const Bytes original = ReadFileData(good);
  const std::set<int> known = {kAviOk, kAviShortFrameChunk, kAviEnd};
  std::mt19937 random(20261210);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes b = original;
    // Damage 1 to 4 aligned words after the fixed header: sizes and ids.
    const int words = 1 + static_cast<int>(random() % 4);
    for (int w = 0; w < words; ++w) {
      const std::size_t at = 1024 + random() % ((b.size() - 1028) / 2) * 2;
      const std::uint32_t values[] = {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, 1u, 7u,
                                      static_cast<std::uint32_t>(random())};
      Put32(b, at, values[random() % 6]);
    }
    const auto path = dir / "damaged.avi";
    WriteFileData(path, b);
    // Every step moves at least 8 bytes on, so the walk ends within
    // size / 8 calls.
    const int bound = static_cast<int>(b.size() / 8) + 2;
    const ReadResult r = ReadAll(path, kBuffer, bound);
    ASSERT_EQ(r.open, kAviOk);
    ASSERT_FALSE(r.codes.empty());
    EXPECT_EQ(r.codes.back(), kAviEnd) << "trial " << trial;
    for (int code : r.codes) EXPECT_TRUE(known.count(code)) << code;
  }
}

// ---------------------------------------------------------------------------
// Other programs read the writer's files.

TEST(AviWriter, FfprobeReadsTheFramesAndTheSize) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "ffprobe is not installed";
  }
  struct Case {
    const char* name;
    AviPixelFormat format;
    AviLayout layout;
  };
  const Case cases[] = {
      {"YUY2 in records", AviPixelFormat::kYuy2, AviLayout::kRecords},
      {"UYVY back to back", AviPixelFormat::kUyvy, AviLayout::kStandard},
      {"DIB 8 bits in records", AviPixelFormat::kDib8, AviLayout::kRecords},
      {"DIB 24 bits back to back", AviPixelFormat::kDib24, AviLayout::kStandard},
      {"DIB 32 bits in records", AviPixelFormat::kDib32, AviLayout::kRecords},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AviWriterOptions o = Options(c.format, 64, 48);
    o.layout = c.layout;
    const auto path = dir / "clip.avi";
    WriteNumberedAvi(path, o, 5);
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=width,height,nb_read_frames -of csv=p=0 '" + path.string() + "' 2>&1";
    std::FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[256] = {};
    std::string out;
    while (std::fgets(line, sizeof line, p) != nullptr) out += line;
    ::pclose(p);
    EXPECT_EQ(out, "64,48,5\n");
  }
}

TEST(AviWriter, RefusesOptionsItCannotWrite) {
  struct Case {
    const char* name;
    AviWriterOptions options;
  };
  auto with = [](std::function<void(AviWriterOptions&)> f) {
    AviWriterOptions o = Options(AviPixelFormat::kYuy2, 16, 8);
    f(o);
    return o;
  };
  const Case cases[] = {
      {"zero width", with([](AviWriterOptions& o) { o.width = 0; })},
      {"odd width for YUY2", with([](AviWriterOptions& o) { o.width = 15; })},
      {"DIB 24 rows not a multiple of 4 bytes",
       with([](AviWriterOptions& o) { o.format = AviPixelFormat::kDib24; o.width = 5; })},
      {"records with granularity 0", with([](AviWriterOptions& o) { o.padding_granularity = 0; })},
      {"three-letter chunk id", with([](AviWriterOptions& o) { o.frame_chunk_id = "00d"; })},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AviWriter writer;
    EXPECT_FALSE(writer.Open(dir / "x.avi", c.options));
    EXPECT_FALSE(writer.error().empty());
  }
  AviWriter writer;
  ASSERT_TRUE(writer.Open(dir / "x.avi", Options(AviPixelFormat::kYuy2, 16, 8)));
  EXPECT_FALSE(writer.WriteFrame(Bytes(255)));
  EXPECT_TRUE(writer.WriteFrame(Bytes(256)));
  EXPECT_TRUE(writer.Close());
}

}  // namespace
}  // namespace mr4
