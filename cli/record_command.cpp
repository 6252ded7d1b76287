// "record" and "split": numbered tracks from an input device, or from a WAV
// file read as fast as the disk gives it.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/track_session.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "platform/wave/wave_api.h"
#include "session/track_rule.h"
#include "stream/errors.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar::cli {

namespace {

// The track rule's options, shared by record and split.
void UseDemoInput() {
  auto Demo = std::make_shared<TVirtualBackend>();
  Demo->AddCapture({.Name = "Demo signal", .Generator = DemoSignal()});
  SetWaveBackends({Demo});
}

}  // namespace

bool FormatOptions(TOptions& o, WAVEFORMATEX& Format) {
  long long Rate, Bits;
  if (!o.OneOf("--rate", {44100, 48000, 88200, 96000}, 44100, Rate) ||
      !o.OneOf("--bits", {16, 24}, 16, Bits))
    return false;
  BuildPCMFormat(&Format, static_cast<std::uint16_t>(Bits), 2, static_cast<std::uint32_t>(Rate));
  return true;
}

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

int RecordCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args,
               {"--out", "--device", "--noise-gate", "--time-gate", "--min-length", "--duration",
                "--tracks", "--side-end", "--pre-roll", "--wait-for-input", "--rate", "--bits"},
               {"--no-auto-split", "--keep-going", "--wait-for-sound"}))
    return UsageError(o.Error());
  if (!o.Positional().empty()) return UsageError("record takes no file names");
  TSessionOptions s;
  long long Device, Tracks, SideEnd, WaitForInput;
  std::optional<double> Duration, PreRoll;
  constexpr double kMostSeconds = 1e7;
  if (!RuleOptions(o, s.Rule) || !FormatOptions(o, s.Format)) return UsageError(o.Error());
  const std::string Rate = std::to_string(s.Format.nSamplesPerSec);
  if (!o.Integer("--device", -1, 255, 0, Device) || !o.Integer("--tracks", 1, 9999, 0, Tracks) ||
      !o.Seconds("--duration", 1.0 / s.Format.nSamplesPerSec, kMostSeconds,
                 "one frame (1/" + Rate + ") to 10000000", Duration) ||
      !o.Integer("--side-end", 1, 3600, 0, SideEnd) ||
      !o.Integer("--wait-for-input", 0, 86400, 300, WaitForInput) ||
      !o.Seconds("--pre-roll", 0, 10, "0 to 10", PreRoll))
    return UsageError(o.Error());
  if (o.Has("--pre-roll") && !o.Has("--wait-for-sound"))
    return UsageError("--pre-roll goes with --wait-for-sound");
  s.Rule.AutoSplit = !o.Has("--no-auto-split");
  s.KeepGoing = o.Has("--keep-going");
  s.SideEndSeconds = static_cast<int>(SideEnd);
  s.WaitForSound = o.Has("--wait-for-sound");
  s.WaitForInputSeconds = static_cast<double>(WaitForInput);
  if (PreRoll) s.PreRollSeconds = *PreRoll;
  s.Folder = o.Text("--out", ".");
  s.Device = static_cast<TMMDeviceId>(Device);
  if (o.Has("--tracks")) s.MaxTracks = static_cast<int>(Tracks);
  // At least the one frame the range promises, whatever the rounding.
  if (Duration)
    s.AudioBytes = std::max<std::int64_t>(std::llround(*Duration * s.Format.nSamplesPerSec), 1) *
                   s.Format.nBlockAlign;

  InstallDefaultWaveBackends();
  if (s.Device >= static_cast<TMMDeviceId>(waveInGetNumDevs())) {
    std::fprintf(stderr, "velmar-rec: there is no input device %d (see 'velmar-rec devices')\n",
                 s.Device);
    return 2;
  }
  if (!o.Has("--device")) {
    // The default input; a machine without one records the demo programme.
    if (waveInGetNumDevs() == 0 || !WaveInOpensForRecording(0, &s.Format)) {
      std::fprintf(stderr,
                   "velmar-rec: no input device can be opened here; recording the built-in "
                   "\"Demo signal\" instead\n");
      UseDemoInput();
    }
  }
  RepairFolderBeforeRecording(s.Folder);
  InstallInterruptHandlers();
  TTrackSession Session(s, ::isatty(STDERR_FILENO));
  return Session.Run(Interrupted());
}

}  // namespace velmar::cli
