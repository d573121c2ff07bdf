// Row tables with a static column schema, the pooled string store behind
// their text cells, and the CSV table files.
//
// A `Table` holds rows of 8-byte cells in `RowBlock`s of a fixed number of
// rows; row indexes are stable (a deleted row leaves a hole, only the last
// slot is ever reused) until the table is cleared. Column 0 of every schema
// is "exist", the row's presence flag. Cells are read and written through
// typed accessors addressed by the column constants of
// tables/table_catalogue.h (`clip::kDirectory`); reading costs one block
// lookup and no allocation. Text cells point into the process-wide
// `StringStore` and are UTF-8; their length is counted in bytes.
//
// Violations end the program through FatalCode: 105 no memory for a block,
// 106 a scanned row beyond every block, 107 no block for an appended row,
// 110 a read row that does not exist, 111 a read row beyond every block,
// 113 a cell text of 1024 bytes or more; the store adds 101, 102, 103; a
// malformed table file gives 201.
//
// Threads: a table is used from the user-interface thread, except the object
// table, which analysis workers change while holding its `TableLock`; any
// other thread that reads or writes it takes the same lock. The block
// directory never moves, so a row index stays valid while other rows are
// appended. The string store serialises itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mr4 {

// Cell type codes (ColumnDescriptor::type).
enum CellType : std::uint32_t {
  kCellInt = 1,       // int32, "%d"
  kCellFlag = 2,      // uint32 flag or selector, "%u"
  kCellUnsigned = 3,  // uint32, "%u"
  kCellId = 4,        // uint32 exist flag or identifier, "%u"
  kCellInt64 = 5,     // int64, "%lld"
  kCellFloat = 7,     // float, "%f"
  kCellDouble = 8,    // double, "%f" (read through a float)
  kCellText = 9,      // string in the StringStore, or none
};

// The longest text a cell holds, and the longest a table file gives back.
inline constexpr int kCellTextMaxBytes = 1023;
inline constexpr int kFileTextMaxBytes = 1022;
// A table file line, its line feed included: longer lines are split.
inline constexpr int kFileLineMaxBytes = 1023;

struct ColumnDescriptor {
  std::uint32_t type;     // CellType
  std::uint32_t persist;  // 1: kept in the table file or XML record
  const char* name;       // at most 31 characters
};

struct TableSchema {
  const char* name;       // the table's name; for persistent tables its file
  std::uint32_t version;  // written first on every row; 0: external file
  int block_size;         // rows per RowBlock
  int check_column;       // bound to list check boxes (0: none)
  std::span<const ColumnDescriptor> columns;
  int column_count() const { return static_cast<int>(columns.size()); }
};

// One 8-byte cell; the column's type says how the bits are read.
struct Cell {
  std::uint64_t bits = 0;
};

struct RowBlock {
  int end_row = 0;  // one past the last row index this block holds
  std::unique_ptr<Cell[]> cells;  // block_size x column_count, row-major
};

// The pooled store of cell strings: blocks of kBlockBytes with per-block
// free lists by size class. Class k holds texts of 8k to 8k+7 bytes in
// (k + 1) granules of 16 bytes, terminator included.
class StringStore {
 public:
  static constexpr std::size_t kBlockBytes = 2096160;
  static constexpr std::size_t kGranuleBytes = 16;
  static constexpr int kSizeClasses = 128;

  StringStore();
  ~StringStore();
  StringStore(const StringStore&) = delete;
  StringStore& operator=(const StringStore&) = delete;

  // A stored copy of `text` (FatalCode 102 at 1024 bytes or more, 101 when
  // no block can be allocated).
  const char* Store(std::string_view text);
  // Hands a stored string back (FatalCode 103 when it is in no block).
  void Release(const char* text);
  // Makes sure the first block exists.
  void Prime();
  // Frees every block; strings still held become invalid.
  void FreeAll();

  int block_count() const;
  // Bytes handed out at the allocation pointers, over all blocks (tests).
  std::size_t bytes_in_use() const;

 private:
  struct Block;
  Block* NewBlock();
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Block>> blocks_;  // oldest first
};

// The one string store of the program.
StringStore& Strings();

// A table's lock (Lockable: use with std::lock_guard).
class TableLock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool try_lock() { return mutex_.try_lock(); }

 private:
  std::mutex mutex_;
};

class Table {
 public:
  // The block directory's capacity: at most this many blocks per table.
  static constexpr int kMaxBlocks = 16384;

  // Create: an empty table with one zero-filled block.
  explicit Table(const TableSchema& schema);
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const TableSchema& schema() const { return *schema_; }
  int column_count() const { return columns_; }
  // The table's name; the shower table's is the catalogue's file name.
  const std::string& name() const { return name_; }
  void set_name(std::string_view name) { name_ = name; }
  TableLock& lock() { return lock_; }

