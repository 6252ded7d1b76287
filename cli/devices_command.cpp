// "devices": the input and output devices with the numbers --device takes.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/wave/alsa/alsa_backend.h"
#include "platform/wave/wave_api.h"

namespace velmar::cli {

namespace {

// Devices are numbered over the backends in order and named whole (the window's
// lists cut long names); an ALSA device is named by its PCM, a built-in one is
// "virtual".
void List(const char* Direction, bool Capture) {
  struct TLine {
    std::string Product, Id;
  };
  std::vector<TLine> Lines;
  for (const auto& b : WaveBackends()) {
    auto* Alsa = dynamic_cast<TAlsaBackend*>(b.get());
    const int Here = Capture ? b->CaptureCount() : b->PlaybackCount();
    for (int i = 0; i < Here; ++i) {
      const TWaveDeviceCaps Caps = Capture ? b->CaptureCaps(i) : b->PlaybackCaps(i);
      Lines.push_back({Caps.WholeName.empty() ? Caps.Name : Caps.WholeName,
                       Alsa ? (Capture ? Alsa->CaptureName(i) : Alsa->PlaybackName(i))
                            : "virtual"});
    }
  }
  // The mapper is the first device.
  if (!Lines.empty()) std::printf("%s -1: %s (mapper)\n", Direction, Lines[0].Product.c_str());
  for (std::size_t n = 0; n < Lines.size(); ++n)
    std::printf("%s %zu: %s (%s)\n", Direction, n, Lines[n].Product.c_str(), Lines[n].Id.c_str());
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
