#include "platform/acm/ms_adpcm.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "platform/acm/acm_api.h"
#include "platform/acm/acm_driver.h"
#include "platform/acm/block_decoder.h"

namespace velmar::msadpcm {

namespace {

constexpr int kCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                     {240, 0}, {460, -208}, {392, -232}};
constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                 768, 614, 512, 409, 307, 230, 230, 230};
// Beyond this the next adaptation would overflow: such deltas only come from
// damaged data, and they are held there.
constexpr int kMaxDelta = INT_MAX / 768;

std::int16_t Le16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

struct BlockChannel {
  int Coef1, Coef2, Delta, Sample1, Sample2;

  std::int16_t Decode(unsigned Code) {
    int p = (Sample1 * Coef1 + Sample2 * Coef2) / 256;
    p += (Code >= 8 ? static_cast<int>(Code) - 16 : static_cast<int>(Code)) * Delta;
    p = p < -32768 ? -32768 : p > 32767 ? 32767 : p;
    Sample2 = Sample1;
    Sample1 = p;
    Delta = (kAdaptation[Code] * Delta) >> 8;
    if (Delta < 16) Delta = 16;
    if (Delta > kMaxDelta) Delta = kMaxDelta;
    return static_cast<std::int16_t>(p);
  }
};

}  // namespace

std::uint32_t BlockSamples(const WAVEFORMATEX& f) {
  if (f.wFormatTag != 0x0002 || f.wBitsPerSample != 4 || (f.nChannels != 1 && f.nChannels != 2))
    return 0;
  if (f.cbSize < 4 + 4 * 7) return 0;
  const auto* Extra = reinterpret_cast<const std::uint8_t*>(&f) + sizeof(WAVEFORMATEX);
  const std::uint32_t Samples = static_cast<std::uint16_t>(Le16(Extra));
  if (static_cast<std::uint16_t>(Le16(Extra + 2)) != 7) return 0;
  for (int i = 0; i < 7; ++i)
    if (Le16(Extra + 4 + 4 * i) != kCoefficients[i][0] ||
        Le16(Extra + 6 + 4 * i) != kCoefficients[i][1])
      return 0;
  const std::uint32_t Header = 7u * f.nChannels;
  if (f.nBlockAlign < Header) return 0;
  const std::uint32_t Fits = (f.nBlockAlign - Header) * 2 / f.nChannels + 2;
  return Samples >= 2 && Samples <= Fits ? Samples : 0;
}

int DecodeBlock(const std::uint8_t* Block, std::size_t Bytes, int Channels, std::uint32_t Samples,
                std::int16_t* Out) {
  const std::size_t Header = 7u * Channels;
  if (Bytes < Header) return -1;
  BlockChannel c[2];
  for (int ch = 0; ch < Channels; ++ch) {
    const unsigned Index = Block[ch];
    if (Index >= 7) return -1;
    c[ch].Coef1 = kCoefficients[Index][0];
    c[ch].Coef2 = kCoefficients[Index][1];
    c[ch].Delta = Le16(Block + Channels + 2 * ch);
    c[ch].Sample1 = Le16(Block + 3 * Channels + 2 * ch);
    c[ch].Sample2 = Le16(Block + 5 * Channels + 2 * ch);
    Out[ch] = static_cast<std::int16_t>(c[ch].Sample2);
    Out[Channels + ch] = static_cast<std::int16_t>(c[ch].Sample1);
  }
  // Codes that the block holds, up to the samples it declares.
  const std::size_t Codes = std::min<std::size_t>((Bytes - Header) * 2, (Samples - 2) * Channels);
  const std::size_t Frames = Codes / Channels;
  std::int16_t* o = Out + 2 * Channels;
  const std::uint8_t* p = Block + Header;
  for (std::size_t i = 0; i < Frames * Channels; ++i) {
    const unsigned Code = (i & 1) ? p[i / 2] & 15u : p[i / 2] >> 4;
    o[i] = c[i % Channels].Decode(Code);
  }
  return static_cast<int>(2 + Frames);
}

}  // namespace velmar::msadpcm

namespace velmar {

namespace {

// Decoding only: the recorder never writes this format.
class MsAdpcmDriver : public AcmDriver {
 public:
  const char* TagName(std::uint16_t Tag) const override {
    return Tag == WAVE_FORMAT_ADPCM ? "Microsoft ADPCM" : nullptr;
  }
  bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const override {
    return SuggestDecoded(*this, Src, Dst, Flags);
  }
  bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const override {
    return msadpcm::BlockSamples(Src) && IsPcm16(Dst) && SameLayout(Src, Dst);
  }
  std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX&,
                                 bool) const override {
    const int Channels = Src.nChannels;
    const std::uint32_t Samples = msadpcm::BlockSamples(Src);
    return std::make_unique<BlockDecoder>(
        Src, Samples,
        [Channels, Samples](const std::uint8_t* Block, std::size_t Bytes, std::int16_t* Out) {
          return msadpcm::DecodeBlock(Block, Bytes, Channels, Samples, Out);
        });
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakeMsAdpcmDriver() {
  return std::make_unique<MsAdpcmDriver>();
}

}  // namespace velmar
