// Feeds arbitrary bytes to the WAV parser as a file, then reads, seeks and (for
// some inputs) updates and re-parses what parsed. Any crash, sanitizer report
// or broken invariant is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wavefile/wave_file_io.h"

namespace {

using namespace velmar;

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

const std::string& ScratchFile() {
  static const std::string Name = [] {
    const char* Dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(Dir) + "/velmar-fuzz-" + std::to_string(::getpid()) + ".wav";
  }();
  return Name;
}

void WriteScratch(const std::uint8_t* Data, std::size_t Size) {
  FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  Check(f != nullptr);
  if (Size) Check(std::fwrite(Data, 1, Size, f) == Size);
  std::fclose(f);
}

void CheckBlock(const TWaveFileBlock& b) {
  const WAVEFORMATEX& f = *b.Format();
  Check(f.nBlockAlign > 0 && f.nAvgBytesPerSec > 0);
  Check(b.DataBytes >= 0 && b.DataBytes % f.nBlockAlign == 0);
  Check(b.DataBytes == 0 || std::int64_t{b.DataOffset} + b.DataBytes <= b.FileSize);
  Check(b.TotalSamples >= 0 && b.EndSample == b.TotalSamples);
  Check(b.FormatBytes.size() >= 18 &&
        (f.wFormatTag == 1 || 18u + f.cbSize <= b.FormatBytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  WriteScratch(Data, Size);
  TWaveFileBlock* b = nullptr;
  if (WaveFileParse(ScratchFile(), FOURCC_WAVE, WAVE_OPEN_BY_NAME, b) != WAVEERR_NONE) {
    Check(b == nullptr);
    return 0;
  }
  CheckBlock(*b);
  for (int Tag = 0; Tag < kInfoTagCount; ++Tag) b->InfoList.Text(Tag);
  for (const auto& Entry : b->DispList) Entry.Body();

  const std::int32_t Frames = b->TotalSamples;
  const std::uint16_t FormatTag = b->Format()->wFormatTag;
  if (b->DataBytes > 0 && WaveFileReopen(b) == WAVEERR_NONE) {
    std::vector<std::uint8_t> Buffer(4096);
    std::int64_t Total = 0;
    for (std::int32_t n; (n = WaveFileRead(b, Buffer.data(), 4096)) > 0;) Total += n;
    Check(Total <= b->DataBytes);
    const std::int32_t Target = Size ? Data[Size - 1] * 37 : 0;
    Check(WaveFileSeek(b, Target) == WAVEERR_NONE);
    Check(b->Position >= 0 && b->Position <= b->EndSample && b->BytesLeft >= 0);
    WaveFileRead(b, Buffer.data(), 4096);
    // Some inputs go through an update: the result must parse again, unchanged
    // in format and at least as long.
    if (Size && Data[Size - 1] % 4 == 0) {
      Check(WaveFileSeek(b, Target) == WAVEERR_NONE);
      const std::int32_t Count = b->Format()->nBlockAlign * 3;
      std::vector<std::uint8_t> Patch(static_cast<std::size_t>(Count), 0x55);
      WaveFileWrite(b, Patch.data(), Count);
      Check(WaveFileClose(b) == WAVEERR_NONE);
      TWaveFileBlock* Again = nullptr;
      Check(WaveFileParse(ScratchFile(), FOURCC_WAVE, WAVE_OPEN_BY_NAME, Again) == WAVEERR_NONE);
      CheckBlock(*Again);
      Check(Again->Format()->wFormatTag == FormatTag);
      Check(Again->TotalSamples >= Frames);
      WaveFileFree(Again);
    }
  }
  WaveFileFree(b);
  return 0;
}
