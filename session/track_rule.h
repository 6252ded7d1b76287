// The track rule: the per-buffer analysis of a recording and the silence
// decision that ends a track, plus the texts the track list shows (track
// numbers and names, time text, sizes in kB, the gate labels). The main window
// and velmar-rec both use it, so the same input always gives the same tracks.
//
// Recordings are stereo, left sample first, of 16-bit samples (the designed
// format) or 24-bit ones; the levels are on the 16-bit scale at either width,
// so a gate means the same dBFS.
// Threads: a TTrackRule belongs to whoever feeds it buffers (the main thread).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// The levels of one buffer.
struct TChannelLevels {
  double Left = 0;
  double Right = 0;
};

// The designed settings: noise gate 0..100, time gate 2..20 buffers, minimum
// track length 1..180 s, automatic splitting on.
struct TTrackSettings {
  int NoiseGate = 25;
  int TimeGate = 8;
  int MinSec = 7;
  bool AutoSplit = true;
};

// What the rule decides for a buffer.
enum class TTrackDecision {
  None,      // record on
  EndTrack,  // silence: stop, and no next track (the track was too short)
  NextTrack  // silence after a long enough track: stop, and start the next one
};

// Level of one channel (0 left, 1 right) of a buffer of Bytes bytes of stereo
// samples SampleBytes wide (2 or 3): the sum of the absolute samples of all
// frames but the last three, over 4 * Bytes at 16 bits (16 per frame); wider
// samples count at the 16-bit scale. Over at most 32768 frames (the
// analysis' scratch size); 0 for a buffer of fewer than 4 frames, and for an
// empty one (no frames to divide).
double ChannelLevel(const std::uint8_t* Data, int Channel, int Bytes, int SampleBytes = 2);

// The bytes of the buffer the rule measures at a format: 8096 at the designed
// 16-bit 44.1 kHz (46 ms), the same time in whole frames at any other.
int RuleBufferBytes(std::uint32_t Rate, int BlockAlign);

// Kilobytes the track list shows for a length: Ms * 172 / 1024 at the designed
// format (172 = 176400 / 1024, whole), Ms * (AvgBytesPerSec / 1024) / 1024 at
// another; rounded half to even. The product is taken in 64 bits, so long
// recordings do not overflow.
std::int64_t MsToKBytes(std::int64_t Ms, std::uint32_t AvgBytesPerSec = 176400);

// "1:23.456", "1:02:03.004", or with days in front from 24 hours on.
std::string TimeToText(std::int64_t Ms);

// The most audio bytes one track file takes; a recording that reaches it goes
// on in the next track without a gap. What a WAV file of the file layer holds
// (just under 2 GiB, about 3 h 22 min), less room for the header, in whole
// frames of BlockAlign bytes; the environment variable VELMAR_MAX_TRACK_BYTES
// lowers it (tests).
std::int64_t MaxTrackBytes(int BlockAlign = 4);

// The track list's number cell ("01" .. "99", then "100" ...) and file name
// ("Track01.wav"); with Count, the number has as many digits as Count (a side
// of 120 tracks: "Track001.wav"), so that the names sort as the tracks do.
std::string TrackNumberText(int Number, int Count = 0);
std::string TrackFileName(int Number, int Count = 0);

// The number a track's file name starts with ("Track12.wav", "012 Title.wav"),
// or -1.
int TrackNumberOfName(const std::string& Path);
// Orders track paths by their numbers (those without one last, as they came),
// not by text, where "100 ..." would come before "11 ...".
void OrderByTrackNumber(std::vector<std::string>& Tracks);

// The gate labels: the time gate in milliseconds ("%3d ms", position * 33.59375
// rounded half to even) and the minimum length ("%2d s").
int TimeGateMs(int Position);
// The noise gate as the level a quiet stretch stays under: "-56 dBFS" (the
// average size of its samples, with the time gate it is summed over).
std::string NoiseGateText(int Gate, int TimeGate);
double NoiseGateDb(int Gate, int TimeGate);  // -inf for a gate of 0
std::string TimeGateLabel(int Position);
std::string MinSecLabel(int Position);

// The silence decision. Every buffer of a track is measured from the track's
// start; a track is silent when the levels of its last TimeGate buffers, summed
// per channel, lie under the noise gate, and that is decided only once the
// track is longer than the minimum length. Only buffers heard in this track
// count: a new track (or a new time gate) starts an empty ring, so the quiet
// that ended the previous track, or the zeros before the first one, never
// stand in for a soft passage that one or two buffers of it would not prove.
class TTrackRule {
 public:
  static constexpr int kMaxTimeGate = 20;

  // Buffers of stereo samples SampleBytes wide.
  explicit TTrackRule(int SampleBytes = 2) : FSampleBytes(SampleBytes) {}

  // One recorded buffer. PositionMs: the recorded length of the track with
  // this buffer; ShownKBytes: the size the track list shows for it.
  TTrackDecision BufferRecorded(const std::uint8_t* Data, int Bytes, std::int64_t PositionMs,
                                std::int64_t ShownKBytes, const TTrackSettings& Settings);
  // The same for a buffer whose levels (ChannelLevel of each channel) are known.
  TTrackDecision BufferRecorded(const TChannelLevels& Levels, std::int64_t PositionMs,
                                std::int64_t ShownKBytes, const TTrackSettings& Settings);
  // A new track begins: the ring starts empty.
  void NextTrackStarted() {
    FHeard = 0;
    FSoundHeard = false;
  }
  // Whether any stretch of this track so far (up to a time gate of buffers)
  // summed to the noise gate or above: false for a track of only the
  // input's noise.
  bool SoundHeard() const { return FSoundHeard; }

  // True when at least TimeGate buffers of this track were measured and both
  // channels' levels, summed over the last TimeGate of them, lie strictly
  // below NoiseGate.
  bool IsSilent(int NoiseGate, int TimeGate) const;

  const TChannelLevels& Latest() const { return FLatest; }
  int Heard() const { return FHeard; }

 private:
  // Both channels' levels summed over the last Buffers buffers of the ring.
  TChannelLevels Sum(int Buffers) const;

  std::array<TChannelLevels, kMaxTimeGate> FRing{};  // the last buffers' levels
  TChannelLevels FLatest;
  int FNext = 0;      // where the next buffer's levels go
  int FHeard = 0;     // buffers of this track in the ring, up to the time gate
  int FRingGate = 0;  // the time gate the ring was filled for
  bool FSoundHeard = false;
  int FSampleBytes;
};

// The Size cell as a display refreshed every 100 ms of recorded time shows it:
// at each tick, the size of what had been recorded before the tick.
class TSizeDisplay {
 public:
  void Reset() { FShown = 0; }
  // A buffer took the recorded length from PreviousMs to PositionMs.
  void Advance(std::int64_t PreviousMs, std::int64_t PositionMs);
  std::int64_t Shown() const { return FShown; }

 private:
  std::int64_t FShown = 0;
};

}  // namespace velmar
