#include "restore/true_peak.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmar {

namespace {

constexpr int kTaps = 49;
constexpr std::size_t kStretch = 32;  // frames judged together: short, to pass over more

}  // namespace

TTruePeak::TTruePeak(unsigned Channels, unsigned long Rate)
    : FChannels(Channels),
      FFactor(Rate < 96000    ? 4
              : Rate < 192000 ? 2
                              : 1) {
  // The sinc of the oversampled rate's band, under a Hann window; tap j
  // belongs to phase j % Factor and reads the sample j / Factor before the
  // newest. Phase 0 is the sample itself (its other taps fall on the sinc's
  // zeros), so only the phases between samples are computed.
  FHistory = (kTaps - 1) / FFactor;
  FPhases.assign(FFactor, std::vector<double>(FHistory + 1, 0.0));
  for (int j = 0; j < kTaps; ++j) {
    const double m = j - (kTaps - 1) / 2.0;
    const double Arg = m * std::numbers::pi / FFactor;
    double c = std::abs(m) > 1e-6 ? std::sin(Arg) / Arg : 1.0;
    c *= 0.5 * (1 - std::cos(2 * std::numbers::pi * j / (kTaps - 1)));
    if (std::abs(c) > 1e-6) FPhases[j % FFactor][j / FFactor] = c;
  }
  for (unsigned f = 1; f < FFactor; ++f) {
    double Sum = 0;
    for (const double c : FPhases[f]) Sum += std::abs(c);
    FGain = std::max(FGain, Sum);
  }
  FPast.assign(Channels, std::vector<double>(FHistory, 0.0));
}

void TTruePeak::Add(const double* Samples, std::size_t Frames) {
  for (std::size_t Start = 0; Start < Frames; Start += kStretch) {
    const std::size_t Count = std::min(kStretch, Frames - Start);
    for (unsigned c = 0; c < FChannels; ++c) {
      std::vector<double>& x = FPast[c];
      x.resize(FHistory + Count);
      double Most = 0;
      for (std::size_t i = 0; i < FHistory; ++i) Most = std::max(Most, std::abs(x[i]));
      for (std::size_t i = 0; i < Count; ++i) {
        const double v = Samples[(Start + i) * FChannels + c];
        x[FHistory + i] = v;
        Most = std::max(Most, std::abs(v));
      }
      FPeak = std::max(FPeak, Most);  // the samples themselves
      ++FStretches;
      if (FFactor > 1 && Most * FGain > FPeak) {
        ++FOversampled;
        Oversample(x.data(), Count);
      }
      std::copy(x.end() - static_cast<std::ptrdiff_t>(FHistory), x.end(), x.begin());
    }
  }
}

void TTruePeak::Oversample(const double* x, std::size_t Count) {
  // Phase by phase, tap by tap over the whole stretch: the inner loop runs
  // over consecutive samples, which the compiler does several at a time.
  FOut.resize(Count);
  double* const y = FOut.data();
  double Most = FPeak;
  for (unsigned f = 1; f < FFactor; ++f) {
    std::fill(y, y + Count, 0.0);
    for (std::size_t k = 0; k <= FHistory; ++k) {
      const double c = FPhases[f][k];
      if (c == 0) continue;
      const double* const From = x + FHistory - k;
      for (std::size_t i = 0; i < Count; ++i) y[i] += c * From[i];
    }
    for (std::size_t i = 0; i < Count; ++i) Most = std::max(Most, std::abs(y[i]));
  }
  FPeak = Most;
}

}  // namespace velmar
