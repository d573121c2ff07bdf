// The per-frame export's two forms on small hand-made nights: the frames
// CSV (columns, order, line ends, quoting) and FTPdetectinfo read back by a
// parser that follows the format's published reading rules (header of 11
// lines, the meteor separator, block layout, number of frame lines, float
// fields, frame times from the FF name).
#include "reports/frames_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "astro/time_scales.h"

namespace mr4 {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

// 2023-12-31 14:30:00 UTC.
double BaseMjd() { return CivilToMjd(2023, 12, 31, 14, 30, 0.0f); }

FramesCamera Camera() {
  FramesCamera c;
  c.lid = "Tokyo";
  c.sid = "TK_1";
  c.lng = 139.5;
  c.lat = 35.25;
  c.alt_m = 40;
  c.profile = "wide, 6mm";
  c.width = 720;
  c.height = 480;
  c.fps = 29.97;
  c.interlaced = true;
  c.fov_h = 56;
  c.fov_v = 37.333;
  return c;
}

// A meteor of `n` samples, one per field from `first_field`, the video's
// frame 0 at `start`.
MeteorFrames Meteor(const std::string& clip, int object, double start, int first_field, int n) {
  MeteorFrames m;
  m.clip = clip;
  m.object = object;
  m.cls = "PER";
  m.start_mjd_utc = start;
  m.camera = Camera();
  for (int k = 0; k < n; ++k) {
    FrameSample s;
    s.field = first_field + k;
    s.frame = s.field / 2.0;
    s.mjd_utc = start + s.field / (2 * 29.97) * kSecond;
    s.x = 100.5 + 10 * k;
    s.y = 300.5 - 5 * k;
    s.az = 45 + k;
    s.ev = 30 + 0.5 * k;
    s.ra = 10.25 + k;
    s.dec = -5.5 + k;
    s.mag = 1.5 - 0.25 * k;
    s.intensity = 1234.4 + k;
    m.samples.push_back(s);
  }
  return m;
}

std::vector<std::string> Lines(const std::string& text, bool* crlf) {
  std::vector<std::string> lines;
  *crlf = true;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (line.empty() || line.back() != '\r') {
      *crlf = false;
    } else {
      line.pop_back();
    }
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

std::vector<std::string> Split(const std::string& line, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool IsFloat(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && std::isfinite(*value);
}

// The FTPdetectinfo file read by the format's rules.
struct ReadMeteor {
  std::string ff_name;
  std::string calibration;
  std::string cam_code;
  std::vector<double> parameters;  // meteor No, segments, fps, hnr, mle, bin, px/fm, rho, phi
  std::vector<std::vector<double>> frames;  // frame, col, row, ra, dec, az, ev, inten, mag
};
struct ReadFile {
  int declared_count = -1;
  std::vector<ReadMeteor> meteors;
};

constexpr char kSeparator[] = "-------------------------------------------------------";
constexpr int kHeaderLines = 11;

ReadFile ParseFtpDetectInfo(const std::string& text) {
  ReadFile file;
  bool crlf = false;
  const std::vector<std::string> lines = Lines(text, &crlf);
  EXPECT_TRUE(crlf);
  EXPECT_GE(lines.size(), std::size_t(kHeaderLines));
  if (lines.size() < std::size_t(kHeaderLines)) return file;
  const std::string count_prefix = "Meteor Count = ";
  EXPECT_EQ(lines[0].rfind(count_prefix, 0), 0u) << lines[0];
  file.declared_count = std::atoi(lines[0].c_str() + count_prefix.size());
  // None of the header's lines may pass for a meteor's separator.
  for (int i = 0; i < kHeaderLines; ++i) {
    EXPECT_EQ(lines[i].find(kSeparator), std::string::npos) << i << ": " << lines[i];
  }
  int entry = 0;
  for (std::size_t i = kHeaderLines; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find(kSeparator) != std::string::npos) {
      file.meteors.emplace_back();
      entry = 0;
    }
    EXPECT_FALSE(file.meteors.empty()) << "line before the first separator: " << line;
    if (file.meteors.empty()) continue;
    ReadMeteor& m = file.meteors.back();
    if (entry == 1) m.ff_name = line;
    if (entry == 2) m.calibration = line;
    if (entry == 3) {
      const std::vector<std::string> words = Words(line);
      EXPECT_EQ(words.size(), 10u) << line;
      if (!words.empty()) m.cam_code = words[0];
      for (std::size_t w = 1; w < words.size(); ++w) {
        double v = 0;
        EXPECT_TRUE(IsFloat(words[w], &v)) << words[w] << " in " << line;
        m.parameters.push_back(v);
      }
    }
    if (entry > 3) {
      const std::vector<std::string> words = Words(line);
      EXPECT_EQ(words.size(), 9u) << line;
      std::vector<double> values;
      for (const std::string& w : words) {
        double v = 0;
        EXPECT_TRUE(IsFloat(w, &v)) << w << " in " << line;
        values.push_back(v);
      }
      m.frames.push_back(values);
    }
    ++entry;
  }
  return file;
}

// The instant of the FF name's first frame, as the format's readers take
// it: split on "_", the date and time after the station, then milliseconds.
double FfNameMjd(const std::string& name) {
  const std::vector<std::string> parts = Split(name, '_');
  const std::size_t i = parts[0].size() == 2 ? 1 : 0;
  EXPECT_GE(parts.size(), i + 4);
  if (parts.size() < i + 4) return 0;
  const std::string& date = parts[i + 1];
  const std::string& time = parts[i + 2];
  return CivilToMjd(std::stoi(date.substr(0, 4)), std::stoi(date.substr(4, 2)),
                    std::stoi(date.substr(6, 2)), std::stoi(time.substr(0, 2)),
                    std::stoi(time.substr(2, 2)), std::stoi(time.substr(4, 2))) +
         std::stoi(parts[i + 3]) / 1000.0 * kSecond;
}

StationNight Night(std::vector<MeteorFrames> meteors) {
  StationNight night;
  night.lid = "Tokyo";
  night.sid = "TK_1";
  night.year = 2023;
  night.month = 12;
  night.day = 31;
  night.meteors = std::move(meteors);
  return night;
}

TEST(FramesCsv, OneLinePerSampleInTimeOrderWithEveryColumn) {
  // Two meteors whose samples interleave in time: the second starts while
  // the first is still going.
  const double start = BaseMjd() + 0.3 * kSecond;
  const StationNight night =
      Night({Meteor("M20240101_003000_TK1", 1, start, 100, 3),
             Meteor("M20240101_003000_TK1", 2, start, 101, 2)});
  const std::string text = FormatFramesCsv(night);
  bool crlf = false;
  const std::vector<std::string> lines = Lines(text, &crlf);
  EXPECT_TRUE(crlf);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0] + "\r\n", kFramesCsvHeader);
  const std::size_t columns = Split(lines[0], ',').size();
  EXPECT_EQ(columns, 26u);
  // Field order 100 (1), 101 (1), 101 (2), 102 (1), 102 (2).
  const std::vector<std::pair<int, int>> order = {{1, 100}, {1, 101}, {2, 101}, {1, 102},
                                                  {2, 102}};
  std::string previous_time;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    // The profile name holds a comma and is quoted.
    EXPECT_NE(lines[i].find(",\"wide, 6mm\","), std::string::npos) << lines[i];
    std::string unquoted = lines[i];
    unquoted.replace(unquoted.find("\"wide, 6mm\""), 11, "wide 6mm");
    const std::vector<std::string> cells = Split(unquoted, ',');
    ASSERT_EQ(cells.size(), columns) << lines[i];
    EXPECT_EQ(std::stoi(cells[14]), order[i - 1].first) << lines[i];
    EXPECT_EQ(std::stoi(cells[17]), order[i - 1].second) << lines[i];
    EXPECT_GE(cells[0], previous_time);
    previous_time = cells[0];
  }
  // Field 100 of 59.94 fields per second: 1.668 s after frame 0.
  EXPECT_EQ(lines[1],
            "2023-12-31T14:30:01.968Z,Tokyo,TK_1,139.500000,35.250000,40.0,\"wide, 6mm\",720,"
            "480,29.970,1,56.000,37.333,M20240101_003000_TK1,1,PER,50.0,100,100.500,300.500,"
            "45.00000,30.00000,10.25000,-5.50000,1.50,1234.4");
}

