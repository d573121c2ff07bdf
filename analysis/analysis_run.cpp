#include "analysis/analysis_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "analysis/detector.h"
#include "analysis/reduction.h"
#include "analysis/replay_run.h"
#include "analysis/result_file.h"
#include "base/error.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "calib/profile_file.h"
#include "clips/clip_files.h"
#include "clips/clip_record.h"
#include "platform/ui.h"
#include "replay/avi_reader.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

DetectionParameters DetectionParametersOf(const CameraProfile& p) {
  DetectionParameters d;
  d.f1 = p.p_u4_f1;
  d.f2 = p.p_u4_f2;
  d.mins = p.p_u4_mins;
  d.leap = p.p_u4_leap;
  d.rm_small = p.p_u4_rm_small;
  d.dlo = p.p_u4_dloffset;
  d.maxdps = p.p_u4_dps;
  d.edeg = p.p_u4_edeg;
  d.cdlim = p.p_u4_cdlim;
  d.consR = p.p_u4_consR;
  return d;
}

void CopyDetectionParameters(const CameraProfile& from, CameraProfile& to) {
  to.p_u4_dps = from.p_u4_dps;
  to.p_u4_edeg = from.p_u4_edeg;
  to.p_u4_cdlim = from.p_u4_cdlim;
  to.p_u4_dloffset = from.p_u4_dloffset;
  to.p_u4_consR = from.p_u4_consR;
  to.p_u4_refmag = from.p_u4_refmag;
  to.p_u4_ddpix = from.p_u4_ddpix;
  to.p_u4_bvf = from.p_u4_bvf;
  to.p_u4_dlim = from.p_u4_dlim;
  to.p_u4_dxoffset = from.p_u4_dxoffset;
  to.p_u4_dapix = from.p_u4_dapix;
  to.p_u4_f1 = from.p_u4_f1;
  to.p_u4_f2 = from.p_u4_f2;
  to.p_u4_mins = from.p_u4_mins;
  to.p_u4_leap = from.p_u4_leap;
  to.p_u4_rm_small = from.p_u4_rm_small;
}

// The values a run corrects go back into the clip row.
void StoreRunValues(const AnalysisContext& c) {
  Table& clips = Tables().clip;
  clips.SetFloat(c.clip_row, clip::kFps, static_cast<float>(c.clip.fps));
  clips.SetInt(c.clip_row, clip::kHead, c.clip.head);
  clips.SetInt(c.clip_row, clip::kFrames, c.clip.frames);
}

// A frame loop that failed for want of a decoder; the second argument adds
// the graph's account, which names what is missing, on a line of its own
// ("\n " and the text).
constexpr char kCodecMessage[] =
    " AVI FOURCC = %s requiring 64bit codec for it\n Please install 64bit codec or use 32bit "
    "Halvex%s";
// Any other failure of a frame loop: the clip and what was wrong.
constexpr char kNotAnalysedMessage[] = "%s is not analysed:\n%s";

// True when the replay graph failed for want of a decoder: its account
// names the missing element ("GStreamer has no decoder for video/x-h265
// (...)") or is the framework's "missing a plug-in" error.
bool MissingDecoder(const std::string& graph_failure) {
  return graph_failure.rfind("GStreamer has no ", 0) == 0 ||
         graph_failure.find("missing a plug-in") != std::string::npos;
}

}  // namespace

void SetAnalysisMask(AnalysisContext& c, std::span<const std::uint8_t> mask_bgr) {
  const std::size_t pixels = std::size_t(c.profile.cx) * c.profile.cy;
  if (mask_bgr.size() < pixels * 3) {
    std::memset(c.mask, 0, pixels);
    return;
  }
  for (std::size_t p = 0; p < pixels; ++p) c.mask[p] = mask_bgr[p * 3] & kOutsideDetectionArea;
}

void LoadClipForRun(AnalysisContext& c, int row, std::span<const std::uint8_t> mask_bgr) {
  LoadProfileFromRecord(Tables().clip, row, false, c.profile);
  c.clip_row = row;
  c.current_object = -1;
  SetAnalysisMask(c, mask_bgr);
}

