// Sample-level helpers for PCM: the silence rule, sample-width conversion and
// the decoding and encoding of single samples.
// Samples are little-endian; 8-bit samples are unsigned, 16-bit samples signed.
#pragma once

#include <cstdint>

#include "platform/wave/wave_format_ex.h"

namespace velmar {

// The byte value silence is made of: 128 for 8-bit PCM, 0 for 16-bit PCM.
std::uint8_t SilenceByte(std::uint16_t BitsPerSample);

// Fills Bytes bytes at Dest with the silence of fmt.
void FillSilence(const WAVEFORMATEX& fmt, void* Dest, std::uint32_t Bytes);

// Converts interleaved PCM samples from SrcBits to DstBits wide (8 or 16) and
// returns the bytes written. Equal widths copy. 16 -> 8 keeps the high byte
// (truncated toward zero) offset by 128; 8 -> 16 gives (b - 128) * 256. Dest must
// hold the converted size; other widths write nothing and return 0.
std::uint32_t ConvertBits(std::uint16_t DstBits, void* Dest, std::uint16_t SrcBits,
                          std::uint32_t SrcBytes, const void* Src);

// The one decoding and encoding of single samples for every layer that works
// on them (click repair, the encoders): little-endian integer PCM of 1 to 4
// bytes (8-bit unsigned) and IEEE floating point of 4 or 8 bytes.
//
// One integer sample as a signed value at its own width. Inline: loops over
// every sample call it with a width fixed for the loop.
inline std::int32_t PcmSample(const std::uint8_t* p, int Bytes) {
  switch (Bytes) {
    case 1:
      return static_cast<std::int32_t>(p[0]) - 128;
    case 2:
      return static_cast<std::int16_t>(p[0] | p[1] << 8);
    case 3:
      return static_cast<std::int32_t>(
                 static_cast<std::uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) >>
             8;
    default:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | p[1] << 8 | p[2] << 16 |
                                       static_cast<std::uint32_t>(p[3]) << 24);
  }
}
// One sample, integer or floating point, at full scale 1.0.
float SampleToFloat(const std::uint8_t* p, int Bytes, bool Float);
// v (full scale 1.0) as one sample, integer ones rounded and held within range.
void FloatToSample(std::uint8_t* p, int Bytes, bool Float, float v);

}  // namespace velmar
