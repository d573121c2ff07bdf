#include "analysis/result_file.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "analysis/measurement.h"
#include "base/error.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "clips/clip_files.h"
#include "tables/cell_text.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
constexpr char kClipElement[] = "meridra_record";
constexpr char kObjectElement[] = "mr2_object";
constexpr std::string_view kObjectTag = "<mr2_object";
constexpr std::string_view kObjectEnd = "</mr2_object";
constexpr std::string_view kSampleTag = "<mr2_fdata2";

// Switches the calling thread to the C locale for as long as it lives: the
// files keep a decimal point whatever locale the desktop program sets.
class CNumbers {
 public:
  CNumbers() : previous_(uselocale(CLocale())) {}
  ~CNumbers() { uselocale(previous_); }
  CNumbers(const CNumbers&) = delete;
  CNumbers& operator=(const CNumbers&) = delete;

 private:
  static locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
  }
  locale_t previous_;
};

void AppendFormatV(std::string* out, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char buffer[512];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) {
    out->append(buffer, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    const std::size_t at = out->size();
    out->resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out->data() + at, static_cast<std::size_t>(n) + 1, format, again);
    out->resize(at + static_cast<std::size_t>(n));
  }
  va_end(again);
}

void AppendFormat(std::string* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void AppendFormat(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(out, format, args);
  va_end(args);
}

// A number as the files carry it: infinity and NaN (the result of a
// degenerate computation), which no reader takes back, become 0.
double Written(double value) { return std::isfinite(value) ? value : 0.0; }

void AppendSample(std::string* out, const Detection& d, const CameraProfile& photometry) {
  AppendFormat(out,
               "<mr2_fdata2 fno=\"%3d\" b=\"%3d\" bm=\"%6d\" Lsum=\"%10.1f\" "
               "mag=\"%+6.2f\" az=\"%12.7f\" ev=\"%11.7f\" ra=\"%12.7f\" "
               "dec=\"%+11.7f\" err=\"%.7f\" pass=\"%d\" x=\"%8.3f\" y=\"%8.3f\" "
               "pixels=\"%7d\" r=\"%6.1f\"></mr2_fdata2>\r\n",
               d.field, d.peak, d.saturated, Written(d.Lsum),
               Written(SampleMagnitude(photometry, d.Lsum)), Written(d.az), Written(d.ev),
               Written(d.ra), Written(d.dec), Written(d.err), d.pass, Written(d.x),
               Written(d.y), d.pixels, Written(d.r));
}

// The whole result file of clip row `row`; the k-th object of the chain
// carries the samples of track k. Magnitudes through `photometry`.
std::string ResultText(AnalysisContext& c, int row, const CameraProfile& photometry) {
  const Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  CNumbers numbers;
  std::string text = kDeclaration;
  WriteElement(&text, kClipElement, kResultFileVersion, clips, row, true, false);
  if (clips.Int(row, clip::kO) > 0) {
    text += "\t<mr2_objects>\r\n";
    std::lock_guard lock(objects.lock());
    int k = 0;
    for (int o = clips.Int(row, clip::kOline); o >= 0;
         o = objects.Int(o, obj::kOlinenext), ++k) {
      // The chain cannot be longer than the table; a longer walk is a loop.
      if (k >= objects.count()) FatalError("oline link broken");
      WriteElement(&text, kObjectElement, 0, objects, o, true, false);
      if (k < c.track_count && c.tracks[k].sample_count > 0) {
        const Track& track = c.tracks[k];
        text += "\t<mr2_objpath>\r\n";
        for (int s = 0; s < track.sample_count; ++s) {
          AppendSample(&text, c.Sample(track.samples[s]), photometry);
        }
        text += "\t</mr2_objpath>\r\n";
      }
      WriteElement(&text, kObjectElement, 0, objects, o, false, true);
    }
    text += "\t</mr2_objects>\r\n";
  }
  WriteElement(&text, kClipElement, 0, clips, row, false, true);
  return text;
}

// A profile that carries only the photometric levels, for magnitudes.
std::unique_ptr<CameraProfile> LevelsProfile(int maxl, float maxm, int minl) {
  auto p = std::make_unique<CameraProfile>();
  p->maxl = maxl;
  p->maxm = maxm;
  p->minl = minl;
  UpdateZeroPoint(*p);
  return p;
}

void ReportNotWritten(const fs::path& path) {
  ShowError("saveXML: cannot open %s", path.c_str());
  ShowError("Cannot open %s", path.c_str());
}

void MarkResultWritten(int row) {
  Table& clips = Tables().clip;
  clips.SetInt(row, clip::kMT, clips.Int(row, clip::kMT) | KindBit(kKindResult));
}

// An empty trail owned by no clip.
void ClearTrail(AnalysisContext& c) {
  c.track_count = 0;
  c.detection_count.fill(0);
  c.track_clip_row = -1;
  c.track_clip_file.clear();
}

// Reading one sample line: the attributes in their written order, quotes
// and NULs counting as blanks.
class SampleCursor {
 public:
  explicit SampleCursor(std::string_view tag) : tag_(tag) {}

  bool Int(std::string_view name, int* value) {
    if (!Name(name)) return false;
    std::int32_t v = 0;
    const std::size_t n = ParseIntPrefix(tag_.substr(at_), &v);
    at_ += n;
    *value = v;
    return n > 0;
  }
  bool Real(std::string_view name, double* value) {
    if (!Name(name)) return false;
    std::size_t i = at_;
    bool negative = false;
    if (i < tag_.size() && (tag_[i] == '+' || tag_[i] == '-')) negative = tag_[i++] == '-';
    if (i < tag_.size() && (tag_[i] == '+' || tag_[i] == '-')) return false;
    double v = 0;
    const char* first = tag_.data() + i;
    auto [ptr, ec] = std::from_chars(first, tag_.data() + tag_.size(), v,
                                     std::chars_format::fixed);
    if (ec != std::errc() || ptr == first || !std::isfinite(v)) return false;
    at_ = static_cast<std::size_t>(ptr - tag_.data());
    *value = negative ? -v : v;
    return true;
  }

 private:
  void SkipBlanks() {
    while (at_ < tag_.size()) {
      const char ch = tag_[at_];
      if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n' && ch != '"' && ch != '\0')
        break;
      ++at_;
    }
  }
  bool Name(std::string_view name) {
    SkipBlanks();
    if (tag_.substr(at_, name.size()) != name || tag_.substr(at_ + name.size(), 1) != "=")
      return false;
    at_ += name.size() + 1;
    SkipBlanks();
    return true;
  }

  std::string_view tag_;
  std::size_t at_ = 0;
};

// The sample of one `mr2_fdata2` tag (the text after the element name, up
// to its ">"); false when an attribute is missing or malformed.
bool ParseSample(std::string_view tag, Detection* d) {
  SampleCursor cursor(tag);
  double mag = 0;
  return cursor.Int("fno", &d->field) && cursor.Int("b", &d->peak) &&
         cursor.Int("bm", &d->saturated) && cursor.Real("Lsum", &d->Lsum) &&
         cursor.Real("mag", &mag) && cursor.Real("az", &d->az) &&
         cursor.Real("ev", &d->ev) && cursor.Real("ra", &d->ra) &&
         cursor.Real("dec", &d->dec) && cursor.Real("err", &d->err) &&
         cursor.Int("pass", &d->pass) && cursor.Real("x", &d->x) &&
         cursor.Real("y", &d->y);
}

// True when the element name ends at `at`, so that "<mr2_object" takes
// neither "<mr2_objects" nor "<mr2_objpath".
bool NameEndsAt(std::string_view text, std::size_t at) {
  if (at >= text.size()) return true;
  const char ch = text[at];
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '>' || ch == '/';
}

// The position of the next "<mr2_object" element at or after `from`, or npos.
std::size_t NextObject(std::string_view text, std::size_t from) {
  for (std::size_t p = text.find(kObjectTag, from); p != std::string_view::npos;
       p = text.find(kObjectTag, p + 1)) {
    if (NameEndsAt(text, p + kObjectTag.size())) return p;
  }
  return std::string_view::npos;
}

// Fills track `k` from the samples of the object text `object`.
void ReadTrack(AnalysisContext& c, int k, std::string_view object) {
  Track& track = c.tracks[k];
  track.pixel_sum = 0;
  track.saturated = 0;
  track.peak = 0;
  track.sample_count = 0;
  track.passed_count = 0;
  track.first_field = 0;
  track.last_field = 0;
  track.end_field = -1;
  track.last_x = track.last_y = 0;
  track.pole_ra = track.pole_dec = 0;
  track.max_Lsum = 0;
  track.vx = track.vy = 0;
  for (std::size_t p = object.find(kSampleTag); p != std::string_view::npos;
       p = object.find(kSampleTag, p + 1)) {
    const std::size_t start = p + kSampleTag.size();
    const std::size_t end = object.find('>', start);
    Detection sample;
    if (!ParseSample(object.substr(start, end - start), &sample)) continue;
    const int field = sample.field;
    if (field < 0 || field >= kMaxFields) continue;
    if (c.detection_count[field] >= kDetectionsPerField) continue;
    if (track.sample_count >= kMaxFields) continue;
    const int n = c.detection_count[field]++;
    sample.object = k;
    c.DetectionAt(field, n) = sample;
    if (track.sample_count == 0) track.first_field = field;
    track.last_field = field;
    if (sample.pass) ++track.passed_count;
    track.samples[track.sample_count++] = field * kDetectionsPerField + n;
  }
}

}  // namespace

