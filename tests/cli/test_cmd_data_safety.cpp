// End to end: what the program keeps safe when it cannot do what it was
// asked. A home used by another program, several programs racing on one
// home, writes that fail as on a full disk (a file-size limit on the
// program), a settings file of a newer version, a clip-directory table with
// CR line ends, a save directory on a drive that is not mounted, the
// temporaries a killed move leaves, and clip files beyond what the record
// reader takes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

constexpr char kSettingsFile[] = "MR4_PARAM.MRA";
constexpr char kDirFile[] = "MR4_DIR.csv";
constexpr char kDirHeader[] = "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command";

class DataSafety : public ::testing::Test {
 protected:
  ProgramResult Run(std::vector<std::string> args, const RunOptions& options = {}) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args, options);
  }
  // Every file of `dir` whose name carries the temporary mark.
  static std::vector<std::string> Temporaries(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.find(".mr4part-") != std::string::npos) found.push_back(name);
    }
    return found;
  }

  TempHome home_{"mr4-safety-home"};
};

// A file-size limit of 0: every write of the program fails.
const RunOptions kFullDisk{0};

// Another program holds the home: start-up waits, then names it and ends
// with its own status, writing nothing.
TEST_F(DataSafety, ASecondProgramOnAHomeSaysWhoHoldsItAndChangesNothing) {
  ASSERT_EQ(Run({"settings", "--set", "AP.g_h0=81"}).exit_code, 0);
  const std::string settings = ReadFileBytes(home_ / kSettingsFile);
  const int fd = ::open((home_ / "MR4_HOME.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::string pid = std::to_string(::getpid());
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  ASSERT_EQ(::write(fd, pid.data(), pid.size()), static_cast<ssize_t>(pid.size()));

  const ProgramResult held = Run({"settings", "--set", "AP.g_h0=99"});
  ::close(fd);
  EXPECT_EQ(held.exit_code, 4);
  EXPECT_NE(held.err.find("is in use by process " + pid + " ("), std::string::npos) << held.err;
  EXPECT_EQ(held.out, "");
  EXPECT_EQ(ReadFileBytes(home_ / kSettingsFile), settings);

  // Released (as at any end of its holder), the home is free again.
  const ProgramResult after = Run({"settings", "--get", "AP.g_h0"});
  EXPECT_EQ(after.exit_code, 0) << after.err;
  EXPECT_EQ(after.out, "AP.g_h0=81\n");
}

// Programs started together on one home take turns: every change reported
// as made is in the file at the end (one that waited too long says so).
TEST_F(DataSafety, ConcurrentSettingsChangesLoseNoReportedUpdate) {
  const std::vector<std::string> keys = {"AP.g_h0", "AP.g_h1", "AP.g_h2", "AP.t_vglim"};
  std::vector<std::vector<int>> exits(keys.size());
  std::vector<std::thread> loops;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    loops.emplace_back([&, k] {
      for (int value = 1; value <= 3; ++value) {
        const ProgramResult r =
            Run({"settings", "--set", keys[k] + "=" + std::to_string(100 * int(k) + value)});
        exits[k].push_back(r.exit_code);
      }
    });
  }
  for (std::thread& t : loops) t.join();
  for (std::size_t k = 0; k < keys.size(); ++k) {
    SCOPED_TRACE(keys[k]);
    int last_made = 0;
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(exits[k][i] == 0 || exits[k][i] == 4) << exits[k][i];
      if (exits[k][i] == 0) last_made = 100 * int(k) + i + 1;
    }
    if (last_made == 0) continue;
    const ProgramResult r = Run({"settings", "--get", keys[k]});
    EXPECT_EQ(r.out, keys[k] + "=" + std::to_string(last_made) + "\n");
  }
}

// Writes that fail (a full disk) are failures, said, with the old files
// kept and no half or empty file left.
TEST_F(DataSafety, FailedWritesAreReportedAndLeaveTheOldFiles) {
  ASSERT_EQ(Run({"settings", "--set", "AP.g_h0=81"}).exit_code, 0);
  const std::string settings = ReadFileBytes(home_ / kSettingsFile);
  TempDir clips("mr4-safety-clips");
  const std::string dirs = ReadFileBytes(home_ / kDirFile);

  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"settings --set", {"settings", "--set", "AP.g_h0=99"}, "UE070: Cannot write MR4_PARAM.MRA"},
      {"dirs add", {"dirs", "add", clips.path().string()}, "Cannot write"},
      {"simulate",
       {"simulate", "--out", clips.path().string(), "--time", "2024-08-12 23:15:30", "--seed",
        "3"},
       "cannot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProgramResult r = Run(c.args, kFullDisk);
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(home_ / kSettingsFile), settings);
    EXPECT_EQ(ReadFileBytes(home_ / kDirFile), dirs);
    EXPECT_TRUE(fs::is_empty(clips.path())) << "the clip folder holds files";
    EXPECT_TRUE(Temporaries(home_.path()).empty());
  }
  const ProgramResult list = Run({"dirs"});
  EXPECT_EQ(list.out.find(clips.path().string()), std::string::npos) << list.out;
}

