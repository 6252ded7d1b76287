// One hour of 44100 Hz 16-bit stereo (635 MB) written and read back through the
// WAV layer, against plain buffered stdio writes and reads of the same bytes in
// the same pieces (the recorder's 8096-byte buffers, a 32 KiB file buffer).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "stream/wave_format.h"
#include "wavefile/wave_file_io.h"

namespace {

using namespace velmar;

constexpr std::int32_t kPiece = 8096;
constexpr std::int32_t kFileBuffer = 32768;
constexpr std::int64_t kHourBytes = 44100LL * 4 * 3600;
constexpr std::int64_t kPieces = kHourBytes / kPiece;

std::string BenchFile(const char* Name) {
  return "/tmp/velmar-bench-" + std::to_string(::getpid()) + "-" + Name;
}

std::vector<char> Piece() {
  std::vector<char> p(kPiece);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 31);
  return p;
}

void Count(benchmark::State& State) {
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * kPieces * kPiece);
}

void WriteHourOurs(const std::string& Name) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, 16, 2, 44100);
  TWaveFileBlock* b = WaveFileFromFormat(&f);
  WaveFileCreate(b, Name);
  WaveFileSetBuffer(b, kFileBuffer);
  const auto p = Piece();
  for (std::int64_t i = 0; i < kPieces; ++i) WaveFileWrite(b, p.data(), kPiece);
  WaveFileClose(b);
  WaveFileFree(b);
}

void WriteHourPeer(const std::string& Name) {
  FILE* f = std::fopen(Name.c_str(), "wb");
  std::setvbuf(f, nullptr, _IOFBF, kFileBuffer);
  const auto p = Piece();
  for (std::int64_t i = 0; i < kPieces; ++i) std::fwrite(p.data(), 1, kPiece, f);
  std::fclose(f);
}

void WaveWriteHour_ours(benchmark::State& State) {
  const std::string Name = BenchFile("ours.wav");
  for (auto _ : State) WriteHourOurs(Name);
  ::unlink(Name.c_str());
  Count(State);
}

void WaveWriteHour_peer(benchmark::State& State) {
  const std::string Name = BenchFile("peer.raw");
  for (auto _ : State) WriteHourPeer(Name);
  ::unlink(Name.c_str());
  Count(State);
}

void WaveReadHour_ours(benchmark::State& State) {
  const std::string Name = BenchFile("ours.wav");
  WriteHourOurs(Name);
  std::vector<char> p(kPiece);
  for (auto _ : State) {
    TWaveFileBlock* b = nullptr;
    WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, b);
    WaveFileReopen(b);
    WaveFileSetBuffer(b, kFileBuffer);
    std::int64_t Total = 0;
    for (std::int32_t n; (n = WaveFileRead(b, p.data(), kPiece)) > 0;) Total += n;
    benchmark::DoNotOptimize(Total);
    WaveFileFree(b);
  }
  ::unlink(Name.c_str());
  Count(State);
}

void WaveReadHour_peer(benchmark::State& State) {
  const std::string Name = BenchFile("peer.raw");
  WriteHourPeer(Name);
  std::vector<char> p(kPiece);
  for (auto _ : State) {
    FILE* f = std::fopen(Name.c_str(), "rb");
    std::setvbuf(f, nullptr, _IOFBF, kFileBuffer);
    std::int64_t Total = 0;
    for (size_t n; (n = std::fread(p.data(), 1, kPiece, f)) > 0;)
      Total += static_cast<std::int64_t>(n);
    benchmark::DoNotOptimize(Total);
    std::fclose(f);
  }
  ::unlink(Name.c_str());
  Count(State);
}

}  // namespace

BENCHMARK(WaveWriteHour_ours)
    ->Name("WaveWriteHour/ours")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WaveWriteHour_peer)
    ->Name("WaveWriteHour/peer")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WaveReadHour_ours)
    ->Name("WaveReadHour/ours")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WaveReadHour_peer)
    ->Name("WaveReadHour/peer")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
