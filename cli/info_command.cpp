// "info": what a WAV file holds, as "key: value" lines.
#include <cstdio>

#include "app/track_rule.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "stream/time_conversions.h"
#include "wavefile/acm_conversion.h"
#include "wavefile/wave_file_io.h"

namespace velmar::cli {

int InfoCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {}, {})) return UsageError(o.Error());
  if (o.Positional().size() != 1) return UsageError("info needs one file");
  const std::string Name = o.Positional()[0];
  TWaveFileBlock* b = nullptr;
  if (WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, b) != WAVEERR_NONE) {
    std::fprintf(stderr, "velmar-rec: %s: not a readable WAV file\n", Name.c_str());
    return 2;
  }
  const WAVEFORMATEX* f = b->Format();
  std::string Tag, Text;
  GetFormatNames(f, Tag, Text);
  std::printf("file: %s\n", Name.c_str());
  std::printf("format: %s %s\n", Tag.c_str(), Text.c_str());
  std::printf("tag: %u\n", unsigned{f->wFormatTag});
  std::printf("channels: %u\n", unsigned{f->nChannels});
  std::printf("rate: %u\n", f->nSamplesPerSec);
  std::printf("bits: %u\n", unsigned{f->wBitsPerSample});
  std::printf("frames: %d\n", b->TotalSamples);
  std::printf("bytes: %d\n", b->DataBytes);
  std::printf("duration: %s\n", TimeToText(SamplesToTime64(f, b->TotalSamples)).c_str());
  WaveFileFree(b);
  return 0;
}

}  // namespace velmar::cli
