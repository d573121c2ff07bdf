#include "reports/frames_export.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <locale.h>
#include <map>
#include <numbers>
#include <tuple>

#include "astro/time_scales.h"
#include "reports/export_files.h"

namespace mr4 {
namespace {

constexpr char kHeaderRule[] = "-----------------------------------------------------";
// The rule before each meteor is two dashes longer: the readers tell a
// meteor's start from the header's rules by it.
constexpr char kMeteorRule[] = "-------------------------------------------------------";

// printf in the C locale, appended to `out`.
void AppendFormat(std::string* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void AppendFormat(std::string* out, const char* format, ...) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const locale_t previous = uselocale(c_locale);
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  uselocale(previous);
  if (n > 0) out->append(buffer, std::min<std::size_t>(std::size_t(n), sizeof buffer - 1));
}

// A finite number or 0: a degenerate sample never writes "nan".
double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

std::string DateText(int year, int month, int day) {
  std::string text;
  AppendFormat(&text, "%04d%02d%02d", year, month, day);
  return text;
}

// A CSV text cell: quoted (RFC 4180) when it holds a comma, a quote or a
// line end.
std::string CsvText(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Image coordinates of the format: column from the left, row from the top,
// the first pixel's centre at 0.
double Column(double x) { return x - 0.5; }
double Row(const FramesCamera& camera, double y) { return camera.height - y - 0.5; }

// The trail's straight line as the distance of the line from the frame's
// centre (rho, px) and the direction of its normal (phi, deg 0..360, from
// the column axis towards the row axis), through the first and last sample.
void TrailLine(const MeteorFrames& m, double* rho, double* phi) {
  *rho = 0;
  *phi = 0;
  if (m.samples.empty()) return;
  const double cx = m.camera.width / 2.0, cy = m.camera.height / 2.0;
  const FrameSample& a = m.samples.front();
  const FrameSample& b = m.samples.back();
  const double x1 = Column(a.x) - cx, y1 = Row(m.camera, a.y) - cy;
  const double x2 = Column(b.x) - cx, y2 = Row(m.camera, b.y) - cy;
  const double length = std::hypot(x2 - x1, y2 - y1);
  double nx = 0, ny = 0;
  if (length > 1e-9) {
    nx = -(y2 - y1) / length;
    ny = (x2 - x1) / length;
  } else {
    const double r = std::hypot(x1, y1);
    if (r <= 1e-9) return;
    nx = x1 / r;
    ny = y1 / r;
  }
  double distance = nx * x1 + ny * y1;
  if (distance < 0) {
    distance = -distance;
    nx = -nx;
    ny = -ny;
  }
  *rho = distance;
  double angle = std::atan2(ny, nx) * 180.0 / std::numbers::pi;
  if (angle < 0) angle += 360.0;
  if (angle >= 360.0) angle -= 360.0;
  *phi = angle;
}

// Pixels per frame from the first to the last sample.
double PixelsPerFrame(const MeteorFrames& m) {
  if (m.samples.size() < 2) return 0;
  const FrameSample& a = m.samples.front();
  const FrameSample& b = m.samples.back();
  if (b.frame == a.frame) return 0;
  return std::hypot(b.x - a.x, b.y - a.y) / std::fabs(b.frame - a.frame);
}

}  // namespace

std::vector<StationNight> GroupStationNights(std::vector<MeteorFrames> meteors,
                                             const std::vector<double>& night_mjd) {
  std::map<std::tuple<std::string, std::string, int>, StationNight> nights;
  for (std::size_t i = 0; i < meteors.size(); ++i) {
    const double mjd = i < night_mjd.size() ? night_mjd[i] : 0;
    const int day_number = static_cast<int>(std::floor(mjd));
    StationNight& night =
        nights[{meteors[i].camera.lid, meteors[i].camera.sid, day_number}];
    if (night.meteors.empty()) {
      night.lid = meteors[i].camera.lid;
      night.sid = meteors[i].camera.sid;
      if (day_number >= kCalendarFirstMjd && day_number < kCalendarLastMjd) {
        const CivilTime date = MjdToCivil(day_number);
        night.year = date.year;
        night.month = date.month;
        night.day = date.day;
      }
    }
    night.meteors.push_back(std::move(meteors[i]));
  }
  std::vector<StationNight> out;
  for (auto& [key, night] : nights) {
    auto first = [](const MeteorFrames& m) {
      return m.samples.empty() ? m.start_mjd_utc : m.samples.front().mjd_utc;
    };
    std::stable_sort(night.meteors.begin(), night.meteors.end(),
                     [&](const MeteorFrames& a, const MeteorFrames& b) {
                       return first(a) < first(b);
                     });
    out.push_back(std::move(night));
  }
  return out;
}

std::string UtcIsoText(double mjd) {
  if (!(mjd >= kCalendarFirstMjd && mjd < kCalendarLastMjd)) return "";
  // Rounded to the millisecond as a whole, so that 23:59:59.9996 becomes the
  // next day's 00:00:00.000 rather than second 60.000.
  constexpr long long kMsPerDay = 86400000;
  const long long ms = std::llround(mjd * double(kMsPerDay));
  const long long day = ms / kMsPerDay;
  const long long in_day = ms % kMsPerDay;
  const CivilTime date = MjdToCivil(double(day));
  std::string text;
  AppendFormat(&text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", date.year, date.month, date.day,
               int(in_day / 3600000), int(in_day / 60000 % 60), int(in_day / 1000 % 60),
               int(in_day % 1000));
  return text;
}

const char kFramesCsvHeader[] =
    "time_utc,lid,sid,lng_deg,lat_deg,alt_m,profile,width_px,height_px,fps,interlaced,"
    "fov_h_deg,fov_v_deg,clip,object,class,frame,field,x_px,y_px,az_deg,ev_deg,ra_deg,"
    "dec_deg,mag,intensity\r\n";

std::string FramesCsvFileName(const StationNight& night) {
  return "frames_" + FileNamePart(night.lid) + "_" + FileNamePart(night.sid) + "_" +
         DateText(night.year, night.month, night.day) + ".csv";
}

std::string FormatFramesCsv(const StationNight& night) {
  struct Line {
    double mjd;
    std::size_t meteor, sample;
  };
  std::vector<Line> lines;
  for (std::size_t m = 0; m < night.meteors.size(); ++m) {
    for (std::size_t s = 0; s < night.meteors[m].samples.size(); ++s) {
      lines.push_back({night.meteors[m].samples[s].mjd_utc, m, s});
    }
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const Line& a, const Line& b) { return a.mjd < b.mjd; });
  std::string text = kFramesCsvHeader;
  for (const Line& line : lines) {
    const MeteorFrames& m = night.meteors[line.meteor];
    const FramesCamera& c = m.camera;
    const FrameSample& s = m.samples[line.sample];
    text += UtcIsoText(s.mjd_utc);
    text += ',' + CsvText(c.lid) + ',' + CsvText(c.sid);
    AppendFormat(&text, ",%.6f,%.6f,%.1f,", Finite(c.lng), Finite(c.lat), Finite(c.alt_m));
    text += CsvText(c.profile);
    AppendFormat(&text, ",%d,%d,%.3f,%d,%.3f,%.3f,", c.width, c.height, Finite(c.fps),
                 c.interlaced ? 1 : 0, Finite(c.fov_h), Finite(c.fov_v));
    text += CsvText(m.clip);
    AppendFormat(&text, ",%d,", m.object);
    text += CsvText(m.cls);
    AppendFormat(&text, ",%.1f,%d,%.3f,%.3f,%.5f,%.5f,%.5f,%.5f,%.2f,%.1f\r\n",
                 Finite(s.frame), s.field, Finite(s.x), Finite(s.y), Finite(s.az),
                 Finite(s.ev), Finite(s.ra), Finite(s.dec), Finite(s.mag),
                 Finite(s.intensity));
  }
  return text;
}

std::string FtpStationCode(std::string_view lid, std::string_view sid) {
  std::string code;
  for (std::string_view part : {lid, sid}) {
    for (char c : part) {
      if (std::isalnum(static_cast<unsigned char>(c))) code += c;
    }
  }
  return code.empty() ? "0" : code;
}

std::string FtpDetectInfoFileName(const StationNight& night) {
  return "FTPdetectinfo_" + FtpStationCode(night.lid, night.sid) + "_" +
         DateText(night.year, night.month, night.day) + ".txt";
}

std::string FtpFrameFileName(const MeteorFrames& meteor) {
  std::string name = "FF_" + FtpStationCode(meteor.camera.lid, meteor.camera.sid) + "_";
  const double mjd = meteor.start_mjd_utc;
  if (mjd >= kCalendarFirstMjd && mjd < kCalendarLastMjd) {
    const CivilTime t = MjdToCivil(mjd);
    const double whole = std::floor(t.second);
    int ms = static_cast<int>(std::lround((t.second - whole) * 1000.0));
    if (ms > 999) ms = 999;
    AppendFormat(&name, "%04d%02d%02d_%02d%02d%02d_%03d", t.year, t.month, t.day, t.hour,
                 t.minute, static_cast<int>(whole), ms);
  } else {
    name += "19000101_000000_000";
  }
  return name + "_0000000.fits";
}

std::string FormatFtpDetectInfo(const StationNight& night, const std::string& processed,
                                const std::string& ff_folder, const std::string& cal_folder) {
  std::string text;
  AppendFormat(&text, "Meteor Count = %06d\r\n", static_cast<int>(night.meteors.size()));
  text += std::string(kHeaderRule) + "\r\n";
  text += "Processed with " + processed + "\r\n";
  text += std::string(kHeaderRule) + "\r\n";
  text += "FF  folder = " + ff_folder + "\r\n";
  text += "CAL folder = " + cal_folder + "\r\n";
  text += std::string(kHeaderRule) + "\r\n";
  text += "FF  file processed\r\n";
  text += "CAL file processed\r\n";
  text += "Cam# Meteor# #Segments fps hnr mle bin Pix/fm Rho Phi\r\n";
  text += "Per segment:  Frame# Col Row RA Dec Azim Elev Inten Mag\r\n";
  const std::string code = FtpStationCode(night.lid, night.sid);
  int number = 0;
  for (const MeteorFrames& m : night.meteors) {
    ++number;
    text += std::string(kMeteorRule) + "\r\n";
    text += FtpFrameFileName(m) + "\r\n";
    text += "Calibrated with profile " + (m.camera.profile.empty() ? "-" : m.camera.profile) +
            "\r\n";
    double rho = 0, phi = 0;
    TrailLine(m, &rho, &phi);
    AppendFormat(&text, "%4s %04d %04d %07.2f 000.0 000.0  00.0 %05.1f %06.1f %06.1f\r\n",
                 code.c_str(), number % 10000, static_cast<int>(m.samples.size()) % 10000,
                 Finite(m.camera.fps), Finite(PixelsPerFrame(m)), rho, phi);
    for (const FrameSample& s : m.samples) {
      const double intensity = std::clamp(Finite(s.intensity), 0.0, 2147483647.0);
      AppendFormat(&text, "%06.4f %07.2f %07.2f %08.4f %+08.4f %08.4f %+08.4f %06d %.2f\r\n",
                   Finite(s.frame), Finite(Column(s.x)), Finite(Row(m.camera, s.y)),
                   Finite(s.ra), Finite(s.dec), Finite(s.az), Finite(s.ev),
                   static_cast<int>(std::lround(intensity)), Finite(s.mag));
    }
  }
  return text;
}

}  // namespace mr4
