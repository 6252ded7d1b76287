// "record" and "split": numbered tracks from an input device, or from a WAV
// file fed through a virtual capture device as fast as the chain takes it.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/track_session.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "platform/wave/wave_api.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "wavefile/wave_file_io.h"

namespace velmar::cli {

namespace {

// The track rule's options, shared by record and split.
bool RuleOptions(TOptions& o, TTrackSettings& Rule) {
  long long NoiseGate, TimeGate, MinSec;
  if (!o.Integer("--noise-gate", 0, 100, 25, NoiseGate) ||
      !o.Integer("--time-gate", 2, 20, 8, TimeGate) ||
      !o.Integer("--min-length", 1, 180, 7, MinSec))
    return false;
  Rule.NoiseGate = static_cast<int>(NoiseGate);
  Rule.TimeGate = static_cast<int>(TimeGate);
  Rule.MinSec = static_cast<int>(MinSec);
  return true;
}

void UseDemoInput() {
  auto Demo = std::make_shared<TVirtualBackend>();
  Demo->AddCapture({.Name = "Demo signal", .Generator = DemoSignal()});
  SetWaveBackends({Demo});
}

}  // namespace

int RecordCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args,
               {"--out", "--device", "--noise-gate", "--time-gate", "--min-length", "--duration",
                "--tracks"},
               {"--no-auto-split"}))
    return UsageError(o.Error());
  if (!o.Positional().empty()) return UsageError("record takes no file names");
  TSessionOptions s;
  long long Device, Tracks;
  std::optional<double> Duration;
  if (!RuleOptions(o, s.Rule) || !o.Integer("--device", -1, 255, 0, Device) ||
      !o.Integer("--tracks", 1, 9999, 0, Tracks) || !o.Seconds("--duration", 1e7, Duration))
    return UsageError(o.Error());
  s.Rule.AutoSplit = !o.Has("--no-auto-split");
  s.Folder = o.Text("--out", ".");
  s.Device = static_cast<TMMDeviceId>(Device);
  if (o.Has("--tracks")) s.MaxTracks = static_cast<int>(Tracks);
  if (Duration) s.AudioBytes = static_cast<std::int64_t>(*Duration * 44100) * 4;
  s.Status = ::isatty(STDERR_FILENO);

  InstallDefaultWaveBackends();
  if (s.Device >= static_cast<TMMDeviceId>(waveInGetNumDevs())) {
    std::fprintf(stderr, "velmar-rec: there is no input device %d (see 'velmar-rec devices')\n",
                 s.Device);
    return 2;
  }
  if (!o.Has("--device")) {
    // The default input; a machine without one records the demo programme.
    if (waveInGetNumDevs() == 0 || !WaveInOpensForRecording(0)) {
      std::fprintf(stderr,
                   "velmar-rec: no input device can be opened here; recording the built-in "
                   "\"Demo signal\" instead\n");
      UseDemoInput();
    }
  }
  RepairFolderBeforeRecording(s.Folder);
  InstallInterruptHandlers();
  TTrackSession Session(s);
  return Session.Run(Interrupted());
}

int SplitCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--out", "--noise-gate", "--time-gate", "--min-length"}, {}))
    return UsageError(o.Error());
  if (o.Positional().size() != 1) return UsageError("split needs one input file");
  TSessionOptions s;
  if (!RuleOptions(o, s.Rule)) return UsageError(o.Error());
  s.Folder = o.Text("--out", ".");
  s.Status = ::isatty(STDERR_FILENO);

  const std::string Input = o.Positional()[0];
  TWaveFileBlock* b = nullptr;
  if (WaveFileParse(Input, FOURCC_WAVE, WAVE_OPEN_BY_NAME, b) != WAVEERR_NONE) {
    std::fprintf(stderr, "velmar-rec: %s: not a readable WAV file\n", Input.c_str());
    return 2;
  }
  const WAVEFORMATEX f = *b->Format();
  const std::int64_t DataOffset = b->DataOffset, DataBytes = b->DataBytes;
  WaveFileFree(b);
  if (f.wFormatTag != WAVE_FORMAT_PCM || f.nSamplesPerSec != 44100 || f.wBitsPerSample != 16 ||
      f.nChannels != 2) {
    std::fprintf(stderr,
                 "velmar-rec: %s: only PCM 44100 Hz 16-bit stereo can be split, this is %s %s\n",
                 Input.c_str(), WaveFormatTagName(&f).c_str(), WaveFormatText(&f).c_str());
    return 2;
  }
  std::FILE* In = std::fopen(Input.c_str(), "rb");
  if (!In) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), std::strerror(errno));
    return 2;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> Closer(In, std::fclose);
  // The file's samples as a capture device that captures nothing ahead of the chain.
  auto Source = std::make_shared<TVirtualBackend>();
  Source->AddCapture(
      {.Name = "File",
       .Generator =
           [In, DataOffset, DataBytes](std::uint8_t* Dest, std::uint32_t Count,
                                       std::uint64_t Offset, const WAVEFORMATEX&) {
             std::memset(Dest, 0, Count);
             if (static_cast<std::int64_t>(Offset) >= DataBytes) return;
             std::fseek(In, static_cast<long>(DataOffset + static_cast<std::int64_t>(Offset)),
                        SEEK_SET);
             const auto Want = static_cast<std::size_t>(
                 std::min<std::int64_t>(Count, DataBytes - static_cast<std::int64_t>(Offset)));
             if (std::fread(Dest, 1, Want, In) != Want) std::memset(Dest, 0, Count);
           },
       .RealTime = false,
       .Live = false,
       .OnDemand = true});
  SetWaveBackends({Source});
  s.Device = 0;
  s.AudioBytes = DataBytes;
  s.KeepAllInput = true;
  if (DataBytes == 0) {
    std::fprintf(stderr, "velmar-rec: %s: holds no audio\n", Input.c_str());
    return 2;
  }
  InstallInterruptHandlers();
  TTrackSession Session(s);
  return Session.Run(Interrupted());
}

}  // namespace velmar::cli
