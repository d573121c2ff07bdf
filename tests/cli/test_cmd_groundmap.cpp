// End-to-end checks of `mr4 groundmap`: a map made from a small land file,
// and the refusals of bad options and of a file that cannot be written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

// A square island of about 2 degrees around (136, 34).
constexpr char kLand[] =
    "# test island\n"
    "R 4\n"
    "135 33\n"
    "137 33\n"
    "137 35\n"
    "135 35\n";

TEST(GroundMapCommand, WritesTheBaseMap) {
  TempDir dir;
  WriteFileBytes(dir / "land.txt", kLand);
  const ProgramResult r =
      RunMr4({"groundmap", "--center", "136,34", "--half-field", "4", "--size", "40x30",
              "--out", (dir / "m.DAT").string(), "--land", (dir / "land.txt").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("40x30"), std::string::npos) << r.out;
  const std::string bytes = ReadFileBytes(dir / "m.DAT");
  ASSERT_GT(bytes.size(), 80u);
  EXPECT_EQ(bytes.substr(0, 80),
            std::string("Tessarox      40,      30, 1360000,  340000,   40000,       0,"
                        "       0,       0") +
                '\0');
  // The top row (near 37 N) is all sea.
  EXPECT_EQ(bytes.substr(80, 2), std::string("\x08\x27", 2));
}

TEST(GroundMapCommand, RefusesBadOptionsAndUnwritableFiles) {
  TempDir dir;
  WriteFileBytes(dir / "land.txt", kLand);
  WriteFileBytes(dir / "broken.txt", "R 4\n135 33\n");
  const std::string out = (dir / "m.DAT").string();
  const std::string land = (dir / "land.txt").string();
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"no centre", {"--half-field", "4", "--size", "40x30", "--out", out}, "--center"},
      {"centre of one number", {"--center", "136", "--half-field", "4", "--size", "40x30",
                                "--out", out}, "--center"},
      {"latitude past the pole", {"--center", "136,91", "--half-field", "4", "--size",
                                  "40x30", "--out", out}, "--center"},
      {"zero field", {"--center", "136,34", "--half-field", "0", "--size", "40x30",
                      "--out", out}, "--half-field"},
      {"field of 90", {"--center", "136,34", "--half-field", "90", "--size", "40x30",
                       "--out", out}, "--half-field"},
      {"size without x", {"--center", "136,34", "--half-field", "4", "--size", "40",
                          "--out", out}, "--size"},
      {"too wide", {"--center", "136,34", "--half-field", "4", "--size", "8193x10",
                    "--out", out}, "--size"},
      {"too high", {"--center", "136,34", "--half-field", "4", "--size", "10x4321",
                    "--out", out}, "--size"},
      {"unknown option", {"--centre", "136,34"}, "--centre"},
      {"missing land file", {"--center", "136,34", "--half-field", "4", "--size", "40x30",
                             "--out", out, "--land", (dir / "none.txt").string()},
       "none.txt"},
      {"broken land file", {"--center", "136,34", "--half-field", "4", "--size", "40x30",
                            "--out", out, "--land", (dir / "broken.txt").string()},
       "broken.txt"},
      {"unwritable file", {"--center", "136,34", "--half-field", "4", "--size", "40x30",
                           "--out", (dir / "no-such-dir" / "m.DAT").string(), "--land",
                           land}, "cannot write"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"groundmap"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult r = RunMr4(args);
    // Options it cannot use are usage errors; files it cannot read or
    // write are failures.
    const bool file_fault = std::string(c.what).find("file") != std::string::npos;
    EXPECT_EQ(r.exit_code, file_fault ? 2 : 1) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "m.DAT")) << c.what;
  }
}

}  // namespace
}  // namespace mr4::test
