// Clip file operations on real directory trees in a temporary folder:
// which files are a clip's, the night folders, overwrite questions, moves
// onto themselves, moves to a second file system, the trash rules and their
// fallbacks, the after-move command, cleaning, the dialog's targets, and
// the PNG of a drawn page.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "clips/clip_file_ops.h"
#include "clips/save_png.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

// The system trash of this process lives in a scratch data folder: GIO
// reads XDG_DATA_HOME once, so it is set before any test runs.
struct ScratchDataHome {
  ScratchDataHome() {
    std::string pattern = (fs::temp_directory_path() / "mr4-xdg.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    setenv("XDG_DATA_HOME", pattern.c_str(), 1);
    path = pattern;
  }
  ~ScratchDataHome() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
  fs::path path;
};
const ScratchDataHome kScratchDataHome;
const fs::path& kDataHome = kScratchDataHome.path;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every regular file under `root` (relative path -> content).
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).string()] = ReadAll(entry.path());
    }
  }
  return files;
}

bool RefusingTrash(const fs::path&, std::string* error) {
  *error = "trash not supported on this mount";
  return false;
}

class FileOps : public ClipTest {
 protected:
  void SetUp() override {
    ClipTest::SetUp();
    in_ = root_ / "in";
    save_ = root_ / "save";
    fs::create_directories(in_);
    fs::create_directories(save_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!other_fs_.empty()) fs::remove_all(other_fs_, ec);
    ClipTest::TearDown();
  }

  // Writes the files of clip `name` (the suffixes given) in `dir`, each
  // holding its own name and `tag`.
  void MakeClip(const fs::path& dir, const std::string& name,
                std::vector<std::string> suffixes = {".avi", ".xml", "P.BMP", "T.jpg"},
                const std::string& tag = "") {
    for (const std::string& s : suffixes) WriteText(dir / (name + s), name + s + tag);
  }

  int AddDirRowWithSave(const fs::path& dir, const fs::path& save, bool ymd) {
    const int row = AddDirRow(dir);
    Tables().dir.SetText(row, dir::kSaveDir, save.native());
    Tables().dir.SetUint(row, dir::kYmd, ymd ? 1 : 0);
    return row;
  }

  std::vector<int> AllRows() const {
    std::vector<int> rows;
    for (int r = 0; r < Tables().clip.count(); ++r) {
      if (Tables().clip.Exists(r)) rows.push_back(r);
    }
    return rows;
  }

  int ErrorsContaining(const std::string& text) const {
    int n = 0;
    for (const auto& m : ui_.messages()) n += m.text.find(text) != std::string::npos;
    return n;
  }

  // A scratch folder on another file system than root_ (a tmpfs), or empty.
  fs::path OtherFileSystem() {
    struct stat here {}, there {};
    if (::stat(root_.c_str(), &here) != 0) return {};
    std::string pattern = "/dev/shm/mr4-fileops.XXXXXX";
    if (::stat("/dev/shm", &there) != 0 || there.st_dev == here.st_dev ||
        mkdtemp(pattern.data()) == nullptr) {
      return {};
    }
    other_fs_ = pattern;
    return other_fs_;
  }

  fs::path in_, save_, other_fs_;
};

TEST_F(FileOps, NightFolderFilesMorningClipsUnderTheEveningBefore) {
  struct Case {
    int y, mo, d, h;
    const char* folder;
  };
  const Case cases[] = {
      {2024, 1, 2, 3, "2024/202401/20240101"},   {2024, 1, 2, 12, "2024/202401/20240102"},
      {2024, 3, 1, 5, "2024/202402/20240229"},   {2024, 1, 1, 11, "2023/202312/20231231"},
      {2023, 3, 1, 0, "2023/202302/20230228"},   {2024, 6, 30, 23, "2024/202406/20240630"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NightFolder(c.y, c.mo, c.d, c.h), fs::path(c.folder))
        << c.y << "-" << c.mo << "-" << c.d << " " << c.h;
  }
}

