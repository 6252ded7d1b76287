// A side's audio read anywhere: the frames of its tracks (the recording
// format, 44100 Hz 16-bit stereo PCM) as one stretch, for a zoomed view, for
// snapping a mark to the quiet and for playing from any point. Reads go to
// the files each time (the page cache keeps them cheap).
//
// Not thread-bound; one thread at a time. Holds the files open while alive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// A labelled place the tracks keep (a dropout while recording), in the side's frames.
struct TSideMarker {
  std::int64_t Frame = 0;
  std::string Label;
};

class TSideAudio {
 public:
  TSideAudio() = default;
  ~TSideAudio();
  TSideAudio(const TSideAudio&) = delete;
  TSideAudio& operator=(const TSideAudio&) = delete;

  // Opens Tracks in order; false with Error naming the file when one cannot
  // be read or is not in the recording format.
  bool Open(const std::vector<std::string>& Tracks, std::string& Error);
  void Close();
  std::int64_t Frames() const { return FFrames; }
  // The tracks' labelled cue points, in order.
  const std::vector<TSideMarker>& Markers() const { return FMarkers; }
  // Frames [From, From + Count) into Dest (interleaved); frames outside the
  // side and any that cannot be read are silence. The frames read.
  std::int64_t Read(std::int64_t From, std::int16_t* Dest, std::int64_t Count) const;

 private:
  struct TTrack {
    int Fd = -1;
    std::int64_t DataOffset = 0;
    std::int64_t Start = 0;  // first frame in the side
    std::int64_t Frames = 0;
  };
  std::vector<TTrack> FTracks;
  std::vector<TSideMarker> FMarkers;
  std::int64_t FFrames = 0;
};

}  // namespace velmar
