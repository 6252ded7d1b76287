// Encodes one WAV file into a FLAC file with libFLAC: the audio as it is
// (PCM of 8 to 32 bits keeps its width; floating point and compressed formats
// are decoded to 16 bits), a Vorbis comment TITLE (the WAV's INFO title, else
// its file name), the MD5 of the audio in the STREAMINFO, a seek table and
// room for tags. Written beside the WAV under a name no file has yet, through
// a ".part" file, as the MP3s are.
//
// Any thread; one encoder per file.
#pragma once

#include <atomic>
#include <string>

#include <memory>

#include "mp3/encoded_output.h"
#include "restore/loudness.h"

namespace velmar {

// Level: libFLAC's compression level, 0 (fastest) .. 8 (smallest). With
// Loudness, the audio's loudness is measured as it is encoded (the meter
// left there for an album's gain) and the file gets its track's ReplayGain.
TEncodeResult EncodeWavToFlac(const std::string& WavName, int Level,
                              const std::atomic<bool>& Cancel,
                              const TEncodeProgress& Progress = {},
                              std::unique_ptr<TLoudness>* Loudness = nullptr);

}  // namespace velmar