TEST(FramesCsv, NamesFollowTheStationAndNightAndStayInTheFolder) {
  StationNight night = Night({});
  EXPECT_EQ(FramesCsvFileName(night), "frames_Tokyo_TK_1_20231231.csv");
  night.lid = "../up";
  night.sid = "a/b";
  EXPECT_EQ(FramesCsvFileName(night), "frames____up_a_b_20231231.csv");
  EXPECT_EQ(FormatFramesCsv(night), kFramesCsvHeader);
}

TEST(FramesCsv, TimesCarryTheMillisecondAndRollOverTheDay) {
  struct Case {
    double mjd;
    const char* text;
  };
  const double midnight = CivilToMjd(2024, 1, 1, 0, 0, 0.0f);
  for (const Case& c : {Case{midnight - 0.0004 * kSecond, "2024-01-01T00:00:00.000Z"},
                        Case{midnight - 0.0006 * kSecond, "2023-12-31T23:59:59.999Z"},
                        Case{midnight + 12.3456 * kSecond, "2024-01-01T00:00:12.346Z"},
                        Case{10.0, ""}}) {
    EXPECT_EQ(UtcIsoText(c.mjd), c.text) << c.mjd;
  }
}

TEST(FtpDetectInfo, ParsesByTheFormatsRules) {
  const double start = BaseMjd() + 0.25 * kSecond;
  MeteorFrames single = Meteor("M20231231_233002_TK1", 1, start + 2 * kSecond, 60, 1);
  single.camera.interlaced = false;
  single.camera.fps = 25;
  single.samples[0].frame = 60;
  single.samples[0].mjd_utc = start + 2 * kSecond + 60 / 25.0 * kSecond;
  const StationNight night = Night({Meteor("M20231231_233000_TK1", 1, start, 100, 4), single});
  const std::string text =
      FormatFtpDetectInfo(night, "MR4 test on 2024-01-01 00:00:00 UTC", "/clips", "/home/PROF");
  const ReadFile file = ParseFtpDetectInfo(text);
  EXPECT_EQ(file.declared_count, 2);
  ASSERT_EQ(file.meteors.size(), 2u);
  EXPECT_NE(text.find("\r\nProcessed with MR4 test on 2024-01-01 00:00:00 UTC\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\nFF  folder = /clips\r\nCAL folder = /home/PROF\r\n"),
            std::string::npos);

  for (std::size_t i = 0; i < file.meteors.size(); ++i) {
    const ReadMeteor& m = file.meteors[i];
    const MeteorFrames& source = night.meteors[i];
    SCOPED_TRACE(m.ff_name);
    EXPECT_EQ(m.ff_name.rfind("FF_TokyoTK1_20231231_1430", 0), 0u);
    EXPECT_EQ(m.ff_name.substr(m.ff_name.size() - 13), "_0000000.fits");
    EXPECT_EQ(m.calibration.find("Uncalibrated"), std::string::npos);
    EXPECT_EQ(m.cam_code, "TokyoTK1");
    ASSERT_EQ(m.parameters.size(), 9u);
    EXPECT_EQ(m.parameters[0], double(i + 1));
    // The segment count is the number of frame lines that follow.
    EXPECT_EQ(m.parameters[1], double(m.frames.size()));
    ASSERT_EQ(m.frames.size(), source.samples.size());
    EXPECT_NEAR(m.parameters[2], source.camera.fps, 0.005);
    const double ff_start = FfNameMjd(m.ff_name);
    for (std::size_t k = 0; k < m.frames.size(); ++k) {
      const std::vector<double>& f = m.frames[k];
      const FrameSample& s = source.samples[k];
      ASSERT_EQ(f.size(), 9u);
      // A reader times each frame from the FF name's instant and the fps.
      EXPECT_NEAR((ff_start + f[0] / m.parameters[2] * kSecond - s.mjd_utc) / kSecond, 0.0,
                  0.0015)
          << k;
      EXPECT_NEAR(f[1], s.x - 0.5, 0.005);
      EXPECT_NEAR(f[2], 480 - s.y - 0.5, 0.005);  // rows from the top
      EXPECT_NEAR(f[3], s.ra, 5e-5);
      EXPECT_NEAR(f[4], s.dec, 5e-5);
      EXPECT_NEAR(f[5], s.az, 5e-5);
      EXPECT_NEAR(f[6], s.ev, 5e-5);
      EXPECT_EQ(f[7], std::round(s.intensity));
      EXPECT_NEAR(f[8], s.mag, 0.005);
    }
  }
  // The first meteor moves 10 px right and 5 px down per field, two fields a
  // frame: 22.4 px per frame.
  EXPECT_NEAR(file.meteors[0].parameters[6], 22.4, 0.05);
  // Its line lies (col, row from the centre 360, 240) through (-260, -61)
  // and (-230, -46): normal direction 116.6 deg, distance 61.7 px.
  EXPECT_NEAR(file.meteors[0].parameters[7], 61.7, 0.05);
  EXPECT_NEAR(file.meteors[0].parameters[8], 116.6, 0.05);
  // One sample: no speed.
  EXPECT_EQ(file.meteors[1].parameters[6], 0.0);
}

