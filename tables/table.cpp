#include "tables/table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <system_error>

#include "base/error.h"
#include "platform/file_replace.h"
#include "tables/cell_text.h"

namespace mr4 {

// ---------------------------------------------------------------- strings

struct StringStore::Block {
  std::unique_ptr<unsigned char[]> data;
  std::size_t alloc = 0;  // allocation pointer, bytes from data
  std::array<unsigned char*, kSizeClasses> free_heads{};

  bool Contains(const char* s) const {
    auto p = reinterpret_cast<const unsigned char*>(s);
    return p >= data.get() && p < data.get() + kBlockBytes;
  }
};

namespace {

std::size_t ClassBytes(std::size_t length) {
  return (length / 8 + 1) * StringStore::kGranuleBytes;
}

}  // namespace

StringStore::StringStore() = default;
StringStore::~StringStore() = default;

StringStore& Strings() {
  static StringStore store;
  return store;
}

StringStore::Block* StringStore::NewBlock() {
  auto block = std::unique_ptr<Block>(new (std::nothrow) Block);
  if (block) block->data.reset(new (std::nothrow) unsigned char[kBlockBytes]);
  if (!block || !block->data) FatalCode(kFatalStringStoreNoMemory);
  blocks_.push_back(std::move(block));
  return blocks_.back().get();
}

void StringStore::Prime() {
  std::lock_guard guard(mutex_);
  if (blocks_.empty()) NewBlock();
}

const char* StringStore::Store(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(kCellTextMaxBytes)) {
    FatalCode(kFatalStringTooLong);
  }
  const std::size_t k = text.size() / 8;
  const std::size_t bytes = ClassBytes(text.size());
  std::lock_guard guard(mutex_);
  unsigned char* place = nullptr;
  for (auto& block : blocks_) {
    if (unsigned char* head = block->free_heads[k]) {
      std::memcpy(&block->free_heads[k], head, sizeof(unsigned char*));
      place = head;
      break;
    }
    if (kBlockBytes - block->alloc >= bytes) {
      place = block->data.get() + block->alloc;
      block->alloc += bytes;
      break;
    }
  }
  if (!place) {
    Block* block = NewBlock();
    place = block->data.get();
    block->alloc = bytes;
  }
  std::memcpy(place, text.data(), text.size());
  place[text.size()] = '\0';
  return reinterpret_cast<const char*>(place);
}

void StringStore::Release(const char* text) {
  std::lock_guard guard(mutex_);
  for (auto& block : blocks_) {
    if (!block->Contains(text)) continue;
    const std::size_t length = std::strlen(text);
    const std::size_t bytes = ClassBytes(length);
    auto p = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    if (p + bytes == block->data.get() + block->alloc) {
      block->alloc -= bytes;
    } else {
      unsigned char*& head = block->free_heads[length / 8];
      std::memcpy(p, &head, sizeof head);
      head = p;
    }
    return;
  }
  FatalCode(kFatalStringNotInStore);
}

void StringStore::FreeAll() {
  std::lock_guard guard(mutex_);
  blocks_.clear();
}

int StringStore::block_count() const {
  std::lock_guard guard(mutex_);
  return static_cast<int>(blocks_.size());
}

std::size_t StringStore::bytes_in_use() const {
  std::lock_guard guard(mutex_);
  std::size_t total = 0;
  for (const auto& block : blocks_) total += block->alloc;
  return total;
}

// ----------------------------------------------------------------- tables

Table::Table(const TableSchema& schema)
    : schema_(&schema),
      columns_(schema.column_count()),
      block_size_(schema.block_size),
      name_(schema.name) {
  blocks_.reserve(kMaxBlocks);
  BlockFor(0, true);
}

Table::~Table() { Clear(); }

