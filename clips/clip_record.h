// Filling a clip row from the clip's XML files: the capture record that the
// capture program writes (element `halvex_record`, or `halvex_V5_record`
// of version 500 and later), the clip part and objects of the result file
// A.XML, and the clip's summary of its objects.
//
// A file may fill any column of the row by attribute name, except the
// columns the directory scan owns (`clip_name`, `directory`, `media`, `MT`,
// `MB`, `oline`, `driveno`, `dirline`, `check`): those keep the scan's values,
// so a file can never point a row at another clip's files or break its
// object chain. Runs on the user-interface thread; OBJ rows are appended
// under the object table's lock. Messages go through ShowError.
#pragma once

#include <filesystem>

namespace mr4 {

// The smallest `version` of a `halvex_V5_record` element that is read.
inline constexpr int kFirstV5RecordVersion = 500;

// Reads the capture record at `path` into clip row `row`; the number of
// attributes stored, 0 when nothing was (also when the row already holds a
// result file: the result has priority whatever order the files come in).
int ReadCaptureRecord(const std::filesystem::path& path, int row);

// Reads the result file at `path`: its `meridra_record` into the clip row
// (`drop` is first set to -1), then each `mr2_object` into a new OBJ row
// chained from the row's `oline`, sets `o` and summarises the objects.
// Returns the number of objects; 0 for a missing file or element, or a file
// of kResultFileMaxBytes or more. Every `mr2_object` element becomes a row,
// even a broken one, so that object k stays the owner of the file's k-th
// trail.
int ReadResultObjects(const std::filesystem::path& path, int row);

// Recomputes `class`, `mag`, `sec`, `cdegmax` and `avmin` of clip row `row`
// from its object chain (brightest object by `mag`, ties keep the earlier).
void SummariseClipObjects(int row);

}  // namespace mr4
