#include "cli/text_table.h"

#include <algorithm>
#include <cstdio>

namespace mr4::cli {
namespace {

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

void PrintTextTable(const std::vector<TextRow>& rows, bool csv) {
  std::vector<std::size_t> widths;
  for (const TextRow& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const TextRow& row : rows) {
    std::string out;
    std::size_t text_end = 0;  // end of the last field's own text
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (csv) {
        if (i) out += ',';
        out += CsvField(row[i]);
        continue;
      }
      if (i) out += "  ";
      out += row[i];
      if (!row[i].empty()) text_end = out.size();
      if (i + 1 < row.size()) out.append(widths[i] - row[i].size(), ' ');
    }
    if (!csv) out.resize(text_end);
    std::printf("%s\n", out.c_str());
  }
}

}  // namespace mr4::cli