void LoadRunValues(AnalysisContext& c, int row) {
  const Table& clips = Tables().clip;
  ClipRunValues& v = c.clip;
  const int mt = clips.Int(row, clip::kMT);
  v.has_avi = (mt & KindBit(kKindAvi)) != 0;
  v.has_wmv = (mt & KindBit(kKindWmv)) != 0;
  v.frames = clips.Int(row, clip::kFrames);
  v.fps = clips.Float(row, clip::kFps);
  v.head = clips.Int(row, clip::kHead);
  v.codecno = clips.Int(row, clip::kCodecno);
  v.fourcc = std::string(clips.Text(row, clip::kCodec));
  v.base_path = (std::filesystem::path(clips.Text(row, clip::kDirectory)) /
                 std::string(clips.Text(row, clip::kClipName)))
                    .string();
  v.yx = clips.Float(row, clip::kYx);
  v.vx = c.profile.p_vx;
  v.width = clips.Int(row, clip::kCx);
  v.height = clips.Int(row, clip::kCy);
  v.maxLev = clips.Int(row, clip::kMaxLev);
  v.interlaced = clips.Int(row, clip::kInterlaced);
  v.bbf = clips.Int(row, clip::kBbf);
  c.params = DetectionParametersOf(c.profile);
}

bool PrepareRun(AnalysisContext& c) {
  if (!c.current) return false;
  ClipRunValues& clip = c.clip;
  if (!IsUsableFrameSize(clip.width, clip.height)) return false;
  if (AppSettings().useDlo && &c.profile != &AnalysisContextAt(0).profile) {
    // Detection parameters of the current profile; camera and interlace
    // settings stay those of the clip.
    CopyDetectionParameters(AnalysisContextAt(0).profile, c.profile);
    c.params = DetectionParametersOf(c.profile);
  }
  c.width = clip.width;
  c.height = clip.height;
  c.current = static_cast<std::uint8_t*>(c.luma_a.data());
  c.previous = static_cast<std::uint8_t*>(c.luma_b.data());
  c.saturation = clip.maxLev;

  c.field_counter = 0;
  c.last_seen_field = -1;
  c.largest_pixels = 0;
  c.has_largest = false;
  c.background_count = 0;
  c.brightness_change_frames = 0;
  c.brightness_changed.fill(0);
  c.lit_pixels = 0;
  c.fields_processed = 0;
  c.track_count = 0;
  c.any_detection_frame = false;
  const std::size_t pixels = std::size_t(c.width) * c.height;
  std::memset(c.background, 0, pixels * sizeof(float));
  std::memset(c.marker, 0, pixels);
  std::memset(c.difference, 0, pixels);
  std::memset(c.previous, 0, pixels);

  c.line_step = clip.interlaced ? 2 : 1;
  if (clip.fps <= 0.1)
    clip.fps = (clip.height == 240 || clip.height == 480 || clip.height == 1080)
                   ? 29.97 : 25.0;
  if (clip.head < 10) clip.head = 10;
  if (clip.frames < 1) clip.frames = 2005;

  const DetectionParameters& d = c.params;
  if (clip.interlaced) {
    c.first_detection_field = std::max(FieldsOfFrames(d.f1), 30);
    c.last_detection_field = FieldsOfFrames(d.f2);
    if (c.last_detection_field < c.first_detection_field)
      c.last_detection_field = FieldsOfFrames(clip.frames);
    c.last_detection_field = std::min(c.last_detection_field, 4000);
    c.min_region = 1;
    c.field_rate = 2 * clip.fps;
    c.head_time = 2.0 * clip.head / c.field_rate;
  } else {
    c.first_detection_field = std::max(d.f1, 15);
    c.last_detection_field = d.f2;
    if (c.last_detection_field < c.first_detection_field)
      c.last_detection_field = clip.frames;
    c.last_detection_field = std::min(c.last_detection_field, 2000);
    if (clip.codecno < 0 && c.last_detection_field > 2) c.last_detection_field -= 2;
    c.min_region = 2;
    c.field_rate = clip.fps;
    c.head_time = clip.head / c.field_rate;
  }
  const double per_degree = c.width / clip.vx;
  c.speed_radius = d.maxdps * per_degree / c.field_rate;
  c.tolerance_radius = d.edeg * per_degree;
  // Every count is cleared, not only the clip's: a stale count of a longer
  // earlier run must not reach the tracker.
  c.detection_count.fill(0);
  return true;
}

