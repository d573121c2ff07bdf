#include "tables/xml_record.h"

#include <cstdio>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Decodes the entities of a value in place (the value only shrinks) and
// terminates it; returns its new end.
char* DecodeEntities(char* value, char* end) {
  static constexpr struct {
    std::string_view entity;
    char ch;
  } kEntities[] = {{"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'},
                   {"&gt;", '>'}, {"&#92;", '\\'}};
  char* out = value;
  for (char* in = value; in < end;) {
    bool decoded = false;
    if (*in == '&') {
      std::string_view rest(in, static_cast<std::size_t>(end - in));
      for (const auto& e : kEntities) {
        if (rest.substr(0, e.entity.size()) == e.entity) {
          *out++ = e.ch;
          in += e.entity.size();
          decoded = true;
          break;
        }
      }
    }
    if (!decoded) *out++ = *in++;
  }
  *out = '\0';
  return out;
}

void StoreAttribute(Table& table, int row, std::string_view name,
                    std::string_view value, int memo_column) {
  if (name == "comment" && memo_column > 0 && table.Text(row, memo_column).empty()) {
    table.SetText(row, memo_column, value);
  }
  const TableSchema& schema = table.schema();
  for (int c = 1; c < table.column_count(); ++c) {
    if (name != schema.columns[c].name) continue;
    const std::uint32_t type = schema.columns[c].type;
    switch (type) {
      case kCellInt:
      case kCellFlag:
      case kCellUnsigned:
        // "%d" into the cell's 32 bits, whatever their signedness.
        ParseCellNumber(value, kCellInt, &table.CellForWriting(row, c));
        break;
      case kCellId:
      case kCellFloat:
        ParseCellNumber(value, type, &table.CellForWriting(row, c));
        break;
      case kCellText:
        table.SetText(row, c, value);
        break;
      default:
        ShowError("readXML: val type not supported %s",
                  std::string(name).c_str());
        break;
    }
    return;
  }
}

}  // namespace

int ParseAttributes(std::string& text, std::size_t start, Table& table, int row) {
  struct Attribute {
    const char* name;
    const char* value;
    std::size_t value_size;
  };
  std::vector<Attribute> attributes;
  if (start > text.size()) return 0;
  enum { kBetween, kName, kValue } state = kBetween;
  // text.data()[text.size()] is the terminating NUL, so the walk cannot
  // leave the buffer.
  char* p = text.data() + start;
  char* name = nullptr;
  char* value = nullptr;
  while (*p != '\0' && *p != '>') {
    if (*p == '\\') {
      if (p[1] == '\0') break;
      if (state == kBetween) {
        state = kName;
        name = p;
      }
      p += 2;
      continue;
    }
    switch (state) {
      case kBetween:
        if (!IsSpace(*p)) {
          state = kName;
          name = p;
        }
        ++p;
        break;
      case kName:
        if (*p == '=') {
          *p = '\0';
          if (p[1] != '"') return -1;
          value = p + 2;
          p += 2;
          state = kValue;
        } else {
          ++p;
        }
        break;
      case kValue:
        if (*p == '"') {
          char* end = DecodeEntities(value, p);
          attributes.push_back({name, value, static_cast<std::size_t>(end - value)});
          if (static_cast<int>(attributes.size()) > kMaxRecordAttributes) {
            FatalError("readXML too many param");
          }
          state = kBetween;
        }
        ++p;
        break;
    }
  }
  const int memo = table.FindColumn("memo");
  for (const Attribute& a : attributes) {
    StoreAttribute(table, row, a.name, std::string_view(a.value, a.value_size), memo);
  }
  return static_cast<int>(attributes.size());
}

std::optional<std::string> ReadRecordText(const std::filesystem::path& path,
                                          std::uintmax_t max_bytes) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  if (size >= max_bytes) {
    ShowError("readXML: file too big\n%s", path.c_str());
    return std::nullopt;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::string text;
  text.reserve(static_cast<std::size_t>(size));
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    text.append(buffer, n);
    if (text.size() >= max_bytes) break;  // grew while being read
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  if (text.size() >= max_bytes) {
    ShowError("readXML: file too big\n%s", path.c_str());
    return std::nullopt;
  }
  return text;
}

