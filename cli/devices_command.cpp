// "devices": the input and output devices with the numbers --device takes.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"
#include "stream/wave_in.h"
#include "stream/wave_out.h"

namespace velmar::cli {

namespace {

// Devices are numbered over the backends in order; an ALSA device is named by
// its PCM, a built-in one is "virtual".
void List(const char* Direction, bool Capture) {
  const int Count = static_cast<int>(Capture ? waveInGetNumDevs() : waveOutGetNumDevs());
  if (Count > 0) {
    const std::string Mapper = Capture ? WaveInDeviceName(-1) : WaveOutDeviceName(-1);
    std::printf("%s -1: %s (mapper)\n", Direction, Mapper.c_str());
  }
  int n = 0;
  for (const auto& b : WaveBackends()) {
    auto* Alsa = dynamic_cast<TAlsaBackend*>(b.get());
    const int Here = Capture ? b->CaptureCount() : b->PlaybackCount();
    for (int i = 0; i < Here; ++i, ++n) {
      const std::string Product = Capture ? WaveInDeviceName(n) : WaveOutDeviceName(n);
      const std::string Id =
          Alsa ? (Capture ? Alsa->CaptureName(i) : Alsa->PlaybackName(i)) : "virtual";
      std::printf("%s %d: %s (%s)\n", Direction, n, Product.c_str(), Id.c_str());
    }
  }
}

}  // namespace

int DevicesCommand(const TArgs& Args) {
  if (!Args.empty()) return UsageError("devices takes no arguments");
  InstallDefaultWaveBackends();
  List("input", true);
  List("output", false);
  return 0;
}

}  // namespace velmar::cli
