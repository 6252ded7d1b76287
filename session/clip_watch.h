// Level checks of recorded audio: the clipped samples of a track and where
// they are, and the loudest peak of a recording with the advice it gives.
// A clipped sample is one at full scale (+32767 or -32768 at 16 bits, the
// same at the sample's own width): the converter ran out of range there, so
// the wave's real shape is lost. Peaks are sizes at the 16-bit scale.
//
// Threads: a TClipCounter belongs to whoever feeds it (the session's thread);
// TPeakHold is fed on one thread and read on any other.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave/wave_format_ex.h"
#include "wavefile/cue_markers.h"

namespace velmar {

// The largest size of a 16-bit sample: |-32768|.
inline constexpr int kFullScale = 32768;

// dBFS of a peak sample size (0..32768): 20 log10(Peak / 32768); -inf for 0.
double PeakDb(int Peak);
// "-3.2 dBFS", "-inf dBFS" for digital silence.
std::string PeakDbText(int Peak);

// A track's clipped samples. A run of full-scale samples in one channel counts
// each of its samples; each run's first frame is marked, except that runs
// starting within half a second of a mark join it (a clipped drum fill is one
// mark, not a hundred).
class TClipCounter {
 public:
  static constexpr std::size_t kMostMarks = 1000;

  TClipCounter() = default;  // 16-bit 44.1 kHz stereo
  // Stereo audio of Format (16 or 24 bits).
  explicit TClipCounter(const WAVEFORMATEX& Format)
      : FSampleBytes(Format.wBitsPerSample / 8), FMarkGap(Format.nSamplesPerSec / 2) {}

  void Reset();
  // Audio whose first frame is the track's frame AtFrame.
  void Take(const std::uint8_t* Data, std::uint32_t Bytes, std::int64_t AtFrame);

  std::int64_t Samples() const { return FSamples; }
  std::int64_t FirstFrame() const { return FFirstFrame; }  // -1: none
  int Peak() const { return FPeak; }                       // the largest sample size seen
  // One labelled cue point per mark: "clipped 14 samples".
  std::vector<TCueMarker> Markers() const;

 private:
  struct TMark {
    std::int64_t Frame;
    std::int64_t Samples;
  };
  // Take for samples Width bytes wide (the width fixed for the loop).
  template <int Width>
  void TakeSamples(const std::uint8_t* Data, std::uint32_t Bytes, std::int64_t AtFrame);
  int FSampleBytes = 2;
  std::int64_t FMarkGap = 44100 / 2;  // half a second
  std::array<bool, 2> FInRun{};       // the channel's last sample was at full scale
  std::int64_t FSamples = 0;
  std::int64_t FFirstFrame = -1;
  int FPeak = 0;
  std::vector<TMark> FMarks;
};

// "Track03.wav: 14 clipped samples, first at 2:31.480" (empty when none).
std::string ClipText(const std::string& TrackName, std::int64_t Samples, std::int64_t FirstFrame,
                     std::uint32_t Rate = 44100);

// What the loudest peak of a recording says about the input level, aiming at
// peaks between -6 and -3 dBFS, as for digitising:
// "Loudest peak -0.0 dBFS, 3 tracks clipped: lower the input about 3 dB",
// "Loudest peak -21.0 dBFS: raise the input about 15 dB",
// "Loudest peak -4.2 dBFS: the input level is right".
std::string LevelAdvice(int Peak, int ClippedTracks);

// The meters' figures: each channel's highest peak and whether it reached
// full scale, since the last Reset. Take on the thread that has the audio;
// the rest on any thread.
class TPeakHold {
 public:
  // Stereo audio of samples SampleBytes wide (2 or 3); peaks at the 16-bit
  // scale, full scale at the samples' own.
  void Take(const std::uint8_t* Data, std::uint32_t Bytes, int SampleBytes = 2);
  void Reset();
  void ResetChannel(int Channel) {
    FPeak[Channel] = 0;
    FClipped[Channel] = false;
  }
  int Peak(int Channel) const { return FPeak[Channel]; }
  bool Clipped(int Channel) const { return FClipped[Channel]; }

 private:
  std::array<std::atomic<int>, 2> FPeak{};
  std::array<std::atomic<bool>, 2> FClipped{};
};

}  // namespace velmar
