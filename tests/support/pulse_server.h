// A private PulseAudio server for real-time tests: its own runtime and home
// folders, a null sink named "test" and the native protocol only, reached
// through ALSA's pulse plugin on a private ALSA configuration. The server is
// stopped when the object goes, also when a test fails.
#pragma once

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "platform/wave/alsa/alsa_backend.h"
#include "tests/support/alsa_config.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar::test {

class PulseServer {
 public:
  // Rate and Format ("s16le", "s24le"): the null sink's (and its monitor's).
  explicit PulseServer(int Rate = 44100, std::string Format = "s16le")
      : FRate(Rate), FFormat(std::move(Format)) {
    const std::string Run = Dir.File("run"), Home = Dir.File("home");
    std::filesystem::create_directories(Run);
    std::filesystem::permissions(Run, std::filesystem::perms::owner_all);  // as a runtime folder is
    std::filesystem::create_directories(Home);
    ::setenv("XDG_RUNTIME_DIR", Run.c_str(), 1);
    ::setenv("HOME", Home.c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + Run + "/pulse/native").c_str(), 1);
    int Status = -1;
    RunCommand(
        "pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes "
        "-L 'module-null-sink " +
            SinkArguments() +
            "' -L module-native-protocol-unix "
            "--log-target=file:" +
            Dir.File("pulse.log") + " 2>&1",
        &Status);
    Started =
        Status == 0 && WaitUntil([&] { return std::filesystem::exists(Run + "/pulse/native"); });
    UseAlsaConfig(
        Dir.File("asound.conf"),
        "pcm.velmar_pulse_out { type pulse device \"test\" hint { show on description \"Test "
        "sink\" } }\n"
        "pcm.velmar_pulse_in { type pulse device \"test.monitor\" hint { show on description "
        "\"Test sink monitor\" } }\n");
  }
  ~PulseServer() { Signal(SIGTERM); }
  // As when the sound server dies.
  void Kill() { Signal(SIGKILL); }
  // The sink and its monitor go, as a card unplugged; then come back under
  // the same names. True when the server did it.
  bool RemoveSink() {
    int Status = -1;
    RunCommand("pactl unload-module module-null-sink 2>&1", &Status);
    return Status == 0;
  }
  bool AddSink() {
    int Status = -1;
    RunCommand("pactl load-module module-null-sink " + SinkArguments() + " 2>&1", &Status);
    return Status == 0;
  }
  std::string SinkArguments() const {
    return "sink_name=test rate=" + std::to_string(FRate) + " format=" + FFormat;
  }
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  bool Started = false;

  // Plays a raw file of CD audio into the sink, as a user's player does;
  // the player's process.
  static pid_t PlayRaw(const std::string& Raw, const std::string& Format = "s16le",
                       int Rate = 44100) {
    const std::string FormatArg = "--format=" + Format, RateArg = "--rate=" + std::to_string(Rate);
    const pid_t Player = ::fork();
    if (Player == 0) {
      ::execlp("paplay", "paplay", "--device=test", "--raw", FormatArg.c_str(), RateArg.c_str(),
               "--channels=2", Raw.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return Player;
  }
  // Waits until the track a recording writes holds more than Seconds of CD audio.
  static bool Holds(const std::string& Track, double Seconds,
                    std::chrono::seconds Limit = std::chrono::seconds(60)) {
    return WaitUntil(
        [&] {
          std::error_code e;
          const auto Size = std::filesystem::file_size(Track, e);
          return !e && static_cast<double>(Size) > 44 + Seconds * 176400;
        },
        Limit);
  }

  // The device numbers of the sink ("velmar_pulse_out") and its monitor
  // ("velmar_pulse_in") in an ALSA backend; -1 when missing.
  static int Monitor(TAlsaBackend& Alsa) {
    for (int i = 0; i < Alsa.CaptureCount(); ++i)
      if (Alsa.CaptureName(i) == "velmar_pulse_in") return i;
    return -1;
  }
  // The monitor's device number as the program VelmarRec lists it (its
  // "devices" command), or "".
  static std::string MonitorOf(const std::string& VelmarRec) {
    int Status = -1;
    std::istringstream Devices(RunCommand(VelmarRec + " devices", &Status));
    std::string Device;
    for (std::string Line; std::getline(Devices, Line);)
      if (Line.rfind("input ", 0) == 0 && Line.find("(velmar_pulse_in)") != std::string::npos)
        Device = Line.substr(6, Line.find(':') - 6);
    return Device;
  }
  static int Sink(TAlsaBackend& Alsa) {
    for (int i = 0; i < Alsa.PlaybackCount(); ++i)
      if (Alsa.PlaybackName(i) == "velmar_pulse_out") return i;
    return -1;
  }

 private:
  void Signal(int Number) {
    std::ifstream PidFile(Dir.File("run") + "/pulse/pid");
    int Pid = 0;
    if (PidFile >> Pid && Pid > 0) ::kill(Pid, Number);
  }

  const int FRate;
  const std::string FFormat;
  TempDir Dir;
};

}  // namespace velmar::test
