#include "tables/list_lines.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <numeric>

namespace mr4 {
namespace {

// The UTF-16 code units of a UTF-8 text; a byte that starts no valid
// sequence stands for itself.
std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int length = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    char32_t cp = length == 1 ? b0 : length == 2 ? (b0 & 0x1F) : length == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    if (length == 0 || i + length > text.size()) length = 0;
    for (int k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (length == 0) {
      out.push_back(b0);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

// A number key of a cell: exact for 32-bit integers; single precision for
// floats, whose NaN and infinities sort as zero.
double NumberKey(const Table& table, int row, int column, std::uint32_t type) {
  switch (type) {
    case kCellInt: return table.Int(row, column);
    case kCellFlag:
    case kCellUnsigned:
    case kCellId: return table.Uint(row, column);
    case kCellFloat:
    case kCellDouble: {
      const float v = type == kCellFloat ? table.Float(row, column)
                                         : static_cast<float>(table.Double(row, column));
      return std::isfinite(v) ? static_cast<double>(v) : -0.0;
    }
    default: return 0.0;
  }
}

// One C conversion of a number or text, with flags, width and precision;
// its conversion character, or 0 when the format is anything else.
char FormatConversion(std::string_view format) {
  if (format.size() < 2 || format.size() > 15 || format[0] != '%') return 0;
  std::size_t i = 1;
  while (i < format.size() && std::strchr("-+ #0", format[i])) ++i;
  while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
  if (i < format.size() && format[i] == '.') {
    ++i;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
  }
  if (i + 1 != format.size()) return 0;
  const char c = format[i];
  return std::strchr("diuxXofFeEgGs", c) ? c : 0;
}

// C formatting in the "C" locale, whatever locale the process runs in.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

template <typename T>
std::string FormatC(const char* format, T value) {
  const locale_t previous = uselocale(CLocale());
  char buffer[512];
  const int n = std::snprintf(buffer, sizeof buffer, format, value);
  uselocale(previous);
  if (n < 0) return {};
  return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

}  // namespace

bool Utf16Less(std::string_view a, std::string_view b) {
  return ToUtf16(a) < ToUtf16(b);
}

ListLines::ListLines(Table& table)
    : table_(&table), dline_column_(table.FindColumn("dline")) {}

int ListLines::RowAt(int line) const {
  if (line < 0 || line >= count()) return -1;
  const int row = rows_[line];
  return row < table_->count() && table_->Exists(row) ? row : -1;
}

int ListLines::LineOf(int row) const {
  if (row < 0 || row >= static_cast<int>(line_of_row_.size())) return -1;
  return line_of_row_[row];
}

void ListLines::Rebuild(int filter_column, std::uint32_t hidden_value, ListSortMode mode) {
  filter_column_ = filter_column;
  hidden_value_ = hidden_value;
  rows_.clear();
  const int n = table_->count();
  for (int row = 0; row < n; ++row) {
    if (!table_->Exists(row)) continue;
    if (filter_column != 0 && table_->Uint(row, filter_column) == hidden_value) continue;
    rows_.push_back(row);
  }
  StoreLinesInTable();
  if (mode == ListSortMode::kTable && table_->list_sort_column() != 0) {
    Sort(table_->list_sort_column(), table_->list_sort_direction());
  } else if (mode != ListSortMode::kNone && sort_column_ >= 0) {
    Sort(sort_column_, sort_direction_);
  }
}

bool ListLines::Sort(int column, int direction) {
  if (rows_.empty()) return false;
  sort_column_ = column;
  sort_direction_ = direction;
  table_->set_list_sort(column, direction);
  if (column < 0 || column >= table_->column_count()) return true;

  const int n = count();
  const std::uint32_t type = table_->schema().columns[column].type;
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  // Rows deleted since the last rebuild sort as zero or empty texts.
  auto exists = [&](int row) { return row < table_->count() && table_->Exists(row); };
  if (type == kCellText) {
    std::vector<std::u16string> keys(n);
    for (int k = 0; k < n; ++k) {
      if (exists(rows_[k])) keys[k] = ToUtf16(table_->Text(rows_[k], column));
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[a] < keys[b]; });
  } else if (type == kCellInt64) {
    std::vector<std::int64_t> keys(n);
    for (int k = 0; k < n; ++k) {
      if (exists(rows_[k])) keys[k] = table_->Int64(rows_[k], column);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[a] < keys[b]; });
  } else {
    std::vector<double> keys(n);
    for (int k = 0; k < n; ++k) {
      if (exists(rows_[k])) keys[k] = NumberKey(*table_, rows_[k], column, type);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[a] < keys[b]; });
  }
  std::vector<int> sorted(n);
  for (int k = 0; k < n; ++k) {
    sorted[k] = rows_[order[direction > 0 ? k : n - 1 - k]];
  }
  rows_ = std::move(sorted);
  StoreLinesInTable();
  return true;
}

void ListLines::RemoveLine(int line) {
  if (line < 0 || line >= count()) return;
  rows_.erase(rows_.begin() + line);
  StoreLinesInTable();
}

void ListLines::StoreLinesInTable() {
  line_of_row_.assign(static_cast<std::size_t>(table_->count()), -1);
  for (int line = 0; line < count(); ++line) {
    const int row = rows_[line];
    if (row >= static_cast<int>(line_of_row_.size())) line_of_row_.resize(row + 1, -1);
    line_of_row_[row] = line;
    if (dline_column_ > 0 && row < table_->count() && table_->Exists(row)) {
      table_->SetInt(row, dline_column_, line);
    }
  }
}

std::string FormatListCell(const Table& table, int row, int column, std::string_view format) {
  if (column < 0 || column >= table.column_count()) return {};
  const std::uint32_t type = table.schema().columns[column].type;
  if (type == kCellText) return std::string(table.Text(row, column));
  if (type == kCellFlag) return table.Uint(row, column) != 0 ? "*" : "";

  std::string f(format);
  char conversion = FormatConversion(f);
  if (conversion == 's') conversion = 0;
  if (conversion == 0) {
    f = type == kCellInt ? "%d" : type == kCellInt64 ? "%lld" : (type == kCellFloat || type == kCellDouble) ? "%f" : "%u";
    conversion = f.back();
  }
  const bool real = std::strchr("fFeEgG", conversion) != nullptr;
  double value = 0.0;
  std::int64_t integer = 0;
  switch (type) {
    case kCellInt: integer = table.Int(row, column); break;
    case kCellUnsigned:
    case kCellId: integer = table.Uint(row, column); break;
    case kCellInt64: integer = table.Int64(row, column); break;
    case kCellFloat: value = table.Float(row, column); break;
    case kCellDouble: value = table.Double(row, column); break;
    default: return {};
  }
  const bool is_real_cell = type == kCellFloat || type == kCellDouble;
  if (real) return FormatC(f.c_str(), is_real_cell ? value : static_cast<double>(integer));
  if (is_real_cell) integer = std::fabs(value) < 9e18 ? static_cast<std::int64_t>(value) : 0;
  // Integer conversions print through long long, so every cell type fits.
  f.insert(f.size() - 1, "ll");
  if (conversion == 'd' || conversion == 'i') return FormatC(f.c_str(), static_cast<long long>(integer));
  // As C prints an int with "%u": its 32 bits.
  if (type == kCellInt) integer = static_cast<std::uint32_t>(integer);
  return FormatC(f.c_str(), static_cast<unsigned long long>(integer));
}

}  // namespace mr4
