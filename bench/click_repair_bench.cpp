// Click repair against ffmpeg's adeclick (its defaults), on material made
// here: music-like passages (chords with attack and decay, noise-burst drums
// with sharp attacks, plucked strings, a piano-like passage with hard
// attacks, a quiet passage, all of it mixed) over a record's hiss, and the
// same with clicks added at known places (0.02-3 ms, 10-40 dB above the music
// around them, a sharp edge with a decaying ring of either polarity, in one
// channel or both). Both programs run on the same 16-bit files, each alone,
// in turns (ours, peer, ours, peer).
//
// Printed, side by side: the share of the added clicks whose span was
// repaired, false repairs per minute on the clean material (per passage),
// the SNR against the clean material over the damaged spans and over the
// whole file (and the damaged input's), and the time (CPU and wall).
//
//   velmar_click_repair_bench [minutes per passage = 0.5] [clicks per minute = 60]
//
// For tuning: VELMAR_BENCH_OURS_ONLY leaves the peer out, VELMAR_BENCH_SEED
// makes other material, VELMAR_BENCH_MISSED lists the clicks ours missed
// (their size, the samples changed in each channel, the passage),
// VELMAR_BENCH_KEEP keeps the files, VELMAR_BENCH_RATE makes the material at
// another rate (96000: the same clicks in milliseconds, more frames each).
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
// The material's rate: 44.1 kHz, or VELMAR_BENCH_RATE (the reach in time is
// judged at 96 kHz as at 44.1: the clicks are as long in milliseconds).
int Rate = 44100;

using TStereo = std::vector<float>;  // interleaved, 2 channels

// A 16-bit stereo WAV file written and read plainly (the peers' format).
void WriteWav(const std::string& Name, const TStereo& x) {
  std::ofstream Out(Name, std::ios::binary);
  const auto Le = [&](std::uint32_t v, int Bytes) {
    for (int i = 0; i < Bytes; ++i) Out.put(static_cast<char>(v >> (8 * i)));
  };
  const auto Data = static_cast<std::uint32_t>(x.size() * 2);
  Out << "RIFF";
  Le(36 + Data, 4);
  Out << "WAVEfmt ";
  Le(16, 4), Le(1, 2), Le(2, 2), Le(Rate, 4), Le(Rate * 4, 4), Le(4, 2), Le(16, 2);
  Out << "data";
  Le(Data, 4);
  for (const float v : x)
    Le(static_cast<std::uint16_t>(static_cast<std::int16_t>(
           std::clamp(std::lround(v * 32768.0), -32768L, 32767L))),
       2);
}

TStereo ReadWav(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  std::vector<char> d((std::istreambuf_iterator<char>(In)), {});
  std::size_t p = 12;
  while (p + 8 <= d.size()) {
    std::uint32_t Size;
    std::memcpy(&Size, d.data() + p + 4, 4);
    if (std::memcmp(d.data() + p, "data", 4) == 0) {
      TStereo x(std::min<std::size_t>(Size, d.size() - p - 8) / 2);
      for (std::size_t i = 0; i < x.size(); ++i) {
        std::int16_t s;
        std::memcpy(&s, d.data() + p + 8 + 2 * i, 2);
        x[i] = static_cast<float>(s) / 32768.0f;
      }
      return x;
    }
    p += 8 + Size + (Size & 1);
  }
  return {};
}

// Quantised as the files hold it.
float Q(float v) { return static_cast<float>(std::clamp(std::lround(v * 32768.0), -32768L, 32767L)) / 32768.0f; }

struct TPassage {
  std::string Name;
  std::int64_t From, To;  // frames
};

