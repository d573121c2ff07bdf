// Trail reduction: after the frame loop the run's tracks become objects
// (great-circle fit, outlier rejection, smoothing along the circle,
// velocities, start, middle and end points), each object is classified and
// offered to the shower association, and the run's summary goes into the
// clip row. Also the tidying of a finished run's objects and the removal of
// one object with its track.
//
// Runs on the run's thread; OBJ rows are appended and changed under the
// object table's lock (held only while this module touches the rows: the
// shower association and the ground point are called without it); only the
// clip's own CLIP row is written. Velocities that cannot be computed (no
// time between samples) are -1.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

class Table;

// The whole reduction of a run; it links the tracks itself first, appends
// one OBJ row per track at the end of the clip's chain (chain order = track
// order), writes the clip row's summary and leaves the seconds since
// `run_start` in `elapsed_seconds`. With "AP.a_log" on, the trail log gets
// every track ("Cannot open %s" when it cannot be created).
void ReduceRun(AnalysisContext& c);

// Least squares of fit_angle on fit_time over entries lo .. hi, evaluated
// at t; `rms` receives the root-mean-square residual.
double LocalLinearFit(const AnalysisContext& c, int lo, int hi, double t, double* rms);

// Writes the `class` of object row `row` from its duration, pixel sum,
// start velocity, net motion (start to end over the duration; under a
// pixel is none) and fit residual, against the classification settings and context 0's maxdps.
// Takes the table's lock.
void ClassifyObject(Table& objects, int row);

// After the reduction: when some object of the clip is a meteor (class
// not beginning with "_"), every non-meteor object is removed.
void TidyObjects(AnalysisContext& c);

// Unlinks OBJ row `object_row` from the clip's chain, removes its track
// from the track store (when the store holds this clip's tracks), deletes
// the row, decreases the clip's `o` and makes the clip's first object the
// current one. A row that the chain does not reach is fatal ("oline link
// broken").
void RemoveObject(AnalysisContext& c, int object_row);

}  // namespace mr4
