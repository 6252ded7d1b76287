#include "session/sound_start.h"

#include <algorithm>
#include <cstdlib>

#include "session/track_rule.h"
#include "stream/pcm_samples.h"

namespace velmar {

// Zero frames in a row that are digital silence: 10 ms. A sound is looked for
// up to a second before its first loud sample.
void TSoundStart::Reset(std::int64_t PreRollFrames, std::uint32_t MostBufferBytes,
                        const WAVEFORMATEX& Format) {
  FBlock = Format.nBlockAlign;
  FSampleBytes = Format.wBitsPerSample / 8;
  FRate = Format.nSamplesPerSec;
  FPreRoll = std::max<std::int64_t>(PreRollFrames, 0);
  // The pre-roll before a second in which a sound may rise out of digital
  // silence, the buffer before and the one just taken.
  FRing.assign(static_cast<std::size_t>(FPreRoll + FRate) * FBlock + 2 * MostBufferBytes, 0);
  FStart = FHeld = 0;
  FFrames = FLastBufferFrame = 0;
}

std::int64_t TSoundStart::Take(const std::uint8_t* Data, std::uint32_t Bytes, double GateLevel,
                               int GateSample) {
  Bytes = Bytes / FBlock * FBlock;
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
  FFrames += Bytes / FBlock;
  const std::int64_t Before = FLastBufferFrame;
  FLastBufferFrame = First;
  const int Size = static_cast<int>(Bytes);
  if (ChannelLevel(Data, 0, Size, FSampleBytes) < GateLevel &&
      ChannelLevel(Data, 1, Size, FSampleBytes) < GateLevel)
    return -1;
  // The first loud sample, from the buffer before on (the level of a buffer
  // in which the sound began late stayed under the gate).
  const std::int64_t Oldest = FFrames - static_cast<std::int64_t>(FHeld / FBlock);
  std::vector<std::uint8_t> Held;
  Copy(Oldest, FFrames, Held);
  const auto Sample = [&](std::int64_t Frame, int Channel) {
    const std::size_t i =
        FBlock * static_cast<std::size_t>(Frame - Oldest) + FSampleBytes * Channel;
    return std::abs(PcmSample(&Held[i], FSampleBytes));
  };
  const std::int32_t Gate = GateSample * (1 << (8 * (FSampleBytes - 2)));
  std::int64_t Loud = std::max(Before, Oldest);
  while (Loud < FFrames && Sample(Loud, 0) <= Gate && Sample(Loud, 1) <= Gate) ++Loud;
  if (Loud == FFrames) Loud = First;  // loud on average only
  // A sound rising out of digital silence (a stretch of zeros) begins at its
  // first non-zero sample, however quietly (a fade's first cycles round to
  // zero now and then: shorter stretches do not count).
  std::int64_t Onset = Loud;
  for (std::int64_t f = Loud, Zeros = 0; f > Oldest; --f) {
    Zeros = Sample(f - 1, 0) == 0 && Sample(f - 1, 1) == 0 ? Zeros + 1 : 0;
    if (Zeros == 0) Onset = f - 1;
    if (Zeros >= FRate / 100) break;
    if (f - 1 == Oldest) Onset = Loud;  // no digital silence before it here
  }
  return std::max(Onset - FPreRoll, Oldest);
}

void TSoundStart::Copy(std::int64_t From, std::int64_t Until,
                       std::vector<std::uint8_t>& Dest) const {
  const std::int64_t Oldest = FFrames - static_cast<std::int64_t>(FHeld / FBlock);
  From = std::clamp(From, Oldest, FFrames);
  Until = std::clamp(Until, From, FFrames);
  Dest.resize(static_cast<std::size_t>(Until - From) * FBlock);
  const std::size_t Offset = static_cast<std::size_t>(From - Oldest) * FBlock;
  for (std::size_t i = 0; i < Dest.size(); ++i)
    Dest[i] = FRing[(FStart + Offset + i) % FRing.size()];
}

}  // namespace velmar
