#include "platform/image_codecs.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

using Bytes = std::vector<std::uint8_t>;

using mr4::test::ReadFileData;
using mr4::test::TempDir;
using mr4::test::WriteFileData;


// Encodes a top-down picture of `pixel_format` with TurboJPEG directly, apart
// from the code under test.
Bytes EncodeJpeg(const Bytes& top_down, int w, int h, int pixel_format, int subsampling) {
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int pitch = w * tjPixelSize[pixel_format];
  EXPECT_EQ(tjCompress2(tj, top_down.data(), w, pitch, h, pixel_format, &out, &size,
                        subsampling, 95, 0),
            0)
      << tjGetErrorStr2(tj);
  Bytes jpeg(out, out + size);
  tjFree(out);
  tjDestroy(tj);
  return jpeg;
}

// A picture whose top half is `top` and bottom half `bottom` (R, G, B).
struct Rgb {
  int r, g, b;
};

TEST(ReadJpeg, ColourGreyAndCmykBecomeBottomUpBgr) {
  constexpr int w = 32, h = 16;
  struct Case {
    const char* name;
    int pixel_format;
    int subsampling;
    std::vector<std::uint8_t> top_sample;     // one pixel in pixel_format
    std::vector<std::uint8_t> bottom_sample;
    Rgb top, bottom;                          // expected
  };
  const Case cases[] = {
      {"colour", TJPF_RGB, TJSAMP_444, {250, 20, 20}, {20, 20, 250}, {250, 20, 20}, {20, 20, 250}},
      {"grey", TJPF_GRAY, TJSAMP_GRAY, {200}, {40}, {200, 200, 200}, {40, 40, 40}},
      // Inverted (Adobe) CMYK: C=M=Y=K=255 is white; red is C 255 M 0 Y 0 K 255.
      {"CMYK", TJPF_CMYK, TJSAMP_444, {255, 0, 0, 255}, {255, 255, 255, 128},
       {255, 0, 0}, {128, 128, 128}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes top_down;
    for (int y = 0; y < h; ++y) {
      const auto& sample = y < h / 2 ? c.top_sample : c.bottom_sample;
      for (int x = 0; x < w; ++x) top_down.insert(top_down.end(), sample.begin(), sample.end());
    }
    const auto path = dir / "still.jpg";
    WriteFileData(path, EncodeJpeg(top_down, w, h, c.pixel_format, c.subsampling));

    Bytes pixels(w * h * 3, 0xEE);
    ImageBuffer image{pixels, 0, 0};
    ASSERT_EQ(ReadJpeg(path, image), ImageStatus::kOk);
    EXPECT_EQ(image.width, w);
    EXPECT_EQ(image.height, h);
    // Row 0 is the bottom line; pixels are blue, green, red. Sample the
    // middle of each half, away from the edge between them.
    auto near = [](std::uint8_t got, int want) { return std::abs(got - want) <= 6; };
    for (const auto& [row, want] : {std::pair{h / 4, c.bottom}, std::pair{3 * h / 4, c.top}}) {
      const std::uint8_t* p = &pixels[static_cast<std::size_t>((row * w + w / 2) * 3)];
      EXPECT_TRUE(near(p[0], want.b) && near(p[1], want.g) && near(p[2], want.r))
          << "row " << row << ": B G R = " << int{p[0]} << " " << int{p[1]} << " " << int{p[2]}
          << ", want " << want.b << " " << want.g << " " << want.r;
    }
  }
}

TEST(ReadJpeg, RefusesWhatItCannotHold) {
  TempDir dir;
  const Bytes small_grey(16 * 8, 100);
  const Bytes jpeg16x8 = EncodeJpeg(small_grey, 16, 8, TJPF_GRAY, TJSAMP_GRAY);
  const Bytes wide(8193 * 8, 100);
  const Bytes tall(8 * 4321, 100);
  struct Case {
    const char* name;
    Bytes file;
    std::size_t buffer_bytes;
    ImageStatus status;
  };
  const Case cases[] = {
      {"fits exactly", jpeg16x8, 16 * 8 * 3, ImageStatus::kOk},
      {"one byte too small a buffer", jpeg16x8, 16 * 8 * 3 - 1, ImageStatus::kTooLarge},
      {"8193 pixels wide", EncodeJpeg(wide, 8193, 8, TJPF_GRAY, TJSAMP_GRAY), 8193 * 4321 * 3,
       ImageStatus::kTooLarge},
      {"4321 rows high", EncodeJpeg(tall, 8, 4321, TJPF_GRAY, TJSAMP_GRAY), 8193 * 4321 * 3,
       ImageStatus::kTooLarge},
      {"cut in half", Bytes(jpeg16x8.begin(), jpeg16x8.begin() + static_cast<long>(jpeg16x8.size() / 2)),
       16 * 8 * 3, ImageStatus::kBroken},
      {"no picture, only start and end markers", Bytes{0xFF, 0xD8, 0xFF, 0xD9}, 1024,
       ImageStatus::kBadSize},
      {"a bitmap", Bytes{'B', 'M', 0, 0, 0, 0}, 1024, ImageStatus::kNotThisFormat},
      {"empty", Bytes{}, 1024, ImageStatus::kNotThisFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / "x.jpg";
    WriteFileData(path, c.file);
    Bytes pixels(c.buffer_bytes);
    ImageBuffer image{pixels, 7, 9};
    EXPECT_EQ(ReadJpeg(path, image), c.status) << ImageStatusText(ReadJpeg(path, image));
    if (c.status != ImageStatus::kOk) {
      EXPECT_EQ(image.width, 7);  // the size is set only on success
      EXPECT_EQ(image.height, 9);
    }
  }
  Bytes pixels(16);
  ImageBuffer image{pixels, 0, 0};
  EXPECT_EQ(ReadJpeg(dir / "missing.jpg", image), ImageStatus::kCannotOpen);
}

// A bottom-up BGR test picture with every pixel different.
Bytes TestPicture(int w, int h) {
  Bytes p(static_cast<std::size_t>(w * h * 3));
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 5 + i / 7);
  return p;
}

TEST(WritePng, ReadsBackExactlyWithLibpng) {
  constexpr int w = 13, h = 7;  // rows of 39 bytes: no filler anywhere
  const Bytes picture = TestPicture(w, h);
  TempDir dir;
  const auto path = dir / "page.png";
  ASSERT_EQ(WritePng(path, picture, w, h), ImageStatus::kOk);

  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&png, path.c_str()), 0) << png.message;
  EXPECT_EQ(png.width, static_cast<png_uint_32>(w));
  EXPECT_EQ(png.height, static_cast<png_uint_32>(h));
  png.format = PNG_FORMAT_BGR;
  Bytes top_down(PNG_IMAGE_SIZE(png));
  ASSERT_NE(png_image_finish_read(&png, nullptr, top_down.data(), 0, nullptr), 0) << png.message;
  for (int r = 0; r < h; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    const auto* want = &picture[static_cast<std::size_t>(r * w * 3)];
    const auto* got = &top_down[static_cast<std::size_t>((h - 1 - r) * w * 3)];
    EXPECT_TRUE(std::equal(want, want + w * 3, got));
  }
}

