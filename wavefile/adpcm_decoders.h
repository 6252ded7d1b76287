// The decoders of the ADPCM conversion stage, for data from files (outside
// data: every length and index is checked before it is used).
//
// Tag 0x0002: blocks of the standard adaptive scheme with the seven standard
// coefficient pairs. A block holds, per channel in turn, the coefficient index
// (1 byte), then the deltas, the second samples and the first samples (16-bit
// little-endian, one per channel each); then 4-bit codes, high nibble first,
// alternating between the channels.
//
// Tags 0x0003 and 0x0033/0x0206: 4-bit step-table codes without headers, the
// IMA steps and index changes. Each byte holds two codes, low nibble first; a
// mono stream has one sample per code, a stereo stream one frame per byte (low
// nibble left, high nibble right). The 0x0033/0x0206 decoder saturates the
// predictor to 16 bits, the 0x0003 decoder lets it wrap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/acm/ima_adpcm.h"
#include "platform/wave/wave_format_ex.h"

namespace velmar::adpcm {

// Samples per channel in a block, from the format's extra bytes, when the
// format is one the block decoder takes; 0 otherwise.
std::uint32_t BlockSamples(const WAVEFORMATEX& Format);

// Decodes one block (Bytes may be short for the last block of a file) into
// interleaved frames; returns the frames, or -1 for a coefficient index out
// of range or a block shorter than its header.
int DecodeBlock(const std::uint8_t* Block, std::size_t Bytes, int Channels, std::uint32_t Samples,
                std::int16_t* Out);

// True when the format is a 4-bit step-table code, mono or stereo.
bool IsStepCode(const WAVEFORMATEX& Format);

// The step-table decoder's state, kept across chunks.
struct StepState {
  ima::Channel Channels[2];
};

// Decodes Bytes bytes of codes (2 samples per byte) into Out; returns the
// samples written.
std::size_t DecodeStepCodes(const std::uint8_t* In, std::size_t Bytes, int Channels, bool Saturate,
                            StepState& State, std::int16_t* Out);

}  // namespace velmar::adpcm
