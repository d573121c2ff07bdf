// What the Ground Map and Trail Map pages draw: the objects switched on for
// the maps through their shower or extra class, the counts of the loaded
// objects per shower and per class, and the ground map's plot choices (the
// profiles whose fields of view are outlined, the fill switch). The Plot
// page sets them; the map pages read them. No user interface is needed.
//
// The marks live in the tables: `CLIP` "disp" (the clip is on the maps:
// kMapAllOn after "all disp", 1 after a shower or class choice, 0 off),
// `OBJ` "sel" (the object is drawn), the shower and extra-class rows'
// "disp" and "cnt".
//
// User-interface thread only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "maps/ground_map_view.h"
#include "maps/trail_map.h"
#include "calib/camera_profile.h"

namespace mr4 {

// The "disp" of a clip and the "sel" of an object switched on by "all disp".
inline constexpr int kMapAllOn = 1023;

// Line 0 of the plot's profile list: the current profile.
inline constexpr char kCurrentProfileLine[] = "Current Profile";

// The ground map's plot choices.
struct GroundMapPlot {
  // Line 0 kCurrentProfileLine, then one file name of the home's profile
  // folder per line.
  std::vector<std::string> profiles{kCurrentProfileLine};
  // Parallel to `profiles`: the line is selected.
  std::vector<bool> selected{false};
  // One redraw of the ground map fills the outlines.
  bool fill = false;
};

struct MapDisplayState {
  GroundMapPlot ground;
  // The shower row last chosen in the plot's shower list, -1 after each
  // count; the trail map draws it white.
  int selected_shower = -1;
};

MapDisplayState& MapDisplay();

// Sets "cnt" of every shower and extra-class row to 0, then counts every
// existing object that has a class: on the first existing shower row whose
// "code" is the class, else on the first existing extra-class row whose
// "ecls" is it. An object without a class counts nowhere.
void CountObjectsPerClass();

// Switches shower row `shower_row` over: its "disp" becomes 0 when it was
// not 0, else 1, and the new value goes to "sel" of every object and
// "disp" of every clip whose class is the shower's code. Returns the new
// value; -1 (nothing changed) for a row that does not exist.
int ToggleShowerDisplay(int shower_row);
// The same for extra-class row `class_row` and its "ecls".
int ToggleExtraClassDisplay(int class_row);

// "all disp" (on) and "all off": every existing clip's "disp" and the
// "sel" of every object of its chain become kMapAllOn or 0, every shower
// row in use and every extra-class row gets "disp" 1 or 0.
void SetAllMapDisplay(bool on);

// The profile files of folder `folder` that the plot lists: every regular
// file whose name ends in ".XML" (in any case), by name.
std::vector<std::string> ListPlotProfiles(const std::filesystem::path& folder);

// Refills the plot's profile list: line 0, then ListPlotProfiles of the
// home's profile folder; no line selected.
void ReloadPlotProfiles();

// What the maps draw of the tables, for the map pages and the headless
// map commands alike.
//
// The trail map's clip of clip row `row`: its name, time and site.
ChartClip ChartClipOfRow(int row);
// The ground map's outline of `profile`'s field of view (`current`: the
// current profile's, with `fill` and `lines` as the plot's switches).
GroundMapProfile ProfileOutline(const CameraProfile& profile, bool current, bool fill,
                                int lines);
// The ground tracks of the objects switched on for the maps and of the
// current object, and the caption: the current clip's name, else the
// clip date of `current`.
void AddGroundTracksAndCaption(const CameraProfile& current, GroundMapInput& in);

// The trail map's chart and switches from the settings, for a chart of
// `width` x `height` pixels at layout scale `horizontal` x `vertical`.
void SetTrailMapSettings(int width, int height, double horizontal, double vertical,
                         TrailMapInput& in);
// The ground map's view, switches and outline heights from the settings,
// for a picture of `width` x `height` pixels.
void SetGroundMapSettings(int width, int height, GroundMapInput& in);

}  // namespace mr4
