#include "wavefile/adpcm_decoders.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace velmar::adpcm {

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

bool IsStepCode(const WAVEFORMATEX& f) {
  return (f.wFormatTag == 0x0003 || f.wFormatTag == 0x0033 || f.wFormatTag == 0x0206) &&
         f.wBitsPerSample == 4 && (f.nChannels == 1 || f.nChannels == 2);
}

std::size_t DecodeStepCodes(const std::uint8_t* In, std::size_t Bytes, int Channels, bool Saturate,
                            StepState& State, std::int16_t* Out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < Bytes; ++i) {
    for (unsigned Half = 0; Half < 2; ++Half) {
      const unsigned Code = (In[i] >> (4 * Half)) & 15u;
      ima::Channel& c = State.Channels[Channels == 2 ? Half : 0];
      if (Saturate) {
        Out[n++] = ima::DecodeCode(c, Code);
      } else {
        const std::int32_t Diff = ima::Difference(ima::kStepTable[c.StepIndex], Code);
        c.Predictor =
            static_cast<std::int16_t>((Code & 8) ? c.Predictor - Diff : c.Predictor + Diff);
        c.StepIndex = ima::NextStepIndex(c.StepIndex, Code);
        Out[n++] = static_cast<std::int16_t>(c.Predictor);
      }
    }
  }
  return n;
}

}  // namespace velmar::adpcm
