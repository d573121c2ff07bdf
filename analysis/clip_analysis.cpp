#include "analysis/clip_analysis.h"

#include "analysis/analysis_run.h"
#include "base/error.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "replay/frame_formats.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {

ClipPreparation PrepareClip(AnalysisContext& c, int row, bool allow_empty_mask,
                            std::vector<std::uint8_t>& mask) {
  const Table& clips = Tables().clip;
  c.clip_row = row;
  c.current_object = -1;
  if (const std::filesystem::path unread = UnreadableProfile(row); !unread.empty()) {
    ShowError("%s: cannot read its profile %s",
              std::string(clips.Text(row, clip::kClipName)).c_str(), unread.c_str());
    return ClipPreparation::kNoProfile;
  }
  // The size comes from the clip's files (capture record, result file) and
  // sizes every buffer below.
  const int width = clips.Int(row, clip::kCx), height = clips.Int(row, clip::kCy);
  if (!IsUsableFrameSize(width, height)) {
    ShowError("%s: frame size %dx%d is not usable (1x1 to %dx%d)",
              std::string(clips.Text(row, clip::kClipName)).c_str(), width, height,
              kMaxFrameWidth, kMaxFrameHeight);
    return ClipPreparation::kBadFrameSize;
  }
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * 3;
  if (mask.size() < bytes) mask.resize(bytes);
  ImageBuffer picture{mask, 0, 0};
  const ClipMaskFiles files{ClipFilePath(row, kKindMaskN), ClipFilePath(row, kKindMaskM)};
  const bool has_picture = !files.edited.empty() || !files.capture.empty();
  ClipPreparation outcome = ClipPreparation::kReady;
  if (!has_picture ||
      !PrepareClipForStars(StarMap(), clips, row, false, files, c.profile, c.stars, picture)) {
    if (!allow_empty_mask || clips.Float(row, clip::kYx) < 0.001f) {
      return ClipPreparation::kFailed;
    }
    // The empty mask: nothing excluded, no star to fit.
    LoadProfileFromRecord(clips, row, false, c.profile);
    std::fill(mask.begin(), mask.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
    PrepareStarData(StarMap(), c.profile,
                    std::span<const std::uint8_t>(mask.data(), bytes), c.stars);
    outcome = ClipPreparation::kEmptyMask;
  }
  SetAnalysisMask(c, std::span<const std::uint8_t>(mask.data(), bytes));
  return outcome;
}

std::string FitClipToStars(AnalysisContext& c, std::span<const std::uint8_t> mask) {
  Table& clips = Tables().clip;
  clips.SetFloat(c.clip_row, clip::kErrm, -1.0f);
  const CameraProfile recorded = c.profile;
  const StarFitResult fit = StarFitSequence(StarMap(), recorded, mask, c.profile, c.stars);
  clips.SetFloat(c.clip_row, clip::kErrm,
                 fit.failure.empty() ? static_cast<float>(fit.photometry.errm)
                                     : kErrmCalibrationFailed);
  return fit.failure;
}

int AnalyzeClipRow(AnalysisContext& c, int row, bool star_fit, bool allow_empty_mask,
                   std::vector<std::uint8_t>& mask, std::string* calibration_failure) {
  const ClipPreparation prepared = PrepareClip(c, row, allow_empty_mask, mask);
  if (prepared != ClipPreparation::kReady && prepared != ClipPreparation::kEmptyMask) {
    return kAnalysisPrepareFailed;
  }
  if (star_fit && prepared == ClipPreparation::kReady) {
    const std::size_t bytes = std::size_t(c.profile.cx) * c.profile.cy * 3;
    const std::string failure =
        FitClipToStars(c, std::span<const std::uint8_t>(mask.data(), bytes));
    if (calibration_failure) *calibration_failure = failure;
  }
  return AnalyzeClip(c);
}

}  // namespace mr4
