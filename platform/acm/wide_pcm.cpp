// The wide-sample driver: integer PCM of 24 or 32 bits and IEEE floating point
// of 32 or 64 bits, decoded to 16-bit PCM of the same layout: integers keep
// their top 16 bits, floating point is scaled by 32768, rounded to the nearest
// step and clipped at full scale (as common decoders do, so that files compare
// sample for sample). Decoding only: the recorder writes 8- and 16-bit PCM.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/acm/acm_api.h"
#include "platform/acm/acm_driver.h"

namespace velmar {

namespace {

constexpr std::uint32_t kMinRate = 1000, kMaxRate = 384000;

bool IsWide(const WAVEFORMATEX& f) {
  const bool Int =
      f.wFormatTag == WAVE_FORMAT_PCM && (f.wBitsPerSample == 24 || f.wBitsPerSample == 32);
  const bool Float =
      f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && (f.wBitsPerSample == 32 || f.wBitsPerSample == 64);
  return (Int || Float) && (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec >= kMinRate &&
         f.nSamplesPerSec <= kMaxRate && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

std::int16_t Clip(std::int64_t v) {
  return static_cast<std::int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

std::int16_t FromFloat(double v) {
  if (!(v == v)) return 0;  // NaN
  return Clip(std::lrint(std::fmax(std::fmin(v, 2.0), -2.0) * 32768.0));
}

std::int16_t Decode(const std::uint8_t* p, bool Float, int Bytes) {
  if (Float && Bytes == 4) {
    float v;
    std::memcpy(&v, p, 4);
    return FromFloat(v);
  }
  if (Float) {
    double v;
    std::memcpy(&v, p, 8);
    return FromFloat(v);
  }
  // Integers: the top 16 bits (the last two bytes, little-endian).
  return static_cast<std::int16_t>(p[Bytes - 2] | p[Bytes - 1] << 8);
}

class WideCodec : public AcmCodec {
 public:
  explicit WideCodec(const WAVEFORMATEX& Src)
      : FFloat(Src.wFormatTag == WAVE_FORMAT_IEEE_FLOAT),
        FBytes(Src.wBitsPerSample / 8),
        FChannels(Src.nChannels) {}

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    const std::uint32_t Frames =
        std::min(SrcLength / (FBytes * FChannels), DstLength / (2 * FChannels));
    const std::uint32_t Samples = Frames * FChannels;
    for (std::uint32_t i = 0; i < Samples; ++i) {
      const std::int16_t v = Decode(Src + i * FBytes, FFloat, static_cast<int>(FBytes));
      Dst[2 * i] = static_cast<std::uint8_t>(v);
      Dst[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
    }
    Used = Samples * FBytes;
    Produced = Samples * 2;
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    return SrcBytes / FBytes * 2;
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return DstBytes / (2 * FChannels) * FBytes * FChannels;
  }
  void Restart() override {}

 private:
  bool FFloat;
  std::uint32_t FBytes, FChannels;
};

class WidePcmDriver : public AcmDriver {
 public:
  // Tag 1 is the PCM driver's; tag 3 is named by the format itself (it also
  // stands for an old ADPCM with 4-bit samples).
  const char* TagName(std::uint16_t) const override { return nullptr; }
  bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const override {
    return SuggestDecoded(*this, Src, Dst, Flags);
  }
  bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const override {
    return IsWide(Src) && IsPcm16(Dst) && SameLayout(Src, Dst);
  }
  std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX&,
                                 bool) const override {
    return std::make_unique<WideCodec>(Src);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeWidePcmDriver() {
  return std::make_unique<WidePcmDriver>();
}

}  // namespace velmar
