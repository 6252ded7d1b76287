#include "wavefile/adpcm_decoders.h"

namespace velmar::adpcm {

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
