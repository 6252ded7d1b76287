#include "session/cue_sheet.h"

#include <cctype>
#include <cstdio>
#include <sstream>

#include "wavefile/text_encoding.h"

namespace velmar {

namespace {

std::string Quoted(std::string Text) {
  for (char& c : Text)
    if (c == '"') c = '\'';
  return '"' + Text + '"';
}

// The rest of a line after its keyword, without quotes.
std::string Argument(const std::string& Rest) {
  std::string s = Rest;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(s.begin());
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

std::string CueSheetText(const std::string& WavName, const std::vector<TCueTrack>& Tracks, int Rate,
                         const TCueAlbum& Album) {
  std::string Out;
  if (!Album.Genre.empty()) Out += "REM GENRE " + Quoted(Album.Genre) + "\n";
  if (!Album.Date.empty()) Out += "REM DATE " + Quoted(Album.Date) + "\n";
  if (!Album.Performer.empty()) Out += "PERFORMER " + Quoted(Album.Performer) + "\n";
  if (!Album.Title.empty()) Out += "TITLE " + Quoted(Album.Title) + "\n";
  Out += "REM RATE " + std::to_string(Rate) + "\nFILE " + Quoted(WavName) + " WAVE\n";
  int Number = 0;
  for (const TCueTrack& t : Tracks) {
    const std::int64_t Frames75 = (t.Start * 75 + Rate / 2) / Rate;
    char Line[96];
    std::snprintf(Line, sizeof Line, "  TRACK %02d AUDIO\n", ++Number);
    Out += Line;
    Out += "    TITLE " + Quoted(t.Title) + "\n";
    if (!t.Performer.empty()) Out += "    PERFORMER " + Quoted(t.Performer) + "\n";
    Out += "    REM FRAME " + std::to_string(t.Start) + "\n";
    std::snprintf(Line, sizeof Line, "    INDEX 01 %02lld:%02lld:%02lld\n",
                  static_cast<long long>(Frames75 / 75 / 60),
                  static_cast<long long>(Frames75 / 75 % 60),
                  static_cast<long long>(Frames75 % 75));
    Out += Line;
  }
  return Out;
}

bool ParseCueSheet(const std::string& Raw, int Rate, std::vector<TCueTrack>& Tracks,
                   std::string& Error, std::string* File, int* ExactRate, TCueAlbum* Album) {
  Tracks.clear();
  TCueAlbum Sheet;
  // Any encoding, any line ends.
  std::string Text = TextAsUtf8(Raw);
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (Text[i] == '\r') {
      if (i + 1 < Text.size() && Text[i + 1] == '\n')
        Text.erase(i, 1);
      else
        Text[i] = '\n';
    }
  std::istringstream In(Text);
  std::string Line;
  int Files = 0, LineNumber = 0, TrackLine = 0;
  int SheetRate = 0;
  bool HaveIndex = true;              // of the track before
  std::vector<std::int64_t> Index75;  // each track's INDEX 01 in 1/75 s
  auto Fail = [&](int At, const std::string& Why) {
    Error = "line " + std::to_string(At) + ": " + Why;
    return false;
  };
  while (std::getline(In, Line)) {
    ++LineNumber;
    std::istringstream Words(Line);
    std::string Key;
    Words >> Key;
    for (char& c : Key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string Rest;
    std::getline(Words, Rest);
    if (Key == "FILE") {
      if (++Files > 1) return Fail(LineNumber, "a sheet of more than one file");
      if (File) {
        // The name, quoted or not, before the file type.
        std::string Name = Argument(Rest);
        const std::size_t Quote = Name.rfind('"');
        if (!Name.empty() && Name.front() == '"' && Quote != std::string::npos && Quote > 0)
          Name = Name.substr(1, Quote - 1);
        else if (const std::size_t Space = Name.rfind(' '); Space != std::string::npos)
          Name = Name.substr(0, Space);
        *File = Name;
      }
    } else if (Key == "TRACK") {
      if (!HaveIndex) return Fail(TrackLine, "this track has no INDEX 01");
      if (Files == 0) return Fail(LineNumber, "TRACK before FILE");
      Tracks.push_back({});
      HaveIndex = false;
      TrackLine = LineNumber;
    } else if (Key == "TITLE") {
      (Tracks.empty() ? Sheet.Title : Tracks.back().Title) = Argument(Rest);
    } else if (Key == "PERFORMER") {
      (Tracks.empty() ? Sheet.Performer : Tracks.back().Performer) = Argument(Rest);
    } else if (Key == "REM") {
      std::istringstream Remark(Rest);
      std::string What;
      Remark >> What;
      std::string Said;
      std::getline(Remark, Said);
      long long Value = -1;
      std::istringstream(Said) >> Value;
      if (What == "RATE" && Value > 0 && Value < 1000000) SheetRate = static_cast<int>(Value);
      if (What == "FRAME" && Value >= 0 && !Tracks.empty()) Tracks.back().Exact = Value;
      if (What == "DATE" && Tracks.empty()) Sheet.Date = Argument(Said);
      if (What == "GENRE" && Tracks.empty()) Sheet.Genre = Argument(Said);
    } else if (Key == "INDEX" && !Tracks.empty()) {
      unsigned Index = 0, m = 0, s = 0, f = 0;
      int End = 0;
      if (std::sscanf(Rest.c_str(), " %u %u:%u:%u %n", &Index, &m, &s, &f, &End) != 4 || s > 59 ||
          f > 74 || static_cast<std::size_t>(End) != Rest.size())
        return Fail(LineNumber, "not an INDEX nn mm:ss:ff line");
      if (Index != 1) continue;
      const std::int64_t Frames75 = (std::int64_t{m} * 60 + s) * 75 + f;
      Tracks.back().Start = (Frames75 * Rate + 37) / 75;
      Index75.resize(Tracks.size());
      Index75.back() = Frames75;
      if (Tracks.size() > 1 && Tracks.back().Start <= Tracks[Tracks.size() - 2].Start)
        return Fail(LineNumber, "INDEX 01 not after the track before");
      HaveIndex = true;
    }
  }
  if (Tracks.empty()) {
    Error = "no tracks";
    return false;
  }
  if (!HaveIndex) return Fail(TrackLine, "this track has no INDEX 01");
  for (std::size_t i = 0; i < Tracks.size() && SheetRate > 0; ++i) {
    TCueTrack& t = Tracks[i];
    if (t.Exact < 0 || (t.Exact * 75 + SheetRate / 2) / SheetRate == Index75[i]) continue;
    t.Exact = (Index75[i] * SheetRate + 37) / 75;
    t.Stale = true;
  }
  // Exact frames count only when every track has one, in order.
  bool Exact = SheetRate > 0;
  for (std::size_t i = 0; i < Tracks.size(); ++i)
    Exact = Exact && Tracks[i].Exact >= 0 && (i == 0 || Tracks[i].Exact > Tracks[i - 1].Exact);
  if (!Exact)
    for (TCueTrack& t : Tracks) t.Exact = -1;
  if (ExactRate) *ExactRate = Exact ? SheetRate : 0;
  // A track's performer that is the album's is no performer of its own.
  for (TCueTrack& t : Tracks)
    if (t.Performer == Sheet.Performer) t.Performer.clear();
  if (Album) *Album = Sheet;
  return true;
}

}  // namespace velmar
