// The per-frame export of the meteors: every trail sample of every meteor
// with its time, position in the frame and on the sky, and magnitude, with
// the station's plain coordinates and its camera. Two forms:
//
// - the frames CSV (docs/frames-export.md): a header line, then one line
//   per sample in time order, every column spelled out;
// - FTPdetectinfo, the text format that meteor-network trajectory solvers
//   read: a header, then one block per meteor (FF name line, calibration
//   line, meteor line, one line per frame).
//
// One file per station (lid, sid) per night: the night is the local date at
// the trigger time less 12 hours, so a night's clips after midnight stay
// with the evening they began. Lines end with CR LF; numbers are written in
// the C locale. Pure formatting: the samples come from the caller
// (utility/meteor_frames.h gathers them from the result files).
#pragma once

#include <string>
#include <vector>

namespace mr4 {

// The station and the camera of one clip.
struct FramesCamera {
  std::string lid, sid;
  double lng = 0;    // deg east, -180..180
  double lat = 0;    // deg north
  double alt_m = 0;  // height above sea level
  std::string profile;  // the camera profile's name
  int width = 0, height = 0;  // frame size, px
  double fps = 0;             // frames per second
  bool interlaced = false;    // two fields per frame
  double fov_h = 0, fov_v = 0;  // field of view across the frame, deg
};

// One trail sample.
struct FrameSample {
  double mjd_utc = 0;  // the sample's instant
  int field = 0;       // the field (interlaced) or frame number of the sample
  double frame = 0;    // frame number from the video's first frame (x.5: second field)
  double x = 0, y = 0;  // px, y from the bottom, pixel centres at +0.5
  double az = 0, ev = 0;    // deg, azimuth from north through east
  double ra = 0, dec = 0;   // deg, J2000
  double mag = 0;
  double intensity = 0;  // summed brightness above the background (Lsum)
};

// One meteor: the samples of one object of one clip, in field order.
struct MeteorFrames {
  std::string clip;     // the clip's name
  int object = 0;       // 1-based place of the object in its clip
  std::string cls;      // its class
  double start_mjd_utc = 0;  // the instant of the video's frame 0
  FramesCamera camera;
  std::vector<FrameSample> samples;
};

// The meteors of one station in one night, in time order of their first
// sample.
struct StationNight {
  std::string lid, sid;
  int year = 0, month = 0, day = 0;  // the night's local evening date
  std::vector<MeteorFrames> meteors;
};

// Splits meteors into station nights: each night's meteors in time order,
// the nights by station, then date. `night_mjd` gives each meteor's local
// date (as an MJD of the evening) in the same order as `meteors`.
std::vector<StationNight> GroupStationNights(std::vector<MeteorFrames> meteors,
                                             const std::vector<double>& night_mjd);

// The header line of the frames CSV.
extern const char kFramesCsvHeader[];

// "frames_<lid>_<sid>_<YYYYMMDD>.csv" (lid, sid made safe for a file name).
std::string FramesCsvFileName(const StationNight& night);
// The whole frames CSV of a night: the header, then one line per sample of
// every meteor, in time order (equal times in meteor order).
std::string FormatFramesCsv(const StationNight& night);

// The station code FTPdetectinfo carries: lid and sid run together,
// characters other than letters and digits left out ("0" when none is
// left), as the format's names split on "_" and its lines on blanks.
std::string FtpStationCode(std::string_view lid, std::string_view sid);
// "FTPdetectinfo_<code>_<YYYYMMDD>.txt".
std::string FtpDetectInfoFileName(const StationNight& night);
// "FF_<code>_<YYYYMMDD>_<hhmmss>_<mmm>_0000000.fits": the UTC instant of the
// meteor's frame 0 (to the millisecond), from which the format's readers
// time each frame (frame / fps later).
std::string FtpFrameFileName(const MeteorFrames& meteor);
// The whole FTPdetectinfo file of a night. `processed` fills the header's
// "Processed with" line (program, version, time), `ff_folder` and
// `cal_folder` its folder lines.
std::string FormatFtpDetectInfo(const StationNight& night, const std::string& processed,
                                const std::string& ff_folder, const std::string& cal_folder);

// ISO 8601 UTC time of an MJD to the millisecond: "YYYY-MM-DDThh:mm:ss.sssZ"
// ("" outside 1900..2099).
std::string UtcIsoText(double mjd);

}  // namespace mr4
