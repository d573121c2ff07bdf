// The fifteen column layouts of the table list views: for each list, its
// table, placement, page messages, sort mode and, per entry, the table column
// shown, whether it is shown, whether it is read-only, its width, its number
// format and its messages.
//
// The layouts are process-wide records behind ColumnLayouts(), in the order
// the settings file stores them. Only an entry's shown flag and width change
// at run time (the pages and the settings file set them); everything else is
// the built-in data. Used on the user-interface thread only.
//
// Units: placement in dialog units of the reference layout, widths in
// reference pixels.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mr4 {

inline constexpr int kColumnLayoutCount = 15;
inline constexpr int kColumnFormatMaxChars = 7;

// The table a layout shows.
enum class LayoutTable { kClip, kObject, kShower, kExtraClass, kClipDirectory };

struct ColumnEntry {
  const char* column = "";       // name of the table column shown
  int shown = 1;                 // persisted as "%s_d%d"
  bool read_only = false;        // not editable in place nor in "Edit record"
  int width = 40;                // [reference px], persisted as "%s_w%d"
  const char* format = "%d";     // number format, at most 7 characters
  int double_click_message = 0;  // posted on a double click instead of editing
  int right_click = 0;           // right-click message enable; > 0 adds a menu item
  const char* menu_caption = ""; // caption of that menu item
  // Run-time state of the list control.
  int visible_column = -1;       // this entry's visible column, -1 hidden
  int shown_entry = 0;           // for visible column k: the entry shown there
};

struct ColumnLayout {
  const char* prefix = "";  // settings key prefix ("UO", "UC2", ...)
  LayoutTable table = LayoutTable::kClip;
  // Placement: a negative bottom counts from the parent's bottom edge, a
  // negative right from its right edge.
  int top = 0;
  int bottom = 0;
  int left = 0;
  int right = 0;
  // Page messages (0 = none).
  int changed_message = 0;      // a cell was changed by the list
  int right_click_message = 0;  // right click on an entry with right_click set
  int select_message = 0;       // left click, keyboard selection move
  int sorted_message = 0;       // after a sort, with the selected row
  int delete_message = 0;       // "Delete This Item" (0 hides the button)
  // Header menu: 0 no extra items; 2 only "reset" for type-3 columns; other
  // values add "all On" (this value) and "all Off" (this value + 1).
  int menu_mode = 0;
  // 1: the list keeps its own sort column; 2: the table's schema keeps it,
  // shared by every list of the table.
  int sort_mode = 1;
  bool check_boxes = false;  // first column shows the table's check column
  std::vector<ColumnEntry> entries;
};

// The process-wide layouts, in settings-file order: "UO", "UO2" to "UO5",
// "UC", "UC2" to "UC5", "US", "US2", "UE", "UE2", "UD".
std::span<ColumnLayout, kColumnLayoutCount> ColumnLayouts();

// The built-in layouts (the defaults before the settings file is read).
const std::array<ColumnLayout, kColumnLayoutCount>& BuiltInColumnLayouts();

// The layout with this prefix, or nullptr.
ColumnLayout* FindColumnLayout(std::string_view prefix);

}  // namespace mr4
