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
#include <cstdint>
#include <functional>
#include <string>

namespace velmar {

// "song.wav" -> "song.mp3", or "song-2.mp3", "song-3.mp3" ... when taken.
std::string FreeMp3Name(const std::string& WavName);

struct TMp3Result {
  bool Ok = false;
  bool Cancelled = false;
  std::string Output;  // the MP3 written
  std::string Error;   // why not
};

// Done: frames encoded so far of Total (called now and then).
using TMp3Progress = std::function<void(std::int64_t Done, std::int64_t Total)>;

TMp3Result EncodeWavToMp3(const std::string& WavName, const std::atomic<bool>& Cancel,
                          const TMp3Progress& Progress = {});

}  // namespace velmar
