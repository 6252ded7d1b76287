// The platform's wave buffer header as queued to the wave devices, with its flags.
// The fields keep their order; pointer fields have the native width.
#pragma once

#include <cstdint>

namespace velmar {

struct WAVEHDR {
  char* lpData;                   // start of the audio data
  std::uint32_t dwBufferLength;   // capacity in bytes
  std::uint32_t dwBytesRecorded;  // valid bytes
  std::uint32_t dwUser;
  std::uint32_t dwFlags;  // WHDR_* below
  std::uint32_t dwLoops;
  WAVEHDR* lpNext;
  std::uint32_t reserved;  // platform use
};

inline constexpr std::uint32_t WHDR_DONE = 1;
inline constexpr std::uint32_t WHDR_PREPARED = 2;
inline constexpr std::uint32_t WHDR_BEGINLOOP = 4;
inline constexpr std::uint32_t WHDR_ENDLOOP = 8;
inline constexpr std::uint32_t WHDR_INQUEUE = 16;

}  // namespace velmar
