// The analysis context: everything one run of one clip works on (images,
// counters, histograms, the detection and track stores), and the fixed
// array of kContextCount contexts behind AnalysisContextAt.
//
// Context 0 is the program's current context; contexts 1 .. 8 belong to the
// parallel workers. A run owns its context exclusively; the context's band
// pool is the only other thread that touches it, and only inside one
// BandPool::Run. Images are sized for the largest frame and reserved as
// zero-filled pages from the system: memory a run does not touch costs
// nothing, and a run clears only the W x H part it uses. Sizes in pixels;
// rows count from the bottom of the picture; angles in degrees.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "analysis/band_pool.h"
#include "calib/camera_profile.h"
#include "calib/star_match.h"
#include "platform/file_replace.h"
#include "replay/frame_formats.h"

namespace mr4 {

inline constexpr int kContextCount = 9;
inline constexpr std::int64_t kMaxFramePixels =
    std::int64_t{kMaxFrameWidth} * kMaxFrameHeight;
inline constexpr int kMaxFields = 4010;
inline constexpr int kDetectionsPerField = 200;
inline constexpr int kTrackSlots = 200;
inline constexpr int kTracksKept = 199;
inline constexpr int kMaxRegions = 65535;  // labels are 16-bit
inline constexpr int kBackgroundFrames = 14;
// Values of a context's stop flag. "Stop" ends the runs with what they
// have, which they write; an interrupt (Ctrl-C) ends them without writing,
// so their clips keep their old result files.
inline constexpr int kStopWithWhatItHas = 1;
inline constexpr int kStopKeepingResult = 2;

// A buffer of zero-filled pages reserved from the system; pages are
// committed when first written.
class ZeroPages {
 public:
  ZeroPages() = default;
  explicit ZeroPages(std::size_t bytes);
  ~ZeroPages();
  ZeroPages(ZeroPages&& other) noexcept;
  ZeroPages& operator=(ZeroPages&& other) noexcept;
  void* data() const { return data_; }
  std::size_t size() const { return bytes_; }

 private:
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
};

// One bright region in one field.
struct Detection {
  std::int32_t object = -1;  // owning track, -1 none
  std::int32_t field = 0;
  std::int32_t pixels = 0;
  std::int32_t peak = 0;
  std::int32_t saturated = 0;
  double Lsum = 0;
  double x = 0, y = 0;  // centroid, px, y from the bottom, centres at +0.5
  double r = 0;         // bounding-box diagonal, px
  double az = 0, ev = 0, ra = 0, dec = 0;
  std::int32_t pass = 0;
  std::int32_t sequence = 0;
  double err = 0;
  double ra_mod = 0, dec_mod = 0;
  double av = 0;
};

// A chain of detections over successive fields. Samples are indices into
// the detection store (field x kDetectionsPerField + number).
struct Track {
  std::int32_t pixel_sum = 0;
  std::int32_t saturated = 0;
  std::int32_t peak = 0;
  std::int32_t sample_count = 0;
  std::int32_t passed_count = 0;
  std::array<std::int32_t, kMaxFields> samples;
  std::int32_t first_field = 0;
  std::int32_t last_field = 0;
  std::int32_t end_field = -1;
  double last_x = 0, last_y = 0;
  double pole_ra = 0, pole_dec = 0;
  double max_Lsum = 0;
  double vx = 0, vy = 0;  // px per field
};

// Statistics of one labelled region of the current field.
struct RegionStats {
  std::int32_t count;
  std::uint16_t first_x, first_y, last_x, last_y;
  std::int32_t min_x, max_x, min_y, max_y;
  std::int32_t peak;
  std::int32_t saturated;
};

// The fields of `frames` interlaced frames (twice the count), held within
// the int range: frame numbers come from the clip's files and may be any
// int.
constexpr int FieldsOfFrames(int frames) {
  const std::int64_t fields = 2 * static_cast<std::int64_t>(frames);
  return fields > INT32_MAX ? INT32_MAX : (fields < INT32_MIN ? INT32_MIN : static_cast<int>(fields));
}

// What a run takes from (and writes back to) the clip's row.
struct ClipRunValues {
  bool has_avi = false;
  bool has_wmv = false;
  int frames = 0;       // 2005: unknown
  double fps = 0;
  int head = 0;
  int codecno = 0;
  std::string fourcc;
  std::string base_path;  // the video is base_path + ".avi"
  double yx = 1.0;
  double vx = 56.0;       // horizontal field of view, degrees
  int width = 720, height = 480;
  int maxLev = 255;       // saturation level
  int interlaced = 0;
  int bbf = 0;
};

// The detection parameters of the run.
struct DetectionParameters {
  int f1 = -1, f2 = 0;
  int mins = 3;
  int leap = 200;
  int rm_small = 1;
  int dlo = 10;
  double maxdps = 49.0;
  double edeg = 3.0;
  double cdlim = -1.0;
  double consR = 3.0;
};

struct AnalysisContext {
  AnalysisContext() = default;
  // A context whose profile is `shared` (context 0: the current profile).
  explicit AnalysisContext(CameraProfile& shared) : profile(shared) {}

  int number = 0;
  int clip_row = -1;        // CLIP row of the run's clip, -1 none
  int current_object = -1;  // OBJ row the pages show, -1 none
  ClipRunValues clip;       // the run's copy of the clip row's run columns
  DetectionParameters params;
  CameraProfile own_profile;
  // The run's camera, loaded from the clip row before a run. Context 0's
  // is the current profile, the one the pages show and the settings keep.
  CameraProfile& profile = own_profile;
  StarData stars;           // the clip's mask stars and their links