bool AnalyzeFrame(AnalysisContext& c, int frame, const FrameGeometry& geometry,
                  std::span<const std::uint8_t> pixels, const YuvTables& tables) {
  const ClipRunValues& clip = c.clip;
  const int advance = clip.interlaced ? 2 : 1;
  bool detection = false;
  if (frame >= 1 && frame <= kBackgroundFrames) {
    const bool kept = ExtractBackground(c, geometry, pixels, tables);
    c.field_counter += advance;
    if (!kept) {
      // Left out: the next frame's increases are taken against the last
      // frame kept.
      ++c.brightness_change_frames;
      return false;
    }
    ++c.background_count;
  } else if (c.field_counter < c.first_detection_field ||
             c.field_counter > c.last_detection_field) {
    c.field_counter += advance;
  } else {
    detection = true;
    FinishBackground(c);
    ExtractDetection(c, geometry, pixels, tables);
    // The whole field changed (clouds lit up, or a fireball lighting the
    // sky): the fields are processed, but what they alone hold makes no
    // track (LinkTracks).
    if (std::fabs(BrightnessShift(c, c.background, 1)) >= kBrightnessChangeLevels) {
      ++c.brightness_change_frames;
      for (int f = c.field_counter; f < c.field_counter + advance && f < kMaxFields; ++f)
        c.brightness_changed[f] = 1;
    }
    if (!clip.interlaced) {
      ProcessField(c, 0);
      ++c.field_counter;
    } else {
      ProcessField(c, clip.bbf ? 0 : 1);
      ++c.field_counter;
      ProcessField(c, clip.bbf ? 1 : 0);
      ++c.field_counter;
    }
  }
  std::swap(c.current, c.previous);
  return detection;
}

std::string FrameSizeFailure(const std::string& video, int width, int height,
                             int clip_width, int clip_height) {
  char text[kMessageMaxChars + 1];
  std::snprintf(text, sizeof text, "%s has frames of %dx%d, the clip %dx%d", video.c_str(),
                width, height, clip_width, clip_height);
  return text;
}

std::string TooFewFramesFailure(const AnalysisContext& c, const std::string& video) {
  const int first = c.first_detection_field / (c.clip.interlaced ? 2 : 1);
  // 2005 stands for a count the capture record did not give.
  const int frames = c.clip.frames;
  char text[kMessageMaxChars + 1];
  if (frames > 0 && frames != 2005) {
    std::snprintf(text, sizeof text,
                  "%s gave %d of its %d frames, none in the detection window (from frame %d)",
                  video.c_str(), c.frames_read, frames, first);
  } else {
    std::snprintf(text, sizeof text,
                  "%s gave %d frames, none in the detection window (from frame %d)",
                  video.c_str(), c.frames_read, first);
  }
  return text;
}

