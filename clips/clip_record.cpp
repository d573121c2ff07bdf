#include "clips/clip_record.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "clips/clip_files.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

// Holds the scan-owned columns of a clip row across a file read and puts
// them back afterwards.
class ScanColumnsKept {
 public:
  explicit ScanColumnsKept(int row) : row_(row) {
    const Table& t = Tables().clip;
    for (int c : kTextColumns) texts_.emplace_back(t.Text(row, c));
    for (int c : kNumberColumns) cells_.push_back(t.CellForReading(row, c));
  }
  ~ScanColumnsKept() {
    Table& t = Tables().clip;
    for (std::size_t i = 0; i < std::size(kTextColumns); ++i) {
      t.SetText(row_, kTextColumns[i], texts_[i]);
    }
    for (std::size_t i = 0; i < std::size(kNumberColumns); ++i) {
      t.CellForWriting(row_, kNumberColumns[i]) = cells_[i];
    }
  }
  ScanColumnsKept(const ScanColumnsKept&) = delete;
  ScanColumnsKept& operator=(const ScanColumnsKept&) = delete;

 private:
  static constexpr int kTextColumns[] = {clip::kClipName, clip::kDirectory,
                                         clip::kMedia};
  static constexpr int kNumberColumns[] = {clip::kMT,      clip::kMB,
                                           clip::kOline,   clip::kDriveno,
                                           clip::kDirline, clip::kCheck};
  int row_;
  std::vector<std::string> texts_;
  std::vector<Cell> cells_;
};

// The element `halvex_V5_record` is taken only as
// "<halvex_V5_record" + one separator + "version" + two characters + a
// three-character number of at least 500; returns the position after the
// element name, or npos.
std::size_t FindV5Record(std::string_view text) {
  const std::size_t start = FindElement(text, "halvex_V5_record");
  if (start == std::string_view::npos) return start;
  if (text.size() < start + 1 + 7 + 2 + 3) return std::string_view::npos;
  const char separator = text[start];
  if (separator != ' ' && separator != '\t' && separator != '\r' && separator != '\n') {
    return std::string_view::npos;
  }
  if (text.substr(start + 1, 7) != "version") return std::string_view::npos;
  std::int32_t version = 0;
  std::string digits(text.substr(start + 10, 3));
  if (ParseIntPrefix(digits, &version) == 0) return std::string_view::npos;
  if (version < kFirstV5RecordVersion) return std::string_view::npos;
  return start;
}

// True when the element name ends at `at` (an attribute, white space or
// the end of the tag follows), so that "<mr2_object" does not take
// "<mr2_objects" or "<mr2_objpath".
bool NameEndsAt(std::string_view text, std::size_t at) {
  if (at >= text.size()) return true;
  const char c = text[at];
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' ||
         c == '/' || c == '\0';
}

// ParseAttributes over a copy of the element's tag; -1 after the message
// for a broken tag.
int ParseElement(std::string_view text, std::size_t start, Table& table, int row,
                 const std::filesystem::path& path) {
  std::string tag(OpeningTagRest(text, start));
  const int n = ParseAttributes(tag, 0, table, row);
  if (n < 0) ShowError("readXML: file broken\n%s", path.c_str());
  return n;
}

}  // namespace

int ReadCaptureRecord(const std::filesystem::path& path, int row) {
  Table& clips = Tables().clip;
  if (clips.Int(row, clip::kMT) & KindBit(kKindResult)) return 0;
  ScanColumnsKept kept(row);
  std::optional<std::string> text = ReadRecordText(path);
  if (text) {
    const std::size_t plain = FindElement(*text, "halvex_record");
    if (plain != std::string::npos) {
      if (!RecordWithinLimits(*text, plain, clips, path)) return 0;
      const int n = ParseElement(*text, plain, clips, row, path);
      if (n > 0) return n;
    }
  }
  // The second element is looked for in a new read of the file (a file
  // too big is reported for each element tried).
  text = ReadRecordText(path);
  if (!text) return 0;
  const std::size_t start = FindV5Record(*text);
  if (start == std::string::npos) return 0;
  if (!RecordWithinLimits(*text, start, clips, path)) return 0;
  return std::max(0, ParseElement(*text, start, clips, row, path));
}