TEST_F(FileOps, AClipsFilesAreItsOwnNotThoseOfALongerName) {
  MakeClip(in_, "M20240101_203015_ST1", {".avi", ".xml", "A.XML", "B.XML", "L.csv",
                                         "_clicks.csv", "P.BMP", "T.jpg"});
  MakeClip(in_, "M20240101_203015_ST10", {".avi", ".xml", "A.XML", "L.csv"});
  fs::create_directories(in_ / "M20240101_203015_ST1.avi.d");
  WriteText(in_ / "M20240101_203015_ST1.txt.bak", "x");  // not "X.ext": no clip file
  const std::vector<fs::path> files = ClipFilesIn(in_, "M20240101_203015_ST1");
  std::vector<std::string> names;
  for (const fs::path& f : files) names.push_back(f.filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "M20240101_203015_ST1.avi", "M20240101_203015_ST1.xml",
                       "M20240101_203015_ST1A.XML", "M20240101_203015_ST1B.XML",
                       "M20240101_203015_ST1L.csv", "M20240101_203015_ST1P.BMP",
                       "M20240101_203015_ST1T.jpg", "M20240101_203015_ST1_clicks.csv"}));

  // Trashing the shorter name leaves the longer one whole.
  AddDirRow(in_);
  ReadClipDirectories();
  FileOpRun run;
  EXPECT_TRUE(TrashClipFiles(RowOf("M20240101_203015_ST1"), run));
  EXPECT_EQ(ClipFilesIn(in_, "M20240101_203015_ST10").size(), 4u);
  EXPECT_TRUE(ClipFilesIn(in_, "M20240101_203015_ST1").empty());
  EXPECT_EQ(run.files, 8);
}

TEST_F(FileOps, MoveCheckedClipsFilesByNightAndAsksOnceForOverwrites) {
  MakeClip(in_, "M20240102_031500_ST1");
  MakeClip(in_, "M20240102_034000_ST1");
  MakeClip(in_, "M20240102_120000_ST1", {".avi"});
  const fs::path night = save_ / "2024/202401/20240101";
  MakeClip(night, "M20240102_031500_ST1", {".avi"}, " old");
  MakeClip(night, "M20240102_034000_ST1", {".avi"}, " old");
  AddDirRowWithSave(in_, save_, true);
  ReadClipDirectories();
  // Clips go in list order (the scan's): either conflict may come first.
  const std::string first_clip(Tables().clip.Text(0, clip::kClipName));
  ui_.QueueAnswer(true);  // move 3 clips
  ui_.QueueAnswer(true);  // the first conflict
  FileOpRun run;
  ASSERT_TRUE(MoveCheckedClips(run));
  const std::vector<std::string> questions = ui_.questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0], "Move Checked 3 clips to 'save dir' ok?");
  EXPECT_EQ(questions[1], "Destination file already exists overwrite?\n" +
                              (night / (first_clip + ".avi")).native());
  EXPECT_EQ(ReadAll(night / "M20240102_031500_ST1.avi"), "M20240102_031500_ST1.avi");
  EXPECT_EQ(ReadAll(night / "M20240102_034000_ST1.avi"), "M20240102_034000_ST1.avi");
  EXPECT_TRUE(fs::exists(night / "M20240102_034000_ST1T.jpg"));
  EXPECT_TRUE(fs::exists(save_ / "2024/202401/20240102/M20240102_120000_ST1.avi"));
  EXPECT_TRUE(Tree(in_).empty());
  EXPECT_EQ(run.clips, 3);
  EXPECT_EQ(run.files, 9);
  EXPECT_EQ(run.failures, 0);
  const std::vector<std::string> status = ui_.status_lines();
  EXPECT_NE(std::find(status.begin(), status.end(), "1/3 moving " + first_clip + "\n"),
            status.end());
}

TEST_F(FileOps, MoveCheckedClipsNeedsAValidSaveDirAndHonoursTheStopFlag) {
  MakeClip(in_, "M20240102_031500_ST1", {".avi"});
  const int row = AddDirRowWithSave(in_, root_ / "missing", false);
  ReadClipDirectories();
  FileOpRun run;
  EXPECT_FALSE(MoveCheckedClips(run));
  EXPECT_EQ(ErrorsContaining("No clips to move"), 1);
  // The setting stays for when its drive is back.
  EXPECT_EQ(Tables().dir.Text(row, dir::kSaveDir), (root_ / "missing").native());
  EXPECT_EQ(Tables().clip.Int(RowOf("M20240102_031500_ST1"), clip::kCheck), 0);

  // With the after-move command on, the question offers to run it anyway.
  AppSettings().moveendC = 1;
  AppSettings().moveendcom = (root_ / "after.sh").native();
  FileOpRun with_command;
  EXPECT_FALSE(MoveCheckedClips(with_command));
  EXPECT_EQ(ui_.questions().back(), "No move clips. execute \"after mvC\"?");

  // A stop before the first clip moves nothing, and still rescans.
  AppSettings().moveendC = 0;
  Tables().dir.SetText(row, dir::kSaveDir, save_.native());
  ReadClipDirectories();
  ui_.QueueAnswer(true);
  const std::atomic<bool> stop{true};
  FileOpRun stopped;
  stopped.stop = &stop;
  EXPECT_TRUE(MoveCheckedClips(stopped));
  EXPECT_EQ(stopped.files, 0);
  EXPECT_TRUE(fs::exists(in_ / "M20240102_031500_ST1.avi"));
  EXPECT_EQ(ClipKeys().size(), 1u);
}

