// Profile adjustment: fits the pointing, scale, aspect, lens terms and
// optical-centre offset of a camera profile to the linked star pairs by a
// coordinate-wise pattern search on the mean pixel residual, calibrates the
// photometric zero point on the linked stars, and runs the fixed star-fit
// sequence of a clip.
//
// Each function changes only the profile and star data it is given, which
// belong to one analysis context; one thread at a time works on them. The
// adjustment runs on a worker while the user-interface thread shows the
// progress dialog: the stop flag is the only state the two share (the
// progress text goes through the callback). Units: px, deg, magnitudes.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "platform/image_codecs.h"

namespace mr4 {

class Table;

// A profile field the adjustment moves.
using ProfileField = float CameraProfile::*;

// Mean over the pairs of the distance [px] between the measured centre and
// HorizontalToPixel of the star's direction (a clamped or zero position of a
// star outside enters as it is). 0 without pairs.
double MeanPixelResidual(const CameraProfile& profile,
                         std::span<const LinkedPair> pairs);

// Pattern search on one field: moves it up by `step` while the residual
// falls (at most 50 times), then down, then divides the step by 10, until
// the step is at most `min_step`. Returns the number of accepted moves.
int LineSearch(CameraProfile& profile, std::span<const LinkedPair> pairs,
               ProfileField field, float step, double min_step);
// The same for a lens term: the distortion table follows every move.
int LineSearchWithLens(CameraProfile& profile, std::span<const LinkedPair> pairs,
                       ProfileField field, float step, double min_step);
// The same for an offset: every trial move is followed by
// AdjustPointingOnce before its residual is taken.
int LineSearchWithPointing(CameraProfile& profile,
                           std::span<const LinkedPair> pairs, ProfileField field,
                           float step, double min_step);

// LineSearch on az, ev and rot (step 0.1, down to ddpix x 0.09). Returns
// the accepted moves.
int AdjustPointingOnce(CameraProfile& profile, std::span<const LinkedPair> pairs);

// "pos 3": the quick pointing adjustment. Returns the moves of its last
// search.
int AdjustPointing(CameraProfile& profile, std::span<const LinkedPair> pairs);

// Which fields AdjustAll may change besides the pointing and k3 (the
// settings AP.p_vxON, AP.p_yxON, AP.p_dxON, AP.p_dyON, AP.p_k4ON, AP.p_k2ON).
struct FitSwitches {
  bool vx = true;
  bool yx = true;
  bool dx = true;
  bool dy = true;
  bool k4 = false;
  bool k2 = true;
};

struct AdjustProgress {
  // Set by the progress dialog's Stop button; read once per iteration.
  const std::atomic<bool>* stop = nullptr;
  // Receives "retry count=%d ddpix = %.7f" after each iteration.
  std::function<void(const std::string&)> show;
};

struct AdjustResult {
  int iterations = 0;
  double residual = 0.0;  // MeanPixelResidual at the end [px]
};

// "adj pos all": the full adjustment. The caller shows the match summary
// first and reports "Please make m-s link before adjusting" when there is no
// pair (nothing changes then). `ev` ends at most 89.9999, `az` in 0..360.
AdjustResult AdjustAll(CameraProfile& profile, std::span<const LinkedPair> pairs,
                       const FitSwitches& switches,
                       const AdjustProgress& progress = {});

struct PhotometryResult {
  int stars = 0;           // k: stars used for the zero point
  double zero_point = 0.0;  // z
  double rms = 0.0;         // root mean square deviation [mag]
  double largest = 0.0;     // largest deviation [mag]
  double errm = -1.0;       // mean deviation, -1 when no star qualified
};

// Fits maxMag, mimMag, minLev and ZeroPoint to the linked mask stars whose
// effective magnitude is not above mimMag and whose flux is above 1. With
// no such star nothing changes and `stars` is 0.
PhotometryResult CalibrateMagnitude(const StarCatalogue& catalogue,
                                    CameraProfile& profile,
                                    const StarData& data);

// The profile page's photometry line: "n%d,m=%.2f*lgL+%.2f,sd=%.2f,dmax%.2f",
// or "n=%d m=-2.5*log(L)+%.2f (not calculated)" when no star was used.
std::string PhotometryText(const CameraProfile& profile,
                           const PhotometryResult& result);

// Turns a capture mask (the capture program's M.BMP, W x H blue-green-red
// bottom-up) into the editor's codes in place: marked pixels (blue >= 16
// with bit 1) 242, blue >= 240 becomes 240, black 2; the detection bit 4 is
// set everywhere and cleared in a square of side about dapix around each
// pixel with red above 10, except on the rows of the text band
// [sipos, sipos + sisize).
void ConvertCaptureMask(std::span<std::uint8_t> bgr, int width, int height,
                        int dapix, int sipos, int sisize);

// The end of preparing a clip for stars, once its profile and mask image are
// in the context: usable photometric levels, ZeroPoint, the distortion
// table, the mask planes and the visible stars. Mask stars and pairs are
// dropped.
void PrepareStarData(const StarCatalogue& catalogue, CameraProfile& profile,
                     std::span<const std::uint8_t> mask_bgr, StarData& data);

// The mask pictures of a clip, as the directory scan found them (empty
// when the clip has none): the edited mask N.BMP and the capture mask M.BMP.
struct ClipMaskFiles {
  std::filesystem::path edited;
  std::filesystem::path capture;
};

// Prepares the clip of clip-table row `row` for stars: drops the mask stars
// and pairs, loads the row's profile (LoadProfileFromRecord), reads the
// edited mask into `mask`, or else the capture mask turned into edit codes
// (ConvertCaptureMask), then PrepareStarData. Fails when the row's yx is
// below 0.001 (showing "Invalid profile settings\n%s" with the clip path,
// directory "/" name), when neither picture can be read, and when the
// picture's size is not the frame's. User-interface thread, or a worker
// while the clip table does not change.
bool PrepareClipForStars(const StarCatalogue& catalogue, const Table& clip, int row,
                         bool skip_detection, const ClipMaskFiles& files,
                         CameraProfile& profile, StarData& data, ImageBuffer& mask);

// When a star fit has failed: the pointing it leaves cannot be trusted, so
// the calibration is reported failed (and a result file says so) rather
// than used as if it were right. A fit needs at least this many linked
// stars: the fewest the pointing adjustment works with ...
inline constexpr int kFewestCalibrationStars = 6;
// ... a mean pixel residual of at most this at its end [px] (about 0.25 deg
// on a 56 deg, 720 px camera; a fit on wrong links ends far above) ...
inline constexpr double kLargestCalibrationResidual = 3.0;
// ... and a mask of at most this many mask stars: more are noise, not
// stars, and fitting them would take minutes.
inline constexpr int kMostCalibrationMaskStars = 1000;
// The clip row's `errm` after a failed star fit (a fitted one is >= 0, and
// -1 when the magnitudes were not calibrated).
inline constexpr float kErrmCalibrationFailed = -2.0f;

// True for the `errm` of a clip whose star fit failed.
bool IsFailedCalibration(float errm);

// Why a star fit with `mask_stars` mask stars that ends with `pairs` linked
// pairs and a mean residual of `residual` px failed ("3 linked stars, at
// least 6 needed", ...); empty when it holds.
std::string CalibrationFailure(int mask_stars, int pairs, double residual);

// The coarse pointing search run before the fine fit, so that the fit
// starts within reach of its links: tries az and ev within +-12 deg and rot
// within +-6 deg of the profile's pointing on a 1 deg grid, then +-1 deg on
// a 0.25 deg grid around the best, and keeps the pointing that brings the
// catalogue stars (not fainter than refmag, above the horizon) nearest to
// the brightest mask stars. The work is fixed by the grids. Returns false,
// leaving the profile unchanged, with fewer than kFewestCalibrationStars
// mask stars. The visible stars are not rebuilt.
bool SearchPointing(const StarCatalogue& catalogue, CameraProfile& profile,
                    std::span<const MaskStar> mask_stars);

struct StarFitResult {
  int pairs = 0;              // linked pairs after the fit
  bool pointing_kept = true;  // false when the adjustment was discarded
  double residual = 0.0;      // MeanPixelResidual after the pointing fit [px]
  PhotometryResult photometry;
  std::string failure;        // CalibrationFailure of the fit; empty when it held
};

// The star fit a worker runs before it analyses a clip, on a context that
// PrepareStarData has prepared with `recorded` (the clip record's profile):
// detection, four relinking rounds, the pointing adjustment when more than
// five pairs exist (discarded, with the recorded profile restored, when it
// leaves more than 4 px), the magnitude calibration, and the residuals of
// the linked mask stars measured again with the final profile. A mask of
// more than kMostCalibrationMaskStars mask stars is not fitted: the
// recorded profile stays and the fit has failed.
StarFitResult StarFitSequence(const StarCatalogue& catalogue,
                              const CameraProfile& recorded,
                              std::span<const std::uint8_t> mask_bgr,
                              CameraProfile& profile, StarData& data);

}  // namespace mr4
