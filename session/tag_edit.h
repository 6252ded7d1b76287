// Changes to the tags of a set of tracks (an album, a side), each field only
// where it is given: what velmar-rec's tags command and a titles file's
// header lines ("Artist: ...") ask for, applied to each track's own tags.
//
// Plain data and functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "wavefile/wave_tags.h"

namespace velmar {

struct TTagEdit {
  std::optional<std::string> Artist, Album, AlbumArtist, Date, Genre, Comment;
  std::optional<int> Disc, DiscTotal;  // 0 clears
  std::optional<TCover> Cover;
  bool Numbers = false;  // number the tracks 1..N of N in their order

  bool Empty() const;
  // Tags holds the tracks' tags in their order.
  void ApplyTo(std::vector<TTrackTags>& Tags) const;
  // Sets the field a header line's key names ("Artist", "Album", "Album
  // Artist", "Date", "Genre", "Comment", "Disc": any case) to Value; false
  // when the key is none of them, or Error when the value is not one it takes.
  bool SetByName(const std::string& Key, const std::string& Value, std::string& Error);
};

// Takes the header lines ("Key: value" with a key SetByName knows) off the
// front of Lines (a titles file's lines) into Edit; false with Error for a
// header line whose value is wrong.
bool TakeHeaderLines(std::vector<std::string>& Lines, TTagEdit& Edit, std::string& Error);

}  // namespace velmar
