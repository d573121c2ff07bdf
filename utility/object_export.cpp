#include "utility/object_export.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "clips/current_clip.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

struct ShownColumn {
  int column;
  std::uint32_t type;
  const char* format;
};

// The table columns a list shows, in entry order; a list that shows no
// entry shows its first one.
std::vector<ShownColumn> ShownColumns(const Table& table, const ColumnLayout& layout) {
  std::vector<ShownColumn> shown;
  const auto add = [&](const ColumnEntry& e) {
    const int column = table.FindColumn(e.column);
    if (column > 0) shown.push_back({column, table.schema().columns[column].type, e.format});
  };
  for (const ColumnEntry& e : layout.entries) {
    if (e.shown != 0) add(e);
  }
  if (shown.empty() && !layout.entries.empty()) add(layout.entries.front());
  return shown;
}

// The conversion letter of a one-value format ("%.2f" is 'f') and its
// precision (-1 when none is given).
char Conversion(std::string_view format, int* precision) {
  *precision = -1;
  const std::size_t dot = format.find('.');
  if (dot != std::string_view::npos) {
    int p = 0;
    for (std::size_t i = dot + 1; i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])); ++i) {
      p = p * 10 + (format[i] - '0');
    }
    *precision = p;
  }
  for (auto it = format.rbegin(); it != format.rend(); ++it) {
    if (std::isalpha(static_cast<unsigned char>(*it))) return *it;
  }
  return 'd';
}

// A float with a "%f" or "%.Nf" format, independent of the locale; other
// conversions of a float take its integer part.
void AppendFloatCell(std::string* out, double value, const char* format) {
  int precision = 0;
  const char conversion = Conversion(format, &precision);
  if (conversion == 'f' || conversion == 'F') {
    AppendFixed(out, value, precision < 0 ? 6 : precision);
  } else {
    *out += std::to_string(static_cast<long long>(value));
  }
}

void AppendIntCell(std::string* out, long long value, bool is_unsigned, const char* format) {
  int precision = 0;
  char buffer[64];
  switch (Conversion(format, &precision)) {
    case 'd': case 'i':
      std::snprintf(buffer, sizeof buffer, format, static_cast<int>(value));
      break;
    case 'u': case 'x': case 'X':
      std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(value));
      break;
    case 'f':
      AppendFixed(out, static_cast<double>(value), precision < 0 ? 6 : precision);
      return;
    default:
      std::snprintf(buffer, sizeof buffer, is_unsigned ? "%u" : "%d",
                    is_unsigned ? static_cast<unsigned>(value) : static_cast<int>(value));
      break;
  }
  *out += buffer;
}

// A text cell's field, " <text>": a text holding a comma, a double quote
// or a line end is quoted as RFC 4180 does (the field, its blank included,
// between double quotes, each inner double quote doubled), so that it
// stays one field; any other text as it is.
void AppendTextField(std::string* out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    *out += ' ';
    *out += text;
    return;
  }
  *out += "\" ";
  for (const char ch : text) {
    if (ch == '"') *out += '"';
    *out += ch;
  }
  *out += '"';
}

void AppendCell(std::string* out, const Table& table, int row, const ShownColumn& c) {
  switch (c.type) {
    case kCellText: {
      const std::string_view text = table.Text(row, c.column);
      if (!text.empty()) AppendTextField(out, text);
      break;
    }
    case kCellInt64:
      *out += std::to_string(table.Int64(row, c.column));
      break;
    case kCellFloat:
      AppendFloatCell(out, table.Float(row, c.column), c.format);
      break;
    case kCellDouble:
      AppendFloatCell(out, table.Double(row, c.column), c.format);
      break;
    case kCellInt:
      AppendIntCell(out, table.Int(row, c.column), false, c.format);
      break;
    default:
      AppendIntCell(out, table.Uint(row, c.column), true, c.format);
      break;
  }
}

void AppendCells(std::string* out, const Table& table, int row,
                 const std::vector<ShownColumn>& columns, bool first) {
  for (const ShownColumn& c : columns) {
    if (!first) *out += ',';
    first = false;
    AppendCell(out, table, row, c);
  }
}

void AppendNames(std::string* out, const Table& table, const std::vector<ShownColumn>& columns,
                 bool first) {
  for (const ShownColumn& c : columns) {
    if (!first) *out += ',';
    first = false;
    if (c.type == kCellText) *out += ' ';
    *out += table.schema().columns[c.column].name;
  }
}

bool RowExists(const Table& table, int row) {
  return row >= 0 && row < table.count() && table.Exists(row);
}

}  // namespace

ExportResult ExportObjects(const Table& clips, const Table& objects, std::span<const int> listed,
                           const ColumnLayout& clip_layout, const ColumnLayout& object_layout,
                           const std::filesystem::path& folder, int date_row) {
  ExportResult result;
  if (listed.empty()) return result;

  std::string name = "OBJ";
  if (RowExists(clips, date_row)) {
    AppendZeroPadded(&name, clips.Int(date_row, clip::kY), 4);
    AppendZeroPadded(&name, clips.Int(date_row, clip::kMo), 2);
    AppendZeroPadded(&name, clips.Int(date_row, clip::kD), 2);
  }
  name += ".csv";
  const std::optional<std::filesystem::path> chosen =
      ChooseExportFile("Save OBJ csv", "*.csv", folder / name);
  if (!chosen) {
    result.status = ExportStatus::kCancelled;
    return result;
  }
  result.path = *chosen;

  const std::vector<ShownColumn> clip_columns = ShownColumns(clips, clip_layout);
  const std::vector<ShownColumn> object_columns = ShownColumns(objects, object_layout);
  std::string text;
  AppendNames(&text, clips, clip_columns, true);
  AppendNames(&text, objects, object_columns, clip_columns.empty());
  text += "\r\n";
  for (int c : listed) {
    if (!RowExists(clips, c)) continue;
    // At most one step per object row: a chain that loops ends there.
    int o = clips.Int(c, clip::kOline);
    for (int steps = 0; RowExists(objects, o) && steps < objects.count(); ++steps) {
      AppendCells(&text, clips, c, clip_columns, true);
      AppendCells(&text, objects, o, object_columns, clip_columns.empty());
      text += "\r\n";
      ++result.lines;
      o = objects.Int(o, obj::kOlinenext);
    }
  }
  if (!WriteExportFile(result.path, text)) {
    ShowError("Cannot open %s", result.path.c_str());
    result.status = ExportStatus::kCannotOpen;
    result.lines = 0;
    return result;
  }
  result.status = ExportStatus::kWritten;
  return result;
}

ExportResult ExportListedObjects(std::span<const int> listed, const std::filesystem::path& folder) {
  const ColumnLayout* clip_layout = FindColumnLayout("UC5");
  const ColumnLayout* object_layout = FindColumnLayout("UO5");
  if (listed.empty() || !clip_layout || !object_layout) return {};
  const ProcessTables& tables = Tables();
  const int current = CurrentClip().row;
  const int date_row = RowExists(tables.clip, current) ? current : listed.front();
  return ExportObjects(tables.clip, tables.obj, listed, *clip_layout, *object_layout, folder,
                       date_row);
}

}  // namespace mr4
