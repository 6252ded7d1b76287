// What shows that a track file is still the one that was read: its size, its
// modification time and a hash of its first and last blocks (the header, the
// sizes, the start and end of the audio), so that a file rewritten with the
// same size and a kept time does not pass.
//
// Not thread-bound.
#pragma once

#include <cstdint>
#include <string>

namespace velmar {

struct TTrackStamp {
  std::int64_t Size = 0;
  std::int64_t Time = 0;  // modification time, ns
  std::uint64_t Hash = 0;
  bool operator==(const TTrackStamp&) const = default;
};

// The stamp of the file Path; false when it cannot be read.
bool StampTrack(const std::string& Path, TTrackStamp& Stamp);

}  // namespace velmar
