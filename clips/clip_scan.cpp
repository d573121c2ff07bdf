#include "clips/clip_scan.h"

#include <sys/stat.h>

#include <string_view>
#include <system_error>
#include <unordered_map>

#include "base/error.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "clips/clip_record.h"
#include "clips/current_clip.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "replay/avi_reader.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

// The directory row's profile becomes the current profile: read from
// "PROF/<name>" into a temporary clip row filled with the detection
// defaults, loaded into the current profile, and the values new clip rows
// take from it remembered. False when the file gave nothing.
bool LoadDirectoryProfile(const std::string& name) {
  Table& clips = Tables().clip;
  ClipLibrary& library = Clips();
  CameraProfile defaults = CurrentProfile();
  ResetDetectionDefaults(defaults);
  const int row = clips.AppendRow();
  clips.SetInt(row, clip::kOline, -1);
  StoreProfileToRecord(defaults, clips, row);
  clips.SetFloat(row, clip::kFps, library.default_fps);
  clips.SetInt(row, clip::kAvgTimePerFrameSetting, library.default_avg_time_per_frame);
  clips.SetInt(row, clip::kSipos, library.default_sipos);
  clips.SetInt(row, clip::kSisize, library.default_sisize);
  const bool read = ReadRecordIntoClipRow(ProfileFile(name), kProfileElement, row) > 0;
  if (read) {
    LoadProfileFromRecord(clips, row, false, CurrentProfile());
    library.default_fps = clips.Float(row, clip::kFps);
    library.default_avg_time_per_frame = clips.Int(row, clip::kAvgTimePerFrameSetting);
    library.default_sipos = clips.Int(row, clip::kSipos);
    library.default_sisize = clips.Int(row, clip::kSisize);
    library.profile_name = name;
  }
  clips.DeleteRow(row);
  return read;
}

// The profile name start-up took from directory row `row` because its file
// was missing; empty when none was.
std::string HeldProfileName(int row) {
  const ProcessTables& tables = Tables();
  for (const ProcessTables::HeldProfile& held : tables.held_profiles) {
    if (held.row == row && held.dir == tables.dir.Text(row, dir::kDir)) return held.profile;
  }
  return {};
}

// A new clip row for `base` in `directory`, with the current profile's
// values and the scan's own columns.
int CreateClipRow(const ClassifiedFile& file, const std::filesystem::path& directory,
                  int drive, int dir_line) {
  Table& clips = Tables().clip;
  ClipLibrary& library = Clips();
  const int row = clips.AppendRow();
  if (library.file_names.size() <= static_cast<std::size_t>(row)) {
    library.file_names.resize(static_cast<std::size_t>(row) + 1);
  }
  library.file_names[static_cast<std::size_t>(row)] = {};
  clips.SetInt(row, clip::kOline, -1);
  clips.SetText(row, clip::kClipName, file.base);
  clips.SetText(row, clip::kDirectory, directory.native());
  clips.SetInt(row, clip::kY, file.time.y);
  clips.SetInt(row, clip::kMo, file.time.mo);
  clips.SetInt(row, clip::kD, file.time.d);
  clips.SetInt(row, clip::kH, file.time.h);
  clips.SetInt(row, clip::kM, file.time.m);
  clips.SetFloat(row, clip::kS, file.time.s);
  StoreProfileToRecord(CurrentProfile(), clips, row);
  clips.SetFloat(row, clip::kErrm, -1.0f);
  clips.SetFloat(row, clip::kFps, library.default_fps);
  clips.SetInt(row, clip::kAvgTimePerFrameSetting, library.default_avg_time_per_frame);
  clips.SetInt(row, clip::kSipos, library.default_sipos);
  clips.SetInt(row, clip::kSisize, library.default_sisize);
  clips.SetText(row, clip::kProfile, library.profile_name);
  clips.SetInt(row, clip::kDriveno, drive);
  clips.SetInt(row, clip::kDirline, dir_line);
  clips.SetInt(row, clip::kCheck, 1);
  clips.SetText(row, clip::kMedia, kEmptyMedia);
  clips.SetInt(row, clip::kMT, 0);
  return row;
}

