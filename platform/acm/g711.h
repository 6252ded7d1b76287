// The two G.711 laws (A-law, tag 6; mu-law, tag 7): 8-bit codes <-> 16-bit samples.
#pragma once

#include <cstdint>

namespace velmar::g711 {

std::int16_t AlawToLinear(std::uint8_t Code);
std::int16_t MulawToLinear(std::uint8_t Code);
std::uint8_t LinearToAlaw(std::int16_t Sample);
std::uint8_t LinearToMulaw(std::int16_t Sample);

}  // namespace velmar::g711
