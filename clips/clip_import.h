// Importing a video from another camera as a clip of the library: the
// video under the capture program's name for its trigger time, and a
// capture record with the frame size, rate and count read from the video.
//
// An AVI is copied as it is. Another container is remuxed into AVI with
// GStreamer (demuxer, parser, avimux; nothing is decoded) when avimux takes
// its video codec; otherwise the video cannot become a clip (the clip model
// reads .avi and .wmv videos only) and the import says so.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "astro/time_scales.h"

namespace mr4 {

// What the headers of an AVI file say of its video stream.
struct AviFacts {
  int width = 0;
  int height = 0;
  double fps = 0.0;
  int frames = 0;
  std::string fourcc;  // the video stream's compression, e.g. "XVID", "DIB "
};

// Reads the main and first video stream headers of the AVI at `path`;
// false with `error` when the file is not an AVI with a video stream.
bool ReadAviFacts(const std::filesystem::path& path, AviFacts* facts, std::string* error);

// True when `t` is a valid date and time in 1901..2098.
bool ValidCivilTime(const CivilTime& t);

// The base name the capture program gives a clip triggered at local time
// `t`: "M%04d%02d%02d_%02d%02d%02d" (whole seconds).
std::string CaptureClipBase(const CivilTime& t);

// The time a file name carries by `pattern`: %Y (4 digits), %m %d %H %M %S
// (2 digits each), %% a percent sign, any other character itself. The
// pattern may start anywhere in the name; the first place it matches with
// a valid time wins. False when it matches nowhere; `error` says why when
// the pattern itself is wrong (an unknown % sequence, no %Y %m %d).
bool TimeFromFileName(std::string_view name, std::string_view pattern, CivilTime* t,
                      std::string* error);

// Where and with what camera the imported video was taken.
struct ImportSite {
  std::string lid, sid;
  double lng = 0.0, lat = 0.0, alt = 0.0;
  int tz = 0;  // local clock minus UT [s]
  std::string cam, lens;
};

enum class ImportStatus {
  kOk,
  kCannotRemux,  // the container or codec cannot become an AVI without decoding
  kFailed,       // unreadable source, existing clip, a file not written
};

struct ImportResult {
  ImportStatus status = ImportStatus::kFailed;
  std::string base;     // the clip's base name
  bool remuxed = false;  // false: copied as it is
  AviFacts facts;
  std::string error;
};

// Writes the clip of `source` into directory `dir` (which must exist) for a
// trigger at local time `local`: "<base>.avi" and "<base>.xml". An existing
// clip of that name is left alone (kFailed); on any failure none of the new
// files stays.
ImportResult ImportVideo(const std::filesystem::path& source, const std::filesystem::path& dir,
                         const CivilTime& local, const ImportSite& site);

}  // namespace mr4
