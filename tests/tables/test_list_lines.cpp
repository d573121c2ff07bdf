// The lines of table list views (rebuild, filter, the stable sort, the lines
// kept in the table), list cell texts, and the rules of parameter fields.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tables/list_lines.h"
#include "tables/param_field.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// A list's table: every key type, a filter flag and the line column.
const ColumnDescriptor kColumns[] = {
    {kCellId, 0, "exist"}, {kCellInt, 0, "i"}, {kCellFlag, 0, "flag"},
    {kCellFloat, 0, "f"},  {kCellText, 0, "name"}, {kCellInt, 0, "dline"},
    {kCellDouble, 0, "d"}, {kCellUnsigned, 0, "u"},
};
enum { kI = 1, kFlag = 2, kF = 3, kName = 4, kDline = 5, kD = 6, kU = 7 };
const TableSchema kSchema{"lines", 0, 4, 0, kColumns};

// Rows as {i, f, name}; the flag hides a row when the filter asks.
struct RowSpec {
  int i;
  float f;
  const char* name;
  unsigned flag = 0;
};

void Fill(Table& t, const std::vector<RowSpec>& rows) {
  for (const RowSpec& r : rows) {
    const int row = t.AppendRow();
    t.SetInt(row, kI, r.i);
    t.SetFloat(row, kF, r.f);
    t.SetText(row, kName, r.name);
    t.SetUint(row, kFlag, r.flag);
  }
}

std::vector<int> Shown(const ListLines& lines) {
  std::vector<int> rows;
  for (int k = 0; k < lines.count(); ++k) rows.push_back(lines.RowAt(k));
  return rows;
}

TEST(ListLines, RebuildSkipsHolesAndFilteredRowsAndKeepsLinesInTheTable) {
  Table t(kSchema);
  Fill(t, {{5, 0, "a"}, {4, 0, "b", 1}, {3, 0, "c"}, {2, 0, "d"}, {1, 0, "e", 1}});
  t.DeleteRow(3);
  ListLines lines(t);
  lines.Rebuild(0, 0, ListSortMode::kOwn);
  EXPECT_EQ(Shown(lines), (std::vector<int>{0, 1, 2, 4}));
  lines.Rebuild(kFlag, 1, ListSortMode::kOwn);
  EXPECT_EQ(Shown(lines), (std::vector<int>{0, 2}));
  EXPECT_EQ(t.Int(2, kDline), 1);
  EXPECT_EQ(lines.LineOf(2), 1);
  EXPECT_EQ(lines.LineOf(1), -1);  // filtered out
  EXPECT_EQ(lines.RowAt(2), -1);   // beyond the lines
  // A row deleted after the rebuild shows as no row.
  t.DeleteRow(2);
  EXPECT_EQ(lines.RowAt(1), -1);
}

TEST(ListLines, AFilterHidingEveryRowLeavesNoLinesAndSortingDoesNothing) {
  Table t(kSchema);
  Fill(t, {{1, 0, "a", 1}, {2, 0, "b", 1}});
  ListLines lines(t);
  lines.Rebuild(kFlag, 1, ListSortMode::kOwn);
  EXPECT_EQ(lines.count(), 0);
  EXPECT_FALSE(lines.Sort(kI, 1));
  EXPECT_EQ(lines.sort_column(), -1);
  EXPECT_EQ(t.list_sort_column(), 0);
}

struct SortCase {
  const char* name;
  int column;
  int direction;
  std::vector<int> rows;  // shown rows, line order
};

TEST(ListLines, SortIsStableAscendingAndReversedDescending) {
  // Rows 0..5: i {2, 1, 2, 0, 1, 2}; f {0.5, NaN, -1, 0, inf, 0.25};
  // names with UTF-16 order traps: U+FF21 (fullwidth A) sorts after a
  // supplementary character in UTF-16 though its UTF-8 bytes sort before.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<SortCase> cases = {
      {"ties keep their order ascending", kI, 1, {3, 1, 4, 0, 2, 5}},
      {"ties swap descending", kI, -1, {5, 2, 0, 4, 1, 3}},
      {"NaN and infinity among the zeros", kF, 1, {2, 1, 3, 4, 5, 0}},
      {"texts by UTF-16 code units, a prefix first", kName, 1, {3, 1, 0, 4, 2, 5}},
      {"texts descending", kName, 0, {5, 2, 4, 0, 1, 3}},
  };
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.name);
    Table t(kSchema);
    Fill(t, {{2, 0.5f, "ab"}, {1, nan, "a"}, {2, -1.0f, "\xF0\x9F\x8C\xA0"},
             {0, 0.0f, ""}, {1, inf, "b"}, {2, 0.25f, "\xEF\xBC\xA1"}});
    ListLines lines(t);
    lines.Rebuild(0, 0, ListSortMode::kOwn);
    ASSERT_TRUE(lines.Sort(c.column, c.direction));
    EXPECT_EQ(Shown(lines), c.rows);
    for (int k = 0; k < lines.count(); ++k) EXPECT_EQ(t.Int(lines.RowAt(k), kDline), k);
    EXPECT_EQ(t.list_sort_column(), c.column);
    EXPECT_EQ(t.list_sort_direction(), c.direction);
  }
}

