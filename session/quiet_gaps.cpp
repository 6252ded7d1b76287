#include "session/quiet_gaps.h"

#include <algorithm>
#include <limits>

namespace velmar {

namespace {

constexpr int kFrameBytes = 4;

}  // namespace

void TQuietGapFinder::Add(const std::uint8_t* Data, std::size_t Bytes) {
  FFrames += static_cast<std::int64_t>(Bytes / kFrameBytes);
  while (Bytes > 0) {
    if (FPending.empty() && Bytes >= kBufferBytes) {
      Measure(Data, kBufferBytes);
      Data += kBufferBytes;
      Bytes -= kBufferBytes;
      continue;
    }
    const std::size_t Take = std::min(Bytes, kBufferBytes - FPending.size());
    FPending.insert(FPending.end(), Data, Data + Take);
    Data += Take;
    Bytes -= Take;
    if (FPending.size() == kBufferBytes) {
      Measure(FPending.data(), kBufferBytes);
      FPending.clear();
    }
  }
}

void TQuietGapFinder::Measure(const std::uint8_t* Buffer, int Bytes) {
  const int TimeGate = std::max(FRule.TimeGate, 1);
  FWindow.push_back({ChannelLevel(Buffer, 0, Bytes), ChannelLevel(Buffer, 1, Bytes)});
  if (static_cast<int>(FWindow.size()) > TimeGate) FWindow.erase(FWindow.begin());
  double Left = 0, Right = 0;
  for (const TChannelLevels& l : FWindow) Left += l.Left, Right += l.Right;
  // A window not yet whole is never quiet.
  FLevels.push_back(static_cast<int>(FWindow.size()) == TimeGate
                        ? static_cast<float>(std::max(Left, Right))
                        : std::numeric_limits<float>::max());
}

std::vector<float> TQuietGapFinder::LocalGates() const {
  // Each second's reference: the median window level of the 20 s around it
  // (the music there, whatever a stretch of quiet inside it does). A window
  // 20 dB under it is quiet too, unless it is plainly music (about -30 dBFS
  // over the window): surface noise between songs never is digital zero.
  const std::int64_t BufferFrames = kBufferBytes / kFrameBytes;
  const auto PerSecond = static_cast<std::size_t>(44100 / BufferFrames + 1);
  const std::size_t Around = 10 * PerSecond;
  const double Most = 1000.0 * std::max(FRule.TimeGate, 1) / 8;
  std::vector<float> Seconds;
  std::vector<float> Near;
  for (std::size_t At = 0; At < FLevels.size(); At += PerSecond) {
    Near.clear();
    const std::size_t From = At > Around ? At - Around : 0;
    const std::size_t To = std::min(FLevels.size(), At + Around);
    for (std::size_t i = From; i < To; ++i)
      if (FLevels[i] < std::numeric_limits<float>::max()) Near.push_back(FLevels[i]);
    float Gate = 0;
    if (!Near.empty()) {
      const auto Middle = Near.begin() + static_cast<std::ptrdiff_t>(Near.size() / 2);
      std::nth_element(Near.begin(), Middle, Near.end());
      Gate = static_cast<float>(std::min(*Middle / 10.0, Most));
    }
    Seconds.push_back(Gate);
  }
  std::vector<float> Gates(FLevels.size());
  for (std::size_t i = 0; i < Gates.size(); ++i) Gates[i] = Seconds[i / PerSecond];
  return Gates;
}

std::vector<TQuietGap> TQuietGapFinder::GapsBelow(double Gate,
                                                  const std::vector<float>& Local) const {
  const int TimeGate = std::max(FRule.TimeGate, 1);
  const std::int64_t BufferFrames = kBufferBytes / kFrameBytes;
  std::vector<TQuietGap> Gaps;
  bool InGap = false;
  TQuietGap Gap;
  for (std::size_t i = 0; i < FLevels.size(); ++i) {
    const auto Buffers = static_cast<std::int64_t>(i) + 1;
    const bool Quiet = FLevels[i] < std::max<double>(Gate, Local[i]);
    if (Quiet && !InGap) {
      InGap = true;
      Gap.Start = (Buffers - TimeGate) * BufferFrames;  // the window's first buffer
      Gap.Level = FLevels[i];
    }
    if (Quiet) {
      Gap.End = std::min(Buffers * BufferFrames, FFrames);
      Gap.Level = std::min(Gap.Level, FLevels[i]);
    }
    if (!Quiet && InGap) {
      InGap = false;
      Gaps.push_back(Gap);
    }
  }
  if (InGap) Gaps.push_back(Gap);
  return Gaps;
}

std::vector<TQuietGap> TQuietGapFinder::Finish() {
  if (!FPending.empty()) {
    Measure(FPending.data(), static_cast<int>(FPending.size()));
    FPending.clear();
  }
  if (FRule.NoiseGate <= 0) return {};  // a gate of 0 never splits
  return GapsBelow(FRule.NoiseGate, LocalGates());
}

int TQuietGapFinder::GateFor(int Tracks, std::int64_t MinFrames) const {
  const std::vector<float> Local = LocalGates();
  for (int Gate = 1; Gate <= 100; ++Gate) {
    const auto Cuts = CutsForTracks(GapsBelow(Gate, Local), FFrames, Tracks, MinFrames);
    if (static_cast<int>(Cuts.size()) + 1 >= Tracks) return Gate;
  }
  return -1;
}

std::vector<std::int64_t> CutsForTracks(const std::vector<TQuietGap>& Gaps, std::int64_t Frames,
                                        int Tracks, std::int64_t MinFrames) {
  std::vector<TQuietGap> Inside;
  for (const TQuietGap& g : Gaps)
    if (g.Start > 0 && g.End < Frames) Inside.push_back(g);
  // The longest first; of equal ones the earlier.
  std::stable_sort(Inside.begin(), Inside.end(),
                   [](const TQuietGap& a, const TQuietGap& b) { return a.Length() > b.Length(); });
  std::vector<std::int64_t> Cuts;
  for (const TQuietGap& g : Inside) {
    if (static_cast<int>(Cuts.size()) >= Tracks - 1) break;
    const std::int64_t Cut = g.Middle();
    const auto Next = std::upper_bound(Cuts.begin(), Cuts.end(), Cut);
    const std::int64_t Before = Next == Cuts.begin() ? 0 : *(Next - 1);
    const std::int64_t After = Next == Cuts.end() ? Frames : *Next;
    if (Cut - Before < MinFrames || After - Cut < MinFrames) continue;
    Cuts.insert(Next, Cut);
  }
  return Cuts;
}

}  // namespace velmar
