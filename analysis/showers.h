// Shower association: the shower table made ready for a year, the tests of
// one object against one shower (activity, radiant of date with drift and
// zenith attraction, horizon, direction, distance from the trail's great
// circle, speed), the association itself, the manual-selection test of the
// class page, and the single-station trajectory of an associated meteor.
//
// The shower table's working columns (dsol, dR, dvg%, vgc, sel, valid) are
// diagnostic and written without a lock by whichever run tests a shower.
// OBJ cells are read and written under the object table's lock, which these
// functions take themselves: call them without holding it. The settings
// "AP.c_ddays", "AP.c_Nr" and "AP.c_Nv" are read at every call.
// Angles in degrees, speeds in km/s, heights and distances in km.
#pragma once

#include "analysis/analysis_context.h"

namespace mr4 {

// Makes a freshly read shower table ready for `year` (the "AP.Y" setting):
// every shower takes part and gets its dates; row 0 is the sporadic entry.
void PrepareShowerTable(int year);
// Fills shower row `row`'s "M/D1", "M/D2", "M/Dp" columns ("%02d/%02d", the
// days of `year` on which the Sun reaches sol1, sol2 and solp).
void FillShowerDates(int row, int year);

// Tests object row `object_row` against shower row `shower` (-1: every
// shower) with the context's profile and clip instant; 1 when a shower was
// assigned: its code becomes the class, the start's height and ground
// point, dr, dv, Vo and Voshower are written, and the shower's corrected
// radiant is kept in c.shower_ra, c.shower_dec. Each test goes into the
// trail log when it is open.
int AssociateShower(AnalysisContext& c, int object_row, int shower);
// 1 when shower row `shower_row`'s radiant fits the object, for the class
// page: the shower takes part, is active, its radiant is above the horizon,
// behind the trail's start and within "AP.c_Nr" x sdr of its great circle.
// No speed test; writes nothing. Uses the current clip's profile.
int IsShowerSelectable(int object_row, int shower_row);
// The trajectory of an associated meteor, after AssociateShower and the
// start's ground point: flight direction (azL1, evL1), end point (lng2,
// lat2, h2, dist2, gd2), length and ground speed. Returns GV, or 5 when the
// geometry gives no end point: the flight runs along the end's line of
// sight (end columns untouched), or the bearings do not cross (lng2, lat2,
// h2, dist2, gd2 set to -1).
double EstimateTrajectory(AnalysisContext& c, int object_row);
// Makes an object (-1: none) the current object of context 0 and fills the
// shower table's working columns for it: every row's dsol at the current
// clip's solar longitude, and the object's values on the rows of its class.
void SelectCurrentObject(int object_row);


}  // namespace mr4
