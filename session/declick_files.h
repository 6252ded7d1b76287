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

#include "platform/wave/wave_format_ex.h"
#include "restore/click_repair.h"
#include "session/track_files.h"

namespace velmar {

// Audio of one format read through the click repair: 16- or 24-bit PCM or
// 32-bit float, every sample outside a repaired span as it was.
class TRepairedAudio {
 public:
  TRepairedAudio(TAudioSource Source, const WAVEFORMATEX& Format, const TClickOptions& Options);
  // Whether Format is one this repairs.
  static bool Takes(const WAVEFORMATEX& Format);
  // As a TAudioSource: up to Count bytes (whole frames) into Dest, 0 at the
  // end, -1 when the source failed.
  std::int64_t Read(std::uint8_t* Dest, std::int64_t Count);
  std::int64_t Done() const { return FDone; }  // frames given
  const TClickRepair& Repair() const { return FRepair; }

 private:
  bool Feed();
  float Get(const std::uint8_t* p) const;
  void Put(std::uint8_t* p, float v) const;

  TAudioSource FSource;
  WAVEFORMATEX FFormat;
  std::size_t FBytes;
  TClickRepair FRepair;
  std::vector<std::uint8_t> FRaw;
  std::vector<float> FSamples;
  bool FEnded = false;
  std::int64_t FDone = 0;
};

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