TEST_F(FileOps, CancelStopsTheClipInMoveCheckedClipsAndTheRunInTheDialog) {
  for (const char* name : {"M20240102_031500_ST1", "M20240102_034000_ST1"}) {
    MakeClip(in_, name, {".avi", "T.jpg"});
    MakeClip(save_, name, {".avi"}, " old");
  }
  AddDirRowWithSave(in_, save_, false);
  ReadClipDirectories();
  const std::string first(Tables().clip.Text(0, clip::kClipName));
  const std::string second(Tables().clip.Text(1, clip::kClipName));
  ui_.QueueAnswer(true);   // move
  ui_.QueueAnswer(false);  // first clip: Cancel
  ui_.QueueAnswer(true);   // second clip: OK
  FileOpRun run;
  ASSERT_TRUE(MoveCheckedClips(run));
  EXPECT_EQ(ui_.questions().size(), 3u);
  // The first clip of the list stopped at its conflict (its ".avi" sorts
  // first), the second went.
  EXPECT_TRUE(fs::exists(in_ / (first + ".avi")));
  EXPECT_TRUE(fs::exists(in_ / (first + "T.jpg")));
  EXPECT_EQ(ReadAll(save_ / (first + ".avi")), first + ".avi old");
  EXPECT_EQ(ReadAll(save_ / (second + ".avi")), second + ".avi");
  EXPECT_TRUE(fs::exists(save_ / (second + "T.jpg")));

  // The dialog's move: Cancel ends the whole run.
  const fs::path dest = root_ / "dest";
  for (const char* name : {"M20240102_031500_ST1", "M20240102_034000_ST1"}) {
    MakeClip(in_, name, {".avi"});
    MakeClip(dest, name, {".avi"}, " old");
  }
  ReadClipDirectories();
  ui_.Clear();
  ui_.QueueAnswer(false);
  DispatchSwitches all_unclassified;
  all_unclassified.unclassified = true;
  FileOpRun dialog;
  ASSERT_TRUE(DispatchMoveClips(AllRows(), all_unclassified, dest, false, dialog));
  EXPECT_EQ(ui_.questions().size(), 1u);
  EXPECT_EQ(Tree(in_).size(), 3u);  // nothing moved
}

TEST_F(FileOps, AMoveOntoItselfIsSkippedAndLosesNothing) {
  // A save directory inside the input tree: the clip already lies in its
  // night folder.
  const fs::path night = in_ / "2024/202401/20240101";
  MakeClip(night, "M20240102_031500_ST1");
  AddDirRowWithSave(in_, in_, true);
  ReadClipDirectories();
  ui_.QueueAnswer(true);
  ui_.QueueAnswer(true);
  FileOpRun run;
  MoveCheckedClips(run);
  EXPECT_EQ(Tree(in_).size(), 4u);
  EXPECT_EQ(run.skipped, 4);
  EXPECT_EQ(ErrorsContaining("is already in"), 1);

  // A destination that is a link to the clip's folder, and a file linked
  // under the target name.
  fs::create_directory_symlink(night, root_ / "link");
  fs::create_directories(root_ / "hard");
  fs::create_hard_link(night / "M20240102_031500_ST1.avi", root_ / "hard/M20240102_031500_ST1.avi");
  ReadClipDirectories();
  DispatchSwitches targets;
  targets.unclassified = true;
  const std::pair<fs::path, bool> cases[] = {
      {root_ / "link", false}, {root_ / "link", true}, {night, false},
      {night, true},           {root_ / "hard", true},
  };
  for (const auto& [dest, copy] : cases) {
    ui_.Clear();
    ui_.QueueAnswer(true);
    FileOpRun dialog;
    DispatchSummary summary;
    DispatchMoveClips(AllRows(), targets, dest, copy, dialog, {}, &summary);
    EXPECT_GE(dialog.skipped, 1) << dest;
    // A clip whose folder is the destination is left as a whole; one whose
    // single file is linked there has its other files moved.
    const std::vector<std::string> clip = {"M20240102_031500_ST1"};
    const bool whole = dest != root_ / "hard";
    EXPECT_EQ(summary.skipped, whole ? clip : std::vector<std::string>{}) << dest;
    EXPECT_EQ(summary.moved, whole ? std::vector<std::string>{} : clip) << dest;
    EXPECT_TRUE(summary.failed.empty()) << dest;
    EXPECT_TRUE(summary.declined.empty()) << dest;
    EXPECT_EQ(dialog.failures, 0) << dest;
    EXPECT_EQ(ReadAll(night / "M20240102_031500_ST1.avi"), "M20240102_031500_ST1.avi")
        << dest << " copy " << copy;
    EXPECT_EQ(Tree(night).size(), 4u) << dest << " copy " << copy;
  }
}

