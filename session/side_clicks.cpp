#include "session/side_clicks.h"

#include <algorithm>
#include <cmath>

#include "session/side_audio.h"

namespace velmar {

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kChunk = 1 << 16;  // frames read at a time
constexpr std::int64_t kContext = kRate;  // frames either side of a stretch to listen to

std::vector<float> Floats(const std::vector<std::int16_t>& Samples) {
  std::vector<float> x(Samples.size());
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(Samples[i]) / 32768.0f;
  return x;
}

}  // namespace

bool TSideClicks::Find(const TSideAudio& Audio, const std::atomic<bool>& Cancel,
                       std::atomic<std::int64_t>& Done) {
  Clear();
  TClickRepair Repair(2, kRate);
  std::vector<std::int16_t> Samples;
  std::vector<float> Out(2 * kChunk);
  for (std::int64_t At = 0; At < Audio.Frames(); At += kChunk) {
    if (Cancel) return false;
    const std::int64_t n = std::min(kChunk, Audio.Frames() - At);
    Samples.resize(static_cast<std::size_t>(2 * n));
    Audio.Read(At, Samples.data(), n);
    Repair.Add(Floats(Samples).data(), static_cast<std::size_t>(n));
    while (Repair.Take(Out.data(), kChunk) > 0) {
    }
    Done = At + n;
  }
  Repair.Finish();
  FClicks = Repair.Clicks();
  std::stable_sort(FClicks.begin(), FClicks.end(),
                   [](const TClick& a, const TClick& b) { return a.Frame < b.Frame; });
  FDropped.assign(FClicks.size(), false);
  FFound = true;
  return true;
}

void TSideClicks::Clear() {
  FClicks.clear();
  FDropped.clear();
  FFound = false;
}

std::size_t TSideClicks::Kept() const {
  return static_cast<std::size_t>(std::count(FDropped.begin(), FDropped.end(), false));
}

int TSideClicks::Next(std::int64_t Frame, int Step) const {
  if (Step > 0) {
    for (std::size_t i = 0; i < FClicks.size(); ++i)
      if (FClicks[i].Frame > Frame) return static_cast<int>(i);
  } else {
    for (std::size_t i = FClicks.size(); i-- > 0;)
      if (FClicks[i].Frame < Frame) return static_cast<int>(i);
  }
  return -1;
}

bool TSideClicks::Kept(const TClick& c, std::int64_t Offset) const {
  const std::int64_t From = c.Frame + Offset, To = From + c.Length;
  const auto First = std::lower_bound(FClicks.begin(), FClicks.end(), From - kRate / 100,
                                      [](const TClick& k, std::int64_t f) { return k.Frame < f; });
  for (auto k = First; k != FClicks.end() && k->Frame < To; ++k)
    if (k->Channel == c.Channel && k->Frame + k->Length > From &&
        !FDropped[static_cast<std::size_t>(k - FClicks.begin())])
      return true;
  return false;
}

std::vector<std::int16_t> TSideClicks::Repaired(const TSideAudio& Audio, std::int64_t From,
                                                std::int64_t To) const {
  // The stretch with a second either side, so that its edges are judged as
  // the whole side's run judged them.
  const std::int64_t Start = std::max<std::int64_t>(0, From - kContext);
  const std::int64_t End = std::min(Audio.Frames(), To + kContext);
  std::vector<std::int16_t> Samples(
      static_cast<std::size_t>(2 * std::max<std::int64_t>(End - Start, 0)));
  Audio.Read(Start, Samples.data(), End - Start);
  std::vector<float> x = Floats(Samples);
  TClickOptions Options;
  Options.Accept = [this, Start](const TClick& c) { return Kept(c, Start); };
  RepairClicks(x, 2, kRate, Options);
  std::vector<std::int16_t> Out(static_cast<std::size_t>(2 * std::max<std::int64_t>(To - From, 0)));
  for (std::size_t i = 0; i < Out.size(); ++i)
    Out[i] = static_cast<std::int16_t>(
        std::clamp(std::lround(x[static_cast<std::size_t>(2 * (From - Start)) + i] * 32768.0),
                   -32768L, 32767L));
  return Out;
}

TClickOptions TSideClicks::Options() const {
  TClickOptions Options;
  Options.Accept = [this](const TClick& c) { return Kept(c, 0); };
  return Options;
}

}  // namespace velmar
