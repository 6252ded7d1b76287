#include "platform/acm/g711.h"

#include <algorithm>
#include <cstring>

#include "platform/acm/acm_api.h"
#include "platform/acm/acm_driver.h"

namespace velmar::g711 {

std::int16_t AlawToLinear(std::uint8_t Code) {
  const int a = Code ^ 0x55;
  const int Segment = (a & 0x70) >> 4;
  int t = (a & 0x0F) << 4;
  t = Segment == 0 ? t + 8 : (t + 0x108) << (Segment - 1);
  return static_cast<std::int16_t>((a & 0x80) ? t : -t);
}

std::int16_t MulawToLinear(std::uint8_t Code) {
  const int u = ~Code & 0xFF;
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return static_cast<std::int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

namespace {

// The segment of a magnitude: the number of its bits above the lowest Shift.
int Segment(int Magnitude, int Shift) {
  int s = 0;
  for (Magnitude >>= Shift; Magnitude > 0 && s < 8; Magnitude >>= 1) ++s;
  return s;
}

}  // namespace

std::uint8_t LinearToAlaw(std::int16_t Sample) {
  int v = Sample >> 3;  // 13 significant bits
  int Mask = 0xD5;
  if (v < 0) {
    Mask = 0x55;
    v = -v - 1;
  }
  const int s = Segment(v, 5);
  if (s >= 8) return static_cast<std::uint8_t>(0x7F ^ Mask);
  const int Mantissa = s < 2 ? (v >> 1) & 0x0F : (v >> s) & 0x0F;
  return static_cast<std::uint8_t>(((s << 4) | Mantissa) ^ Mask);
}

std::uint8_t LinearToMulaw(std::int16_t Sample) {
  int v = Sample >> 2;  // 14 significant bits
  int Mask = 0xFF;
  if (v < 0) {
    v = -v;
    Mask = 0x7F;
  }
  v = std::min(v, 8159) + 33;  // clip, then the bias
  const int s = Segment(v, 6);
  if (s >= 8) return static_cast<std::uint8_t>(0x7F ^ Mask);
  return static_cast<std::uint8_t>(((s << 4) | ((v >> (s + 1)) & 0x0F)) ^ Mask);
}

}  // namespace velmar::g711

namespace velmar {

namespace {

bool IsLaw(const WAVEFORMATEX& f) {
  return (f.wFormatTag == WAVE_FORMAT_ALAW || f.wFormatTag == WAVE_FORMAT_MULAW) &&
         f.wBitsPerSample == 8 && (f.nChannels == 1 || f.nChannels == 2) &&
         f.nBlockAlign == f.nChannels && f.nSamplesPerSec > 0;
}

class LawCodec : public AcmCodec {
 public:
  LawCodec(bool Decode, bool Alaw) : FDecode(Decode), FAlaw(Alaw) {}

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    if (FDecode) {
      const std::uint32_t n = std::min(SrcLength, DstLength / 2);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::int16_t v = FAlaw ? g711::AlawToLinear(Src[i]) : g711::MulawToLinear(Src[i]);
        Dst[2 * i] = static_cast<std::uint8_t>(v);
        Dst[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
      }
      Used = n;
      Produced = 2 * n;
    } else {
      const std::uint32_t n = std::min(SrcLength / 2, DstLength);
      for (std::uint32_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::int16_t>(Src[2 * i] | Src[2 * i + 1] << 8);
        Dst[i] = FAlaw ? g711::LinearToAlaw(v) : g711::LinearToMulaw(v);
      }
      Used = 2 * n;
      Produced = n;
    }
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    return FDecode
               ? static_cast<std::uint32_t>(std::min<std::uint64_t>(2ull * SrcBytes, 0x7FFFFFFF))
               : SrcBytes / 2;
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return FDecode ? DstBytes / 2 : DstBytes * 2;
  }
  void Restart() override {}

 private:
  bool FDecode, FAlaw;
};

class G711Driver : public AcmDriver {
 public:
  const char* TagName(std::uint16_t Tag) const override {
    return Tag == WAVE_FORMAT_ALAW    ? "CCITT A-Law"
           : Tag == WAVE_FORMAT_MULAW ? "CCITT mu-Law"
                                      : nullptr;
  }
  bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const override {
    AcmLayout w{};
    if (IsLaw(Src)) {
      w = WantedLayout(Dst.wfx, Flags, {WAVE_FORMAT_PCM, Src.nChannels, Src.nSamplesPerSec, 16});
    } else if (IsPcm16(Src) && (Flags & ACM_FORMATSUGGESTF_WFORMATTAG)) {
      w = WantedLayout(Dst.wfx, Flags, {0, Src.nChannels, Src.nSamplesPerSec, 8});
    } else {
      return false;
    }
    AcmFormat f{};
    SetPcm(f.wfx, w.Bits, w.Channels, w.Rate);  // a law has the layout of 8-bit PCM
    f.wfx.wFormatTag = w.Tag;
    if (!Supports(Src, f.wfx)) return false;
    Dst = f;
    return true;
  }
  bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const override {
    if (!SameLayout(Src, Dst)) return false;
    return (IsLaw(Src) && IsPcm16(Dst)) || (IsPcm16(Src) && IsLaw(Dst));
  }
  std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst,
                                 bool) const override {
    const bool Decode = IsLaw(Src);
    return std::make_unique<LawCodec>(Decode, (Decode ? Src : Dst).wFormatTag == WAVE_FORMAT_ALAW);
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeG711Driver() {
  return std::make_unique<G711Driver>();
}

}  // namespace velmar
