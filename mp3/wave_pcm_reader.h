// Reads a WAV file as 16-bit PCM frames whatever the engine can read: PCM of
// 8 or 16 bits, and the compressed formats through the codec stages. Rate and
// channels stay as they are.
//
// One reader per thread; it owns its file block and conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wavefile/acm_conversion.h"
#include "wavefile/wave_file_io.h"

namespace velmar {

class TWavePcmReader {
 public:
  // Opens Name; raises EMMWaveError with the reason when it cannot be read.
  explicit TWavePcmReader(const std::string& Name);
  ~TWavePcmReader();
  TWavePcmReader(const TWavePcmReader&) = delete;
  TWavePcmReader& operator=(const TWavePcmReader&) = delete;

  int SampleRate() const { return static_cast<int>(FOutput.nSamplesPerSec); }
  int Channels() const { return FOutput.nChannels; }
  // Frames in the file (for progress).
  std::int64_t TotalFrames() const { return FBlock->TotalSamples; }
  // The INFO list's title ("INAM"), or "".
  std::string Title() const;
  // Up to MaxFrames interleaved frames into Frames; 0 at the end. Raises
  // EMMWaveError when a codec stage fails.
  std::size_t Read(std::int16_t* Frames, std::size_t MaxFrames);

 private:
  TWaveFileBlock* FBlock = nullptr;
  WAVEFORMATEX FOutput{};
  std::unique_ptr<TACMConversion> FConversion;  // none for 16-bit PCM
  bool FEnded = false;                          // the file is read
  bool FDrained = false;                        // and the stages gave out what they held
};

}  // namespace velmar
