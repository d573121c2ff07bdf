#include "tables/xml_record.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

constexpr struct {
  std::string_view entity;
  char ch;
} kEntities[] = {{"&amp;", '&'}, {"&quot;", '"'}, {"&lt;", '<'},
                 {"&gt;", '>'}, {"&#92;", '\\'}};

// The length of the entity at the start of `rest` and its character, or 0.
std::size_t EntityAt(std::string_view rest, char* ch) {
  if (rest.empty() || rest[0] != '&') return 0;
  for (const auto& e : kEntities) {
    if (rest.substr(0, e.entity.size()) == e.entity) {
      *ch = e.ch;
      return e.entity.size();
    }
  }
  return 0;
}

// Decodes the entities of a value in place (the value only shrinks) and
// terminates it; returns its new end.
char* DecodeEntities(char* value, char* end) {
  char* out = value;
  for (char* in = value; in < end;) {
    char ch;
    const std::size_t n = EntityAt(std::string_view(in, static_cast<std::size_t>(end - in)), &ch);
    if (n > 0) {
      *out++ = ch;
      in += n;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return out;
}

// The length of a value once its entities are decoded.
std::size_t DecodedSize(std::string_view value) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < value.size(); ++size) {
    char ch;
    const std::size_t n = EntityAt(value.substr(i), &ch);
    i += n > 0 ? n : 1;
  }
  return size;
}

// One complete attribute of an opening tag, as offsets into the text: the
// name runs up to its "=", the (still encoded) value up to its closing quote.
struct AttributeSpan {
  std::size_t name, name_end, value, value_end;
};

constexpr int kTagBroken = -1;
constexpr int kTooManyAttributes = -2;

// The tokenising walk over the attributes from `text[start]`, leaving the
// text as it is: the attributes' spans and their count, kTagBroken when a
// name is not followed by "=" and a double quote, or kTooManyAttributes at
// the first complete attribute beyond kMaxRecordAttributes.
int WalkAttributes(std::string_view text, std::size_t start,
                   std::vector<AttributeSpan>* spans) {
  auto at = [&](std::size_t i) { return i < text.size() ? text[i] : '\0'; };
  enum { kBetween, kName, kValue } state = kBetween;
  std::size_t p = start;
  AttributeSpan span{};
  while (at(p) != '\0' && at(p) != '>') {
    if (at(p) == '\\') {
      if (at(p + 1) == '\0') break;
      if (state == kBetween) {
        state = kName;
        span.name = p;
      }
      p += 2;
      continue;
    }
    switch (state) {
      case kBetween:
        if (!IsSpace(at(p))) {
          state = kName;
          span.name = p;
        }
        ++p;
        break;
      case kName:
        if (at(p) == '=') {
          if (at(p + 1) != '"') return kTagBroken;
          span.name_end = p;
          span.value = p + 2;
          p += 2;
          state = kValue;
        } else {
          ++p;
        }
        break;
      case kValue:
        if (at(p) == '"') {
          span.value_end = p;
          spans->push_back(span);
          if (static_cast<int>(spans->size()) > kMaxRecordAttributes) {
            return kTooManyAttributes;
          }
          state = kBetween;
        }
        ++p;
        break;
    }
  }
  return static_cast<int>(spans->size());
}

// True when the attribute `name` is stored as a text of `table`: its first
// column of that name is a text column, or it is a "comment" that may fill
// "memo".
bool StoresText(const Table& table, std::string_view name) {
  if (name == "comment" && table.FindColumn("memo") > 0) return true;
  const TableSchema& schema = table.schema();
  for (int c = 1; c < table.column_count(); ++c) {
    if (name == schema.columns[c].name) return schema.columns[c].type == kCellText;
  }
  return false;
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
  if (start > text.size()) return 0;
  std::vector<AttributeSpan> spans;
  const int n = WalkAttributes(text, start, &spans);
  if (n == kTooManyAttributes) FatalError("readXML too many param");
  if (n < 0) return -1;
  const int memo = table.FindColumn("memo");
  for (const AttributeSpan& a : spans) {
    text[a.name_end] = '\0';
    char* value = text.data() + a.value;
    char* end = DecodeEntities(value, text.data() + a.value_end);
    StoreAttribute(table, row, std::string_view(text.data() + a.name, a.name_end - a.name),
                   std::string_view(value, static_cast<std::size_t>(end - value)), memo);
  }
  return n;
}

std::string_view OpeningTagRest(std::string_view text, std::size_t start) {
  if (start > text.size()) return {};
  // Where the attribute walk stops, whatever its state: a ">" or NUL that
  // no backslash hides, or the end of the text.
  std::size_t p = start;
  while (p < text.size() && text[p] != '\0' && text[p] != '>') {
    if (text[p] != '\\') {
      ++p;
    } else if (p + 1 < text.size() && text[p + 1] != '\0') {
      p += 2;
    } else {
      break;
    }
  }
  return text.substr(start, p - start);
}

std::string AttributeLimitProblem(std::string_view text, std::size_t start,
                                  const Table& table) {
  if (start > text.size()) return {};
  std::vector<AttributeSpan> spans;
  const int n = WalkAttributes(text, start, &spans);
  if (n == kTooManyAttributes) {
    char message[112];
    std::snprintf(message, sizeof message,
                  "readXML too many param (more than %d attributes in one element)",
                  kMaxRecordAttributes);
    return message;
  }
  if (n < 0) return {};
  for (const AttributeSpan& a : spans) {
    const std::size_t size = DecodedSize(text.substr(a.value, a.value_end - a.value));
    if (size <= static_cast<std::size_t>(kCellTextMaxBytes)) continue;
    const std::string_view name = text.substr(a.name, a.name_end - a.name);
    if (!StoresText(table, name)) continue;
    constexpr std::size_t kNameShown = 40;
    char message[160];
    std::snprintf(message, sizeof message,
                  "readXML: text of \"%.*s%s\" too long (%zu bytes, at most %d)",
                  static_cast<int>(std::min(name.size(), kNameShown)), name.data(),
                  name.size() > kNameShown ? "..." : "", size, kCellTextMaxBytes);
    return message;
  }
  return {};
}

bool RecordWithinLimits(std::string_view text, std::size_t start, const Table& table,
                        const std::filesystem::path& path) {
  const std::string problem = AttributeLimitProblem(text, start, table);
  if (problem.empty()) return true;
  ShowError("%s, file skipped\n%s", problem.c_str(), path.c_str());
  return false;
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
  // Record files travel between machines and programs: one beyond the
  // limits is skipped, not the end of the program.
  if (!RecordWithinLimits(*text, start, table, path)) return 0;
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
