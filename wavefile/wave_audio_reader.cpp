#include "wavefile/wave_audio_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "stream/errors.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr std::int32_t kChunk = 32768;
constexpr std::int64_t kReadAhead = 1 << 19;

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
         a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample;
}

}  // namespace

TWaveAudioReader::TWaveAudioReader(const std::string& Name, const WAVEFORMATEX& Target)
    : FTarget(Target) {
  Open(Name);
  Convert();
}

TWaveAudioReader::TWaveAudioReader(const std::string& Name) {
  Open(Name);
  BuildPCMFormat(&FTarget, 16, FScan.Format()->nChannels, FScan.Format()->nSamplesPerSec);
  Convert();
}

void TWaveAudioReader::Open(const std::string& Name) {
  std::string Error;
  if (!ScanWaveFile(Name, FScan, Error)) throw EMMWaveError("not a readable WAV file: " + Error);
  FFd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
  if (FFd < 0) throw EMMWaveError(std::strerror(errno));
  ::posix_fadvise(FFd, 0, 0, POSIX_FADV_SEQUENTIAL);
  FPos = FScan.DataOffset;
  FLeft = FScan.DataBytes;
}

void TWaveAudioReader::Convert() {
  const WAVEFORMATEX* Source = FScan.Format();
  if (SameFormat(*Source, FTarget)) return;
  const std::int32_t Chunk =
      std::max<std::int32_t>(kChunk / Source->nBlockAlign, 1) * Source->nBlockAlign;
  FConversion = OpenConversion(Source, &FTarget, nullptr, TMMConvertQuality::cqHigh, Chunk);
  if (!FConversion) {
    ::close(FFd);
    throw EMMWaveError("its format (" + WaveFormatTagName(Source) + " " + WaveFormatText(Source) +
                       ") cannot be converted to " + WaveFormatText(&FTarget));
  }
}

TWaveAudioReader::~TWaveAudioReader() {
  CloseConversion(FConversion);
  if (FFd >= 0) ::close(FFd);
}

std::int64_t TWaveAudioReader::ReadSource(std::uint8_t* Dest, std::int64_t Count) {
  Count = std::min(Count, FLeft);
  std::int64_t Done = 0;
  while (Done < Count) {
    const ssize_t n = ::pread(FFd, Dest + Done, static_cast<std::size_t>(Count - Done), FPos);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EMMWaveError(std::string("reading failed: ") + std::strerror(errno));
    if (n == 0) {  // the file shrank under us: its end is the end
      FLeft = 0;
      break;
    }
    Done += n;
    FPos += n;
    FLeft -= n;
  }
  return Done;
}

std::int64_t TWaveAudioReader::ReadAhead(std::uint8_t* Dest, std::int64_t Count) {
  std::int64_t Done = 0;
  while (Done < Count) {
    if (FAheadAt == FAhead.size()) {
      FAhead.resize(static_cast<std::size_t>(kReadAhead));
      FAhead.resize(static_cast<std::size_t>(ReadSource(FAhead.data(), kReadAhead)));
      FAheadAt = 0;
      if (FAhead.empty()) break;
    }
    const auto Take =
        std::min<std::size_t>(static_cast<std::size_t>(Count - Done), FAhead.size() - FAheadAt);
    std::memcpy(Dest + Done, FAhead.data() + FAheadAt, Take);
    FAheadAt += Take;
    Done += static_cast<std::int64_t>(Take);
  }
  return Done;
}

std::int64_t TWaveAudioReader::Read(std::uint8_t* Dest, std::int64_t Count) {
  if (!FConversion) return ReadAhead(Dest, Count);
  TACMConversion& c = *FConversion;
  std::int64_t Done = 0;
  while (Done < Count) {
    if (c.ReadOffset < c.Available) {
      const std::int64_t Take = std::min<std::int64_t>(Count - Done, c.Available - c.ReadOffset);
      std::memcpy(Dest + Done, c.OutputBuffer + c.ReadOffset, static_cast<std::size_t>(Take));
      c.ReadOffset += static_cast<std::int32_t>(Take);
      Done += Take;
      continue;
    }
    if (FDrained) break;
    std::int32_t Out;
    const std::int64_t Got = ReadAhead(c.SourceBuffer, c.ChunkSize);
    if (Got > 0) {
      Out = ConvertChunk(c, static_cast<std::int32_t>(Got));
    } else {
      // The stages may hold output back until told that the input ended.
      Out = FlushConversion(c, 0);
      if (Out <= 0) FDrained = true;
    }
    if (Out < 0) throw EMMWaveError("a codec stage failed");
  }
  return Done;
}

}  // namespace velmar
