// Decode throughput of IMA ADPCM and MS ADPCM files: ten minutes of stereo
// 44100 Hz audio encoded by ffmpeg, decoded to PCM through our playback stages
// (wave file -> ADPCM stage -> PCM converter, pulled in 8192-byte buffers) and
// by ffmpeg into /dev/null, both timed in CPU seconds (ffmpeg's from its
// resource usage). Reported as seconds of audio per CPU second; the ratio line
// compares CPU times.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "wavefile/acm_converter.h"
#include "wavefile/adpcm_converter.h"
#include "wavefile/wave_file.h"

namespace {

using namespace velmar;

constexpr double kAudioSeconds = 600;

// The encoded files, removed when the program ends.
struct Files {
  std::vector<std::string> Names;
  ~Files() {
    for (const auto& n : Names) ::unlink(n.c_str());
  }
} Made;

std::string Encoded(const std::string& Codec) {
  const std::string Dir = "/tmp/velmar-bench-" + std::to_string(::getpid());
  const std::string Name = Dir + "-" + Codec + ".wav";
  if (::access(Name.c_str(), R_OK) == 0) return Name;
  const std::string Source = Dir + "-source.wav";
  const std::string Command =
      "sox -n -r 44100 -b 16 -c 2 " + Source +
      " synth 600 sine 50-15000 synth 600 pinknoise mix vol 0.6 2>/dev/null && "
      "ffmpeg -v error -y -i " +
      Source + " -c:a " + Codec + " " + Name + " && rm -f " + Source;
  if (std::system(Command.c_str()) != 0) return {};
  Made.Names.push_back(Name);
  return Name;
}

double ProcessCpu() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ChildrenCpu() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Pulls the whole file through the player's conversion stages.
std::size_t DecodeOurs(const std::string& Name) {
  TMMWaveFile File;
  TMMADPCMConverter Adpcm;
  TMMPCMConverter Pcm;
  File.Wave()->SetFileName(Name);
  File.SetOutput(&Adpcm);
  Adpcm.SetOutput(&Pcm);
  Adpcm.SetEnabled(Adpcm.CanHandle());
  for (TMMDSPComponent* c :
       {static_cast<TMMDSPComponent*>(&File), static_cast<TMMDSPComponent*>(&Adpcm),
        static_cast<TMMDSPComponent*>(&Pcm)}) {
    c->Opened();
    c->Started();
  }
  std::vector<char> Buffer(8192);
  TMMWaveHdr h{};
  h.wh.lpData = Buffer.data();
  std::size_t Total = 0;
  bool More = true;
  while (More) {
    More = PullBuffer(Pcm, &h, 8192);
    Total += h.wh.dwBytesRecorded;
  }
  return Total;
}

void Report(benchmark::State& State, double Cpu) {
  State.counters["audio_s_per_cpu_s"] =
      kAudioSeconds * static_cast<double>(State.iterations()) / Cpu;
}

void Ours(benchmark::State& State, const std::string& Codec) {
  const std::string Name = Encoded(Codec);
  if (Name.empty()) return State.SkipWithError("could not encode the test file");
  double Cpu = 0;
  for (auto _ : State) {
    const double Before = ProcessCpu();
    benchmark::DoNotOptimize(DecodeOurs(Name));
    const double Spent = ProcessCpu() - Before;
    State.SetIterationTime(Spent);
    Cpu += Spent;
  }
  Report(State, Cpu);
}

void Peer(benchmark::State& State, const std::string& Codec) {
  const std::string Name = Encoded(Codec);
  if (Name.empty()) return State.SkipWithError("could not encode the test file");
  double Cpu = 0;
  for (auto _ : State) {
    const double Before = ChildrenCpu();
    const pid_t Child = ::fork();
    if (Child == 0) {
      ::execlp("ffmpeg", "ffmpeg", "-v", "error", "-threads", "1", "-i", Name.c_str(), "-f",
               "s16le", "-y", "/dev/null", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return State.SkipWithError("ffmpeg failed");
    const double Spent = ChildrenCpu() - Before;
    State.SetIterationTime(Spent);
    Cpu += Spent;
  }
  Report(State, Cpu);
}

void ImaDecode_ours(benchmark::State& s) {
  Ours(s, "adpcm_ima_wav");
}
void ImaDecode_peer(benchmark::State& s) {
  Peer(s, "adpcm_ima_wav");
}
void MsAdpcmDecode_ours(benchmark::State& s) {
  Ours(s, "adpcm_ms");
}
void MsAdpcmDecode_peer(benchmark::State& s) {
  Peer(s, "adpcm_ms");
}

}  // namespace

BENCHMARK(ImaDecode_ours)
    ->Name("ImaDecode/ours")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ImaDecode_peer)
    ->Name("ImaDecode/peer")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MsAdpcmDecode_ours)
    ->Name("MsAdpcmDecode/ours")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MsAdpcmDecode_peer)
    ->Name("MsAdpcmDecode/peer")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
