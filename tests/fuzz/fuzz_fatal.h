// The fuzz targets' error convention: a fatal end becomes an exception that
// the target catches, so one process can try many inputs. A fatal end while
// the harness checks the program's own output is a fault and aborts.
#pragma once

#include <cstdlib>

#include "tests/fuzz/harness.h"

namespace mr4::fuzz {

struct FatalEnd {
  int code;
};

template <typename F>
int RunCatchingFatal(F&& run) {
  try {
    run();
  } catch (const FatalEnd&) {
    if (g_checking_own_output) std::abort();
  }
  g_checking_own_output = false;
  return 0;
}

}  // namespace mr4::fuzz
