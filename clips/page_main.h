// The Main page CPageMain: the clip directories, the date range, the clip
// list of the scan and the object list of the current clip.
#pragma once

#include "app/main_window.h"

namespace mr4 {

class CPageMain final : public CPage {
 public:
  explicit CPageMain(const LayoutScale& scale, QWidget* parent = nullptr);
};

}  // namespace mr4
