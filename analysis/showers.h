// Shower association: the shower table made ready for a year, the tests of
// one object against one shower (activity, radiant of date with drift and
// zenith attraction, horizon, direction, distance from the trail's great
// circle, speed), the association itself, the manual-selection test of the
// class page, and the single-station trajectory of an associated meteor.
//
// The shower table's working columns (dsol, dR, dvg%, vgc, sel, valid) are
// diagnostic and written without a lock by whichever run tests a shower.
// Angles in degrees, speeds in km/s, heights in km.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

// Makes a freshly read shower table ready for `year` (the "AP.Y" setting).
void PrepareShowerTable(int year);
// Fills shower row `row`'s date columns for `year`.
void FillShowerDates(int row, int year);

// Tests object row `object_row` against shower row `shower` (-1: every
// shower); 1 when a shower was assigned (its code becomes the class).
int AssociateShower(AnalysisContext& c, int object_row, int shower);
// 1 when shower row `shower_row`'s radiant fits the object (context 0).
int IsShowerSelectable(int object_row, int shower_row);
// The trajectory of an associated meteor; its ground speed, or 5 when the
// geometry gives no end point.
double EstimateTrajectory(AnalysisContext& c, int object_row);
// Makes an object the current object of context 0 and fills the shower
// table's working columns for it.
void SelectCurrentObject(int object_row);

}  // namespace mr4
