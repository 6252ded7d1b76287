// CPU time per minute of audio captured from a PulseAudio monitor, next to
// arecord capturing the same device for the same time in the same run: first
// TMMWaveIn alone, then the whole "velmar-rec record" (capture, recorder,
// files, track rule) against "arecord -f cd" writing a WAV file. A private
// PulseAudio server with a null sink is started for it.
//
//   velmar_capture_cpu [seconds]     (default 60)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave/alsa/alsa_backend.h"
#include "stream/wave_in.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
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
    std::freopen("/dev/null", "w", stdout);
    ::execvp(Arguments[0], const_cast<char* const*>(Arguments.data()));
    std::_Exit(127);
  }
  return Child;
}

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  test::PulseServer Server;
  if (!Server.Started) {
    std::fprintf(stderr, "the private PulseAudio server did not start\n");
    return 1;
  }
  auto Alsa = std::make_shared<TAlsaBackend>();
  SetWaveBackends({Alsa});
  int Device = -1;
  for (int i = 0; i < Alsa->CaptureCount(); ++i)
    if (Alsa->CaptureName(i) == "velmar_pulse_in") Device = i;
  if (Device < 0) return 1;

  // The peer, started first so that both run through the same minute.
  const pid_t Peer = ::fork();
  if (Peer == 0) {
    const std::string Duration = std::to_string(Seconds);
    ::execlp("arecord", "arecord", "-q", "-D", "velmar_pulse_in", "-f", "S16_LE", "-c", "2", "-r",
             "44100", "-t", "raw", "-d", Duration.c_str(), "/dev/null",
             static_cast<char*>(nullptr));
    std::_Exit(127);
  }

  TMMWaveIn In;
  test::TPlain Sink;
  std::atomic<long long> Bytes{0};
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) { Bytes += h->wh.dwBytesRecorded; };
  In.SetDeviceID(Device);
  In.SetCallBackMode(TMMCBMode::cmThread);
  In.SetPWaveFormat(&test::CdFormat);
  In.SetBufferSize(8096);
  In.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  In.SetMaxRecordTime(Seconds * 1000);
  In.SetOutput(&Sink);
  std::atomic<bool> Stopped{false};
  In.OnStop = [&](TObject*) { Stopped = true; };
  rusage Before{}, After{};
  getrusage(RUSAGE_SELF, &Before);
  In.Start();
  while (!Stopped) Wait(250, true);
  getrusage(RUSAGE_SELF, &After);
  In.Close();

  int Status = 0;
  rusage PeerUsage{};
  ::wait4(Peer, &Status, 0, &PeerUsage);
  const double Ours = (CpuSeconds(After) - CpuSeconds(Before)) * 60.0 / Seconds;
  const double Theirs = CpuSeconds(PeerUsage) * 60.0 / Seconds;
  std::printf("captured %lld bytes (%.1f s) from the monitor\n", Bytes.load(),
              static_cast<double>(Bytes.load()) / 176400.0);
  std::printf("%-22s %12s\n", "CPU s per minute", "");
  std::printf("%-22s %12.3f\n", "TMMWaveIn", Ours);
  std::printf("%-22s %12.3f\n", "arecord", Theirs);
  std::printf("%-22s %12.3f\n", "ours/peer", Theirs > 0 ? Ours / Theirs : 0.0);
  SetWaveBackends({});
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return 1;

  // The whole programs, side by side, each writing its file.
  test::TempDir Dir;
  const std::string Duration = std::to_string(Seconds);
  const std::string DeviceText = std::to_string(Device);
  const std::string Out = Dir.File("tracks"), PeerFile = Dir.File("arecord.wav");
  const pid_t Rec = Spawn({VELMAR_REC, "record", "-d", DeviceText.c_str(), "-o", Out.c_str(),
                           "--no-auto-split", "--duration", Duration.c_str()});
  const pid_t Arecord = Spawn({"arecord", "-q", "-D", "velmar_pulse_in", "-f", "cd", "-d",
                               Duration.c_str(), PeerFile.c_str()});
  rusage RecUsage{}, ArecordUsage{};
  int RecStatus = 0, ArecordStatus = 0;
  ::wait4(Rec, &RecStatus, 0, &RecUsage);
  ::wait4(Arecord, &ArecordStatus, 0, &ArecordUsage);
  const double Program = CpuSeconds(RecUsage) * 60.0 / Seconds;
  const double PeerProgram = CpuSeconds(ArecordUsage) * 60.0 / Seconds;
  std::printf("%-22s %12.3f\n", "velmar-rec record", Program);
  std::printf("%-22s %12.3f\n", "arecord -f cd", PeerProgram);
  std::printf("%-22s %12.3f\n", "ours/peer", PeerProgram > 0 ? Program / PeerProgram : 0.0);
  return WIFEXITED(RecStatus) && WEXITSTATUS(RecStatus) == 0 ? 0 : 1;
}
