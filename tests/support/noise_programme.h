// A programme that never repeats, played into a sound server while a
// recorder records it, and what a recording of it shows: where it departs from
// the programme, how much is missing, and the cue points the file keeps
// (read from its chunks here: no peer reads them). Shared by the tests that
// stall a recorder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velmar::test {

// The cue points a WAV file keeps, read from its chunks here (no peer reads
// them): each point's sample offset and its "labl" text.
inline std::vector<std::pair<std::uint32_t, std::string>> CuePoints(
    const std::vector<std::uint8_t>& File) {
  auto Le32 = [&](std::size_t At) {
    return static_cast<std::uint32_t>(File[At] | File[At + 1] << 8 | File[At + 2] << 16 |
                                      static_cast<std::uint32_t>(File[At + 3]) << 24);
  };
  std::vector<std::pair<std::uint32_t, std::string>> Points;
  std::map<std::uint32_t, std::string> Labels;
  for (std::size_t At = 12; At + 8 <= File.size();) {
    const std::string Id(File.begin() + At, File.begin() + At + 4);
    const std::uint32_t Size = Le32(At + 4);
    if (Id == "cue ")
      for (std::uint32_t i = 0; i < Le32(At + 8); ++i)
        Points.emplace_back(Le32(At + 12 + 24 * i + 20), std::string());
    if (Id == "LIST" && std::string(File.begin() + At + 8, File.begin() + At + 12) == "adtl")
      for (std::size_t Sub = At + 12; Sub + 12 <= At + 8 + Size;) {
        const std::uint32_t SubSize = Le32(Sub + 4);
        if (std::string(File.begin() + Sub, File.begin() + Sub + 4) == "labl")
          Labels[Le32(Sub + 8)] = std::string(reinterpret_cast<const char*>(&File[Sub + 12]));
        Sub += 8 + SubSize + (SubSize & 1);
      }
    At += 8 + Size + (Size & 1);
  }
  std::vector<std::pair<std::uint32_t, std::string>> Named;
  for (std::size_t i = 0; i < Points.size(); ++i)
    Named.emplace_back(Points[i].first, Labels[static_cast<std::uint32_t>(i + 1)]);
  return Named;
}

// A programme that never repeats: noise from a counter's hash, 16-bit stereo.
inline std::vector<std::uint8_t> NoiseProgramme(double Seconds) {
  std::vector<std::uint8_t> b(static_cast<std::size_t>(Seconds * 44100) * 4);
  for (std::size_t i = 0; i < b.size() / 2; ++i) {
    std::uint64_t h = (i + 1) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    const auto v = static_cast<std::int16_t>(static_cast<int>(h % 20001) - 10000);
    b[2 * i] = static_cast<std::uint8_t>(v);
    b[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return b;
}

// Where a recording of Programme departs from it and meets it again.
struct Departure {
  std::int64_t At = -1;         // the track's frame where it departs (-1: it never does)
  std::int64_t Missing = 0;     // the programme's frames that are not in the track
  std::int64_t ResumedAt = 0;   // the track's frame from where it equals the programme again
  std::int64_t EqualAfter = 0;  // frames equal from there on
};

// The track's frames from its first audio on, against the programme: the
// stretch equal to it, then (past a few stray fragments the sound server
// leaves where it dropped audio) the next stretch of at least a second.
inline bool Follow(const std::vector<std::uint8_t>& Track,
                   const std::vector<std::uint8_t>& Programme, std::int64_t& Start, Departure& d) {
  const std::size_t Frames = Track.size() / 4;
  std::size_t t = 0;
  while (t < Frames && std::all_of(&Track[4 * t], &Track[4 * t + 4], [](auto c) { return !c; }))
    ++t;
  auto Find = [&](std::size_t TrackFrame, std::size_t From) -> std::int64_t {
    if (4 * TrackFrame + 256 > Track.size()) return -1;
    const auto It =
        std::search(Programme.begin() + static_cast<std::ptrdiff_t>(4 * From), Programme.end(),
                    Track.begin() + 4 * TrackFrame, Track.begin() + 4 * TrackFrame + 256);
    return It == Programme.end() ? -1 : (It - Programme.begin()) / 4;
  };
  auto Equal = [&](std::size_t TrackFrame, std::size_t ProgFrame) {
    std::size_t n = 0;
    while (TrackFrame + n < Frames && 4 * (ProgFrame + n) + 4 <= Programme.size() &&
           std::equal(&Track[4 * (TrackFrame + n)], &Track[4 * (TrackFrame + n) + 4],
                      &Programme[4 * (ProgFrame + n)]))
      ++n;
    return n;
  };
  const std::int64_t p = Find(t, 0);
  if (p < 0) return false;
  Start = static_cast<std::int64_t>(t);
  const std::size_t Run = Equal(t, static_cast<std::size_t>(p));
  if (t + Run >= Frames || 4 * (static_cast<std::size_t>(p) + Run) >= Programme.size()) return true;
  d.At = static_cast<std::int64_t>(t + Run);
  const std::size_t ProgAt = static_cast<std::size_t>(p) + Run;
  for (std::size_t r = t + Run; r < Frames; r += 16) {
    const std::int64_t q = Find(r, ProgAt);
    if (q < 0) continue;
    const std::size_t After = Equal(r, static_cast<std::size_t>(q));
    if (After < 44100) continue;
    d.ResumedAt = static_cast<std::int64_t>(r);
    d.Missing = q - static_cast<std::int64_t>(ProgAt) - (d.ResumedAt - d.At);
    d.EqualAfter = static_cast<std::int64_t>(After);
    return true;
  }
  return true;
}

}  // namespace velmar::test
