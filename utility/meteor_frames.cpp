#include "utility/meteor_frames.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <mutex>
#include <set>
#include <string_view>

#include "analysis/analysis_context.h"
#include "analysis/measurement.h"
#include "analysis/result_file.h"
#include "astro/time_scales.h"
#include "base/error.h"
#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/camera_profile.h"
#include "clips/clip_files.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// The night of a clip begins at the local noon before it.
constexpr double kNightShiftDays = 0.5;

bool IsMeteorClass(std::string_view cls) { return !cls.empty() && cls.front() != '_'; }

FramesCamera CameraOf(const Table& clips, int row) {
  FramesCamera c;
  c.lid = std::string(clips.Text(row, clip::kLid));
  c.sid = std::string(clips.Text(row, clip::kSid));
  double lng = clips.Float(row, clip::kLng);
  if (lng > 180.0) lng -= 360.0;
  c.lng = lng;
  c.lat = clips.Float(row, clip::kLat);
  c.alt_m = clips.Float(row, clip::kAlt);
  // The camera profile of the clip's directory row; the clip's own cell
  // names the file its values were last read from (its result file once
  // analysed).
  const Table& dirs = Tables().dir;
  const int dirline = clips.Int(row, clip::kDirline);
  if (dirline >= 0 && dirline < dirs.count() && dirs.Exists(dirline)) {
    c.profile = std::string(dirs.Text(dirline, dir::kProfile));
  }
  c.width = clips.Int(row, clip::kCx);
  c.height = clips.Int(row, clip::kCy);
  c.fps = clips.Float(row, clip::kFps);
  c.interlaced = clips.Int(row, clip::kInterlaced) != 0;
  // The radial scale at the centre: vx degrees over the width (divided by
  // the horizontal pixel factor), the same scale down the height.
  const double vx = clips.Float(row, clip::kVx);
  double yx = clips.Float(row, clip::kYx);
  if (!(yx > 0)) yx = 1.0;
  c.fov_h = vx / yx;
  c.fov_v = c.width > 0 ? vx * c.height / c.width : 0.0;
  return c;
}

// The trigger instant of the clip row in UTC (MJD), from its local time and
// zone.
double TriggerMjd(const Table& clips, int row) {
  return CivilToMjd(clips.Int(row, clip::kY), clips.Int(row, clip::kMo),
                    clips.Int(row, clip::kD), clips.Int(row, clip::kH),
                    clips.Int(row, clip::kM), clips.Float(row, clip::kS)) -
         clips.Int(row, clip::kTz) / kSecondsPerDay;
}

// The meteors of one clip row whose trail the context holds.
void AddClipMeteors(AnalysisContext& c, const Table& clips, Table& objects, int row,
                    std::vector<MeteorFrames>* meteors, std::vector<double>* nights) {
  const double fps = clips.Float(row, clip::kFps);
  if (!(fps > 0)) return;
  const bool interlaced = clips.Int(row, clip::kInterlaced) != 0;
  const double field_rate = interlaced ? 2 * fps : fps;
  // The video starts `head` frames before the trigger.
  const double trigger = TriggerMjd(clips, row);
  const double start = trigger - clips.Int(row, clip::kHead) / fps / kSecondsPerDay;
  const double night = std::floor(trigger + clips.Int(row, clip::kTz) / kSecondsPerDay -
                                  kNightShiftDays);
  CameraProfile photometry;
  photometry.maxl = clips.Int(row, clip::kMaxLev);
  photometry.maxm = clips.Float(row, clip::kMaxMag);
  photometry.minl = clips.Int(row, clip::kMinLev);
  UpdateZeroPoint(photometry);
  const FramesCamera camera = CameraOf(clips, row);
  const std::string clip_name(clips.Text(row, clip::kClipName));

  std::lock_guard lock(objects.lock());
  int k = 0;
  for (int o = clips.Int(row, clip::kOline); o >= 0;
       o = objects.Int(o, obj::kOlinenext), ++k) {
    if (k >= objects.count()) break;  // a looping chain
    const std::string_view cls = objects.Text(o, obj::kClass);
    if (!IsMeteorClass(cls) || k >= c.track_count) continue;
    const Track& track = c.tracks[k];
    if (track.sample_count <= 0) continue;
    MeteorFrames m;
    m.clip = clip_name;
    m.object = k + 1;
    m.cls = std::string(cls);
    m.start_mjd_utc = start;
    m.camera = camera;
    for (int s = 0; s < track.sample_count; ++s) {
      const Detection& d = c.Sample(track.samples[s]);
      FrameSample f;
      f.field = d.field;
      f.frame = interlaced ? d.field / 2.0 : d.field;
      f.mjd_utc = start + d.field / field_rate / kSecondsPerDay;
      f.x = d.x;
      f.y = d.y;
      f.az = d.az;
      f.ev = d.ev;
      f.ra = d.ra;
      f.dec = d.dec;
      f.mag = SampleMagnitude(photometry, d.Lsum);
      f.intensity = d.Lsum;
      m.samples.push_back(f);
    }
    // A result file lists a track's samples as they were written; the
    // exports want them in field order.
    std::stable_sort(m.samples.begin(), m.samples.end(),
                     [](const FrameSample& a, const FrameSample& b) { return a.field < b.field; });
    meteors->push_back(std::move(m));
    nights->push_back(night);
  }
}

