#include "session/tag_edit.h"

#include <algorithm>
#include <cctype>

namespace velmar {

namespace {

std::string Lower(std::string Text) {
  for (char& c : Text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return Text;
}

}  // namespace

bool TTagEdit::Empty() const {
  return !Artist && !Album && !AlbumArtist && !Date && !Genre && !Comment && !Disc && !DiscTotal &&
         !Cover && !Numbers;
}

void TTagEdit::ApplyTo(std::vector<TTrackTags>& Tags) const {
  const int Count = static_cast<int>(Tags.size());
  for (int i = 0; i < Count; ++i) {
    TTrackTags& t = Tags[static_cast<std::size_t>(i)];
    if (Artist) t.Artist = *Artist;
    if (Album) t.Album = *Album;
    if (AlbumArtist) t.AlbumArtist = *AlbumArtist;
    if (Date) t.Date = *Date;
    if (Genre) t.Genre = *Genre;
    if (Comment) t.Comment = *Comment;
    if (Disc) t.Disc = *Disc;
    if (DiscTotal) t.DiscTotal = *DiscTotal;
    if (Cover) t.Cover = *Cover;
    if (Numbers) {
      t.Track = i + 1;
      t.TrackTotal = Count;
    }
  }
}

bool TTagEdit::SetByName(const std::string& Key, const std::string& Value, std::string& Error) {
  const std::string k = Lower(Key);
  if (k == "artist")
    Artist = Value;
  else if (k == "album")
    Album = Value;
  else if (k == "album artist" || k == "albumartist")
    AlbumArtist = Value;
  else if (k == "date" || k == "year")
    Date = Value;
  else if (k == "genre")
    Genre = Value;
  else if (k == "comment")
    Comment = Value;
  else if (k == "disc") {
    int n = 0, m = 0;
    if (!Value.empty() && !ParseNumberOf(Value, n, m)) {
      Error = "the disc \"" + Value + "\" is not N or N/M (numbers from 1 to 999)";
      return false;
    }
    Disc = n;
    DiscTotal = m;
  } else {
    return false;
  }
  return true;
}

bool TakeHeaderLines(std::vector<std::string>& Lines, TTagEdit& Edit, std::string& Error) {
  std::size_t Taken = 0;
  for (; Taken < Lines.size(); ++Taken) {
    const std::string& Line = Lines[Taken];
    const std::size_t Colon = Line.find(':');
    if (Colon == std::string::npos) break;
    std::string Value = Line.substr(Colon + 1);
    Value.erase(0, std::min(Value.find_first_not_of(" \t"), Value.size()));
    Error.clear();
    if (!Edit.SetByName(Line.substr(0, Colon), Value, Error)) {
      if (!Error.empty()) return false;
      break;  // a title with a colon in it
    }
  }
  Lines.erase(Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(Taken));
  return true;
}

}  // namespace velmar