RowBlock* Table::BlockFor(int row, bool grow) const {
  if (row < 0) return nullptr;
  const std::size_t index = static_cast<std::size_t>(row / block_size_);
  if (index < blocks_.size()) return blocks_[index].get();
  if (!grow) return nullptr;
  while (blocks_.size() <= index) {
    if (blocks_.size() >= static_cast<std::size_t>(kMaxBlocks)) {
      FatalCode(kFatalRowBlockNoMemory);
    }
    auto block = std::unique_ptr<RowBlock>(new (std::nothrow) RowBlock);
    const std::size_t cells =
        static_cast<std::size_t>(block_size_) * static_cast<std::size_t>(columns_);
    if (block) block->cells.reset(new (std::nothrow) Cell[cells]());
    if (!block || !block->cells) FatalCode(kFatalRowBlockNoMemory);
    block->end_row = static_cast<int>(blocks_.size() + 1) * block_size_;
    blocks_.push_back(std::move(block));
  }
  return blocks_[index].get();
}

Cell* Table::RowCells(int row, bool grow) const {
  RowBlock* block = BlockFor(row, grow);
  if (!block) return nullptr;
  const int first = block->end_row - block_size_;
  return block->cells.get() + static_cast<std::size_t>(row - first) * columns_;
}

bool Table::Exists(int row) const {
  const Cell* cells = RowCells(row, false);
  if (!cells) FatalCode(kFatalRowBeyondBlocksScan);
  return cells[0].bits != 0;
}

const Cell& Table::CellForReading(int row, int column) const {
  const Cell* cells = RowCells(row, false);
  if (!cells) FatalCode(kFatalRowBeyondBlocksRead);
  if (cells[0].bits == 0) FatalCode(kFatalRowMissing);
  return cells[column];
}

Cell& Table::CellForWriting(int row, int column) {
  Cell* cells = RowCells(row, true);
  if (!cells) FatalCode(kFatalRowBeyondBlocksRead);
  return cells[column];
}

void Table::ReleaseRowStrings(int row) {
  Cell* cells = RowCells(row, false);
  if (!cells) return;
  for (int c = 1; c < columns_; ++c) {
    if (schema_->columns[c].type != kCellText || cells[c].bits == 0) continue;
    const char* s;
    std::memcpy(&s, &cells[c].bits, sizeof s);
    Strings().Release(s);
    cells[c].bits = 0;
  }
}

void Table::Clear() {
  for (int r = 0; r < count_; ++r) {
    const Cell* cells = RowCells(r, false);
    if (cells && cells[0].bits != 0) ReleaseRowStrings(r);
  }
  count_ = 0;
}

int Table::AppendRow() {
  const int row = count_;
  Cell* cells = RowCells(row, true);
  if (!cells) FatalCode(kFatalAppendNoBlock);
  for (int c = 0; c < columns_; ++c) cells[c].bits = 0;
  cells[0].bits = 1;
  ++count_;
  return row;
}

void Table::DeleteRow(int row) {
  if (row < 0 || row >= count_ || !Exists(row)) FatalCode(kFatalRowMissing);
  ReleaseRowStrings(row);
  // The exist flag goes in either case: a caller that kept the index of a
  // deleted last row must not find it alive.
  CellForWriting(row, 0).bits = 0;
  if (row == count_ - 1) --count_;
}

void Table::Reset() {
  Clear();
  if (blocks_.empty()) {
    BlockFor(0, true);
    return;
  }
  blocks_.resize(1);
  const std::size_t cells =
      static_cast<std::size_t>(block_size_) * static_cast<std::size_t>(columns_);
  std::memset(static_cast<void*>(blocks_[0]->cells.get()), 0, cells * sizeof(Cell));
}

void Table::Free() {
  Clear();
  blocks_.clear();
}

void Table::SetText(int row, int column, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(kCellTextMaxBytes)) {
    FatalCode(kFatalCellTextTooLong);
  }
  Cell& cell = CellForWriting(row, column);
  if (cell.bits != 0) {
    const char* old;
    std::memcpy(&old, &cell.bits, sizeof old);
    Strings().Release(old);
    cell.bits = 0;
  }
  if (!text.empty()) {
    const char* s = Strings().Store(text);
    std::memcpy(&cell.bits, &s, sizeof s);
  }
}

