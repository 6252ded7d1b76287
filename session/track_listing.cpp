#include "session/track_listing.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "session/cue_sheet.h"

namespace velmar {

namespace {

// A field's text; empty when it is missing, null or not text (the service
// writes null for what it does not know).
std::string TextOf(const nlohmann::json& Object, const char* Key) {
  const auto It = Object.find(Key);
  return It != Object.end() && It->is_string() ? It->get<std::string>() : std::string();
}

std::string Trim(const std::string& s) {
  const std::size_t First = s.find_first_not_of(" \t\r\n");
  if (First == std::string::npos) return {};
  return s.substr(First, s.find_last_not_of(" \t\r\n") - First + 1);
}

// The letter a listed number begins with ("B3": 'B'), upper case; 0: none.
char SideOf(const std::string& Number) {
  return !Number.empty() && std::isalpha(static_cast<unsigned char>(Number[0]))
             ? static_cast<char>(std::toupper(static_cast<unsigned char>(Number[0])))
             : 0;
}

void NoteSides(TListing& Listing) {
  Listing.Sides.clear();
  for (const TListedTrack& t : Listing.Tracks)
    if (const char s = SideOf(t.Number); s && Listing.Sides.find(s) == std::string::npos)
      Listing.Sides += s;
}

// A field's whole number; Default when it is missing, null or not one.
int NumberOf(const nlohmann::json& Object, const char* Key, int Default) {
  const auto It = Object.find(Key);
  return It != Object.end() && It->is_number_integer() ? It->get<int>() : Default;
}

// "Artist A & Artist B" from an artist credit.
std::string CreditText(const nlohmann::json& Credit) {
  std::string Text;
  if (!Credit.is_array()) return Text;
  for (const auto& c : Credit) {
    Text += TextOf(c, "name");
    Text += TextOf(c, "joinphrase");
  }
  return Text;
}

constexpr std::size_t kLongestLine = 1000;
constexpr std::int64_t kLongestMs = 24LL * 3600 * 1000;

// A line "TRACK nn AUDIO", in any case.
bool LooksLikeCueSheet(const std::string& Text) {
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) {
    std::istringstream Words(Trim(Line));
    std::string Keyword, Number, Type;
    Words >> Keyword >> Number >> Type;
    const auto Upper = [](std::string w) {
      for (char& c : w) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return w;
    };
    if (Upper(Keyword) == "TRACK" && !Number.empty() &&
        std::all_of(Number.begin(), Number.end(), ::isdigit) && Upper(Type) == "AUDIO")
      return true;
  }
  return false;
}

}  // namespace

bool TListing::Timed() const {
  return !Tracks.empty() &&
         std::all_of(Tracks.begin(), Tracks.end(), [](const TListedTrack& t) { return t.Ms >= 0; });
}

bool ParseTextListing(const std::string& Text, TListing& Listing, std::string& Error) {
  // An optional number ("A1", "3", "03." "3)"), the title, then a length
  // (m:ss or h:mm:ss, in brackets or after a dash) at the end of the line.
  static const std::regex Timed(
      "^\\s*(?:([A-Za-z]?\\d{1,3})(?:[.):]\\s*|\\s+))?(.*?)\\s*"
      "(?:(?:-|\u2013|\u2014|\\|)\\s*)?[(\\[]?(\\d{1,3}):([0-5]\\d)(?::([0-5]\\d))?[)\\]]?\\s*$");
  static const std::regex Numbered(R"(^\s*([A-Za-z]?\d{1,3})(?:[.):]\s*|\s+)(.+)$)");
  Listing = {};
  std::vector<std::string> Lines;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) {
    Line = Trim(Line);
    if (!Line.empty()) Lines.push_back(Line);
  }
  for (const std::string& Line : Lines) {
    std::smatch m;
    // A line longer than any title is no track (and the matcher recurses per character).
    if (Line.size() > kLongestLine || !std::regex_match(Line, m, Timed) || Trim(m[2]).empty())
      continue;  // a heading
    TListedTrack t;
    t.Number = m[1];
    t.Title = Trim(m[2]);
    std::int64_t Seconds = std::stoll(m[3]) * 60 + std::stoll(m[4]);
    if (m[5].matched) Seconds = Seconds * 60 + std::stoll(m[5]);
    t.Ms = Seconds * 1000;
    Listing.Tracks.push_back(t);
  }
  // No line with a length: every line is a title (numbers kept).
  if (Listing.Tracks.empty())
    for (const std::string& Line : Lines) {
      std::smatch m;
      TListedTrack t;
      if (Line.size() > kLongestLine) continue;
      if (std::regex_match(Line, m, Numbered)) {
        t.Number = m[1];
        t.Title = Trim(m[2]);
      } else {
        t.Title = Line;
      }
      Listing.Tracks.push_back(t);
    }
  if (Listing.Tracks.empty()) {
    Error = "no track is listed";
    return false;
  }
  NoteSides(Listing);
  return true;
}

