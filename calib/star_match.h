// Star matching: finds the stars of a clip's mask image (the mask stars),
// measures their centres and brightness, links each to the nearest visible
// catalogue star ("m-s link") and lists the linked pairs that the profile
// adjustment fits.
//
// StarData is the star part of one analysis context; the context owns it,
// and one thread at a time works on it (the user-interface thread for
// context 0, a parallel-analysis worker for its own context). The catalogue
// is only read.
//
// The mask image is W x H pixels of blue, green, red bytes, rows bottom-up
// (row 0 is the lowest), W and H from the profile. Its blue channel holds
// the mask codes: blue & 0xFB == 240 marks a star-candidate pixel, bit 1
// (value 2) at a star's centre excludes the star. Green is the brightness
// used for measurement. Units: pixels (x from the left, y from the bottom,
// a pixel's centre at +0.5), deg, magnitudes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"

namespace mr4 {

inline constexpr int kMaskStarCapacity = 10000;
// A flood fill pushes each pixel at most once, so its stack never holds
// more than the largest frame (8192 x 4320); reaching this is fatal.
inline constexpr std::size_t kFloodStackCapacity = 35389440;
// Mask stars whose centre is closer than this to an edge are dropped [px].
inline constexpr int kMaskStarEdgePx = 8;
inline constexpr std::uint8_t kStarCandidateCode = 1;
inline constexpr std::uint8_t kStarVisitedCode = 240;
inline constexpr std::uint8_t kExcludeStarBit = 2;

// The mask image split into planes, one byte per pixel, index y * width + x.
struct MaskPlanes {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> code;   // MaskCode: blue, candidates made 1
  std::vector<std::uint8_t> level;  // MaskLevel: green
  std::vector<std::uint8_t> red;    // MaskRed: red
};

struct MaskStar {
  int seed_x = 0;  // the pixel the region was found at, then its centre pixel
  int seed_y = 0;
  int pixels = 0;  // pixels of the region
  int reach = 0;   // largest |x - seed_x| + |y - seed_y| in the region
  double x = 0.0;  // brightness-weighted centre [px]
  double y = 0.0;
  double az = 0.0;   // measured direction of the centre [deg]
  double ev = 0.0;
  double ra = 0.0;   // [deg, J2000]
  double dec = 0.0;
  double sum = 0.0;  // brightness sum of the region
  double lgL = 0.0;  // log10(flux), 0 when the flux is at most 1
  int ring_pixels = 0;
  double background = 0.0;  // mean level in the ring
  int disc_pixels = 0;
  double flux = 1.0;        // background-corrected sum over the disc
  int saturated_pixels = 0;  // disc pixels at or above maxLev
  int link = -1;            // catalogue index, -1 none
  double radius = 0.0;      // predicted position's distance from the optical centre [px]
  double radial_residual = 0.0;  // measured minus predicted radius [px]
  double ddeg = 0.0;        // angle between measured and catalogue direction [deg]
  double daz = 0.0;         // catalogue minus measured azimuth, -180..180 [deg]
  double dev = 0.0;         // catalogue minus measured elevation [deg]
  double predicted_x = 0.0;  // the linked star's pixel [px]
  double predicted_y = 0.0;
};

// A linked mask star: its centre and its catalogue star's true direction at
// the clip instant.
struct LinkedPair {
  double x = 0.0;   // [px]
  double y = 0.0;
  double az = 0.0;  // [deg]
  double ev = 0.0;
};

struct StarData {
  VisibleStars visible;
  MaskPlanes planes;
  std::vector<MaskStar> mask_stars;    // at most kMaskStarCapacity
  std::vector<LinkedPair> pairs;       // LinkedPairs
  std::vector<std::pair<std::int16_t, std::int16_t>> flood_stack;  // reused
};

// Drops all mask stars and linked pairs.
void ClearMaskStars(StarData& data);

// Splits a mask image of profile.cx x profile.cy pixels into the planes;
// candidate pixels (blue & 0xFB == 240) get code 1.
void FillMaskPlanes(const CameraProfile& profile,
                    std::span<const std::uint8_t> mask_bgr, MaskPlanes& planes);

// Fills the planes from the mask image, finds the mask stars (regions of
// candidate pixels, by flood fill with an explicit stack), measures and
// links them, and builds the linked pairs.
void DetectMaskStars(const StarCatalogue& catalogue, const CameraProfile& profile,
                     std::span<const std::uint8_t> mask_bgr, StarData& data);

// The visible star nearest to (ra, dec) within `radius` deg. With `current`
// the nearest, the second nearest is returned; with the second, the third;
// with the third, -1; otherwise the nearest. Returns a catalogue index or -1.
int NearestCatalogueStar(const VisibleStars& visible, double ra, double dec,
                         int current, double radius);

// The link search radius of a profile: vx / W x dlim [deg].
double LinkRadius(const CameraProfile& profile);

// Compares mask star `i` with catalogue star `c`: predicted pixel, ddeg,
// daz, dev, radius and radial residual. Returns the radial residual [px].
double MeasureResiduals(const StarCatalogue& catalogue,
                        const CameraProfile& profile, int c, int i,
                        StarData& data);

// Aperture photometry of mask star `i` on the level plane: background from
// the ring (5 <= r < 7.45 px), flux over the disc (r < 5 px), lgL.
void MeasureBrightness(const CameraProfile& profile, int i, StarData& data);

// The pixel offsets of the photometry apertures, dy outer and dx inner
// ascending.
struct ApertureOffset {
  int dx = 0;
  int dy = 0;
};
std::span<const ApertureOffset> DiscAperture();  // 69 offsets
std::span<const ApertureOffset> RingAperture();  // 108 offsets

// Rebuilds the linked pairs from the linked mask stars.
void BuildLinkedPairs(const StarCatalogue& catalogue,
                      const CameraProfile& profile, StarData& data);

struct ResidualStats {
  int worst = -1;  // linked mask star farthest from its predicted pixel
  double mean_daz = 0.0;  // [deg]
  double mean_dev = 0.0;
  double sd_daz = 0.0;    // about the mean, divided by n
  double sd_dev = 0.0;
};
ResidualStats ResidualStatistics(const StarData& data);

// Moves every link whose daz or dev lies more than two deviations from the
// mean to the next candidate, until it fits or no candidate is left.
void RelinkOutliers(const StarCatalogue& catalogue,
                    const CameraProfile& profile, StarData& data);

// Rebuilds the linked pairs and returns the match summary of the profile
// page: "mask %d  link %d" and, with links, the mean and largest pixel and
// angular residuals and the clip instant.
std::string MatchSummaryText(const StarCatalogue& catalogue,
                             const CameraProfile& profile, StarData& data);
// MatchSummaryText shown in the profile page's status field (headless:
// printed), through the installed Ui.
void ShowMatchSummary(const StarCatalogue& catalogue, const CameraProfile& profile,
                      StarData& data);

}  // namespace mr4
