#include "analysis/view_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/measurement.h"
#include "analysis/result_pictures.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "base/error.h"
#include "calib/camera_model.h"
#include "clips/clip_files.h"
#include "platform/file_replace.h"
#include "tables/xml_record.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

int Round(double v) { return static_cast<int>(std::trunc(v + 0.5)); }

// The glyphs of characters 32 .. 126, five columns each with bit 0 the top
// of the seven rows of the letter; the cell adds a blank row above and one
// below.
constexpr std::array<std::array<std::uint8_t, 5>, 95> kGlyphColumns{{
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00},
    {0x00, 0x07, 0x00, 0x07, 0x00}, {0x14, 0x7F, 0x14, 0x7F, 0x14},
    {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00},
    {0x00, 0x1C, 0x22, 0x41, 0x00}, {0x00, 0x41, 0x22, 0x1C, 0x00},
    {0x08, 0x2A, 0x1C, 0x2A, 0x08}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08},
    {0x00, 0x60, 0x60, 0x00, 0x00}, {0x20, 0x10, 0x08, 0x04, 0x02},
    {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31},
    {0x18, 0x14, 0x12, 0x7F, 0x10}, {0x27, 0x45, 0x45, 0x45, 0x39},
    {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E},
    {0x00, 0x36, 0x36, 0x00, 0x00}, {0x00, 0x56, 0x36, 0x00, 0x00},
    {0x08, 0x14, 0x22, 0x41, 0x00}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x51, 0x09, 0x06},
    {0x32, 0x49, 0x79, 0x41, 0x3E}, {0x7E, 0x11, 0x11, 0x11, 0x7E},
    {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41},
    {0x7F, 0x09, 0x09, 0x01, 0x01}, {0x3E, 0x41, 0x41, 0x51, 0x32},
    {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41},
    {0x7F, 0x40, 0x40, 0x40, 0x40}, {0x7F, 0x02, 0x04, 0x02, 0x7F},
    {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E},
    {0x7F, 0x09, 0x19, 0x29, 0x46}, {0x46, 0x49, 0x49, 0x49, 0x31},
    {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x7F, 0x20, 0x18, 0x20, 0x7F},
    {0x63, 0x14, 0x08, 0x14, 0x63}, {0x03, 0x04, 0x78, 0x04, 0x03},
    {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x00},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x7F, 0x00},
    {0x04, 0x02, 0x01, 0x02, 0x04}, {0x40, 0x40, 0x40, 0x40, 0x40},
    {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20},
    {0x38, 0x44, 0x44, 0x48, 0x7F}, {0x38, 0x54, 0x54, 0x54, 0x18},
    {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x0C, 0x52, 0x52, 0x52, 0x3E},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00},
    {0x20, 0x40, 0x44, 0x3D, 0x00}, {0x7F, 0x10, 0x28, 0x44, 0x00},
    {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38},
    {0x7C, 0x14, 0x14, 0x14, 0x08}, {0x08, 0x14, 0x14, 0x18, 0x7C},
    {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C},
    {0x1C, 0x20, 0x40, 0x20, 0x1C}, {0x3C, 0x40, 0x30, 0x40, 0x3C},
    {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00},
    {0x00, 0x00, 0x7F, 0x00, 0x00}, {0x00, 0x41, 0x36, 0x08, 0x00},
    {0x08, 0x04, 0x08, 0x10, 0x08},
}};

// Letters whose tails hang below the line sit two rows lower in the cell.
bool HasDescender(char c) { return c == 'g' || c == 'j' || c == 'p' || c == 'q' || c == 'y'; }

std::uint8_t* PixelAt(DisplayPicture& p, int x, int y) {
  return p.bgr.data() + (static_cast<std::size_t>(y) * p.width + x) * 3;
}

bool SameSize(const ImageBuffer* image, int width, int height) {
  return image && image->width == width && image->height == height &&
         image->pixels.size() >= static_cast<std::size_t>(width) * height * 3;
}

// A horizontal or vertical run of pixels, clipped to the picture.
void HorizontalLine(DisplayPicture& p, int x0, int x1, int y, PlotColour colour) {
  for (int x = x0; x <= x1; ++x) PutPixel(p, x, y, colour);
}
void VerticalLine(DisplayPicture& p, int x, int y0, int y1, PlotColour colour) {
  for (int y = y0; y <= y1; ++y) PutPixel(p, x, y, colour);
}

