// The clicks of a side under review: found once over the whole side, each
// kept for repair or dropped by the user (and taken back), the repaired audio
// of a stretch for listening, and the repair options that Apply writes the
// side with (repairing the clicks found that are not dropped).
//
// Find runs on the review's worker while nothing else touches this; the rest
// on the main thread (Options' Accept is called by Apply's worker while the
// window waits for it).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "restore/click_repair.h"

namespace velmar {

class TSideAudio;

class TSideClicks {
 public:
  // Finds the side's clicks; Done gets the frames read. False when Cancel was
  // set (nothing found then).
  bool Find(const TSideAudio& Audio, const std::atomic<bool>& Cancel,
            std::atomic<std::int64_t>& Done);
  void Clear();

  bool Found() const { return FFound; }
  const std::vector<TClick>& Clicks() const { return FClicks; }  // in the order of their frames
  bool Dropped(std::size_t i) const { return FDropped[i]; }
  // Drops the repair of click i, or takes it back when it was dropped.
  void Toggle(std::size_t i) { FDropped[i] = !FDropped[i]; }
  std::size_t Kept() const;  // the clicks to repair
  // The click nearest after (Step 1) or before (-1) Frame; -1 when none.
  int Next(std::int64_t Frame, int Step) const;

  // Frames [From, To) of the side (interleaved 16-bit stereo) with the kept
  // clicks repaired.
  std::vector<std::int16_t> Repaired(const TSideAudio& Audio, std::int64_t From,
                                     std::int64_t To) const;
  // Repairs what was found and kept: a click another run finds is repaired
  // when it overlaps a kept one in the same channel.
  TClickOptions Options() const;

 private:
  bool Kept(const TClick& c, std::int64_t Offset) const;

  std::vector<TClick> FClicks;
  std::vector<bool> FDropped;
  bool FFound = false;
};

}  // namespace velmar
