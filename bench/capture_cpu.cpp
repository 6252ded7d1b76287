// CPU time that TMMWaveIn spends per minute of audio captured from a PulseAudio
// monitor, next to arecord capturing the same device for the same time in the
// same run. A private PulseAudio server with a null sink is started for it.
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

#include "platform/wave/alsa/alsa_backend.h"
#include "stream/wave_in.h"
#include "tests/support/chain_doubles.h"
#include "tests/support/formats.h"
#include "tests/support/pulse_server.h"

namespace {

using namespace velmar;

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
  while (!Stopped) Wait(20, true);
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
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 0 ? 0 : 1;
}