int RunOwnReader(AnalysisContext& c) {
  ClipRunValues& clip = c.clip;
  const std::size_t raw_bytes = std::size_t(kMaxFramePixels) * 4 + 520;
  std::span<std::uint8_t> buffer(c.raw, raw_bytes);
  AviReader reader;
  const std::string video = clip.base_path + ".avi";
  if (const int status = OpenAviFrames(video, reader, buffer); status != kAviOk) {
    c.run_failure = video + " cannot be read: " + AviStatusText(status);
    return kAnalysisBadInput;
  }
  if (reader.format != FrameFormat::kYuyv && reader.format != FrameFormat::kUyvy &&
      reader.format != FrameFormat::kDib) {
    c.run_failure = video + ": " + AviStatusText(kAviUnknownFourcc);
    return kAnalysisBadFormat;
  }
  if (reader.width != c.width || reader.height != c.height) {
    c.run_failure = FrameSizeFailure(video, reader.width, reader.height, c.width, c.height);
    return kAnalysisBadInput;
  }
  const FrameGeometry geometry = reader.geometry();
  const YuvTables& tables = App().yuv;
  if (clip.frames == 2005) clip.frames = reader.total_frames;
  if (clip.fps < 0.01) clip.fps = 29.97;

  std::memset(c.background, 0, std::size_t(c.width) * c.height * sizeof(float));
  c.background_histogram.fill(0);
  c.field_counter = 0;
  const int last_frame =
      clip.interlaced ? (c.last_detection_field + 1) / 2 : c.last_detection_field;
  const int n = std::min(reader.total_frames, last_frame);
  bool detection_frame_read = false;
  for (int k = 0; k < n && !c.stop.load(std::memory_order_relaxed); ++k) {
    c.last_seen_field.store(c.field_counter, std::memory_order_relaxed);
    const int status = NextAviFrame(reader, buffer);
    if (status == kAviEnd) break;
    if (status != kAviOk) continue;
    ++c.frames_read;
    const std::span<const std::uint8_t> pixels = AviFramePixels(reader, buffer);
    if (AnalyzeFrame(c, k, geometry, pixels, tables)) detection_frame_read = true;
  }
  CloseAviFrames(reader);
  // Unless stopped, a run that read no frame of its detection phase has
  // nothing to report; a fallback result would replace a good earlier one.
  if (!detection_frame_read && !c.stop.load(std::memory_order_relaxed)) {
    c.run_failure = TooFewFramesFailure(c, video);
    return kAnalysisBadInput;
  }
  c.any_detection_frame = detection_frame_read;
  ReduceRun(c);
  TidyObjects(c);
  return kAnalysisOk;
}

namespace {

// The frames a complete run reads: the clip's, up to the end of its
// detection window.
int FramesWanted(const AnalysisContext& c, int announced) {
  const int last_frame =
      c.clip.interlaced ? (c.last_detection_field + 1) / 2 : c.last_detection_field;
  return std::min(announced, last_frame);
}

std::string ClipName(const AnalysisContext& c) {
  return std::filesystem::path(c.clip.base_path).filename().string();
}

}  // namespace

int AnalyzeClip(AnalysisContext& c) {
  if (c.clip_row < 0) return kAnalysisPrepareFailed;
  c.run_start = std::chrono::steady_clock::now();
  LoadRunValues(c, c.clip_row);
  ClipRunValues& clip = c.clip;
  if (!clip.has_avi && !clip.has_wmv) return kAnalysisNoVideo;
  // The capture record's frame count; 0 when it gives none.
  const int announced = std::max(clip.frames, 0);
  c.frame_cap = std::min(clip.frames, 2000) * (clip.interlaced ? 2 : 1);
  if (!PrepareRun(c)) return kAnalysisPrepareFailed;
  DeleteClipObjects(c);
  StoreRunValues(c);
  if (clip.yx < 0.001) {
    ShowError("Invalid profile settings\n%s", clip.base_path.c_str());
    return kAnalysisBadInput;
  }
  c.frames_read = 0;
  c.source_failure.clear();
  c.run_failure.clear();
  const int code = clip.codecno < 1 ? RunReplay(c) : RunOwnReader(c);
  StoreRunValues(c);
  // Cut short by an interrupt: what the run has is not the clip's result.
  if (c.stop.load(std::memory_order_relaxed) == kStopKeepingResult) return kAnalysisStopped;
  if (code != 0) {
    if (MissingDecoder(c.source_failure)) {
      ShowError(kCodecMessage, clip.fourcc.c_str(), ("\n " + c.source_failure).c_str());
    } else {
      const std::string cause =
          !c.run_failure.empty() ? c.run_failure : "analysis code " + std::to_string(code);
      ShowError(kNotAnalysedMessage, ClipName(c).c_str(), cause.c_str());
    }
    return code;
  }
  if (c.frames_read < FramesWanted(c, announced) && !c.stop.load(std::memory_order_relaxed)) {
    // A truncated or partly unreadable video: analysed as far as it goes.
    char text[kMessageMaxChars + 1];
    std::snprintf(text, sizeof text,
                  "%s: %d of the %d frames the capture record announces could be read; "
                  "the clip is analysed from those",
                  ClipName(c).c_str(), c.frames_read, announced);
    CurrentUi().Message(kMessageCaption, text, MessageIcon::kWarning);
  }
  return WriteResultFile(c) ? kAnalysisOk : kAnalysisNotWritten;
}

