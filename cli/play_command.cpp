// "play": a file through the player to an output device, until its end or Ctrl-C.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/application.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"
#include "session/track_rule.h"
#include "stream/wave_format.h"
#include "wavefile/wave_player.h"
#include "wavefile/wave_scan.h"

namespace velmar::cli {

namespace {

// When a play fails, whether the file's format is what the device does not
// take (it takes the recording format): the reason naming that format.
std::optional<std::string> FormatProblem(const std::string& Name, TMMDeviceId Device) {
  TWaveScan Scan;
  std::string Error;
  if (!ScanWaveFile(Name, Scan, Error)) return std::nullopt;
  WAVEFORMATEX Cd{};
  BuildPCMFormat(&Cd, 16, 2, 44100);
  auto Takes = [&](const WAVEFORMATEX* f) {
    return waveOutOpen(nullptr, static_cast<std::uint32_t>(Device), f, 0, 0, WAVE_FORMAT_QUERY) ==
           MMSYSERR_NOERROR;
  };
  if (Takes(Scan.Format()) || !Takes(&Cd)) return std::nullopt;
  return "its format, " + WaveFormatTagName(Scan.Format()) + " " + WaveFormatText(Scan.Format()) +
         ", is not supported for playing (the output takes PCM of 8, 16 or 24 bits)";
}

}  // namespace

int PlayCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--device"}, {})) return UsageError(o.Error());
  if (o.Positional().size() != 1) return UsageError("play needs one file");
  long long Device;
  if (!o.Integer("--device", -1, 255, 0, Device)) return UsageError(o.Error());
  InstallDefaultWaveBackends();
  if (Device >= static_cast<long long>(waveOutGetNumDevs())) {
    std::fprintf(stderr, "velmar-rec: there is no output device %lld (see 'velmar-rec devices')\n",
                 Device);
    return 2;
  }
  InstallInterruptHandlers();
  const std::string Name = o.Positional()[0];
  // The player reads within 2 GiB; a longer file is refused, never cut short.
  TWaveScan Scan;
  std::string Error;
  if (ScanWaveFile(Name, Scan, Error) && Scan.DataOffset + Scan.DataBytes > INT32_MAX) {
    std::fprintf(stderr,
                 "velmar-rec: %s: longer than 'play' can read (2 GiB); 'split' it into tracks "
                 "first\n",
                 Name.c_str());
    return 2;
  }
  try {
    TMMWavePlayer Player;
    Player.SetDeviceID(static_cast<TMMDeviceId>(Device));
    Player.SetBufferSize(8192);
    Player.SetNumBuffers(10);
    Player.SetTimeFormat(TMMTimeFormats::tfMillisecond);
    bool Ended = false;
    Player.OnStop = [&](TObject*) { Ended = true; };
    Player.LoadFile(Name);
    Player.Play();
    if (!(Player.State() & 4u)) Ended = true;  // nothing to play
    bool Stopping = false;
    while (!Ended) {
      Wait(20, true);
      if (Interrupted() && !Stopping) {
        Stopping = true;
        Player.Stop();
      } else if (!Stopping && Player.OutputStalled()) {
        const std::string At = TimeToText(Player.GetPosition());
        Player.Stop();
        std::fprintf(stderr,
                     "velmar-rec: the output device is gone (nothing played for 2 s): %s stopped "
                     "at %s\n",
                     Name.c_str(), At.c_str());
        return 2;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(
        stderr, "velmar-rec: %s: %s\n", Name.c_str(),
        OneLine(FormatProblem(Name, static_cast<TMMDeviceId>(Device)).value_or(e.what())).c_str());
    return 2;
  }
  return 0;
}

}  // namespace velmar::cli
