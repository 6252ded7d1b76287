// ReplayGain 2.0 from EBU R128 loudness: a track's integrated loudness
// measured while it is encoded (no second read of the audio), its gain to the
// -18 LUFS reference and its true peak; an album's gain and peak from its
// tracks' measurements together, once every track is done.
//
// One TLoudness per file, fed on the thread that encodes it; the album is
// taken after those threads are done.
#pragma once

#include <ebur128.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "restore/true_peak.h"

namespace velmar {

// The reference loudness of ReplayGain 2.0.
inline constexpr double kReplayGainReference = -18.0;

struct TReplayGain {
  double Gain = 0;     // dB to add to reach the reference
  double Peak = 0;     // the largest true peak, full scale 1.0
  bool Known = false;  // false: silence only, or nothing measured
};

class TLoudness {
 public:
  TLoudness(unsigned Channels, unsigned long Rate);
  ~TLoudness();
  TLoudness(const TLoudness&) = delete;
  TLoudness& operator=(const TLoudness&) = delete;

  // Frames of interleaved samples, full scale 1.0.
  void Add(const double* Samples, std::size_t Frames);
  // The track's figures as measured so far (not Known when the meter failed
  // to take some of the audio).
  TReplayGain Track() const;
  // The album of these tracks (the tracks' gated blocks together).
  static TReplayGain Album(const std::vector<const TLoudness*>& Tracks);

 private:
  struct TStateDeleter {
    void operator()(ebur128_state* s) const;
  };
  std::unique_ptr<ebur128_state, TStateDeleter> FState;
  TTruePeak FTruePeak;
  bool FFailed = false;
};

// The tags' texts: "-3.21 dB", "0.988525".
std::string GainText(double Gain);
std::string PeakText(double Peak);

}  // namespace velmar