int Table::FindColumn(std::string_view name) const {
  for (int c = 0; c < columns_; ++c) {
    if (name == schema_->columns[c].name) return c;
  }
  return -1;
}

// ------------------------------------------------------------ table files

namespace {

// Text-mode reading as the format was defined on its home platform: CR LF
// becomes LF, then lines are taken as by fgets into a buffer of
// kFileLineMaxBytes + 1, so a longer line is split and its rest read as a
// further line. A line ends at a NUL byte as well.
//
// In a file without any LF, a CR ends a line: a file saved with the old
// Macintosh line ends would otherwise read as its header line alone, and
// be written back so.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) {
    const bool cr_lines = bytes.find('\n') == std::string_view::npos;
    text_.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' && cr_lines) {
        text_.push_back('\n');
        continue;
      }
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
      text_.push_back(bytes[i]);
    }
  }
  // The next line and the number of the file line it comes from (the
  // pieces of a split line share its number).
  bool Next(std::string_view* line, int* number) {
    if (pos_ >= text_.size()) return false;
    *number = line_;
    std::size_t end = pos_;
    std::size_t limit = std::min(text_.size(), pos_ + kFileLineMaxBytes);
    while (end < limit && text_[end] != '\n') ++end;
    std::string_view content(text_.data() + pos_, end - pos_);
    // A line feed beyond the buffer's reach is left for the next line.
    if (end < limit && text_[end] == '\n') {
      pos_ = end + 1;
      ++line_;
    } else {
      pos_ = end;
    }
    std::size_t nul = content.find('\0');
    *line = content.substr(0, nul);
    return true;
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

// A malformed table file ends the program (code 201), naming the file, the
// line and what is wrong with it.
[[noreturn]] void Malformed(std::string_view source, int line, const std::string& what) {
  FatalCodeWithMessage(kFatalMalformedTableFile, "Malformed table file %.*s, line %d: %s",
                       static_cast<int>(source.size()), source.data(), line, what.c_str());
}

// A field as a message shows it: quoted, long ones cut.
std::string Quoted(std::string_view field) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"";
  out += field.substr(0, kShown);
  if (field.size() > kShown) out += "...";
  return out + "\"";
}

}  // namespace

void Table::ReadText(std::string_view bytes, std::string_view source,
                     std::vector<int>* row_lines) {
  if (source.empty()) source = name_;
  LineReader lines(bytes);
  std::string_view line;
  int number = 1;
  if (!lines.Next(&line, &number)) Malformed(source, 1, "no header line");
  const std::uint32_t version = schema_->version;
  while (lines.Next(&line, &number)) {
    if (version != 0) {
      std::uint32_t v;
      if (!ParseUintPrefix(line, &v) || v != version) {
        Malformed(source, number, "the row does not start with the version " +
                                      std::to_string(version));
      }
    }
    const int row = AppendRow();
    if (row_lines) row_lines->push_back(number);
    // Field k of the line is the text after its k-th comma (a version-0
    // line has no version field, so its first column starts the line).
    std::size_t p = 0;
    bool at_first_field = version == 0;
    for (int c = 1; c < columns_; ++c) {
      const ColumnDescriptor& column = schema_->columns[c];
      if (!column.persist) continue;
      if (!at_first_field) {
        std::size_t comma = line.find(',', p);
        if (comma == std::string_view::npos) break;  // the rest stays empty
        p = comma + 1;
      }
      at_first_field = false;
      std::string_view field = line.substr(p);
      field = field.substr(0, field.find(','));
      if (field.empty()) continue;
      const std::string column_name = std::string("\"") + column.name + "\"";
      if (column.type == kCellText) {
        if (version != 0) {
          if (field[0] != '_') {
            Malformed(source, number,
                      "the text of " + column_name + " does not start with \"_\"");
          }
          field.remove_prefix(1);
        }
        if (field.size() > static_cast<std::size_t>(kFileTextMaxBytes)) {
          Malformed(source, number,
                    "the text of " + column_name + " is longer than " +
                        std::to_string(kFileTextMaxBytes) + " bytes");
        }
        if (!field.empty()) SetText(row, c, field);
      } else if (!ParseCellNumber(field, column.type, &CellForWriting(row, c))) {
        Malformed(source, number, Quoted(field) + " is no number for " + column_name);
      }
    }
  }
}

