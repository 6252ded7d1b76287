// TRecordingSession: one recording as both front ends run it. It owns the
// recorder, applies the track rule to every buffer, names and creates the
// numbered tracks, switches from one track to the next while the input runs
// on, and decides how a recording ends (Stop, a limit, silence before the
// minimum length, a lost or failing input, a full disk). A front end shows
// what it reports through TSessionEvents and asks for Start, SplitNow, Stop.
//
// Tracks follow each other without a gap: the sample after a track's last one
// is the next track's first, for the rule's splits, a split by hand and a
// track at the largest WAV size alike; the input device stays open from Start
// to the end. "Split" reads a file's audio into the same decisions. While a
// recording runs or waits for sound, the machine is kept from sleeping.
//
// Threads: everything on the main thread. The recorder delivers its buffers
// and its stop there (cmWindow); the events are called from inside those
// deliveries or from the call that caused them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/power/sleep_inhibitor.h"
#include "session/clip_watch.h"
#include "session/sound_start.h"
#include "session/track_rule.h"
#include "stream/time_conversions.h"
#include "wavefile/cue_markers.h"
#include "wavefile/wave_recorder.h"

namespace velmar {

// The designed recording format: 44100 Hz, 16 bits, stereo PCM.
const WAVEFORMATEX& CdFormat();

// The formats a recording may be made in: the designed one first, then 16-bit
// 48 kHz and 24-bit at 44.1, 48, 88.2 and 96 kHz.
const std::vector<WAVEFORMATEX>& RecordingFormats();
// "16-bit 44.1 kHz", "24-bit 96 kHz".
std::string RecordingFormatText(const WAVEFORMATEX& Format);
// What input device Device records of RecordingFormats(): "16-bit 44.1 kHz
// and 16-bit 48 kHz", or "none of the recording formats".
std::string FormatsTheInputGives(TMMDeviceId Device);

// Sets a recording device (an input or a recorder) to Format.
template <class TDevice>
void UseRecordingFormat(TDevice& Device, const WAVEFORMATEX& Format) {
  Device.SetMode(Format.nChannels == 1 ? TMMMode::mMono : TMMMode::mStereo);
  Device.SetBitLength(Format.wBitsPerSample == 8    ? TMMBits::b8Bit
                      : Format.wBitsPerSample == 24 ? TMMBits::b24Bit
                                                    : TMMBits::b16Bit);
  Device.SetSampleRate(static_cast<int>(Format.nSamplesPerSec));
}

struct TSessionOptions {
  // What the input is recorded as and every track is written in; the times,
  // sizes and places the session tells follow it.
  WAVEFORMATEX Format = CdFormat();
  std::string Folder = ".";
  TMMDeviceId Device = 0;
  TTrackSettings Rule;
  std::optional<std::int64_t> AudioBytes;  // end after this much audio in all
  std::optional<int> MaxTracks;            // end after this many tracks
  // Silence before a track was long enough starts the next track too, instead
  // of ending the recording.
  bool KeepGoing = false;
  // The end of a side by silence: 0, a track silent when it reaches the
  // minimum length (unless KeepGoing); N, N seconds of silence, however long
  // the tracks. With N, a pause shorter than that leads into the next sound
  // in the track after the split (a track of nothing but silence is never cut).
  int SideEndSeconds = 0;
  // Start on sound: from Start the input runs with no track until its level
  // passes the noise gate; the first track then begins PreRollSeconds before
  // the first sample above the gate. The lead-in before it goes nowhere.
  bool WaitForSound = false;
  double PreRollSeconds = 1;
  // A live input that delivers nothing for this long is taken as lost (the
  // first audio may take longer to come: at least 5 s).
  double StallSeconds = 2;
  // An input that went away (its device says so, or it was quiet for the
  // stall limit) is waited for this long, the files kept, and the recording
  // goes on in the same track when it is back; 0: it ends at once, as lost.
  double WaitForInputSeconds = 300;
  // The first track's number; 0: the number after the highest "TrackNN.wav"
  // in the folder.
  int FirstNumber = 0;
  // Track files are only ever created new: a number another program took is
  // skipped. Off: a track's number is its file, written over when this
  // session made it (the window's rows, as designed); a file from before is
  // skipped all the same.
  bool CreateNew = true;
  // Off (splitting a file only): a dry run, the same decisions and events
  // with no folder made and no file written.
  bool WriteFiles = true;
};

// Why a track ended.
enum class TTrackEnd {
  Split,      // the rule: silence after the minimum length; the next goes on
  Silent,     // silence at the minimum length, and the options keep going
  Manual,     // split by hand; the next goes on
  SizeLimit,  // the largest size of a WAV file; the next goes on
  Last        // the recording ended with it (TRecordingSession::End says why)
};

// Why a recording ended.
enum class TSessionEnd {
  None,         // still recording (or never started)
  Stopped,      // Stop: the user's Stop, Ctrl-C
  Limit,        // the options' length or number of tracks
  TooShort,     // silent when it reached the minimum length: the end of the side
  InputLost,    // no audio for the stall limit
  InputFailed,  // the device reported a failure
  DiskFull,     // the file could not be written further
  Failed,       // a track could not be started, or reading failed (Error says why)
  Interrupted   // a split of a file interrupted
};

// A track file as it stands.
struct TTrackInfo {
  int Number = 0;
  std::string Path;
  std::int64_t Ms = 0;      // what the file holds (when ended), else what was recorded
  std::int64_t KBytes = 0;  // as the track list shows Ms
  std::int64_t Frames = 0;  // the frames it holds, when ended
  std::uint32_t Rate = 44100;  // the recording's, which the frames count in
  // Full-scale samples recorded in it, and the first one's frame (-1: none).
  std::int64_t ClippedSamples = 0;
  std::int64_t FirstClipFrame = -1;
  int Peak = 0;  // its largest sample size (0..32768)
  // No stretch of it reached the noise gate (split off by the rule or by hand).
  bool OnlyNoise = false;

