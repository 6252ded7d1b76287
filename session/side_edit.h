// Reviewing a side's splits: the side is its tracks' audio one after the
// other, and a mark is the first frame of each track after the first. Marks
// are moved, deleted (joining two tracks), added and replaced as a whole
// (split into N tracks); tracks get titles, and may be left out of the set
// (a stretch of only noise, a lead-in, a run-out: its audio is written to no
// track). Every edit can be undone and redone. Applying writes the side anew
// as the tracks the marks make.
//
// Not thread-bound; one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

class TSideEdit {
 public:
  // The side as recorded: each track's frames and title.
  void Reset(const std::vector<std::int64_t>& TrackFrames, std::vector<std::string> Titles);

  std::int64_t Frames() const { return FFrames; }
  const std::vector<std::int64_t>& Marks() const { return FNow.Marks; }
  const std::vector<std::string>& Titles() const { return FNow.Titles; }
  // Whether track t is left out of the set; how many are kept.
  bool LeftOut(std::size_t t) const { return t < FNow.Out.size() && FNow.Out[t]; }
  std::size_t KeptTracks() const;
  bool AnyLeftOut() const { return KeptTracks() < Tracks(); }
  std::size_t Tracks() const { return FNow.Marks.size() + 1; }
  // Track t's first frame and its end.
  std::int64_t TrackStart(std::size_t t) const { return t == 0 ? 0 : FNow.Marks[t - 1]; }
  std::int64_t TrackEnd(std::size_t t) const {
    return t < FNow.Marks.size() ? FNow.Marks[t] : FFrames;
  }
  // Whether the marks or titles differ from the side as recorded.
  bool Changed() const {
    return MarksChanged() || FNow.Titles != FStart.Titles || FNow.Out != FStart.Out;
  }
  bool MarksChanged() const { return FNow.Marks != FStart.Marks; }

  // The edits; false, and nothing changed, when one is not possible. A mark
  // moved or added stays at least MinGap frames from its neighbours and the
  // side's ends (the others are as they are: a track under 10 ms elsewhere
  // does not stop it, and can be joined).
  bool MoveMark(std::size_t Index, std::int64_t To);
  // The joined track keeps the first one's title, and is left out only when
  // both were.
  bool DeleteMark(std::size_t Index);
  // The new track after At has no title and is left out when the track it
  // was part of is.
  bool AddMark(std::int64_t At);
  // All marks at once; each title goes to the new track that holds most of
  // the track it named; a new track lying wholly in left-out audio is left out.
  bool SetMarks(std::vector<std::int64_t> Marks);
  // Leaves track t out of the set, or takes it back; the last kept track
  // cannot be left out.
  bool LeaveOut(std::size_t t, bool Out);
  // In one edit: the audio before From and from To on is left out, marks
  // added there as needed (one at the side's very start or end is not).
  bool LeaveOutEnds(std::int64_t From, std::int64_t To);
  bool SetTitle(std::size_t Track, std::string Title);
  // Titles of tracks First, First + 1, ... in one edit (pasted lines); those
  // past the last track are left out.
  bool SetTitles(std::size_t First, const std::vector<std::string>& Titles);
  bool Undo();
  bool Redo();
  bool CanUndo() const { return !FUndo.empty(); }
  bool CanRedo() const { return !FRedo.empty(); }

  static constexpr std::int64_t kMinGap = 441;  // 10 ms

 private:
  struct TState {
    std::vector<std::int64_t> Marks;
    std::vector<std::string> Titles;
    std::vector<bool> Out;  // per track
  };
  bool Fits(const std::vector<std::int64_t>& Marks) const;
  bool FitsAt(const std::vector<std::int64_t>& Marks, std::size_t Index) const;
  void Commit(TState Next);

  std::int64_t FFrames = 0;
  TState FStart, FNow;
  std::vector<TState> FUndo, FRedo;
};

// The frame of Frames (interleaved 16-bit stereo) where the sound is least:
// the centre of the quietest 2.5 ms window (both channels' absolute sum), the
// one nearest Preferred among equals. For snapping a mark to a gap.
std::size_t QuietestFrame(const std::int16_t* Frames, std::size_t Count, std::size_t Preferred);

}  // namespace velmar