// The clean material, passage by passage.
TStereo MakeMusic(double Minutes, std::vector<TPassage>& Passages, std::mt19937& Random) {
  const auto Len = static_cast<std::int64_t>(Minutes * 60 * Rate);
  std::uniform_real_distribution<double> U(0, 1);
  std::normal_distribution<double> N(0, 1);
  TStereo x;
  const auto Add = [&](std::int64_t At, double Left, double Right, double v) {
    if (At < 0 || 2 * At + 1 >= static_cast<std::int64_t>(x.size())) return;
    x[static_cast<std::size_t>(2 * At)] += static_cast<float>(v * Left);
    x[static_cast<std::size_t>(2 * At + 1)] += static_cast<float>(v * Right);
  };
  // A harmonic note: partials 1/k, an attack of Attack seconds, exponential decay.
  const auto Note = [&](std::int64_t At, double f, double Level, double Attack, double Decay,
                        double Pan, double Inharmonic) {
    const auto Frames = static_cast<std::int64_t>(std::min(5 * Decay, 4.0) * Rate);
    for (int k = 1; k <= 8 && k * f < 16000; ++k) {
      const double fk = k * f * std::sqrt(1 + Inharmonic * k * k);
      const double Phase = U(Random) * 2 * M_PI;
      for (std::int64_t i = 0; i < Frames; ++i) {
        const double t = static_cast<double>(i) / Rate;
        const double Env = std::min(1.0, t / Attack) * std::exp(-t / (Decay / std::sqrt(k)));
        Add(At + i, 1 - Pan, Pan, Level / k * Env * std::sin(2 * M_PI * fk * t + Phase));
      }
    }
  };
  const auto Passage = [&](const std::string& Name, const std::function<void(std::int64_t)>& Fill) {
    const auto From = static_cast<std::int64_t>(x.size() / 2);
    x.resize(x.size() + 2 * static_cast<std::size_t>(Len), 0.0f);
    Fill(From);
    Passages.push_back({Name, From, From + Len});
  };
  const double Notes[] = {110, 130.8, 146.8, 164.8, 196, 220, 261.6, 293.7, 329.6, 392, 440, 523.3};
  const auto Pick = [&] { return Notes[Random() % 12]; };
  const auto Chords = [&](std::int64_t From, double Level) {
    for (std::int64_t t = From; t < From + Len; t += Rate * 3 / 2)
      for (int v = 0; v < 3; ++v) Note(t, Pick(), Level, 0.01, 0.8, 0.3 + 0.4 * U(Random), 0);
  };
  const auto Drums = [&](std::int64_t From, double Level) {
    for (std::int64_t t = From, Beat = 0; t < From + Len; t += Rate / 4, ++Beat) {
      const auto Hit = [&](double Tau, double Tone, double Gain) {
        double Low = 0;
        for (std::int64_t i = 0; i < static_cast<std::int64_t>(6 * Tau * Rate); ++i) {
          const double s = static_cast<double>(i) / Rate;
          const double Env = std::min(1.0, s / 0.0005) * std::exp(-s / Tau);
          Low += 0.3 * (N(Random) - Low);  // noise with its top rolled off
          const double v = Tone > 0 ? std::sin(2 * M_PI * Tone * (1 + 1.5 * std::exp(-s / 0.03)) * s)
                                    : 0;
          Add(t + i, 0.55, 0.45, Gain * Level * Env * (0.6 * v + 0.5 * Low));
        }
      };
      if (Beat % 4 == 0) Hit(0.15, 55, 1.0);   // kick
      if (Beat % 4 == 2) Hit(0.08, 190, 0.8);  // snare
      Hit(0.02, 0, 0.35);                      // hat
    }
  };
  const auto Plucks = [&](std::int64_t From, double Level) {
    // Karplus-Strong strings, a note every 0.2-0.6 s.
    for (std::int64_t t = From; t < From + Len; t += static_cast<std::int64_t>((0.2 + 0.4 * U(Random)) * Rate)) {
      const auto Period = static_cast<std::size_t>(Rate / (2 * Pick()));
      std::vector<double> Line(Period);
      for (double& v : Line) v = U(Random) * 2 - 1;
      const double Pan = 0.2 + 0.6 * U(Random);
      for (std::int64_t i = 0; i < 2 * Rate; ++i) {
        const std::size_t j = static_cast<std::size_t>(i) % Period;
        const double v = Line[j];
        Line[j] = 0.996 * 0.5 * (v + Line[(j + 1) % Period]);
        Add(t + i, 1 - Pan, Pan, Level * v);
      }
    }
  };
  Passage("chords", [&](std::int64_t From) { Chords(From, 0.12); });
  Passage("drums", [&](std::int64_t From) {
    Drums(From, 0.5);
    for (std::int64_t t = From; t < From + Len; t += Rate)
      Note(t, 55, 0.1, 0.01, 0.5, 0.5, 0);  // a bass
  });
  Passage("plucked strings", [&](std::int64_t From) { Plucks(From, 0.3); });
  Passage("piano-like", [&](std::int64_t From) {
    for (std::int64_t t = From; t < From + Len; t += static_cast<std::int64_t>((0.15 + 0.35 * U(Random)) * Rate))
      Note(t, Pick() * 2, 0.15, 0.0002, 0.6, 0.2 + 0.6 * U(Random), 0.0004);
  });
  Passage("quiet", [&](std::int64_t From) { Chords(From, 0.004); });
  Passage("mixed", [&](std::int64_t From) {
    Drums(From, 0.35);
    Chords(From, 0.06);
    Plucks(From, 0.12);
  });
  // A record's hiss under everything, about -66 dBFS.
  for (float& v : x) v = Q(v + static_cast<float>(0.0005 * N(Random)));
  return x;
}