  // "Track03.wav: 14 clipped samples, first at 2:31.480" (empty when none).
  std::string ClipText() const;
  // "Track08.wav holds only the input's noise" (empty unless OnlyNoise).
  std::string NoiseText() const;
};

// A stretch of the input lost while recording (the device overran or was
// suspended), where the track goes on after it. The track keeps it as a
// labelled cue point ("dropout 2.31 s").
struct TTrackDropout {
  std::int64_t Frame = 0;        // the track's first frame after the loss
  std::int64_t LostFrames = -1;  // -1: the device could not tell how much
  double AwaySeconds = 0;        // how long the input was not read, or suspended
  bool Suspended = false;
  bool Gone = false;           // the input went away and came back after AwaySeconds
  std::uint32_t Rate = 44100;  // the recording's, which the texts' times are in

  // "Track03.wav: 2.31 s lost at 4:12.480 (the input overran)"
  std::string Text(const std::string& TrackName) const;
  // "dropout 2.31 s", the cue point's label; "input gone 3.2 s" for an input
  // that came back
  std::string Label() const;
};

// The recording time Folder's disk has room for in Format, in seconds (-1
// when it cannot be told), and in words: "4 h 12 min left on /home" (empty
// when it cannot be told). A folder not made yet counts as its parent.
std::int64_t RecordingSecondsLeft(const std::string& Folder, const WAVEFORMATEX& Format);
std::string RecordingTimeLeft(const std::string& Folder, const WAVEFORMATEX& Format);

// What a front end shows and what it decides about. Every call on the main
// thread; none may call back into the session except SplitNow and Stop from
// RecordingEnded's callers' loops (not from inside these).
class TSessionEvents {
 public:
  virtual ~TSessionEvents() = default;
  // The rule's settings for the next buffer (a window's sliders move while it
  // records); the options' rule by default.
  virtual TTrackSettings RuleSettings(const TTrackSettings& Options) { return Options; }
  virtual void TrackStarted(const TTrackInfo&) {}
  // Next: the track that goes on (when Why is not Last).
  virtual void TrackEnded(const TTrackInfo&, TTrackEnd, const TTrackInfo*) {}
  // Each buffer as it is recorded into the current track (a live meter).
  virtual void BufferTaken(const std::uint8_t*, std::uint32_t, const TTrackInfo&) {}
  // The input lost audio before the buffer just taken; the track goes on.
  virtual void DropoutFound(const TTrackInfo&, const TTrackDropout&) {}
  // The input went away and the recording waits for it ("the input is gone;
  // waiting for it to come back"); once each time it goes.
  virtual void InputGone(const std::string& /*Text*/) {}
  // After the last track's TrackEnded.
  virtual void RecordingEnded(TSessionEnd) {}
  // The machine may sleep during the recording: no logind took the lock
  // (Why says what answered instead). Once a session, at the first start.
  virtual void SleepNotHeldOff(const std::string& /*Why*/) {}
  // The disk has room for 10 minutes more, then for 1 ("10 min left on /home:
  // the recording ends when the disk is full").
  virtual void DiskTimeShort(const std::string& /*Text*/) {}
};

// The audio of a split in the recording format: fills Dest with up to Count
// bytes, returns the bytes given (fewer only at the end), or -1 after an error
// (which the reader reports).
using TAudioReader = std::function<std::int64_t(std::uint8_t* Dest, std::int64_t Count)>;

class TRecordingSession {
 public:
  static constexpr int kBufferSize = 8096;  // what the rule measures at the designed format

