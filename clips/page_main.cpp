#include "clips/page_main.h"

namespace mr4 {

CPageMain::CPageMain(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kMain, scale, parent) {}

}  // namespace mr4