TEST(ListLines, UnsignedAndDoubleKeys) {
  Table t(kSchema);
  Fill(t, {{0, 0, "x"}, {0, 0, "y"}, {0, 0, "z"}});
  t.SetUint(0, kU, 0x80000000u);  // above every int32
  t.SetUint(1, kU, 7);
  t.SetDouble(0, kD, -2.0);
  t.SetDouble(1, kD, std::nan(""));
  t.SetDouble(2, kD, 1e300);  // infinite in single precision: a zero
  ListLines lines(t);
  lines.Rebuild(0, 0, ListSortMode::kOwn);
  lines.Sort(kU, 1);
  EXPECT_EQ(Shown(lines), (std::vector<int>{2, 1, 0}));
  lines.Sort(kD, 1);
  EXPECT_EQ(Shown(lines), (std::vector<int>{0, 2, 1}));
}

TEST(ListLines, RebuildReappliesTheSortOfItsMode) {
  Table t(kSchema);
  Fill(t, {{2, 0, "a"}, {3, 0, "b"}, {1, 0, "c"}});
  ListLines first(t), second(t), own(t);
  first.Rebuild(0, 0, ListSortMode::kTable);
  first.Sort(kI, -1);
  // A second list keeping its sort with the table takes the first's.
  second.Rebuild(0, 0, ListSortMode::kTable);
  EXPECT_EQ(Shown(second), (std::vector<int>{1, 0, 2}));
  // A list with its own sort, never sorted, keeps row order.
  own.Rebuild(0, 0, ListSortMode::kOwn);
  EXPECT_EQ(Shown(own), (std::vector<int>{0, 1, 2}));
  own.Sort(kName, -1);
  t.set_list_sort(kI, 1);
  own.Rebuild(0, 0, ListSortMode::kOwn);
  EXPECT_EQ(Shown(own), (std::vector<int>{2, 1, 0}));
  // Every sort is stored with the table, an own list's too: the lists that
  // keep their sort there take the last one, and a row appended since lands
  // in its sorted place.
  EXPECT_EQ(t.list_sort_column(), kName);
  Fill(t, {{0, 0, "d"}});
  second.Rebuild(0, 0, ListSortMode::kTable);
  EXPECT_EQ(Shown(second), (std::vector<int>{3, 2, 1, 0}));
}

TEST(ListLines, RemoveLineMovesTheLaterLinesUp) {
  Table t(kSchema);
  Fill(t, {{0, 0, "a"}, {0, 0, "b"}, {0, 0, "c"}});
  ListLines lines(t);
  lines.Rebuild(0, 0, ListSortMode::kOwn);
  lines.RemoveLine(0);
  lines.RemoveLine(5);  // out of range: nothing
  EXPECT_EQ(Shown(lines), (std::vector<int>{1, 2}));
  EXPECT_EQ(t.Int(2, kDline), 1);
  EXPECT_EQ(lines.LineOf(0), -1);
}

TEST(FormatListCell, ByTypeAndFormat) {
  Table t(kSchema);
  Fill(t, {{-3, 58.3f, "Perseid"}});
  t.SetUint(0, kU, 42);
  t.SetDouble(0, kD, 0.125);
  struct Case {
    int column;
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      {kI, "%d", "-3"},       {kI, "%u", "4294967293"}, {kI, "%5d", "   -3"},
      {kI, "%.1f", "-3.0"},   {kF, "%.1f", "58.3"},     {kF, "%f", "58.299999"},
      {kF, "%d", "58"},       {kF, "%s", "58.299999"},  {kD, "%.4f", "0.1250"},
      {kU, "%u", "42"},       {kU, "%x", "2a"},         {kU, "%n", "42"},
      {kU, "%d%d", "42"},     {kName, "%d", "Perseid"}, {kFlag, "%u", ""},
  };
  // The process locale's decimal comma never reaches a list.
  const char* had = std::setlocale(LC_NUMERIC, nullptr);
  const std::string previous = had ? had : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  for (const Case& c : cases) {
    EXPECT_EQ(FormatListCell(t, 0, c.column, c.format), c.text)
        << "column " << c.column << " format " << c.format;
  }
  std::setlocale(LC_NUMERIC, previous.c_str());
  t.SetUint(0, kFlag, 2);
  EXPECT_EQ(FormatListCell(t, 0, kFlag, "%u"), "*");
}

