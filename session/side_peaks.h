// The waveform of a side at a glance: the lowest and highest sample of each
// channel over buckets of a fixed number of frames, for every track file of
// the side, computed once (a pass that reads each file front to back) and
// kept in a cache file per track, so that a second opening reads a few
// megabytes instead of the audio. A display of any width folds buckets into
// its columns; a zoomed view reads the audio itself.
//
// Not thread-bound: a scan runs on a worker thread; its result is used by one
// thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/track_stamp.h"

namespace velmar {

// One bucket or one column: the lowest and highest sample of each channel.
struct TPeak {
  std::int16_t Min[2] = {0, 0};
  std::int16_t Max[2] = {0, 0};
};

class TSidePeaks {
 public:
  static constexpr int kBucketFrames = 256;

  // The peaks of Tracks (16-bit stereo WAV files, in order), from the cache in
  // CacheFolder where it matches the file's stamp, else by reading it
  // (and then cached). Progress gets the frames done of all; Cancel stops.
  // False with Error when a file cannot be read (or on Cancel).
  bool Scan(const std::vector<std::string>& Tracks, const std::string& CacheFolder,
            const std::atomic<bool>& Cancel,
            const std::function<void(std::int64_t Done, std::int64_t Total)>& Progress,
            std::string& Error);

  std::int64_t Frames() const { return FFrames; }
  // Frames of each track, in order.
  const std::vector<std::int64_t>& TrackFrames() const { return FTrackFrames; }
  // Each track as it was before it was read (to see later that it is unchanged).
  const std::vector<TTrackStamp>& Stamps() const { return FStamps; }
  // Frames [From, To) folded into Columns columns.
  std::vector<TPeak> Columns(std::int64_t From, std::int64_t To, int Columns) const;
  // The peaks of a stretch of 16-bit stereo frames, as a test computes them.
  static TPeak Of(const std::int16_t* Frames, std::size_t Count);

 private:
  // The bucket that holds Frame (each track starts a bucket of its own).
  std::size_t BucketOf(std::int64_t Frame) const;

  std::vector<TPeak> FBuckets;  // the tracks' buckets in turn; a track's last may be short
  std::vector<std::int64_t> FTrackFrames;
  std::vector<TTrackStamp> FStamps;
  std::vector<std::int64_t> FTrackStart;  // first frame of each track in the side
  std::vector<std::size_t> FTrackFirstBucket;
  std::int64_t FFrames = 0;
};

}  // namespace velmar