  // Images (bytes reserved for the largest frame).
  ZeroPages luma_a, luma_b, difference_image, mask_image, marker_image,
      background_image, label_image, link_x_image, link_y_image, raw_frame;
  std::uint8_t* current = nullptr;
  std::uint8_t* previous = nullptr;
  std::uint8_t* difference = nullptr;
  std::uint8_t* mask = nullptr;    // nonzero = excluded
  std::uint8_t* marker = nullptr;  // 120 region pixels, 255 centroids
  float* background = nullptr;
  std::uint16_t* label = nullptr;
  // Labels outside pixels [label_dirty_begin, label_dirty_end) are 0, so
  // the detection extraction clears only that span.
  std::int64_t label_dirty_begin = 0, label_dirty_end = 0;
  std::uint16_t* link_x = nullptr;
  std::uint16_t* link_y = nullptr;
  std::uint8_t* raw = nullptr;     // 4 bytes per pixel + 520

  // Geometry of the run.
  int width = 0, height = 0;
  int line_step = 1;
  int saturation = 255;
  int min_region = 2;  // a region needs more pixels than this

  // Counters and window of the run.
  int field_counter = 0;
  std::atomic<int> last_seen_field{-1};
  int fields_processed = 0;
  int background_count = 0;
  int first_detection_field = 0;
  int last_detection_field = 0;
  int frame_cap = 0;
  double field_rate = 0;
  double head_time = 0;
  double speed_radius = 0;      // px per field
  double tolerance_radius = 0;  // px
  bool any_detection_frame = false;

  // Histograms and thresholds.
  std::array<std::int64_t, 256> background_histogram{};
  int noise_level = 0;
  // Frames in which the whole field's brightness had changed against the
  // background (clouds lit up, a car's lights, a fireball lighting the
  // sky), and per field whether it was one of them.
  int brightness_change_frames = 0;
  std::array<std::uint8_t, kMaxFields> brightness_changed{};
  std::array<std::int64_t, 256> changed_histogram{};
  std::array<std::int64_t, 256> difference_histogram{};
  int thrA = 0, thrB = 0, thrC = 256, top = 0, top_count = 0;
  std::int64_t lit_pixels = 0;

  // Per-band counters, merged after each band step.
  struct BandCounts {
    std::array<std::int64_t, 256> a{};
    std::array<std::int64_t, 256> b{};
    std::int64_t lit = 0;
  };
  std::array<BandCounts, kBandCount> band_counts{};

  // Regions of the current field (index = label).
  ZeroPages region_store;
  RegionStats* regions = nullptr;

  // Detection store and track store.
  ZeroPages detection_store, track_store;
  Detection* detections = nullptr;  // kMaxFields x kDetectionsPerField
  std::array<int, kMaxFields> detection_count{};
  Track* tracks = nullptr;          // kTrackSlots
  int track_count = 0;

  // The run's largest region.
  int largest_pixels = 0;
  bool has_largest = false;
  Detection largest{};

  // The clip whose samples the track store holds (-1: none): a result file
  // rewritten outside a run must carry its own clip's samples.
  int track_clip_row = -1;
  // That clip's result file, set when the store is read from or written
  // to it: after a rescan the same row can be another clip.
  std::string track_clip_file;

  // Reduction: work arrays of the local fits, the winning shower's
  // corrected radiant, the open trail log, the run's start.
  std::array<double, kMaxFields> fit_time{};
  std::array<double, kMaxFields> fit_angle{};
  double shower_ra = 0, shower_dec = 0;
  std::FILE* trail_log = nullptr;
  // The trail log's file while it is written (trail_log is its stream).
  std::unique_ptr<FileReplacement> trail_log_file;
  std::chrono::steady_clock::time_point run_start{};
  double elapsed_seconds = 0;  // run_start to the end of the reduction

  // Tests only: the samples' ra/dec are placed by hand, so the trail fit
  // takes them as they are instead of measuring them from x, y.
  bool sky_positions_given = false;

  // The frame source's account of a run: the frames it gave (frame 0
  // counted), and what it said of a failure, for the failure message.
  int frames_read = 0;
  std::string source_failure;
  // Why a frame loop failed, as the message's second line: the video's
  // path and what is wrong with it ("... has frames of 640x480, the clip
  // 720x480"); empty when it did not.
  std::string run_failure;

  // Raised by the parallel dialog: kStopWithWhatItHas or kStopKeepingResult.
  std::atomic<int> stop{0};
  std::unique_ptr<BandPool> pool;

  Detection& DetectionAt(int field, int n) {
    return detections[std::size_t(field) * kDetectionsPerField + n];
  }
  Detection& Sample(int index) { return detections[index]; }
  // Rows [begin, end) of band k: floor(H / 4) rows each, the last band
  // taking the rows that remain.
  int BandBegin(int band) const { return band * (height / kBandCount); }
  int BandEnd(int band) const {
    return band == kBandCount - 1 ? height : (band + 1) * (height / kBandCount);
  }
};

// Context 0 .. kContextCount - 1.
AnalysisContext& AnalysisContextAt(int number);
// Reserves the context's images and stores and creates its band pool (once;
// later calls do nothing). `workers` as for BandPool.
void AllocateAnalysisContext(AnalysisContext& context,
                             int workers = kBandCount - 1);
// Start-up: allocates contexts 1 .. count (at most kContextCount - 1).
void AllocateParallelContexts(int count);

}  // namespace mr4