// A newer program's settings file is never overwritten with this one's
// defaults; a change to it is refused.
TEST_F(DataSafety, ASettingsFileOfANewerVersionIsKeptAsItIs) {
  // VERSION 600 and one text key: the records as the file holds them.
  std::string file(16, '\0');
  file.replace(0, 7, "VERSION");
  file += std::string("\x04\0\0\0\x58\x02\0\0", 8);
  WriteFileBytes(home_ / kSettingsFile, file);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"scan"}, {"settings", "--set", "AP.g_h0=99"}}) {
    const ProgramResult r = Run(args);
    EXPECT_NE(r.err.find("newer than program"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(home_ / kSettingsFile), file);
    if (args[0] == "settings") {
      EXPECT_EQ(r.exit_code, 2);
    }
  }
}

// A table saved with CR line ends keeps its rows.
TEST_F(DataSafety, AClipDirectoryTableWithCrLineEndsKeepsItsRows) {
  const std::string rows = std::string(kDirHeader) + "\r101,1,_/clips/a,_,_/save/a,1,_\r" +
                           "101,0,_/clips/b,_,_,0,_\r";
  WriteFileBytes(home_ / kDirFile, rows);
  const ProgramResult r = Run({"dirs"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("/clips/b"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFileBytes(home_ / kDirFile),
            std::string(kDirHeader) + "\r\n101,1,_/clips/a,_,_/save/a,1,_\r\n" +
                "101,0,_/clips/b,_,_,0,_\r\n");
}

// A move while the save directory's drive is away moves nothing and keeps
// the setting for when it is back.
TEST_F(DataSafety, AMoveWithTheSaveDirectoryAbsentKeepsTheSetting) {
  TempDir clips("mr4-safety-clips");
  const std::string save = (home_.path() / "unmounted" / "save").string();
  WriteFileBytes(clips / "M20240102_031500_ST1.avi", "video");
  ASSERT_EQ(Run({"dirs", "add", clips.path().string(), "--save-dir", save}).exit_code, 0);
  const std::string table = ReadFileBytes(home_ / kDirFile);
  const ProgramResult r = Run({"--yes", "move"});
  EXPECT_NE(r.err.find("No clips to move"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(clips / "M20240102_031500_ST1.avi"));
  EXPECT_EQ(ReadFileBytes(home_ / kDirFile), table);
  EXPECT_NE(table.find(save), std::string::npos);
}

// Across file systems onto a disk that fills up: the clip stays whole in its
// folder and nothing is left in the target; a killed move's temporaries go
// with `clean`.
TEST_F(DataSafety, AMoveThatCannotFinishLeavesTheClipWholeAndCleanTidies) {
  TempDir clips("mr4-safety-clips");
  struct stat here {}, there {};
  std::string pattern = "/dev/shm/mr4-safety-save.XXXXXX";
  if (::stat(clips.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev || ::mkdtemp(pattern.data()) == nullptr) {
    GTEST_SKIP() << "no second file system (tmpfs /dev/shm) to move to";
  }
  const fs::path save = pattern;
  // The video and the record fit; the thumbnail, copied last, does not.
  const std::string name = "M20240102_031500_ST1";
  WriteFileBytes(clips / (name + ".avi"), "video");
  WriteFileBytes(clips / (name + ".xml"), "record");
  WriteFileBytes(clips / (name + "T.jpg"), std::string(64 << 10, 't'));
  ASSERT_EQ(Run({"dirs", "add", clips.path().string(), "--save-dir", save.string()}).exit_code,
            0);
  const ProgramResult r = Run({"--yes", "move"}, RunOptions{16 << 10});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find("none of the clip's 3 files were moved"), std::string::npos) << r.err;
  for (const char* suffix : {".avi", ".xml", "T.jpg"}) {
    EXPECT_TRUE(fs::exists(clips / (name + suffix))) << suffix;
  }
  EXPECT_TRUE(fs::is_empty(save));

  // What a move killed half-way leaves: temporaries beside the targets and
  // in the clip folder; a hidden file of the user stays.
  fs::create_directories(save / "2024");
  WriteFileBytes(save / "2024" / ("." + name + ".avi.mr4part-a1B2c3"), "half");
  WriteFileBytes(clips / ("." + name + "A.XML.mr4part-x9Y8z7"), "half");
  WriteFileBytes(clips / ".keep", "mine");
  const ProgramResult clean = Run({"--yes", "clean"});
  EXPECT_EQ(clean.exit_code, 0) << clean.err;
  EXPECT_NE(clean.out.find("deleted 0 directories , 2 files"), std::string::npos) << clean.out;
  EXPECT_TRUE(Temporaries(save).empty());
  EXPECT_TRUE(Temporaries(clips.path()).empty());
  EXPECT_TRUE(fs::exists(clips / ".keep"));
  EXPECT_TRUE(fs::is_directory(save / "2024"));
  std::error_code ec;
  fs::remove_all(save, ec);
}

// A clip file the program did not write, beyond the record reader's limits,
// is named and skipped: every command still runs, the other clips are read,
// and `trash` removes it.
TEST_F(DataSafety, AClipFileBeyondTheReaderLimitsIsSkippedNotFatal) {
  std::string many;
  for (int i = 0; i < 5000; ++i) many += " u" + std::to_string(i) + "=\"1\"";
  const std::string long_text(1024, 'x');
  struct Case {
    const char* file;
    std::string text;
    const char* problem;
  };
  const Case cases[] = {
      {"M20240102_031500_ST1.xml", "<halvex_record memo=\"" + long_text + "\"/>",
       "readXML: text of \"memo\" too long (1024 bytes, at most 1023), file skipped\n"},
      {"M20240102_031500_ST1.xml", "<halvex_record" + many + "/>",
       "readXML too many param (more than 999 attributes in one element), file skipped\n"},
      {"M20240102_031500_ST1A.XML",
       "<meridra_record cx=\"720\">\r\n<mr2_objects>\r\n<mr2_object class=\"" + long_text +
           "\">\r\n</mr2_object>\r\n</mr2_objects>\r\n</meridra_record>\r\n",
       "readXML: text of \"class\" too long (1024 bytes, at most 1023), file skipped\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir clips("mr4-safety-clips");
    ASSERT_EQ(Run({"dirs", "add", clips.path().string()}).exit_code, 0);
    WriteFileBytes(clips / c.file, c.text);
    WriteFileBytes(clips / "M20240102_031600_ST1.xml", "<halvex_record cx=\"1280\"/>");
    const std::string problem = c.problem + (clips / c.file).string() + "\n";

    const ProgramResult scan = Run({"scan"});
    EXPECT_EQ(scan.exit_code, 0) << scan.err;
    EXPECT_NE(scan.err.find(problem), std::string::npos) << scan.err;
    EXPECT_NE(scan.out.find("M20240102_031500_ST1 "), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("1280"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("2 clips"), std::string::npos) << scan.out;

    const ProgramResult trash = Run({"--yes", "trash"});
    EXPECT_EQ(trash.exit_code, 0) << trash.err;
    EXPECT_FALSE(fs::exists(clips / c.file));
    ASSERT_EQ(Run({"dirs", "remove", "1"}).exit_code, 0);
  }
}

// A camera profile copied in from elsewhere, beyond those limits, is named
// and not used: its directory's clips are listed, not calibrated.
TEST_F(DataSafety, AProfileBeyondTheReaderLimitsIsReportedNotFatal) {
  TempDir clips("mr4-safety-clips");
  ASSERT_EQ(Run({"dirs", "add", clips.path().string(), "--profile", "cam.xml"}).exit_code, 0);
  ASSERT_EQ(Run({"profile", "set", "cam.xml", "lid=TK"}).exit_code, 0);
  const fs::path profile = home_ / "PROF" / "cam.xml";
  std::string text = ReadFileBytes(profile);
  text.insert(text.find("lid=\""), "cam=\"" + std::string(1100, 'c') + "\" ");
  WriteFileBytes(profile, text);
  WriteFileBytes(clips / "M20240102_031500_ST1.xml", "<halvex_record cx=\"1280\"/>");

  const ProgramResult scan = Run({"scan"});
  EXPECT_EQ(scan.exit_code, 2) << scan.err;
  EXPECT_NE(scan.err.find("readXML: text of \"cam\" too long (1100 bytes, at most 1023), "
                          "file skipped\n" + profile.string() + "\n"),
            std::string::npos)
      << scan.err;
  EXPECT_NE(scan.err.find("Cannot read the profile " + profile.string()), std::string::npos)
      << scan.err;
  EXPECT_NE(scan.out.find("1 clips"), std::string::npos) << scan.out;
}

}  // namespace
}  // namespace mr4::test
