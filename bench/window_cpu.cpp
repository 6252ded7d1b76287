// The windowed recorder's whole-process CPU per minute while it records (meters
// on, default settings) from the monitor of a private PulseAudio server with
// noise playing, on a private X server; beside "velmar-rec record" and
// "arecord -f cd" recording the same monitor for the same time. Each runs
// alone, in turns (window, velmar-rec, arecord, window, ...).
//
//   velmar_window_cpu [seconds per run] [rounds] [screenshot.png]   (default 60 s, 2 rounds)
//   velmar_window_cpu formats [seconds per run] [rounds]
//
// "formats": the window recording at 24 bits 96 kHz beside the window
// recording at the designed 16-bit 44.1 kHz, from a sink running at 24/96
// (the sound server converts for the second), in turns.
//
// With VELMAR_BENCH_PERF=FILE, perf records the window's call graphs into FILE
// over the first round (its CPU figure then includes perf's own cost).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/recorder_settings.h"
#include "platform/registry/settings_store.h"
#include "tests/support/alsa_config.h"
#include "tests/support/child_process.h"
#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"
#include "tests/support/xvfb_server.h"

namespace {

using namespace velmar;

// Starts a shell command in a process group of its own; its pid.
pid_t Spawn(const std::string& CommandLine) {
  std::fflush(stdout);
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::setpgid(0, 0);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execl("/bin/sh", "sh", "-c", CommandLine.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  return Pid;
}

// The CPU seconds a /proc stat file gives (a process's or a thread's); -1
// when it cannot be read.
double StatCpu(const std::filesystem::path& StatFile) {
  std::ifstream Stat(StatFile);
  std::string Text((std::istreambuf_iterator<char>(Stat)), std::istreambuf_iterator<char>());
  const auto Close = Text.rfind(')');
  if (Close == std::string::npos) return -1;
  std::istringstream Fields(Text.substr(Close + 2));
  std::string Field;
  unsigned long long User = 0, System = 0;
  for (int i = 3; i <= 15 && Fields >> Field; ++i) {
    if (i == 14) User = std::stoull(Field);
    if (i == 15) System = std::stoull(Field);
  }
  return static_cast<double>(User + System) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A running process's CPU seconds so far (all its threads).
double ProcessCpu(pid_t Pid) {
  return StatCpu("/proc/" + std::to_string(Pid) + "/stat");
}

// A thread's CPU seconds and wake-ups (context switches it asked for) so far.
struct TThreadUse {
  double Cpu = 0;
  double WakeUps = 0;
};

// The voluntary context switches a /proc status file gives.
double WakeUps(const std::filesystem::path& StatusFile) {
  std::ifstream Status(StatusFile);
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stod(Line.substr(24));
  return 0;
}

// A running process's use per thread so far, by thread name (threads of one
// name summed), from /proc.
std::map<std::string, TThreadUse> ThreadUse(pid_t Pid) {
  std::map<std::string, TThreadUse> Threads;
  std::error_code e;
  for (const auto& Task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(Pid) + "/task", e)) {
    std::ifstream Name(Task.path() / "comm");
    std::string Comm;
    std::getline(Name, Comm);
    const double Cpu = StatCpu(Task.path() / "stat");
    if (Cpu < 0) continue;
    TThreadUse& Use = Threads[Task.path().filename() == std::to_string(Pid) ? "main" : Comm];
    Use.Cpu += Cpu;
    Use.WakeUps += WakeUps(Task.path() / "status");
  }
  return Threads;
}

// A whole program run to its end; its CPU seconds, -1 when it failed.
double Run(const std::string& CommandLine) {
  const pid_t Pid = Spawn(CommandLine);
  int Status = 0;
  rusage Usage{};
  ::wait4(Pid, &Status, 0, &Usage);
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return -1;
  return static_cast<double>(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
         static_cast<double>(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
}

// The window recording for Seconds once its first track exists; its CPU
// seconds over that time, -1 when it did not record. Threads gets each
// thread's share.
double Window(const test::XvfbServer& X, const test::TempDir& Dir, int Round, int Seconds,
              const std::string& Shot, std::map<std::string, TThreadUse>& Threads,
              int Format = 16044100) {
  const std::string Home =
      Dir.File("window" + std::to_string(Round) + "-" + std::to_string(Format));
  const std::string Out = Home + "/recordings";
  std::filesystem::create_directories(Out);
  // The recording format, as Options keeps it (bits * 1000000 + rate).
  ::setenv("XDG_CONFIG_HOME", (Home + "/config").c_str(), 1);
  WriteRegValue(kSettingsRoot, kSettingsKey, "RecordingFormat", Format);
  test::ChildProcess Program({VELMAR_RECORDER}, Out,
                             {{"DISPLAY", X.Display()},
                              {"QT_QPA_PLATFORM", "xcb"},
                              {"XDG_CONFIG_HOME", Home + "/config"}});
  const std::string Id = X.FindWindow("^Velmar Audio Recorder");
  if (Id.empty()) return -1;
  X.Xdotool("windowfocus " + Id + " key F12");
  if (!test::WaitUntil([&] { return std::filesystem::exists(Out + "/Track01.wav"); })) return -1;
  const double Before = ProcessCpu(Program.Pid());
  const std::map<std::string, TThreadUse> ThreadsBefore = ThreadUse(Program.Pid());
  const char* Perf = std::getenv("VELMAR_BENCH_PERF");
  if (Perf != nullptr && Round == 1) {
    const pid_t Recorder =
        Spawn("perf record -q --call-graph dwarf,16384 -F 2000 -o '" + std::string(Perf) + "' -p " +
              std::to_string(Program.Pid()) + " -- sleep " + std::to_string(Seconds));
    ::waitpid(Recorder, nullptr, 0);
  } else {
    std::this_thread::sleep_for(std::chrono::seconds(Seconds));
  }
  const double After = ProcessCpu(Program.Pid());
  for (const auto& [Name, Use] : ThreadUse(Program.Pid())) {
    const auto Was = ThreadsBefore.find(Name);
    const TThreadUse Then = Was == ThreadsBefore.end() ? TThreadUse{} : Was->second;
    Threads[Name].Cpu += Use.Cpu - Then.Cpu;
    Threads[Name].WakeUps += Use.WakeUps - Then.WakeUps;
  }
  if (!Shot.empty() && Round == 1) X.Screenshot(Shot);
  X.Xdotool("windowfocus " + Id + " key F10");
  Program.Signal(SIGTERM);
  Program.WaitForExit();
  return After - Before;
}

}  // namespace

// The private X and sound servers for the whole bench: the default input is
// the sink's monitor (as the window records by default), noise plays into the
// sink at its own format.
struct TStage {
  test::XvfbServer X{800, 600};
  test::PulseServer Server;
  test::TempDir Dir;
  pid_t Noise = -1;

  TStage(int Rate, const std::string& Format) : Server(Rate, Format) {
    if (!Ready()) {
      std::fprintf(stderr, "the private X or PulseAudio server did not start\n");
      return;
    }
    test::UseAlsaConfig(Dir.File("asound.conf"),
                        "pcm.!default { type pulse device \"test.monitor\" hint { show on "
                        "description \"Default\" } }\n"
                        "pcm.velmar_pulse_out { type pulse device \"test\" hint { show on "
                        "description \"Test sink\" } }\n"
                        "pcm.velmar_pulse_in { type pulse device \"test.monitor\" hint { show "
                        "on description \"Test sink monitor\" } }\n");
    Noise =
        Spawn("sox -q -n -r " + std::to_string(Rate) + " -b " + (Format == "s24le" ? "24" : "16") +
              " -c 2 -t wav - synth 100000 pinknoise vol 0.3 | aplay -q -D velmar_pulse_out");
  }
  ~TStage() {
    if (Noise > 0) ::kill(-Noise, SIGKILL);
  }
  bool Ready() const { return X.Started() && Server.Started; }
};

// The window at 24/96 against the window at 16/44.1, from a 24/96 sink.
int Formats(int Seconds, int Rounds) {
  TStage Stage(96000, "s24le");
  if (!Stage.Ready()) return 1;
  const test::XvfbServer& X = Stage.X;
  const test::TempDir& Dir = Stage.Dir;
  double Sum[2] = {0, 0};
  std::map<std::string, TThreadUse> Threads;
  std::printf("the window's CPU s per minute while recording, each alone, %d s per run\n", Seconds);
  std::printf("%-6s %20s %20s\n", "round", "24-bit 96 kHz", "16-bit 44.1 kHz");
  for (int Round = 1; Round <= Rounds; ++Round) {
    const double Hi = Window(X, Dir, Round, Seconds, "", Threads, 24096000);
    const double Cd = Window(X, Dir, Round, Seconds, "", Threads, 16044100);
    if (Hi < 0 || Cd < 0) {
      std::fprintf(stderr, "a run failed (24/96 %.3f, 16/44.1 %.3f)\n", Hi, Cd);
      return 1;
    }
    const double PerMinute = 60.0 / Seconds;
    std::printf("%-6d %20.3f %20.3f\n", Round, Hi * PerMinute, Cd * PerMinute);
    Sum[0] += Hi, Sum[1] += Cd;
  }
  const double Mean = 60.0 / Seconds / Rounds;
  std::printf("%-6s %20.3f %20.3f\n", "mean", Sum[0] * Mean, Sum[1] * Mean);
  const double Ratio = Sum[1] > 0 ? Sum[0] / Sum[1] : 0.0;
  std::printf("24/96 against 16/44.1: %.2f (goal: at most 1.5): %s\n", Ratio,
              Ratio <= 1.5 ? "met" : "not met");
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "formats")
    return Formats(argc > 2 ? std::max(1, std::atoi(argv[2])) : 60,
                   argc > 3 ? std::max(1, std::atoi(argv[3])) : 2);
  const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const std::string Shot = argc > 3 ? argv[3] : "";
  TStage Stage(44100, "s16le");
  if (!Stage.Ready()) return 1;
  const test::XvfbServer& X = Stage.X;
  const test::TempDir& Dir = Stage.Dir;
  const std::string Duration = std::to_string(Seconds);
  double Sum[3] = {0, 0, 0};
  std::map<std::string, TThreadUse> Threads;
  std::printf("CPU s per minute while recording, each program alone, %d s per run\n", Seconds);
  std::printf("%-6s %22s %20s %16s\n", "round", "window (meters on)", "velmar-rec record",
              "arecord -f cd");
  for (int Round = 1; Round <= Rounds; ++Round) {
    const double w = Window(X, Dir, Round, Seconds, Shot, Threads);
    const double r = Run(std::string(VELMAR_REC) + " record -d -1 --no-auto-split --duration " +
                         Duration + " -o " + Dir.File("rec" + std::to_string(Round)));
    const double a = Run("arecord -q -D velmar_pulse_in -f cd -d " + Duration + " " +
                         Dir.File("arecord" + std::to_string(Round) + ".wav"));
    if (w < 0 || r < 0 || a < 0) {
      std::fprintf(stderr, "a run failed (window %.3f, velmar-rec %.3f, arecord %.3f)\n", w, r, a);
      return 1;
    }
    const double PerMinute = 60.0 / Seconds;
    std::printf("%-6d %22.3f %20.3f %16.3f\n", Round, w * PerMinute, r * PerMinute, a * PerMinute);
    Sum[0] += w, Sum[1] += r, Sum[2] += a;
  }
  const double Mean = 60.0 / Seconds / Rounds;
  std::printf("%-6s %22.3f %20.3f %16.3f\n", "mean", Sum[0] * Mean, Sum[1] * Mean, Sum[2] * Mean);
  std::printf("window/arecord %.2f, window/velmar-rec %.2f\n", Sum[2] > 0 ? Sum[0] / Sum[2] : 0.0,
              Sum[1] > 0 ? Sum[0] / Sum[1] : 0.0);
  // The goal: the window at most 1.5 times velmar-rec plus half a per cent of a core.
  const double Goal = 1.5 * Sum[1] * Mean + 0.005 * 60;
  std::printf("goal: window <= 1.5 x velmar-rec + 0.5 %% of a core = %.3f CPU s per minute: %s\n",
              Goal, Sum[0] * Mean <= Goal ? "met" : "not met");
  std::printf("the window's threads, per minute (mean of the rounds):\n");
  std::printf("  %-20s %8s %9s\n", "thread", "CPU s", "wake-ups");
  for (const auto& [Name, Use] : Threads)
    if (Use.Cpu * Mean >= 0.0005)
      std::printf("  %-20s %8.3f %9.0f\n", Name.c_str(), Use.Cpu * Mean, Use.WakeUps * Mean);
  return 0;
}
