#include "session/cue_sheet.h"

#include <cstdio>
#include <sstream>

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

std::string CueSheetText(const std::string& WavName, const std::vector<TCueTrack>& Tracks,
                         int Rate) {
  std::string Out = "FILE " + Quoted(WavName) + " WAVE\n";
  int Number = 0;
  for (const TCueTrack& t : Tracks) {
    const std::int64_t Frames75 = (t.Start * 75 + Rate / 2) / Rate;
    char Line[96];
    std::snprintf(Line, sizeof Line, "  TRACK %02d AUDIO\n", ++Number);
    Out += Line;
    Out += "    TITLE " + Quoted(t.Title) + "\n";
    std::snprintf(Line, sizeof Line, "    INDEX 01 %02lld:%02lld:%02lld\n",
                  static_cast<long long>(Frames75 / 75 / 60),
                  static_cast<long long>(Frames75 / 75 % 60),
                  static_cast<long long>(Frames75 % 75));
    Out += Line;
  }
  return Out;
}

bool ParseCueSheet(const std::string& Text, int Rate, std::vector<TCueTrack>& Tracks,
                   std::string& Error) {
  Tracks.clear();
  std::istringstream In(Text);
  std::string Line;
  int Files = 0, LineNumber = 0;
  bool HaveIndex = true;  // of the track before
  auto Fail = [&](const std::string& Why) {
    Error = "line " + std::to_string(LineNumber) + ": " + Why;
    return false;
  };
  while (std::getline(In, Line)) {
    ++LineNumber;
    if (LineNumber == 1 && Line.rfind("\xEF\xBB\xBF", 0) == 0) Line.erase(0, 3);
    std::istringstream Words(Line);
    std::string Key;
    Words >> Key;
    std::string Rest;
    std::getline(Words, Rest);
    if (Key == "FILE") {
      if (++Files > 1) return Fail("a sheet of more than one file");
    } else if (Key == "TRACK") {
      if (!HaveIndex) return Fail("the track before has no INDEX 01");
      if (Files == 0) return Fail("TRACK before FILE");
      Tracks.push_back({});
      HaveIndex = false;
    } else if (Key == "TITLE" && !Tracks.empty() && !HaveIndex) {
      Tracks.back().Title = Argument(Rest);
    } else if (Key == "INDEX" && !Tracks.empty()) {
      unsigned Index = 0, m = 0, s = 0, f = 0;
      if (std::sscanf(Rest.c_str(), " %u %u:%u:%u", &Index, &m, &s, &f) != 4 || s > 59 || f > 74)
        return Fail("not an INDEX nn mm:ss:ff line");
      if (Index != 1) continue;
      const std::int64_t Frames75 = (std::int64_t{m} * 60 + s) * 75 + f;
      Tracks.back().Start = (Frames75 * Rate + 37) / 75;
      if (Tracks.size() > 1 && Tracks.back().Start <= Tracks[Tracks.size() - 2].Start)
        return Fail("INDEX 01 not after the track before");
      HaveIndex = true;
    }
  }
  if (Tracks.empty()) {
    Error = "no tracks";
    return false;
  }
  if (!HaveIndex) {
    LineNumber = 0;
    Error = "the last track has no INDEX 01";
    return false;
  }
  return true;
}

}  // namespace velmar