std::string ProcessedText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &utc);
  return "MR4 " + App().version_number_text + " on " + when + " UTC";
}

}  // namespace

std::vector<StationNight> GatherMeteorFrames(int* unreadable) {
  *unreadable = 0;
  const Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  AnalysisContext& c = AnalysisContextAt(0);
  std::vector<MeteorFrames> meteors;
  std::vector<double> nights;
  for (int row = 0; row < clips.count(); ++row) {
    if (!clips.Exists(row)) continue;
    if ((clips.Int(row, clip::kMT) & KindBit(kKindResult)) == 0) continue;
    if (!EnsureClipTrail(c, row)) {
      ++*unreadable;
      continue;
    }
    AddClipMeteors(c, clips, objects, row, &meteors, &nights);
  }
  return GroupStationNights(std::move(meteors), nights);
}

FramesExportResult ExportMeteorFrames(FramesFormat format, const std::filesystem::path& folder) {
  FramesExportResult result;
  const std::vector<StationNight> nights = GatherMeteorFrames(&result.unreadable);
  const std::string processed = ProcessedText();
  for (const StationNight& night : nights) {
    ExportResult file;
    std::string text;
    std::filesystem::path path;
    if (format == FramesFormat::kCsv) {
      path = folder / FramesCsvFileName(night);
      text = FormatFramesCsv(night);
      for (const MeteorFrames& m : night.meteors) file.lines += int(m.samples.size());
    } else {
      path = folder / FtpDetectInfoFileName(night);
      std::set<std::string> directories;
      for (const MeteorFrames& m : night.meteors) file.lines += int(m.samples.size());
      const Table& clips = Tables().clip;
      for (int row = 0; row < clips.count(); ++row) {
        if (clips.Exists(row)) directories.insert(std::string(clips.Text(row, clip::kDirectory)));
      }
      const std::string ff_folder = directories.size() == 1 ? *directories.begin() : "";
      text = FormatFtpDetectInfo(night, processed, ff_folder,
                                 (App().home / "PROF").string());
    }
    file.path = path;
    const std::optional<std::filesystem::path> chosen =
        ChooseExportFile("Save frames file", format == FramesFormat::kCsv ? "*.csv" : "*.txt",
                         path);
    if (!chosen) {
      file.status = ExportStatus::kCancelled;
    } else if (!WriteExportFile(*chosen, text, true)) {
      ShowError("Cannot open %s", chosen->c_str());
      file.status = ExportStatus::kCannotOpen;
      file.path = *chosen;
    } else {
      file.status = ExportStatus::kWritten;
      file.path = *chosen;
    }
    result.files.push_back(std::move(file));
  }
  return result;
}

}  // namespace mr4
