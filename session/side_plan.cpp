#include "session/side_plan.h"

#include <algorithm>

namespace velmar {

bool FindSideGaps(const TSideAudio& Audio, const TTrackSettings& Rule,
                  const std::atomic<bool>& Cancel, std::atomic<std::int64_t>& Done,
                  TSideGaps& Result) {
  constexpr std::int64_t kStep = 65536;
  auto Finder = std::make_unique<TQuietGapFinder>(Rule);
  std::vector<std::int16_t> Buffer(2 * kStep);
  for (std::int64_t At = 0; At < Audio.Frames(); At += kStep) {
    if (Cancel) return false;
    const std::int64_t n = std::min(kStep, Audio.Frames() - At);
    Audio.Read(At, Buffer.data(), n);
    Finder->Add(reinterpret_cast<const std::uint8_t*>(Buffer.data()),
                static_cast<std::size_t>(n * 4));
    Done = At + n;
  }
  Result.Gaps = Finder->Finish();
  Result.Finder = std::move(Finder);
  return true;
}

std::vector<std::size_t> NoiseOnlyTracks(const TSideEdit& Edit,
                                         const std::vector<TQuietGap>& Gaps) {
  // A gap is found on the rule's buffers from the side's start, which do not
  // fall on the marks: a track's ends may lie a buffer outside its gap.
  constexpr std::int64_t kReach = TQuietGapFinder::kBufferBytes / 4;
  std::vector<std::size_t> Noise;
  for (std::size_t t = 0; t < Edit.Tracks(); ++t) {
    const std::int64_t Start = Edit.TrackStart(t), End = Edit.TrackEnd(t);
    if (std::any_of(Gaps.begin(), Gaps.end(), [&](const TQuietGap& g) {
          return g.Start <= Start + kReach && g.End >= End - kReach;
        }))
      Noise.push_back(t);
  }
  return Noise;
}

TSoundSpan SoundSpan(const std::vector<TQuietGap>& Gaps, std::int64_t Frames) {
  TSoundSpan Span{0, Frames};
  if (Gaps.empty()) return Span;
  const TQuietGap& First = Gaps.front();
  const TQuietGap& Last = Gaps.back();
  // Quiet from the start (within a buffer) and longer than its margin.
  constexpr std::int64_t kReach = TQuietGapFinder::kBufferBytes / 4;
  if (First.Start <= kReach && First.End - kLeadMargin > 0 && First.End < Frames)
    Span.From = First.End - kLeadMargin;
  if (Last.End >= Frames - kReach && Last.Start + kRunOutMargin < Frames && Last.Start > 0)
    Span.To = Last.Start + kRunOutMargin;
  if (Span.To <= Span.From) return {0, Frames};  // quiet throughout: nothing to tell apart
  return Span;
}

std::vector<TTrackFile> PlanSideTracks(const TSideEdit& Edit,
                                       const std::vector<std::int64_t>& OldFrames,
                                       const std::vector<TTrackTags>& OldTags,
                                       const TTrackTags& Album, bool Numbered) {
  std::vector<TTrackFile> New;
  const auto Count = static_cast<int>(Edit.KeptTracks());
  int Number = 0;
  for (std::size_t t = 0; t < Edit.Tracks(); ++t) {
    TTrackFile Track;
    Track.Frames = Edit.TrackEnd(t) - Edit.TrackStart(t);
    if (Edit.LeftOut(t)) {
      Track.LeftOut = true;
      New.push_back(Track);
      continue;
    }
    ++Number;
    const std::string& Title = Edit.Titles()[t];
    Track.Name =
        Title.empty() ? TrackFileName(Number, Count) : TitledTrackName(Number, Title, Count);
    // The track's own artist is the one of the old track its audio starts in.
    std::int64_t OldStart = 0;
    for (std::size_t o = 0; o < OldTags.size() && o < OldFrames.size(); OldStart += OldFrames[o++]) {
      if (o + 1 < OldTags.size() && Edit.TrackStart(t) >= OldStart + OldFrames[o]) continue;
      Track.Tags.Artist = OldTags[o].Artist;
      break;
    }
    Track.Tags.SetAlbumFields(Album);
    Track.Tags.Title = Title;
    if (Numbered) {
      Track.Tags.Track = Number;
      Track.Tags.TrackTotal = Count;
    }
    New.push_back(Track);
  }
  return New;
}

}  // namespace velmar
