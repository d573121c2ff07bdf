// End-to-end tests of `mr4 peak-hold` on a home made by `mr4 init` and one
// clip of 24-bit frames: the picture and its file, the question before a
// file is replaced, and the refused arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/avi_writer.h"
#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 24;
constexpr int kFrames = 12;

class PeakHoldCommand : public ::testing::Test {
 protected:
  PeakHoldCommand() {
    // Frame k lights pixel (k, 0) only.
    AviWriterOptions o;
    o.format = AviPixelFormat::kDib24;
    o.width = kWidth;
    o.height = kHeight;
    o.microseconds_per_frame = 40000;
    o.layout = AviLayout::kStandard;
    AviWriter writer;
    EXPECT_TRUE(writer.Open(clips_.path() / "M20240101_000000.avi", o)) << writer.error();
    for (int k = 0; k < kFrames; ++k) {
      std::vector<std::uint8_t> frame(std::size_t(kWidth) * kHeight * 3, 0);
      frame[std::size_t(k) * 3 + 1] = 200;
      EXPECT_TRUE(writer.WriteFrame(frame));
    }
    EXPECT_TRUE(writer.Close()) << writer.error();
    EXPECT_EQ(Run({"dirs", "add", clips_.path().string()}).exit_code, 0);
  }
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }

  TempHome home_{"mr4-peak-home"};
  TempDir clips_{"mr4-peak-clips"};
};

TEST_F(PeakHoldCommand, WritesTheClipsPictureAndAsksBeforeReplacingIt) {
  const std::filesystem::path own = clips_.path() / "M20240101_000000P.BMP";
  const ProgramResult made = Run({"peak-hold", "M20240101_000000", "--interval", "2"});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  EXPECT_NE(made.out.find("wrote " + own.string() + ": 11 frames seen, 5 held\n"),
            std::string::npos)
      << made.out;
  const std::string bmp = ReadFileBytes(own);
  ASSERT_EQ(bmp.size(), 54u + kWidth * kHeight * 3);
  for (int k = 1; k < kFrames; ++k) {
    EXPECT_EQ(static_cast<std::uint8_t>(bmp[54 + std::size_t(k) * 3 + 1]), k % 2 == 0 ? 200 : 0)
        << "frame " << k;
  }
  // The interval is kept as the setting.
  const ProgramResult setting = Run({"settings", "--get", "AP.peakf"});
  EXPECT_NE(setting.out.find("AP.peakf=2"), std::string::npos) << setting.out;

  const ProgramResult kept = Run({"peak-hold", "M20240101_000000"});
  EXPECT_EQ(kept.exit_code, 3) << kept.err;
  EXPECT_NE(kept.out.find("not written"), std::string::npos) << kept.out;
  EXPECT_NE(kept.err.find("file already exists overwrite?"), std::string::npos) << kept.err;

  const std::filesystem::path other = clips_.path() / "held.bmp";
  const ProgramResult elsewhere =
      Run({"--yes", "peak-hold", "M20240101_000000", "--interval", "1", "--out", other.string()});
  ASSERT_EQ(elsewhere.exit_code, 0) << elsewhere.err;
  EXPECT_NE(elsewhere.out.find(": 11 frames seen, 11 held\n"), std::string::npos) << elsewhere.out;
  EXPECT_TRUE(std::filesystem::exists(other));
  // The count is the picture's: the steps bring frames 1 and on, each of
  // them held; frame 0 is the picture the graph shows when it is built.
  const std::string all = ReadFileBytes(other);
  ASSERT_EQ(all.size(), 54u + kWidth * kHeight * 3);
  EXPECT_EQ(static_cast<std::uint8_t>(all[54 + 1]), 0);
  for (int k = 1; k < kFrames; ++k) {
    EXPECT_EQ(static_cast<std::uint8_t>(all[54 + std::size_t(k) * 3 + 1]), 200) << "frame " << k;
  }
}

TEST_F(PeakHoldCommand, RefusedArguments) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"peak-hold"}, "name one clip"},
      {{"peak-hold", "M20240101_000000", "--interval", "0"}, "--interval takes"},
      {{"peak-hold", "M20240101_000000", "--interval", "2x"}, "--interval takes"},
      {{"peak-hold", "M20990101_000000"}, "no clip M20990101_000000"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace mr4::test
