#include "session/gate_from_noise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "session/track_rule.h"

namespace velmar {

TGateFromNoise GateFromNoise(const std::uint8_t* Pcm, std::size_t Bytes, int TimeGate,
                             int BufferBytes, int SampleBytes) {
  TGateFromNoise Result;
  if (BufferBytes <= 0 || TimeGate <= 0) return Result;
  const std::size_t Buffers = Bytes / static_cast<std::size_t>(BufferBytes);
  if (Buffers < static_cast<std::size_t>(TimeGate)) return Result;
  std::vector<TChannelLevels> Levels(Buffers);
  for (std::size_t i = 0; i < Buffers; ++i) {
    const std::uint8_t* Buffer = Pcm + i * static_cast<std::size_t>(BufferBytes);
    Levels[i] = {ChannelLevel(Buffer, 0, BufferBytes, SampleBytes),
                 ChannelLevel(Buffer, 1, BufferBytes, SampleBytes)};
  }
  // The loudest sum of TimeGate buffers' levels, of either channel: the rule
  // compares each channel's sum with the gate.
  double Loudest = 0;
  for (std::size_t First = 0; First + static_cast<std::size_t>(TimeGate) <= Buffers; ++First) {
    double Left = 0, Right = 0;
    for (std::size_t i = First; i < First + static_cast<std::size_t>(TimeGate); ++i) {
      Left += Levels[i].Left;
      Right += Levels[i].Right;
    }
    Loudest = std::max({Loudest, Left, Right});
  }
  Result.Measured = true;
  // A buffer's level is its samples' average size / 16 (see NoiseGateDb).
  Result.NoiseDb = Loudest > 0 ? 20 * std::log10(16 * Loudest / TimeGate / 32768)
                               : -std::numeric_limits<double>::infinity();
  // Quiet is a sum under the gate: the least whole gate above the noise with
  // the margin.
  const double Wanted = Loudest * std::pow(10.0, kGateMarginDb / 20);
  const double Gate = std::floor(Wanted) + 1;
  Result.TooLoud = Gate > 100;
  Result.Gate = static_cast<int>(std::clamp(Gate, 1.0, 100.0));
  return Result;
}

void TGateListener::Start(std::size_t Bytes) {
  std::lock_guard<std::mutex> Hold(FLock);
  FAudio.clear();
  FAudio.reserve(Bytes);  // the input's thread only copies into it
  FWanted = Bytes;
}

bool TGateListener::Take(const std::uint8_t* Data, std::size_t Bytes) {
  std::lock_guard<std::mutex> Hold(FLock);
  if (FWanted == 0 || FAudio.size() >= FWanted) return false;
  FAudio.insert(FAudio.end(), Data, Data + std::min(Bytes, FWanted - FAudio.size()));
  return FAudio.size() >= FWanted;
}

TGateFromNoise TGateListener::Heard(int TimeGate, int BufferBytes, std::size_t& Got,
                                    int SampleBytes) {
  std::vector<std::uint8_t> Audio;
  {
    std::lock_guard<std::mutex> Hold(FLock);
    FWanted = 0;
    Audio.swap(FAudio);
  }
  Got = Audio.size();
  return GateFromNoise(Audio.data(), Audio.size(), TimeGate, BufferBytes, SampleBytes);
}

void TGateListener::Stop() {
  std::lock_guard<std::mutex> Hold(FLock);
  FWanted = 0;
  FAudio.clear();
}

}  // namespace velmar
