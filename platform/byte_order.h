// Little-endian fields as RIFF files and format records store them: the one
// reading and writing of them for every layer that walks chunks.
//
// Plain functions on bytes; any thread.
#pragma once

#include <cstdint>

namespace velmar {

inline std::uint16_t GetLe16(const void* Bytes) {
  const auto* p = static_cast<const unsigned char*>(Bytes);
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t GetLe32(const void* Bytes) {
  const auto* p = static_cast<const unsigned char*>(Bytes);
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline std::uint64_t GetLe64(const void* Bytes) {
  const auto* p = static_cast<const unsigned char*>(Bytes);
  return GetLe32(p) | std::uint64_t{GetLe32(p + 4)} << 32;
}
inline void PutLe32(void* Bytes, std::uint32_t v) {
  auto* p = static_cast<unsigned char*>(Bytes);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace velmar
