// The sample bytes of a WAV file's "data" chunk, for tests that compare what
// was recorded with what was played (empty when the file has none).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace velmar::test {

// The size that chunk Id of a RIFF file's bytes declares, and where its bytes
// start ({0, File.size()} when there is no such chunk).
inline std::pair<std::uint32_t, std::size_t> WavChunk(const std::vector<std::uint8_t>& File,
                                                      const char* Id) {
  for (std::size_t i = 12; i + 8 <= File.size();) {
    const std::uint32_t Size = File[i + 4] | File[i + 5] << 8 | File[i + 6] << 16 |
                               static_cast<std::uint32_t>(File[i + 7]) << 24;
    if (std::string(File.begin() + i, File.begin() + i + 4) == Id) return {Size, i + 8};
    i += 8 + Size + (Size & 1);
  }
  return {0, File.size()};
}

inline std::vector<std::uint8_t> WavData(const std::string& Name) {
  const std::vector<std::uint8_t> File = ReadFileBytes(Name);
  const auto [Size, At] = WavChunk(File, "data");
  return {File.begin() + At, File.begin() + At + std::min<std::size_t>(Size, File.size() - At)};
}

}  // namespace velmar::test
