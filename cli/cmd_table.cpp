// `mr4 table NAME [--csv] [--all]`: prints the existing rows of one of the
// program's tables after start-up, the way headless users and tests look
// into them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

std::string CellText(const Table& table, int row, int column) {
  const std::uint32_t type = table.schema().columns[column].type;
  if (type == kCellText) return std::string(table.Text(row, column));
  std::string text;
  AppendCellNumber(&text, table.CellForReading(row, column), type);
  return text;
}

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

int RunTable(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--csv", OptionKind::kFlag}, {"--all", OptionKind::kFlag}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  ProcessTables& tables = Tables();
  if (parsed.positionals().size() != 1) {
    return UsageError(context, "give one table name");
  }
  const std::string& name = parsed.positionals()[0];
  Table* table = tables.Find(name);
  if (!table) {
    std::string names;
    for (const Table* t : {&tables.dir, &tables.leap, &tables.shower,
                           &tables.eclass, &tables.obj, &tables.clip}) {
      names += (names.empty() ? "" : ", ") + t->name();
    }
    return UsageError(context, "unknown table '" + name + "' (tables: " + names + ")");
  }
  const bool all = parsed.Has("--all");
  const bool csv = parsed.Has("--csv");

  std::vector<int> columns;
  for (int c = all ? 0 : 1; c < table->column_count(); ++c) {
    if (all || table->schema().columns[c].persist) columns.push_back(c);
  }
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> header{"row"};
  for (int c : columns) header.push_back(table->schema().columns[c].name);
  lines.push_back(header);
  for (int r = 0; r < table->count(); ++r) {
    if (!table->Exists(r)) continue;
    std::vector<std::string> line{std::to_string(r)};
    for (int c : columns) line.push_back(CellText(*table, r, c));
    lines.push_back(std::move(line));
  }

  if (csv) {
    for (const auto& line : lines) {
      std::string out;
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (i) out += ',';
        out += CsvField(line[i]);
      }
      std::printf("%s\n", out.c_str());
    }
    return kExitOk;
  }
  std::vector<std::size_t> widths(header.size(), 0);
  for (const auto& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      widths[i] = std::max(widths[i], line[i].size());
    }
  }
  for (const auto& line : lines) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (i) out += "  ";
      out += line[i];
      if (i + 1 < line.size()) out.append(widths[i] - line[i].size(), ' ');
    }
    out.erase(out.find_last_not_of(' ') + 1);
    std::printf("%s\n", out.c_str());
  }
  return kExitOk;
}

}  // namespace mr4::cli