void DrawMaskOverlays(const ViewPictureSource& s, const ViewSwitches& sw, DisplayPicture& p) {
  const bool with_still = SameSize(s.still, p.width, p.height);
  if (!SameSize(s.mask, p.width, p.height)) return;
  const std::uint8_t* mask = s.mask->pixels.data();
  const std::uint8_t* still = with_still ? s.still->pixels.data() : p.bgr.data();
  const std::size_t count = static_cast<std::size_t>(p.width) * p.height;
  if (sw.star_mask) {
    for (std::size_t i = 0; i < count; ++i) {
      if (mask[i * 3] <= 15) continue;
      std::uint8_t* d = p.bgr.data() + i * 3;
      const std::uint8_t green = still[i * 3 + 1], red = still[i * 3 + 2];
      d[0] = 255;
      d[1] = green / 2;
      d[2] = red / 2;
    }
  }
  if (sw.area) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t code = mask[i * 3];
      if (!(code & 6)) continue;
      std::uint8_t* d = p.bgr.data() + i * 3;
      const int blue = still[i * 3], green = still[i * 3 + 1], red = still[i * 3 + 2];
      if (code & 2) {
        d[0] = static_cast<std::uint8_t>((blue + 50) / 3);
        d[1] = static_cast<std::uint8_t>((green + 200) / 3);
        d[2] = static_cast<std::uint8_t>((red + 50) / 3);
      }
      if (code & 4) {
        const std::uint8_t c = static_cast<std::uint8_t>(std::min(blue + 20, 255));
        d[0] = c;
        d[1] = c;
        d[2] = static_cast<std::uint8_t>(red);
      }
    }
  }
  if (sw.hit) {
    int min_x = p.width, max_x = -1, min_y = p.height, max_y = -1;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * p.width + x;
        const std::uint8_t red = mask[i * 3 + 2];
        if (red == 0) continue;
        std::uint8_t* d = p.bgr.data() + i * 3;
        d[0] = 255;
        d[1] = 255;
        if (red > 253) {
          min_x = std::min(min_x, x);
          max_x = std::max(max_x, x);
          min_y = std::min(min_y, y);
          max_y = std::max(max_y, y);
        }
      }
    }
    if (s.analysed) {
      if (s.trail) {
        DrawTrailLine(p, s.trail->x1, s.trail->y1, s.trail->x2, s.trail->y2,
                      s.trail->object_class);
      }
    } else if (max_x >= 0) {
      const int lines = p.width > 1000 ? 2 : 1;
      for (int k = 0; k < lines; ++k) {
        const int x0 = std::max(0, min_x - 15 + k), x1 = std::min(p.width - 1, max_x + 15 - k);
        const int y0 = std::max(0, min_y - 15 + k), y1 = std::min(p.height - 1, max_y + 15 - k);
        HorizontalLine(p, x0, x1, y0, kHitBoxColour);
        HorizontalLine(p, x0, x1, y1, kHitBoxColour);
        VerticalLine(p, x0, y0, y1, kHitBoxColour);
        VerticalLine(p, x1, y0, y1, kHitBoxColour);
      }
    }
  }
}

void PlotDirection(const CameraProfile& profile, DisplayPicture& p, double az, double ev,
                   bool major) {
  const PixelPosition at = HorizontalToPixel(profile, az, ev);
  if (at.inside) PlotPoint(p, at.x, at.y, PlotColourOf(major ? 8 : 2));
}

// The texts and crosses of the detections of the shown field.
void DrawDetections(const ViewPictureSource& s, const CameraProfile* profile,
                    DisplayPicture& p) {
  const AnalysisContext& c = *s.context;
  const int dxoffset = profile ? profile->p_u4_dxoffset : 0;
  char line[128];
  std::snprintf(line, sizeof line, "Frame=%d Sample=%d dxoffset=%d", s.frame_number,
                c.field_counter, dxoffset);
  DrawText(p, 0, kFrameTextRow, line, kViewTextColour, 2);
  const int field = std::min(std::max(0, c.field_counter + dxoffset), std::max(0, s.last_field));
  if (!c.detections || field >= kMaxFields) return;
  const int count = c.detection_count[field];
  for (int i = 0; i < count; ++i) {
    const Detection& d = c.detections[std::size_t(field) * kDetectionsPerField + i];
    std::snprintf(line, sizeof line, "sno=%03d o=%02d x=%04.1f y=%04.1f L=%.0f", d.field, i,
                  d.x, d.y, d.Lsum);
    DrawText(p, 0, kDetectionTextRow + kDetectionTextStep * i, line, kViewTextColour, 2);
    const int ix = Round(d.x), iy = Round(d.y);
    for (int k = -3; k <= 3; ++k) {
      PutPixel(p, ix + k, iy, kViewTextColour);
      PutPixel(p, ix, iy + k, kViewTextColour);
    }
    DrawText(p, ix + 5, p.height - 1 - iy, std::to_string(i + 1), kViewTextColour, 2);
  }
}

}  // namespace