int ReadResultObjects(const std::filesystem::path& path, int row) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  if (row < 0 || row >= clips.count()) FatalError("readXML: line%d not exist", row);
  std::optional<std::string> read = ReadRecordText(path, kResultFileMaxBytes);
  if (!read) return 0;
  // The file's text is never changed: every element is parsed from a copy
  // of its tag, so the checks below see what is then read.
  const std::string_view text(*read);
  const std::size_t start = FindElement(text, "meridra_record");
  if (start == std::string::npos) return 0;
  std::vector<std::size_t> object_starts;
  if (std::size_t at = FindElement(text, "mr2_objects"); at != std::string::npos) {
    while (true) {
      const std::size_t next = text.find("<mr2_object", at);
      if (next == std::string::npos) break;
      at = next + 11;
      if (NameEndsAt(text, at)) object_starts.push_back(at);
    }
  }
  // A file beyond the reader's limits is skipped as a whole, before the
  // row changes: the clip stays as if it had no result.
  if (!RecordWithinLimits(text, start, clips, path)) return 0;
  for (std::size_t at : object_starts) {
    if (!RecordWithinLimits(text, at, objects, path)) return 0;
  }
  {
    ScanColumnsKept kept(row);
    clips.SetInt(row, clip::kDrop, -1);
    if (ParseElement(text, start, clips, row, path) < 0) return 0;
  }
  if (FindElement(text, "mr2_objects") == std::string::npos) return 0;

  std::lock_guard lock(objects.lock());
  int last = -1;
  // A result file that was read before into this row keeps no old chain.
  clips.SetInt(row, clip::kOline, -1);
  int count = 0;
  for (std::size_t at : object_starts) {
    const int o = objects.AppendRow();
    objects.SetInt(o, obj::kSN, -1);
    objects.SetInt(o, obj::kNpass, 0);
    objects.SetFloat(o, obj::kDelay, 0.0f);
    objects.SetFloat(o, obj::kDelayM, 0.0f);
    ParseElement(text, at, objects, o, path);
    objects.SetInt(o, obj::kCline, row);
    objects.SetInt(o, obj::kOlinenext, -1);
    if (last < 0) {
      clips.SetInt(row, clip::kOline, o);
    } else {
      objects.SetInt(last, obj::kOlinenext, o);
    }
    last = o;
    ++count;
  }
  clips.SetInt(row, clip::kO, count);
  SummariseClipObjects(row);
  return count;
}

void SummariseClipObjects(int row) {
  Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  float limit = 99.0f;
  float mag = 0.0f, sec = 0.0f, cdegmax = 0.0f, avmin = 10000.0f;
  std::string cls;
  // The chain cannot be longer than the table; a longer walk is a loop.
  int steps = 0;
  for (int o = clips.Int(row, clip::kOline); o >= 0;
       o = objects.Int(o, obj::kOlinenext)) {
    if (++steps > objects.count()) FatalError("oline link broken");
    const float m = objects.Float(o, obj::kMag);
    if (m < limit) {
      limit = m;
      mag = m;
      sec = objects.Float(o, obj::kSec);
      cls = std::string(objects.Text(o, obj::kClass));
    }
    cdegmax = std::max(cdegmax, objects.Float(o, obj::kCdeg));
    avmin = std::min(avmin, objects.Float(o, obj::kAv1));
  }
  clips.SetFloat(row, clip::kMag, mag);
  clips.SetFloat(row, clip::kSec, sec);
  clips.SetText(row, clip::kClass, cls);
  clips.SetFloat(row, clip::kCdegmax, cdegmax);
  clips.SetFloat(row, clip::kAvmin, avmin);
}

}  // namespace mr4
