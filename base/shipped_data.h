// Where the data files shipped with the program are found (the shower
// catalogue, the leap-second table, the star catalogue, the ground map):
//
//   1. <directory of the executable>/../share/mr4   (an installed program)
//   2. the source tree's data/                      (run from the build tree)
//
// The first of these that exists is taken. Callable from any thread.
#pragma once

#include <filesystem>

namespace mr4 {

// The shipped data directory, or an empty path when neither exists.
std::filesystem::path ShippedDataDirectory();

}  // namespace mr4