PlotColour PlotColourOf(int index) {
  static constexpr std::array<PlotColour, 9> kColours{{{0, 0, 0},
                                                       {255, 255, 255},
                                                       {200, 200, 200},
                                                       {150, 150, 150},
                                                       {100, 100, 100},
                                                       {0, 255, 255},
                                                       {0, 200, 200},
                                                       {255, 255, 0},
                                                       {200, 200, 0}}};
  return kColours[std::clamp(index, 0, 8)];
}

void PutPixel(DisplayPicture& p, int x, int y, PlotColour colour) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
  std::uint8_t* d = PixelAt(p, x, y);
  d[0] = colour.blue;
  d[1] = colour.green;
  d[2] = colour.red;
}

void PlotPoint(DisplayPicture& p, double x, double y, PlotColour colour) {
  PutPixel(p, static_cast<int>(std::trunc(x + 0.5)), static_cast<int>(std::trunc(y + 0.5)),
           colour);
}

std::uint8_t GlyphRow(char c, int r) {
  const int code = static_cast<unsigned char>(c);
  if (code < 32 || code > 126 || r < 0 || r >= kGlyphHeight) return 0;
  const int bit = r - (HasDescender(c) ? 2 : 1);
  if (bit < 0 || bit > 6) return 0;
  std::uint8_t row = 0;
  const auto& columns = kGlyphColumns[code - 32];
  for (int col = 0; col < kGlyphWidth; ++col) {
    if (columns[col] & (1 << bit)) row |= static_cast<std::uint8_t>(0x10 >> col);
  }
  return row;
}

void DrawText(DisplayPicture& p, int left, int top, std::string_view text, PlotColour colour,
              int scale) {
  scale = std::max(scale, 1);
  int x0 = left;
  for (char c : text) {
    for (int r = 0; r < kGlyphHeight; ++r) {
      const std::uint8_t row = GlyphRow(c, r);
      if (!row) continue;
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (!(row & (0x10 >> col))) continue;
        for (int dy = 0; dy < scale; ++dy) {
          for (int dx = 0; dx < scale; ++dx) {
            const int screen_row = top + r * scale + dy;
            PutPixel(p, x0 + col * scale + dx, p.height - 1 - screen_row, colour);
          }
        }
      }
    }
    x0 += kGlyphAdvance * scale;
  }
}

void DrawAzimuthGrid(const CameraProfile& profile, DisplayPicture& p) {
  for (int az = 0; az <= 350; az += 10) {
    for (int ev = 0; ev <= 89; ++ev) PlotDirection(profile, p, az, ev, az % 90 == 0);
  }
  for (int ev = 0; ev <= 80; ev += 10) {
    for (int az = 0; az <= 359; ++az) PlotDirection(profile, p, az, ev, ev % 30 == 0);
  }
}

void DrawEquatorialGrid(const CameraProfile& profile, DisplayPicture& p) {
  const auto plot = [&](int ra, int dec, bool major) {
    const HorizontalPoint h =
        EquatorialToHorizontal(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, ra, dec);
    PlotDirection(profile, p, h.az, h.ev, major);
  };
  for (int ra = 0; ra <= 350; ra += 10) {
    for (int dec = -89; dec <= 89; ++dec) plot(ra, dec, ra % 90 == 0);
  }
  for (int dec = -90; dec <= 80; dec += 10) {
    for (int ra = 0; ra <= 359; ++ra) plot(ra, dec, dec % 30 == 0);
  }
}