TEST_F(FileOps, OverwritesReplaceByRenameAndFailuresLeaveBothFiles) {
  MakeClip(in_, "M20240102_031500_ST1", {".avi", ".xml"});
  const fs::path dest = root_ / "dest";
  MakeClip(dest, "M20240102_031500_ST1", {".avi"}, " old");
  // A directory in the way of the capture record: that file cannot go.
  fs::create_directories(dest / "M20240102_031500_ST1.xml" / "inside");
  AddDirRow(in_);
  ReadClipDirectories();
  DispatchSwitches targets;
  targets.unclassified = true;
  for (bool copy : {true, false}) {
    ui_.Clear();
    ui_.QueueAnswer(true);
    FileOpRun run;
    DispatchMoveClips(AllRows(), targets, dest, copy, run);
    EXPECT_EQ(run.failures, 1) << copy;
    EXPECT_EQ(ErrorsContaining(copy ? "Cannot copy" : "Cannot move"), 1) << copy;
    EXPECT_EQ(ReadAll(dest / "M20240102_031500_ST1.avi"), "M20240102_031500_ST1.avi");
    EXPECT_EQ(ReadAll(in_ / "M20240102_031500_ST1.xml"), "M20240102_031500_ST1.xml");
    EXPECT_TRUE(fs::exists(dest / "M20240102_031500_ST1.xml" / "inside"));
  }
  EXPECT_FALSE(fs::exists(in_ / "M20240102_031500_ST1.avi"));
  for (const auto& entry : fs::directory_iterator(dest)) {
    EXPECT_EQ(entry.path().filename().string().find(".mr4part-"), std::string::npos);
  }
}