TEST(ParamField, DecimalsByStepAndValue) {
  struct Case {
    double step, value;
    int decimals;
  };
  const Case cases[] = {
      {1, 0.5, 0},      {0, 2.5, 0},       {0.1, 9, 1},      {0, 0.5, 1},
      {0.01, 9, 2},     {0, 0.05, 2},      {0.001, 9, 3},    {0.0005, 9, 3},
      {0.0001, 9, 3},   {-1, 9, 3},        {0, 0.005, 3},    {-4, 9, 4},
      {0, 0.0005, 4},   {0, 0.0001, 5},    {0.00001, 9, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParamDecimals(c.step, c.value), c.decimals) << c.step << " " << c.value;
  }
}

TEST(ParamField, SpinStepsAndLimits) {
  float f = 1.5f;
  ParamDescriptor automatic{&f};
  automatic.step = 0;
  SpinParam(automatic, false);
  EXPECT_FLOAT_EQ(f, 1.4f);
  EXPECT_EQ(ParamText(automatic), "1.4");
  f = 1.5f;
  SpinParam(automatic, true);
  EXPECT_FLOAT_EQ(f, 1.6f);
  // The automatic step's margin: 2.0 counts down by 0.1, up by 1.
  f = 2.0f;
  SpinParam(automatic, true);
  EXPECT_FLOAT_EQ(f, 3.0f);
  f = 2.0f;
  SpinParam(automatic, false);
  EXPECT_FLOAT_EQ(f, 1.9f);
  SpinParam(automatic, true, 0.5);  // the spin's own step first
  EXPECT_FLOAT_EQ(f, 2.4f);

  int minute = 59;
  ParamDescriptor wrap{&minute};
  wrap.minimum = 0;
  wrap.maximum = 59;
  wrap.limit = ParamLimit::kWrap;
  wrap.wrap_code = 7;
  EXPECT_EQ(SpinParam(wrap, true), 7);
  EXPECT_EQ(minute, 0);
  EXPECT_EQ(SpinParam(wrap, false), 7);
  EXPECT_EQ(minute, 59);
  EXPECT_EQ(SpinParam(wrap, false), -1);
  EXPECT_EQ(minute, 58);
  wrap.wrap_code = -1;
  minute = 59;
  EXPECT_EQ(SpinParam(wrap, true), -1);  // wraps, no code to pass on
  EXPECT_EQ(minute, 0);

  int month = 12;
  ParamDescriptor clamp{&month};
  clamp.minimum = 1;
  clamp.maximum = 12;
  clamp.limit = ParamLimit::kClamp;
  EXPECT_EQ(SpinParam(clamp, true), -1);
  EXPECT_EQ(month, 12);
  month = 1;
  SpinParam(clamp, false);
  EXPECT_EQ(month, 1);
}

TEST(ParamField, ReadingTypedText) {
  float f = 1.0f;
  ParamDescriptor number{&f};
  number.step = 0.0005;
  EXPECT_TRUE(ReadParamText(number, "0.25"));
  EXPECT_EQ(ParamText(number), "0.250");
  EXPECT_FALSE(ReadParamText(number, "0.25xyz"));  // the same value
  EXPECT_TRUE(ReadParamText(number, "-"));
  EXPECT_FLOAT_EQ(f, kLoneMinusValue);
  EXPECT_TRUE(ReadParamText(number, ""));
  EXPECT_EQ(f, 0.0f);

  int i = 5;
  ParamDescriptor integer{&i};
  EXPECT_TRUE(ReadParamText(integer, "abc"));
  EXPECT_EQ(i, 0);
  EXPECT_TRUE(ReadParamText(integer, " -12"));
  EXPECT_EQ(i, -12);

  std::string s;
  ParamDescriptor text{&s};
  EXPECT_TRUE(ReadParamText(text, "0123456789abcdefXYZ"));
  EXPECT_EQ(s, "0123456789abcdef");
  // Sixteen characters, not bytes: "é" is two bytes and stays whole.
  EXPECT_TRUE(ReadParamText(text, "\xC3\xA9\xC3\xA9" "0123456789abcdefg"));
  EXPECT_EQ(s, "\xC3\xA9\xC3\xA9" "0123456789abcd");
}

}  // namespace
}  // namespace mr4
