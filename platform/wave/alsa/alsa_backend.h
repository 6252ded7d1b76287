// Real sound devices through ALSA: capture and playback PCMs from ALSA's name
// hints ("default" first; the default device, sound servers and cards, not
// converter or effect plugins nor the null device), opened with snd_pcm_open. Reads and writes wait
// on the device in short slices so that a stop can interrupt them; overruns and
// underruns are recovered and counted.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/wave/wave_backend.h"

namespace velmar {

class TAlsaBackend : public TWaveBackend {
 public:
  // Reads the device lists now; Rescan reads them again.
  TAlsaBackend();
  void Rescan();

  int CaptureCount() override;
  TWaveDeviceCaps CaptureCaps(int Index) override;
  MMRESULT OpenCapture(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                       std::unique_ptr<TCaptureStream>& Stream) override;
  int PlaybackCount() override;
  TWaveDeviceCaps PlaybackCaps(int Index) override;
  MMRESULT OpenPlayback(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                        std::unique_ptr<TPlaybackStream>& Stream) override;

  // A sound server's plugin that records at another rate (see server_rate.h).
  std::string CaptureRateNote(int Index, int Rate) override;

  // The ALSA PCM name behind a device (for diagnostics and tests).
  std::string CaptureName(int Index);
  std::string PlaybackName(int Index);

 private:
  struct TEntry {
    std::string Pcm;
    TWaveDeviceCaps Caps;
  };
  std::mutex FLock;
  std::vector<TEntry> FCapture, FPlayback;
};

// The backends the programs use: ALSA's devices, and the built-in "Demo signal"
// input when ALSA offers no capture device.
void InstallDefaultWaveBackends();

// The product name of an ALSA PCM for the capability records (at most Max bytes,
// the records' 31 by default):
// "Default (PulseAudio sound server)" for the default device, "Card: Device (kind)"
// for a card's devices (the kind is the PCM's plugin, "hw", "plughw", "front"...,
// which tells a card's devices apart), the description's first line otherwise.
// Too long a name drops the card first, then is cut after a word with "…",
// never inside the kind.
std::string AlsaProductName(const std::string& Pcm, const std::string& Description,
                            std::size_t Max = 31);

}  // namespace velmar
