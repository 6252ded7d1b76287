// TSoundStart: start on sound. While a recording waits, it holds the input's
// latest audio (the pre-roll and a little more) and finds where the sound
// begins, so that the first track can start the pre-roll before it: the
// first audible sample is always in the file, however slowly it came.
//
// Threads: belongs to the session (its thread).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wave/wave_format_ex.h"

namespace velmar {

class TSoundStart {
 public:
  // Starts waiting for stereo audio of Format (16 or 24 bits): holds the
  // pre-roll before a second in which a sound may rise, and two buffers of up
  // to MostBufferBytes.
  void Reset(std::int64_t PreRollFrames, std::uint32_t MostBufferBytes, const WAVEFORMATEX& Format);

  // A buffer of the input. Sound is there when a channel's level in it reaches
  // GateLevel (the track rule's measure); it begins at the first frame whose
  // sample size exceeds GateSample (at the 16-bit scale), looked for from the
  // buffer before, or where it rose from digital silence before that. Returns
  // the frame (counted from Reset) the track
  // starts on: the pre-roll before that, not before what was held; -1 while
  // there is no sound. The buffer is held either way.
  std::int64_t Take(const std::uint8_t* Data, std::uint32_t Bytes, double GateLevel,
                    int GateSample);

  // The frames taken so far.
  std::int64_t Frames() const { return FFrames; }
  // Copies the held audio from frame From up to Until (both counted from
  // Reset, within what is held) into Dest.
  void Copy(std::int64_t From, std::int64_t Until, std::vector<std::uint8_t>& Dest) const;

 private:
  // The ring: FHeld bytes, its oldest byte at FStart.
  std::vector<std::uint8_t> FRing;
  std::size_t FStart = 0;
  std::size_t FHeld = 0;
  std::int64_t FFrames = 0;
  std::int64_t FPreRoll = 0;
  std::int64_t FLastBufferFrame = 0;  // the first frame of the buffer before
  std::uint32_t FBlock = 4;           // bytes a frame
  int FSampleBytes = 2;
  std::int64_t FRate = 44100;
};

}  // namespace velmar
