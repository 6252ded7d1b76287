// Conversions between bytes, sample frames and milliseconds for a format, and the
// mapping of values in a TMMTimeFormats unit to bytes and back.
//
// Conversions into bytes end on a block boundary (rounded up); conversions out of
// bytes round to nearest. The 32-bit helpers serve limits and sizes; positions,
// which outgrow 32 bits in long recordings, use the 64-bit ones.
// IMA and MS ADPCM formats, whose blocks hold a number of frames given in their
// extra bytes, convert between bytes and frames by whole blocks (and the frames
// of a last partial block) instead of by the average byte rate.
// A null format raises std::invalid_argument; a zero rate, average rate or block
// size raises std::domain_error (devices validate their format first).
#pragma once

#include <cstdint>

#include "platform/wave/wave_format_ex.h"
#include "stream/mm_types.h"

namespace velmar {

std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t BytesToTime(const WAVEFORMATEX* fmt, std::int32_t bytes);
std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t SamplesToTime(const WAVEFORMATEX* fmt, std::int32_t samples);
std::int32_t TimeToSamples(const WAVEFORMATEX* fmt, std::int32_t ms);
std::int32_t TimeToBytes(const WAVEFORMATEX* fmt, std::int32_t ms);
std::int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, std::int64_t samples);
std::int64_t SamplesToTime64(const WAVEFORMATEX* fmt, std::int64_t samples);

// A value in the unit Format, as bytes, and bytes as a value in the unit Format.
std::int32_t TimeFormatToBytes(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Value);
std::int32_t BytesToTimeFormat(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Bytes);

// A position counted in sample frames, reported in the unit Format.
std::int64_t SamplesToTimeFormat64(const WAVEFORMATEX* fmt, TMMTimeFormats Format,
                                   std::int64_t Samples);

// A length limit in the unit Format as bytes, rounded down to whole frames.
std::int32_t LimitToBytes(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Value);

}  // namespace velmar
