// Files replaced whole and the directory lock: two writers of one file at
// once, an abandoned or failed replacement, a group placed together, the
// names a leftover is known by; a lock held by another open of the file.
#include "platform/file_replace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/directory_lock.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  return names;
}

// Two analyses of one clip used to share one temporary name: the second
// truncated the first's file and one rename failed. Each writer now has its
// own, both succeed, the later rename wins.
TEST(FileReplacement, TwoWritersOfOneFileBothSucceed) {
  TempDir dir("mr4-replace");
  const fs::path target = dir / "M20240101_000000A.XML";
  FileReplacement first(target), second(target);
  ASSERT_TRUE(first.opened());
  ASSERT_TRUE(second.opened());
  EXPECT_NE(first.temporary(), second.temporary());
  EXPECT_TRUE(first.Write(std::string_view("first")));
  EXPECT_TRUE(second.Write(std::string_view("second")));
  EXPECT_TRUE(first.Commit());
  EXPECT_EQ(ReadFileBytes(target), "first");
  EXPECT_TRUE(second.Commit());
  EXPECT_EQ(ReadFileBytes(target), "second");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"M20240101_000000A.XML"});
}

TEST(FileReplacement, AnUnplacedReplacementLeavesTheOldFileAndNoTemporary) {
  TempDir dir("mr4-replace");
  const fs::path target = dir / "MR4_DIR.csv";
  test::WriteFileBytes(target, "old");
  {
    FileReplacement abandoned(target);
    ASSERT_TRUE(abandoned.Write(std::string_view("new")));
    // A temporary is hidden and marked: the scan skips it, clean removes it.
    const std::string name = abandoned.temporary().filename();
    EXPECT_EQ(name.rfind(".MR4_DIR.csv.mr4part-", 0), 0u) << name;
    EXPECT_TRUE(IsLeftoverTemporary(name));
    EXPECT_TRUE(abandoned.Finish());
  }
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"MR4_DIR.csv"});

  // A folder that is gone: nothing to open, nothing written.
  EXPECT_FALSE(ReplaceFileContent(dir / "gone" / "x", "text"));
  EXPECT_FALSE(FileReplacement(dir / "gone" / "x").opened());

  for (const char* name : {"MR4_DIR.csv", ".keep", "x.mr4part-1", ".mr4part"}) {
    EXPECT_FALSE(IsLeftoverTemporary(name)) << name;
  }
}

TEST(DirectoryLock, ASecondHolderWaitsThenLearnsWhoHasIt) {
  TempDir dir("mr4-lock");
  const fs::path file = dir / "MR4_HOME.lock";
  DirectoryLock first, second;
  ASSERT_EQ(first.Acquire(file, std::chrono::milliseconds(0)), DirectoryLock::Result::kLocked);
  EXPECT_EQ(first.Acquire(file, std::chrono::milliseconds(0)), DirectoryLock::Result::kLocked);
  EXPECT_EQ(second.Acquire(file, std::chrono::milliseconds(200)), DirectoryLock::Result::kHeld);
  EXPECT_EQ(second.holder().rfind("process " + std::to_string(::getpid()) + " (", 0), 0u)
      << second.holder();
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_EQ(second.Acquire(file, std::chrono::milliseconds(0)), DirectoryLock::Result::kLocked);
  EXPECT_EQ(second.Acquire(dir / "missing" / "x.lock", std::chrono::milliseconds(0)),
            DirectoryLock::Result::kFailed);
  EXPECT_FALSE(second.error().empty());
}

}  // namespace
}  // namespace mr4
