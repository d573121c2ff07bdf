// The object export ("MakeOBJ csv" of the utilities page): one CSV line per
// object of the listed clips, the clip's cells followed by the object's, in
// the columns the page's clip list and object list show.
//
// File "OBJ<yyyy><mm><dd>.csv" (the date of the clip given) in the export
// folder, after the save dialog "Save OBJ csv". The header names the shown
// columns (a text column's name after one blank); cells use their column's
// number format, 64-bit cells "%lld", text cells " <text>" or nothing when
// empty; a text with a comma, a double quote or a line end is quoted as in
// RFC 4180 (the field, its blank included, between double quotes, inner
// quotes doubled). Lines end with CR LF; a list that shows no entry shows its first.
// Clips without objects give no line. User-interface thread only; reads
// the tables, changes no row.
#pragma once

#include <filesystem>
#include <span>

#include "app/column_layouts.h"
#include "reports/export_files.h"
#include "tables/table.h"

namespace mr4 {

// Writes the export of the clip rows `listed` (in that order) with the
// columns of `clip_layout` and `object_layout` ("UC5" and "UO5" on the
// page); `date_row` is the clip whose date names the file. Nothing is done
// without a listed clip.
ExportResult ExportObjects(const Table& clips, const Table& objects, std::span<const int> listed,
                           const ColumnLayout& clip_layout, const ColumnLayout& object_layout,
                           const std::filesystem::path& folder, int date_row);

// The export as the page and the command start it: the columns of the
// "UC5" and "UO5" lists, the file named after the current clip, or after
// the first listed clip when none is current.
ExportResult ExportListedObjects(std::span<const int> listed, const std::filesystem::path& folder);

}  // namespace mr4
