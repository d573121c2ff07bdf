// End-to-end tests of `mr4 dirs` and `mr4 scan` on a home made by
// `mr4 init` and a small tree of clip files.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

class ClipCommands : public ::testing::Test {
 protected:
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }
  std::filesystem::path Clips() const { return clips_.path(); }
  void Touch(const std::string& relative, const std::string& text = "") {
    const std::filesystem::path path = clips_.path() / relative;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path, text);
  }

  TempHome home_{"mr4-clips-home"};
  TempDir clips_{"mr4-clips-tree"};
};

TEST_F(ClipCommands, DirsAddUseRemove) {
  ProgramResult add = Run({"dirs", "add", Clips().string(), "--profile", "p_TK.XML",
                           "--save-dir", "/data/saved", "--ymd"});
  ASSERT_EQ(add.exit_code, 0) << add.err;
  EXPECT_TRUE(std::filesystem::is_directory(home_.path() / "PROF"));
  EXPECT_NE(add.err.find("p_TK.XML does not exist yet"), std::string::npos) << add.err;
  ASSERT_EQ(Run({"dirs", "add", (Clips() / "second").string()}).exit_code, 0);
  ProgramResult held = Run({"dirs"});
  EXPECT_NE(held.out.find(" | p_TK.XML (file missing) | "), std::string::npos) << held.out;
  WriteFileBytes(home_.path() / "PROF" / "p_TK.XML",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<meridra_record cx=\"720\"/>\r\n");

  ProgramResult list = Run({"dirs"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_NE(list.out.find("1   1   1    " + Clips().string() + " | p_TK.XML | /data/saved\n"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("2   1   0    " + (Clips() / "second").string() + " |  | \n"),
            std::string::npos)
      << list.out;

  ASSERT_EQ(Run({"dirs", "use", "2", "off"}).exit_code, 0);
  const std::string table = ReadFileBytes(home_.path() / "MR4_DIR.csv");
  EXPECT_NE(table.find("\r\n101,0,_" + (Clips() / "second").string() + ",_,_,0,"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("\r\n101,1,_" + Clips().string() + ",_p_TK.XML,_/data/saved,1,"),
            std::string::npos)
      << table;

  ASSERT_EQ(Run({"dirs", "remove", "1"}).exit_code, 0);
  list = Run({"dirs", "list"});
  EXPECT_EQ(list.out.find(" p_TK.XML"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("1   0   0    " + (Clips() / "second").string()), std::string::npos)
      << list.out;
}

TEST_F(ClipCommands, DirsRefusals) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"dirs", "add", "/data/a,b"}, "cannot be kept in MR4_DIR.csv"},
      {{"dirs", "add", "/data/a\nb"}, "cannot be kept in MR4_DIR.csv"},
      {{"dirs", "add", "/data/a", "--profile", "x,y.XML"}, "cannot be kept"},
      {{"dirs", "add", "/data/a", "--profile", "sub/p.XML"}, "a file name in PROF/"},
      {{"dirs", "add"}, "give one directory"},
      {{"dirs", "use", "1", "on"}, "no directory row 1"},
      {{"dirs", "use", "1", "maybe"}, "usage: dirs use N on|off"},
      {{"dirs", "remove", "x"}, "no directory row x"},
      {{"dirs", "list", "--ymd"}, "belong to 'add'"},
      {{"dirs", "rename"}, "unknown action 'rename'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
    ProgramResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFileBytes(home_.path() / "MR4_DIR.csv").find("/data/a"), std::string::npos);
}

TEST_F(ClipCommands, ScanListsClipsAndKeepsTheRange) {
  Touch("M20240101_203015_ST1.avi", std::string(2048, 'x'));
  Touch("M20240101_203015_ST1.xml",
        "<halvex_record cx=\"720\" cy=\"480\" fps=\"29.97\" frames=\"300\"/>");
  Touch("M20240101_203015_ST1P.bmp");
  Touch("M20240102_010000_ST1.wmv");
  Touch("night/M20240101_203015_ST1T.jpg");
  Touch("Trash/M20240101_100000_ST1.avi");
  Touch("M20240101_211500_ST1.xml", "<halvex_record cx=720/>");  // broken
  Touch("Mtest.avi");
  ASSERT_EQ(Run({"dirs", "add", Clips().string()}).exit_code, 0);

  ProgramResult all = Run({"scan"});
  ASSERT_EQ(all.exit_code, 0) << all.err;
  EXPECT_EQ(all.out.rfind("clip_name ", 0), 0u) << all.out;
  EXPECT_NE(all.out.find(" media "), std::string::npos);
  EXPECT_EQ(all.out.substr(all.out.size() - 8), "5 clips\n") << all.out;
  EXPECT_NE(all.err.find("readXML: file broken"), std::string::npos) << all.err;

  ProgramResult csv = Run({"scan", "--csv", "--columns", "directory,clip_name,media,MT,codec,codecno,cx,y"});
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  const std::string dir = Clips().string();
  for (const std::string& line : {
           std::string("directory,clip_name,media,MT,codec,codecno,cx,y\n"),
           dir + ",M20240101_203015_ST1,AB  x   ,65553,?,-12,720,2024\n",
           dir + ",M20240102_010000_ST1,W       ,2,wmv ,-1,",
           dir + "/night,M20240101_203015_ST1,      t ,262144,",
           dir + ",Mtest,A       ,1,?,-11,"}) {
    EXPECT_NE(csv.out.find(line), std::string::npos) << line << "\n" << csv.out;
  }

  ProgramResult range = Run({"scan", "--range", "range", "--from", "2024-01-01 20",
                             "--days", "1", "--columns", "clip_name"});
  ASSERT_EQ(range.exit_code, 0) << range.err;
  EXPECT_EQ(range.out.substr(range.out.size() - 8), "4 clips\n") << range.out;
  EXPECT_EQ(range.out.find("Mtest"), std::string::npos);
  // The range is kept in the settings.
  ProgramResult kept = Run({"settings", "--get", "AP.dirrange", "--get", "AP.Y",
                            "--get", "AP.H", "--get", "AP.days"});
  EXPECT_NE(kept.out.find("AP.dirrange=1\n"), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("AP.Y=2024\n"), std::string::npos) << kept.out;
  EXPECT_NE(kept.out.find("AP.H=20\n"), std::string::npos) << kept.out;
  ProgramResult again = Run({"scan", "--columns", "clip_name"});
  EXPECT_EQ(again.out.substr(again.out.size() - 8), "4 clips\n") << again.out;
}

// "latest" counts back from the clock: a clip named for the current hour is
// in, one of 2020 is not.
TEST_F(ClipCommands, ScanLatestCountsBackFromNow) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "M%Y%m%d_%H0000_X.avi", &local);
  Touch(name);
  Touch("M20200101_000000_X.avi");
  ASSERT_EQ(Run({"dirs", "add", Clips().string()}).exit_code, 0);
  ProgramResult r = Run({"scan", "--range", "latest", "--from", "2024-01-01 23",
                         "--days", "2", "--columns", "clip_name"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(std::string(name).substr(0, 18)), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 8), "1 clips\n") << r.out;
  ProgramResult kept = Run({"settings", "--get", "AP.Y"});
  EXPECT_NE(kept.out, "AP.Y=2024\n");
}

TEST_F(ClipCommands, ScanRefusals) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"scan", "--range", "week"}, "--range is all, range or latest"},
      {{"scan", "--from", "2024-01-01"}, "--from wants 'YYYY-MM-DD HH'"},
      {{"scan", "--from", "2024-13-01 10"}, "--from wants"},
      {{"scan", "--days", "0"}, "--days wants 1 to 10000"},
      {{"scan", "--columns", "clip_name,nosuch"}, "no clip column 'nosuch'"},
      {{"scan", "extra"}, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    ProgramResult r = Run(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  ProgramResult kept = Run({"settings", "--get", "AP.dirrange"});
  EXPECT_EQ(kept.out, "AP.dirrange=0\n");
}

}  // namespace
}  // namespace mr4::test