// What a file of `kind` adds to its clip row beyond the media summary.
void ApplyKind(int row, int kind, const std::filesystem::path& path,
               const std::string& media) {
  Table& clips = Tables().clip;
  switch (kind) {
    case kKindAvi: {
      const AviProbe probe = ProbeAviFormat(path);
      clips.SetInt(row, clip::kCodecno, probe.code);
      clips.SetText(row, clip::kCodec, probe.fourcc);
      break;
    }
    case kKindWmv:
      // The AVI wins the video: once an AVI was met, its probe stays (the
      // format code decides which reader the analysis uses).
      if (media[0] == ' ') {
        clips.SetText(row, clip::kCodec, "wmv ");
        clips.SetInt(row, clip::kCodecno, -1);
      }
      break;
    case kKindCaptureRecord:
      ReadCaptureRecord(path, row);
      break;
    case kKindResult: {
      const std::string codec(clips.Text(row, clip::kCodec));
      ReadResultObjects(path, row);
      clips.SetText(row, clip::kCodec, codec);
      // An analysed clip's profile is its result file.
      clips.SetText(row, clip::kProfile, path.filename().native());
      break;
    }
    default:
      break;
  }
}

}  // namespace

ClipLibrary& Clips() {
  static ClipLibrary library;
  return library;
}

std::filesystem::path UnreadableProfile(int row) {
  const Table& clips = Tables().clip;
  const ClipLibrary& library = Clips();
  if (row < 0 || row >= clips.count() || !clips.Exists(row)) return {};
  if (clips.Int(row, clip::kMT) & KindBit(kKindResult)) return {};
  const int position = clips.Int(row, clip::kDirline);
  if (position < 0 || static_cast<std::size_t>(position) >= library.unreadable_profiles.size()) {
    return {};
  }
  return library.unreadable_profiles[static_cast<std::size_t>(position)];
}

std::vector<int> ClipRowsNamed(std::string_view name) {
  const Table& clips = Tables().clip;
  std::vector<int> rows;
  for (int r = 0; r < clips.count(); ++r) {
    if (clips.Exists(r) && clips.Text(r, clip::kClipName) == name) rows.push_back(r);
  }
  return rows;
}

std::filesystem::path ClipFilePath(int row, int kind) {
  const ClipLibrary& library = Clips();
  if (row < 0 || static_cast<std::size_t>(row) >= library.file_names.size()) return {};
  const std::string& name = library.file_names[static_cast<std::size_t>(row)]
                                              [static_cast<std::size_t>(kind)];
  if (name.empty()) return {};
  return std::filesystem::path(Tables().clip.Text(row, clip::kDirectory)) / name;
}

void RecordEditedMask(int row, const std::string& file_name) {
  Table& clips = Tables().clip;
  ClipLibrary& library = Clips();
  if (library.file_names.size() <= static_cast<std::size_t>(row)) {
    library.file_names.resize(static_cast<std::size_t>(row) + 1);
  }
  library.file_names[static_cast<std::size_t>(row)][static_cast<std::size_t>(kKindMaskN)] = file_name;
  const int bit = KindBit(kKindMaskN);
  const int mt = clips.Int(row, clip::kMT);
  clips.SetInt(row, clip::kMT, file_name.empty() ? (mt & ~bit) : (mt | bit));
  std::string media(clips.Text(row, clip::kMedia));
  if (media.size() != kMediaChars) media.resize(kMediaChars, ' ');
  media[3] = file_name.empty() ? ' ' : 'N';
  clips.SetText(row, clip::kMedia, media);
}

int StorageDriveIndex(const std::filesystem::path& directory) {
  // Linux: the drive of a directory is its storage device, not the letter
  // before a colon; a directory that cannot be read keys by its path.
  const std::optional<std::uint64_t> device = StorageDeviceKey(directory);
  const std::string key =
      device ? "dev:" + std::to_string(*device) : directory.native();
  std::vector<std::string>& drives = Clips().drives;
  for (std::size_t i = 0; i < drives.size(); ++i) {
    if (drives[i] == key) return static_cast<int>(i);
  }
  if (static_cast<int>(drives.size()) + 1 >= kMaxStorageDrives) {
    FatalError("too many storage drives (>%d)", kMaxStorageDrives);
  }
  drives.push_back(key);
  return static_cast<int>(drives.size()) - 1;
}

