#include "reports/meteor_csv.h"

#include <array>
#include <cmath>
#include <string_view>

#include "base/error.h"
#include "astro/time_scales.h"
#include "reports/export_files.h"
#include "reports/period_report.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr char kHeader[] =
    "Ver,Group,LocalTime,Mag,Dur(sec),AV(deg/s),Loc_Cam,TZ(h),Y(UT),M(UT),D(UT),H(UT),M,S,"
    " Dir1, Alt1, Ra1, Dec1, Ra2, Dec2,alpha,delta,"
    " , , , , ,"
    "io,err1,err2,G1,rsv1,dr(deg),Vo(km/s),dV(%),ra_m,dec_m,refs,errm,tmerr,sps,sN,drop,"
    "delay(s),delay_m(s),Npass,gioidh,fourcc_original\r\n";

// Classes the summary leaves out (flashes, meteors and showers stay).
constexpr std::array<std::string_view, 5> kLeftOutClasses = {
    "__none", "__noise", "__fast", "__slow", "__curve"};

// The local date and time after the leading "M" of a time-stamped clip name.
constexpr std::size_t kLocalTimeStart = 1;
constexpr std::size_t kLocalTimeChars = 15;

// Mixing constants of the scrambled columns (fixed for every run: files
// written earlier must stay decodable).
constexpr std::uint32_t kTag = 0x6A09E667u;      // hides the generator output
constexpr std::uint32_t kCtrlTag = 0xBB67AE85u;  // the same in the Ctrl variant
constexpr std::uint32_t kMixLng = 0x3C6EF372u;
constexpr std::uint32_t kMixAlt = 0xA54FF53Au;
constexpr std::uint32_t kMixVelocity = 0x510E527Fu;
constexpr double kRaFactorScale = 1000000.0;
constexpr double kMetresPerKm = 1000.0;
constexpr double kVelocityScale = 1000.0;  // [deg/s] to the integer
// The Ctrl variant's arrangement: file column k holds value kCtrlOrder[k].
constexpr std::array<int, 5> kCtrlOrder = {4, 2, 0, 1, 3};

std::uint32_t Steps(std::uint32_t x, int rounds) {
  for (int i = 0; i < rounds; ++i) x = ExportScrambler::Step(x);
  return x;
}

// Low 32 bits of trunc(value), formed in double precision.
std::uint32_t Low32(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(value)));
}

// The inverse of an odd number modulo 2^32 (Newton's iteration).
std::uint32_t InverseOdd(std::uint32_t m) {
  std::uint32_t x = m;
  for (int i = 0; i < 5; ++i) x *= 2u - m * x;
  return x;
}

double RaFactor(double ra1) { return (ra1 / 360.0 + 1.0) * kRaFactorScale; }

bool IsLeftOut(std::string_view cls) {
  for (std::string_view c : kLeftOutClasses) {
    if (cls == c) return true;
  }
  return false;
}

bool ClipRowExists(const Table& clips, int row) {
  return row >= 0 && row < clips.count() && clips.Exists(row);
}

double DayNumber(const Table& clips, int row) {
  return CivilToMjd(clips.Int(row, clip::kY), clips.Int(row, clip::kMo),
                    clips.Int(row, clip::kD), 0, 0, 0.0f);
}

// The clip's start in UT. A clip without a usable date (an undated name)
// keeps its local fields rather than ending the program.
CivilTime ClipUt(const Table& clips, int row) {
  CivilTime local;
  local.year = clips.Int(row, clip::kY);
  local.month = clips.Int(row, clip::kMo);
  local.day = clips.Int(row, clip::kD);
  local.hour = clips.Int(row, clip::kH);
  local.minute = clips.Int(row, clip::kM);
  local.second = clips.Float(row, clip::kS);
  const double mjd = CivilToMjd(local.year, local.month, local.day, local.hour, local.minute,
                                local.second) -
                     clips.Int(row, clip::kTz) / 86400.0;
  if (!(mjd >= kCalendarFirstMjd && mjd < kCalendarLastMjd)) return local;
  return MjdToCivil(mjd);
}

struct Period {
  int first_row = -1;
  double first_day = 0.0;
  double last_day = 0.0;
  bool other_site = false;
};

Period ScanPeriod(const Table& clips, std::string_view site_sid) {
  Period p;
  for (int r = 0; r < clips.count(); ++r) {
    if (!clips.Exists(r)) continue;
    const double day = DayNumber(clips, r);
    if (p.first_row < 0) {
      p.first_row = r;
      p.first_day = p.last_day = day;
    } else if (day < p.first_day) {
      p.first_row = r;
      p.first_day = day;
    } else if (day > p.last_day) {
      p.last_day = day;
    }
    if (clips.Text(r, clip::kSid) != site_sid) p.other_site = true;
  }
  return p;
}

