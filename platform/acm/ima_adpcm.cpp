#include "platform/acm/ima_adpcm.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/acm/acm_api.h"
#include "platform/acm/acm_driver.h"
#include "platform/acm/block_decoder.h"

namespace velmar::ima {

const std::int16_t kStepTable[kMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const std::int8_t kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

unsigned EncodeCode(Channel& c, std::int32_t Sample) {
  std::int32_t Step = kStepTable[c.StepIndex];
  std::int32_t Diff = Sample - c.Predictor;
  unsigned Code = 0;
  if (Diff < 0) {
    Code = 8;
    Diff = -Diff;
  }
  for (unsigned Bit = 4; Bit > 0; Bit >>= 1, Step >>= 1) {
    if (Diff >= Step) {
      Code |= Bit;
      Diff -= Step;
    }
  }
  DecodeCode(c, Code);
  return Code;
}

std::uint32_t SamplesPerBlock(std::uint32_t BlockAlign, std::uint32_t Channels) {
  if (Channels < 1 || Channels > 2 || BlockAlign <= 4 * Channels || BlockAlign % (4 * Channels))
    return 0;
  return (BlockAlign - 4 * Channels) * 2 / Channels + 1;
}

int DecodeBlock(const std::uint8_t* Block, std::size_t Bytes, int Channels, std::int16_t* Out) {
  const std::size_t Header = 4u * Channels;
  if (Bytes < Header) return -1;
  Channel State[2];
  for (int ch = 0; ch < Channels; ++ch) {
    const std::uint8_t* h = Block + 4 * ch;
    if (h[2] > kMaxStepIndex) return -1;
    State[ch].Predictor = static_cast<std::int16_t>(h[0] | h[1] << 8);
    State[ch].StepIndex = h[2];
    Out[ch] = static_cast<std::int16_t>(State[ch].Predictor);
  }
  // Groups of 4 bytes per channel, 8 samples each; a truncated group is dropped.
  const std::size_t Groups = (Bytes - Header) / Header;
  const std::uint8_t* p = Block + Header;
  for (std::size_t g = 0; g < Groups; ++g) {
    for (int ch = 0; ch < Channels; ++ch) {
      std::int16_t* o = Out + (1 + g * 8) * Channels + ch;
      for (int i = 0; i < 4; ++i, ++p) {
        o[(2 * i) * Channels] = DecodeCode(State[ch], *p & 15u);
        o[(2 * i + 1) * Channels] = DecodeCode(State[ch], *p >> 4);
      }
    }
  }
  return static_cast<int>(1 + Groups * 8);
}

void EncodeBlock(const std::int16_t* Frames, int Channels, std::uint32_t BlockAlign, Channel* State,
                 std::uint8_t* Block) {
  const std::uint32_t Groups = (BlockAlign - 4u * Channels) / (4u * Channels);
  for (int ch = 0; ch < Channels; ++ch) {
    const std::int16_t First = Frames[ch];
    State[ch].Predictor = First;
    std::uint8_t* h = Block + 4 * ch;
    h[0] = static_cast<std::uint8_t>(First);
    h[1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(First) >> 8);
    h[2] = static_cast<std::uint8_t>(State[ch].StepIndex);
    h[3] = 0;
  }
  std::uint8_t* p = Block + 4 * Channels;
  for (std::uint32_t g = 0; g < Groups; ++g) {
    for (int ch = 0; ch < Channels; ++ch) {
      const std::int16_t* s = Frames + (1 + g * 8) * Channels + ch;
      for (int i = 0; i < 4; ++i, ++p) {
        const unsigned Low = EncodeCode(State[ch], s[(2 * i) * Channels]);
        const unsigned High = EncodeCode(State[ch], s[(2 * i + 1) * Channels]);
        *p = static_cast<std::uint8_t>(Low | High << 4);
      }
    }
  }
}

}  // namespace velmar::ima

namespace velmar {

namespace {

std::uint32_t ImaSamplesPerBlock(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_IMA_ADPCM || f.wBitsPerSample != 4 || f.nSamplesPerSec == 0)
    return 0;
  return ima::SamplesPerBlock(f.nBlockAlign, f.nChannels);
}

class ImaEncoder : public AcmCodec {
 public:
  explicit ImaEncoder(const WAVEFORMATEX& Dst)
      : FChannels(Dst.nChannels),
        FBlock(Dst.nBlockAlign),
        FSamples(ImaSamplesPerBlock(Dst)),
        FBlockIn(FSamples * 2u * Dst.nChannels) {}

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool End, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    Used = Produced = 0;
    const std::uint32_t Frame = 2u * FChannels;
    FFrames.resize(std::size_t{FSamples} * FChannels);
    while (DstLength - Produced >= FBlock) {
      const std::uint32_t Left = (SrcLength - Used) / Frame * Frame;
      if (Left == 0 || (Left < FBlockIn && !End)) break;
      const std::uint32_t Take = std::min(Left, FBlockIn);
      std::memcpy(FFrames.data(), Src + Used, Take);
      // The last block of a stream is filled up by holding its last frame.
      for (std::uint32_t i = Take / 2; i < FFrames.size(); ++i) FFrames[i] = FFrames[i - FChannels];
      ima::EncodeBlock(FFrames.data(), FChannels, FBlock, FState, Dst + Produced);
      Used += Take;
      Produced += FBlock;
    }
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    const std::uint64_t Blocks = (std::uint64_t{SrcBytes} + FBlockIn - 1) / FBlockIn;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(Blocks * FBlock, 0x7FFFFFFF));
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return DstBytes / FBlock * FBlockIn;
  }
  void Restart() override { FState[0] = FState[1] = ima::Channel{}; }

