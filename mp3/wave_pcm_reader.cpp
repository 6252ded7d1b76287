#include "mp3/wave_pcm_reader.h"

#include <algorithm>
#include <cstring>

#include "stream/errors.h"
#include "stream/wave_format.h"
#include "wavefile/riff_info.h"

namespace velmar {

namespace {

constexpr std::int32_t kChunk = 32768;

}  // namespace

TWavePcmReader::TWavePcmReader(const std::string& Name) {
  if (WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, FBlock) != WAVEERR_NONE || !FBlock)
    throw EMMWaveError("not a WAV file the recorder can read");
  if (WaveFileReopen(FBlock) != WAVEERR_NONE) {
    WaveFileFree(FBlock);
    throw EMMWaveError("cannot be opened");
  }
  const WAVEFORMATEX* Source = FBlock->Format();
  BuildPCMFormat(&FOutput, 16, Source->nChannels, Source->nSamplesPerSec);
  const bool Direct = Source->wFormatTag == WAVE_FORMAT_PCM && Source->wBitsPerSample == 16;
  if (!Direct) {
    FConversion = OpenConversion(Source, &FOutput, nullptr, TMMConvertQuality::cqHigh, kChunk);
    if (!FConversion) {
      // Said before the file's record (Source lies in it) is freed.
      const std::string Why = "its format, " + WaveFormatTagName(Source) + " " +
                              WaveFormatText(Source) + ", cannot be converted";
      WaveFileFree(FBlock);
      throw EMMWaveError(Why);
    }
  }
}

TWavePcmReader::~TWavePcmReader() {
  CloseConversion(FConversion);
  WaveFileFree(FBlock);
}

std::string TWavePcmReader::Title() const {
  std::string Text;
  WaveFileGetInfo(FBlock, InfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M')), Text);
  return Text;
}

std::size_t TWavePcmReader::Read(std::int16_t* Frames, std::size_t MaxFrames) {
  const std::size_t FrameBytes = 2u * FOutput.nChannels;
  if (!FConversion) {
    const auto Want =
        static_cast<std::int32_t>(std::min<std::size_t>(MaxFrames * FrameBytes, 1 << 20));
    const std::int32_t Got = WaveFileRead(FBlock, Frames, Want);
    return Got > 0 ? static_cast<std::size_t>(Got) / FrameBytes : 0;
  }
  TACMConversion& c = *FConversion;
  while (c.ReadOffset >= c.Available) {
    if (FDrained) return 0;
    std::int32_t Out;
    if (!FEnded) {
      const std::int32_t Got = WaveFileRead(FBlock, c.SourceBuffer, c.ChunkSize);
      if (Got <= 0) {
        FEnded = true;
        continue;
      }
      Out = ConvertChunk(c, Got);
    } else {
      // The stages may hold output back until told that the input ended.
      Out = FlushConversion(c, 0);
      if (Out == 0) FDrained = true;
    }
    if (Out < 0) throw EMMWaveError("a codec stage failed");
  }
  const std::size_t Whole = std::min<std::size_t>(
      MaxFrames, static_cast<std::size_t>(c.Available - c.ReadOffset) / FrameBytes);
  std::memcpy(Frames, c.OutputBuffer + c.ReadOffset, Whole * FrameBytes);
  c.ReadOffset =
      Whole == 0 ? c.Available : c.ReadOffset + static_cast<std::int32_t>(Whole * FrameBytes);
  return Whole;
}

}  // namespace velmar