bool Table::ReadFile(const std::filesystem::path& path, std::vector<int>* row_lines) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string bytes;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return false;
  ReadText(bytes, path.native(), row_lines);
  return true;
}

namespace {

// The longest prefix of `text` of at most `bytes` bytes that does not end
// inside a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// A text as the file can hold it: commas become ";" and line ends blanks
// (the format has no quoting), at most kFileTextMaxBytes bytes.
std::string FileText(std::string_view text) {
  std::string out(CutUtf8(text, kFileTextMaxBytes));
  for (char& ch : out) {
    if (ch == ',') ch = ';';
    if (ch == '\r' || ch == '\n') ch = ' ';
  }
  return out;
}

}  // namespace

std::string Table::FormatText() const {
  const std::uint32_t version = schema_->version;
  std::string out = "_Version";
  for (int c = 1; c < columns_; ++c) {
    if (!schema_->columns[c].persist) continue;
    out += ",_";
    out += schema_->columns[c].name;
  }
  out += "\r\n";

  struct Field {
    std::string text;
    bool is_text;
  };
  std::vector<Field> fields;
  for (int r = 0; r < count_; ++r) {
    if (!Exists(r)) continue;
    fields.clear();
    for (int c = 1; c < columns_; ++c) {
      const ColumnDescriptor& column = schema_->columns[c];
      if (!column.persist) continue;
      Field field{{}, column.type == kCellText};
      if (field.is_text) {
        field.text = FileText(Text(r, c));
      } else {
        AppendCellNumber(&field.text, CellForReading(r, c), column.type);
      }
      fields.push_back(std::move(field));
    }
    // The reader splits lines longer than kFileLineMaxBytes (line feed
    // included): cut the longest texts to a common length until the row
    // fits.
    std::string prefix = version != 0 ? std::to_string(version) : std::string();
    std::size_t fixed = prefix.size();
    std::size_t texts = 0;
    std::size_t longest = 0;
    for (const Field& f : fields) {
      fixed += 1 + (f.is_text && version != 0);
      if (f.is_text) {
        texts += f.text.size();
        longest = std::max(longest, f.text.size());
      } else {
        fixed += f.text.size();
      }
    }
    if (version == 0 && !fields.empty()) --fixed;  // no comma before the first
    const std::size_t room = kFileLineMaxBytes - 1;
    if (fixed + texts > room) {
      const std::size_t budget = fixed < room ? room - fixed : 0;
      std::size_t level = longest;
      auto used = [&](std::size_t h) {
        std::size_t n = 0;
        for (const Field& f : fields) {
          if (f.is_text) n += std::min(f.text.size(), h);
        }
        return n;
      };
      while (level > 0 && used(level) > budget) --level;
      for (Field& f : fields) {
        if (f.is_text) f.text = std::string(CutUtf8(f.text, level));
      }
    }
    out += prefix;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (version != 0 || i > 0) out += ',';
      if (fields[i].is_text && version != 0) out += '_';
      out += fields[i].text;
    }
    out += "\r\n";
  }
  return out;
}

bool Table::WriteFile(const std::filesystem::path& path) const {
  return ReplaceFileContent(path, FormatText());
}

std::string TableTextProblem(std::string_view text) {
  if (text.find(',') != std::string_view::npos) {
    return "a comma cannot be kept in a table file";
  }
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    return "a line end cannot be kept in a table file";
  }
  if (text.find('\0') != std::string_view::npos) {
    return "a NUL character cannot be kept in a table file";
  }
  if (text.size() > static_cast<std::size_t>(kFileTextMaxBytes)) {
    char message[96];
    std::snprintf(message, sizeof message,
                  "a text of more than %d bytes cannot be kept in a table file",
                  kFileTextMaxBytes);
    return message;
  }
  return {};
}

}  // namespace mr4
