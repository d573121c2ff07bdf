// End-to-end checks of `mr4 profile` and of the star catalogue at start-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

TEST(ProfileCommand, SetWritesAProfileThatShowReadsBack) {
  TempHome home("mr4-profile");
  const std::string dir = home.path().string();
  ProgramResult r = RunMr4({"--home", dir, "profile", "set", "p_roof.XML", "az=123.5",
                            "ev=40", "lid=JP01", "dx=-3.25"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "az=123.500000\nev=40.000000\nlid=JP01\ndx=-3.250000\n");
  const std::string file = ReadFileBytes(home.path() / "PROF" / "p_roof.XML");
  EXPECT_EQ(file.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<meridra_record", 0), 0u);

  r = RunMr4({"--home", dir, "profile", "show", "p_roof.XML"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("cx=", 0), 0u) << r.out;
  for (const char* line : {"\naz=123.500000\n", "\nev=40.000000\n", "\ndx=-3.250000\n",
                           "\nlid=JP01\n", "\ndlim=15\n", "\nBVF=-0.300000\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }

  // A second set changes only the named field.
  ASSERT_EQ(RunMr4({"--home", dir, "profile", "set", "p_roof.XML", "rot=2"}).exit_code, 0);
  r = RunMr4({"--home", dir, "profile", "show", "p_roof.XML"});
  EXPECT_NE(r.out.find("\nrot=2.000000\n"), std::string::npos);
  EXPECT_NE(r.out.find("\naz=123.500000\n"), std::string::npos);
}

TEST(ProfileCommand, RefusedInputLeavesTheFileAlone) {
  TempHome home("mr4-profile-bad");
  const std::string dir = home.path().string();
  ASSERT_EQ(RunMr4({"--home", dir, "profile", "set", "p.XML", "az=1"}).exit_code, 0);
  const std::string before = ReadFileBytes(home.path() / "PROF" / "p.XML");
  struct Case {
    std::vector<std::string> args;
    const char* err_part;
  };
  const Case cases[] = {
      {{"set", "p.XML", "azz=1"}, "not a profile field: azz=1"},
      {{"set", "p.XML", "az=east"}, "bad value for az: east"},
      {{"set", "p.XML", "cx=7.5"}, "bad value for cx: 7.5"},
      {{"set", "p.XML"}, "set needs name=value"},
      {{"show", "missing.XML"}, "cannot read a profile from"},
      {{"look", "p.XML"}, "unknown action look"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err_part);
    std::vector<std::string> args = {"--home", dir, "profile"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult r = RunMr4(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFileBytes(home.path() / "PROF" / "p.XML"), before);
}

TEST(StarCatalogueAtStartUp, AMissingCatalogueAbortsAndSavesNothing) {
  TempHome home("mr4-no-stars");
  std::filesystem::remove(home.path() / "Smap2000S.csv");
  const ProgramResult r = RunMr4({"--home", home.path().string(), "settings"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Cannnot load Star Map .... abort"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(home.path() / "MR4_PARAM.MRA"));
}

}  // namespace
}  // namespace mr4::test