struct TAddedClick {
  std::int64_t Frame;
  int Length;
  bool Channel[2];
  double Db;  // above the music around it
};

// Clicks at known places, ClicksPerMinute spread at random (50 ms apart at least).
std::vector<TAddedClick> AddClicks(TStereo& x, double ClicksPerMinute, std::mt19937& Random) {
  const auto Frames = static_cast<std::int64_t>(x.size() / 2);
  const auto Count = static_cast<std::size_t>(ClicksPerMinute * static_cast<double>(Frames) / Rate / 60);
  std::uniform_real_distribution<double> U(0, 1);
  std::vector<std::int64_t> At;
  while (At.size() < Count) {
    const auto f = static_cast<std::int64_t>(U(Random) * static_cast<double>(Frames - Rate)) + Rate / 2;
    if (std::all_of(At.begin(), At.end(), [&](std::int64_t a) { return std::abs(a - f) > Rate / 20; }))
      At.push_back(f);
  }
  std::sort(At.begin(), At.end());
  std::vector<TAddedClick> Clicks;
  for (const std::int64_t f : At) {
    // 0.02-3 ms (1 to 132 frames at 44.1 kHz), evenly on a log scale.
    const double Most = 132.0 * Rate / 44100;
    const int Length = std::max(1, static_cast<int>(std::lround(std::exp(U(Random) * std::log(Most)))));
    const int Which = static_cast<int>(Random() % 3);  // left, right, both
    TAddedClick c{f, Length, {Which != 1, Which != 0}, 10 + 30 * U(Random)};
    const double Polarity = U(Random) < 0.5 ? -1 : 1;
    const double Ring = 1500 + 8000 * U(Random), Tau = Length / 3.0 + 0.5;
    for (int ch = 0; ch < 2; ++ch) {
      if (!c.Channel[ch]) continue;
      double Sum = 0;
      for (std::int64_t i = f - Rate / 200; i < f + Rate / 200; ++i)
        Sum += static_cast<double>(x[static_cast<std::size_t>(2 * i + ch)]) * x[static_cast<std::size_t>(2 * i + ch)];
      const double Level = std::max(std::sqrt(Sum / (Rate / 100.0)), 0.0005);
      const double A = Polarity * Level * std::pow(10, c.Db / 20) * (ch == 1 && Which == 2 ? 0.7 : 1);
      for (int i = 0; i < Length; ++i) {
        const double v = A * std::exp(-i / Tau) * (i == 0 ? 1 : std::cos(2 * M_PI * Ring * i / Rate));
        float& s = x[static_cast<std::size_t>(2 * (f + i) + ch)];
        s = Q(std::clamp(s + static_cast<float>(v), -1.0f, 32767.0f / 32768));
      }
    }
    Clicks.push_back(c);
  }
  return Clicks;
}

struct TRun {
  double Cpu = 0, Wall = 0;
};

TRun Run(const std::vector<std::string>& Args) {
  const auto Start = std::chrono::steady_clock::now();
  std::fflush(stdout);  // or the child's stdout hands on what is buffered
  const pid_t Pid = fork();
  if (Pid == 0) {
    // One core each; what the programs print is not the benchmark's.
    cpu_set_t One;
    CPU_ZERO(&One);
    CPU_SET(0, &One);
    sched_setaffinity(0, sizeof One, &One);
    freopen("/dev/null", "w", stdout);
    std::vector<char*> Argv;
    for (const std::string& a : Args) Argv.push_back(const_cast<char*>(a.c_str()));
    Argv.push_back(nullptr);
    execvp(Argv[0], Argv.data());
    _exit(127);
  }
  int Status = 0;
  rusage Usage{};
  wait4(Pid, &Status, 0, &Usage);
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) std::fprintf(stderr, "%s failed\n", Args[0].c_str());
  const auto Seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {Seconds(Usage.ru_utime) + Seconds(Usage.ru_stime),
          std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count()};
}

