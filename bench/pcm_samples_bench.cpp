// Sample-width conversion against a plain loop over int16_t doing the same work
// (the peer), on one second of 44100 Hz stereo.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "stream/pcm_samples.h"

namespace {

constexpr std::uint32_t kBytes = 176400;

std::vector<std::uint8_t> Noise() {
  std::vector<std::uint8_t> Data(kBytes);
  std::mt19937 Random(7);
  for (auto& b : Data) b = static_cast<std::uint8_t>(Random());
  return Data;
}

void ConvertBits16To8_ours(benchmark::State& State) {
  const auto Src = Noise();
  std::vector<std::uint8_t> Dst(kBytes / 2);
  for (auto _ : State) {
    benchmark::DoNotOptimize(velmar::ConvertBits(8, Dst.data(), 16, kBytes, Src.data()));
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * kBytes);
}

void ConvertBits16To8_peer(benchmark::State& State) {
  const auto Src = Noise();
  std::vector<std::int16_t> Samples(kBytes / 2);
  std::memcpy(Samples.data(), Src.data(), kBytes);
  std::vector<std::uint8_t> Dst(kBytes / 2);
  for (auto _ : State) {
    for (size_t i = 0; i < Samples.size(); ++i)
      Dst[i] = static_cast<std::uint8_t>(Samples[i] / 256 + 128);
    benchmark::DoNotOptimize(Dst.data());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * kBytes);
}

}  // namespace

BENCHMARK(ConvertBits16To8_ours)->Name("ConvertBits16To8/ours");
BENCHMARK(ConvertBits16To8_peer)->Name("ConvertBits16To8/peer");