std::filesystem::path ResultFilePath(const Table& clips, int row) {
  return std::filesystem::path(clips.Text(row, clip::kDirectory)) /
         (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
}
std::filesystem::path TrailLogPath(const Table& clips, int row) {
  return std::filesystem::path(clips.Text(row, clip::kDirectory)) /
         (std::string(clips.Text(row, clip::kClipName)) + "L.csv");
}

bool WriteResultFile(AnalysisContext& c) {
  if (c.clip_row < 0) return false;
  Table& clips = Tables().clip;
  const int row = c.clip_row;
  const fs::path path = ResultFilePath(clips, row);
  // A store tagged with this row holds the run's trail (the reduction tags
  // it); any other store is another clip's.
  if (c.track_clip_row != row && !ReadResultTrail(c, row)) return false;
  c.track_clip_file = path.native();
  // Nothing of the row changes when the file cannot even be created.
  FileReplacement file(path);
  if (!file.opened()) {
    ReportNotWritten(path);
    return false;
  }
  StoreProfileToRecord(c.profile, clips, row);
  // A profile whose ZeroPoint was never derived takes it from its levels.
  std::unique_ptr<CameraProfile> levels;
  if (std::isnan(c.profile.ZeroPoint)) {
    levels = LevelsProfile(c.profile.maxl, c.profile.maxm, c.profile.minl);
  }
  if (!file.Write(ResultText(c, row, levels ? *levels : c.profile)) || !file.Commit()) {
    ReportNotWritten(path);
    return false;
  }
  MarkResultWritten(row);
  return true;
}

bool RewriteResultFile(AnalysisContext& c, int clip_row) {
  Table& clips = Tables().clip;
  if (!EnsureClipTrail(c, clip_row)) return false;
  // Magnitudes by the levels the clip was analysed with.
  const std::unique_ptr<CameraProfile> photometry =
      LevelsProfile(clips.Int(clip_row, clip::kMaxLev), clips.Float(clip_row, clip::kMaxMag),
                    clips.Int(clip_row, clip::kMinLev));
  const fs::path path = ResultFilePath(clips, clip_row);
  FileReplacement file(path);
  if (!file.Write(ResultText(c, clip_row, *photometry)) || !file.Commit()) {
    ReportNotWritten(path);
    return false;
  }
  MarkResultWritten(clip_row);
  return true;
}

bool ReadResultTrail(AnalysisContext& c, int clip_row) {
  const fs::path path = ResultFilePath(Tables().clip, clip_row);
  ClearTrail(c);
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) {
    c.track_clip_row = clip_row;
    c.track_clip_file = path.native();
    return true;
  }
  std::optional<std::string> text = ReadRecordText(path, kResultFileMaxBytes);
  if (!text) {
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size < kResultFileMaxBytes) ShowError("%s cannot open", path.c_str());
    return false;
  }
  const std::string_view t(*text);
  for (std::size_t at = NextObject(t, 0); at != std::string_view::npos;) {
    // An object ends at its closing tag, or where the next one starts when
    // a broken file lacks it.
    std::size_t end = std::min(t.find(kObjectEnd, at + kObjectTag.size()),
                               NextObject(t, at + kObjectTag.size()));
    if (end == std::string_view::npos) end = t.size();
    if (c.track_count < kTrackSlots) {
      ReadTrack(c, c.track_count, t.substr(at, end - at));
      ++c.track_count;
    }
    at = NextObject(t, end);
  }
  c.track_clip_row = clip_row;
  c.track_clip_file = path.native();
  return true;
}