TEST_F(FileOps, MoveToAnotherFileSystemCopiesThenRemovesTheSource) {
  const fs::path other = OtherFileSystem();
  if (other.empty()) GTEST_SKIP() << "no second file system (tmpfs /dev/shm) to move to";
  MakeClip(in_, "M20240102_031500_ST1", {".avi", ".xml", "P.BMP"});
  WriteText(in_ / "M20240102_031500_ST1.avi", std::string(3 << 20, 'v'));  // > one buffer
  fs::permissions(in_ / "M20240102_031500_ST1.xml", fs::perms::owner_read | fs::perms::owner_write);
  MakeClip(other / "2024/202401/20240101", "M20240102_031500_ST1", {"P.BMP"}, " old");
  AddDirRowWithSave(in_, other, true);
  ReadClipDirectories();
  ui_.QueueAnswer(true);
  ui_.QueueAnswer(true);
  FileOpRun run;
  ASSERT_TRUE(MoveCheckedClips(run));
  EXPECT_EQ(run.failures, 0);
  EXPECT_TRUE(Tree(in_).empty());
  const std::map<std::string, std::string> moved = Tree(other);
  ASSERT_EQ(moved.size(), 3u);
  EXPECT_EQ(moved.at("2024/202401/20240101/M20240102_031500_ST1.avi"), std::string(3 << 20, 'v'));
  EXPECT_EQ(moved.at("2024/202401/20240101/M20240102_031500_ST1P.BMP"),
            "M20240102_031500_ST1P.BMP");
  EXPECT_EQ(fs::status(other / "2024/202401/20240101/M20240102_031500_ST1.xml").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileOps, TrashRules) {
  const std::string name = "M20240102_031500_ST1";
  AddDirRow(in_);
  struct Case {
    const char* what;
    int trashdir, usetrash;
    bool refuse_system_trash;
    bool to_trash_folder, to_system_trash;
  };
  const Case cases[] = {
      {"TrashDir over TrashBox", 1, 1, false, true, false},
      {"TrashDir", 1, 0, false, true, false},
      {"TrashBox", 0, 1, false, false, true},
      {"TrashBox refused falls back", 0, 1, true, true, false},
      {"neither: deleted", 0, 0, false, false, false},
  };
  for (const Case& c : cases) {
    std::error_code ec;
    fs::remove_all(in_ / "Trash", ec);
    fs::remove_all(kDataHome / "Trash", ec);
    ui_.Clear();
    MakeClip(in_, name, {".avi", "T.jpg"});
    ReadClipDirectories();
    AppSettings().trashdir = c.trashdir;
    AppSettings().usetrash = c.usetrash;
    FileOpRun run;
    if (c.refuse_system_trash) run.system_trash = RefusingTrash;
    EXPECT_TRUE(TrashClipFiles(RowOf(name), run)) << c.what;
    EXPECT_TRUE(ClipFilesIn(in_, name).empty()) << c.what;
    EXPECT_EQ(fs::exists(in_ / "Trash" / (name + ".avi")), c.to_trash_folder) << c.what;
    EXPECT_EQ(fs::exists(kDataHome / "Trash/files" / (name + ".avi")), c.to_system_trash)
        << c.what;
    EXPECT_EQ(ErrorsContaining("The system trash cannot take"), c.refuse_system_trash ? 1 : 0)
        << c.what;
  }
}

TEST_F(FileOps, TheTrashFolderNeverHasAFileReplaced) {
  const std::string name = "M20240102_031500_ST1";
  AppSettings().trashdir = 1;
  AddDirRow(in_);
  for (int round = 0; round < 3; ++round) {
    MakeClip(in_, name, {".avi"}, " #" + std::to_string(round));
    ReadClipDirectories();
    FileOpRun run;
    EXPECT_TRUE(TrashClipFiles(RowOf(name), run));
  }
  EXPECT_EQ(ReadAll(in_ / "Trash" / (name + ".avi")), name + ".avi #0");
  EXPECT_EQ(ReadAll(in_ / "Trash" / (name + ".avi.~1~")), name + ".avi #1");
  EXPECT_EQ(ReadAll(in_ / "Trash" / (name + ".avi.~2~")), name + ".avi #2");
}

TEST_F(FileOps, AFailedDeletionIsReportedAndTheClipKeepsItsRow) {
  const std::string name = "M20240102_031500_ST1";
  MakeClip(in_, name, {".avi", ".xml"});
  WriteText(in_ / "Trash", "a file where the folder would go");
  AppSettings().trashdir = 1;
  AddDirRow(in_);
  ReadClipDirectories();
  const int row = RowOf(name);
  FileOpRun run;
  EXPECT_FALSE(DeleteClip(row, -1, run));
  EXPECT_EQ(run.failures, 2);
  EXPECT_EQ(ErrorsContaining("Cannot delete"), 2);
  EXPECT_TRUE(Tables().clip.Exists(row));
  EXPECT_EQ(ClipFilesIn(in_, name).size(), 2u);

  fs::remove(in_ / "Trash");
  FileOpRun second;
  EXPECT_TRUE(DeleteClip(row, -1, second));
  EXPECT_TRUE(row >= Tables().clip.count() || !Tables().clip.Exists(row));
  EXPECT_EQ(CurrentClip().row, -1);
}

TEST_F(FileOps, DeleteCheckedClipsAndResults) {
  MakeClip(in_, "M20240102_031500_ST1", {".avi", "A.XML"});
  MakeClip(in_, "M20240102_034000_ST1", {".avi", "A.XML"});
  MakeClip(in_, "M20240102_040000_ST1", {".avi"});
  AddDirRow(in_);
  ReadClipDirectories();
  Tables().clip.SetInt(RowOf("M20240102_034000_ST1"), clip::kCheck, 0);
  Tables().clip.SetInt(RowOf("M20240102_040000_ST1"), clip::kCheck, 0);
  ui_.QueueAnswer(true);
  FileOpRun run;
  ASSERT_TRUE(DeleteCheckedClips(run));
  EXPECT_EQ(ui_.questions().at(0), "DELETE CHECKED 1 clips ok?");
  EXPECT_EQ(ClipKeys().size(), 2u);

  FileOpRun none;
  EXPECT_FALSE(DeleteClipResult(RowOf("M20240102_040000_ST1"), none));
  EXPECT_EQ(none.files, 0);
  ui_.QueueAnswer(true);
  FileOpRun results;
  ASSERT_TRUE(DeleteListedResults(AllRows(), results));
  EXPECT_EQ(results.files, 1);
  EXPECT_EQ(Tree(in_).size(), 2u);
  EXPECT_FALSE(fs::exists(in_ / "M20240102_034000_ST1A.XML"));
}

TEST_F(FileOps, DispatchTargetsAndSingleFileDeletions) {
  Table& eclasses = Tables().eclass;
  eclasses.Clear();
  const int e = eclasses.AppendRow();
  eclasses.SetText(e, eclass::kEcls, "_plane");
  eclasses.SetUint(e, eclass::kTarget, 1);
  const int f = eclasses.AppendRow();
  eclasses.SetText(f, eclass::kEcls, "_bird");
  MakeClip(in_, "M20240102_031500_ST1=M20240102_031510_ST1", {".avi"});
  for (const char* name : {"M20240102_031500_ST1", "M20240102_032000_ST1",
                           "M20240102_033000_ST1", "M20240102_034000_ST1",
                           "M20240102_035000_ST1"}) {
    MakeClip(in_, name, {".avi", "A.XML", "T.jpg"});
  }
  AddDirRow(in_);
  ReadClipDirectories();
  Table& clips = Tables().clip;
  clips.SetText(RowOf("M20240102_031500_ST1"), clip::kClass, "__noise");
  clips.SetText(RowOf("M20240102_032000_ST1"), clip::kClass, "_plane");
  clips.SetText(RowOf("M20240102_033000_ST1"), clip::kClass, "_bird");
  clips.SetText(RowOf("M20240102_034000_ST1"), clip::kClass, "GEM");
  clips.SetText(RowOf("M20240102_035000_ST1"), clip::kClass, "spo");
  struct Case {
    DispatchSwitches switches;
    std::vector<std::string> targets;
  };
  const Case cases[] = {
      {{true, false, false, false, false}, {"M20240102_031500_ST1=M20240102_031510_ST1"}},
      // The "=" clip has no result: an empty class.
      {{false, false, false, true, false},
       {"M20240102_031500_ST1", "M20240102_031500_ST1=M20240102_031510_ST1"}},
      {{false, false, false, false, true}, {"M20240102_032000_ST1"}},
      {{false, true, true, false, false}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> targets;
    for (int r : AllRows()) {
      if (IsDispatchTarget(r, c.switches)) targets.push_back(std::string(clips.Text(r, clip::kClipName)));
    }
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, c.targets);
  }
  DispatchSwitches unclassified;
  unclassified.unclassified = true;
  EXPECT_EQ(CountDispatchTargets(AllRows(), unclassified).clips, 2);
  const std::vector<std::string> status = ui_.status_lines();
  EXPECT_NE(std::find(status.begin(), status.end(), " 2 clips  0.0 MB"), status.end());
  EXPECT_EQ(status.back(), "");
  DispatchSwitches thumbnails;
  thumbnails.thumbnails = true;
  EXPECT_EQ(CountDispatchTargets(AllRows(), thumbnails).clips, 0);
  ui_.QueueAnswer(true);
  FileOpRun run;
  ASSERT_TRUE(DispatchDeleteClips(AllRows(), thumbnails, run));
  EXPECT_EQ(run.files, 5);
  for (const auto& [path, content] : Tree(in_)) {
    EXPECT_EQ(path.find("T.jpg"), std::string::npos) << path;
  }
  EXPECT_EQ(Tree(in_).size(), 11u);
}

TEST_F(FileOps, DispatchMovesAndCopiesOnlyTargetsIntoAnExistingDestination) {
  const std::string interval = "M20240102_031500_ST1=M20240102_031510_ST1";
  const std::string plain = "M20240102_032000_ST1";
  MakeClip(in_, plain, {".avi", "T.jpg"});
  AddDirRow(in_);
  DispatchSwitches intervals;
  intervals.interval = true;
  for (bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "copy" : "move");
    MakeClip(in_, interval, {".avi", "T.jpg"});
    ReadClipDirectories();
    const auto before = Tree(in_);
    // A destination that does not exist: said, and nothing happens.
    const fs::path missing = root_ / "no such folder";
    ui_.Clear();
    FileOpRun refused;
    EXPECT_FALSE(DispatchMoveClips(AllRows(), intervals, missing, copy, refused));
    EXPECT_EQ(ErrorsContaining("destination directiry does not exist\n" + missing.native()), 1);
    EXPECT_EQ(Tree(in_), before);
    EXPECT_FALSE(fs::exists(missing));

    const fs::path dest = root_ / (copy ? "copied" : "moved");
    fs::create_directories(dest);
    ui_.Clear();
    FileOpRun run;
    ASSERT_TRUE(DispatchMoveClips(AllRows(), intervals, dest, copy, run));
    EXPECT_TRUE(ui_.questions().empty());
    EXPECT_EQ(run.clips, 1);
    const std::map<std::string, std::string> expected = {
        {interval + ".avi", interval + ".avi"}, {interval + "T.jpg", interval + "T.jpg"}};
    EXPECT_EQ(Tree(dest), expected);
    EXPECT_EQ(fs::exists(in_ / (interval + ".avi")), copy);
    EXPECT_EQ(ReadAll(in_ / (plain + ".avi")), plain + ".avi");
    // "Read dir" ran: the moved clip left the table, a copied one stays.
    EXPECT_EQ(RowOf(interval) >= 0, copy);
  }
}

