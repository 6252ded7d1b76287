// "play": a file through the player to an output device, until its end or Ctrl-C.
#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/application.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"
#include "wavefile/wave_player.h"

namespace velmar::cli {

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
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Name.c_str(), e.what());
    return 2;
  }
  return 0;
}

}  // namespace velmar::cli