void ScanClipDirectory(const std::filesystem::path& directory, int drive,
                       int dir_line) {
  if (directory.empty()) {
    ShowError("Input Directory is null\nPlease assign directory");
    return;
  }
  // Clip rows hold the directory as text of at most kCellTextMaxBytes; a
  // deeper path is reported and left out rather than ending the program.
  if (directory.native().size() > static_cast<std::size_t>(kCellTextMaxBytes)) {
    ShowError("Directory path too long (over %d bytes), not scanned:\n%s",
              kCellTextMaxBytes, directory.c_str());
    return;
  }
  ClipLibrary& library = Clips();
  // A directory met again through a link is not scanned again.
  struct stat info {};
  if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
  if (!library.scanned.emplace(info.st_dev, info.st_ino).second) return;

  Table& clips = Tables().clip;
  const Settings& settings = AppSettings();
  const bool ranged = settings.dirrange == 1 || settings.dirrange == 2;
  const double range_start =
      CivilToMjd(settings.Y, settings.M, settings.D, settings.H, 0, 0.0f);
  const double range_end = range_start + settings.days;
  // Clips of this call by base name: files merge only with these.
  std::unordered_map<std::string, int> clips_here;

  std::error_code ec;
  std::filesystem::directory_iterator it(directory, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::filesystem::directory_entry& entry = *it;
    const std::string name = entry.path().filename().native();
    if (name.empty() || name[0] == '.') continue;
    const std::filesystem::path path = directory / name;
    std::error_code type_ec;
    if (entry.is_directory(type_ec)) {
      if (name != "Trash") ScanClipDirectory(path, drive, dir_line);
      continue;
    }
    const ClassifiedFile file = ClassifyClipFile(name);
    if (file.cls != ClipFileClass::kClipFile) continue;
    if (file.time.time_stamped) {
      if (ranged) {
        const double t = CivilToMjd(file.time.y, file.time.mo, file.time.d,
                                    file.time.h, file.time.m, file.time.s);
        if (t < range_start || t > range_end) continue;
      }
    } else if (file.kind == kKindOther || ranged) {
      continue;
    }

    int row;
    auto found = clips_here.find(file.base);
    if (found != clips_here.end()) {
      row = found->second;
    } else {
      row = CreateClipRow(file, directory, drive, dir_line);
      clips_here.emplace(file.base, row);
    }
    std::string media(clips.Text(row, clip::kMedia));
    ApplyKind(row, file.kind, path, media);
    ApplyMediaLetter(file.kind, media);
    library.file_names[static_cast<std::size_t>(row)][static_cast<std::size_t>(file.kind)] =
        name;
    std::error_code size_ec;
    const std::uintmax_t size = entry.file_size(size_ec);
    clips.SetInt(row, clip::kMT, clips.Int(row, clip::kMT) | KindBit(file.kind));
    clips.SetText(row, clip::kMedia, media);
    clips.SetFloat(row, clip::kMB, clips.Float(row, clip::kMB) +
                                       FileSizeMegabytes(size_ec ? 0 : size));
  }
  if (library.on_clip_count) library.on_clip_count(clips.count());
}

int ReadClipDirectories() {
  Ui& ui = CurrentUi();
  ui.SetWaitCursor(true);
  ProcessTables& tables = Tables();
  ClipLibrary& library = Clips();
  // The rows go: a current clip would point at a row that is gone.
  if (CurrentClip().row >= 0) MakeClipCurrent(-1);
  tables.clip.Clear();
  {
    std::lock_guard lock(tables.obj.lock());
    tables.obj.Clear();
  }
  library.file_names.clear();
  library.drives.clear();
  library.scanned.clear();
  library.unreadable_profiles.clear();

  const Table& dirs = tables.dir;
  int list_position = 0;
  for (int r = 0; r < dirs.count(); ++r) {
    if (!dirs.Exists(r)) continue;
    const int position = list_position++;
    library.unreadable_profiles.emplace_back();
    if (dirs.Uint(r, dir::kUse) == 0) continue;
    const std::string profile(dirs.Text(r, dir::kProfile));
    const bool read = !profile.empty() && LoadDirectoryProfile(profile);
    if (!read) ResetDetectionDefaults(CurrentProfile());
    // A named profile that gives nothing is no camera: its clips would be
    // measured with whatever profile came before. Start-up empties the
    // cell of a name whose file is missing and holds the name.
    const std::string unread = !profile.empty() ? profile : HeldProfileName(r);
    if (!unread.empty() && !read) {
      library.unreadable_profiles.back() = ProfileFile(unread);
      ShowError("Cannot read the profile %s of clip directory %s:\n"
                "its clips without a result file are not calibrated or analysed",
                ProfileFile(unread).c_str(), std::string(dirs.Text(r, dir::kDir)).c_str());
    }
    std::string text(dirs.Text(r, dir::kDir));
    if (text.size() > kDirectoryMaxChars) text.resize(kDirectoryMaxChars);
    // Linux: the path keeps its case (file systems are case-sensitive).
    const std::filesystem::path directory(text);
    if (directory.empty()) {
      ScanClipDirectory(directory, 0, position);  // reports the empty row
      continue;
    }
    ScanClipDirectory(directory, StorageDriveIndex(directory), position);
  }
  ui.SetWaitCursor(false);
  return tables.clip.count();
}

}  // namespace mr4
