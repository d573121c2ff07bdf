#include "reports/period_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "base/error.h"
#include "reports/station_objects.h"
#include "base/process_values.h"
#include "astro/time_scales.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr int kHours = 24;
constexpr int kMagnitudes = 21;  // -10 .. 10
constexpr int kMagnitudeLimit = 10;
constexpr int kAllEntry = 0;
constexpr int kMeteorEntry = 1;
constexpr int kEclassEntry = 2;
constexpr int kFirstClassEntry = 3;

constexpr char kHourColumns[] = "12,13,14,15,16,17,18,19,20,21,22,23,0,1,2,3,4,5,6,7,8,9,10,11";

struct SiteTally {
  std::array<char, kReportSiteKeyBytes> key{};
  int key_bytes = 0;
  std::uint32_t meteors = 0;
  std::uint32_t eclass = 0;
  std::string_view Key() const { return {key.data(), static_cast<std::size_t>(key_bytes)}; }
};

struct ClassTally {
  std::string_view name;  // the object row's text
  std::uint32_t count = 0;
  std::array<std::uint32_t, kHours> hours{};
  std::array<std::uint32_t, kMagnitudes> magnitudes{};
};

struct ListedObject {
  int row = 0;
  int y = 0, mo = 0, d = 0, h = 0, m = 0;
  float s = 0.0f;
};

struct Tallies {
  std::array<SiteTally, kReportMaxSites> sites{};
  int site_count = 0;
  std::array<ClassTally, kReportMaxClasses> classes{};
  int class_count = 0;
  std::array<ListedObject, kReportMaxListed> listed{};
  int listed_count = 0;
  std::uint32_t meteors = 0, eclass = 0, objects = 0;
  bool started = false;
  double first_day = 0.0, last_day = 0.0;
  int y = 0, mo = 0, d = 0, h = 0, tz = 0;
};

bool IsEclass(std::string_view cls) { return !cls.empty() && cls.front() == '_'; }

bool ClipRowExists(const Table& clips, int row) {
  return row >= 0 && row < clips.count() && clips.Exists(row);
}

// Hour 12 is bin 0, hour 11 bin 23; an hour outside 0..23 is taken modulo 24.
int HourBin(int hour) { return (hour % kHours + kHours + 12) % kHours; }

// Rounded away from zero, then limited to -10 .. 10; the index from 0.
int MagnitudeIndex(float mag) {
  const double rounded = std::trunc(mag > 0.0f ? mag + 0.5 : mag - 0.5);
  const double limited = std::isnan(rounded)
                             ? 0.0
                             : std::clamp(rounded, -1.0 * kMagnitudeLimit, 1.0 * kMagnitudeLimit);
  return static_cast<int>(limited) + kMagnitudeLimit;
}

// "%s_%s" cut to the key buffer, never inside a UTF-8 character.
void MakeSiteKey(std::string_view lid, std::string_view sid, SiteTally* site) {
  std::string key(lid);
  key += '_';
  key += sid;
  std::size_t n = std::min(key.size(), static_cast<std::size_t>(kReportSiteKeyBytes - 1));
  if (n < key.size()) {
    while (n > 0 && (static_cast<unsigned char>(key[n]) & 0xC0u) == 0x80u) --n;
  }
  std::copy_n(key.data(), n, site->key.data());
  site->key_bytes = static_cast<int>(n);
}

int FindSite(Tallies& t, std::string_view lid, std::string_view sid) {
  SiteTally candidate;
  MakeSiteKey(lid, sid, &candidate);
  for (int i = 0; i < t.site_count; ++i) {
    if (t.sites[i].Key() == candidate.Key()) return i;
  }
  if (t.site_count == kReportMaxSites) FatalError("report site overflow");
  t.sites[t.site_count] = candidate;
  return t.site_count++;
}

int FindClass(Tallies& t, std::string_view cls) {
  for (int i = kFirstClassEntry; i < t.class_count; ++i) {
    if (t.classes[i].name == cls) return i;
  }
  if (t.class_count == kReportMaxClasses) FatalError(" Report data overlow");
  t.classes[t.class_count].name = cls;
  return t.class_count++;
}

void CountIn(ClassTally& entry, int hour_bin, int magnitude_index) {
  ++entry.count;
  ++entry.hours[hour_bin];
  ++entry.magnitudes[magnitude_index];
}

