// Shared helpers of the wave-file tests: owned blocks and whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "stream/wave_format.h"
#include "tests/support/riff_builder.h"
#include "wavefile/wave_file_io.h"

namespace velmar::test {

struct FreeBlock {
  void operator()(TWaveFileBlock* b) const { WaveFileFree(b); }
};
using BlockPtr = std::unique_ptr<TWaveFileBlock, FreeBlock>;

inline BlockPtr Parse(const std::string& Name, std::int32_t* Code = nullptr) {
  TWaveFileBlock* b = nullptr;
  const std::int32_t Result = WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, b);
  if (Code) *Code = Result;
  return BlockPtr(b);
}

inline WAVEFORMATEX PcmFormat(std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  WAVEFORMATEX f{};
  return *BuildPCMFormat(&f, Bits, Channels, Rate);
}

// Creates Name with Data written through the layer; Close decides whether the
// file is finalised.
inline BlockPtr Record(const std::string& Name, const WAVEFORMATEX& Format, const Bytes& Data,
                       bool Close = true) {
  BlockPtr b(WaveFileFromFormat(&Format));
  EXPECT_EQ(WaveFileCreate(b.get(), Name), WAVEERR_NONE);
  if (!Data.empty()) {
    EXPECT_EQ(WaveFileWrite(b.get(), Data.data(), static_cast<std::int32_t>(Data.size())),
              static_cast<std::int32_t>(Data.size()));
  }
  if (Close) {
    EXPECT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  }
  return b;
}

// Every audio byte of a parsed file, read through the layer in small pieces.
inline Bytes ReadAll(TWaveFileBlock* b, std::int32_t Piece = 1000) {
  Bytes All;
  if (WaveFileReopen(b) != WAVEERR_NONE) return All;
  Bytes Buffer(static_cast<size_t>(Piece));
  for (;;) {
    const std::int32_t n = WaveFileRead(b, Buffer.data(), Piece);
    if (n <= 0) break;
    All.insert(All.end(), Buffer.begin(), Buffer.begin() + n);
  }
  return All;
}

inline std::uint32_t Le32At(const Bytes& b, size_t At) {
  return std::uint32_t{b[At]} | std::uint32_t{b[At + 1]} << 8 | std::uint32_t{b[At + 2]} << 16 |
         std::uint32_t{b[At + 3]} << 24;
}

}  // namespace velmar::test
