// Cue sheets of a side kept as one WAV file: the file's name and, per track,
// its number, title and first frame ("INDEX 01 mm:ss:ff", 75 frames a second).
// Writing quotes titles (a '"' becomes '\''); reading takes what common tools
// write (REM, PERFORMER, FLAGS, INDEX 00 ... lines are skipped).
//
// Not thread-bound; no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct TCueTrack {
  std::string Title;
  std::int64_t Start = 0;  // in sample frames of the side
};

// The sheet for WavName (a name beside the sheet) at Rate frames a second;
// each start rounds to the nearest 1/75 s.
std::string CueSheetText(const std::string& WavName, const std::vector<TCueTrack>& Tracks,
                         int Rate);

// The tracks of a sheet, their starts in frames at Rate; false with Error
// ("line 7: ...") when it is not a sheet of one WAV file with INDEX 01 points
// in order.
bool ParseCueSheet(const std::string& Text, int Rate, std::vector<TCueTrack>& Tracks,
                   std::string& Error);

}  // namespace velmar
