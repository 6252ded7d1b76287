// The platform's wave format record, shared by the wave devices and the codec
// manager: packed, 18 bytes, little-endian on disk. Extra format bytes (cbSize of
// them) follow the record in the same allocation for compressed formats.
#pragma once

#include <cstdint>

namespace velmar {

#pragma pack(push, 1)
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;       // 1 = PCM
  std::uint16_t nChannels;        // 1 = mono, 2 = stereo
  std::uint32_t nSamplesPerSec;   // sample frames per second
  std::uint32_t nAvgBytesPerSec;  // for PCM: nBlockAlign * nSamplesPerSec
  std::uint16_t nBlockAlign;      // bytes per sample frame
  std::uint16_t wBitsPerSample;   // 8 or 16 for the PCM this engine produces
  std::uint16_t cbSize;           // extra format bytes that follow; 0 for PCM
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must be the packed 18-byte record");

using PWaveFormatEx = WAVEFORMATEX*;

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
// A record followed by valid bits, a channel mask and a sub-format GUID.
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

}  // namespace velmar
