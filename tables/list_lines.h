// The lines of a table list view: which table row each line shows, in which
// order, behind which filter. The list view itself only draws; the lines,
// the sort and the filter are kept here, without any user-interface code.
//
// A line shows one existing row; a rebuild walks the table in row order and
// skips the filtered rows, a sort reorders the lines by one column. Each
// shown row's "dline" cell (when its table has one) holds its line, so that
// code holding a row finds its line without a list. The mapping from lines
// to rows is the list's own: two lists of one table with different filters
// never overwrite each other's lines.
//
// Cell texts of a list (FormatListCell) follow the column's type and the
// list entry's C number format, always with a decimal point whatever the
// process locale.
//
// User-interface thread only, as the tables it reads (tables/table.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/table.h"

namespace mr4 {

// Where a list keeps its sort.
enum class ListSortMode {
  kNone = 0,   // no sort
  kOwn = 1,    // the list keeps its own sort column
  kTable = 2,  // the table keeps it, shared by every list of the table
};

class ListLines {
 public:
  explicit ListLines(Table& table);

  Table& table() const { return *table_; }
  int count() const { return static_cast<int>(rows_.size()); }
  // The row shown on `line`; -1 beyond the lines or when the row has been
  // deleted since.
  int RowAt(int line) const;
  // The line that shows `row`, or -1.
  int LineOf(int row) const;

  // Refills the lines from the table: every existing row in row order
  // except, when `filter_column` is not 0, those whose cell there equals
  // `hidden_value`; then re-applies the sort of `mode` (the table's stored
  // column when it is not 0, else the list's own column when it is 0 or
  // more).
  void Rebuild(int filter_column, std::uint32_t hidden_value, ListSortMode mode);
  int filter_column() const { return filter_column_; }
  std::uint32_t hidden_value() const { return hidden_value_; }

  // Sorts the lines by `column`, ascending when `direction` > 0, and stores
  // column and direction in the list and in the table. Equal keys keep their
  // line order ascending and come in reverse order descending. Keys: type 1
  // and 5 signed, 2-4 unsigned, 7 and 8 the single-precision value (NaN and
  // infinities count as zero), 9 the text in UTF-16 code units, a prefix
  // first. False, and nothing changes, when there are no lines.
  bool Sort(int column, int direction);
  int sort_column() const { return sort_column_; }
  int sort_direction() const { return sort_direction_; }

  // Removes `line` (nothing when out of range); later lines move up.
  void RemoveLine(int line);

 private:
  void StoreLinesInTable();

  Table* table_;
  int dline_column_;  // -1: the table keeps no lines
  std::vector<int> rows_;
  std::vector<int> line_of_row_;  // by row, -1 when not shown
  int filter_column_ = 0;
  std::uint32_t hidden_value_ = 0;
  int sort_column_ = -1;
  int sort_direction_ = 1;
};

// The text a list shows for a cell: types 1 to 5 with `format`, except
// type 2, which shows "*" when not 0 and nothing else; types 7 and 8 with
// `format` as a double; type 9 the text. A format that is not one C
// conversion of a number or text ("%d", "%u", "%.3f", "%s", ...) is
// replaced by the column type's own ("%d", "%u", "%f").
std::string FormatListCell(const Table& table, int row, int column, std::string_view format);

// Less-than of two UTF-8 texts by their UTF-16 code units (unsigned), a
// text before any longer text it begins.
bool Utf16Less(std::string_view a, std::string_view b);

}  // namespace mr4
