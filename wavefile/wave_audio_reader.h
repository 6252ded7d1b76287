// Reads a WAV file's audio once from start to end, in a format of the
// caller's choice: the file's own bytes when it already has that format,
// otherwise converted through the codec stages (other rates, sample sizes,
// channel counts, compressed formats). Files of any length (see wave_scan.h).
// The one reader of files to split, join and encode: PCM of 8 to 32 bits,
// floating point, extensible records, the ADPCM formats and G.711.
//
// One reader per thread; it owns its file and its conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wavefile/acm_conversion.h"
#include "wavefile/wave_scan.h"

namespace velmar {

class TWaveAudioReader {
 public:
  // Opens Name; raises EMMWaveError with the reason when it cannot be read or
  // converted to Target.
  TWaveAudioReader(const std::string& Name, const WAVEFORMATEX& Target);
  // As above, to 16-bit PCM of the file's own rate and channels.
  explicit TWaveAudioReader(const std::string& Name);
  ~TWaveAudioReader();
  TWaveAudioReader(const TWaveAudioReader&) = delete;
  TWaveAudioReader& operator=(const TWaveAudioReader&) = delete;

  const TWaveScan& Scan() const { return FScan; }
  const WAVEFORMATEX& Target() const { return FTarget; }
  bool Converts() const { return FConversion != nullptr; }
  // Fills Dest with Count bytes of the target format, fewer only at the end
  // (0 there). Raises EMMWaveError when reading or a codec stage fails.
  std::int64_t Read(std::uint8_t* Dest, std::int64_t Count);

 private:
  void Open(const std::string& Name);
  void Convert();
  // Up to Count source bytes at the read position; 0 at the end.
  std::int64_t ReadSource(std::uint8_t* Dest, std::int64_t Count);
  // Reads the file in large pieces, whatever size the caller asks for.
  std::int64_t ReadAhead(std::uint8_t* Dest, std::int64_t Count);

  TWaveScan FScan;
  WAVEFORMATEX FTarget{};
  int FFd = -1;
  std::int64_t FPos = 0;   // file offset of the next source byte
  std::int64_t FLeft = 0;  // source bytes not read yet
  std::unique_ptr<TACMConversion> FConversion;
  bool FDrained = false;
  std::vector<std::uint8_t> FAhead;  // source bytes read but not given yet
  std::size_t FAheadAt = 0;
};

}  // namespace velmar
