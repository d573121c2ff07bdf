#include "utility/time_adjust.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "clips/clip_files.h"
#include "platform/file_replace.h"
#include "platform/ui.h"
#include "tables/cell_text.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

constexpr char kResultSuffix[] = "A.XML";
constexpr char kCaptureSuffix[] = ".xml";
// The capture record's element names, in the order the reader tries them.
constexpr const char* kCaptureElements[] = {"halvex_record", "halvex_V5_record"};
constexpr int kFirstLogTimeField = 4;
constexpr int kLogTimeFields = 6;

// One past the ">" that ends the tag whose name ends at `from` (a ">"
// inside a quoted value does not end it); npos when the tag is not closed.
std::size_t TagEnd(std::string_view text, std::size_t from) {
  bool in_value = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (in_value) {
      if (c == '\\') ++i;
      else if (c == '"') in_value = false;
    } else if (c == '"') {
      in_value = true;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// Adds ` name="value"` just after the element name of `tag`.
void AddAttribute(std::string* tag, std::size_t name_end, std::string_view name,
                  const std::string& value) {
  tag->insert(name_end, " " + std::string(name) + "=\"" + value + "\"");
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  return std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

// The capture program's logs in `directory`: "C*.csv", letters in any case
// as the platform the program came from matches them.
std::vector<std::filesystem::path> LogFiles(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || (name[0] != 'C' && name[0] != 'c') || !EndsWithNoCase(name, ".csv")) {
      continue;
    }
    std::error_code type_ec;
    if (it->is_regular_file(type_ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// One file's new text, waiting until every file of the clip has one.
struct FileEdit {
  std::filesystem::path path;
  std::string text;
};

// The edited record file at `path`; false after the message when it cannot
// be read or holds none of `elements`.
bool EditRecordFile(const std::filesystem::path& path, const CivilTime& time,
                    std::span<const char* const> elements, std::uintmax_t max_bytes,
                    std::vector<FileEdit>* edits) {
  // The record readers' limits and messages ("readXML: file too big").
  std::optional<std::string> text = ReadRecordText(path, max_bytes);
  if (!text) return false;
  for (const char* element : elements) {
    if (SetRecordTime(&*text, element, time)) {
      edits->push_back({path, std::move(*text)});
      return true;
    }
  }
  ShowError("readXML: file broken\n%s", path.c_str());
  return false;
}

// Writes every edit or none: all are written to temporaries first, then
// renamed into place.
bool WriteEdits(const std::vector<FileEdit>& edits) {
  std::vector<FileReplacement> files;
  files.reserve(edits.size());
  for (const FileEdit& edit : edits) {
    FileReplacement& file = files.emplace_back(edit.path);
    if (!file.Write(edit.text) || !file.Finish()) {
      ShowError("Cannot open %s", edit.path.c_str());
      return false;
    }
  }
  bool all = true;
  for (FileReplacement& file : files) {
    if (file.Place()) continue;
    ShowError("Cannot open %s", file.target().c_str());
    all = false;
  }
  return all;
}

}  // namespace

bool SetRecordTime(std::string* text, std::string_view element, const CivilTime& time) {
  const std::size_t name_end = FindElement(*text, element);
  if (name_end == std::string::npos) return false;
  const std::size_t tag_start = name_end - element.size() - 1;
  const std::size_t tag_end = TagEnd(*text, name_end);
  if (tag_end == std::string_view::npos) return false;
  // Only this tag is edited: a later element's "y" (a trail sample's) must
  // never take the record's time.
  std::string tag = text->substr(tag_start, tag_end - tag_start);
  const std::size_t tag_name_end = element.size() + 1;
  // The result file writes its floats with six decimals, the capture
  // record its seconds with four.
  const int decimals = element == "meridra_record" ? 6 : 4;
  if (!ReplaceSecondsValue(&tag, time.second, decimals)) {
    std::string seconds;
    AppendFixed(&seconds, time.second, decimals);
    AddAttribute(&tag, tag_name_end, "s", seconds);
  }
  const struct {
    const char* name;
    int value;
  } fields[] = {{"m", time.minute}, {"h", time.hour}, {"d", time.day}, {"mo", time.month},
                {"y", time.year}};
  for (const auto& f : fields) {
    if (!ReplaceIntValue(&tag, f.name, f.value)) {
      AddAttribute(&tag, tag_name_end, f.name, std::to_string(f.value));
    }
  }
  text->replace(tag_start, tag_end - tag_start, tag);
  return true;
}

bool SetLogLineTime(std::string* text, std::string_view clip_name, const CivilTime& time) {
  const std::string wanted = std::string(clip_name) + ".";
  std::size_t line_start = 0;
  while (line_start < text->size()) {
    std::size_t line_end = text->find('\n', line_start);
    if (line_end == std::string::npos) line_end = text->size();
    std::size_t content_end = line_end;
    if (content_end > line_start && (*text)[content_end - 1] == '\r') --content_end;

    // Field boundaries of this line.
    std::vector<std::size_t> starts{line_start};
    for (std::size_t i = line_start; i < content_end; ++i) {
      if ((*text)[i] == ',') starts.push_back(i + 1);
    }
    if (starts.size() >= 2) {
      const std::string_view second(text->data() + starts[1], content_end - starts[1]);
      if (second.substr(0, wanted.size()) == wanted) {
        if (starts.size() < static_cast<std::size_t>(kFirstLogTimeField + kLogTimeFields)) {
          return false;
        }
        const int values[kLogTimeFields] = {time.year, time.month, time.day, time.hour,
                                            time.minute, static_cast<int>(time.second)};
        // From the last field back, so the earlier boundaries stay valid.
        for (int k = kLogTimeFields - 1; k >= 0; --k) {
          const std::size_t field = static_cast<std::size_t>(kFirstLogTimeField + k);
          const std::size_t begin = starts[field];
          const std::size_t end = field + 1 < starts.size() ? starts[field + 1] - 1 : content_end;
          text->replace(begin, end - begin, std::to_string(values[k]));
        }
        return true;
      }
    }
    line_start = line_end + 1;
  }
  return false;
}

bool AdjustClipTimes(Table& clips, std::span<const int> rows, double shift_seconds,
                     TimeAdjustRun& run) {
  Ui& ui = CurrentUi();
  if (!ui.AskOkCancel(kMessageCaption, "Time adjust for all listed clips ok?")) return false;
  ui.SetWaitCursor(true);
  for (int row : rows) {
    if (row < 0 || row >= clips.count() || !clips.Exists(row)) continue;
    const std::string name(clips.Text(row, clip::kClipName));
    const std::filesystem::path directory(std::string(clips.Text(row, clip::kDirectory)));
    const double mjd =
        CivilToMjd(clips.Int(row, clip::kY), clips.Int(row, clip::kMo), clips.Int(row, clip::kD),
                   clips.Int(row, clip::kH), clips.Int(row, clip::kM), clips.Float(row, clip::kS)) +
        shift_seconds / 86400.0;
    // A clip without a date (an undated name) has nothing to shift.
    if (!(mjd >= kCalendarFirstMjd && mjd < kCalendarLastMjd) || clips.Int(row, clip::kY) == 0) {
      ShowError("Cannot adjust the time of %s: no date in 1900..2099", name.c_str());
      ++run.failures;
      continue;
    }
    const CivilTime time = MjdToCivil(mjd);
    const int mt = clips.Int(row, clip::kMT);

    // A clip's files change together or not at all: a damaged one among
    // them must not leave the others shifted (a second run would shift
    // those twice).
    std::vector<FileEdit> edits;
    bool readable = true;
    const bool has_result = (mt & KindBit(kKindResult)) != 0;
    if (has_result) {
      const char* const elements[] = {"meridra_record"};
      readable = EditRecordFile(directory / (name + kResultSuffix), time, elements,
                                kResultFileMaxBytes, &edits);
    }
    const std::size_t captures_at = edits.size();
    if (readable && (mt & KindBit(kKindCaptureRecord))) {
      readable = EditRecordFile(directory / (name + kCaptureSuffix), time, kCaptureElements,
                                kRecordFileMaxBytes, &edits);
    }
    const std::size_t logs_at = edits.size();
    for (const std::filesystem::path& log : LogFiles(directory)) {
      if (!readable) break;
      std::optional<std::string> text = ReadWhole(log);
      if (!text) {
        ShowError("Cannot open %s", log.c_str());
        readable = false;
      } else if (SetLogLineTime(&*text, name, time)) {
        edits.push_back({log, std::move(*text)});
      }
    }
    if (!readable || !WriteEdits(edits)) {
      ShowError("The time of %s was not changed in any of its files", name.c_str());
      ++run.failures;
      continue;
    }
    ++run.clips;
    run.results += has_result ? 1 : 0;
    run.captures += static_cast<int>(logs_at - captures_at);
    run.log_lines += static_cast<int>(edits.size() - logs_at);
    if (has_result) {
      clips.SetInt(row, clip::kY, time.year);
      clips.SetInt(row, clip::kMo, time.month);
      clips.SetInt(row, clip::kD, time.day);
      clips.SetInt(row, clip::kH, time.hour);
      clips.SetInt(row, clip::kM, time.minute);
      clips.SetFloat(row, clip::kS, time.second);
    }
  }
  ui.SetWaitCursor(false);
  return true;
}

}  // namespace mr4
