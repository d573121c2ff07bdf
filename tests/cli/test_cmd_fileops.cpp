// End-to-end tests of `mr4 move`, `mr4 copy`, `mr4 trash`, `mr4 clean` and
// `mr4 delete-results` on a home made by `mr4 init` and a small clip tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

class FileOpCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"dirs", "add", clips_.path().string(), "--save-dir",
                   save_.path().string(), "--ymd"})
                  .exit_code,
              0);
    for (const char* name : {"M20240102_031500_ST1", "M20240102_031500_ST10"}) {
      for (const char* suffix : {".avi", ".xml", "A.XML", "T.jpg"}) {
        WriteFileBytes(clips_.path() / (std::string(name) + suffix),
                       std::string(name) + suffix);
      }
    }
  }
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }
  int FilesIn(const fs::path& dir) const {
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir)) n += e.is_regular_file();
    return n;
  }

  TempHome home_{"mr4-fileops-home"};
  TempDir clips_{"mr4-fileops-clips"};
  TempDir save_{"mr4-fileops-save"};
};

TEST_F(FileOpCommands, MoveAsksThenFilesTheNamedClipByNight) {
  ProgramResult declined = Run({"move"});
  // A declined question exits 3 in every command.
  EXPECT_EQ(declined.exit_code, 3) << declined.err;
  EXPECT_NE(declined.err.find("Move Checked 2 clips to 'save dir' ok?"), std::string::npos)
      << declined.err;
  EXPECT_EQ(FilesIn(clips_.path()), 8);

  ProgramResult moved = Run({"--yes", "move", "M20240102_031500_ST1"});
  ASSERT_EQ(moved.exit_code, 0) << moved.err;
  EXPECT_NE(moved.out.find("1/1 moving M20240102_031500_ST1\n"), std::string::npos) << moved.out;
  EXPECT_NE(moved.out.find("1 clips, 4 files, 0.0 MB moved, 0 failed, 0 skipped\n"),
            std::string::npos)
      << moved.out;
  const fs::path night = save_.path() / "2024/202401/20240101";
  EXPECT_EQ(ReadFileBytes(night / "M20240102_031500_ST1A.XML"), "M20240102_031500_ST1A.XML");
  EXPECT_EQ(FilesIn(save_.path()), 4);
  EXPECT_EQ(FilesIn(clips_.path()), 4);  // the longer name stayed whole
  EXPECT_TRUE(fs::exists(clips_.path() / "M20240102_031500_ST10.avi"));
}

TEST_F(FileOpCommands, CopyTrashAndDeleteResults) {
  TempDir to("mr4-fileops-to");
  ProgramResult copied = Run({"--yes", "copy", "--to", to.path().string()});
  ASSERT_EQ(copied.exit_code, 0) << copied.err;
  EXPECT_NE(copied.out.find("2 clips, 8 files, 0.0 MB copied"), std::string::npos) << copied.out;
  EXPECT_EQ(FilesIn(to.path()), 8);
  EXPECT_EQ(FilesIn(clips_.path()), 8);

  ProgramResult results = Run({"--yes", "delete-results", "M20240102_031500_ST10"});
  ASSERT_EQ(results.exit_code, 0) << results.err;
  EXPECT_FALSE(fs::exists(clips_.path() / "M20240102_031500_ST10A.XML"));
  EXPECT_TRUE(fs::exists(clips_.path() / "M20240102_031500_ST1A.XML"));

  ASSERT_EQ(Run({"settings", "--set", "AP.trashdir=1"}).exit_code, 0);
  ProgramResult trashed = Run({"--yes", "trash", "M20240102_031500_ST1"});
  ASSERT_EQ(trashed.exit_code, 0) << trashed.err;
  EXPECT_NE(trashed.out.find("1 clips, 4 files"), std::string::npos) << trashed.out;
  EXPECT_TRUE(fs::exists(clips_.path() / "Trash/M20240102_031500_ST1.avi"));
  EXPECT_TRUE(fs::exists(clips_.path() / "M20240102_031500_ST10.avi"));

  ProgramResult thumbs = Run({"--yes", "trash", "--targets", "thumbnails"});
  ASSERT_EQ(thumbs.exit_code, 0) << thumbs.err;
  EXPECT_FALSE(fs::exists(clips_.path() / "M20240102_031500_ST10T.jpg"));
  EXPECT_TRUE(fs::exists(clips_.path() / "M20240102_031500_ST10.avi"));
}

TEST_F(FileOpCommands, CleanRemovesOneLevelPerRun) {
  fs::create_directories(clips_.path() / "2024/202401/20240101");
  fs::create_directories(clips_.path() / "empty");
  ProgramResult first = Run({"--yes", "clean"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_NE(first.out.find("deleted 1 directories , 0 files\n"), std::string::npos) << first.out;
  EXPECT_TRUE(fs::exists(clips_.path() / "2024/202401"));
  EXPECT_TRUE(fs::exists(clips_.path() / "empty"));
  ProgramResult declined = Run({"clean"});
  EXPECT_EQ(declined.exit_code, 3) << declined.err;
  EXPECT_TRUE(fs::exists(clips_.path() / "2024/202401"));
}

TEST_F(FileOpCommands, Refusals) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"copy"}, "give --to DIR"},
      {{"move", "--targets", "interval"}, "--targets goes with --to DIR"},
      {{"copy", "--to", "/tmp", "--targets", "planes"}, "not 'planes'"},
      {{"trash", "M20991231_000000_X"}, "no clip 'M20991231_000000_X'"},
      {{"delete-results", "--to", "/tmp"}, "--to is not an option here"},
      {{"clean", "extra"}, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    ProgramResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.args[0];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  ProgramResult missing = Run({"--yes", "copy", "--to", (clips_.path() / "nowhere").string()});
  EXPECT_NE(missing.err.find("destination directiry does not exist"), std::string::npos)
      << missing.err;
  EXPECT_EQ(FilesIn(clips_.path()), 8);
}

}  // namespace
}  // namespace mr4::test
