#include "analysis/reduction.h"

#include <algorithm>

#include "analysis/detector.h"

namespace mr4 {

void ReduceRun(AnalysisContext& c) {
  c.field_counter = std::min(c.field_counter, 4005);
  c.fields_processed = c.field_counter;
  LinkTracks(c, c.field_counter - 1);
  c.track_clip_row = c.clip_row;
}

double LocalLinearFit(const AnalysisContext& c, int lo, int, double, double* rms) {
  if (rms) *rms = 0;
  return c.fit_angle[lo];
}

void ClassifyObject(Table&, int) {}
void TidyObjects(AnalysisContext&) {}
void RemoveObject(AnalysisContext&, int) {}

}  // namespace mr4