void DrawClickMark(DisplayPicture& p, double x, double y, int number) {
  const int ix = Round(x), iy = Round(y);
  for (int k = -3; k <= 3; ++k) {
    PutPixel(p, ix + k, iy, kViewTextColour);
    PutPixel(p, ix, iy + k, kViewTextColour);
  }
  DrawText(p, ix + 5, p.height - 1 - iy, std::to_string(number), kClickNumberColour);
}

void ComposeViewPicture(const ViewPictureSource& s, const ViewSwitches& sw,
                        std::vector<std::uint8_t>& bgr) {
  const int width = std::max(s.width, 0), height = std::max(s.height, 0);
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 3;
  bgr.resize(bytes);
  if (s.picture.size() >= bytes) {
    std::memcpy(bgr.data(), s.picture.data(), bytes);
  } else {
    std::fill(bgr.begin(), bgr.end(), std::uint8_t{0});
  }
  if (bytes == 0) return;
  DisplayPicture p{bgr, width, height};
  if (sw.star_mask || sw.area || sw.hit) DrawMaskOverlays(s, sw, p);
  const CameraProfile* profile = s.profile;
  if (profile && profile->cx == width && profile->cy == height) {
    if (sw.azev) DrawAzimuthGrid(*profile, p);
    if (sw.radec) DrawEquatorialGrid(*profile, p);
    if (sw.stars && s.visible && s.context) {
      RefreshVisibleStars(*profile, *s.visible, [&](double x, double y, float mag) {
        DrawStarMarker(*s.context, p, x, y, mag);
      });
    }
  }
  if (sw.trail && s.context && s.frame_number > 0) DrawDetections(s, profile, p);
  if (sw.clicks && s.clicks) {
    for (std::size_t i = 0; i < s.clicks->size(); ++i) {
      const Click& k = (*s.clicks)[i];
      DrawClickMark(p, k.x, k.y, static_cast<int>(i) + 1);
    }
  }
}

double DistanceToHeight(double lat, double station_height_m, double ev, double height_km) {
  const double h0 = station_height_m / 1000.0;
  const double l = EarthRadiusKm(lat) + h0;
  const double d = height_km - h0;
  const double se = std::sin(ev * kDegree);
  const double reach = l * l * se * se + 2 * l * d + d * d;
  if (reach < 0) return 0.0;  // the line of sight never meets that height
  // s runs along the line of sight; negative when the point lies behind
  // the observer (a height below the station seen looking up). By the
  // sine rule in the triangle of the Earth's centre, the station and the
  // point, |s| = sin v (l + d) / cos ev with v the central angle; |s|
  // keeps its precision at the zenith, where that quotient is 0 / 0.
  // Looking down to a height below the station the line meets it twice:
  // the nearer point is the one seen.
  const double s = d < 0 && se < 0 ? -l * se - std::sqrt(reach) : std::sqrt(reach) - l * se;
  return std::abs(s);
}

ViewReadout ReadoutAt(const CameraProfile& profile, int x, int y, int blue, double height_km,
                      int click_mode) {
  ViewReadout r;
  r.horizontal = PixelToHorizontal(profile, x, y);
  r.equatorial = HorizontalToEquatorial(profile.ClipMjdTt, profile.ClipLst, profile.p_lat,
                                        r.horizontal.az, r.horizontal.ev);
  r.magnitude = blue >= 1 ? profile.ZeroPoint - 2.5 * std::log10(blue) : profile.ZeroPoint;
  char text[256];
  std::snprintf(text, sizeof text, "x %04d  y %04d  b %03d m %.1f\naz %08.4f ev %07.4f\nra %08.4f dc %07.4f",
                x, y, blue, r.magnitude, r.horizontal.az, r.horizontal.ev, r.equatorial.ra,
                r.equatorial.dec);
  r.first = text;
  if (click_mode == 1 || click_mode == 2) {
    std::snprintf(text, sizeof text, "Pos%d SETTING click!", click_mode);
  } else {
    r.distance_km = DistanceToHeight(profile.p_lat, double(profile.p_alt) + profile.p_gioidh,
                                     r.horizontal.ev, height_km);
    r.absolute_magnitude =
        r.distance_km > 10 ? r.magnitude - 5 * std::log10(r.distance_km / 100) : 0.0;
    std::snprintf(text, sizeof text, "D=%.2fkm(H:%.0fkm) am=%.1f", r.distance_km, height_km,
                  r.absolute_magnitude);
  }
  r.second = text;
  return r;
}

