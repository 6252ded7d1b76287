// MS ADPCM (tag 0x0002) as WAV files hold it: blocks of the standard adaptive
// scheme with the seven standard coefficient pairs. A block holds, per channel
// in turn, the coefficient index (1 byte), then the deltas, the second samples
// and the first samples (16-bit little-endian, one per channel each); then
// 4-bit codes, high nibble first, alternating between the channels.
//
// The data comes from files: every length and index is checked before use.
// The codec manager decodes it (a driver in ms_adpcm.cpp), and so does the
// player's ADPCM stage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wave/wave_format_ex.h"

namespace velmar::msadpcm {

// Samples per channel in a block, from the format's extra bytes, when the
// format is one the block decoder takes; 0 otherwise.
std::uint32_t BlockSamples(const WAVEFORMATEX& Format);

// Decodes one block (Bytes may be short for the last block of a file) into
// interleaved frames; returns the frames, or -1 for a coefficient index out
// of range or a block shorter than its header.
int DecodeBlock(const std::uint8_t* Block, std::size_t Bytes, int Channels, std::uint32_t Samples,
                std::int16_t* Out);

}  // namespace velmar::msadpcm