TEST_F(FileOps, TheAfterMoveCommandRunsWithoutAShell) {
  // A name a shell would split and run in two.
  const fs::path script = root_ / "after move;touch pwned.sh";
  WriteText(script, "#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran\"\n");
  fs::permissions(script, fs::perms::owner_all);
  ASSERT_TRUE(RunAfterMoveCommand(script));
  for (int i = 0; i < 500 && !fs::exists(root_ / "ran"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(ReadAll(root_ / "ran"), "ran\n");
  EXPECT_FALSE(fs::exists(root_ / "pwned.sh"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "pwned.sh"));

  // Not executable: handed to the default application (or reported), never run.
  fs::remove(root_ / "ran");
  fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
  if (!RunAfterMoveCommand(script)) {
    EXPECT_EQ(ErrorsContaining("after-move command"), 1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(root_ / "ran"));
}

TEST_F(FileOps, CleaningRemovesOneLevelOfEmptyDatedFoldersPerRun) {
  fs::create_directories(in_ / "2024/202401/20240101");
  fs::create_directories(in_ / "2024/202401/20240102");
  WriteText(in_ / "2024/202401/20240102/Thumb.db", "cache");
  WriteText(in_ / "2024/202401/20240102/.hidden", "");  // keeps it: rmdir only
  fs::create_directories(in_ / "other");
  fs::create_directories(in_ / "2025/keep");
  fs::create_directories(root_ / "outside/20300101");
  fs::create_directory_symlink(root_ / "outside/20300101", in_ / "20991231");
  AddDirRow(in_);
  const CleaningResult first = CleanClipDirectories();
  EXPECT_EQ(first.directories, 1);
  EXPECT_EQ(first.files, 1);
  EXPECT_FALSE(fs::exists(in_ / "2024/202401/20240101"));
  EXPECT_TRUE(fs::exists(in_ / "2024/202401/20240102/.hidden"));
  EXPECT_EQ(ui_.status_lines().back(), "deleted 1 directories , 1 files");
  fs::remove(in_ / "2024/202401/20240102/.hidden");
  EXPECT_EQ(CleanClipDirectories().directories, 1);  // 20240102
  EXPECT_EQ(CleanClipDirectories().directories, 1);  // 202401
  EXPECT_EQ(CleanClipDirectories().directories, 1);  // 2024
  EXPECT_EQ(CleanClipDirectories().directories, 0);
  EXPECT_TRUE(fs::exists(in_ / "other"));
  EXPECT_TRUE(fs::exists(in_ / "2025/keep"));
  EXPECT_TRUE(fs::is_symlink(in_ / "20991231"));
  EXPECT_TRUE(fs::exists(root_ / "outside/20300101"));

  // The directory of a row is kept even when empty and dated.
  fs::create_directories(root_ / "20240105");
  EXPECT_EQ(CleanDirectory(root_ / "20240105").directories, 0);
  EXPECT_TRUE(fs::exists(root_ / "20240105"));
}

TEST_F(FileOps, SaveImageAsPngBlacksOutTheLightMargins) {
  const int w = 20, h = 20;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 3, 100);
  auto at = [&](int x, int y) { return &pixels[(static_cast<std::size_t>(y) * w + x) * 3]; };
  for (int y = 0; y < h; ++y) {
    for (int x = 17; x < w; ++x) *at(x, y) = 240;  // light right margin
  }
  for (int y = 1; y < 3; ++y) *at(0, y) = 235;       // light bottom rows 1, 2
  const std::vector<std::uint8_t> original = pixels;
  const fs::path path = root_ / "GMAP.png";
  ASSERT_EQ(SaveImageAsPng(path, pixels, w, h), ImageStatus::kOk);
  EXPECT_EQ(pixels, original);
  EXPECT_FALSE(fs::exists(fs::current_path() / "Y.bmp"));

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
  image.format = PNG_FORMAT_BGR;
  std::vector<std::uint8_t> read(PNG_IMAGE_SIZE(image));
  // Negative stride: bottom row first, as the program's buffers.
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, read.data(), -w * 3, nullptr));
  ASSERT_EQ(image.width, 20u);
  auto got = [&](int x, int y) { return read[(static_cast<std::size_t>(y) * w + x) * 3]; };
  EXPECT_EQ(got(5, 0), 0);    // first row
  EXPECT_EQ(got(5, 2), 0);    // light rows after it
  EXPECT_EQ(got(5, 3), 100);
  EXPECT_EQ(got(16, 10), 100);
  EXPECT_EQ(got(17, 10), 0);  // margin
  EXPECT_EQ(got(19, 19), 0);
}