  // Row slots in use, holes included: rows 0 .. count-1.
  int count() const { return count_; }
  // The row's exist flag (FatalCode 106 when beyond every block).
  bool Exists(int row) const;

  // Returns every string and sets count to 0; blocks stay.
  void Clear();
  // Returns the new row (the old count); its exist flag is 1, every other
  // cell zero.
  int AppendRow();
  // The last slot shrinks the table, any other row becomes a hole.
  void DeleteRow(int row);
  // Clear and free every block but the first (Create again).
  void Reset();
  // Frees every block and string (shut-down); the table is then empty and
  // gets a fresh block on first use.
  void Free();

  // Typed reads of an existing row (FatalCode 111 beyond every block, 110
  // for a missing row).
  std::int32_t Int(int row, int column) const { return Get<std::int32_t>(row, column); }
  std::uint32_t Uint(int row, int column) const { return Get<std::uint32_t>(row, column); }
  std::int64_t Int64(int row, int column) const { return Get<std::int64_t>(row, column); }
  float Float(int row, int column) const { return Get<float>(row, column); }
  double Double(int row, int column) const { return Get<double>(row, column); }
  // Empty when the cell holds no string.
  std::string_view Text(int row, int column) const {
    const char* s = Get<const char*>(row, column);
    return s ? std::string_view(s) : std::string_view();
  }

  // Typed writes of row `row`, adding blocks as needed; the exist flag is
  // not checked.
  void SetInt(int row, int column, std::int32_t v) { Put(row, column, v); }
  void SetUint(int row, int column, std::uint32_t v) { Put(row, column, v); }
  void SetInt64(int row, int column, std::int64_t v) { Put(row, column, v); }
  void SetFloat(int row, int column, float v) { Put(row, column, v); }
  void SetDouble(int row, int column, double v) { Put(row, column, v); }
  // Replaces the string (FatalCode 113 at 1024 bytes or more); an empty
  // text leaves no string.
  void SetText(int row, int column, std::string_view text);

  // Raw cells, for code that walks columns by type (files, list views).
  const Cell& CellForReading(int row, int column) const;
  Cell& CellForWriting(int row, int column);

  // Index of the first column named `name` (column 0 included), or -1.
  int FindColumn(std::string_view name) const;

  // The sort that the list views of this table share when they keep their
  // sort with the table: column 0 is none, direction > 0 ascending. Every
  // list sort stores itself here; clearing the table keeps it.
  int list_sort_column() const { return list_sort_column_; }
  int list_sort_direction() const { return list_sort_direction_; }
  void set_list_sort(int column, int direction) {
    list_sort_column_ = column;
    list_sort_direction_ = direction;
  }

  // Reads a table file into the table (appending rows); false when the file
  // cannot be opened. Malformed files end the program with FatalCode 201,
  // after a message naming the file, the line and the fault. `row_lines`,
  // when given, receives the file line of each row appended.
  bool ReadFile(const std::filesystem::path& path, std::vector<int>* row_lines = nullptr);
  // The same over file contents in memory; messages name `source` (the
  // table's name when empty).
  void ReadText(std::string_view text, std::string_view source = {},
                std::vector<int>* row_lines = nullptr);
  // Writes every existing row, through a temporary file renamed into place;
  // false when the file could not be written.
  bool WriteFile(const std::filesystem::path& path) const;
  // The file contents the writer produces.
  std::string FormatText() const;

 private:
  template <typename T>
  T Get(int row, int column) const {
    T v;
    std::memcpy(&v, &CellForReading(row, column).bits, sizeof v);
    return v;
  }
  template <typename T>
  void Put(int row, int column, T v) {
    Cell& cell = CellForWriting(row, column);
    cell.bits = 0;
    std::memcpy(&cell.bits, &v, sizeof v);
  }
  // The block holding `row`, adding blocks up to it when `grow`; nullptr
  // when the row lies beyond every block and `grow` is false.
  RowBlock* BlockFor(int row, bool grow) const;
  Cell* RowCells(int row, bool grow) const;
  void ReleaseRowStrings(int row);

  const TableSchema* schema_;
  int columns_;
  int block_size_;
  std::string name_;
  int count_ = 0;
  int list_sort_column_ = 0;
  int list_sort_direction_ = 1;
  TableLock lock_;
  // Reserved to kMaxBlocks at creation, so it never moves.
  mutable std::vector<std::unique_ptr<RowBlock>> blocks_;
};

// Why a text cannot be kept in a table file, or empty when it can: a comma
// or a line end (the format has no quoting), a NUL, or more than
// kFileTextMaxBytes bytes. Places that put user text into persisted tables
// refuse such text with this message.
std::string TableTextProblem(std::string_view text);

}  // namespace mr4
