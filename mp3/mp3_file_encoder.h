// Encodes one WAV file into an MP3 file with LAME: joint-stereo VBR at the
// standard quality preset, an ID3v2 title (the WAV's INFO title, else its
// file name), and the LAME/Xing header so that players show the right length
// and play gaplessly. The MP3 is written beside the WAV under a name no file
// has yet, through a temporary file, so a failed or cancelled run leaves no
// partial MP3.
//
// Any thread; one encoder per file.
#pragma once

#include <atomic>
#include <string>

#include <memory>

#include "mp3/encoded_output.h"
#include "restore/loudness.h"

namespace velmar {

TEncodeResult EncodeWavToMp3(const std::string& WavName, const std::atomic<bool>& Cancel,
                             const TEncodeProgress& Progress = {},
                             std::unique_ptr<TLoudness>* Loudness = nullptr);

}  // namespace velmar
