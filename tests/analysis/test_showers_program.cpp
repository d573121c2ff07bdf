// End-to-end: start-up prepares the shower catalogue for the year "AP.Y".
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  return out;
}

TEST(ShowerCatalogueAtStartup, TakesPartWithTheDatesOfTheYear) {
  TempHome home("mr4-showers");
  const std::string dir = home.path().string();
  ASSERT_EQ(RunMr4({"--home", dir, "settings", "--set", "AP.Y=2024"}).exit_code, 0);
  const ProgramResult r = RunMr4({"--home", dir, "table", "V14.jx.csv", "--all", "--csv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::stringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  const std::vector<std::string> header = Fields(line);
  auto column = [&](const std::string& name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return std::size_t{0};
  };
  const std::size_t in_use = column("*"), code = column("code"), name = column("name"),
                    peak = column("M/Dp");
  int rows = 0;
  bool perseids = false;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = Fields(line);
    ASSERT_GT(f.size(), peak) << line;
    ++rows;
    EXPECT_EQ(f[in_use], "1") << line;
    if (f[0] == "0") {
      EXPECT_EQ(f[code], "spo");
      EXPECT_EQ(f[name], "spo");
    } else {
      EXPECT_EQ(f[peak].size(), 5u) << line;
    }
    if (f[code] == "PER") {
      perseids = true;
      EXPECT_EQ(f[peak], "08/12");  // maximum of 2024: 12 August about 13h UT
    }
  }
  EXPECT_GT(rows, 40);
  EXPECT_TRUE(perseids);
}

}  // namespace
}  // namespace mr4::test
