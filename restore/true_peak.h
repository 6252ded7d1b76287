// The true peak of audio: the largest magnitude of the signal between its
// samples as well as at them, found by oversampling (4 times below 96 kHz,
// twice below 192 kHz, not at all above) with a 49-tap windowed-sinc
// interpolator, as the loudness standard describes and the peers measure it.
//
// Oversampling was most of the loudness measurement's cost, and nearly all of it
// is spent where nothing can change: a stretch whose samples, times the
// interpolator's largest gain, stay under the peak found so far cannot lift
// it. Only the other stretches are oversampled, so the figure is the one a
// whole oversampling gives.
//
// One object per file, fed on one thread.
#pragma once

#include <cstddef>
#include <vector>

namespace velmar {

class TTruePeak {
 public:
  TTruePeak(unsigned Channels, unsigned long Rate);

  // Frames of interleaved samples, full scale 1.0.
  void Add(const double* Samples, std::size_t Frames);
  // The largest true peak of any channel so far (full scale 1.0).
  double Peak() const { return FPeak; }
  // Stretches looked at and stretches oversampled (how much was passed over).
  std::size_t Stretches() const { return FStretches; }
  std::size_t Oversampled() const { return FOversampled; }

 private:
  void Oversample(const double* x, std::size_t Count);

  unsigned FChannels;
  unsigned FFactor;                          // 1: the samples are the peak
  std::vector<std::vector<double>> FPhases;  // each phase's taps, newest sample first
  std::size_t FHistory = 0;                  // samples of the past a phase reads
  double FGain = 1;                          // the largest sum of a phase's |taps|
  std::vector<std::vector<double>> FPast;    // per channel: FHistory samples, then a stretch
  std::vector<double> FOut;                  // a phase's values over a stretch
  double FPeak = 0;
  std::size_t FStretches = 0, FOversampled = 0;
};

}  // namespace velmar
