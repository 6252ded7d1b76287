#include "session/clip_watch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "session/track_rule.h"
#include "stream/pcm_samples.h"

namespace velmar {

namespace {

// The loudest peak a digitised side should reach, and the highest it should.
constexpr double kAimDb = -6;
constexpr double kHighestDb = -3;
// Clipped, the input is lowered by this much (how far over full scale the
// signal went is not known).
constexpr int kLowerDb = 3;

}  // namespace

double PeakDb(int Peak) {
  return Peak <= 0 ? -INFINITY : 20 * std::log10(static_cast<double>(Peak) / kFullScale);
}

std::string PeakDbText(int Peak) {
  if (Peak <= 0) return "-inf dBFS";
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.1f dBFS", PeakDb(Peak));
  return Text;
}

void TClipCounter::Reset() {
  FInRun = {};
  FSamples = 0;
  FFirstFrame = -1;
  FPeak = 0;
  FMarks.clear();
}

void TClipCounter::Take(const std::uint8_t* Data, std::uint32_t Bytes, std::int64_t AtFrame) {
  if (FSampleBytes == 3)
    TakeSamples<3>(Data, Bytes, AtFrame);
  else
    TakeSamples<2>(Data, Bytes, AtFrame);
}

template <int Width>
void TClipCounter::TakeSamples(const std::uint8_t* Data, std::uint32_t Bytes,
                               std::int64_t AtFrame) {
  constexpr std::uint32_t Block = 2 * Width;
  constexpr int Shift = 8 * (Width - 2);
  constexpr std::int32_t Most = (1 << (8 * Width - 1)) - 1;
  const std::uint32_t Frames = Bytes / Block;
  for (std::uint32_t f = 0; f < Frames; ++f) {
    for (int c = 0; c < 2; ++c) {
      const std::int32_t s = PcmSample(Data + Block * f + Width * c, Width);
      FPeak = std::max(FPeak, std::abs(s) >> Shift);
      const bool Full = s == Most || s == -Most - 1;
      if (!Full) {
        FInRun[c] = false;
        continue;
      }
      ++FSamples;
      if (FInRun[c]) {
        if (!FMarks.empty()) ++FMarks.back().Samples;
        continue;
      }
      FInRun[c] = true;
      const std::int64_t Frame = AtFrame + f;
      if (FFirstFrame < 0) FFirstFrame = Frame;
      if (!FMarks.empty() && Frame - FMarks.back().Frame < FMarkGap)
        ++FMarks.back().Samples;
      else if (FMarks.size() < kMostMarks)
        FMarks.push_back({Frame, 1});
    }
  }
}

std::vector<TCueMarker> TClipCounter::Markers() const {
  std::vector<TCueMarker> Markers;
  for (const TMark& m : FMarks)
    Markers.push_back(
        {static_cast<std::uint32_t>(m.Frame),
         "clipped " + std::to_string(m.Samples) + (m.Samples == 1 ? " sample" : " samples")});
  return Markers;
}

std::string ClipText(const std::string& TrackName, std::int64_t Samples, std::int64_t FirstFrame,
                     std::uint32_t Rate) {
  if (Samples <= 0) return {};
  return TrackName + ": " + std::to_string(Samples) +
         (Samples == 1 ? " clipped sample" : " clipped samples") + ", first at " +
         TimeToText(std::llround(static_cast<double>(FirstFrame) * 1000 / Rate));
}

std::string LevelAdvice(int Peak, int ClippedTracks) {
  if (Peak <= 0) return "The input was digital silence: nothing reached it";
  const std::string Loudest = "Loudest peak " + PeakDbText(Peak);
  if (ClippedTracks > 0)
    return Loudest + ", " + std::to_string(ClippedTracks) +
           (ClippedTracks == 1 ? " track" : " tracks") + " clipped: lower the input about " +
           std::to_string(kLowerDb) + " dB";
  const double Db = PeakDb(Peak);
  if (Db < kAimDb - 0.5)
    return Loudest + ": raise the input about " + std::to_string(std::lround(kAimDb - Db)) + " dB";
  if (Db > kHighestDb)
    return Loudest + ": close to clipping, lower the input about " +
           std::to_string(std::max(1L, std::lround(Db - kHighestDb))) + " dB";
  return Loudest + ": the input level is right";
}

void TPeakHold::Take(const std::uint8_t* Data, std::uint32_t Bytes, int SampleBytes) {
  std::array<int, 2> Peak{};
  std::array<bool, 2> Full{};
  const auto Block = static_cast<std::uint32_t>(2 * SampleBytes);
  const int Shift = 8 * (SampleBytes - 2);
  const std::int32_t Most = (1 << (8 * SampleBytes - 1)) - 1;
  for (std::uint32_t i = 0; i + Block <= Bytes; i += Block)
    for (int c = 0; c < 2; ++c) {
      const std::int32_t s = PcmSample(Data + i + SampleBytes * c, SampleBytes);
      Peak[c] = std::max(Peak[c], std::abs(s) >> Shift);
      Full[c] = Full[c] || s == Most || s == -Most - 1;
    }
  for (int c = 0; c < 2; ++c) {
    // Only this thread raises it; a Reset meanwhile may lower it.
    if (Peak[c] > FPeak[c]) FPeak[c] = Peak[c];
    if (Full[c]) FClipped[c] = true;
  }
}

void TPeakHold::Reset() {
  for (int c = 0; c < 2; ++c) {
    FPeak[c] = 0;
    FClipped[c] = false;
  }
}

}  // namespace velmar