std::size_t FindElement(std::string_view text, std::string_view element) {
  for (std::size_t p = text.find('<'); p != std::string_view::npos;
       p = text.find('<', p + 1)) {
    if (text.substr(p + 1, element.size()) == element) return p + 1 + element.size();
  }
  return std::string_view::npos;
}

int ReadRecordIntoRow(const std::filesystem::path& path, std::string_view element,
                      Table& table, int row) {
  if (row < 0 || row >= table.count()) FatalError("readXML: line%d not exist", row);
  std::optional<std::string> text = ReadRecordText(path);
  if (!text) return 0;
  std::size_t start = FindElement(*text, element);
  if (start == std::string::npos) return 0;
  int n = ParseAttributes(*text, start, table, row);
  if (n < 0) {
    ShowError("readXML: file broken\n%s", path.c_str());
    return 0;
  }
  return n;
}

int ReadRecordIntoClipRow(const std::filesystem::path& path,
                          std::string_view element, int row) {
  return ReadRecordIntoRow(path, element, Tables().clip, row);
}

namespace {

void AppendEscaped(std::string* out, std::string_view value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    switch (value[i]) {
      case '&': *out += "&amp;"; break;
      case '"': *out += "&quot;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '\\':
        if (i + 1 == value.size()) {
          *out += "&#92;";
          break;
        }
        [[fallthrough]];
      default: out->push_back(value[i]); break;
    }
  }
}

}  // namespace

void WriteElement(std::string* out, std::string_view element, int version,
                  const Table& table, int row, bool open, bool close) {
  if (open) {
    *out += '<';
    *out += element;
    if (version > 0) {
      *out += " version =\"";
      *out += std::to_string(version);
      *out += '"';
    }
    const TableSchema& schema = table.schema();
    int written = 0;
    for (int c = 1; c < table.column_count(); ++c) {
      const ColumnDescriptor& column = schema.columns[c];
      if (!column.persist) continue;
      if (written++ % 4 == 0) *out += "\r\n\t";
      *out += ' ';
      *out += column.name;
      *out += "=\"";
      const Cell& cell = table.CellForReading(row, c);
      switch (column.type) {
        case kCellFlag:
        case kCellUnsigned:
          AppendCellNumber(out, cell, kCellInt);  // "%d"
          break;
        case kCellText:
          AppendEscaped(out, table.Text(row, c));
          break;
        default:
          AppendCellNumber(out, cell, column.type);
          break;
      }
      *out += '"';
    }
    *out += ">\r\n";
  }
  if (close) {
    *out += "</";
    *out += element;
    *out += ">\r\n";
  }
}

namespace {

// The start of the value of the first attribute `name` in a tag: outside
// values, after white space, followed by `="`. npos when there is none.
std::size_t FindAttributeValue(std::string_view text, std::string_view name) {
  bool in_tag = false;
  bool in_value = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_value) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_value = false;
      }
      continue;
    }
    if (!in_tag) {
      in_tag = c == '<';
      continue;
    }
    if (c == '>') {
      in_tag = false;
    } else if (c == '"') {
      in_value = true;
    } else if (i > 0 && IsSpace(text[i - 1]) &&
               text.substr(i, name.size()) == name &&
               text.substr(i + name.size(), 2) == "=\"") {
      return i + name.size() + 2;
    }
  }
  return std::string_view::npos;
}

int ReplaceValue(std::string* text, std::string_view name, const std::string& value) {
  const std::size_t start = FindAttributeValue(*text, name);
  if (start == std::string::npos) return 0;
  std::size_t end = start;
  while (end < text->size() && (*text)[end] != '"') {
    end += (*text)[end] == '\\' ? 2 : 1;
  }
  if (end >= text->size()) FatalError("xml broken");
  text->replace(start, end - start, value);
  return 1;
}

}  // namespace

int ReplaceIntValue(std::string* text, std::string_view name, int value) {
  return ReplaceValue(text, name, std::to_string(value));
}

int ReplaceSecondsValue(std::string* text, double value, int decimals) {
  std::string formatted;
  AppendFixed(&formatted, value, decimals);
  return ReplaceValue(text, "s", formatted);
}

}  // namespace mr4