bool ParseCueListing(const std::string& Text, TListing& Listing, std::string& Error) {
  constexpr int kMsRate = 1000;  // starts in milliseconds
  std::vector<TCueTrack> Sheet;
  TCueAlbum Album;
  if (!ParseCueSheet(Text, kMsRate, Sheet, Error, nullptr, nullptr, &Album)) return false;
  Listing = {};
  Listing.Artist = Album.Performer;
  Listing.Album = Album.Title;
  Listing.Date = Album.Date;
  for (std::size_t i = 0; i < Sheet.size(); ++i) {
    TListedTrack t;
    t.Number = std::to_string(i + 1);
    t.Title = Sheet[i].Title;
    t.Artist = Sheet[i].Performer;
    // The last track's length is the side's rest: not listed.
    if (i + 1 < Sheet.size()) t.Ms = Sheet[i + 1].Start - Sheet[i].Start;
    Listing.Tracks.push_back(t);
  }
  if (Listing.Tracks.empty()) {
    Error = "no track is listed";
    return false;
  }
  return true;
}

bool ParseReleaseJson(const std::string& Json, int Medium, TListing& Listing, std::string& Error) {
  const nlohmann::json Doc = nlohmann::json::parse(Json, nullptr, false);
  if (Doc.is_discarded() || !Doc.is_object()) {
    Error = "not a release in JSON";
    return false;
  }
  const nlohmann::json* Release = &Doc;
  if (Doc.contains("releases")) {
    const auto& All = Doc["releases"];
    if (!All.is_array() || All.size() != 1) {
      Error = "the answer holds " + std::to_string(All.is_array() ? All.size() : 0) +
              " releases; one is needed";
      return false;
    }
    Release = &All[0];
  }
  Listing = {};
  Listing.Album = TextOf(*Release, "title");
  Listing.Date = TextOf(*Release, "date");
  if (Release->contains("artist-credit")) Listing.Artist = CreditText((*Release)["artist-credit"]);
  const auto Media = Release->find("media");
  if (Media == Release->end() || !Media->is_array()) {
    Error = "the release lists no media";
    return false;
  }
  int Index = 0;
  for (const auto& m : *Media) {
    ++Index;
    if (Medium > 0 && NumberOf(m, "position", Index) != Medium) continue;
    const auto Tracks = m.find("tracks");
    if (Tracks == m.end() || !Tracks->is_array()) continue;
    for (const auto& j : *Tracks) {
      TListedTrack t;
      if (const auto n = j.find("number"); n != j.end() && n->is_string())
        t.Number = n->get<std::string>();
      else if (const int Position = NumberOf(j, "position", 0); Position > 0)
        t.Number = std::to_string(Position);
      t.Title = TextOf(j, "title");
      if (t.Title.empty() && j.contains("recording")) t.Title = TextOf(j["recording"], "title");
      // A length in ms, as a whole number up to a day (null: not known).
      if (const auto l = j.find("length"); l != j.end() && l->is_number_integer()) {
        const auto Ms = l->get<std::int64_t>();
        if (Ms >= 0 && Ms <= kLongestMs) t.Ms = Ms;
      }
      if (j.contains("artist-credit")) t.Artist = CreditText(j["artist-credit"]);
      if (t.Artist == Listing.Artist) t.Artist.clear();
      Listing.Tracks.push_back(t);
    }
  }
  if (Listing.Tracks.empty()) {
    Error = Medium > 0 ? "the release has no medium " + std::to_string(Medium) + " with tracks"
                       : "the release lists no tracks";
    return false;
  }
  NoteSides(Listing);
  return true;
}

