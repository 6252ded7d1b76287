// Where a listing's tracks lie on a side. The listing's lengths are scaled to
// the side's sound (a side played slow or fast, lengths rounded to the
// second), then each cut is predicted from the one before it and goes to the
// quiet gap nearest that place, within a few seconds, the deeper and the
// longer preferred: a quiet passage inside a song, even one longer than the
// gap between two songs, lies far from any predicted end. Where no gap is
// near, the cut goes to the prediction, marked. The lead-in before the first
// sound and the run-out after the last stay outside the tracks.
//
// Not thread-bound; no state.
#pragma once

#include <cstdint>
#include <vector>

#include "session/quiet_gaps.h"

namespace velmar {

struct TListingCut {
  std::int64_t Frame = 0;  // where the next track starts
  bool InGap = false;      // in a quiet gap; else at the prediction, no gap being near
  TQuietGap Gap;           // the gap, when InGap
};

struct TListingPlan {
  std::int64_t From = 0, To = 0;  // the first track's start and the last one's end
  std::vector<TListingCut> Cuts;  // one fewer than the tracks
  double Speed = 1;               // the sound's length over the listing's (1.01: 1 % slower)
};

// How far from its predicted place a cut looks for a gap: this, and 1 % of
// the track's length.
constexpr double kListingReachSeconds = 4;

// The plan for a side of Frames frames at Rate with these gaps, for tracks
// of these lengths (ms; -1 where not listed). With lengths missing before the
// last track, the cuts go to the longest gaps instead (as "split into N").
// Cuts lie between From and To, in order; fewer than the listing asks when
// the gaps (or the sound) run out.
TListingPlan PlaceListing(const std::vector<TQuietGap>& Gaps, std::int64_t Frames,
                          const std::vector<std::int64_t>& Ms, int Rate = 44100);

}  // namespace velmar