// A night of 200 clips into dated folders on (when there is one) another
// file system, with conflicts and names that are prefixes of others: no
// file is lost or duplicated.
TEST_F(FileOps, ANightOf200ClipsLosesAndDuplicatesNothing) {
  fs::path save = OtherFileSystem();
  if (save.empty()) save = save_;
  std::map<std::string, std::string> expected;  // relative path in save -> content
  for (int i = 0; i < 200; ++i) {
    const int minutes = 20 * 60 + i * 3;  // 20:00 to 05:57
    char name[64];
    std::snprintf(name, sizeof name, "M202401%02d_%02d%02d00_ST%d", minutes >= 1440 ? 2 : 1,
                  (minutes / 60) % 24, minutes % 60, i % 20 == 0 ? 1 : 10);
    std::string clip = name;
    if (i % 20 == 0) {
      // A clip named as the prefix of another recorded at the same second.
      MakeClip(in_, clip + "0", {".avi", "T.jpg"}, std::string(i + 7, 'q'));
      for (const char* s : {".avi", "T.jpg"}) {
        expected["2024/202401/20240101/" + clip + "0" + s] = clip + "0" + s + std::string(i + 7, 'q');
      }
    }
    MakeClip(in_, clip, {".avi", ".xml", "P.BMP", "T.jpg"}, std::string(i * 50, 'x'));
    for (const char* s : {".avi", ".xml", "P.BMP", "T.jpg"}) {
      expected["2024/202401/20240101/" + clip + s] = clip + s + std::string(i * 50, 'x');
    }
    if (i % 25 == 3) MakeClip(save / "2024/202401/20240101", clip, {".avi"}, " conflict");
  }
  AddDirRowWithSave(in_, save, true);
  ReadClipDirectories();
  ASSERT_EQ(ClipKeys().size(), 210u);
  ui_.QueueAnswer(true);
  ui_.QueueAnswer(true);
  FileOpRun run;
  ASSERT_TRUE(MoveCheckedClips(run));
  EXPECT_EQ(ui_.questions().size(), 2u);
  EXPECT_EQ(run.failures, 0);
  EXPECT_EQ(run.clips, 210);
  EXPECT_TRUE(Tree(in_).empty());
  EXPECT_EQ(Tree(save), expected);
}

