#include "clips/current_clip.h"

#include <algorithm>
#include <cstring>

#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/camera_profile.h"
#include "calib/profile_file.h"
#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr std::size_t kPictureBytes =
    static_cast<std::size_t>(kMaxImageWidth) * kMaxImageHeight * 3;

// Background stills in order of preference, with the suffix that names
// each when the scan has not recorded the file.
struct StillChoice {
  int kind;
  const char* suffix;
};
constexpr StillChoice kStillOrder[] = {
    {kKindStillBmp, "S.BMP"}, {kKindPeakBmp, "P.BMP"}, {kKindStillJpg, "S.JPG"},
    {kKindPeakJpg, "P.JPG"},  {kKindOtherBmp, ".BMP"}, {kKindOtherJpg, ".JPG"},
    {kKindCBmp, "C.BMP"},     {kKindMaskN, "N.BMP"},   {kKindMaskM, "M.BMP"},
};

void EnsureBuffers(CurrentClipState& c) {
  if (c.still_storage) return;
  c.still_storage.reset(new std::uint8_t[kPictureBytes]);
  c.mask_storage.reset(new std::uint8_t[kPictureBytes]);
  c.still.pixels = {c.still_storage.get(), kPictureBytes};
  c.mask.pixels = {c.mask_storage.get(), kPictureBytes};
  // Left uninitialised: only the width x height x 3 bytes of a picture
  // are ever read, so untouched pages cost no memory.
  c.still.width = c.still.height = 0;
  c.mask.width = c.mask.height = 0;
}

// Black, 0 x 0; only the part the last picture used needs clearing.
void ClearPicture(ImageBuffer& image) {
  const std::size_t used = std::min(
      image.pixels.size(), static_cast<std::size_t>(image.width) * image.height * 3);
  if (used) std::memset(image.pixels.data(), 0, used);
  image.width = 0;
  image.height = 0;
}

// The clip's file of `kind`: the name the scan met, else the base name and
// the usual suffix.
std::filesystem::path FileOfKind(int row, int kind, const char* suffix) {
  std::filesystem::path path = ClipFilePath(row, kind);
  if (!path.empty()) return path;
  const Table& clips = Tables().clip;
  return std::filesystem::path(clips.Text(row, clip::kDirectory)) /
         (std::string(clips.Text(row, clip::kClipName)) + suffix);
}

// Reads the first picture of `choices` the clip has into `image`; a
// picture that cannot be read leaves the buffer black, never the previous
// clip's.
void LoadPicture(int row, int mt, std::span<const StillChoice> choices,
                 ImageBuffer& image) {
  ClearPicture(image);
  for (const StillChoice& choice : choices) {
    if (!(mt & KindBit(choice.kind))) continue;
    ReadStill(FileOfKind(row, choice.kind, choice.suffix), image);
    return;
  }
}

void MarkObjects(int row) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  std::lock_guard lock(objects.lock());
  for (int o = 0; o < objects.count(); ++o) {
    if (objects.Exists(o)) objects.SetInt(o, obj::kDisp, 0);
  }
  const std::uint32_t sel = clips.Uint(row, clip::kDisp);
  int steps = 0;
  for (int o = clips.Int(row, clip::kOline); o >= 0 && steps++ <= objects.count();
       o = objects.Int(o, obj::kOlinenext)) {
    objects.SetInt(o, obj::kDisp, 1);
    objects.SetUint(o, obj::kSel, sel);
  }
}

void OpenClip(CurrentClipState& c, int row) {
  const Table& clips = Tables().clip;
  const std::string directory(clips.Text(row, clip::kDirectory));
  const std::string name(clips.Text(row, clip::kClipName));
  c.title = App().version_title + " " +
            (std::filesystem::path(directory) / name).native();

  LoadProfileFromRecord(clips, row, false, CurrentProfile());
  Clips().profile_name = std::string(clips.Text(row, clip::kProfile));

  const int frames = std::min(clips.Int(row, clip::kFrames), kMaxClipFrames);
  c.frame_limit = clips.Int(row, clip::kInterlaced) ? frames * 2 : frames;

  MarkObjects(row);
  c.current_object = clips.Int(row, clip::kOline);
  if (c.current_object < 0) c.current_object = -1;

  const int mt = clips.Int(row, clip::kMT);
  LoadPicture(row, mt, kStillOrder, c.still);
  LoadPicture(row, mt, std::span(kStillOrder).subspan(7), c.mask);

  c.clicks.clear();
  if (mt & KindBit(kKindClicks)) c.clicks = ReadClicksFile(ClicksFilePath(directory, name));

  c.directory = directory;
  if (mt & KindBit(kKindAvi)) {
    c.video_path = FileOfKind(row, kKindAvi, ".avi");
    c.media_kind = MediaKind::kAvi;
  } else if (mt & KindBit(kKindWmv)) {
    c.video_path = FileOfKind(row, kKindWmv, ".wmv");
    c.media_kind = MediaKind::kWmv;
  } else {
    c.video_path.clear();
    c.media_kind = MediaKind::kNone;
  }
}

void CloseClip(CurrentClipState& c) {
  c.title = App().version_title;
  ClearPicture(c.still);
  ClearPicture(c.mask);
  c.video_path.clear();
  c.directory.clear();
  c.media_kind = MediaKind::kNone;
  c.clicks.clear();
  c.frame_limit = 0;
  CameraProfile& p = CurrentProfile();
  p.clip_y = kNoClipYear;
  p.clip_mo = 1;
  p.clip_d = 1;
  p.clip_h = 0;
  p.clip_m = 0;
  p.clip_s = 0.0f;
  p.clip_tz = kNoClipZone;
  ComputeClipInstantValues(p);
  c.current_object = -1;
}

}  // namespace

CurrentClipState& CurrentClip() {
  static CurrentClipState state;
  return state;
}

void MakeClipCurrent(int row) {
  CurrentClipState& c = CurrentClip();
  EnsureBuffers(c);
  if (!c.keep_result_text) c.result_text.clear();
  c.keep_result_text = false;
  // Reading the row first makes a deleted row fatal before anything changes.
  if (row >= 0) (void)Tables().clip.Int(row, clip::kExist);
  c.row = row;
  // The replay graph of the previous clip is closed by the replay thread,
  // which watches the current clip.
  c.replay_position = 0;
  c.object_selection = -1;
  if (row >= 0) {
    OpenClip(c, row);
  } else {
    CloseClip(c);
  }
  if (c.on_changed) c.on_changed();
}

bool WriteCurrentClipClicks() {
  const CurrentClipState& c = CurrentClip();
  if (c.row < 0) return false;
  const Table& clips = Tables().clip;
  const CameraProfile& p = CurrentProfile();
  ClicksClip info;
  info.y = clips.Int(c.row, clip::kY);
  info.mo = clips.Int(c.row, clip::kMo);
  info.d = clips.Int(c.row, clip::kD);
  info.h = clips.Int(c.row, clip::kH);
  info.m = clips.Int(c.row, clip::kM);
  info.s = clips.Float(c.row, clip::kS);
  info.tz = clips.Int(c.row, clip::kTz);
  info.ddega = clips.Float(c.row, clip::kDdega);
  info.lid = p.p_lid;
  info.sid = p.p_sid;
  info.lng = p.p_lng;
  info.lat = p.p_lat;
  info.alt = p.p_alt;
  info.gioidh = p.p_gioidh;
  return WriteClicksFile(
      ClicksFilePath(clips.Text(c.row, clip::kDirectory), clips.Text(c.row, clip::kClipName)),
      info, c.clicks);
}

}  // namespace mr4