  TRecordingSession(TSessionOptions Options, TSessionEvents& Events);
  ~TRecordingSession();

  // The options for the next Start (a window's folder, first number, device).
  TSessionOptions& Options() { return FOptions; }
  const TSessionOptions& Options() const { return FOptions; }

  // Makes the folder and starts the first track on the input. False when it
  // did not start (End() is Failed and RecordingEnded has been called).
  bool Start();
  // Ends the current track here and goes on in the next one, from the next
  // sample (not from inside a delivery). Ignored while the track holds no
  // audio yet.
  void SplitNow();
  // Ends the recording: the device stops, the track is finalised, then
  // TrackEnded and RecordingEnded come (at once, or after the delivery that
  // called it).
  void Stop(TSessionEnd Why = TSessionEnd::Stopped);
  // Takes an input that delivered nothing for too long as lost (and ends the
  // recording): StallSeconds of the time this process was running and ready
  // to take its audio; a stall of the process itself does not count. Returns
  // the seconds after which it should be asked again (sooner is fine; a
  // quarter of a second at most, so that a stall shows as a late check).
  double CheckInput();

  // Splits what Read gives into tracks until its end or Interrupt.
  void Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt);

  // The bytes of each buffer the rule measures at the options' format (set at
  // Start and Split).
  int BufferBytes() const { return FBufferBytes; }

  // Recording: from Start until the recorder has stopped after the end.
  bool Recording() const;
  // Started on sound and still waiting for it: no track yet.
  bool Waiting() const { return FWaiting; }
  TSessionEnd End() const { return FEnd; }
  int TracksDone() const { return FTracksDone; }
  const TTrackInfo& Track() const { return FTrack; }
  // What a person should be told about the end (empty for a limit, and for
  // Stop unless the last track holds only silence):
  // in full, tracks named by path; Brief, one short line naming files, for a
  // status line under the folder.
  std::string Message(bool Brief = false) const;
  TMMWaveRecorder& Recorder() { return FRecorder; }
  // The input's losses in this recording: how many, and what they come to in
  // one line ("2 dropouts, 3.1 s lost, in Track03.wav"; empty when none).
  int Dropouts() const { return FDropouts; }
  std::string DropoutSummary() const;
  // What the recording's loudest peak says about the input level (empty when
  // no track was recorded): "Loudest peak -21.0 dBFS: raise the input about 15 dB".
  std::string LevelNote() const;
  // The recording time the output folder's disk has room for (see below).
  std::string TimeLeftText() const { return RecordingTimeLeft(FOptions.Folder, FOptions.Format); }