// The summary's lines: singular and plural, the copy's words, lists cut
// after kSummaryNamesShown names, lines only for what happened.
TEST(DispatchSummaryText, SaysWhatHappenedToEachList) {
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back("M20240102_0315" + std::to_string(10 + i) + "_ST1");
  DispatchSummary copied;
  copied.copy = true;
  copied.moved = {"A", "B"};
  copied.files = 3;
  copied.bytes = 3 << 19;
  DispatchSummary left;
  left.skipped = ten;
  DispatchSummary declined;
  declined.moved = {"A"};
  declined.failed = {"B"};
  declined.skipped = {"C", "D"};
  declined.declined = "C";
  declined.files = 1;
  const std::pair<DispatchSummary, std::string> cases[] = {
      {DispatchSummary{}, "Moved 0 clips (0 files, 0.0 MB)"},
      {copied, "Copied 2 clips (3 files, 1.5 MB)\n  A\n  B"},
      {left, "Moved 0 clips (0 files, 0.0 MB)\nNot moved: 10 clips\n  " + ten[0] + "\n  " +
                 ten[1] + "\n  " + ten[2] + "\n  " + ten[3] + "\n  " + ten[4] + "\n  " +
                 ten[5] + "\n  " + ten[6] + "\n  " + ten[7] + "\n  ... and 2 more"},
      {declined,
       "Moved 1 clip (1 file, 0.0 MB)\n  A\nFailed: 1 clip (a file of each stayed where it "
       "was)\n  B\nNot moved: 2 clips (the overwrite of C was declined: the run stopped "
       "there)\n  C\n  D"},
  };
  for (const auto& [summary, text] : cases) EXPECT_EQ(DispatchSummaryText(summary), text);
}

}  // namespace
}  // namespace mr4::test
