// Track listings as people have them (pasted from web pages, typed, cue
// sheets, a release from the MusicBrainz web service), and placing one on a
// side's quiet gaps.
#include "session/track_listing.h"

#include <gtest/gtest.h>

#include "session/listing_cuts.h"

namespace velmar {
namespace {

TEST(TrackListing, TextAsPastedOrTypedGivesNumbersTitlesAndLengths) {
  TListing l;
  std::string Error;
  // A web page's table: a heading, side letters, tabs, lengths in brackets,
  // an en dash, hours.
  ASSERT_TRUE(
      ParseListing("Tracklist\n\nSide A\nA1\tSo What\t9:22\nA2 Freddie Freeloader (9:46)\n"
                   "\nSide B\nB1 Blue in Green \xE2\x80\x93 5:37\nB2. All Blues [11:33]\n"
                   "B3) Flamenco Sketches - 1:09:26\n",
                   "", l, Error))
      << Error;
  EXPECT_EQ(l.Sides, "AB");
  EXPECT_EQ(l.Side, 'A');
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[0].Number, "A1");
  EXPECT_EQ(l.Tracks[0].Title, "So What");
  EXPECT_EQ(l.Tracks[0].Ms, 562000);
  EXPECT_EQ(l.Tracks[1].Title, "Freddie Freeloader");
  EXPECT_EQ(l.Tracks[1].Ms, 586000);
  ASSERT_TRUE(
      ParseListing("A1 So What 9:22\nB1 Blue in Green \xE2\x80\x93 5:37\nB2. All Blues "
                   "[11:33]\nB3) Flamenco Sketches - 1:09:26\n",
                   "b", l, Error));
  ASSERT_EQ(l.Tracks.size(), 3u);
  EXPECT_EQ(l.Tracks[0].Title, "Blue in Green");
  EXPECT_EQ(l.Tracks[1].Number, "B2");
  EXPECT_EQ(l.Tracks[1].Title, "All Blues");
  EXPECT_EQ(l.Tracks[2].Title, "Flamenco Sketches");
  EXPECT_EQ(l.Tracks[2].Ms, (69 * 60 + 26) * 1000);
  EXPECT_TRUE(l.Timed());
  // Plain numbers, and a title with a dash and digits of its own.
  ASSERT_TRUE(
      ParseTextListing("1. Take Five - Live 5:24\n2 Blue Rondo a la Turk 6:44\n", l, Error));
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[0].Number, "1");
  EXPECT_EQ(l.Tracks[0].Title, "Take Five - Live");
  EXPECT_EQ(l.Tracks[1].Title, "Blue Rondo a la Turk");
  EXPECT_TRUE(l.Sides.empty());
  // Titles alone: every line is a track, of no length.
  ASSERT_TRUE(ParseTextListing("Intro\n2. Second Song\n", l, Error));
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[1].Title, "Second Song");
  EXPECT_FALSE(l.Timed());

  // What cannot be a listing, or not that side, is said.
  EXPECT_FALSE(ParseListing("\n \n", "", l, Error));
  EXPECT_EQ(Error, "no track is listed");
  EXPECT_FALSE(ParseListing("A1 One 3:00\nB1 Two 4:00\n", "C", l, Error));
  EXPECT_EQ(Error, "the listing has no side C (its sides: AB)");
  EXPECT_FALSE(ParseListing("1. One 3:00\n", "x2", l, Error));
  EXPECT_FALSE(ParseListing("1. One 3:00\n", "B", l, Error));
}

