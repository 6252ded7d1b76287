// A side's track listing as people have it: text pasted from a web page or
// typed ("A1 Title 3:12", "1. Title (3:12)", "Title - 3:12"), a cue sheet,
// or a release as the MusicBrainz web service writes it in JSON. What each
// gives: the tracks' numbers as listed, titles, artists and lengths, and the
// album's fields. Placing the listing on a side's audio is listing_cuts.h's.
//
// Not thread-bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct TListedTrack {
  std::string Number;  // as listed: "A1", "3"; empty when none
  std::string Title;
  std::string Artist;    // empty: the album's
  std::int64_t Ms = -1;  // its length; -1 when not listed
};

struct TListing {
  std::string Artist, Album, Date;
  std::vector<TListedTrack> Tracks;
  // The sides the listing has, by their letters ("AB"; empty when its
  // numbers have none), and the one its tracks now are.
  std::string Sides;
  char Side = 0;
  // Every track's length is listed.
  bool Timed() const;
};

// A release a search found.
struct TReleaseHit {
  std::string Id;  // the release's MBID
  std::string Title, Artist, Date, Country, Barcode;
  std::string Formats;  // "12\" Vinyl", "2 x CD"
  int Tracks = 0;
  // "Miles Davis - Kind of Blue (1959, US, 12" Vinyl, 5 tracks)"
  std::string Text() const;
};

// The releases of a search answer ({"releases": [...]}); false with Error
// when it is not one.
bool ParseReleaseHits(const std::string& Json, std::vector<TReleaseHit>& Hits, std::string& Error);

// Reads Text as whichever of the three it is and keeps the tracks of one
// side: Side a letter (the tracks numbered "B1", "B2"...) or, for a release
// of several media, a medium's position ("2"); empty: the first. False with
// Error when it holds no track, or not that side.
bool ParseListing(const std::string& Text, const std::string& Side, TListing& Listing,
                  std::string& Error);

// The three readers ParseListing chooses from (all tracks, no side chosen).
bool ParseTextListing(const std::string& Text, TListing& Listing, std::string& Error);
bool ParseCueListing(const std::string& Text, TListing& Listing, std::string& Error);
// A release object ({"title", "date", "artist-credit", "media": [{"position",
// "tracks": [{"number", "title", "length", "artist-credit"}]}]}), or a search
// answer holding one ({"releases": [...]}). Medium: its position, 0 for all.
bool ParseReleaseJson(const std::string& Json, int Medium, TListing& Listing, std::string& Error);

}  // namespace velmar