 private:
  bool PrepareFolder();
  // While recording, once a second of the input: at 10 minutes and at 1 minute of
  // room left, DiskTimeShort says so (once each a recording).
  void WatchDiskTime();
  // False, with the reason, when the folder's disk has no room for a track.
  bool HasRoom();
  // Creates the current track's file (starting the recorder, or switching
  // its file while it runs) on the next number that may be used.
  void ClaimTrack();
  // A track just finalised, as its file holds it (Bytes: what was recorded).
  TTrackInfo Finished(TTrackInfo Track, std::int64_t Bytes) const;
  // Bytes of the recording as frames and as milliseconds.
  std::int64_t Frames(std::int64_t Bytes) const { return Bytes / FOptions.Format.nBlockAlign; }
  std::int64_t Ms(std::int64_t Bytes) const {
    return SamplesToTime64(&FOptions.Format, Frames(Bytes));
  }
  void TrackDone();
  // The first track: claimed now, or after the sound it waits for.
  void BeginFirstTrack();
  // A buffer while waiting: true when the sound came, and the first track
  // began with its pre-roll (written) and the part of the buffer after it.
  bool StartOnSound(std::uint8_t* Data, std::uint32_t& Bytes);
  // Audio that goes into the track before the buffer being taken.
  void WriteAhead(const std::vector<std::uint8_t>& Audio);
  // Counts what a track's audio adds to it: length, size, clipped samples.
  void Count(const std::uint8_t* Data, std::uint32_t Bytes);
  void SwitchTrack(TTrackEnd Why);
  // One buffer before it is written: switches tracks where the last buffer
  // ended one, cuts it to the length limit, applies the rule. True when the
  // recording ends with this buffer.
  bool Take(std::uint8_t* Data, std::uint32_t& Bytes);
  void BufferRecorded(PWaveHdr h);
  // Places the dropouts the device reported before frame Before of the
  // stream (all of them: Before < 0) in the current track.
  void TakeDropouts(std::int64_t Before);
  // The finished track at Path keeps its dropouts and clips as cue points.
  void KeepMarkers(const std::string& Path, std::vector<TCueMarker>& Markers);
  // The current track's marks and clip figures as it ends; the recording's
  // loudest peak and clipped tracks take it in.
  std::vector<TCueMarker> EndMarkers();
  TTrackInfo WithClips(TTrackInfo Track) const;
  // The track being closed never rose over the noise gate (with automatic
  // splitting: the rule listens only then).
  bool HeldOnlyNoise() const { return FRuleNow.AutoSplit && !FRule.SoundHeard() && FTrackBytes > 0; }
  void Stopped();
  // Sets the buffers, the rule, the clip count and the recorder to the
  // options' format.
  void UseFormat();
  void Fail(TSessionEnd Why, const std::string& Error);
  std::string OpenPath() const;

  TSessionOptions FOptions;
  TSessionEvents& FEvents;
  TMMWaveRecorder FRecorder;  // record: the device and the track files
  TMMWave FSplitWave;         // split: the track files
  bool FFromDevice = true;
  int FBufferBytes = kBufferSize;
  TTrackRule FRule;         // measures each track from its start
  TTrackSettings FRuleNow;  // the settings the last buffer was judged by
  TSizeDisplay FSize;       // the size the track list shows, which the too-short test compares
  std::int64_t FMaxTrackBytes = 0;
  TTrackInfo FTrack;  // the current track
  std::int64_t FTrackBytes = 0;
  std::int64_t FTotalBytes = 0;
  int FTracksDone = 0;
  std::optional<TTrackEnd> FNext;  // the last buffer ended the track: the next starts one
  TSessionEnd FEnd = TSessionEnd::None;
  bool FTrackOpen = false;
  // Buffers the current track took since its first sound above the noise gate
  // (that buffer counted), or -1 while it has heard none.
  std::int64_t FSinceSound = -1;
  std::int64_t FQuietBytes = 0;   // the input's bytes since the last sound above the gate
  std::int64_t FStreamBytes = 0;  // the input's bytes taken, in tracks or not
  bool FWaiting = false;
  TSoundStart FSoundStart;
  TClipCounter FClips;  // the current track's
  int FLoudest = 0;     // the recording's largest sample size
  int FClippedTracks = 0;
  bool FDeviceFailed = false;
  bool FEndReported = true;
  // Held from a start that records or waits for sound until the end is reported.
  TSleepInhibitor FSleep;
  bool FSleepSaid = false;  // that it could not be held, once a session
  std::int64_t FDiskCheckAt = 0;  // the input's bytes at the next look at the disk
  std::int64_t FDiskWarnedAt = 0;  // the smallest warning given (seconds; 0 none)
  std::string FError;
  // The lost-input watch, in steady seconds: how long the device has been
  // quiet while we listened, since when that is counted, and when the next
  // check is due (one much later than that finds the process was stalled).
  static constexpr double kCheckEvery = 0.25;
  static constexpr double kLateCheck = 0.5;
  double FQuietFor = 0;
  double FWatchedSince = 0;
  double FCheckDue = 0;
  bool FAudioSeen = false;
  bool FAwaitingInput = false;  // gone, said, and waited for
  double FGoneAfter = 0;        // the quiet time when it was taken as gone
  // Dropouts: reported by the device so far and placed; the current track's
  // cue points; the recording's count, known loss and the tracks they are in.
  std::size_t FDropoutsTaken = 0;
  std::vector<TCueMarker> FTrackMarkers;
  int FDropouts = 0;
  std::int64_t FLostFrames = 0;
  bool FLossUnknown = false;
  std::vector<std::string> FDropoutTracks;
  std::string FMarkError;
  std::set<std::string> FMade;  // the track files this session created
};

// The number after the highest "TrackNN.wav" in Folder (1 when there is none).
int NextTrackNumber(const std::string& Folder);

}  // namespace velmar
