#include "session/quiet_gaps.h"

#include <algorithm>

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
  ++FBuffers;
  bool Quiet = false;
  if (static_cast<int>(FWindow.size()) == TimeGate) {
    double Left = 0, Right = 0;
    for (const TChannelLevels& l : FWindow) Left += l.Left, Right += l.Right;
    Quiet = FRule.NoiseGate > Left && FRule.NoiseGate > Right;
  }
  const std::int64_t BufferFrames = kBufferBytes / kFrameBytes;
  if (Quiet && !FInGap) {
    FInGap = true;
    FGap.Start = (FBuffers - TimeGate) * BufferFrames;  // the window's first buffer
  }
  if (Quiet) FGap.End = FBuffers * BufferFrames;
  if (!Quiet && FInGap) {
    FInGap = false;
    FGaps.push_back(FGap);
  }
}

std::vector<TQuietGap> TQuietGapFinder::Finish() {
  if (!FPending.empty()) {
    Measure(FPending.data(), static_cast<int>(FPending.size()));
    FPending.clear();
  }
  if (FInGap) {
    FInGap = false;
    FGaps.push_back(FGap);
  }
  for (TQuietGap& g : FGaps) g.End = std::min(g.End, FFrames);
  return FGaps;
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
