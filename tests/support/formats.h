// Wave formats the tests use again and again.
#pragma once

#include "platform/wave/wave_format_ex.h"

namespace velmar::test {

// 44100 Hz, 16 bit, stereo PCM: the recording format.
inline const WAVEFORMATEX CdFormat{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

}  // namespace velmar::test
