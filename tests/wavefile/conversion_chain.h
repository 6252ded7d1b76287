// The playback chain of the conversion tests: a wave file -> ADPCM decoder ->
// PCM converter -> a device double that pulls, as the player builds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/chain_doubles.h"
#include "wavefile/acm_converter.h"
#include "wavefile/adpcm_converter.h"
#include "wavefile/wave_file.h"

namespace velmar::test {

struct DecodeChain {
  TMMWaveFile File;
  TMMADPCMConverter Adpcm;
  TMMPCMConverter Pcm;
  TDevice Out;

  explicit DecodeChain(const std::string& Name) {
    File.Wave()->SetFileName(Name);
    File.SetOutput(&Adpcm);
    Adpcm.SetOutput(&Pcm);
    Pcm.SetOutput(&Out);
    Adpcm.SetEnabled(Adpcm.CanHandle());  // the codec manager decodes the others
  }

  // Opens, starts and pulls in pieces of Piece bytes until the end.
  std::vector<std::uint8_t> PullAll(std::uint32_t Piece) {
    Out.Opened();
    Out.Started();
    std::vector<std::uint8_t> Got, Buffer(Piece);
    TMMWaveHdr h{};
    h.wh.lpData = reinterpret_cast<char*>(Buffer.data());
    for (int Guard = 0; Guard < 10000000; ++Guard) {
      const bool More = PullBuffer(Out, &h, Piece);
      Got.insert(Got.end(), Buffer.begin(), Buffer.begin() + h.wh.dwBytesRecorded);
      if (!More) break;
    }
    Out.Stopped();
    Out.Closed();
    return Got;
  }
};

}  // namespace velmar::test
