#include "calib/still_image.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

#include "platform/scripted_ui.h"

namespace mr4 {
namespace {

using Bytes = std::vector<std::uint8_t>;

using mr4::test::ReadFileData;
using mr4::test::TempDir;
using mr4::test::WriteFileData;

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A bitmap file built by hand: headers, `gap` bytes (palette or a larger
// information header), then `data`.
struct Bmp {
  std::int32_t width = 2;
  std::int32_t height = 2;
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t info_size = 40;
  std::uint32_t gap = 0;
  std::int64_t offset = -1;  // -1: 54 + gap
  Bytes data;

  Bytes File() const {
    Bytes b(54 + gap, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size() + data.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset < 0 ? 54 + gap : offset));
    Put32(b, 14, info_size);
    Put32(b, 18, static_cast<std::uint32_t>(width));
    Put32(b, 22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = static_cast<std::uint8_t>(bits);
    Put32(b, 30, compression);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
};

Bytes Numbered(int n, int start = 1) {
  Bytes b(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(start + i);
  return b;
}

TEST(ReadStillBmp, ReadsEachDepthAsBottomUpBgr) {
  auto bmp = [](std::int32_t w, std::int32_t h, int bits, Bytes data, std::uint32_t gap = 0,
                std::uint32_t info = 40) {
    Bmp b;
    b.width = w;
    b.height = h;
    b.bits = bits;
    b.data = std::move(data);
    b.gap = gap;
    b.info_size = info;
    return b;
  };
  struct Case {
    const char* name;
    Bmp bmp;
    Bytes pixels;
  };
  const Case cases[] = {
      {"24 bits, rows as stored", bmp(2, 2, 24, Numbered(12)), Numbered(12)},
      {"8 bits become grey, palette skipped", bmp(4, 1, 8, {0, 50, 128, 255}, 1024),
       {0, 0, 0, 50, 50, 50, 128, 128, 128, 255, 255, 255}},
      {"32 bits lose the fourth byte", bmp(2, 1, 32, Numbered(8)), {1, 2, 3, 5, 6, 7}},
      {"a larger information header is skipped", bmp(1, 2, 24, Numbered(6), 84, 124), Numbered(6)},
      {"width 5 packed, as the capture program writes",
       bmp(5, 2, 24, Numbered(30)), Numbered(30)},
      {"width 5 with rows padded to 4 bytes, as other programs write",
       bmp(5, 2, 24, [] {
         Bytes d = Numbered(15);
         d.push_back(0);
         Bytes second = Numbered(15, 16);
         d.insert(d.end(), second.begin(), second.end());
         d.push_back(0);
         return d;
       }()),
       Numbered(30)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / "P.BMP";
    WriteFileData(path, c.bmp.File());
    Bytes pixels(64, 0xEE);
    ImageBuffer image{pixels, 0, 0};
    ASSERT_EQ(ReadStillBmp(path, image), ImageStatus::kOk);
    EXPECT_EQ(image.width, c.bmp.width);
    EXPECT_EQ(image.height, c.bmp.height);
    EXPECT_EQ(Bytes(pixels.begin(), pixels.begin() + static_cast<long>(c.pixels.size())), c.pixels);
  }
}

TEST(ReadStillBmp, RefusesBadFilesWithTheirStatus) {
  auto with = [](auto change) {
    Bmp b;
    b.data = Numbered(12);
    change(b);
    return b.File();
  };
  Bytes bytes_16 = with([](Bmp&) {});
  Bytes header_cut = bytes_16;
  header_cut.resize(30);
  struct Case {
    const char* name;
    Bytes file;
    std::size_t buffer;
    ImageStatus status;
    bool broken_message;
  };
  const Case cases[] = {
      {"zero height", with([](Bmp& b) { b.height = 0; }), 64, ImageStatus::kBadSize, false},
      {"negative height (top-down)", with([](Bmp& b) { b.height = -2; }), 64, ImageStatus::kBadSize, false},
      {"zero width", with([](Bmp& b) { b.width = 0; }), 64, ImageStatus::kBadSize, false},
      {"RLE8", with([](Bmp& b) { b.bits = 8; b.compression = 1; }), 64, ImageStatus::kCompressed, false},
      {"bit fields", with([](Bmp& b) { b.bits = 32; b.compression = 3; }), 64, ImageStatus::kCompressed, false},
      {"16 bits", with([](Bmp& b) { b.bits = 16; }), 64, ImageStatus::kBadDepth, false},
      {"1 bit", with([](Bmp& b) { b.bits = 1; }), 64, ImageStatus::kBadDepth, false},
      {"8193 wide", with([](Bmp& b) { b.width = 8193; b.height = 1; }), 1 << 20, ImageStatus::kTooLarge, false},
      {"4321 high", with([](Bmp& b) { b.width = 1; b.height = 4321; }), 1 << 20, ImageStatus::kTooLarge, false},
      {"larger than the buffer", with([](Bmp&) {}), 11, ImageStatus::kTooLarge, false},
      {"pixel data inside the headers", with([](Bmp& b) { b.offset = 40; }), 64, ImageStatus::kBadOffset, false},
      {"core header of 12 bytes", with([](Bmp& b) { b.info_size = 12; }), 64, ImageStatus::kNotThisFormat, false},
      {"not BM", Bytes{'P', 'K', 3, 4}, 64, ImageStatus::kNotThisFormat, false},
      {"empty", Bytes{}, 64, ImageStatus::kNotThisFormat, false},
      {"header cut short", header_cut, 64, ImageStatus::kTruncated, true},
      {"last row missing", with([](Bmp& b) { b.data.resize(6); }), 64, ImageStatus::kTruncated, true},
      {"pixel data beyond the end", with([](Bmp& b) { b.offset = 4000; }), 64, ImageStatus::kTruncated, true},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedUi ui;
    ScopedUi scoped(ui);
    const auto path = dir / "N.BMP";
    WriteFileData(path, c.file);
    Bytes pixels(c.buffer);
    ImageBuffer image{pixels, 3, 4};
    EXPECT_EQ(ReadStillBmp(path, image), c.status) << ImageStatusText(c.status);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 4);
    const auto shown = ui.messages();
    if (c.broken_message) {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, "BMP broken " + path.string());
    } else {
      EXPECT_TRUE(shown.empty());
    }
  }
  Bytes pixels(64);
  ImageBuffer image{pixels, 0, 0};
  EXPECT_EQ(ReadStillBmp(dir / "missing.bmp", image), ImageStatus::kCannotOpen);
}

TEST(ReadStill, PicksTheReaderByExtensionAndClearsOnFailure) {
  TempDir dir;
  ScriptedUi ui;
  ScopedUi scoped(ui);
  const Bytes picture = Numbered(4 * 2 * 3);
  ASSERT_EQ(WriteStillBmp(dir / "M20261210_010203_sP.bmp", picture, 4, 2), ImageStatus::kOk);
  ASSERT_EQ(SaveStillImage(dir / "M20261210_010203_sT.JPG", picture, 4, 2), ImageStatus::kOk);
  Bmp rle;
  rle.bits = 8;
  rle.compression = 1;
  rle.data = Numbered(4);
  WriteFileData(dir / "rle.BMP", rle.File());
  WriteFileData(dir / "picture.gif", Bytes{'G', 'I', 'F'});
  struct Case {
    const char* name;
    ImageStatus status;
  };
  const Case cases[] = {
      {"M20261210_010203_sP.bmp", ImageStatus::kOk},
      {"M20261210_010203_sT.JPG", ImageStatus::kOk},
      {"rle.BMP", ImageStatus::kCompressed},
      {"picture.gif", ImageStatus::kUnknownFormat},
      {"missing.jpeg", ImageStatus::kCannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes pixels(64, 0xAB);  // the previous clip's picture
    ImageBuffer image{pixels, 9, 9};
    EXPECT_EQ(ReadStill(dir / c.name, image), c.status);
    if (c.status == ImageStatus::kOk) {
      EXPECT_EQ(image.width, 4);
      EXPECT_EQ(image.height, 2);
    } else {
      EXPECT_EQ(image.width, 0);
      EXPECT_EQ(image.height, 0);
      EXPECT_EQ(pixels, Bytes(64, 0));
    }
  }
}

TEST(WriteStillBmp, WritesTheHeadersAndThePixelsAsTheyLie) {
  TempDir dir;
  const auto path = dir / "P.BMP";
  const Bytes picture = Numbered(5 * 3 * 3);  // width 5: rows of 15 bytes, packed
  ASSERT_EQ(WriteStillBmp(path, picture, 5, 3), ImageStatus::kOk);
  const Bytes file = ReadFileData(path);
  Bytes header = {'B', 'M', 99, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                  40, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0, 1, 0, 24, 0};
  header.resize(54, 0);
  ASSERT_EQ(file.size(), 54u + picture.size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 54), header);
  EXPECT_EQ(Bytes(file.begin() + 54, file.end()), picture);

  Bytes back(64);
  ImageBuffer image{back, 0, 0};
  ASSERT_EQ(ReadStillBmp(path, image), ImageStatus::kOk);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 45), picture);
}

TEST(WriteStillBmp, FailureShowsTheMessageAndKeepsTheOldFile) {
  TempDir dir;
  const Bytes picture = Numbered(12);
  const auto path = dir / "N.BMP";
  WriteFileData(path, Bytes{'o', 'l', 'd'});
  struct Case {
    const char* name;
    std::filesystem::path path;
    int w, h;
    std::size_t bytes;
    ImageStatus status;
  };
  const Case cases[] = {
      {"zero width", path, 0, 2, 12, ImageStatus::kBadSize},
      {"buffer smaller than the picture", path, 2, 2, 11, ImageStatus::kBadSize},
      {"directory missing", dir / "nowhere" / "N.BMP", 2, 2, 12, ImageStatus::kCannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedUi ui;
    ScopedUi scoped(ui);
    EXPECT_EQ(WriteStillBmp(c.path, std::span(picture.data(), c.bytes), c.w, c.h), c.status);
    const auto shown = ui.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Qor series");
    EXPECT_EQ(shown[0].text, "cannot save image Please set correct X Y");
    EXPECT_EQ(ReadFileData(path), (Bytes{'o', 'l', 'd'}));
  }
}

TEST(SaveStillImage, WritesTheFormatTheExtensionNames) {
  TempDir dir;
  ScriptedUi ui;
  ScopedUi scoped(ui);
  const Bytes picture = Numbered(8 * 4 * 3);
  struct Case {
    const char* name;
    ImageStatus status;
    Bytes magic;
  };
  const Case cases[] = {
      {"x_mask.bmp", ImageStatus::kOk, {'B', 'M'}},
      {"x_.PNG", ImageStatus::kOk, {0x89, 'P', 'N', 'G'}},
      {"x_.jpg", ImageStatus::kOk, {0xFF, 0xD8}},
      {"x_.Jpeg", ImageStatus::kOk, {0xFF, 0xD8}},
      {"x_.tif", ImageStatus::kUnknownFormat, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SaveStillImage(dir / c.name, picture, 8, 4), c.status);
    const Bytes file = ReadFileData(dir / c.name);
    ASSERT_GE(file.size(), c.magic.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<long>(c.magic.size())), c.magic);
    if (c.status != ImageStatus::kOk) {
      EXPECT_FALSE(std::filesystem::exists(dir / c.name));
    }
  }
  EXPECT_TRUE(ui.messages().empty());
}

}  // namespace
}  // namespace mr4