// Step 3 of the report: every object with a class and an existing clip row.
// Returns whether any object carried a class.
bool CountObjects(const Table& clips, const Table& objects, Tallies& t) {
  bool any_class = false;
  for (int o = 0; o < objects.count(); ++o) {
    if (!objects.Exists(o)) continue;
    const std::string_view cls = objects.Text(o, obj::kClass);
    if (cls.empty()) continue;
    any_class = true;
    const int c = objects.Int(o, obj::kCline);
    if (!ClipRowExists(clips, c)) continue;

    const int hour = clips.Int(c, clip::kH);
    const double day =
        CivilToMjd(clips.Int(c, clip::kY), clips.Int(c, clip::kMo), clips.Int(c, clip::kD), 0,
                   0, 0.0f);
    if (!t.started || day < t.first_day) {
      t.first_day = day;
      t.y = clips.Int(c, clip::kY);
      t.mo = clips.Int(c, clip::kMo);
      t.d = clips.Int(c, clip::kD);
      t.h = hour;
    }
    if (!t.started || day > t.last_day) t.last_day = day;
    t.started = true;
    t.tz = clips.Int(c, clip::kTz);

    const bool eclass = IsEclass(cls);
    SiteTally& site = t.sites[FindSite(t, clips.Text(c, clip::kLid), clips.Text(c, clip::kSid))];
    ++(eclass ? site.eclass : site.meteors);
    ++(eclass ? t.eclass : t.meteors);
    ++t.objects;

    const int entry = FindClass(t, cls);
    const int hour_bin = HourBin(hour);
    const int magnitude = MagnitudeIndex(objects.Float(o, obj::kMag));
    CountIn(t.classes[entry], hour_bin, magnitude);
    CountIn(t.classes[kAllEntry], hour_bin, magnitude);
    CountIn(t.classes[eclass ? kEclassEntry : kMeteorEntry], hour_bin, magnitude);
  }
  return any_class;
}

// The meteor or e-class entries in count order: from the order of first
// occurrence, each position takes the first of the largest remaining.
int OrderedClasses(const Tallies& t, bool eclass, std::array<int, kReportMaxClasses>& order) {
  int n = 0;
  for (int i = kFirstClassEntry; i < t.class_count; ++i) {
    if (IsEclass(t.classes[i].name) == eclass) order[n++] = i;
  }
  for (int position = 0; position < n; ++position) {
    int best = position;
    for (int k = position + 1; k < n; ++k) {
      if (t.classes[order[k]].count > t.classes[order[best]].count) best = k;
    }
    std::swap(order[position], order[best]);
  }
  return n;
}

template <std::size_t N>
void AppendCountLine(std::string* out, const ClassTally& entry,
                     const std::array<std::uint32_t, N>& bins) {
  *out += ',';
  *out += entry.name;
  *out += ',';
  *out += std::to_string(entry.count);
  for (std::uint32_t v : bins) {
    *out += ',';
    if (v != 0) *out += std::to_string(v);
  }
  *out += "\r\n";
}

void AppendHourBlock(std::string* out, const Tallies& t, bool eclass,
                     std::array<int, kReportMaxClasses>& order) {
  *out += eclass ? "hourly_count,e-class,count," : "hourly_count,class,count,";
  *out += kHourColumns;
  *out += "\r\n";
  const int n = OrderedClasses(t, eclass, order);
  for (int i = 0; i < n; ++i) AppendCountLine(out, t.classes[order[i]], t.classes[order[i]].hours);
  const ClassTally& total = t.classes[eclass ? kEclassEntry : kMeteorEntry];
  AppendCountLine(out, total, total.hours);
  *out += "\r\n";
}

void AppendObjectLine(std::string* out, const Table& clips, const Table& objects, int o) {
  const int c = objects.Int(o, obj::kCline);
  for (int column : {clip::kY, clip::kMo, clip::kD, clip::kH, clip::kM}) {
    *out += ',';
    *out += std::to_string(clips.Int(c, column));
  }
  *out += ',';
  AppendFixedText(out, clips.Float(c, clip::kS), 1);
  *out += ',';
  *out += objects.Text(o, obj::kClass);
  struct Value {
    int column;
    int decimals;
  };
  static constexpr Value kValues[] = {
      {obj::kSec, 2}, {obj::kMag, 1}, {obj::kAv1, 2}, {obj::kAz1, 1}, {obj::kEv1, 1},
      {obj::kRa1, 4}, {obj::kDc1, 4}, {obj::kAz2, 1}, {obj::kEv2, 1}, {obj::kRa2, 4},
      {obj::kDc2, 4}};
  for (const Value& v : kValues) {
    *out += ',';
    AppendFixedText(out, objects.Float(o, v.column), v.decimals);
  }
  *out += ',';
  *out += clips.Text(c, clip::kLid);
  *out += '_';
  *out += clips.Text(c, clip::kSid);
  *out += "\r\n";
}

// Steps 8 and 9: the first kReportMaxListed row slots, by their clip's
// start time, earliest first (equal times in table order); the number of
// lines written.
int AppendObjectList(std::string* out, const Table& clips, const Table& objects, Tallies& t) {
  const int slots = std::min(objects.count(), kReportMaxListed);
  t.listed_count = 0;
  for (int o = 0; o < slots; ++o) {
    if (!objects.Exists(o)) continue;
    const int c = objects.Int(o, obj::kCline);
    if (!ClipRowExists(clips, c)) continue;
    ListedObject& l = t.listed[t.listed_count++];
    l = {o,
         clips.Int(c, clip::kY),
         clips.Int(c, clip::kMo),
         clips.Int(c, clip::kD),
         clips.Int(c, clip::kH),
         clips.Int(c, clip::kM),
         clips.Float(c, clip::kS)};
  }
  const auto key = [](const ListedObject& l) {
    return std::make_tuple(l.y, l.mo, l.d, l.h, l.m, l.s, l.row);
  };
  std::sort(t.listed.begin(), t.listed.begin() + t.listed_count,
            [&](const ListedObject& a, const ListedObject& b) { return key(a) < key(b); });
  int written = 0;
  for (int i = 0; i < t.listed_count; ++i) {
    const int o = t.listed[i].row;
    if (objects.Text(o, obj::kClass).empty()) continue;
    AppendObjectLine(out, clips, objects, o);
    ++written;
  }
  return written;
}

