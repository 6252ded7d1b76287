// The review's rules, apart from its window: where a side falls quiet, which
// of its tracks hold only the input's noise, where its sound begins and ends,
// and the new tracks that an edit of the side makes (names, tags, what is
// left out). The window shows them and asks; these decide.
//
// Not thread-bound: FindSideGaps runs on a worker, the rest where called.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/quiet_gaps.h"
#include "session/side_audio.h"
#include "session/side_edit.h"
#include "session/track_files.h"
#include "session/track_rule.h"
#include "wavefile/wave_tags.h"

namespace velmar {

// The quiet gaps of a side by the recorder's rule, read front to back; Done
// gets the frames read. False (Cancel) when cancelled.
struct TSideGaps {
  std::vector<TQuietGap> Gaps;
  std::unique_ptr<TQuietGapFinder> Finder;  // what found them (the gate that finds more)
};
bool FindSideGaps(const TSideAudio& Audio, const TTrackSettings& Rule,
                  const std::atomic<bool>& Cancel, std::atomic<std::int64_t>& Done,
                  TSideGaps& Result);

// The tracks of Edit that lie within one quiet gap (the input's noise only,
// a run-out groove, a tape's hiss after the music), in order.
std::vector<std::size_t> NoiseOnlyTracks(const TSideEdit& Edit, const std::vector<TQuietGap>& Gaps);

// Where a side's sound begins and ends: after the quiet at its start (less
// kLeadMargin) and before the quiet at its end (plus kRunOutMargin, as a
// sound dies away under the gate). The whole side when it has neither.
struct TSoundSpan {
  std::int64_t From = 0, To = 0;
  bool Trims(std::int64_t Frames) const { return From > 0 || To < Frames; }
};
constexpr std::int64_t kLeadMargin = 44100 / 2;
constexpr std::int64_t kRunOutMargin = 44100;
TSoundSpan SoundSpan(const std::vector<TQuietGap>& Gaps, std::int64_t Frames);

// The files Apply writes for Edit, in order: kept tracks numbered 1.. by
// themselves (named by title, else TrackNN), each with the album's fields,
// its title, its number when Numbered, and the artist of the old track its
// audio starts in (OldFrames and OldTags: the side's tracks as read); a
// track left out is audio passed over (no name).
std::vector<TTrackFile> PlanSideTracks(const TSideEdit& Edit,
                                       const std::vector<std::int64_t>& OldFrames,
                                       const std::vector<TTrackTags>& OldTags,
                                       const TTrackTags& Album, bool Numbered);

}  // namespace velmar