// Samples a program changed, beyond a re-quantisation's step.
bool Changed(float Out, float In) { return std::abs(Out - In) > 2.5f / 32768; }

double Snr(const TStereo& Clean, const TStereo& Out, const std::vector<std::uint8_t>& Mask) {
  double Signal = 0, Noise = 0;
  for (std::size_t i = 0; i < Clean.size() && i < Out.size(); ++i)
    if (Mask.empty() || Mask[i]) {
      Signal += static_cast<double>(Clean[i]) * Clean[i];
      Noise += (static_cast<double>(Out[i]) - Clean[i]) * (static_cast<double>(Out[i]) - Clean[i]);
    }
  return 10 * std::log10(Signal / std::max(Noise, 1e-20));
}

// Runs of changed samples (either channel) in a passage, merged within 2 ms.
int Repairs(const TStereo& In, const TStereo& Out, std::int64_t From, std::int64_t To) {
  int Count = 0;
  std::int64_t Last = -Rate;
  for (std::int64_t f = From; f < To && 2 * f + 1 < static_cast<std::int64_t>(Out.size()); ++f) {
    const auto i = static_cast<std::size_t>(2 * f);
    if (!Changed(Out[i], In[i]) && !Changed(Out[i + 1], In[i + 1])) continue;
    if (f - Last > Rate / 500) ++Count;
    Last = f;
  }
  return Count;
}

}  // namespace