std::string TReleaseHit::Text() const {
  std::string Details = Date;
  for (const std::string* Part : {&Country, &Formats})
    if (!Part->empty()) Details += (Details.empty() ? "" : ", ") + *Part;
  if (Tracks > 0)
    Details += (Details.empty() ? "" : ", ") + std::to_string(Tracks) +
               (Tracks == 1 ? " track" : " tracks");
  return (Artist.empty() ? "" : Artist + " - ") + Title +
         (Details.empty() ? "" : " (" + Details + ")");
}

bool ParseReleaseHits(const std::string& Json, std::vector<TReleaseHit>& Hits, std::string& Error) {
  Hits.clear();
  const nlohmann::json Doc = nlohmann::json::parse(Json, nullptr, false);
  if (Doc.is_discarded() || !Doc.is_object() || !Doc.contains("releases") ||
      !Doc["releases"].is_array()) {
    Error = "the answer is not a list of releases";
    return false;
  }
  for (const auto& r : Doc["releases"]) {
    TReleaseHit h;
    h.Id = TextOf(r, "id");
    h.Title = TextOf(r, "title");
    h.Date = TextOf(r, "date");
    h.Country = TextOf(r, "country");
    h.Barcode = TextOf(r, "barcode");
    if (r.contains("artist-credit")) h.Artist = CreditText(r["artist-credit"]);
    h.Tracks = NumberOf(r, "track-count", 0);
    if (const auto Media = r.find("media");
        Media != r.end() && Media->is_array() && !Media->empty()) {
      h.Formats = TextOf((*Media)[0], "format");
      if (Media->size() > 1) h.Formats = std::to_string(Media->size()) + " x " + h.Formats;
    }
    if (!h.Id.empty()) Hits.push_back(h);
  }
  return true;
}

bool ParseListing(const std::string& Text, const std::string& Side, TListing& Listing,
                  std::string& Error) {
  const bool Letter = Side.size() == 1 && std::isalpha(static_cast<unsigned char>(Side[0]));
  const int Medium = !Side.empty() && !Letter && std::all_of(Side.begin(), Side.end(), ::isdigit)
                         ? std::stoi(Side)
                         : 0;
  if (!Side.empty() && !Letter && Medium <= 0) {
    Error = "a side is a letter (A, B...) or a medium's number (1, 2...), not \"" + Side + "\"";
    return false;
  }
  const std::string Start = Trim(Text.substr(0, 256));
  bool Ok;
  if (!Start.empty() && Start[0] == '{')
    Ok = ParseReleaseJson(Text, Medium > 0 ? Medium : 1, Listing, Error);
  else if (LooksLikeCueSheet(Text))
    Ok = ParseCueListing(Text, Listing, Error);
  else
    Ok = ParseTextListing(Text, Listing, Error);
  if (!Ok) return false;
  // One side of those the numbers name: the one asked for, else the first.
  if (Listing.Sides.empty()) {
    if (Letter) {
      Error = "the listing has no side " + Side + " (its numbers have no side letters)";
      return false;
    }
    return true;
  }
  const char Wanted = Letter ? static_cast<char>(std::toupper(static_cast<unsigned char>(Side[0])))
                             : Listing.Sides[0];
  if (Listing.Sides.find(Wanted) == std::string::npos) {
    Error =
        std::string("the listing has no side ") + Wanted + " (its sides: " + Listing.Sides + ")";
    return false;
  }
  std::erase_if(Listing.Tracks, [&](const TListedTrack& t) { return SideOf(t.Number) != Wanted; });
  Listing.Side = Wanted;
  return true;
}

}  // namespace velmar
