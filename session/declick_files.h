// Click repair on a set of tracks: each track is read once through the
// repair and written with the same name into another folder, in its own
// format with its chunks, tags and labelled places; the originals stay. The
// set is put in place all together (see TStagedFiles): a failure or a taken
// name leaves the folder as it was. A dry run only finds the clicks.
//
// Threads: any one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "restore/click_repair.h"

namespace velmar {

struct TDeclickedTrack {
  std::string Track;  // path
  int Rate = 0;
  std::vector<TClick> Clicks;  // in the order of their frames
  std::int64_t SamplesChanged = 0;
};

// Repairs Tracks (16- or 24-bit PCM, or 32-bit float) into Folder, which
// must not be a track's own; with DryRun nothing is written. Results get a
// track's clicks as it is done; Progress (may be empty) the frames done of
// all. False with Error, nothing written.
bool DeclickTrackFiles(const std::vector<std::string>& Tracks, const std::string& Folder,
                       const TClickOptions& Options, bool DryRun,
                       std::vector<TDeclickedTrack>& Results,
                       const std::function<void(std::int64_t)>& Progress, std::string& Error);

}  // namespace velmar
