// What the fuzz targets run on one input, shared with the regression test
// that replays the inputs they found.
//
// Table files: the first byte picks one of the four table files the program
// reads, the rest is the file. A file the reader takes must come back
// unchanged through the writer and the reader (the writer never writes
// what its reader rejects); a mismatch aborts.
// XML records: the input is a record text; its "halvex_record" element is
// read into a clip row, written back and read again, and a value is
// replaced in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4::fuzz {

// Set while the harness checks output of the program's own writers: a fatal
// code there is a fault, not a rejected input.
inline bool g_checking_own_output = false;

inline void RunTableFile(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  static const TableSchema* const kSchemas[] = {&kDirSchema, &kLeapSchema,
                                                &kShowerSchema, &kEclassSchema};
  const TableSchema& schema = *kSchemas[data[0] % 4];
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  Table table(schema);
  table.ReadText(bytes);
  g_checking_own_output = true;
  const std::string written = table.FormatText();
  Table back(schema);
  back.ReadText(written);
  if (back.count() != [&] {
        int n = 0;
        for (int r = 0; r < table.count(); ++r) n += table.Exists(r);
        return n;
      }() ||
      back.FormatText() != written) {
    std::abort();
  }
  g_checking_own_output = false;
}

inline void RunXmlRecord(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const std::string original = text;
  Table& clips = Tables().clip;
  clips.Reset();
  const int row = clips.AppendRow();
  std::size_t start = FindElement(text, "halvex_record");
  if (start != std::string::npos) ParseAttributes(text, start, clips, row);

  g_checking_own_output = true;
  std::string written;
  WriteElement(&written, "halvex_record", 0, clips, row, true, true);
  const int again = clips.AppendRow();
  std::size_t written_start = FindElement(written, "halvex_record");
  if (written_start == std::string::npos ||
      ParseAttributes(written, written_start, clips, again) < 0) {
    std::abort();
  }
  for (int c = 1; c < clips.column_count(); ++c) {
    const ColumnDescriptor& d = clips.schema().columns[c];
    if (d.persist && d.type == kCellText && clips.Text(row, c) != clips.Text(again, c)) {
      std::abort();
    }
  }
  g_checking_own_output = false;

  // The in-place editors on the raw input (may end with "xml broken").
  text = original;
  ReplaceIntValue(&text, "d", 12345);
  ReplaceSecondsValue(&text, 1.5);
  clips.Reset();
}

}  // namespace mr4::fuzz
