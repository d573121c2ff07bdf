#include "clips/clip_list_ops.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "base/process_values.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr int kFirstYear = 1900;
constexpr int kLastYear = 3000;
constexpr int kMaxDays = 10000;
// The "check" walk's limits.
constexpr double kCdegmaxFieldFactor = 33.6;  // deg x px: B = 33.6 / cy
constexpr double kAzimuthTolerance = 10.0;    // [deg]
constexpr double kElevationTolerance = 3.0;   // [deg]

void SetChecks(bool (*wanted)(const Table&, int)) {
  Table& clips = Tables().clip;
  for (int r = 0; r < clips.count(); ++r) {
    if (clips.Exists(r)) clips.SetUint(r, clip::kCheck, wanted(clips, r) ? 1 : 0);
  }
}

void StepMonth(Settings& s, bool up) {
  if (up) {
    if (s.M < 12) {
      ++s.M;
    } else if (s.Y < kLastYear) {
      s.M = 1;
      ++s.Y;
    }
  } else if (s.M > 1) {
    --s.M;
  } else if (s.Y > kFirstYear) {
    s.M = 12;
    --s.Y;
  }
}

void StepDay(Settings& s, bool up) {
  if (up) {
    if (s.D < DaysInMonth(s.Y, s.M)) {
      ++s.D;
    } else if (s.M < 12 || s.Y < kLastYear) {
      s.D = 1;
      StepMonth(s, true);
    }
  } else if (s.D > 1) {
    --s.D;
  } else if (s.M > 1 || s.Y > kFirstYear) {
    StepMonth(s, false);
    s.D = DaysInMonth(s.Y, s.M);
  }
}

}  // namespace

int AddClipDirectory(const std::string& dir, const std::string& profile,
                     const std::string& save_dir, bool ymd, std::string* problem) {
  const std::pair<const char*, const std::string*> texts[] = {
      {"directory", &dir}, {"profile", &profile}, {"save directory", &save_dir}};
  for (const auto& [what, text] : texts) {
    const std::string why = TableTextProblem(*text);
    if (!why.empty()) {
      *problem = std::string(what) + " '" + *text + "' cannot be kept in " + kDirFileName + ": " + why;
      return -1;
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(HomeFile(kProfileFolderName), ec);
  if (ec) {
    *problem = "cannot create " + HomeFile(kProfileFolderName).native() + ": " + ec.message();
    return -1;
  }
  Table& dirs = Tables().dir;
  const int row = dirs.AppendRow();
  dirs.SetUint(row, dir::kUse, 1);
  dirs.SetText(row, dir::kDir, dir);
  dirs.SetText(row, dir::kProfile, profile);
  dirs.SetText(row, dir::kSaveDir, save_dir);
  dirs.SetUint(row, dir::kYmd, ymd ? 1 : 0);
  return row;
}

void SetAllClipChecks(bool on) {
  SetChecks(on ? +[](const Table&, int) { return true; } : +[](const Table&, int) { return false; });
}

void CheckIntervalClips() {
  SetChecks([](const Table& t, int r) {
    return t.Text(r, clip::kClipName).find('=') != std::string_view::npos;
  });
}

void CheckUnclassifiedClips() {
  SetChecks([](const Table& t, int r) {
    const std::string_view cls = t.Text(r, clip::kClass);
    return cls.empty() || cls.starts_with("__");
  });
}

std::string ClipAttentionText(int row, bool ignore_object_count) {
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  const std::string cls(clips.Text(row, clip::kClass));
  if (cls.empty()) return "E class";
  if (cls.starts_with("__")) return cls;
  if (!ignore_object_count && clips.Int(row, clip::kO) != 1) return "obj > 1";
  if (!cls.starts_with("_")) {
    const int cy = clips.Int(row, clip::kCy);
    if (cy > 0 && clips.Float(row, clip::kCdegmax) > kCdegmaxFieldFactor / cy) return "cdegmax";
  }
  const int o = clips.Int(row, clip::kOline);
  if (o < 0 || o >= objects.count() || !objects.Exists(o)) return {};
  const int y = clips.Int(row, clip::kY), mo = clips.Int(row, clip::kMo);
  const int d = clips.Int(row, clip::kD), h = clips.Int(row, clip::kH);
  const int mi = clips.Int(row, clip::kM);
  const float s = clips.Float(row, clip::kS);
  const int tz = clips.Int(row, clip::kTz);
  if (y < 1901 || y > 2098) return {};  // outside the time tables: no position test
  const double lst = LocalSiderealTime(y, mo, d, h, mi, s, tz, clips.Float(row, clip::kLng));
  const double mjd_tt = UtcToTtMjd(y, mo, d, h, mi, s) - tz / 86400.0;
  const HorizontalPoint seen =
      EquatorialToHorizontal(mjd_tt, lst, clips.Float(row, clip::kLat),
                             objects.Float(o, obj::kRa1), objects.Float(o, obj::kDc1));
  double daz = std::fmod(seen.az - objects.Float(o, obj::kAz1), 360.0);
  if (daz > 180.0) daz -= 360.0;
  if (daz < -180.0) daz += 360.0;
  if (std::fabs(daz) > kAzimuthTolerance ||
      std::fabs(seen.ev - objects.Float(o, obj::kEv1)) > kElevationTolerance) {
    return "ax ev err";
  }
  return {};
}

void SetLatestScanStart(Settings& s, std::time_t now) {
  const std::time_t start = now + static_cast<std::time_t>(s.H) * 3600 -
                            static_cast<std::time_t>(s.days) * 86400;
  std::tm local{};
  localtime_r(&start, &local);
  s.Y = local.tm_year + 1900;
  s.M = local.tm_mon + 1;
  s.D = local.tm_mday;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void StepScanField(Settings& s, ScanField field, bool up) {
  LimitScanFields(s);
  switch (field) {
    case ScanField::kYear:
      s.Y = std::clamp(s.Y + (up ? 1 : -1), kFirstYear, kLastYear);
      break;
    case ScanField::kMonth: StepMonth(s, up); break;
    case ScanField::kDay: StepDay(s, up); break;
    case ScanField::kHour:
      if (up && s.H < 23) {
        ++s.H;
      } else if (!up && s.H > 0) {
        --s.H;
      } else {
        const Settings before = s;
        StepDay(s, up);
        if (s.D != before.D || s.M != before.M || s.Y != before.Y) s.H = up ? 0 : 23;
      }
      break;
    case ScanField::kDays:
      s.days = std::clamp(s.days + (up ? 1 : -1), 1, kMaxDays);
      break;
  }
  LimitScanFields(s);
}

void LimitScanFields(Settings& s) {
  s.Y = std::clamp(s.Y, kFirstYear, kLastYear);
  s.M = std::clamp(s.M, 1, 12);
  s.D = std::clamp(s.D, 1, DaysInMonth(s.Y, s.M));
  s.H = std::clamp(s.H, 0, 23);
  s.days = std::clamp(s.days, 1, kMaxDays);
}

}  // namespace mr4