std::string FileName(const Table& clips, const Period& p, const ExportSite& site, int number) {
  const int r = p.first_row;
  std::string name = "M";
  AppendZeroPadded(&name, clips.Int(r, clip::kY), 2);
  AppendZeroPadded(&name, clips.Int(r, clip::kMo), 2);
  AppendZeroPadded(&name, clips.Int(r, clip::kD), 2);
  name += '_';
  AppendZeroPadded(&name, clips.Int(r, clip::kH), 2);
  name += '_';
  AppendZeroPadded(&name, static_cast<long long>(std::trunc(p.last_day - p.first_day + 0.999)),
                   3);
  name += '_';
  name += FileNamePart(site.lid);
  if (number > 0) {
    name += '_';
    name += std::to_string(number);
  } else if (!p.other_site) {
    name += '_';
    name += FileNamePart(site.sid);
  }
  name += ".csv";
  return name;
}

void AppendLine(std::string* out, const Table& clips, const Table& objects, int o, int c,
                const MeteorCsvOptions& options, bool ctrl, ExportScrambler& scrambler) {
  const std::string_view source_type = clips.Text(c, clip::kSourceType);
  *out += source_type.empty() || source_type == "device" ? "R05B28R" : "R06A";
  *out += ctrl ? "X, " : ", ";

  // Group .. S
  const std::string_view cls = objects.Text(o, obj::kClass);
  *out += cls;
  *out += ',';
  const std::string_view name = clips.Text(c, clip::kClipName);
  if (name.size() > kLocalTimeStart) *out += name.substr(kLocalTimeStart, kLocalTimeChars);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kMag), 1);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kSec), 3);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kAv1), 3);
  *out += ", ";
  *out += clips.Text(c, clip::kLid);
  *out += '_';
  if (options.number > 0) {
    *out += std::to_string(options.number);
  } else {
    *out += clips.Text(c, clip::kSid);
  }
  *out += ", ";
  AppendFixedText(out, clips.Int(c, clip::kTz) / 3600.0, 1);
  const CivilTime ut = ClipUt(clips, c);
  *out += ',';
  AppendZeroPadded(out, ut.year, 4);
  for (int v : {ut.month, ut.day, ut.hour, ut.minute}) {
    *out += ',';
    AppendZeroPadded(out, v, 2);
  }
  *out += ',';
  AppendFixedText(out, ut.second, 3);
  *out += ',';

  // Dir1 .. delta: the direction of flight is the start azimuth turned round.
  double direction = std::fmod(static_cast<double>(objects.Float(o, obj::kAz1)) + 180.0, 360.0);
  if (direction < 0.0) direction += 360.0;
  AppendFixedText(out, direction, 1);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kEv1), 1);
  for (int column : {obj::kRa1, obj::kDc1, obj::kRa2, obj::kDc2, obj::kRaP, obj::kDcP}) {
    *out += ',';
    AppendFixedText(out, objects.Float(o, column), 6);
  }
  *out += ',';

  // The five scrambled columns.
  const ScrambledStation station = ScrambleStation(
      scrambler, clips.Float(c, clip::kLat), clips.Float(c, clip::kLng),
      clips.Float(c, clip::kAlt), objects.Float(o, obj::kRa1), objects.Float(o, obj::kAv1),
      ctrl);
  for (std::uint32_t v : station.column) {
    *out += std::to_string(v);
    *out += ',';
  }

  // io .. dec_m
  *out += std::to_string(objects.Int(o, obj::kIo));
  *out += ',';
  AppendFixedText(out, clips.Float(c, clip::kDdega), 5);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kCdeg), 5);
  *out += ", ";
  *out += cls;
  *out += ",0.0,";
  AppendFixedText(out, objects.Float(o, obj::kDr), 1);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kVo), 1);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kDv), 1, true);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kRam), 6);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kDcm), 6);

  // refs .. drop
  *out += ',';
  *out += std::to_string(clips.Int(c, clip::kRstar));
  *out += ',';
  AppendFixedText(out, clips.Float(c, clip::kErrm), 2);
  *out += ',';
  AppendFixedText(out, clips.Float(c, clip::kTme), 3);
  *out += ',';
  double sps = clips.Float(c, clip::kFps);
  if (clips.Int(c, clip::kInterlaced) != 0) sps *= 2.0;
  AppendFixedText(out, sps, 3);
  *out += ',';
  *out += std::to_string(objects.Int(o, obj::kSN));
  *out += ',';
  *out += std::to_string(clips.Int(c, clip::kDrop));

  // delay, delay_m, Npass, gioidh, fourcc_original
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kDelay), 3);
  *out += ',';
  AppendFixedText(out, objects.Float(o, obj::kDelayM), 3);
  *out += ',';
  *out += std::to_string(objects.Int(o, obj::kNpass));
  *out += ',';
  AppendFixedText(out, clips.Float(c, clip::kGioidh), 1);
  const std::string_view fourcc = clips.Text(c, clip::kFourccOriginal);
  if (fourcc.empty()) {
    *out += ", ";
  } else {
    *out += ',';
    *out += fourcc;
  }
  *out += "\r\n";
}

}  // namespace

