// Feeds arbitrary text to the track listing readers (pasted text, cue sheets,
// releases in JSON from a web service) and places what they read on a side:
// nothing read may crash or hang, a listing read has tracks, and every cut
// placed lies inside the side, in order.
#include <cstdint>
#include <string>

#include "session/listing_cuts.h"
#include "session/track_listing.h"

namespace {

using namespace velmar;

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  for (const char* Side : {"", "A", "B", "2"}) {
    TListing Listing;
    std::string Error;
    if (!ParseListing(Text, Side, Listing, Error)) {
      Check(!Error.empty());
      continue;
    }
    Check(!Listing.Tracks.empty());
    std::vector<std::int64_t> Ms;
    for (const TListedTrack& t : Listing.Tracks) Ms.push_back(t.Ms);
    // A 5 min side with a gap every 40 s.
    constexpr std::int64_t Frames = 300 * 44100;
    std::vector<TQuietGap> Gaps{{0, 44100, 1}};
    for (std::int64_t At = 40 * 44100; At + 44100 < Frames; At += 40 * 44100)
      Gaps.push_back({At, At + 44100, 2});
    Gaps.push_back({Frames - 88200, Frames, 1});
    const TListingPlan Plan = PlaceListing(Gaps, Frames, Ms, 44100);
    std::int64_t Previous = Plan.From;
    for (const TListingCut& c : Plan.Cuts) {
      Check(c.Frame > Previous && c.Frame <= Plan.To);
      Previous = c.Frame;
    }
  }
  std::vector<TReleaseHit> Hits;
  std::string Error;
  ParseReleaseHits(Text, Hits, Error);
  return 0;
}