Click ClickAt(const CameraProfile& profile, double x, double y) {
  const HorizontalPoint h = PixelToHorizontal(profile, x, y);
  const EquatorialPoint e =
      HorizontalToEquatorial(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, h.az, h.ev);
  Click k;
  k.x = static_cast<float>(x);
  k.y = static_cast<float>(y);
  k.ra = static_cast<float>(e.ra);
  k.dec = static_cast<float>(e.dec);
  k.az = static_cast<float>(h.az);
  k.ev = static_cast<float>(h.ev);
  return k;
}

void SetObjectEndPoint(const Table& clips, int clip_row, Table& objects, int object_row, int end,
                       const Click& click, float height_km) {
  const bool first = end == 1;
  {
    std::lock_guard lock(objects.lock());
    objects.SetFloat(object_row, first ? obj::kX1 : obj::kX2, click.x);
    objects.SetFloat(object_row, first ? obj::kY1 : obj::kY2, click.y);
    objects.SetFloat(object_row, first ? obj::kAz1 : obj::kAz2, click.az);
    objects.SetFloat(object_row, first ? obj::kEv1 : obj::kEv2, click.ev);
    objects.SetFloat(object_row, first ? obj::kRa1 : obj::kRa2, click.ra);
    objects.SetFloat(object_row, first ? obj::kDc1 : obj::kDc2, click.dec);
    objects.SetFloat(object_row, first ? obj::kH1 : obj::kH2, height_km);
  }
  GroundPoint(clips, clip_row, objects, object_row, first ? 1 : 2);
}

HeightTexts ApplyObjectHeights(const Table& clips, int clip_row, Table& objects, int object_row,
                               float h1, float h2) {
  {
    std::lock_guard lock(objects.lock());
    objects.SetFloat(object_row, obj::kH1, h1);
    objects.SetFloat(object_row, obj::kH2, h2);
  }
  GroundPoint(clips, clip_row, objects, object_row, 1);
  GroundPoint(clips, clip_row, objects, object_row, 2);
  std::lock_guard lock(objects.lock());
  const auto f = [&](int column) { return double(objects.Float(object_row, column)); };
  const double length = f(obj::kLen);
  double entry = 0.0;
  if (length > 1) {
    entry = std::asin(std::clamp((f(obj::kH1) - f(obj::kH2)) / length, -1.0, 1.0)) / kDegree;
  }
  char text[160];
  HeightTexts t;
  std::snprintf(text, sizeof text, "lng=%.4f lat=%.4f, D=%.1fkm, GD=%.1fkm ", f(obj::kLng1),
                f(obj::kLat1), f(obj::kDist1), f(obj::kGd1));
  t.point1 = text;
  std::snprintf(text, sizeof text, "lng=%.4f lat=%.4f, D=%.1fkm, GD=%.1fkm  (ev@1 = %.1f)",
                f(obj::kLng2), f(obj::kLat2), f(obj::kDist2), f(obj::kGd2), entry);
  t.point2 = text;
  return t;
}

bool ChangeDxoffset(CameraProfile& profile, const Table& clips, int clip_row, int delta) {
  profile.p_u4_dxoffset += delta;
  if (clip_row < 0 || !(clips.Int(clip_row, clip::kMT) & KindBit(kKindResult))) return true;
  const std::filesystem::path path =
      std::filesystem::path(std::string(clips.Text(clip_row, clip::kDirectory))) /
      (std::string(clips.Text(clip_row, clip::kClipName)) + "A.XML");
  std::optional<std::string> text = ReadRecordText(path, kResultFileMaxBytes);
  if (!text) {
    ShowError("Cannot read %s", path.c_str());
    return false;
  }
  if (!ReplaceIntValue(&*text, "dxoffset", profile.p_u4_dxoffset)) {
    ShowError("%s has no dxoffset", path.c_str());
    return false;
  }
  if (!ReplaceFileContent(path, *text)) {
    ShowError("Cannot write %s", path.c_str());
    return false;
  }
  return true;
}

bool AppendClick(std::vector<Click>& clicks, const Click& click) {
  if (clicks.size() > static_cast<std::size_t>(kMaxClicks - 2)) return false;
  clicks.push_back(click);
  return true;
}

}  // namespace mr4
