// The platform's wave buffer header as queued to the wave devices, with its flags.
// The fields keep their order; pointer fields have the native width.
#pragma once

#include <atomic>
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

// The flags of a header that a device may be changing: the device's thread sets
// WHDR_DONE while its owner looks, so both sides go through these.
inline std::uint32_t LoadHeaderFlags(WAVEHDR& h) {
  return std::atomic_ref<std::uint32_t>(h.dwFlags).load(std::memory_order_acquire);
}
inline void StoreHeaderFlags(WAVEHDR& h, std::uint32_t Flags) {
  std::atomic_ref<std::uint32_t>(h.dwFlags).store(Flags, std::memory_order_release);
}

}  // namespace velmar
