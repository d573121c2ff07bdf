// Measurement of trail samples: the time and magnitude of a sample, its
// direction in horizontal and equatorial coordinates through the context's
// camera profile, the way back from the sky into the frame, and the
// single-station ground point of a trail end at an assumed height.
//
// All samples of a clip use the clip's instant (the trigger time of its
// capture record). Angles in degrees, heights and distances in km, pixel y
// counted from the bottom of the frame.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

class Table;

// Seconds from the trigger: field / field rate - head time.
double SampleTime(const AnalysisContext& c, int field);
// ZeroPoint - 2.5 log10(Lsum); the ZeroPoint itself below Lsum 1.
double SampleMagnitude(const CameraProfile& profile, double Lsum);
// Fills the sample's az, ev, ra, dec from its x, y.
void MeasureSample(const AnalysisContext& c, Detection& sample);

struct FramePoint {
  double az = 0, ev = 0, x = 0, y = 0;
};
// A sky position (ra, dec of date) carried into the frame.
FramePoint ProjectToFrame(const AnalysisContext& c, double ra, double dec);

// The ground point of object row `object_row` of `objects` for the station
// of clip row `clip_row`: end 1 the start point, otherwise the end point.
// Writes that end's lng, lat, h, dist and gd columns; returns the ground
// distance. A negative height stands for the default height of that end
// ("AP.a_km1", "AP.a_km2"). Takes the object table's lock.
double GroundPoint(const Table& clips, int clip_row, Table& objects, int object_row,
                   int end);

}  // namespace mr4
