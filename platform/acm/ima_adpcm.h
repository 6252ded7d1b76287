// IMA ADPCM: the 4-bit step-table code (89 steps), and its block layout in WAV
// files (tag 0x0011). A block starts with a 4-byte header per channel (the
// first sample as a little-endian int16, the step index, a zero byte); then
// come groups of 4 bytes per channel in channel order, each holding 8 codes of
// that channel, low nibble first.
//
// The step-table decoders of the conversion stages use the same code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmar::ima {

inline constexpr int kMaxStepIndex = 88;
extern const std::int16_t kStepTable[kMaxStepIndex + 1];
extern const std::int8_t kIndexTable[16];

struct Channel {
  std::int32_t Predictor = 0;
  std::int32_t StepIndex = 0;
};

// The difference a code stands for at the channel's step (sign not applied).
inline std::int32_t Difference(std::int32_t Step, unsigned Code) {
  return ((2 * static_cast<std::int32_t>(Code & 7) + 1) * Step) >> 3;
}

inline std::int32_t NextStepIndex(std::int32_t Index, unsigned Code) {
  Index += kIndexTable[Code & 15];
  return Index < 0 ? 0 : Index > kMaxStepIndex ? kMaxStepIndex : Index;
}

// Decodes one code, keeping the predictor within 16 bits.
inline std::int16_t DecodeCode(Channel& c, unsigned Code) {
  const std::int32_t Diff = Difference(kStepTable[c.StepIndex], Code);
  std::int32_t p = (Code & 8) ? c.Predictor - Diff : c.Predictor + Diff;
  p = p < -32768 ? -32768 : p > 32767 ? 32767 : p;
  c.Predictor = p;
  c.StepIndex = NextStepIndex(c.StepIndex, Code);
  return static_cast<std::int16_t>(p);
}

// The code that brings the decoder closest to Sample; advances c as the decoder will.
unsigned EncodeCode(Channel& c, std::int32_t Sample);

// Samples per channel in a block of BlockAlign bytes; 0 for an impossible layout.
std::uint32_t SamplesPerBlock(std::uint32_t BlockAlign, std::uint32_t Channels);

// Decodes one block of Bytes bytes (a whole block, or the truncated last one)
// into interleaved 16-bit frames; returns the frames decoded, or -1 when a
// header is damaged (step index out of range) or shorter than the headers.
int DecodeBlock(const std::uint8_t* Block, std::size_t Bytes, int Channels, std::int16_t* Out);

// Encodes SamplesPerBlock(BlockAlign) interleaved frames into one block. The
// step indexes in State carry over from block to block.
void EncodeBlock(const std::int16_t* Frames, int Channels, std::uint32_t BlockAlign, Channel* State,
                 std::uint8_t* Block);

}  // namespace velmar::ima
