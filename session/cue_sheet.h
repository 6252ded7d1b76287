// Cue sheets of a side kept as one WAV file: the file's name and, per track,
// its number, title and first frame ("INDEX 01 mm:ss:ff", 75 frames a second,
// for other programs; and the exact frame at the side's rate in "REM FRAME"
// lines, so that a side cut again at its sheet gives back its tracks exactly).
// The album's PERFORMER, TITLE, REM DATE and REM GENRE stand before the
// file, a track's own PERFORMER in the track.
// Writing quotes titles (a '"' becomes '\''); reading takes what common tools
// write: any encoding (see text_encoding.h), any line ends, keywords in any
// case, TITLE anywhere in a track; other REM lines, FLAGS, INDEX 00 ... lines
// are skipped.
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
  // Read: the exact first frame at the rate in the sheet's "REM RATE", or -1.
  // A "REM FRAME" that does not round to the track's INDEX was left by an
  // edit of the INDEX: the INDEX is what people edit, so it is taken, at
  // that rate, and Stale is set.
  std::int64_t Exact = -1;
  bool Stale = false;
  std::string Performer;  // when it is not the album's
};

// The sheet's fields for the whole album (empty: not said).
struct TCueAlbum {
  std::string Performer, Title, Date, Genre;
};

// The sheet for WavName (a name beside the sheet) at Rate frames a second;
// each start rounds to the nearest 1/75 s.
std::string CueSheetText(const std::string& WavName, const std::vector<TCueTrack>& Tracks, int Rate,
                         const TCueAlbum& Album = {});

// The tracks of a sheet, their starts in frames at Rate; false with Error
// ("line 7: ...", the line at fault) when it is not a sheet of one WAV file
// with INDEX 01 points in order. File (may be null) gets the file it names;
// ExactRate the rate of the tracks' Exact frames (0: none); Album (may be
// null) the album's fields.
bool ParseCueSheet(const std::string& Text, int Rate, std::vector<TCueTrack>& Tracks,
                   std::string& Error, std::string* File = nullptr, int* ExactRate = nullptr,
                   TCueAlbum* Album = nullptr);

}  // namespace velmar
