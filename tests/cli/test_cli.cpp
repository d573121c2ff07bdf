#include <gtest/gtest.h>

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
      {{}, 1, "", "give a command"},
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

}  // namespace
}  // namespace mr4::test
