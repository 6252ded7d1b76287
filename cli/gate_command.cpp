// "gate": listens to the input's quiet and says the noise gate just above it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/application.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"
#include "session/gate_from_noise.h"
#include "session/recording_session.h"
#include "stream/wave_in.h"

namespace velmar::cli {

int GateCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--device", "--time-gate", "--seconds", "--rate", "--bits"}, {}))
    return UsageError(o.Error());
  if (!o.Positional().empty()) return UsageError("gate takes no file names");
  long long Device, TimeGate;
  std::optional<double> Seconds;
  WAVEFORMATEX Format{};
  if (!o.Integer("--device", -1, 255, 0, Device) || !o.Integer("--time-gate", 2, 20, 8, TimeGate) ||
      !o.Seconds("--seconds", 1, 60, "1 to 60", Seconds) || !FormatOptions(o, Format))
    return UsageError(o.Error());
  const int BufferBytes = RuleBufferBytes(Format.nSamplesPerSec, Format.nBlockAlign);
  const auto PerSecond = static_cast<double>(Format.nAvgBytesPerSec);
  InstallDefaultWaveBackends();
  if (Device >= static_cast<long long>(waveInGetNumDevs())) {
    std::fprintf(stderr, "velmar-rec: there is no input device %lld (see 'velmar-rec devices')\n",
                 Device);
    return 2;
  }
  InstallInterruptHandlers();
  const int Ms = static_cast<int>(std::lround(Seconds.value_or(3) * 1000));
  std::vector<std::uint8_t> Pcm;
  Pcm.reserve(static_cast<std::size_t>(Ms) * Format.nAvgBytesPerSec / 1000);  // the audio of Ms
  try {
    TMMWaveIn In;
    In.SetDeviceID(static_cast<TMMDeviceId>(Device));
    In.SetCallBackMode(TMMCBMode::cmWindow);
    UseRecordingFormat(In, Format);
    In.SetBufferSize(BufferBytes);
    In.SetNumBuffers(10);
    In.SetTimeFormat(TMMTimeFormats::tfMillisecond);
    In.SetMaxRecordTime(Ms);
    bool Ended = false, Failed = false;
    In.OnBufferReady = [&](TObject*, PWaveHdr h) {
      Pcm.insert(Pcm.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
    };
    In.OnStop = [&](TObject*) { Ended = true; };
    In.OnError = [&](TObject*) { Failed = true; };
    In.Start();
    // A live input delivers within its time and a few seconds of a sound
    // server starting its stream.
    const auto Latest = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms + 5000);
    while (!Ended) {
      Wait(20, true);
      if (Interrupted()) {
        In.Close();
        std::fprintf(stderr, "velmar-rec: interrupted; no gate measured\n");
        return 2;
      }
      if (Failed || std::chrono::steady_clock::now() > Latest) {
        In.Close();
        std::fprintf(stderr,
                     "velmar-rec: input device %lld delivered %.1f s of %.1f s; no gate "
                     "measured\n",
                     Device, static_cast<double>(Pcm.size()) / PerSecond, Ms / 1000.0);
        return 2;
      }
    }
    In.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar-rec: input device %lld: %s\n", Device, OneLine(e.what()).c_str());
    return 2;
  }
  const TGateFromNoise g = GateFromNoise(Pcm.data(), Pcm.size(), static_cast<int>(TimeGate),
                                         BufferBytes, Format.wBitsPerSample / 8);
  if (!g.Measured) {
    std::fprintf(stderr, "velmar-rec: too little audio to measure (%.2f s)\n",
                 static_cast<double>(Pcm.size()) / PerSecond);
    return 2;
  }
  if (g.TooLoud) {
    std::fprintf(stderr,
                 "velmar-rec: the input's noise, %.1f dBFS, is louder than the highest gate "
                 "takes for quiet (-n 100: %s at time gate %lld); a track then ends only by "
                 "hand or by a limit (--no-auto-split)\n",
                 g.NoiseDb, NoiseGateText(100, static_cast<int>(TimeGate)).c_str(), TimeGate);
    return 2;
  }
  std::fprintf(stderr,
               "velmar-rec: the input's noise: %.1f dBFS; the gate %.0f dB above it: -n %d (%s "
               "at time gate %lld)\n",
               g.NoiseDb, kGateMarginDb, g.Gate,
               NoiseGateText(g.Gate, static_cast<int>(TimeGate)).c_str(), TimeGate);
  std::printf("%d\n", g.Gate);
  return 0;
}

}  // namespace velmar::cli
