// The mask editor's work on a mask picture: the paint and erase rules of
// the four mask types, the brushes, lines and rectangles, the automatic
// masks ("amask", "cmask", "smask"), the display picture composed from the
// mask codes, the pixel readout, and writing the edited mask N.BMP.
//
// A mask picture is W x H pixels of 3 bytes, blue (the mask code), green
// (the still's brightness), red (the capture program's marker), rows from
// the bottom; (x, y) counts y from the bottom row. Nothing here needs a
// user interface; the mask page calls it on the user-interface thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "calib/camera_profile.h"

namespace mr4 {

// Mask code bits.
inline constexpr std::uint8_t kMaskAreaBit = 2;     // excluded area
inline constexpr std::uint8_t kMaskOptBit = 4;      // outside the detection area
inline constexpr std::uint8_t kMaskStarBits = 240;  // star pixels

// The mask types of the page ("AP.m_clr").
enum class MaskType : int { kDetectionArea = 0, kArea = 1, kStar = 2, kOpt = 3 };

struct MaskPicture {
  std::span<std::uint8_t> bgr;
  int width = 0;
  int height = 0;

  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  std::uint8_t& Code(int x, int y) {
    return bgr[(static_cast<std::size_t>(y) * width + x) * 3];
  }
  std::uint8_t Green(int x, int y) const {
    return bgr[(static_cast<std::size_t>(y) * width + x) * 3 + 1];
  }
  std::uint8_t Red(int x, int y) const {
    return bgr[(static_cast<std::size_t>(y) * width + x) * 3 + 2];
  }
};

// The rule of a type as code = (code AND and_mask) OR or_mask: `paint` for
// the left button and "fill", else the erase of the right button and "clr".
struct MaskRule {
  std::uint8_t and_mask = 0xFF;
  std::uint8_t or_mask = 0;
  std::uint8_t Apply(std::uint8_t code) const {
    return static_cast<std::uint8_t>((code & and_mask) | or_mask);
  }
};
MaskRule RuleOf(MaskType type, bool paint);

// The brush of size `size` at (x, y): size 1 the pixel alone, a larger c
// the pixels (x + i, y + j) with |i|, |j| <= c div 2 and i^2 + j^2 <= c^2
// div 3, inside the picture.
void ApplyBrush(MaskPicture& mask, int x, int y, int size, MaskRule rule);
// The brush at every point of the line from (x1, y1) to (x2, y2), one pixel
// along the longer axis, the other interpolated.
void ApplyLine(MaskPicture& mask, int x1, int y1, int x2, int y2, int size, MaskRule rule);
// Every pixel of the rectangle with corners (x1, y1) and (x2, y2), both
// included, clipped to the picture.
void ApplyRect(MaskPicture& mask, int x1, int y1, int x2, int y2, MaskRule rule);
// Every pixel of the picture ("fill", "clr", "all om").
void ApplyAll(MaskPicture& mask, MaskRule rule);

// The parameters of the automatic masks (the settings "AP.m_*").
struct AutoMaskParameters {
  int area_brush = 5;     // "g-pix" AP.m_asize
  int star_brush = 3;     // "s-pix" AP.m_ssize
  int largest = 20;       // "smax" AP.m_smax
  float star_level = 3.0f;    // "slev" AP.m_slev
  float area_level = -20.0f;  // "glev" AP.m_alev
  float cloud_level = 40.0f;  // AP.m_clev
  int text_band_top = 0;      // the clip's `sipos` (rows from the top)
  int text_band_rows = 0;     // its `sisize`
};

// "amask": dark areas (brightness below the 41 x 41 mean by more than the
// area level) get the area bit in a square of half-size g-pix; the text
// band gets the detection bit.
void AutoAreaMask(MaskPicture& mask, const AutoMaskParameters& p);
// "cmask": bright areas (above the 101 x 101 mean by more than the cloud
// level) get the area and detection bits in a 9 x 9 square; only regions
// larger than smax keep them; the text band gets the detection bit.
void AutoCloudMask(MaskPicture& mask, const AutoMaskParameters& p);
// "smask": star pixels where a pixel outside the area mask stands above the
// 11 x 11 mean by more than slev and lies at the window's brightness centre;
// regions larger than smax are dropped.
void AutoStarMask(MaskPicture& mask, const AutoMaskParameters& p);

// Which regions (4-connected pixels with all of `bits`) keep the bits: with
// `keep_small`, those whose larger side (maximum minus minimum of x or y)
// is at most `largest`, else those larger than it.
void FilterMaskRegions(MaskPicture& mask, std::uint8_t bits, int largest, bool keep_small);

// The display picture of the mask (same layout): area pixels greenish,
// star pixels blue, detection-area marks yellowish, the rest grey; with
// `hits`, grey pixels the capture program marked are shown cyan.
void ComposeMaskDisplay(const MaskPicture& mask, bool hits, std::span<std::uint8_t> display);

// The readout of the pixel (x, y): "x %04d  y %04d  %s\naz %08.4f ev
// %07.4f\nra %08.4f dc %07.4f" with "masked" or "g=%3d r=%3d".
std::string MaskReadout(const MaskPicture& mask, const CameraProfile& profile, int x, int y);

// "%s/%sN.BMP" of the clip directory and name.
std::filesystem::path EditedMaskPath(const std::filesystem::path& directory,
                                     std::string_view clip_name);
// Writes the mask as the clip's N.BMP (through a temporary file renamed
// into place: a failed write leaves the old file).
bool WriteEditedMask(const std::filesystem::path& path, const MaskPicture& mask);

}  // namespace mr4
