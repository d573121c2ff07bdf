// mr4 calibrate: fits the camera profile of clips to the stars of their
// mask pictures, as an observer recalibrates a camera from a clear clip;
// with --blind it first finds the pointing with no guess of it.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/process_values.h"
#include "app/settings.h"
#include "calib/blind_solve.h"
#include "calib/fit_settings.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_scan.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4::cli {
namespace {

constexpr int kRelinkRounds = 4;
constexpr int kPointingRounds = 4;

// The fields the adjustment fits, in the order they are printed.
constexpr const char* kFittedFields[] = {"az", "ev", "rot", "vx", "yx",
                                         "dx", "dy", "k4", "k3", "k2"};


// The star fit of one clip on its own context: the blind solve (`blind`),
// the coarse pointing search, then the links and the fine fit. False when
// the clip cannot be prepared, has no blind solution or the fit failed
// (CalibrationFailure); a failed fit is not saved.
bool CalibrateClip(int row, bool blind, const std::filesystem::path& save_to,
                   std::vector<std::uint8_t>& mask_pixels) {
  const Table& clip = Tables().clip;
  const std::string name(clip.Text(row, clip::kClipName));
  std::printf("clip %s\n", name.c_str());
  if (const std::filesystem::path unread = UnreadableProfile(row); !unread.empty()) {
    std::printf("cannot read its profile %s\n", unread.c_str());
    return false;
  }

  CameraProfile profile;
  StarData data;
  ImageBuffer mask{mask_pixels, 0, 0};
  const ClipMaskFiles files{ClipFilePath(row, kKindMaskN), ClipFilePath(row, kKindMaskM)};
  if (!PrepareClipForStars(StarMap(), clip, row, false, files, profile, data, mask)) {
    std::printf("cannot prepare the clip for stars (no usable mask picture)\n");
    return false;
  }
  const std::span<const std::uint8_t> mask_bgr(
      mask_pixels.data(), static_cast<std::size_t>(profile.cx) * profile.cy * 3);

  DetectMaskStars(StarMap(), profile, mask_bgr, data);
  const int mask_stars = static_cast<int>(data.mask_stars.size());
  if (mask_stars > kMostCalibrationMaskStars) {
    std::printf("%s: calibration failed: %s\n", name.c_str(),
                CalibrationFailure(mask_stars, 0, 0.0).c_str());
    return false;
  }
  // The recorded az, ev and rot are not used, vx only as a width to within
  // about 20 %.
  if (blind) {
    const BlindSolveResult solved = BlindSolve(StarMap(), profile, data);
    if (!solved.solved) {
      std::printf("%s: %s\n", name.c_str(), BlindSolveText(solved).c_str());
      return false;
    }
    std::printf("%s\n", BlindSolveText(solved).c_str());
    ApplyBlindSolution(solved, profile);
    BuildVisibleStars(StarMap(), profile, data.visible);
    DetectMaskStars(StarMap(), profile, mask_bgr, data);
  }
  // Links reach about dlim px: a pointing further off than that would link
  // the wrong stars, so the pointing is searched first.
  const CameraProfile recorded = profile;
  if (SearchPointing(StarMap(), profile, data.mask_stars)) {
    std::printf("pointing search: az %+.2f ev %+.2f rot %+.2f deg\n",
                profile.p_az - recorded.p_az, profile.p_ev - recorded.p_ev,
                profile.p_rot - recorded.p_rot);
    BuildVisibleStars(StarMap(), profile, data.visible);
    DetectMaskStars(StarMap(), profile, mask_bgr, data);
  }
  for (int round = 0; round < kRelinkRounds; ++round) {
    BuildLinkedPairs(StarMap(), profile, data);
    RelinkOutliers(StarMap(), profile, data);
  }
  BuildLinkedPairs(StarMap(), profile, data);
  if (data.pairs.empty()) {
    std::printf("%s\nPlease make m-s link before adjusting\n",
                MatchSummaryText(StarMap(), profile, data).c_str());
    std::printf("%s: calibration failed: %s\n", name.c_str(),
                CalibrationFailure(mask_stars, 0, 0.0).c_str());
    return false;
  }
  if (static_cast<int>(data.pairs.size()) >= kFewestCalibrationStars) {
    for (int round = 0; round < kPointingRounds; ++round) AdjustPointing(profile, data.pairs);
  }
  std::printf("%s\n", MatchSummaryText(StarMap(), profile, data).c_str());
  const AdjustResult fit = AdjustAll(profile, data.pairs, FitSwitchesFromSettings(AppSettings()));
  const PhotometryResult photometry = CalibrateMagnitude(StarMap(), profile, data);

  std::printf("%s\n", MatchSummaryText(StarMap(), profile, data).c_str());
  std::printf("%s\n", PhotometryText(profile, photometry).c_str());
  std::printf("iterations=%d residual=%.4f\n", fit.iterations, fit.residual);
  for (const char* field : kFittedFields) {
    std::printf("%s=%s\n", field,
                AttributeText(profile, *FindProfileAttribute(field)).c_str());
  }
  const std::string failure =
      CalibrationFailure(mask_stars, static_cast<int>(data.pairs.size()), fit.residual);
  if (!failure.empty()) {
    std::printf("%s: calibration failed: %s\n", name.c_str(), failure.c_str());
    return false;
  }
  if (!save_to.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(save_to.parent_path(), ec);
    if (!SaveProfileFile(save_to, profile)) return false;
    std::printf("saved %s\n", save_to.c_str());
  }
  return true;
}

}  // namespace

int RunCalibrate(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--save-profile", OptionKind::kValue}, {"--blind", OptionKind::kFlag}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  std::filesystem::path save_to;
  if (const auto file = parsed.Value("--save-profile")) {
    if (file->empty()) return UsageError(context, "--save-profile needs a file name");
    const std::filesystem::path path(*file);
    save_to = path.has_parent_path() ? path : ProfileFile(*file);
  }

  ReadClipDirectories();
  const Table& clip = Tables().clip;
  std::vector<int> rows;
  const std::vector<std::string>& names = parsed.positionals();
  for (const std::string& name : names) {
    const std::vector<int> named = ClipRowsNamed(name);
    if (named.empty()) return UsageError(context, "no clip " + name + " in the scanned directories");
    rows.push_back(named.front());
  }
  if (names.empty()) {
    for (int r = 0; r < clip.count(); ++r) {
      if (clip.Exists(r) && clip.Int(r, clip::kCheck) != 0) rows.push_back(r);
    }
  }
  if (rows.empty()) {
    std::printf("no checked clip\n");
    return kExitOk;
  }

  std::vector<std::uint8_t> mask_pixels(static_cast<std::size_t>(kMaxImageWidth) *
                                        kMaxImageHeight * 3);
  int failed = 0;
  const bool blind = parsed.Has("--blind");
  for (int row : rows) failed += !CalibrateClip(row, blind, save_to, mask_pixels);
  return failed > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace mr4::cli