int main(int argc, char** argv) {
  const double Minutes = argc > 1 ? std::atof(argv[1]) : 0.5;
  const double PerMinute = argc > 2 ? std::atof(argv[2]) : 60;
  if (const char* Asked = std::getenv("VELMAR_BENCH_RATE")) Rate = std::atoi(Asked);
  const std::string Ours = VELMAR_REC;
  const fs::path Dir = fs::temp_directory_path() / ("velmar-declick-" + std::to_string(getpid()));
  fs::create_directories(Dir / "ours");
  fs::create_directories(Dir / "ours-clean");
  // Other material than the usual with VELMAR_BENCH_SEED.
  const char* Seed = std::getenv("VELMAR_BENCH_SEED");
  std::mt19937 Random(Seed ? static_cast<unsigned>(std::atoi(Seed)) : 1234u);
  std::vector<TPassage> Passages;
  const TStereo Clean = MakeMusic(Minutes, Passages, Random);
  TStereo Damaged = Clean;
  const std::vector<TAddedClick> Clicks = AddClicks(Damaged, PerMinute, Random);
  const std::string CleanWav = (Dir / "clean.wav").string(), DamagedWav = (Dir / "damaged.wav").string();
  WriteWav(CleanWav, Clean);
  WriteWav(DamagedWav, Damaged);
  const double Seconds = static_cast<double>(Clean.size() / 2) / Rate;
  std::printf("material: %.0f s stereo %.1f kHz 16-bit, %zu clicks added\n", Seconds, Rate / 1000.0,
              Clicks.size());

  // Each alone, in turns. Without the peer (VELMAR_BENCH_OURS_ONLY, for
  // tuning) its column shows the input as it went in.
  const bool WithPeer = !std::getenv("VELMAR_BENCH_OURS_ONLY");
  TRun Mine[2], Peer[2];
  const std::string PeerOut = (Dir / "peer.wav").string();
  const std::string PeerClean = (Dir / "peer-clean.wav").string();
  for (int Round = 0; Round < 2; ++Round) {
    fs::remove(Dir / "ours" / "damaged.wav");
    Mine[Round] = Run({Ours, "declick", DamagedWav, "-o", (Dir / "ours").string()});
    if (WithPeer)
      Peer[Round] = Run({"ffmpeg", "-v", "error", "-y", "-threads", "1", "-i", DamagedWav, "-af", "adeclick",
                         "-c:a", "pcm_s16le", PeerOut});
  }
  Run({Ours, "declick", CleanWav, "-o", (Dir / "ours-clean").string()});
  if (WithPeer)
    Run({"ffmpeg", "-v", "error", "-y", "-threads", "1", "-i", CleanWav, "-af", "adeclick", "-c:a",
         "pcm_s16le", PeerClean});

  const TStereo Outs[2] = {ReadWav((Dir / "ours" / "damaged.wav").string()),
                           WithPeer ? ReadWav(PeerOut) : Damaged};
  const TStereo CleanOuts[2] = {ReadWav((Dir / "ours-clean" / "clean.wav").string()),
                                WithPeer ? ReadWav(PeerClean) : Clean};
  std::vector<std::uint8_t> Spans(Clean.size(), 0);
  for (const TAddedClick& c : Clicks)
    for (int ch = 0; ch < 2; ++ch)
      if (c.Channel[ch])
        for (int i = 0; i < c.Length; ++i) Spans[static_cast<std::size_t>(2 * (c.Frame + i) + ch)] = 1;
  double Found[2] = {0, 0};
  for (int p = 0; p < 2; ++p)
    for (const TAddedClick& c : Clicks) {
      bool All = true;
      int Hit[2] = {0, 0};
      for (int ch = 0; ch < 2; ++ch) {
        if (!c.Channel[ch]) continue;
        for (int i = 0; i < c.Length; ++i) {
          const auto At = static_cast<std::size_t>(2 * (c.Frame + i) + ch);
          Hit[ch] += Changed(Outs[p][At], Damaged[At]);
        }
        All = All && 2 * Hit[ch] >= c.Length;
      }
      Found[p] += All;
      if (!All && p == 0 && std::getenv("VELMAR_BENCH_MISSED")) {
        const auto In = std::find_if(Passages.begin(), Passages.end(), [&](const TPassage& Part) {
          return c.Frame >= Part.From && c.Frame < Part.To;
        });
        std::fprintf(stderr, "missed: frame %lld length %d channels %d%d, %.1f dB, changed %d/%d, in %s\n",
                     static_cast<long long>(c.Frame), c.Length, c.Channel[0], c.Channel[1], c.Db, Hit[0], Hit[1],
                     In == Passages.end() ? "?" : In->Name.c_str());
      }
    }
  std::printf("\n%-34s %12s %12s\n", "", "ours", WithPeer ? "adeclick" : "(input)");
  std::printf("%-34s %11.1f%% %11.1f%%\n", "clicks found", 100 * Found[0] / static_cast<double>(Clicks.size()),
              100 * Found[1] / static_cast<double>(Clicks.size()));
  for (const TPassage& Part : Passages) {
    const double PartMinutes = static_cast<double>(Part.To - Part.From) / Rate / 60;
    std::printf("%-34s %12.1f %12.1f\n", ("false repairs/min, " + Part.Name).c_str(),
                Repairs(Clean, CleanOuts[0], Part.From, Part.To) / PartMinutes,
                Repairs(Clean, CleanOuts[1], Part.From, Part.To) / PartMinutes);
  }
  const double Input[2] = {Snr(Clean, Damaged, Spans), Snr(Clean, Damaged, {})};
  std::printf("%-34s %12.1f %12.1f   (damaged input %.1f)\n", "SNR over damaged spans, dB",
              Snr(Clean, Outs[0], Spans), Snr(Clean, Outs[1], Spans), Input[0]);
  std::printf("%-34s %12.1f %12.1f   (damaged input %.1f)\n", "SNR over the whole file, dB",
              Snr(Clean, Outs[0], {}), Snr(Clean, Outs[1], {}), Input[1]);
  for (int Round = 0; Round < 2; ++Round)
    std::printf("%-34s %7.2f s CPU %6.2f s CPU   (wall %.2f / %.2f s)\n",
                ("time, round " + std::to_string(Round + 1)).c_str(), Mine[Round].Cpu, Peer[Round].Cpu,
                Mine[Round].Wall, Peer[Round].Wall);
  const double Best[2] = {std::min(Mine[0].Cpu, Mine[1].Cpu), std::min(Peer[0].Cpu, Peer[1].Cpu)};
  std::printf("%-34s %11.0fx %11.0fx   (ours %.1f times faster)\n", "real time on one core",
              Seconds / Best[0], Seconds / Best[1], Best[1] / Best[0]);
  if (!std::getenv("VELMAR_BENCH_KEEP")) fs::remove_all(Dir);
  return 0;
}