TEST(TrackListing, CueSheetsAndReleasesAsTheWebServiceWritesThem) {
  TListing l;
  std::string Error;
  ASSERT_TRUE(
      ParseListing("PERFORMER \"The Band\"\nTITLE \"Live\"\nFILE \"side.wav\" WAVE\n"
                   "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                   "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 03:12:00\n",
                   "", l, Error))
      << Error;
  EXPECT_EQ(l.Artist, "The Band");
  EXPECT_EQ(l.Album, "Live");
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[0].Ms, 192000);
  EXPECT_EQ(l.Tracks[1].Ms, -1);  // the rest of the side

  // A vinyl release: one medium, sides A and B, a guest on one track.
  const std::string Release = R"({
    "id": "b84ee12a-09ef-421b-82de-0441a926375b", "title": "Kind of Blue", "date": "1959-08-17",
    "artist-credit": [{"name": "Miles Davis", "joinphrase": "", "artist": {"name": "Miles Davis"}}],
    "media": [{"position": 1, "format": "12\" Vinyl", "track-count": 3, "tracks": [
      {"id": "t1", "number": "A1", "position": 1, "title": "So What", "length": 562000,
       "recording": {"title": "So What", "length": 562000}},
      {"id": "t2", "number": "A2", "position": 2, "title": "Freddie Freeloader", "length": 586000,
       "artist-credit": [{"name": "Miles Davis", "joinphrase": " with "}, {"name": "Wynton Kelly"}]},
      {"id": "t3", "number": "B1", "position": 3, "title": "Blue in Green", "length": null}]}]})";
  ASSERT_TRUE(ParseListing(Release, "", l, Error)) << Error;
  EXPECT_EQ(l.Album, "Kind of Blue");
  EXPECT_EQ(l.Artist, "Miles Davis");
  EXPECT_EQ(l.Date, "1959-08-17");
  EXPECT_EQ(l.Sides, "AB");
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[0].Artist, "");
  EXPECT_EQ(l.Tracks[1].Artist, "Miles Davis with Wynton Kelly");
  EXPECT_EQ(l.Tracks[1].Ms, 586000);
  ASSERT_TRUE(ParseListing(Release, "B", l, Error));
  ASSERT_EQ(l.Tracks.size(), 1u);
  EXPECT_EQ(l.Tracks[0].Ms, -1);  // a length the service does not know
  // A search answer with the one release; two CDs chosen by position.
  ASSERT_TRUE(ParseListing(R"({"releases": [{"title": "Two", "media": [
      {"position": 1, "tracks": [{"position": 1, "title": "a", "length": 1000}]},
      {"position": 2, "tracks": [{"position": 1, "title": "b", "length": 2000},
                                 {"position": 2, "title": "c", "length": 3000}]}]}]})",
                           "2", l, Error))
      << Error;
  ASSERT_EQ(l.Tracks.size(), 2u);
  EXPECT_EQ(l.Tracks[0].Number, "1");
  EXPECT_EQ(l.Tracks[1].Title, "c");
  EXPECT_FALSE(ParseListing(R"({"releases": []})", "", l, Error));
  EXPECT_EQ(Error, "the answer holds 0 releases; one is needed");
  EXPECT_FALSE(ParseListing("{\"title\": ", "", l, Error));
  EXPECT_EQ(Error, "not a release in JSON");
}

// Gaps as a side's track rule finds them: the lengths listed a few seconds
// off and the side played 1 % slow; songs with quiet passages inside them
// longer than the gaps between songs.
TEST(TrackListing, EachCutGoesToTheGapNearestItsListedPlace) {
  constexpr int R = 44100;
  const auto S = [](double Seconds) { return static_cast<std::int64_t>(Seconds * R * 1.01); };
  // Songs of 100, 80, 120 and 90 s from 2 s; 1.2 s gaps between them; a
  // 2.5 s quiet passage 40 s into the first and 70 s into the third.
  const std::vector<TQuietGap> Gaps = {{0, S(2), 0},
                                       {S(42), S(44.5), 3},
                                       {S(102), S(103.2), 1},
                                       {S(183.2), S(184.4), 1},
                                       {S(254.4), S(256.9), 3},
                                       {S(304.4), S(305.6), 1},
                                       {S(395.6), S(400), 0}};
  // The listing: each track from its start to the next one's, a few seconds off.
  const std::vector<std::int64_t> Ms = {(101 + 3) * 1000, (81 - 2) * 1000, (121 + 2) * 1000,
                                        (92 - 3) * 1000};
  const TListingPlan Plan = PlaceListing(Gaps, S(400), Ms, R);
  ASSERT_EQ(Plan.Cuts.size(), 3u);
  const TQuietGap* Between[] = {&Gaps[2], &Gaps[3], &Gaps[5]};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Plan.Cuts[i].InGap) << i;
    EXPECT_GT(Plan.Cuts[i].Frame, Between[i]->Start) << i;
    EXPECT_LT(Plan.Cuts[i].Frame, Between[i]->End) << i;
  }
  // The lead-in and run-out outside, the speed told.
  EXPECT_GT(Plan.From, 0);
  EXPECT_LE(Plan.From, S(2));
  EXPECT_GE(Plan.To, S(395.6));
  EXPECT_LT(Plan.To, S(400));
  EXPECT_NEAR(Plan.Speed, 1.0, 0.02);

  // A gap that is not there: the cut goes where the listed length ends, marked.
  std::vector<TQuietGap> Fewer = Gaps;
  Fewer.erase(Fewer.begin() + 3);
  const TListingPlan Guess = PlaceListing(Fewer, S(400), Ms, R);
  ASSERT_EQ(Guess.Cuts.size(), 3u);
  EXPECT_TRUE(Guess.Cuts[0].InGap);
  EXPECT_FALSE(Guess.Cuts[1].InGap);
  EXPECT_NEAR(static_cast<double>(Guess.Cuts[1].Frame - Guess.Cuts[0].Frame),
              79.0 * R * Guess.Speed, 1.0);
  EXPECT_TRUE(Guess.Cuts[2].InGap);
  EXPECT_GT(Guess.Cuts[2].Frame, Gaps[5].Start);
}

}  // namespace
}  // namespace velmar