TEST(FtpDetectInfo, AnEmptyNightIsAHeaderWithCountZero) {
  const std::string text = FormatFtpDetectInfo(Night({}), "MR4", "", "");
  const ReadFile file = ParseFtpDetectInfo(text);
  EXPECT_EQ(file.declared_count, 0);
  EXPECT_TRUE(file.meteors.empty());
  EXPECT_EQ(text.rfind("Meteor Count = 000000\r\n", 0), 0u);
}

TEST(FtpDetectInfo, StationCodesAndNamesHoldNoSeparators) {
  struct Case {
    const char* lid;
    const char* sid;
    const char* code;
  };
  for (const Case& c : {Case{"Tokyo", "TK1", "TokyoTK1"}, Case{"a b_c", "d:e/f", "abcdef"},
                        Case{"", "", "0"}, Case{"__", "..", "0"}}) {
    EXPECT_EQ(FtpStationCode(c.lid, c.sid), c.code) << c.lid << "|" << c.sid;
  }
  StationNight night = Night({});
  EXPECT_EQ(FtpDetectInfoFileName(night), "FTPdetectinfo_TokyoTK1_20231231.txt");
  MeteorFrames m = Meteor("M", 1, CivilToMjd(2024, 8, 12, 23, 59, 59.9996f), 0, 0);
  EXPECT_EQ(FtpFrameFileName(m), "FF_TokyoTK1_20240813_000000_000_0000000.fits");
  m.start_mjd_utc = CivilToMjd(2024, 8, 12, 23, 59, 1.5f);
  EXPECT_EQ(FtpFrameFileName(m), "FF_TokyoTK1_20240812_235901_500_0000000.fits");
}

