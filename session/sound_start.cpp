#include "session/sound_start.h"

#include <algorithm>
#include <cstdlib>

#include "session/track_rule.h"

namespace velmar {

namespace {

// Zero frames in a row that are digital silence: 10 ms.
constexpr std::int64_t kDigitalSilence = 441;
// How far before its first loud sample a sound is looked for: a second.
constexpr std::int64_t kRiseFrames = 44100;

}  // namespace

void TSoundStart::Reset(std::int64_t PreRollFrames, std::uint32_t MostBufferBytes) {
  FPreRoll = std::max<std::int64_t>(PreRollFrames, 0);
  // The pre-roll before a second in which a sound may rise out of digital
  // silence, the buffer before and the one just taken.
  FRing.assign(static_cast<std::size_t>(FPreRoll + kRiseFrames) * 4 + 2 * MostBufferBytes, 0);
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
  if (ChannelLevel(Data, 0, Size) < GateLevel && ChannelLevel(Data, 1, Size) < GateLevel) return -1;
  // The first loud sample, from the buffer before on (the level of a buffer
  // in which the sound began late stayed under the gate).
  const std::int64_t Oldest = FFrames - static_cast<std::int64_t>(FHeld / 4);
  std::vector<std::uint8_t> Held;
  Copy(Oldest, FFrames, Held);
  const auto Sample = [&](std::int64_t Frame, int Channel) {
    const std::size_t i = 4 * static_cast<std::size_t>(Frame - Oldest) + 2 * Channel;
    return std::abs(static_cast<std::int16_t>(Held[i] | Held[i + 1] << 8));
  };
  std::int64_t Loud = std::max(Before, Oldest);
  while (Loud < FFrames && Sample(Loud, 0) <= GateSample && Sample(Loud, 1) <= GateSample) ++Loud;
  if (Loud == FFrames) Loud = First;  // loud on average only
  // A sound rising out of digital silence (a stretch of zeros) begins at its
  // first non-zero sample, however quietly (a fade's first cycles round to
  // zero now and then: shorter stretches do not count).
  std::int64_t Onset = Loud;
  for (std::int64_t f = Loud, Zeros = 0; f > Oldest; --f) {
    Zeros = Sample(f - 1, 0) == 0 && Sample(f - 1, 1) == 0 ? Zeros + 1 : 0;
    if (Zeros == 0) Onset = f - 1;
    if (Zeros >= kDigitalSilence) break;
    if (f - 1 == Oldest) Onset = Loud;  // no digital silence before it here
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