TEST(WriteJpeg, ReadsBackThroughReadJpeg) {
  constexpr int w = 40, h = 24;
  Bytes picture(w * h * 3);
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = &picture[static_cast<std::size_t>((r * w + x) * 3)];
      p[0] = static_cast<std::uint8_t>(x * 6);   // blue grows to the right
      p[1] = static_cast<std::uint8_t>(r * 10);  // green grows upwards
      p[2] = 90;
    }
  }
  TempDir dir;
  const auto path = dir / "still.jpg";
  ASSERT_EQ(WriteJpeg(path, picture, w, h), ImageStatus::kOk);
  Bytes back(w * h * 3);
  ImageBuffer image{back, 0, 0};
  ASSERT_EQ(ReadJpeg(path, image), ImageStatus::kOk);
  ASSERT_EQ(image.width, w);
  ASSERT_EQ(image.height, h);
  int worst = 0;
  for (std::size_t i = 0; i < picture.size(); ++i) {
    worst = std::max(worst, std::abs(picture[i] - back[i]));
  }
  EXPECT_LE(worst, 8);
}

TEST(ImageWriters, RefuseBadSizesAndKeepTheOldFileOnFailure) {
  TempDir dir;
  const Bytes picture = TestPicture(4, 4);
  struct Case {
    const char* name;
    int w, h;
    std::size_t bytes;
    ImageStatus status;
  };
  const Case cases[] = {
      {"zero width", 0, 4, 48, ImageStatus::kBadSize},
      {"negative height", 4, -1, 48, ImageStatus::kBadSize},
      {"buffer smaller than the picture", 4, 4, 47, ImageStatus::kTooLarge},
      {"wider than the largest picture", 8193, 1, 48, ImageStatus::kTooLarge},
  };
  const auto path = dir / "old.png";
  WriteFileData(path, Bytes{'o', 'l', 'd'});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<const std::uint8_t> pixels(picture.data(), c.bytes);
    EXPECT_EQ(WritePng(path, pixels, c.w, c.h), c.status);
    EXPECT_EQ(WriteJpeg(path, pixels, c.w, c.h), c.status);
    EXPECT_EQ(ReadFileData(path), (Bytes{'o', 'l', 'd'}));
  }
  EXPECT_EQ(WritePng(dir / "no-such-dir" / "x.png", picture, 4, 4), ImageStatus::kCannotOpen);
  // No temporary file is left behind.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace mr4
