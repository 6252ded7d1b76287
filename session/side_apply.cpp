#include "session/side_apply.h"

#include <filesystem>

#include "wavefile/wave_scan.h"

namespace velmar {

namespace {

// The tracks must be what the review read: cut at the marks' places, a track
// changed meanwhile would give other audio than the user saw.
bool UnchangedSinceRead(const TSideApply& a, std::string& Why) {
  for (std::size_t i = 0; i < a.Tracks.size(); ++i) {
    TTrackStamp Stamp;
    TWaveScan Scan;
    std::string Error;
    const std::string Name = std::filesystem::path(a.Tracks[i]).filename().string();
    if (!StampTrack(a.Tracks[i], Stamp) || !ScanWaveFile(a.Tracks[i], Scan, Error)) {
      Why = Name + " cannot be read any more; nothing was changed";
      return false;
    }
    if (i >= a.Stamps.size() || i >= a.Frames.size() || !(Stamp == a.Stamps[i]) ||
        Scan.Frames() != a.Frames[i]) {
      Why = Name +
            " changed on disk since the review read it; nothing was changed (open the review "
            "again to see it)";
      return false;
    }
  }
  return true;
}

}  // namespace

TSideWrite HowToWrite(const TSideApply& a) {
  if ((a.Repair && a.KeepOriginals) || a.LeftOut) return TSideWrite::RewriteKeeping;
  if (a.Repair || a.MarksChanged) return TSideWrite::Rewrite;
  return TSideWrite::Retag;
}

bool ApplySide(const TSideApply& a, const std::function<void(std::int64_t)>& Progress,
               std::string& Why) {
  if (!UnchangedSinceRead(a, Why)) return false;
  const TClickOptions* Repair = a.Repair ? &*a.Repair : nullptr;
  switch (HowToWrite(a)) {
    case TSideWrite::RewriteKeeping: {
      // Linked, so that the rewrite removing them leaves them there.
      std::vector<std::string> Kept;
      if (!KeepOriginals(a.Tracks, a.Folder, Kept, Why)) return false;
      const bool Ok = RewriteSide(a.Tracks, a.Folder, a.New, Progress, Why, Repair);
      if (!Ok) DropOriginals(Kept);
      return Ok;
    }
    case TSideWrite::Rewrite:
      return RewriteSide(a.Tracks, a.Folder, a.New, Progress, Why, Repair);
    case TSideWrite::Retag:
      break;
  }
  std::vector<std::string> Names;
  std::vector<TTrackTags> Tags;
  for (const TTrackFile& t : a.New) {
    Names.push_back((std::filesystem::path(a.Folder) / t.Name).string());
    Tags.push_back(t.Tags);
  }
  return RetagTrackFiles(a.Tracks, Names, Tags, Why);
}

}  // namespace velmar
