// The fit switches of the profile adjustment as the settings keep them
// (AP.p_vxON ...), for the desktop's "adj pos all" and `mr4 calibrate`.
#pragma once

#include "app/settings.h"
#include "calib/profile_fit.h"

namespace mr4 {

inline FitSwitches FitSwitchesFromSettings(const Settings& s) {
  FitSwitches f;
  f.vx = s.p_vxON != 0;
  f.yx = s.p_yxON != 0;
  f.dx = s.p_dxON != 0;
  f.dy = s.p_dyON != 0;
  f.k4 = s.p_k4ON != 0;
  f.k2 = s.p_k2ON != 0;
  return f;
}

}  // namespace mr4
