// XML record files: capture records, camera profiles and result files keep
// their data as the attributes of an element, mapped to a table row by name
// (attribute name = column name, exact and case-sensitive). No general XML
// library: one tokeniser for opening tags, one writer, and two editors that
// change a value inside the text of a record.
//
// Record text is the file's bytes as they are (UTF-8 stays UTF-8); files of
// kRecordFileMaxBytes or more are not read. The writer escapes the text
// values' "&", '"', "<" and ">" as "&amp;", "&quot;", "&lt;", "&gt;", and a
// final backslash (which would otherwise hide the closing quote) as "&#92;";
// the reader decodes these five and takes everything else as it is. A
// backslash in a value makes the reader pass over the character after it.
//
// Conversions by column type: 1-3 "%d", 4 "%u", 7 "%f" (six decimals
// written), 9 text. The functions run on the thread that owns the target
// table (OBJ under its lock).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tables/table.h"

namespace mr4 {

inline constexpr std::uintmax_t kRecordFileMaxBytes = 1000000;
// Result files hold every trail sample (about 230 bytes each) and pass the
// record limit from about 4,000 samples; their readers allow this much.
inline constexpr std::uintmax_t kResultFileMaxBytes = std::uintmax_t{256} << 20;
// An element holds at most this many attributes ("readXML too many param").
inline constexpr int kMaxRecordAttributes = 999;

// Tokenises the attributes that start at `text[start]` (just after the
// element name) up to the end of the opening tag, a NUL or the end of the
// text, and stores each into the first column of `table` with its name; an
// attribute "comment" also fills "memo" while that is empty. `text` is
// changed in place. Returns the number of complete attributes, or -1 when a
// name is not followed by "=" and a double quote (nothing is stored then).
int ParseAttributes(std::string& text, std::size_t start, Table& table, int row);

// The part of `text` from `start` that ParseAttributes reads: up to the
// first ">" or NUL that no backslash hides, or the end. A copy of it parses
// as the whole text does, and leaves the text unchanged.
std::string_view OpeningTagRest(std::string_view text, std::size_t start);

// Why ParseAttributes would end the program over the attributes from
// `text[start]` into `table`: more than kMaxRecordAttributes of them, or a
// text value (a "comment" included) over kCellTextMaxBytes once decoded.
// Empty when it would not (a broken tag is ParseAttributes' -1). Readers of
// files the program did not write check this first and skip such a file.
std::string AttributeLimitProblem(std::string_view text, std::size_t start,
                                  const Table& table);
// True when the element is within those limits; otherwise false after
// "<problem>, file skipped\n<path>": the file is not to be read.
bool RecordWithinLimits(std::string_view text, std::size_t start, const Table& table,
                        const std::filesystem::path& path);

// The bytes of a record file; nullopt when it does not exist or cannot be
// read, or (after "readXML: file too big\n%s") when it holds `max_bytes` or
// more.
std::optional<std::string> ReadRecordText(const std::filesystem::path& path,
                                          std::uintmax_t max_bytes = kRecordFileMaxBytes);

// The position just after the first "<" + `element` (the character after
// the name is not examined), or npos.
std::size_t FindElement(std::string_view text, std::string_view element);

// Reads the element's attributes from a record file into `row` of `table`.
// Returns the number of attributes, 0 when nothing was read ("readXML: file
// broken\n%s" for a broken tag; a file beyond the limits is skipped, see
// RecordWithinLimits). FatalError "readXML: line%d not exist" when `row` is
// not below the table's count.
int ReadRecordIntoRow(const std::filesystem::path& path, std::string_view element,
                      Table& table, int row);
// The same into a row of the clip table.
int ReadRecordIntoClipRow(const std::filesystem::path& path,
                          std::string_view element, int row);

// Appends the opening tag of `element` with the row's persisted columns
// (when `open`; "<name version =\"%d\"" when `version` > 0; four attributes
// to a line, each line after CR LF and a tab) and/or the closing tag (when
// `close`). Lines end with CR LF.
void WriteElement(std::string* out, std::string_view element, int version,
                  const Table& table, int row, bool open, bool close);

// Replaces the value of the first attribute `name` of the text (a name that
// starts an attribute inside a tag, followed by "=" and a quote) with
// `value` ("%d"); the text grows or shrinks. Returns 1 when replaced, 0 when
// there is no such attribute; FatalError "xml broken" when its value has no
// closing quote.
int ReplaceIntValue(std::string* text, std::string_view name, int value);
// The same for the attribute "s", written with `decimals` places ("%.4f").
int ReplaceSecondsValue(std::string* text, double value, int decimals = 4);

}  // namespace mr4
