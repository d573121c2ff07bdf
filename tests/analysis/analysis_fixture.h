// A small analysis context for tests: W x H, background 0, previous frame 0,
// nothing masked, band work on the caller's thread.
#pragma once

#include <cstring>
#include <memory>

#include "analysis/analysis_context.h"

namespace mr4::testing {

inline std::unique_ptr<AnalysisContext> SmallContext(int w, int h,
                                                     bool interlaced = false) {
  auto c = std::make_unique<AnalysisContext>();
  AllocateAnalysisContext(*c, 0);
  c->width = c->clip.width = w;
  c->height = c->clip.height = h;
  c->clip.interlaced = interlaced ? 1 : 0;
  c->line_step = interlaced ? 2 : 1;
  c->min_region = interlaced ? 1 : 2;
  c->saturation = 255;
  c->noise_level = 255;  // the frame-to-frame rule lights nothing
  c->params.dlo = 0;
  return c;
}

inline void SetPixel(AnalysisContext& c, int x, int y, int value) {
  c.current[y * c.width + x] = static_cast<std::uint8_t>(value);
}

}  // namespace mr4::testing