bool DeleteObjectOfClip(AnalysisContext& c, int clip_row, int object_row) {
  // The track store must hold this clip's trail: its k-th track is the
  // chain's k-th object, and the reduction's removal takes that track.
  EnsureClipTrail(c, clip_row);
  const int run_clip = c.clip_row;
  c.clip_row = clip_row;
  RemoveObject(c, object_row);
  c.clip_row = run_clip;
  Table& clips = Tables().clip;
  if (clips.Int(clip_row, clip::kO) < 0) clips.SetInt(clip_row, clip::kO, 0);
  SummariseClipObjects(clip_row);
  return RewriteResultFile(c, clip_row);
}

int AddManualObject(AnalysisContext& c, int clip_row) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  if (clip_row < 0 || !clips.Exists(clip_row)) return -1;
  EnsureClipTrail(c, clip_row);
  int row = -1;
  int position = 0;
  {
    std::lock_guard lock(objects.lock());
    int last = -1;
    for (int o = clips.Int(clip_row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext)) {
      if (++position > objects.count()) FatalError("oline link broken");
      last = o;
    }
    if (position > kMaxObjectsForManual) return -1;
    row = objects.AppendRow();
    objects.SetInt(row, obj::kCline, clip_row);
    objects.SetInt(row, obj::kOlinenext, -1);
    objects.SetInt(row, obj::kDisp, 1);
    objects.SetText(row, obj::kClass, "__none");
    objects.SetInt(row, obj::kManual, 1);
    objects.SetInt(row, obj::kSN, -1);
    for (int column : {obj::kRaP, obj::kDcP, obj::kX1, obj::kY1, obj::kX2, obj::kY2, obj::kAz1,
                       obj::kEv1, obj::kAz2, obj::kEv2, obj::kRa1, obj::kDc1, obj::kAv1,
                       obj::kRa2, obj::kDc2, obj::kAv2, obj::kRam, obj::kDcm, obj::kAvm,
                       obj::kVo}) {
      objects.SetFloat(row, column, -1.0f);
    }
    for (int column : {obj::kLng1, obj::kLat1, obj::kLng2, obj::kLat2}) {
      objects.SetFloat(row, column, -999.0f);
    }
    if (last < 0)
      clips.SetInt(clip_row, clip::kOline, row);
    else
      objects.SetInt(last, obj::kOlinenext, row);
  }
  // The store holds one track per object: tracks beyond the chain belong to
  // no object and are never written, so the new object's place is cleared
  // of them and given an empty track.
  if (c.tracks && c.track_clip_row == clip_row && position < kTrackSlots) {
    for (int t = position; t < c.track_count; ++t) {
      const Track& orphan = c.tracks[t];
      for (int i = 0; i < orphan.sample_count; ++i) c.Sample(orphan.samples[i]).object = -1;
    }
    for (int t = std::min(c.track_count, position); t <= position; ++t) {
      c.tracks[t].sample_count = 0;
      c.tracks[t].passed_count = 0;
    }
    c.track_count = position + 1;
  }
  clips.SetInt(clip_row, clip::kO, position + 1);
  if (c.clip_row == clip_row) c.current_object = row;
  return row;
}

void DeleteClipObjects(AnalysisContext& c) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  std::lock_guard lock(objects.lock());
  int steps = 0;
  for (int o = clips.Int(c.clip_row, clip::kOline); o >= 0;) {
    if (++steps > objects.count()) FatalError("oline link broken");
    const int next = objects.Int(o, obj::kOlinenext);
    objects.DeleteRow(o);
    o = next;
  }
  clips.SetInt(c.clip_row, clip::kOline, -1);
  c.current_object = -1;
}

}  // namespace mr4
