// Printing rows of cells on stdout, as the listing commands do: aligned
// columns separated by two blanks, or comma-separated values (a field
// holding a comma, a quote or a line end is quoted, quotes doubled).
#pragma once

#include <string>
#include <vector>

namespace mr4::cli {

using TextRow = std::vector<std::string>;

// Prints `rows` (the first is usually the header). Aligned lines end with
// the last non-empty field's own text (its own blanks kept, no padding).
void PrintTextTable(const std::vector<TextRow>& rows, bool csv);

}  // namespace mr4::cli