std::string FileName(const Tallies& t, const ExportSite& site) {
  std::string name = "M";
  AppendZeroPadded(&name, t.y, 2);
  AppendZeroPadded(&name, t.mo, 2);
  AppendZeroPadded(&name, t.d, 2);
  name += '_';
  AppendZeroPadded(&name, t.h, 2);
  name += '_';
  AppendZeroPadded(&name, static_cast<long long>(std::trunc(t.last_day - t.first_day + 0.999)),
                   3);
  name += '_';
  name += FileNamePart(site.lid);
  if (t.site_count <= 1) {
    name += '_';
    name += FileNamePart(site.sid);
  }
  name += "R.csv";
  return name;
}

}  // namespace

ExportResult ExportPeriodReport(const Table& clips, const Table& objects,
                                const ExportSite& site, const std::filesystem::path& folder,
                                bool left_alt) {
  ExportResult result;
  auto tallies = std::make_unique<Tallies>();
  Tallies& t = *tallies;
  for (int i = kAllEntry; i < kFirstClassEntry; ++i) t.classes[i].name = "Total";
  t.class_count = kFirstClassEntry;

  // Without a counted object the period has no values: nothing is written.
  if (objects.count() == 0 || !CountObjects(clips, objects, t) || t.objects == 0) {
    ShowError("No object to report");
    return result;
  }

  std::filesystem::path path = folder / FileName(t, site);
  result.path = path;
  if (!left_alt) {
    std::optional<std::filesystem::path> chosen =
        ChooseExportFile("Save Rxml file", "*R.xml", path);
    if (!chosen) {
      result.status = ExportStatus::kCancelled;
      return result;
    }
    path = *chosen;
    result.path = path;
  }

  std::string text = "meridra_report,version\r\n, ";
  text += MakeVersionNumberText();
  text += "\r\nperiod,y,mo,d,h,tz,days\r\n,";
  AppendIntText(&text, t.y, 4);
  for (long long v : {t.mo, t.d, t.h}) {
    text += ',';
    AppendIntText(&text, v, 2);
  }
  text += ',';
  AppendIntText(&text, t.tz, 5);
  text += ',';
  AppendIntText(&text, static_cast<long long>(std::trunc(t.last_day - t.first_day + 0.999)), 5);
  text += "\r\n\r\nsystem,id,meteors,e-class,total\r\n";
  const auto append_site = [&](std::string_view key, std::uint32_t meteors,
                               std::uint32_t eclass, std::uint32_t total) {
    text += ',';
    text += key;
    for (std::uint32_t v : {meteors, eclass, total}) {
      text += ',';
      AppendIntText(&text, v, 7);
    }
    text += "\r\n";
  };
  for (int i = 0; i < t.site_count; ++i) {
    const SiteTally& s = t.sites[i];
    append_site(s.Key(), s.meteors, s.eclass, s.meteors + s.eclass);
  }
  append_site("Total", t.meteors, t.eclass, t.objects);
  text += "\r\n";

  std::array<int, kReportMaxClasses> order{};
  if (t.meteors > 0) AppendHourBlock(&text, t, false, order);
  if (t.eclass > 0) AppendHourBlock(&text, t, true, order);
  text += "mag_count,-10.-9.-8,-7,-6,-5,-4,-3,-2,-1,0,1,2,3,4,5,6,7,8,9,10\r\n";
  if (t.meteors > 0) {
    const int n = OrderedClasses(t, false, order);
    for (int i = 0; i < n; ++i) {
      AppendCountLine(&text, t.classes[order[i]], t.classes[order[i]].magnitudes);
    }
    const ClassTally& total = t.classes[kMeteorEntry];
    AppendCountLine(&text, total, total.magnitudes);
    text += "\r\n";
  }
  text += "object,y,mo,d,h,m,s,class,sec,mag,av1,az1,ev1,ra1,dc1,az2,ev2,ra2,dc2,LID_CID\r\n";
  const int lines = AppendObjectList(&text, clips, objects, t);
  // Added after every section readers of the earlier layout know, so that
  // they read the file as before.
  text += "\r\nmulti_station,meteors\r\n,";
  AppendIntText(&text, CountMultiStationMeteors(clips, objects), 7);
  text += "\r\n";

  if (!WriteExportFile(path, text)) {
    ShowError("Cannot open %s", path.filename().c_str());
    result.status = ExportStatus::kCannotOpen;
    return result;
  }
  result.status = ExportStatus::kWritten;
  result.lines = lines;
  return result;
}

}  // namespace mr4