 private:
  int FChannels;
  std::uint32_t FBlock, FSamples, FBlockIn;
  ima::Channel FState[2];
  std::vector<std::int16_t> FFrames;
};

// The IMA ADPCM format for a PCM layout, with the block sizes usual for its rate.
void SetIma(AcmFormat& f, std::uint16_t Channels, std::uint32_t Rate) {
  const std::uint32_t PerChannel = Rate <= 11025 ? 256 : Rate <= 22050 ? 512 : 1024;
  f = AcmFormat{};
  f.wfx.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
  f.wfx.nChannels = Channels;
  f.wfx.nSamplesPerSec = Rate;
  f.wfx.nBlockAlign = static_cast<std::uint16_t>(PerChannel * Channels);
  f.wfx.wBitsPerSample = 4;
  f.wfx.cbSize = 2;
  const std::uint32_t Samples = ima::SamplesPerBlock(f.wfx.nBlockAlign, Channels);
  f.wfx.nAvgBytesPerSec =
      static_cast<std::uint32_t>(std::uint64_t{Rate} * f.wfx.nBlockAlign / Samples);
  f.Extra[0] = static_cast<std::uint8_t>(Samples);
  f.Extra[1] = static_cast<std::uint8_t>(Samples >> 8);
}

class ImaDriver : public AcmDriver {
 public:
  const char* TagName(std::uint16_t Tag) const override {
    return Tag == WAVE_FORMAT_IMA_ADPCM ? "IMA ADPCM" : nullptr;
  }
  bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const override {
    if (ImaSamplesPerBlock(Src)) return SuggestDecoded(*this, Src, Dst, Flags);
    if (!IsPcm16(Src)) return false;
    const AcmLayout w =
        WantedLayout(Dst.wfx, Flags, {WAVE_FORMAT_IMA_ADPCM, Src.nChannels, Src.nSamplesPerSec, 4});
    if (w.Tag != WAVE_FORMAT_IMA_ADPCM || w.Bits != 4) return false;
    AcmFormat f{};
    SetIma(f, w.Channels, w.Rate);
    if (!Supports(Src, f.wfx)) return false;
    Dst = f;
    return true;
  }
  bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const override {
    if (!SameLayout(Src, Dst)) return false;
    return (ImaSamplesPerBlock(Src) && IsPcm16(Dst)) || (IsPcm16(Src) && ImaSamplesPerBlock(Dst));
  }
  std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst,
                                 bool) const override {
    if (Src.wFormatTag == WAVE_FORMAT_IMA_ADPCM) {
      const int Channels = Src.nChannels;
      return std::make_unique<BlockDecoder>(
          Src, ImaSamplesPerBlock(Src),
          [Channels](const std::uint8_t* Block, std::size_t Bytes, std::int16_t* Out) {
            return ima::DecodeBlock(Block, Bytes, Channels, Out);
          });
    }
    return std::make_unique<ImaEncoder>(Dst);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeImaAdpcmDriver() {
  return std::make_unique<ImaDriver>();
}

}  // namespace velmar
