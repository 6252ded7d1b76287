// Builds RIFF files byte by byte, for tests that need files our writer would
// never produce (damaged, unusual or foreign layouts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutLe(Bytes& b, std::uint64_t v, int Width) {
  for (int i = 0; i < Width; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Bytes Id(const char* FourLetters) {
  return Bytes(FourLetters, FourLetters + 4);
}

// A chunk with its header; Size overrides the size field when not negative.
inline Bytes Chunk(const char* Id4, const Bytes& Body, std::int64_t Size = -1, bool Pad = true) {
  Bytes b = Id(Id4);
  PutLe(b, Size < 0 ? Body.size() : static_cast<std::uint64_t>(Size), 4);
  b.insert(b.end(), Body.begin(), Body.end());
  if (Pad && Body.size() % 2) b.push_back(0);
  return b;
}

inline Bytes FmtBody(std::uint16_t Tag, std::uint16_t Channels, std::uint32_t Rate,
                     std::uint32_t Avg, std::uint16_t Align, std::uint16_t Bits,
                     bool WithCbSize = true) {
  Bytes b;
  PutLe(b, Tag, 2);
  PutLe(b, Channels, 2);
  PutLe(b, Rate, 4);
  PutLe(b, Avg, 4);
  PutLe(b, Align, 2);
  PutLe(b, Bits, 2);
  if (WithCbSize) PutLe(b, 0, 2);
  return b;
}

inline Bytes PcmFmt(std::uint16_t Channels, std::uint32_t Rate, std::uint16_t Bits) {
  const auto Align = static_cast<std::uint16_t>(Channels * Bits / 8);
  return Chunk("fmt ", FmtBody(1, Channels, Rate, Rate * Align, Align, Bits));
}

// "RIFF" size "WAVE" followed by the given chunks; RiffSize overrides the size.
inline Bytes Riff(const std::vector<Bytes>& Chunks, std::int64_t RiffSize = -1) {
  Bytes Body = Id("WAVE");
  for (const Bytes& c : Chunks) Body.insert(Body.end(), c.begin(), c.end());
  return Chunk("RIFF", Body, RiffSize, false);
}

inline Bytes Pattern(std::size_t Count, std::uint8_t Seed = 1) {
  Bytes b(Count);
  for (std::size_t i = 0; i < Count; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + Seed);
  return b;
}

}  // namespace velmar::test