bool EnsureClipTrail(AnalysisContext& c, int clip_row) {
  if (c.track_clip_row == clip_row &&
      c.track_clip_file == ResultFilePath(Tables().clip, clip_row).native()) {
    return true;
  }
  return ReadResultTrail(c, clip_row);
}

bool OpenTrailLog(AnalysisContext& c) {
  if (c.trail_log) CloseTrailLog(c);
  if (c.clip_row < 0) return false;
  c.trail_log_file =
      std::make_unique<FileReplacement>(TrailLogPath(Tables().clip, c.clip_row));
  c.trail_log = c.trail_log_file->stream();
  if (!c.trail_log) c.trail_log_file.reset();
  return c.trail_log != nullptr;
}

void WriteTrailLogTrack(AnalysisContext& c, int track) {
  if (!c.trail_log || track < 0 || track >= c.track_count) return;
  const Track& t = c.tracks[track];
  const int n = t.sample_count;
  CNumbers numbers;
  std::string block;
  AppendFormat(&block, "Object,%s,Trail,%d,NSample,%d\r\n",
               std::string(Tables().clip.Text(c.clip_row, clip::kClipName)).c_str(),
               track, n);
  block += "Sample,line,sno,time,ra,dec,ra_mod,dec_mod,av,pass,middle\r\n";
  for (int k = 0; k < n; ++k) {
    const Detection& d = c.Sample(t.samples[k]);
    AppendFormat(&block, "sample,%4d,%4d,%7.3f,%11.7f,%11.7f,%11.7f,%11.7f,%11.7f,%d", k,
                 d.field, Written(SampleTime(c, d.field)), Written(d.ra), Written(d.dec),
                 Written(d.ra_mod), Written(d.dec_mod), Written(d.av), d.pass);
    block += k == (n - 1) / 2 ? ",m\r\n" : "  \r\n";
  }
  block += "\r\n";
  std::fwrite(block.data(), 1, block.size(), c.trail_log);
}

void WriteTrailLog(AnalysisContext& c, const char* format, ...) {
  if (!c.trail_log) return;
  std::string text;
  {
    CNumbers numbers;
    va_list args;
    va_start(args, format);
    AppendFormatV(&text, format, args);
    va_end(args);
  }
  std::string lines;
  lines.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
    lines += text[i];
  }
  std::fwrite(lines.data(), 1, lines.size(), c.trail_log);
}

void CloseTrailLog(AnalysisContext& c) {
  if (!c.trail_log) return;
  c.trail_log = nullptr;
  // A stream a test installed is the test's to close.
  std::unique_ptr<FileReplacement> file = std::move(c.trail_log_file);
  if (file && !file->Commit()) ShowError("Cannot open %s", file->target().c_str());
}

}  // namespace mr4
