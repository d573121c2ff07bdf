// The scan's date-range options (--range all|range|latest, --from
// 'YYYY-MM-DD HH', --days N), read the same way by every command that scans
// the clip directories. The settings keep the range, as the Main page's
// controls do.
#pragma once

#include <string>

#include "app/settings.h"
#include "cli/args.h"

namespace mr4::cli {

// The range options of `parsed` over `wanted`; false with `error` set for a
// value out of range. The command lists the three options in its ParseArgs.
bool ReadScanRange(const ParsedArgs& parsed, Settings* wanted, std::string* error);
// Makes `wanted` the settings; "latest" counts back from now.
void ApplyScanRange(const Settings& wanted);

}  // namespace mr4::cli
