// End-to-end: `mr4 init`, `mr4 table`, and start-up and shut-down over the
// table files of a home directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

const char kDirHeader[] = "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n";

TEST(InitCommand, CreatesAHomeAndKeepsWhatIsThere) {
  TempDir home("mr4-init");
  ProgramResult first = RunMr4({"init", (home.path() / "new").string()});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  EXPECT_NE(first.out.find("PROF/"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("Qorx_LSec.csv"), std::string::npos);
  EXPECT_NE(first.out.find("V14.jx.csv"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(home.path() / "new" / "PROF"));
  EXPECT_EQ(ReadFileBytes(home.path() / "new" / "Qorx_LSec.csv"),
            ReadFileBytes(fs::path(MR4_SOURCE_DIR) / "data" / "Qorx_LSec.csv"));
  for (const auto& entry : fs::directory_iterator(home.path() / "new")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find(".py"), std::string::npos) << name;  // scripts stay behind
    EXPECT_EQ(name.find(".sh"), std::string::npos) << name;
  }

  WriteFileBytes(home.path() / "new" / "V14.jx.csv", "mine\r\n");
  ProgramResult again = RunMr4({"--home", (home.path() / "new").string(), "init"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(ReadFileBytes(home.path() / "new" / "V14.jx.csv"), "mine\r\n");

  EXPECT_EQ(RunMr4({"init", "a", "b"}).exit_code, 1);
}

TEST(Startup, ANewHomeWritesThePersistentTables) {
  TempHome home("mr4-home");
  ProgramResult r = RunMr4({"--home", home.path().string(), "settings", "--get", "gPAN"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(home.path() / "MR4_DIR.csv"), kDirHeader);
  EXPECT_EQ(ReadFileBytes(home.path() / "MR4_EClass.csv"), "_Version,_ecls,_target\r\n");
}

TEST(Startup, TablesComeBackAsTheyWereAndMissingProfilesAreKept) {
  TempHome home("mr4-home");
  WriteFileBytes(home.path() / "PROF" / "cam1.xml", "<profile/>");
  const std::string dirs = std::string(kDirHeader) +
                           "101,1,_/clips/a,_cam1.xml,_/save,1,_echo done\r\n"
                           "101,0,_/clips/b,_unmounted.xml,_,0,_\r\n";
  WriteFileBytes(home.path() / "MR4_DIR.csv", dirs);
  WriteFileBytes(home.path() / "MR4_EClass.csv",
                 "_Version,_ecls,_target\n101,_plane,1\n101,_K\xc3\xb6ln,0\n");

  ProgramResult shown = RunMr4({"--home", home.path().string(), "table", "MR4_DIR.csv"});
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "row  use  dir       profile   save dir  +ymd  +command\n"
            "0    1    /clips/a  cam1.xml  /save     1     echo done\n"
            "1    0    /clips/b                      0\n");
  EXPECT_EQ(ReadFileBytes(home.path() / "MR4_DIR.csv"), dirs);
  EXPECT_EQ(ReadFileBytes(home.path() / "MR4_EClass.csv"),
            "_Version,_ecls,_target\r\n101,_plane,1\r\n101,_K\xc3\xb6ln,0\r\n");
}

TEST(TableCommand, PrintsEveryTable) {
  TempHome home("mr4-home");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out_start;
  };
  const Case cases[] = {
      {{"table", "Qorx_LSec.csv", "--csv"}, 0, "row,Y,M,D,LS,dls\n0,1972,1,1,10,0.000000\n"},
      {{"table", "Qorx_LSec.csv", "--all", "--csv"}, 0,
       "row,exist,Y,M,D,LS,dls\n0,1,1972,1,1,10,0.000000\n"},
      {{"table", "V14.jx.csv", "--csv"}, 0, "row,mk,code,index,solp"},
      {{"table", "CLIP"}, 0, "row  clip_name  o  y"},
      {{"table", "OBJ", "--csv"}, 0, "row,fs,fe"},
      {{"table", "nothing"}, 1, ""},
      {{"table"}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1 % c.args.size()]);
    std::vector<std::string> args{"--home", home.path().string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramResult r = RunMr4(args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out_start.size()), c.out_start);
  }
  ProgramResult showers = RunMr4({"--home", home.path().string(), "table", "V14.jx.csv", "--csv"});
  EXPECT_NE(showers.out.find("\n0,,spo,"), std::string::npos);  // row 0
  EXPECT_NE(showers.out.find(",PER,"), std::string::npos);
}

TEST(Startup, BrokenTableFilesEndTheProgram) {
  struct Case {
    const char* name;
    const char* file;
    std::string bytes;
    const char* where;  // the end of the message naming the file and line
    const char* message;
  };
  const Case cases[] = {
      {"malformed clip directories", "MR4_DIR.csv", "_Version\r\n101,1,no prefix\r\n",
       "MR4_DIR.csv, line 2: the text of \"dir\" does not start with \"_\"\n", "err=201"},
      {"wrong version", "MR4_EClass.csv", "_Version\r\n100,_x,1\r\n",
       "MR4_EClass.csv, line 2: the row does not start with the version 101\n", "err=201"},
      {"empty leap-second table", "Qorx_LSec.csv", "_Version,_Y,_M,_D,_LS,_dls\r\n",
       "Qorx_LSec.csv, line 2: no rows after the header line\n", "err=9001"},
      {"leap-second file without a header", "Qorx_LSec.csv", "",
       "Qorx_LSec.csv, line 1: no header line\n", "err=201"},
      {"malformed shower catalogue", "V14.jx.csv", "h\r\n\r\n,PER,1,x\r\n",
       "V14.jx.csv, line 3: \"x\" is no number for", "err=201"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home("mr4-home");
    WriteFileBytes(home.path() / c.file, c.bytes);
    ProgramResult r = RunMr4({"--home", home.path().string(), "settings"});
    EXPECT_EQ(r.exit_code, 99);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find((home.path() / c.where).string()), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("not a home directory"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home.path() / "MR4_PARAM.MRA"));  // nothing saved
  }
  TempDir bare("mr4-bare");  // no leap-second table at all
  ProgramResult r = RunMr4({"--home", bare.path().string(), "settings"});
  EXPECT_EQ(r.exit_code, 99);
  EXPECT_NE(r.err.find("err=9001"), std::string::npos) << r.err;
  // ... and says how to make a home; a home with a bad table does not.
  EXPECT_NE(r.err.find("is not a home directory (it has no Qorx_LSec.csv): make one with "
                       "'mr4 init " + bare.path().string() + "', or name one with --home DIR"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace mr4::test
