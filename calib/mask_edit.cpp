#include "calib/mask_edit.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "calib/still_image.h"

namespace mr4 {
namespace {

// Window sums of the brightness (and of brightness times x and y) by
// summed-area tables, so every window costs four look-ups.
class WindowSums {
 public:
  explicit WindowSums(const MaskPicture& mask, bool moments = false)
      : w_(mask.width), h_(mask.height) {
    const std::size_t n = static_cast<std::size_t>(w_ + 1) * (h_ + 1);
    g_.assign(n, 0);
    if (moments) {
      gx_.assign(n, 0);
      gy_.assign(n, 0);
    }
    for (int y = 0; y < h_; ++y) {
      std::int64_t row = 0, row_x = 0, row_y = 0;
      for (int x = 0; x < w_; ++x) {
        const std::int64_t g = mask.Green(x, y);
        row += g;
        g_[At(x + 1, y + 1)] = g_[At(x + 1, y)] + row;
        if (moments) {
          row_x += g * x;
          row_y += g * y;
          gx_[At(x + 1, y + 1)] = gx_[At(x + 1, y)] + row_x;
          gy_[At(x + 1, y + 1)] = gy_[At(x + 1, y)] + row_y;
        }
      }
    }
  }
  struct Window {
    int x0, y0, x1, y1;  // inclusive, clipped
    std::int64_t Count() const { return static_cast<std::int64_t>(x1 - x0 + 1) * (y1 - y0 + 1); }
  };
  Window Around(int x, int y, int half) const {
    return {std::max(0, x - half), std::max(0, y - half), std::min(w_ - 1, x + half),
            std::min(h_ - 1, y + half)};
  }
  std::int64_t Sum(const std::vector<std::int64_t>& t, const Window& r) const {
    return t[At(r.x1 + 1, r.y1 + 1)] - t[At(r.x0, r.y1 + 1)] - t[At(r.x1 + 1, r.y0)] +
           t[At(r.x0, r.y0)];
  }
  // The mean of the window's other pixels (the window without (x, y)).
  double MeanOfOthers(const MaskPicture& mask, int x, int y, int half) const {
    const Window r = Around(x, y, half);
    const std::int64_t n = r.Count() - 1;
    if (n <= 0) return mask.Green(x, y);
    return static_cast<double>(Sum(g_, r) - mask.Green(x, y)) / static_cast<double>(n);
  }
  const std::vector<std::int64_t>& g() const { return g_; }
  const std::vector<std::int64_t>& gx() const { return gx_; }
  const std::vector<std::int64_t>& gy() const { return gy_; }

 private:
  std::size_t At(int x, int y) const { return static_cast<std::size_t>(y) * (w_ + 1) + x; }
  int w_, h_;
  std::vector<std::int64_t> g_, gx_, gy_;
};

void SetSquare(MaskPicture& mask, int x, int y, int half, std::uint8_t bits) {
  for (int yy = std::max(0, y - half); yy <= std::min(mask.height - 1, y + half); ++yy) {
    for (int xx = std::max(0, x - half); xx <= std::min(mask.width - 1, x + half); ++xx) {
      mask.Code(xx, yy) |= bits;
    }
  }
}

void ClearBits(MaskPicture& mask, std::uint8_t bits, bool only_where_all) {
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      std::uint8_t& code = mask.Code(x, y);
      if (!only_where_all || (code & bits) == bits) code &= static_cast<std::uint8_t>(~bits);
    }
  }
}

void MarkTextBand(MaskPicture& mask, const AutoMaskParameters& p) {
  const int first = std::max(p.text_band_top, 0);
  const int end = std::min(p.text_band_top + p.text_band_rows, mask.height);
  for (int y = first; y < end; ++y) {
    for (int x = 0; x < mask.width; ++x) mask.Code(x, y) |= kMaskOptBit;
  }
}

}  // namespace

MaskRule RuleOf(MaskType type, bool paint) {
  switch (type) {
    case MaskType::kDetectionArea: return paint ? MaskRule{0, 0} : MaskRule{0, kMaskOptBit};
    case MaskType::kArea:
      return paint ? MaskRule{0xFF, kMaskAreaBit}
                   : MaskRule{static_cast<std::uint8_t>(~kMaskAreaBit), 0};
    case MaskType::kStar:
      return paint ? MaskRule{0xFF, kMaskStarBits}
                   : MaskRule{static_cast<std::uint8_t>(~kMaskStarBits), 0};
    case MaskType::kOpt:
      return paint ? MaskRule{0xFF, kMaskOptBit}
                   : MaskRule{static_cast<std::uint8_t>(~kMaskOptBit), 0};
  }
  return {};
}

