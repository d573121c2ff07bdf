// libFuzzer target: the table-file reader and writer.
#include "tests/fuzz/fuzz_fatal.h"
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return mr4::fuzz::RunCatchingFatal([&] { mr4::fuzz::RunTableFile(data, size); });
}
