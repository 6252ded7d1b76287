#include "session/sound_start.h"

#include <algorithm>
#include <cstdlib>

#include "session/track_rule.h"

namespace velmar {

void TSoundStart::Reset(std::int64_t PreRollFrames, std::uint32_t MostBufferBytes) {
  FPreRoll = std::max<std::int64_t>(PreRollFrames, 0);
  // The pre-roll, the buffer before and the one just taken.
  FRing.assign(static_cast<std::size_t>(FPreRoll) * 4 + 2 * MostBufferBytes, 0);
  FStart = FHeld = 0;
  FFrames = FLastBufferFrame = 0;
}

std::int64_t TSoundStart::Take(const std::uint8_t* Data, std::uint32_t Bytes, double GateLevel,
                               int GateSample) {
  Bytes = Bytes / 4 * 4;
  const std::int64_t First = FFrames;
  // Into the ring, the oldest bytes making room.
  for (std::uint32_t Done = 0; Done < Bytes;) {
    const std::size_t End = (FStart + FHeld) % FRing.size();
    const std::size_t n = std::min<std::size_t>(Bytes - Done, FRing.size() - End);
    std::copy(Data + Done, Data + Done + n, FRing.begin() + static_cast<std::ptrdiff_t>(End));
    Done += static_cast<std::uint32_t>(n);
    FHeld += n;
    if (FHeld > FRing.size()) {
      FStart = (FStart + FHeld - FRing.size()) % FRing.size();
      FHeld = FRing.size();
    }
  }
  FFrames += Bytes / 4;
  const std::int64_t Before = FLastBufferFrame;
  FLastBufferFrame = First;
  const int Size = static_cast<int>(Bytes);
  if (ChannelLevel(Data, 0, Size) < GateLevel && ChannelLevel(Data, 1, Size) < GateLevel)
    return -1;
  // The first loud sample, from the buffer before on (the level of a buffer
  // in which the sound began late stayed under the gate).
  const std::int64_t Oldest = FFrames - static_cast<std::int64_t>(FHeld / 4);
  std::int64_t Onset = First;
  std::vector<std::uint8_t> Recent;
  Copy(std::max(Before, Oldest), FFrames, Recent);
  for (std::size_t i = 0; i + 4 <= Recent.size(); i += 4) {
    const int l = static_cast<std::int16_t>(Recent[i] | Recent[i + 1] << 8);
    const int r = static_cast<std::int16_t>(Recent[i + 2] | Recent[i + 3] << 8);
    if (std::abs(l) > GateSample || std::abs(r) > GateSample) {
      Onset = std::max(Before, Oldest) + static_cast<std::int64_t>(i / 4);
      break;
    }
  }
  return std::max(Onset - FPreRoll, Oldest);
}

void TSoundStart::Copy(std::int64_t From, std::int64_t Until,
                       std::vector<std::uint8_t>& Dest) const {
  const std::int64_t Oldest = FFrames - static_cast<std::int64_t>(FHeld / 4);
  From = std::clamp(From, Oldest, FFrames);
  Until = std::clamp(Until, From, FFrames);
  Dest.resize(static_cast<std::size_t>(Until - From) * 4);
  const std::size_t Offset = static_cast<std::size_t>(From - Oldest) * 4;
  for (std::size_t i = 0; i < Dest.size(); ++i)
    Dest[i] = FRing[(FStart + Offset + i) % FRing.size()];
}

}  // namespace velmar
