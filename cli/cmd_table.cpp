// `mr4 table NAME [--csv] [--all]`: prints the existing rows of one of the
// program's tables after start-up, the way headless users and tests look
// into them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/text_table.h"
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

  PrintTextTable(lines, csv);
  return kExitOk;
}

}  // namespace mr4::cli