ScrambledStation ScrambleStation(ExportScrambler& scrambler, float lat, float lng, float alt,
                                 float ra1, float av1, bool ctrl_variant) {
  const std::uint32_t g = ExportScrambler::Step(scrambler.s);
  scrambler.s = g;
  scrambler.s24 = g & 0xFFFFFFu;
  const std::uint32_t key = Steps(g, ExportScrambler::kRounds);
  const std::uint32_t m = key | 1u;
  const double f = RaFactor(ra1);
  const std::uint32_t values[5] = {
      (Low32(lat * f) * m) ^ key,
      (Low32(lng * f) * m) ^ (key * kMixLng),
      (Low32(alt / kMetresPerKm * f) * m) ^ (key * kMixAlt),
      (Low32(av1 * kVelocityScale) * m) ^ (key * kMixVelocity),
      g ^ (ctrl_variant ? kCtrlTag : kTag),
  };
  ScrambledStation out;
  for (int k = 0; k < 5; ++k) out.column[k] = values[ctrl_variant ? kCtrlOrder[k] : k];
  return out;
}

StationPosition DecodeStation(const ScrambledStation& columns, double ra1, bool ctrl_variant) {
  std::uint32_t values[5];
  for (int k = 0; k < 5; ++k) values[ctrl_variant ? kCtrlOrder[k] : k] = columns.column[k];
  const std::uint32_t g = values[4] ^ (ctrl_variant ? kCtrlTag : kTag);
  const std::uint32_t key = Steps(g, ExportScrambler::kRounds);
  const std::uint32_t inverse = InverseOdd(key | 1u);
  const auto value = [&](int k, std::uint32_t mix) {
    return static_cast<double>(static_cast<std::int32_t>((values[k] ^ (key * mix)) * inverse));
  };
  const double f = RaFactor(ra1);
  StationPosition p;
  p.lat = value(0, 1u) / f;
  p.lng = value(1, kMixLng) / f;
  p.alt = value(2, kMixAlt) / f * kMetresPerKm;
  p.av1 = value(3, kMixVelocity) / kVelocityScale;
  return p;
}

MeteorCsvResult ExportMeteorCsv(const Table& clips, const Table& objects,
                                const ExportSite& site, const std::filesystem::path& folder,
                                const MeteorCsvOptions& options, ExportScrambler& scrambler) {
  MeteorCsvResult result;
  if (options.alt) {
    result.report = ExportPeriodReport(clips, objects, site, folder, true);
  }
  const bool ctrl = options.ctrl && options.number == 0;
  const Period period = ScanPeriod(clips, site.sid);
  if (period.first_row < 0) return result;

  std::filesystem::path path = folder / FileName(clips, period, site, options.number);
  result.csv.path = path;
  if (!options.alt && options.number == 0) {
    std::optional<std::filesystem::path> chosen =
        ChooseExportFile("Save M*CSV file", "M*.csv", path);
    if (!chosen) {
      result.csv.status = ExportStatus::kCancelled;
      return result;
    }
    path = *chosen;
    result.csv.path = path;
  }

  ExportScrambler state = scrambler;
  std::string text = kHeader;
  int lines = 0;
  for (int o = 0; o < objects.count(); ++o) {
    if (!objects.Exists(o)) continue;
    const int c = objects.Int(o, obj::kCline);
    if (!ClipRowExists(clips, c) || IsLeftOut(objects.Text(o, obj::kClass))) continue;
    AppendLine(&text, clips, objects, o, c, options, ctrl, state);
    ++lines;
  }
  if (!WriteExportFile(path, text, true)) {
    ShowError("Cannot open %s", path.c_str());
    result.csv.status = ExportStatus::kCannotOpen;
    return result;
  }
  scrambler = state;
  result.csv.status = ExportStatus::kWritten;
  result.csv.lines = lines;
  return result;
}

}  // namespace mr4
