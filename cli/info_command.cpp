// "info": what a WAV file holds, as "key: value" lines.
#include <cstdint>
#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "session/track_rule.h"
#include "stream/time_conversions.h"
#include "wavefile/acm_conversion.h"
#include "wavefile/wave_file_io.h"
#include "wavefile/wave_scan.h"

namespace velmar::cli {

int InfoCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {}, {})) return UsageError(o.Error());
  if (o.Positional().size() != 1) return UsageError("info needs one file");
  const std::string Name = o.Positional()[0];
  TWaveScan Scan;
  std::string Error;
  if (!ScanWaveFile(Name, Scan, Error)) {
    std::fprintf(stderr, "velmar-rec: %s: not a readable WAV file: %s\n", Name.c_str(),
                 Error.c_str());
    return 2;
  }
  const WAVEFORMATEX* f = Scan.Format();
  std::string Tag, Text;
  GetFormatNames(f, Tag, Text);
  std::printf("file: %s\n", Name.c_str());
  std::printf("format: %s %s\n", Tag.c_str(), Text.c_str());
  std::printf("tag: %u\n", unsigned{f->wFormatTag});
  std::printf("channels: %u\n", unsigned{f->nChannels});
  std::printf("rate: %u\n", f->nSamplesPerSec);
  std::printf("bits: %u\n", unsigned{f->wBitsPerSample});
  // Compressed formats count the frames their blocks decode to.
  const std::int64_t Frames = f->wFormatTag == WAVE_FORMAT_PCM || Scan.DataBytes > INT32_MAX
                                  ? Scan.DataBytes * f->nSamplesPerSec / f->nAvgBytesPerSec
                                  : BytesToSamples(f, static_cast<std::int32_t>(Scan.DataBytes));
  std::printf("frames: %lld\n", static_cast<long long>(Frames));
  std::printf("bytes: %lld\n", static_cast<long long>(Scan.DataBytes));
  std::printf("duration: %s\n", TimeToText(SamplesToTime64(f, Frames)).c_str());
  if (Scan.RF64) std::printf("container: RF64\n");
  if (Scan.Truncated) std::printf("truncated: yes\n");
  for (const std::string& Note : Scan.Notes) std::printf("read: %s\n", Note.c_str());
  return 0;
}

}  // namespace velmar::cli
