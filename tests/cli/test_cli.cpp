#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

TEST(Program, GlobalOptions) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out_start;
    std::string err_part;
  };
  const Case cases[] = {
      {{"--version"}, 0, "MeridraV4 V5.00 (64bit)\n", ""},
      {{"--help"}, 0, "usage: mr4", ""},
      // Without a command the desktop starts; a home it cannot enter ends it.
      {{"--home", "/nonexistent/mr4-home"}, 1, "", "cannot enter home directory"},
      {{"no-such-command"}, 1, "", "unknown command 'no-such-command'"},
      {{"--bogus", "settings"}, 1, "", "unknown option --bogus"},
      {{"--home"}, 1, "", "--home needs a directory"},
      {{"settings", "--help"}, 0, "usage: mr4 [--home DIR] settings", ""},
      {{"--home", "/nonexistent/mr4-home", "settings"}, 1, "",
       "cannot enter home directory"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    ProgramResult r = RunMr4(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out.compare(0, c.out_start.size(), c.out_start), 0) << r.out;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
  }
}

// The width and height of a PNG file from its header chunk; 0 x 0 when the
// bytes are not a PNG file.
std::pair<int, int> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto be32 = [&](std::size_t at) {
    int v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST(ScreenshotCommand, WritesThePageAsPngOffScreen) {
  TempHome home("mr4-screenshot-home");
  const std::filesystem::path out = home.path() / "view.png";
  ProgramResult r = RunMr4({"--home", home.path().string(), "screenshot", "--page",
                            "view", "--out", out.string(), "--size", "1000x700"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(PngSize(ReadFileBytes(out)), std::make_pair(1000, 700));
  // Below the window's smallest size the picture is the smallest window.
  r = RunMr4({"--home", home.path().string(), "screenshot", "--page", "groundmap",
              "--out", out.string(), "--size", "300x200"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(PngSize(ReadFileBytes(out)), std::make_pair(768, 580));
}

TEST(ScreenshotCommand, RefusesWhatItCannotShow) {
  TempHome home("mr4-screenshot-home");
  const std::string out = (home.path() / "x.png").string();
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string err_part;
  };
  const Case cases[] = {
      {{"--page", "Main", "--out", out}, 1, "unknown page 'Main'"},
      {{"--out", out}, 1, "--page and --out are needed"},
      {{"--page", "main", "--out", out, "--size", "1600"}, 1, "--size takes"},
      {{"--page", "main", "--out", out, "--size", "0x10"}, 1, "--size takes"},
      {{"--page", "main", "--out", out, "--clip", "M20240812_220000_X"}, 2,
       "no clip 'M20240812_220000_X'"},
      {{"--page", "main", "--out", (home.path() / "no-dir" / "x.png").string()}, 2,
       "cannot write"},
      {{"--page", "view", "--out", out, "--frame", "-1"}, 1, "--frame takes"},
      {{"--page", "view", "--out", out, "--frame", "x"}, 1, "--frame takes"},
      {{"--page", "main", "--out", out, "--frame", "3"}, 2, "--frame needs --page view"},
      {{"--page", "view", "--out", out, "--frame", "3"}, 2, "--frame needs --page view and --clip"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--home", home.path().string(), "screenshot"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    ProgramResult r = RunMr4(args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

// The key "AP.outdir" as stored: 15 characters zero-filled to 16 bytes, the
// length, then UTF-16 text with its terminating zero.
std::string OutdirRecord(const std::string& value) {
  std::string record("AP.outdir", 9);
  record.resize(16, '\0');
  std::string text;
  for (char c : value) text += std::string{c, '\0'};
  text += std::string(2, '\0');
  while (text.size() % 4) text.push_back('\0');
  uint32_t length = static_cast<uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) record.push_back(char((length >> (8 * i)) & 0xFF));
  return record + text;
}

TEST(SettingsCommand, SetIsWrittenAtExitAndReadBack) {
  TempHome home("mr4-settings-home");
  ProgramResult set = RunMr4({"--home", home.path().string(), "settings",
                              "--set", "AP.outdir=/tmp/x"});
  ASSERT_EQ(set.exit_code, 0) << set.err;
  EXPECT_EQ(set.out, "AP.outdir=/tmp/x\n");
  std::string file = ReadFileBytes(home.path() / "MR4_PARAM.MRA");
  EXPECT_NE(file.find(OutdirRecord("/tmp/x")), std::string::npos);
  EXPECT_EQ(file.compare(0, 7, "VERSION"), 0);

  ProgramResult get = RunMr4({"--home", home.path().string(), "settings",
                              "--get", "AP.outdir", "--get", "gPAN"});
  ASSERT_EQ(get.exit_code, 0) << get.err;
  EXPECT_EQ(get.out.substr(0, 17), "AP.outdir=/tmp/x\n");
}

TEST(SettingsCommand, RefusedSetLeavesTheFileAlone) {
  TempHome home("mr4-settings-home");
  ASSERT_EQ(RunMr4({"--home", home.path().string(), "settings", "--set",
                    "AP.outdir=/first"}).exit_code, 0);
  std::string before = ReadFileBytes(home.path() / "MR4_PARAM.MRA");
  const std::vector<std::string> refused[] = {
      {"--set", "AP.outdir=/second", "--set", "No.such.key=1"},
      {"--set", "AP.outdir=/second", "--set", "gPAN=many"},
      {"--set", "AP.outdir"},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args.back());
    std::vector<std::string> all{"--home", home.path().string(), "settings"};
    all.insert(all.end(), args.begin(), args.end());
    ProgramResult r = RunMr4(all);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(ReadFileBytes(home.path() / "MR4_PARAM.MRA"), before);
  }
}

}  // namespace
}  // namespace mr4::test
