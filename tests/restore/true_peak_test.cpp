// The true peak measured on the stretches that can lift it is the figure of
// the loudness library's whole oversampling (the one loudgain reports), at
// every rate it oversamples differently, fed in any pieces; and a crest that
// falls between samples is found.
#include "restore/true_peak.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace velmar {
namespace {

// Music-like stereo: notes that swell and decay over noise, a loud passage
// in the middle and a crest between samples near its end.
std::vector<double> Programme(unsigned long Rate, std::size_t Frames, unsigned Seed) {
  std::mt19937 Random(Seed);
  std::normal_distribution<double> Noise(0, 0.01);
  std::vector<double> x(2 * Frames);
  for (std::size_t n = 0; n < Frames; ++n) {
    const double t = static_cast<double>(n) / static_cast<double>(Rate);
    const double Swell = 0.2 + 0.15 * std::sin(2 * M_PI * 0.7 * t);
    const double Loud = n > Frames / 2 && n < Frames / 2 + Frames / 10 ? 2.5 : 1.0;
    for (int c = 0; c < 2; ++c)
      x[2 * n + c] =
          Loud * Swell *
              (std::sin(2 * M_PI * (220 + 110 * c) * t) + 0.5 * std::sin(2 * M_PI * 3520 * t + c)) +
          Noise(Random);
  }
  // A burst at a quarter of the rate whose samples straddle its crest.
  const std::size_t At = Frames / 2 + Frames / 10 - Rate / 10;
  for (std::size_t i = 0; i < Rate / 100; ++i)
    x[2 * (At + i)] += 0.3 * std::sin(M_PI / 2 * static_cast<double>(i) + M_PI / 4);
  return x;
}

double LibraryTruePeak(const std::vector<double>& x, unsigned long Rate) {
  ebur128_state* s = ebur128_init(2, Rate, EBUR128_MODE_TRUE_PEAK);
  ebur128_add_frames_double(s, x.data(), x.size() / 2);
  double Peak = 0;
  for (unsigned c = 0; c < 2; ++c) {
    double p = 0;
    ebur128_true_peak(s, c, &p);
    Peak = std::max(Peak, p);
  }
  ebur128_destroy(&s);
  return Peak;
}

TEST(TruePeak, EqualsTheWholeOversamplingAtEveryRateInAnyPieces) {
  for (const unsigned long Rate : {44100ul, 48000ul, 96000ul, 192000ul}) {
    const std::size_t Frames = 20 * Rate;
    const std::vector<double> x = Programme(Rate, Frames, static_cast<unsigned>(Rate));
    const double Expected = LibraryTruePeak(x, Rate);
    TTruePeak Whole(2, Rate);
    Whole.Add(x.data(), Frames);
    // The library oversamples in single precision.
    EXPECT_NEAR(Whole.Peak(), Expected, 2e-6 * Expected) << Rate << " Hz";
    if (Rate < 192000) {
      double SamplePeak = 0;
      for (const double v : x) SamplePeak = std::max(SamplePeak, std::abs(v));
      EXPECT_GT(Whole.Peak(), SamplePeak * 1.01) << Rate << " Hz: the crest between samples";
      // What cannot lift the peak found so far is not oversampled: here most
      // of what follows the first swell.
      std::printf("%lu Hz: %zu of %zu stretches oversampled\n", Rate, Whole.Oversampled(),
                  Whole.Stretches());
      EXPECT_LT(Whole.Oversampled(), Whole.Stretches() / 2) << Rate << " Hz";
    }
    TTruePeak Pieces(2, Rate);
    std::mt19937 Random(7);
    for (std::size_t At = 0; At < Frames;) {
      const std::size_t n = std::min<std::size_t>(Frames - At, 1 + Random() % 3000);
      Pieces.Add(x.data() + 2 * At, n);
      At += n;
    }
    EXPECT_DOUBLE_EQ(Pieces.Peak(), Whole.Peak()) << Rate << " Hz";
  }
}

}  // namespace
}  // namespace velmar
