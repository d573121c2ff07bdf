// `mr4 scan`: sets the date range of the scan when asked (the settings keep
// it, as the Main page's controls do), reads the clip directories and
// prints the clip table: the columns the clip list "UC" shows, in its
// formats, or the columns named by --columns; aligned or as CSV. Ends with
// the "%d clips" line of the clip count label.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/column_layouts.h"
#include "app/settings.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/scan_range.h"
#include "clips/clip_list_ops.h"
#include "cli/text_table.h"
#include "clips/clip_scan.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

struct PrintedColumn {
  int column;
  std::string name;
  std::string format;  // printf format of one value; empty: the file form
};

// The conversion letter of a one-value printf format ("%.2f" is 'f').
char Conversion(const std::string& format) {
  for (auto it = format.rbegin(); it != format.rend(); ++it) {
    if (std::isalpha(static_cast<unsigned char>(*it))) return *it;
  }
  return 's';
}

std::string FormatCell(const Table& table, int row, const PrintedColumn& c) {
  const std::uint32_t type = table.schema().columns[c.column].type;
  if (type == kCellText) return std::string(table.Text(row, c.column));
  if (c.format.empty()) {
    std::string text;
    AppendCellNumber(&text, table.CellForReading(row, c.column), type);
    return text;
  }
  const bool is_float = type == kCellFloat || type == kCellDouble;
  const double value = type == kCellFloat    ? table.Float(row, c.column)
                       : type == kCellDouble ? table.Double(row, c.column)
                       : type == kCellInt    ? table.Int(row, c.column)
                       : type == kCellInt64  ? static_cast<double>(table.Int64(row, c.column))
                                             : table.Uint(row, c.column);
  char buffer[64];
  switch (Conversion(c.format)) {
    case 'f': case 'e': case 'g':
      std::snprintf(buffer, sizeof buffer, c.format.c_str(), value);
      break;
    case 'd': case 'i':
      std::snprintf(buffer, sizeof buffer, c.format.c_str(),
                    is_float ? static_cast<int>(value) : static_cast<int>(static_cast<long long>(value)));
      break;
    case 'u': case 'x':
      std::snprintf(buffer, sizeof buffer, c.format.c_str(),
                    static_cast<unsigned>(static_cast<long long>(value)));
      break;
    default: {
      std::string text;
      AppendCellNumber(&text, table.CellForReading(row, c.column), type);
      return text;
    }
  }
  return buffer;
}

const ColumnEntry* LayoutEntry(const ColumnLayout& layout, const std::string& name) {
  for (const ColumnEntry& e : layout.entries) {
    if (name == e.column) return &e;
  }
  return nullptr;
}

// "YYYY-MM-DD HH" into the range settings' start.
bool ParseFrom(const std::string& text, int* y, int* m, int* d, int* h) {
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d%c", y, m, d, h, &tail) != 4) return false;
  return *y >= 1900 && *y <= 3000 && *m >= 1 && *m <= 12 && *d >= 1 && *d <= 31 &&
         *h >= 0 && *h <= 23;
}

}  // namespace

bool ReadScanRange(const ParsedArgs& parsed, Settings* wanted, std::string* error) {
  if (auto range = parsed.Value("--range")) {
    if (*range == "all") wanted->dirrange = 0;
    else if (*range == "range") wanted->dirrange = 1;
    else if (*range == "latest") wanted->dirrange = 2;
    else {
      *error = "--range is all, range or latest, not '" + *range + "'";
      return false;
    }
  }
  if (auto from = parsed.Value("--from")) {
    if (!ParseFrom(*from, &wanted->Y, &wanted->M, &wanted->D, &wanted->H)) {
      *error = "--from wants 'YYYY-MM-DD HH' (years 1900 to 3000), not '" + *from + "'";
      return false;
    }
  }
  if (auto days = parsed.Value("--days")) {
    if (!ParseInt(*days, &wanted->days) || wanted->days < 1 || wanted->days > 10000) {
      *error = "--days wants 1 to 10000, not '" + *days + "'";
      return false;
    }
  }
  return true;
}

void ApplyScanRange(const Settings& wanted) {
  Settings& settings = AppSettings();
  settings = wanted;
  // "latest" counts back from now, as the Main page does when it is shown
  // in that mode.
  if (settings.dirrange == 2) SetLatestScanStart(settings, std::time(nullptr));
}

int RunScan(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--range", OptionKind::kValue},
                  {"--from", OptionKind::kValue},
                  {"--days", OptionKind::kValue},
                  {"--csv", OptionKind::kFlag},
                  {"--columns", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  Settings wanted = AppSettings();
  if (!ReadScanRange(parsed, &wanted, &error)) return UsageError(context, error);

  const Table& clips = Tables().clip;
  const ColumnLayout* layout = FindColumnLayout("UC");
  std::vector<PrintedColumn> columns;
  if (auto names = parsed.Value("--columns")) {
    for (const std::string& name : SplitComma(*names)) {
      const int column = clips.FindColumn(name);
      if (column <= 0) {
        return UsageError(context, "no clip column '" + name + "'");
      }
      const ColumnEntry* entry = layout ? LayoutEntry(*layout, name) : nullptr;
      columns.push_back({column, name, entry ? entry->format : ""});
    }
  } else if (layout) {
    for (const ColumnEntry& e : layout->entries) {
      const int column = clips.FindColumn(e.column);
      if (e.shown && column > 0) columns.push_back({column, e.column, e.format});
    }
  }

  ApplyScanRange(wanted);

  ClipLibrary& library = Clips();
  const bool progress = isatty(STDERR_FILENO) != 0;
  if (progress) {
    library.on_clip_count = [](int n) { std::fprintf(stderr, "\r%d clips", n); };
  }
  const int count = ReadClipDirectories();
  library.on_clip_count = nullptr;
  if (progress) std::fputs("\r", stderr);

  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> header;
  for (const PrintedColumn& c : columns) header.push_back(c.name);
  lines.push_back(header);
  for (int r = 0; r < clips.count(); ++r) {
    if (!clips.Exists(r)) continue;
    std::vector<std::string> line;
    for (const PrintedColumn& c : columns) line.push_back(FormatCell(clips, r, c));
    lines.push_back(std::move(line));
  }
  PrintTextTable(lines, parsed.Has("--csv"));
  std::printf("%d clips\n", count);
  // The listing is complete, but some clips have no camera.
  for (const std::filesystem::path& unread : library.unreadable_profiles) {
    if (!unread.empty()) return kExitSomeFailed;
  }
  return kExitOk;
}

}  // namespace mr4::cli
