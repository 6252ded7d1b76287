// A recording session of velmar-rec: the track rule applied to every buffer,
// numbered tracks in one folder, and the limits (duration, number of tracks,
// an interrupt). "record" takes its buffers from the recorder on an input
// device; "split" reads a file's audio straight into the same decisions.
//
// Tracks follow each other without a gap: the buffer after the one that ended
// a track is the next track's first (the recorder switches files while the
// input runs on). A track file is only ever created new: a number that another
// program took meanwhile is skipped, nothing is replaced. A track also ends
// where a WAV file can take no more (MaxTrackBytes), and the next goes on.
//
// Threads: everything on the main thread; the recorder delivers its buffers
// and its stop there (cmWindow), and Run pumps the main thread's messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
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
  // Silence before a track was long enough starts the next track too, instead
  // of ending the recording.
  bool KeepGoing = false;
  // A live input that delivers nothing for this long is taken as lost (the
  // first audio may take longer to come).
  double StallSeconds = 2;
};

// The audio of a split in the recording format: fills Dest with up to Count
// bytes, returns the bytes given (fewer only at the end), or -1 after an error
// that it has printed.
using TAudioReader = std::function<std::int64_t(std::uint8_t* Dest, std::int64_t Count)>;

class TTrackSession {
 public:
  explicit TTrackSession(TSessionOptions Options);

  // Records until the track rule ends without a next track, a limit is
  // reached, Interrupt is set, the device fails or is lost, or an error. The
  // current file is always finalised first. Returns the exit status (0, or 2
  // after an error, which has been printed).
  int Run(const std::atomic<bool>& Interrupt);

  // Splits what Read gives into tracks until its end. An interrupt finalises
  // the current track and says how far it got: status 2, as for errors.
  int Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt);

  int TracksWritten() const { return FTracksDone; }

 private:
  enum class TEnd { None, Limit, TooShort, Interrupted, Stalled, Failed };

  // Checks (and makes) the folder; false with the reason printed.
  bool PrepareFolder();
  // One buffer before it is written: switches tracks where the last buffer
  // ended one, cuts it to the duration, applies the rule. True when the
  // recording ends with this buffer.
  bool Take(std::uint8_t* Data, std::uint32_t& Bytes);
  // Creates the current track's file (starting the recorder, or switching
  // its file while it runs), on the next number that is free.
  void ClaimTrack();
  // Finalises the current track's file and prints its line.
  void TrackDone();
  // The next track takes over from the next buffer on; Why the last ended,
  // when not by the rule.
  void SwitchTrack(const std::string& Why);
  // The line of a finished track: its name, length and size on disk.
  void PrintTrack(const std::string& Path, std::int64_t Bytes, const std::string& Why);
  std::string TrackPath() const;  // of FNumber
  std::string OpenPath() const;   // of the file being written
  void BufferRecorded(PWaveHdr h);
  void Stopped();
  void Fail(const std::string& Error);
  int Result();
  void ShowStatus(const std::uint8_t* Data, std::uint32_t Bytes);
  void ClearStatus();

  TSessionOptions FOptions;
  TMMWaveRecorder FRecorder;  // record: the device and the track files
  TMMWave FSplitWave;         // split: the track files
  bool FFromDevice = true;
  TTrackRule FRule;
  TSizeDisplay FSize;
  const std::int64_t FMaxTrackBytes = MaxTrackBytes();
  int FNumber = 0;  // of the current track
  std::int64_t FTrackBytes = 0;
  std::int64_t FTotalBytes = 0;
  int FTracksDone = 0;
  bool FNextPending = false;    // the last buffer ended the track, the next one starts one
  bool FRuleSplit = false;      // ... and it was the rule's automatic split
  TEnd FEnd = TEnd::None;
  bool FTrackOpen = false;
  bool FDeviceFailed = false;
  std::string FError;
  double FLastBuffer = 0;  // when the device last delivered
  bool FAudioSeen = false;
  double FLastStatus = 0;
  bool FStatusShown = false;
};

// The number after the highest "TrackNN.wav" in Folder (1 when there is none).
int NextTrackNumber(const std::string& Folder);

}  // namespace velmar::cli
