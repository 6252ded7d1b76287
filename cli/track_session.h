// A recording session of velmar-rec: the recorder on one input device, the
// track rule applied to every buffer, numbered tracks in one folder, and the
// limits (duration, number of tracks, an interrupt). Used by "record" and by
// "split", which feeds a file through a virtual capture device.
//
// Threads: everything on the main thread; the recorder delivers its buffers
// and its stop there (cmWindow), and Run pumps the main thread's messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/track_rule.h"
#include "wavefile/wave_recorder.h"

namespace velmar::cli {

struct TSessionOptions {
  std::string Folder = ".";
  TMMDeviceId Device = 0;
  TTrackSettings Rule;
  std::optional<std::int64_t> AudioBytes;  // stop after this much audio in all
  std::optional<int> MaxTracks;            // stop after this many tracks
  bool Status = false;                     // a live status line (on a terminal)
  // Silence before a track was long enough ends the recording, unless the
  // whole input must go into tracks (a file being split).
  bool KeepAllInput = false;
};

class TTrackSession {
 public:
  explicit TTrackSession(TSessionOptions Options);

  // Records until the track rule ends without a next track, a limit is
  // reached, Interrupt is set, or an error. The current file is always
  // finalised first. Returns the exit status (0, or 2 after an error, which
  // has been printed).
  int Run(const std::atomic<bool>& Interrupt);

  int TracksWritten() const { return FTracksDone; }

 private:
  void StartNewTrack();
  void BufferRecorded(PWaveHdr h);
  void Stopped();
  void Finish(const std::string& Error = {});
  void ShowStatus(const std::uint8_t* Data, std::uint32_t Bytes, bool Force);
  void ClearStatus();

  TSessionOptions FOptions;
  TMMWaveRecorder FRecorder;
  TTrackRule FRule;
  TSizeDisplay FSize;
  int FNumber = 0;  // of the current track
  std::int64_t FTrackBytes = 0;
  std::int64_t FTotalBytes = 0;
  int FTracksDone = 0;
  bool FSplitPending = false;
  bool FRuleEnded = false;
  bool FInterrupted = false;
  bool FDeviceFailed = false;
  bool FDone = false;
  std::string FError;
  double FLastStatus = 0;
  bool FStatusShown = false;
};

// The number after the highest "TrackNN.wav" in Folder (1 when there is none).
int NextTrackNumber(const std::string& Folder);

}  // namespace velmar::cli
