#include <gtest/gtest.h>

#include "base/error.h"
#include "base/process_values.h"
#include "platform/scripted_ui.h"

namespace mr4 {
namespace {

TEST(ContextLimit, FollowsTheFreeMemory) {
  struct Case {
    std::optional<std::uint64_t> free_mib;
    int limit;
    bool message;
  };
  const Case cases[] = {
      {4095, 4, true},   {4096, 4, false}, {1923, 4, true},
      {6410, 8, false},  {20000, 8, false}, {std::nullopt, 4, true},
      {5128, 6, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.free_mib ? std::to_string(*c.free_mib) : "unknown");
    ScriptedUi ui;
    ScopedUi scoped(ui);
    EXPECT_EQ(ComputeContextLimit(c.free_mib), c.limit);
    auto shown = ui.messages();
    if (c.message) {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].caption, "Qor series");
      EXPECT_EQ(shown[0].text, "Cannot Get free mem size, assuming 4GB");
    } else {
      EXPECT_TRUE(shown.empty());
    }
  }
}

TEST(LeapSecondList, OneRowGivesTheRowAndTheSentinel) {
  const LeapSecondRow rows[] = {{1972, 1, 1, 10, 0.0f}};
  LeapSecondList list = BuildLeapSecondList(rows);
  EXPECT_EQ(list.n, 1);
  EXPECT_EQ(list.mjd[1], 41317.0);
  EXPECT_EQ(list.tai_minus_utc[1], 10.0f);
  EXPECT_EQ(list.mjd[2], 0.0);
  EXPECT_EQ(list.tai_minus_utc[2], 10.0f);
}

TEST(LeapSecondList, NewestRowComesFirst) {
  const LeapSecondRow rows[] = {{1972, 1, 1, 10, 0.0f},
                                {1972, 7, 1, 11, 0.0f},
                                {2017, 1, 1, 37, 0.0f}};
  LeapSecondList list = BuildLeapSecondList(rows);
  EXPECT_EQ(list.mjd[1], 57754.0);  // 2017-01-01
  EXPECT_EQ(list.tai_minus_utc[1], 37.0f);
  EXPECT_EQ(list.mjd[2], 41499.0);  // 1972-07-01
  EXPECT_EQ(list.mjd[3], 41317.0);
  EXPECT_EQ(list.mjd[4], 0.0);
}

TEST(LeapSecondListDeathTest, EmptyOrTooLongIsFatal9001) {
  EXPECT_EXIT(BuildLeapSecondList({}), testing::ExitedWithCode(99),
              "err=9001");
  std::vector<LeapSecondRow> rows(100, LeapSecondRow{2000, 1, 1, 32, 0.0f});
  EXPECT_EXIT(BuildLeapSecondList(rows), testing::ExitedWithCode(99),
              "err=9001");
}

TEST(YuvTables, ValuesAtTheEndsAndTheMiddle) {
  YuvTables t = BuildYuvTables();
  struct Case {
    int v;
    std::int32_t y, ug, vg;
  };
  // trunc((v-16)*1.164383*65536), trunc((v-128)*-0.391762*65536),
  // trunc((v-128)*-0.812968*65536)
  const Case cases[] = {
      {0, -1220944, 3286337, 6819669},
      {16, 0, 2875545, 5967211},
      {128, 8546608, 0, 0},
      {255, 18237852, -3260663, -6766391},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(t.y[c.v], c.y);
    EXPECT_EQ(t.ug[c.v], c.ug);
    EXPECT_EQ(t.vg[c.v], c.vg);
  }
}

TEST(Version, Texts) {
  EXPECT_EQ(MakeVersionTitle(), "MeridraV4 V5.00 (64bit)");
  EXPECT_EQ(MakeVersionNumberText(), "500");
}

TEST(ExportScrambler, SeedIsDeterministicAndMasked) {
  ExportScrambler a, b, c;
  a.Seed(123, 1700000000u);
  b.Seed(123, 1700000000u);
  c.Seed(124, 1700000000u);
  EXPECT_EQ(a.s, b.s);
  EXPECT_NE(a.s, c.s);
  EXPECT_EQ(a.s24, a.s & 0xFFFFFFu);
}

TEST(ErrorDeathTest, FatalPathsEndWithStatus99) {
  EXPECT_EXIT(FatalCode(201), testing::ExitedWithCode(99),
              "Qorseries FATAL ERROR: err=201");
  EXPECT_EXIT(FatalError("UE0105: invalid length"), testing::ExitedWithCode(99),
              "Qor series Fatal Error: UE0105: invalid length\n"
              "Qorseries FATAL ERROR: err=-9");
}

TEST(Error, ShowErrorFormatsAndCutsTheMessage) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  ShowError("Cannot load %s ", "add.csv");
  ShowError("%s", std::string(2000, 'x').c_str());
  auto shown = ui.messages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "Qor series");
  EXPECT_EQ(shown[0].text, "Cannot load add.csv ");
  EXPECT_EQ(shown[1].text.size(), 1023u);
}

}  // namespace
}  // namespace mr4
