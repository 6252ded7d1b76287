// The sample bytes of a WAV file's "data" chunk, for tests that compare what
// was recorded with what was played (empty when the file has none).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace velmar::test {

inline std::vector<std::uint8_t> WavData(const std::string& Name) {
  const std::vector<std::uint8_t> File = ReadFileBytes(Name);
  for (std::size_t i = 12; i + 8 <= File.size();) {
    const std::uint32_t Size = File[i + 4] | File[i + 5] << 8 | File[i + 6] << 16 |
                               static_cast<std::uint32_t>(File[i + 7]) << 24;
    if (std::string(File.begin() + i, File.begin() + i + 4) == "data")
      return {File.begin() + i + 8,
              File.begin() + i + 8 + std::min<std::size_t>(Size, File.size() - i - 8)};
    i += 8 + Size + (Size & 1);
  }
  return {};
}

}  // namespace velmar::test
