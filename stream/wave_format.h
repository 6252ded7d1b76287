// Helpers around the wave format record: validation, building, owned copies,
// tag names and the human-readable description.
//
// A component never keeps a caller's format pointer: it keeps a copy made with
// CopyWaveFormat and releases it with FreeWaveFormat. A null format means "no
// format" everywhere and is accepted by every helper here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wave/wave_format_ex.h"
#include "stream/mm_types.h"

namespace velmar {

// True only for 8/16/24-bit, mono/stereo PCM at 4000 .. 100000 Hz.
bool IsValidPCMFormat(const WAVEFORMATEX* fmt);

// Fills fmt as PCM with the given layout and returns it.
WAVEFORMATEX* BuildPCMFormat(WAVEFORMATEX* fmt, std::uint16_t bits, std::uint16_t channels,
                             std::uint32_t rate);

// 0 for null, 18 for PCM (cbSize ignored), otherwise 18 + cbSize.
std::uint32_t WaveFormatSize(const WAVEFORMATEX* fmt);

// Whether two formats are the same record (both null, or equal in their
// WaveFormatSize bytes).
bool SameWaveFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b);

// A new zero-filled copy of WaveFormatSize(fmt) bytes, or null for a null format.
// PCM copies get cbSize 0. Raises std::bad_alloc when memory runs out.
WAVEFORMATEX* CopyWaveFormat(const WAVEFORMATEX* fmt);

// Releases a copy made by CopyWaveFormat and sets the reference to null.
void FreeWaveFormat(WAVEFORMATEX*& fmt);

// The name of the format's tag, "Unknown" for null or unlisted tags.
std::string WaveFormatTagName(const WAVEFORMATEX* fmt);

// "44.100 kHz, 16 Bit, Stereo", or "Unknown" for a null format.
std::string WaveFormatText(const WAVEFORMATEX* fmt);

// The enumerations a complete format maps back to.
TMMBits BitsFromFormat(const WAVEFORMATEX& fmt);
TMMMode ModeFromFormat(const WAVEFORMATEX& fmt);

}  // namespace velmar
