// A side as a record gives it, for the review's tests: stretches of surface
// hiss (about -60 dBFS) and of pieces (a chord at about -12 dBFS over the
// hiss), 44100 Hz 16-bit stereo, and its tracks written as WAV files.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"

namespace velmar::test {

// Interleaved samples of the stretches (seconds, piece or hiss) in turn.
inline std::vector<std::int16_t> HissySide(const std::vector<std::pair<double, bool>>& Stretches) {
  std::mt19937 Random(5);
  std::normal_distribution<double> Hiss(0, 30);
  std::vector<std::int16_t> s;
  std::int64_t f = 0;
  for (const auto& [Seconds, Piece] : Stretches) {
    const auto n = static_cast<std::int64_t>(Seconds * 44100);
    for (std::int64_t i = 0; i < n; ++i, ++f) {
      const double t = static_cast<double>(f) / 44100;
      const double Music =
          Piece ? 4000 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277 * t) +
                          0.5 * std::sin(2 * M_PI * 330 * t))
                : 0;
      for (int c = 0; c < 2; ++c)
        s.push_back(static_cast<std::int16_t>(std::lround(Music + Hiss(Random))));
    }
  }
  return s;
}

// Frames frames of s from frame From as the WAV file Name.
inline void WriteSideTrack(const std::string& Name, const std::vector<std::int16_t>& s,
                           std::int64_t From, std::int64_t Frames) {
  Bytes Data(static_cast<std::size_t>(Frames) * 4);
  std::memcpy(Data.data(), s.data() + 2 * From, Data.size());
  WriteFileBytes(Name, Riff({PcmFmt(2, 44100, 16), Chunk("data", Data)}));
}

// The side of the review's tests: the first piece from 4 s to 15.15 s (a
// rest of 150 ms inside), the second from 17.65 s to 25.65 s, 7 s of hiss
// after; recorded as three tracks ending at 16.4 s, 27.65 s and its end, the
// third of only hiss.
inline std::vector<std::int16_t> RecordSide() {
  return HissySide({{4, false}, {6, true}, {0.15, false}, {5, true}, {2.5, false}, {8, true},
                    {7, false}});
}
inline std::vector<std::int64_t> RecordSideTrackEnds(std::int64_t Frames) {
  return {static_cast<std::int64_t>(16.4 * 44100), static_cast<std::int64_t>(27.65 * 44100),
          Frames};
}

}  // namespace velmar::test
