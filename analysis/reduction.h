// Trail reduction: after the frame loop the run's tracks become objects
// (great-circle fit, outlier rejection, smoothing along the circle,
// velocities, start, middle and end points), each object is classified and
// offered to the shower association, and the run's summary goes into the
// clip row. Also the tidying of a finished run's objects and the removal of
// one object with its track.
//
// Runs on the run's thread; OBJ rows are appended and changed under the
// object table's lock; only the clip's own CLIP row is written.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

class Table;

// The whole reduction of a run; it links the tracks itself first.
void ReduceRun(AnalysisContext& c);

// Least squares of fit_angle on fit_time over entries lo .. hi, evaluated
// at t; `rms` receives the root-mean-square residual.
double LocalLinearFit(const AnalysisContext& c, int lo, int hi, double t, double* rms);

// Writes the `class` of object row `row` from its duration, pixel sum,
// start velocity and fit residual.
void ClassifyObject(Table& objects, int row);

// After the reduction: when some object of the clip is a meteor (class
// not beginning with "_"), every non-meteor object is removed.
void TidyObjects(AnalysisContext& c);

// Unlinks OBJ row `object_row` from the clip's chain, removes its track
// from the track store, and deletes the row.
void RemoveObject(AnalysisContext& c, int object_row);

}  // namespace mr4
