// Test fixtures for the AVI reader: a temporary directory, AVI files written
// by the simulator's writer with numbered frames, and byte patches.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_files.h"

#include "sim/avi_writer.h"

namespace mr4::testing_avi {

using Bytes = std::vector<std::uint8_t>;

using mr4::test::TempDir;

// Frame k: its number in the first four bytes, then a pattern of k.
inline Bytes NumberedFrame(std::int64_t bytes, int k) {
  Bytes f(static_cast<std::size_t>(bytes));
  for (std::size_t i = 0; i < f.size(); ++i) {
    f[i] = static_cast<std::uint8_t>(i * 13 + static_cast<std::size_t>(k) * 101 + 7);
  }
  for (std::size_t i = 0; i < 4 && i < f.size(); ++i) {
    f[i] = static_cast<std::uint8_t>(k >> (8 * i));
  }
  return f;
}

inline void WriteNumberedAvi(const std::filesystem::path& path,
                             const AviWriterOptions& options, int frames) {
  AviWriter writer;
  ASSERT_TRUE(writer.Open(path, options)) << writer.error();
  for (int k = 0; k < frames; ++k) {
    ASSERT_TRUE(writer.WriteFrame(NumberedFrame(writer.ImageBytes(), k))) << writer.error();
  }
  ASSERT_TRUE(writer.Close()) << writer.error();
}

using mr4::test::ReadFileData;
using mr4::test::WriteFileData;

inline void Put32(Bytes& b, std::size_t offset, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put16(Bytes& b, std::size_t offset, std::uint16_t v) {
  b[offset] = static_cast<std::uint8_t>(v);
  b[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutId(Bytes& b, std::size_t offset, const char* id) {
  for (int i = 0; i < 4; ++i) b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(id[i]);
}
// Appends a chunk: id, size, data, pad byte.
inline void AppendChunk(Bytes& b, const char* id, const Bytes& data) {
  const std::size_t at = b.size();
  b.resize(at + 8);
  PutId(b, at, id);
  Put32(b, at + 4, static_cast<std::uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() % 2 != 0) b.push_back(0);
}

}  // namespace mr4::testing_avi