void ApplyBrush(MaskPicture& mask, int x, int y, int size, MaskRule rule) {
  if (size <= 1) {
    if (mask.Inside(x, y)) mask.Code(x, y) = rule.Apply(mask.Code(x, y));
    return;
  }
  const int half = size / 2;
  const int reach = size * size / 3;
  for (int j = -half; j <= half; ++j) {
    for (int i = -half; i <= half; ++i) {
      if (i * i + j * j > reach || !mask.Inside(x + i, y + j)) continue;
      mask.Code(x + i, y + j) = rule.Apply(mask.Code(x + i, y + j));
    }
  }
}

void ApplyLine(MaskPicture& mask, int x1, int y1, int x2, int y2, int size, MaskRule rule) {
  const int dx = x2 - x1, dy = y2 - y1;
  const int steps = std::max(std::abs(dx), std::abs(dy));
  if (steps == 0) {
    ApplyBrush(mask, x1, y1, size, rule);
    return;
  }
  for (int k = 0; k <= steps; ++k) {
    const int x = x1 + static_cast<int>(std::lround(static_cast<double>(dx) * k / steps));
    const int y = y1 + static_cast<int>(std::lround(static_cast<double>(dy) * k / steps));
    ApplyBrush(mask, x, y, size, rule);
  }
}

void ApplyRect(MaskPicture& mask, int x1, int y1, int x2, int y2, MaskRule rule) {
  const int left = std::max(0, std::min(x1, x2)), right = std::min(mask.width - 1, std::max(x1, x2));
  const int bottom = std::max(0, std::min(y1, y2)), top = std::min(mask.height - 1, std::max(y1, y2));
  for (int y = bottom; y <= top; ++y) {
    for (int x = left; x <= right; ++x) mask.Code(x, y) = rule.Apply(mask.Code(x, y));
  }
}

void ApplyAll(MaskPicture& mask, MaskRule rule) {
  ApplyRect(mask, 0, 0, mask.width - 1, mask.height - 1, rule);
}

void AutoAreaMask(MaskPicture& mask, const AutoMaskParameters& p) {
  ClearBits(mask, kMaskAreaBit, false);
  const WindowSums sums(mask);
  std::vector<std::pair<int, int>> dark;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      if (mask.Green(x, y) - sums.MeanOfOthers(mask, x, y, 20) < p.area_level) dark.emplace_back(x, y);
    }
  }
  for (const auto& [x, y] : dark) SetSquare(mask, x, y, p.area_brush, kMaskAreaBit);
  MarkTextBand(mask, p);
}

void AutoCloudMask(MaskPicture& mask, const AutoMaskParameters& p) {
  constexpr std::uint8_t kBits = kMaskAreaBit | kMaskOptBit;
  ClearBits(mask, kBits, true);
  const WindowSums sums(mask);
  std::vector<std::pair<int, int>> bright;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      if (mask.Green(x, y) - sums.MeanOfOthers(mask, x, y, 50) > p.cloud_level) bright.emplace_back(x, y);
    }
  }
  for (const auto& [x, y] : bright) SetSquare(mask, x, y, 4, kBits);
  FilterMaskRegions(mask, kBits, p.largest, false);
  MarkTextBand(mask, p);
}

void AutoStarMask(MaskPicture& mask, const AutoMaskParameters& p) {
  ClearBits(mask, kMaskStarBits, false);
  const WindowSums sums(mask, true);
  std::vector<std::pair<int, int>> stars;
  for (int y = 0; y < mask.height; ++y) {
    for (int x = 0; x < mask.width; ++x) {
      if (mask.Code(x, y) & kMaskAreaBit) continue;
      const WindowSums::Window r = sums.Around(x, y, 5);
      const std::int64_t total = sums.Sum(sums.g(), r);
      if (total <= 0) continue;
      const std::int64_t n = r.Count() - 1;
      const double mean = n > 0 ? static_cast<double>(total - mask.Green(x, y)) / n : 0.0;
      if (mask.Green(x, y) - mean <= p.star_level) continue;
      const double cx = static_cast<double>(sums.Sum(sums.gx(), r)) / total;
      const double cy = static_cast<double>(sums.Sum(sums.gy(), r)) / total;
      if (std::abs(y - cy) + std::abs(x - cx) < 2.0) stars.emplace_back(x, y);
    }
  }
  const MaskRule rule = RuleOf(MaskType::kStar, true);
  for (const auto& [x, y] : stars) {
    // The brush never covers the area mask: a star there is not used.
    const int half = p.star_brush / 2, reach = p.star_brush * p.star_brush / 3;
    for (int j = -half; j <= half; ++j) {
      for (int i = -half; i <= half; ++i) {
        if (p.star_brush > 1 && i * i + j * j > reach) continue;
        if (p.star_brush <= 1 && (i != 0 || j != 0)) continue;
        if (!mask.Inside(x + i, y + j) || (mask.Code(x + i, y + j) & kMaskAreaBit)) continue;
        mask.Code(x + i, y + j) = rule.Apply(mask.Code(x + i, y + j));
      }
    }
  }
  FilterMaskRegions(mask, kMaskStarBits, p.largest, true);
}

