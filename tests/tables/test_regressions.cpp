// Inputs kept from fuzzing the table-file and XML record readers (and a few
// written by hand at their edges), replayed through the fuzz harness: each
// must end normally or through the fatal path, never with a crash or an
// abort of the harness's round-trip checks.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "tests/fuzz/harness.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(MR4_FIXTURES_DIR) / "tables" / "fuzz";

std::vector<fs::path> Inputs(const char* target) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kCorpus / target)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool EndedNormallyOrFatally(int status) {
  return WIFEXITED(status) &&
         (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kFatalExitStatus);
}

void Replay(const char* target, void (*run)(const std::uint8_t*, std::size_t)) {
  std::vector<fs::path> inputs = Inputs(target);
  ASSERT_FALSE(inputs.empty());
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    const std::string bytes = Bytes(input);
    EXPECT_EXIT(
        {
          run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
          std::_Exit(0);
        },
        EndedNormallyOrFatally, "");
  }
}

TEST(FuzzRegressionsDeathTest, TableFiles) { Replay("table_file", fuzz::RunTableFile); }
TEST(FuzzRegressionsDeathTest, XmlRecords) { Replay("xml_record", fuzz::RunXmlRecord); }

}  // namespace
}  // namespace mr4
