// Writing a reviewed side: the recorded tracks checked to be what the review
// read, then the new tracks written the least disturbing way that gives what
// the edit asks: titles and tags in place when only they changed; the side
// rewritten at new places when marks moved; and when clicks are repaired or
// audio is left out, rewritten with the recorded tracks kept beside (audio
// left out is never lost; repairs keep them unless the user says not to).
//
// Plain functions; ApplySide runs on a worker and touches only its files and
// Progress.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/track_files.h"
#include "session/track_stamp.h"

namespace velmar {

struct TSideApply {
  std::vector<std::string> Tracks;   // the recorded tracks, in order
  std::vector<TTrackStamp> Stamps;   // each as the review read it
  std::vector<std::int64_t> Frames;  // and its length then
  std::string Folder;                // where the new tracks go
  std::vector<TTrackFile> New;       // the new tracks (PlanSideTracks)
  std::optional<TClickOptions> Repair;  // the clicks to repair, when any are kept
  bool MarksChanged = false;
  bool LeftOut = false;        // some of the side is left out of the new tracks
  bool KeepOriginals = true;   // the user's choice when clicks are repaired
};

enum class TSideWrite {
  Retag,            // the files keep their audio; titles, tags and names change
  Rewrite,          // the side's audio cut anew at the marks
  RewriteKeeping,   // the same, the recorded tracks kept in "Originals"
};

// How Apply writes the side (see above).
TSideWrite HowToWrite(const TSideApply& a);

// Writes the side; Progress gets the frames written. False, with Why in a
// user's words and the files as they were, when a recorded track changed or
// went since the review read it, or the writing failed.
bool ApplySide(const TSideApply& a, const std::function<void(std::int64_t)>& Progress,
               std::string& Why);

}  // namespace velmar
