#include "restore/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace velmar {

void TLoudness::TStateDeleter::operator()(ebur128_state* s) const {
  ebur128_destroy(&s);
}

TLoudness::TLoudness(unsigned Channels, unsigned long Rate)
    : FState(ebur128_init(Channels, Rate, EBUR128_MODE_I)), FTruePeak(Channels, Rate) {
  if (!FState) throw std::runtime_error("the loudness meter does not take this audio");
}

TLoudness::~TLoudness() = default;

void TLoudness::Add(const double* Samples, std::size_t Frames) {
  // A block the meter could not take (it ran out of memory) would leave the
  // figures short of it: they are not given at all then.
  if (ebur128_add_frames_double(FState.get(), Samples, Frames) != EBUR128_SUCCESS) FFailed = true;
  FTruePeak.Add(Samples, Frames);
}

namespace {

TReplayGain FromLoudness(double Lufs, double Peak) {
  if (!std::isfinite(Lufs)) return {};
  return {kReplayGainReference - Lufs, Peak, true};
}

}  // namespace

TReplayGain TLoudness::Track() const {
  if (FFailed) return {};
  double Lufs = -HUGE_VAL;
  if (ebur128_loudness_global(FState.get(), &Lufs) != EBUR128_SUCCESS) return {};
  return FromLoudness(Lufs, FTruePeak.Peak());
}

TReplayGain TLoudness::Album(const std::vector<const TLoudness*>& Tracks) {
  std::vector<ebur128_state*> States;
  double Peak = 0;
  for (const TLoudness* t : Tracks) {
    if (t->FFailed) return {};
    States.push_back(t->FState.get());
    Peak = std::max(Peak, t->FTruePeak.Peak());
  }
  double Lufs = -HUGE_VAL;
  if (States.empty() ||
      ebur128_loudness_global_multiple(States.data(), States.size(), &Lufs) != EBUR128_SUCCESS)
    return {};
  return FromLoudness(Lufs, Peak);
}

std::string GainText(double Gain) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.2f dB", Gain);
  return Text;
}

std::string PeakText(double Peak) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.6f", Peak);
  return Text;
}

}  // namespace velmar
