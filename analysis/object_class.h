// Changing the class of analysed objects after their run: classifying and
// associating an object again with the current thresholds, doing it for
// every clip, choosing a shower or an extra class by hand, and saving the
// clip's result. The desktop's Class page and the change-class dialog call
// these; they need no user interface.
//
// Context 0 and the user-interface thread: the current clip is the one
// MakeClipCurrent opened, and its profile is the current profile.
#pragma once

#include <functional>
#include <string_view>

#include "analysis/analysis_context.h"

namespace mr4 {

// Makes the context the holder of clip row `clip_row` for classifying: its
// clip row, and the profile recorded in the row (the association's site and
// instant). The detection parameters, maxdps among them, stay the
// context's own.
void LoadClipForClassing(AnalysisContext& c, int clip_row);

// Classifies object row `object_row` again (ClassifyObject) and associates
// it with every shower; with a shower found, the start's ground point and
// the trajectory follow, as after a run. The clip's summary (class, mag,
// sec, cdegmax, avmin) is made again from its objects.
void ReclassifyObject(AnalysisContext& c, int clip_row, int object_row);

// The save of a clip's result: the current profile goes back into clip row
// `clip_row`, the result file is rewritten with the clip's trail, the media
// text and flags name the result file and the clip's `profile` (and the
// current profile's name) becomes "<clip_name>A.XML". False when the file
// could not be written (said); the rows are changed all the same.
bool SaveClipResult(AnalysisContext& c, int clip_row);

// Every existing clip row in row order: opened as the current clip, each of
// its objects in chain order made current and reclassified, then the
// result saved. `after_object` (may be empty) is told the clip row after
// each object. Returns the number of clips whose result was saved; the
// last clip stays current.
int ReclassifyAllClips(AnalysisContext& c,
                       const std::function<void(int clip_row)>& after_object = {});

// How a hand choice of a shower ended.
enum class ShowerChoice {
  kNoObject,       // no current object: nothing changed
  kNotSelectable,  // the radiant does not fit the object: nothing changed
  kChosen,         // class, manual and sel set; the association refused it
  kAssociated,     // and the association took it: heights and trajectory
};

// The user chose shower row `shower_row` for object row `object_row` of
// clip row `clip_row` (the current clip). Any row but 0 must pass
// IsShowerSelectable; then the object's `manual` = 1, `class` = the
// shower's code, the shower's `sel` = 1, and the association with that
// shower alone runs (row 0, the sporadic entry, is never associated); when
// it takes the shower, the start's ground point and the trajectory follow.
// The clip's summary is made again and the result file rewritten.
ShowerChoice ChooseShower(AnalysisContext& c, int clip_row, int object_row, int shower_row);

// The user gave object row `object_row` of clip row `clip_row` the extra
// class `name`: `manual` = 2, `class` = name; the clip's summary is made
// again and the result file rewritten. False when there is no such object
// or the file could not be written (said).
bool ChooseExtraClass(AnalysisContext& c, int clip_row, int object_row, std::string_view name);

// The manual values of an object.
inline constexpr int kManualShower = 1;
inline constexpr int kManualExtraClass = 2;

}  // namespace mr4
