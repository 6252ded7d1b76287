// The codec of a block-coded ADPCM format decoded to 16-bit PCM of the same
// layout: whole blocks in, the frames each holds out; a damaged block is
// skipped, a short last block decoded as far as it goes.
//
// One thread at a time, like every codec.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/acm/acm_driver.h"

namespace velmar {

class BlockDecoder : public AcmCodec {
 public:
  // Decodes one block of Bytes bytes into interleaved frames; returns the
  // frames or -1 for a damaged block.
  using DecodeFn =
      std::function<int(const std::uint8_t* Block, std::size_t Bytes, std::int16_t* Out)>;

  BlockDecoder(const WAVEFORMATEX& Src, std::uint32_t SamplesPerBlock, DecodeFn Decode)
      : FChannels(Src.nChannels),
        FBlock(Src.nBlockAlign),
        FBlockOut(SamplesPerBlock * 2u * Src.nChannels),
        FDecode(std::move(Decode)),
        FFrames(std::size_t{SamplesPerBlock} * Src.nChannels) {}

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool End, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    Used = Produced = 0;
    while (DstLength - Produced >= FBlockOut) {
      const std::uint32_t Left = SrcLength - Used;
      if (Left == 0 || (Left < FBlock && !End)) break;
      const std::uint32_t Take = std::min(Left, FBlock);
      const int Frames = FDecode(Src + Used, Take, FFrames.data());
      Used += Take;
      if (Frames < 0) continue;  // a damaged block is skipped
      const std::uint32_t Bytes = static_cast<std::uint32_t>(Frames) * 2u * FChannels;
      std::memcpy(Dst + Produced, FFrames.data(), Bytes);
      Produced += Bytes;
    }
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    const std::uint64_t Blocks = (std::uint64_t{SrcBytes} + FBlock - 1) / FBlock;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(Blocks * FBlockOut, 0x7FFFFFFF));
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return DstBytes / FBlockOut * FBlock;
  }
  void Restart() override {}  // every block starts afresh

 private:
  std::uint32_t FChannels, FBlock, FBlockOut;
  DecodeFn FDecode;
  std::vector<std::int16_t> FFrames;
};

}  // namespace velmar
