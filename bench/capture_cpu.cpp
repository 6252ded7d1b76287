// CPU time per minute of audio captured from a PulseAudio monitor: the whole
// "velmar-rec record" (capture, recorder, files, track rule) against
// "arecord -f cd" writing a WAV file of the same device for the same time,
// with its own periods (1/8 s) and with ours (1024 frames, a 3 s buffer: the
// sound server then serves both at the same latency). Each runs alone, in
// turns (ours, arecord, arecord with our periods, ours, ...): side by side
// they would share the server's source and its wake-ups, and change each
// other's cost. A private PulseAudio server with a null sink is started for
// it, with noise playing into the sink.
//
//   velmar_capture_cpu [seconds per run] [rounds] [24]  (default 45 s, 2 rounds)
//
// With "24" everything runs at 24 bits 96 kHz: the sink, the noise, ours
// (--rate 96000 --bits 24) and arecord (-f S24_3LE -r 96000).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace velmar;

// Starts a program with its output silenced; its pid.
pid_t Spawn(std::vector<const char*> Arguments) {
  Arguments.push_back(nullptr);
  std::fflush(stdout);
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::setpgid(0, 0);  // its own group: stopping it stops what it started
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execvp(Arguments[0], const_cast<char* const*>(Arguments.data()));
    std::_Exit(127);
  }
  return Child;
}

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the program to its end; its CPU seconds, or -1 when it failed.
double Run(const std::vector<const char*>& Arguments) {
  const pid_t Pid = Spawn(Arguments);
  int Status = 0;
  rusage Usage{};
  ::wait4(Pid, &Status, 0, &Usage);
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 0 ? CpuSeconds(Usage) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 45;
  const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const bool Hires = argc > 3 && std::string(argv[3]) == "24";
  const char* Rate = Hires ? "96000" : "44100";
  const char* Bits = Hires ? "24" : "16";
  const char* PeerFormat = Hires ? "S24_3LE" : "S16_LE";
  test::PulseServer Server(Hires ? 96000 : 44100, Hires ? "s24le" : "s16le");
  if (!Server.Started) {
    std::fprintf(stderr, "the private PulseAudio server did not start\n");
    return 1;
  }
  auto Alsa = std::make_shared<TAlsaBackend>();
  const int Device = test::PulseServer::Monitor(*Alsa);
  if (Device < 0) return 1;
  // Something to hear on the monitor, for the whole bench.
  const std::string NoiseLine = std::string("sox -q -n -r ") + Rate + " -b " + Bits +
                                " -c 2 -t wav - synth 100000 pinknoise vol 0.3 | aplay -q -D "
                                "velmar_pulse_out";
  const pid_t Noise = Spawn({"sh", "-c", NoiseLine.c_str()});
  test::TempDir Dir;
  const std::string Duration = std::to_string(Seconds), DeviceText = std::to_string(Device);
  double Ours = 0, Theirs = 0, Equal = 0;
  std::printf("CPU s per minute of audio at %s-bit %s Hz, each program alone, %d s per run\n", Bits,
              Rate, Seconds);
  std::printf("%-8s %20s %20s %24s\n", "round", "velmar-rec record", "arecord",
              "arecord, 1024 frames");
  for (int Round = 1; Round <= Rounds; ++Round) {
    const std::string Out = Dir.File("tracks" + std::to_string(Round));
    const std::string PeerFile = Dir.File("arecord" + std::to_string(Round) + ".wav");
    const double a =
        Run({VELMAR_REC, "record", "-d", DeviceText.c_str(), "-o", Out.c_str(), "--no-auto-split",
             "--rate", Rate, "--bits", Bits, "--duration", Duration.c_str()});
    const double b = Run({"arecord", "-q", "-D", "velmar_pulse_in", "-f", PeerFormat, "-r", Rate,
                          "-c", "2", "-d", Duration.c_str(), PeerFile.c_str()});
    const double c = Run({"arecord", "-q", "-D", "velmar_pulse_in", "-f", PeerFormat, "-r", Rate,
                          "-c", "2", "--period-size=1024", "--buffer-size=131072", "-d",
                          Duration.c_str(), PeerFile.c_str()});
    if (a < 0 || b < 0 || c < 0) {
      std::fprintf(stderr, "a run failed (velmar-rec %s, arecord %s, arecord 1024 %s)\n",
                   a < 0 ? "failed" : "ok", b < 0 ? "failed" : "ok", c < 0 ? "failed" : "ok");
      ::kill(-Noise, SIGKILL);
      return 1;
    }
    std::printf("%-8d %20.3f %20.3f %24.3f\n", Round, a * 60 / Seconds, b * 60 / Seconds,
                c * 60 / Seconds);
    Ours += a, Theirs += b, Equal += c;
  }
  std::printf("%-8s %20.3f %20.3f %24.3f\n", "mean", Ours * 60 / Seconds / Rounds,
              Theirs * 60 / Seconds / Rounds, Equal * 60 / Seconds / Rounds);
  std::printf("ours/arecord %.2f, ours/arecord with our periods %.2f\n",
              Theirs > 0 ? Ours / Theirs : 0.0, Equal > 0 ? Ours / Equal : 0.0);
  ::kill(-Noise, SIGKILL);
  return 0;
}
