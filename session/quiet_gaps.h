// Where a side falls quiet, by the track rule's own measure, and where to cut
// it into a given number of tracks. The audio is the recording format (44100
// Hz, 16-bit stereo), measured in the rule's buffers from the side's start:
// a window of TimeGate buffers is quiet when both channels' levels summed over
// it stay below the gate; a quiet gap is the stretch that consecutive quiet
// windows cover. The gate is the rule's noise gate, or, where a side is never
// silent (a record's surface noise between songs), 20 dB under the level of
// the 20 s around, whichever is higher.
//
// Not thread-bound; one finder per stream.
#pragma once

#include <cstdint>
#include <vector>

#include "session/track_rule.h"

namespace velmar {

// A quiet stretch in frames, [Start, End).
struct TQuietGap {
  std::int64_t Start = 0;
  std::int64_t End = 0;
  float Level = 0;  // its quietest window, in the gate's units: the lower, the deeper
  std::int64_t Length() const { return End - Start; }
  std::int64_t Middle() const { return Start + (End - Start) / 2; }
};

class TQuietGapFinder {
 public:
  static constexpr int kBufferBytes = 8096;  // the rule's buffer
  explicit TQuietGapFinder(const TTrackSettings& Rule) : FRule(Rule) {}

  // The next audio of the stream, any length.
  void Add(const std::uint8_t* Data, std::size_t Bytes);
  // The gaps found, in order, once the stream has ended.
  std::vector<TQuietGap> Finish();
  std::int64_t Frames() const { return FFrames; }
  // After Finish: the lowest noise gate (1..100) whose gaps make Tracks
  // tracks of at least MinFrames, or -1 when none does.
  int GateFor(int Tracks, std::int64_t MinFrames) const;

 private:
  void Measure(const std::uint8_t* Buffer, int Bytes);
  // The gaps below the gate Gate (a window's summed level) or the local one.
  std::vector<TQuietGap> GapsBelow(double Gate, const std::vector<float>& Local) const;
  // For each window, the gate its surroundings give it.
  std::vector<float> LocalGates() const;

  TTrackSettings FRule;
  std::vector<std::uint8_t> FPending;   // a buffer not yet whole
  std::vector<TChannelLevels> FWindow;  // the last TimeGate buffers' levels
  std::vector<float> FLevels;           // each window's louder channel, by its last buffer
  std::int64_t FFrames = 0;             // frames taken in
};

// The cuts (frames where tracks 2 .. start) that make Tracks tracks of a side
// of Frames frames: in the middle of the Tracks - 1 longest gaps that lie
// inside the side (not at its start or end) and leave every track at least
// MinFrames long. Fewer cuts when there are fewer such gaps. In order.
std::vector<std::int64_t> CutsForTracks(const std::vector<TQuietGap>& Gaps, std::int64_t Frames,
                                        int Tracks, std::int64_t MinFrames);

}  // namespace velmar