void FilterMaskRegions(MaskPicture& mask, std::uint8_t bits, int largest, bool keep_small) {
  const int w = mask.width, h = mask.height;
  std::vector<std::uint8_t> pending(static_cast<std::size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t& code = mask.Code(x, y);
      if ((code & bits) != bits) continue;
      code &= static_cast<std::uint8_t>(~bits);
      pending[static_cast<std::size_t>(y) * w + x] = 1;
    }
  }
  std::vector<std::pair<int, int>> stack, region;
  for (int y0 = 0; y0 < h; ++y0) {
    for (int x0 = 0; x0 < w; ++x0) {
      if (!pending[static_cast<std::size_t>(y0) * w + x0]) continue;
      region.clear();
      stack.assign(1, {x0, y0});
      pending[static_cast<std::size_t>(y0) * w + x0] = 0;
      int min_x = x0, max_x = x0, min_y = y0, max_y = y0;
      while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        region.emplace_back(x, y);
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
        const int nx[] = {x - 1, x + 1, x, x};
        const int ny[] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k) {
          if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
          std::uint8_t& flag = pending[static_cast<std::size_t>(ny[k]) * w + nx[k]];
          if (!flag) continue;
          flag = 0;
          stack.emplace_back(nx[k], ny[k]);
        }
      }
      const int side = std::max(max_x - min_x, max_y - min_y);
      if ((side <= largest) != keep_small) continue;
      for (const auto& [x, y] : region) mask.Code(x, y) |= bits;
    }
  }
}

void ComposeMaskDisplay(const MaskPicture& mask, bool hits, std::span<std::uint8_t> display) {
  const std::size_t n = static_cast<std::size_t>(mask.width) * mask.height;
  for (std::size_t i = 0; i < n && i * 3 + 2 < display.size(); ++i) {
    const int code = mask.bgr[i * 3];
    const int green = mask.bgr[i * 3 + 1];
    const int red = mask.bgr[i * 3 + 2];
    std::uint8_t* out = &display[i * 3];
    auto set = [out](int b, int g, int r) {
      out[0] = static_cast<std::uint8_t>(b);
      out[1] = static_cast<std::uint8_t>(g);
      out[2] = static_cast<std::uint8_t>(r);
    };
    if (code & kMaskAreaBit) {
      const int c = std::min(green + red, 255);
      set((c + 50) / 3, (c + 200) / 3, (c + 50) / 3);
    } else if (code >= 16) {
      set(255, green / 2, green / 2);
    } else if (code & kMaskOptBit) {
      const int c = std::min(green + 20, 255);
      set(c, c, green);
    } else if (red != 0 && hits) {
      set(255, 255, green);
    } else {
      set(green, green, green);
    }
  }
}

std::string MaskReadout(const MaskPicture& mask, const CameraProfile& profile, int x, int y) {
  char state[32];
  if (mask.bgr[(static_cast<std::size_t>(y) * mask.width + x) * 3] != 0) {
    std::snprintf(state, sizeof state, "masked");
  } else {
    std::snprintf(state, sizeof state, "g=%3d r=%3d", mask.Green(x, y), mask.Red(x, y));
  }
  const HorizontalPoint sky = PixelToHorizontal(profile, x, y);
  const EquatorialPoint eq =
      HorizontalToEquatorial(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, sky.az, sky.ev);
  char text[160];
  std::snprintf(text, sizeof text, "x %04d  y %04d  %s\naz %08.4f ev %07.4f\nra %08.4f dc %07.4f",
                x, y, state, sky.az, sky.ev, eq.ra, eq.dec);
  return text;
}

std::filesystem::path EditedMaskPath(const std::filesystem::path& directory,
                                     std::string_view clip_name) {
  return directory / (std::string(clip_name) + "N.BMP");
}

bool WriteEditedMask(const std::filesystem::path& path, const MaskPicture& mask) {
  return WriteStillBmp(path, mask.bgr.first(static_cast<std::size_t>(mask.width) * mask.height * 3),
                       mask.width, mask.height) == ImageStatus::kOk;
}

}  // namespace mr4
