// The step-table decoders of the ADPCM conversion stage, for data from files
// (the block decoder of tag 0x0002 is the codec manager's, ms_adpcm.h).
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
