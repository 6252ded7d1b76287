// The whole program's CPU time while two level bars of the recorder's main
// window (280 x 9) show the monitor of a private PulseAudio server through a
// connector fed by TMMWaveIn in cmThread mode, on a private X server, with noise
// playing into the sink; then arecord capturing the same source for the same
// time, alone (side by side they would share the source's wake-ups).
//
//   velmar_level_meter_cpu [seconds] [screenshot.png]     (default 60 s)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/thread_cpu.h"
#include "controls/connector.h"
#include "controls/level.h"
#include "controls/qt_event_pump.h"
#include "controls/screen_updates.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "stream/wave_in.h"
#include "tests/support/formats.h"
#include "tests/support/pulse_server.h"
#include "tests/support/xvfb_server.h"

namespace {

using namespace velmar;

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

pid_t Spawn(const std::string& CommandLine) {
  std::fflush(stdout);
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::execl("/bin/sh", "sh", "-c", CommandLine.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  return Pid;
}

void SetupBar(TMMLevel& Bar, TMMChannel Channel) {
  Bar.SetChannel(Channel);
  Bar.SetBitLength(TMMBits::b16Bit);
  Bar.SetMode(TMMMode::mStereo);
  Bar.SetBar1Color(clLime);
  Bar.SetBar2Color(clLime);
}

}  // namespace

int main(int argc, char** argv) {
  const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const std::string Shot = argc > 2 ? argv[2] : "";
  test::XvfbServer X(640, 400);
  test::PulseServer Server;
  if (!X.Started() || !Server.Started) {
    std::fprintf(stderr, "the private X or PulseAudio server did not start\n");
    return 1;
  }
  ::setenv("DISPLAY", X.Display().c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  auto Alsa = std::make_shared<TAlsaBackend>();
  SetWaveBackends({Alsa});
  const int Device = test::PulseServer::Monitor(*Alsa);
  if (Device < 0) return 1;

  const std::string Time = std::to_string(2 * Seconds + 10);
  const pid_t Noise = Spawn("sox -q -n -t raw -r 44100 -b 16 -c 2 -e signed - synth " + Time +
                            " pinknoise vol 0.5 | aplay -q -D velmar_pulse_out -f cd");

  PrepareScreenUpdates();
  QApplication App(argc, argv);
  TQtEventPump Pump;
  QWidget Window;
  Window.setWindowTitle("Velmar level bars");
  Window.setStyleSheet("background-color: black;");
  Window.resize(320, 60);
  TMMLevel Left(&Window), Right(&Window);
  Left.setGeometry(9, 8, 280, 9);
  Right.setGeometry(9, 24, 280, 9);
  SetupBar(Left, TMMChannel::chLeft);
  SetupBar(Right, TMMChannel::chRight);
  Window.show();

  TMMWaveIn In;
  TMMConnector Connector;
  In.SetDeviceID(Device);
  In.SetCallBackMode(TMMCBMode::cmThread);
  In.SetPWaveFormat(&test::CdFormat);
  In.SetBufferSize(8096);
  In.SetOutput(&Connector);
  Connector.SetLevel1(&Left);
  Connector.SetLevel2(&Right);

  rusage Before{}, After{};
  getrusage(RUSAGE_SELF, &Before);
  const bench::TThreadCpu ThreadsBefore = bench::ThreadCpu();
  In.Start();
  if (!Shot.empty())
    QTimer::singleShot(3000, [&] {
      if (!X.Screenshot(Shot)) std::fprintf(stderr, "no screenshot\n");
    });
  QTimer::singleShot(Seconds * 1000, &App, &QApplication::quit);
  App.exec();
  getrusage(RUSAGE_SELF, &After);
  const bench::TThreadCpu ThreadsAfter = bench::ThreadCpu();
  In.Close();

  const pid_t Peer = Spawn("arecord -q -D velmar_pulse_in -f cd -t raw -d " +
                           std::to_string(Seconds) + " /dev/null");
  int Status = 0;
  rusage PeerUsage{};
  ::wait4(Peer, &Status, 0, &PeerUsage);
  ::kill(Noise, SIGTERM);
  ::waitpid(Noise, nullptr, 0);
  const double Ours = CpuSeconds(After) - CpuSeconds(Before);
  const double Theirs = CpuSeconds(PeerUsage);
  std::printf("%d s of two level bars on the monitor, noise playing\n", Seconds);
  std::printf("%-24s %10s %14s\n", "", "CPU s", "share of a core");
  std::printf("%-24s %10.3f %13.2f%%\n", "velmar (whole program)", Ours, 100.0 * Ours / Seconds);
  std::printf("%-24s %10.3f %13.2f%%\n", "arecord", Theirs, 100.0 * Theirs / Seconds);
  std::printf("%-24s %10.3f\n", "ours/peer", Theirs > 0 ? Ours / Theirs : 0.0);
  bench::PrintThreadCpu(ThreadsBefore, ThreadsAfter, Seconds);
  SetWaveBackends({});
  return 0;
}