TEST(StationNights, AfterMidnightStaysWithTheEveningAndStationsSplit) {
  const double evening = CivilToMjd(2023, 12, 31, 0, 0, 0.0f);
  MeteorFrames late = Meteor("late", 1, BaseMjd() + 3600 * kSecond, 0, 1);
  MeteorFrames early = Meteor("early", 1, BaseMjd(), 0, 1);
  MeteorFrames other = Meteor("other", 1, BaseMjd(), 0, 1);
  other.camera.sid = "TK2";
  MeteorFrames next = Meteor("next", 1, BaseMjd() + 86400 * kSecond, 0, 1);
  const std::vector<StationNight> nights = GroupStationNights(
      {late, other, early, next}, {evening, evening, evening, evening + 1});
  ASSERT_EQ(nights.size(), 3u);
  EXPECT_EQ(nights[0].sid, "TK2");
  EXPECT_EQ(nights[1].sid, "TK_1");
  EXPECT_EQ(nights[1].day, 31);
  ASSERT_EQ(nights[1].meteors.size(), 2u);
  EXPECT_EQ(nights[1].meteors[0].clip, "early");  // time order, not input order
  EXPECT_EQ(nights[1].meteors[1].clip, "late");
  EXPECT_EQ(nights[2].year, 2024);
  EXPECT_EQ(nights[2].month, 1);
  EXPECT_EQ(nights[2].day, 1);
}

}  // namespace
}  // namespace mr4
