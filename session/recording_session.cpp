#include "session/recording_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <vector>

#include "platform/files.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "stream/wave_in.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;

// A split copies a file that stays: written as fast as the page cache takes it.
constexpr int kSplitIOBuffer = 1 << 19;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string FileName(const std::string& Path) {
  return fs::path(Path).filename().string();
}

// The level of a buffer that is sound: a stretch of TimeGate buffers as loud
// would reach the noise gate.
double GateLevel(const TTrackSettings& Rule) {
  return static_cast<double>(Rule.NoiseGate) / std::max(Rule.TimeGate, 1);
}

}  // namespace

const WAVEFORMATEX& CdFormat() {
  static const WAVEFORMATEX f = [] {
    WAVEFORMATEX x{};
    return *BuildPCMFormat(&x, 16, 2, 44100);
  }();
  return f;
}

const std::vector<WAVEFORMATEX>& RecordingFormats() {
  static const std::vector<WAVEFORMATEX> All = [] {
    std::vector<WAVEFORMATEX> v;
    for (const auto& [Bits, Rate] : {std::pair<std::uint16_t, std::uint32_t>{16, 44100},
                                     {16, 48000},
                                     {24, 44100},
                                     {24, 48000},
                                     {24, 88200},
                                     {24, 96000}}) {
      WAVEFORMATEX f{};
      v.push_back(*BuildPCMFormat(&f, Bits, 2, Rate));
    }
    return v;
  }();
  return All;
}

std::string RecordingFormatText(const WAVEFORMATEX& Format) {
  char Text[48];
  std::snprintf(Text, sizeof Text, "%u-bit %g kHz", unsigned{Format.wBitsPerSample},
                Format.nSamplesPerSec / 1000.0);
  return Text;
}

std::string FormatsTheInputGives(TMMDeviceId Device) {
  std::vector<std::string> Given;
  for (const WAVEFORMATEX& f : RecordingFormats())
    if (!WaveInRefusesFormat(Device, f)) Given.push_back(RecordingFormatText(f));
  if (Given.empty()) return "none of the recording formats";
  std::string Text;
  for (std::size_t i = 0; i < Given.size(); ++i)
    Text += (i == 0 ? "" : i + 1 == Given.size() ? " and " : ", ") + Given[i];
  return Text;
}

std::string TTrackInfo::ClipText() const {
  return velmar::ClipText(FileName(Path), ClippedSamples, FirstClipFrame, Rate);
}

std::string TTrackInfo::NoiseText() const {
  return OnlyNoise ? FileName(Path) + " holds only the input's noise" : std::string();
}

std::string TTrackDropout::Text(const std::string& TrackName) const {
  char Away[32];
  std::snprintf(Away, sizeof Away, "%.1f", AwaySeconds);
  const std::string At =
      " at " + TimeToText(std::llround(static_cast<double>(Frame) * 1000 / Rate));
  if (Gone) return TrackName + ": the input was gone for " + Away + " s" + At + ", and came back";
  if (LostFrames < 0)
    return TrackName + ": audio lost" + At + " (the input was " +
           (Suspended ? "suspended" : "not read") + " for " + Away + " s)";
  char Lost[32];
  std::snprintf(Lost, sizeof Lost, "%.2f", static_cast<double>(LostFrames) / Rate);
  return TrackName + ": " + Lost + " s lost" + At +
         (Suspended ? " (the input was suspended)" : " (the input overran)");
}

std::string TTrackDropout::Label() const {
  if (Gone) {
    char Away[32];
    std::snprintf(Away, sizeof Away, "%.1f", AwaySeconds);
    return std::string("input gone ") + Away + " s";
  }
  char Lost[32];
  std::snprintf(Lost, sizeof Lost, "%.2f", static_cast<double>(LostFrames) / Rate);
  return LostFrames < 0 ? "dropout (audio lost)" : std::string("dropout ") + Lost + " s";
}

int NextTrackNumber(const std::string& Folder) {
  static const std::regex Name(R"(Track(\d+)\.wav)");
  int Highest = 0;
  std::error_code e;
  for (const auto& Entry : fs::directory_iterator(Folder, e)) {
    std::smatch m;
    const std::string File = Entry.path().filename().string();
    if (std::regex_match(File, m, Name) && m[1].length() < 9)
      Highest = std::max(Highest, std::stoi(m[1].str()));
  }
  return Highest + 1;
}

TRecordingSession::TRecordingSession(TSessionOptions Options, TSessionEvents& Events)
    : FOptions(std::move(Options)), FEvents(Events) {
  FRecorder.SetCallBackMode(TMMCBMode::cmWindow);
  UseFormat();
  FRecorder.SetMaxRecordTime(-1);
  FRecorder.SetOverwriteExisting(true);
  FRecorder.Wave()->SetFileMustExist(false);
  FRecorder.OnData = [this](TObject*, PWaveHdr h) { BufferRecorded(h); };
  FRecorder.OnStop = [this](TObject*) { Stopped(); };
  FRecorder.WaveIn().OnError = [this](TObject*) { FDeviceFailed = true; };
  FSplitWave.SetIOBufferSize(kSplitIOBuffer);
  FSplitWave.SetSyncWhileWriting(false);
}

TRecordingSession::~TRecordingSession() {
  FRecorder.OnData = nullptr;
  FRecorder.OnStop = nullptr;
  FRecorder.Stop();  // the file is completed; nobody is told any more
}

void TRecordingSession::UseFormat() {
  const WAVEFORMATEX& f = FOptions.Format;
  FBufferBytes = RuleBufferBytes(f.nSamplesPerSec, f.nBlockAlign);
  FRule = TTrackRule(f.wBitsPerSample / 8);
  FClips = TClipCounter(f);
  FTrack.Rate = f.nSamplesPerSec;
  FMaxTrackBytes = MaxTrackBytes(f.nBlockAlign);
  if (FRecorder.State() & wisStarted) return;
  FRecorder.SetBufferSize(FBufferBytes);
  UseRecordingFormat(FRecorder, f);
}

bool TRecordingSession::Recording() const {
  return !FEndReported || (FRecorder.State() & wisStarted);
}

std::string TRecordingSession::OpenPath() const {
  return FFromDevice ? FRecorder.Wave()->FileName() : FSplitWave.FileName();
}

void TRecordingSession::Fail(TSessionEnd Why, const std::string& Error) {
  if (FEnd == TSessionEnd::None) FEnd = Why;
  if (FError.empty()) FError = Error;
}

bool TRecordingSession::PrepareFolder() {
  const std::string& Folder = FOptions.Folder;
  std::error_code e;
  if (fs::exists(Folder, e) && !fs::is_directory(Folder, e))
    Fail(TSessionEnd::Failed, Folder + " is not a folder");
  else if (fs::create_directories(Folder, e); e)
    Fail(TSessionEnd::Failed, "cannot create the folder " + Folder + ": " + e.message());
  else if (::access(Folder.c_str(), W_OK | X_OK) != 0)
    Fail(TSessionEnd::Failed, "cannot write in the folder " + Folder + ": " + std::strerror(errno));
  return FEnd == TSessionEnd::None;
}

namespace {

// "4 h 12 min", "12 min", and to the second under 10 minutes: "1 min 11 s", "40 s".
std::string DurationInWords(std::int64_t Seconds) {
  if (Seconds >= 3600)
    return std::to_string(Seconds / 3600) + " h " + std::to_string(Seconds % 3600 / 60) + " min";
  if (Seconds >= 600 || (Seconds >= 60 && Seconds % 60 == 0))
    return std::to_string(Seconds / 60) + " min";
  if (Seconds >= 60) return std::to_string(Seconds / 60) + " min " + std::to_string(Seconds % 60) + " s";
  return std::to_string(Seconds) + " s";
}

}  // namespace

std::int64_t RecordingSecondsLeft(const std::string& Folder, const WAVEFORMATEX& Format) {
  const std::int64_t Free = DiskFreeBytes(ExistingFolderOf(Folder));
  return Free < 0 ? -1 : Free / std::max<std::int64_t>(Format.nAvgBytesPerSec, 1);
}

std::string RecordingTimeLeft(const std::string& Folder, const WAVEFORMATEX& Format) {
  const std::int64_t Seconds = RecordingSecondsLeft(Folder, Format);
  if (Seconds < 0) return {};
  const std::string Mount = MountPointOf(Folder);
  return DurationInWords(Seconds) + " left" + (Mount.empty() ? "" : " on " + Mount);
}

void TRecordingSession::WatchDiskTime() {
  if (FStreamBytes < FDiskCheckAt) return;
  FDiskCheckAt = FStreamBytes + FOptions.Format.nAvgBytesPerSec;
  const std::int64_t Seconds = RecordingSecondsLeft(FOptions.Folder, FOptions.Format);
  const std::int64_t Mark = Seconds < 0 ? 0 : Seconds <= 60 ? 60 : Seconds <= 600 ? 600 : 0;
  if (Mark == 0 || (FDiskWarnedAt != 0 && FDiskWarnedAt <= Mark)) return;
  FDiskWarnedAt = Mark;
  FEvents.DiskTimeShort(TimeLeftText() + ": the recording ends when the disk is full");
}

bool TRecordingSession::HasRoom() {
  // Less room than a second of audio would make an empty or nearly empty track.
  const std::int64_t kLeastRoom = std::int64_t{FOptions.Format.nAvgBytesPerSec} + (64 << 10);
  const std::int64_t Free = DiskFreeBytes(FOptions.Folder);
  if (Free < 0 || Free >= kLeastRoom) return true;
  Fail(TSessionEnd::Failed, "the disk is full: " + FOptions.Folder +
                                " has no room for a second of audio (" +
                                std::to_string(Free / 1024) + " kB free)");
  return false;
}

void TRecordingSession::ClaimTrack() {
  // A file from before is never written over, whatever the options; past one,
  // the track takes a free number (not one of this session's takes further on).
  bool OnlyFree = FOptions.CreateNew;
  for (int Taken = 0;; ++FTrack.Number, ++Taken) {
    const std::string Path = (fs::path(FOptions.Folder) / TrackFileName(FTrack.Number)).string();
    std::error_code e;
    const bool Exists = fs::exists(Path, e) || e;
    if (Exists && (OnlyFree || !FMade.count(Path))) {
      OnlyFree = true;
      continue;
    }
    try {
      if (!FFromDevice) {
        if (FOptions.WriteFiles) FSplitWave.CreateFile(Path, &FOptions.Format, FOptions.CreateNew);
      } else if (FRecorder.State() & wisStarted) {
        if (!FRecorder.ContinueIn(Path)) throw EMMWaveError("the recording stopped before " + Path);
      } else {
        FRecorder.Wave()->SetFileName(Path);
        FRecorder.Start();
      }
    } catch (const std::exception&) {
      // Another program created it in between: go on with the next number.
      if (!FOptions.CreateNew || !fs::exists(Path, e) || Taken > 1000) throw;
      if (FFromDevice && !(FRecorder.State() & wisStarted)) FRecorder.Stop();
      continue;
    }
    FTrack.Path = Path;
    if (FOptions.WriteFiles) FMade.insert(Path);
    FTrack.Ms = FTrack.KBytes = 0;
    FSinceSound = -1;
    FRule.NextTrackStarted();
    FClips.Reset();
    FTrackOpen = true;
    FTrackBytes = 0;
    FSize.Reset();
    return;
  }
}

TTrackInfo TRecordingSession::Finished(TTrackInfo Track, std::int64_t Bytes) const {
  // What the file holds, which is less than was captured when a write failed.
  TWaveScan Scan;
  std::string Error;
  const bool Scanned = FOptions.WriteFiles && ScanWaveFile(Track.Path, Scan, Error);
  Track.Frames = Scanned ? Scan.Frames() : Frames(Bytes);
  Track.Ms = SamplesToTime64(&FOptions.Format, Track.Frames);
  Track.KBytes = MsToKBytes(Track.Ms, FOptions.Format.nAvgBytesPerSec);
  return Track;
}

std::vector<TCueMarker> TRecordingSession::EndMarkers() {
  std::vector<TCueMarker> Markers;
  Markers.swap(FTrackMarkers);
  for (TCueMarker& m : FClips.Markers()) Markers.push_back(std::move(m));
  std::stable_sort(Markers.begin(), Markers.end(),
                   [](const TCueMarker& a, const TCueMarker& b) { return a.Frame < b.Frame; });
  FLoudest = std::max(FLoudest, FClips.Peak());
  if (FClips.Samples() > 0) ++FClippedTracks;
  return Markers;
}

TTrackInfo TRecordingSession::WithClips(TTrackInfo Track) const {
  Track.ClippedSamples = FClips.Samples();
  Track.FirstClipFrame = FClips.FirstFrame();
  Track.Peak = FClips.Peak();
  return Track;
}

void TRecordingSession::TrackDone() {
  if (!FTrackOpen) return;
  FTrackOpen = false;
  if (!FFromDevice) FSplitWave.CloseFile();
  std::vector<TCueMarker> Markers = EndMarkers();
  KeepMarkers(FTrack.Path, Markers);
  FTrack = Finished(WithClips(FTrack), FTrackBytes);
  FTrack.OnlyNoise = HeldOnlyNoise();
  ++FTracksDone;
  FEvents.TrackEnded(FTrack, TTrackEnd::Last, nullptr);
}

void TRecordingSession::SwitchTrack(TTrackEnd Why) {
  FNext.reset();
  TTrackInfo Old = WithClips(FTrack);
  Old.OnlyNoise = HeldOnlyNoise();
  const std::int64_t OldBytes = FTrackBytes;
  std::vector<TCueMarker> OldMarkers = EndMarkers();
  FTrackOpen = false;
  if (!FFromDevice) FSplitWave.CloseFile();
  ++FTrack.Number;
  try {
    ClaimTrack();  // the recorder finalises the old file first
    KeepMarkers(Old.Path, OldMarkers);
  } catch (...) {
    KeepMarkers(Old.Path, OldMarkers);
    FTrack = Finished(Old, OldBytes);
    ++FTracksDone;
    FEvents.TrackEnded(FTrack, TTrackEnd::Last, nullptr);
    throw;
  }
  ++FTracksDone;
  FEvents.TrackEnded(Finished(Old, OldBytes), Why, &FTrack);
  FEvents.TrackStarted(FTrack);
}

bool TRecordingSession::Start() {
  FFromDevice = true;
  FEnd = TSessionEnd::None;
  FError.clear();
  FNext.reset();
  FDeviceFailed = false;
  FTracksDone = 0;
  FTotalBytes = 0;
  FEndReported = false;
  UseFormat();
  FAudioSeen = false;
  FAwaitingInput = false;
  FQuietFor = 0;
  FWatchedSince = FCheckDue = Now();
  FDropoutsTaken = 0;
  FTrackMarkers.clear();
  FDropouts = 0;
  FLostFrames = 0;
  FLossUnknown = false;
  FDropoutTracks.clear();
  FMarkError.clear();
  FStreamBytes = FQuietBytes = 0;
  FLoudest = FClippedTracks = 0;
  FWaiting = false;
  FDiskCheckAt = 0;
  FDiskWarnedAt = 0;
  FRecorder.SetDeviceID(FOptions.Device);
  FRecorder.SetCreateNew(FOptions.CreateNew);
  // A device that cannot give the format is refused, never converted from another.
  if (WaveInRefusesFormat(FOptions.Device, FOptions.Format))
    Fail(TSessionEnd::Failed, "the input device does not record " +
                                  RecordingFormatText(FOptions.Format) + "; it gives " +
                                  FormatsTheInputGives(FOptions.Device));
  else if (PrepareFolder() && HasRoom()) {
    FTrack.Number =
        FOptions.FirstNumber > 0 ? FOptions.FirstNumber : NextTrackNumber(FOptions.Folder);
    try {
      BeginFirstTrack();
    } catch (const std::exception& x) {
      Fail(TSessionEnd::Failed, TrackFileName(FTrack.Number) + " did not start: " + x.what());
    }
  }
  if (FEnd == TSessionEnd::None) {
    std::string Why;
    if (!FSleep.Hold("Velmar Audio Recorder", "Recording", Why) && !FSleepSaid) {
      FSleepSaid = true;
      FEvents.SleepNotHeldOff(Why);
    }
    return true;
  }
  FRecorder.Stop();  // a failed start may have left the device open (its stop reports the end)
  if (!FEndReported) {
    FEndReported = true;
    FEvents.RecordingEnded(FEnd);
  }
  return false;
}

void TRecordingSession::BeginFirstTrack() {
  if (!FOptions.WaitForSound) {
    ClaimTrack();
    FEvents.TrackStarted(FTrack);
    return;
  }
  FWaiting = true;
  FSoundStart.Reset(
      std::llround(std::max(FOptions.PreRollSeconds, 0.0) * FOptions.Format.nSamplesPerSec),
      static_cast<std::uint32_t>(FBufferBytes), FOptions.Format);
  if (FFromDevice) FRecorder.Listen();
}

bool TRecordingSession::StartOnSound(std::uint8_t* Data, std::uint32_t& Bytes) {
  FRuleNow = FEvents.RuleSettings(FOptions.Rule);
  const double Gate = GateLevel(FRuleNow);
  const std::int64_t First = FSoundStart.Frames();
  const std::int64_t From = FSoundStart.Take(Data, Bytes, Gate, static_cast<int>(16 * Gate));
  if (From < 0) return false;
  std::vector<std::uint8_t> PreRoll;
  FSoundStart.Copy(From, First, PreRoll);
  if (From > First) {  // no pre-roll, and the sound began inside this buffer
    const auto Skip = static_cast<std::uint32_t>(From - First) * FOptions.Format.nBlockAlign;
    std::memmove(Data, Data + Skip, Bytes - Skip);
    Bytes -= Skip;
  }
  FWaiting = false;
  ClaimTrack();
  FEvents.TrackStarted(FTrack);
  WriteAhead(PreRoll);
  Count(PreRoll.data(), static_cast<std::uint32_t>(PreRoll.size()));
  FSinceSound = 0;
  return true;
}

void TRecordingSession::WriteAhead(const std::vector<std::uint8_t>& Audio) {
  if (Audio.empty() || !FOptions.WriteFiles) return;
  TMMWave& Wave = FFromDevice ? *FRecorder.Wave() : FSplitWave;
  const int Size = static_cast<int>(Audio.size());
  if (Wave.WriteData(Audio.data(), Size) != Size)
    throw EMMWaveError("the audio before the first sound could not be written to " + FTrack.Path);
}

void TRecordingSession::Count(const std::uint8_t* Data, std::uint32_t Bytes) {
  FClips.Take(Data, Bytes, Frames(FTrackBytes));
  const std::int64_t Before = Ms(FTrackBytes);
  FTrackBytes += Bytes;
  FTotalBytes += Bytes;
  const std::int64_t Position = Ms(FTrackBytes);
  FSize.Advance(Before, Position);
  FTrack.Ms = Position;
  FTrack.KBytes = MsToKBytes(Position, FOptions.Format.nAvgBytesPerSec);
}

void TRecordingSession::SplitNow() {
  if (FEnd != TSessionEnd::None || !FTrackOpen || !(FRecorder.State() & wisStarted)) return;
  // A track that holds no audio yet goes on (a key held down repeats): no
  // track is ever empty.
  if (FTrackBytes == 0 || FNext) return;
  try {
    SwitchTrack(TTrackEnd::Manual);
  } catch (const std::exception& x) {
    Fail(TSessionEnd::Failed, x.what());
    FRecorder.Stop();
  }
}

void TRecordingSession::Stop(TSessionEnd Why) {
  if (FEnd == TSessionEnd::None) FEnd = Why;
  FRecorder.Stop();  // Stopped follows, now or after the delivery under way
}

double TRecordingSession::CheckInput() {
  if (FEnd != TSessionEnd::None || !(FRecorder.State() & wisStarted)) return 0.05;
  // The first audio may take a while to come (a sound server starting a stream).
  const double Limit = FAudioSeen ? FOptions.StallSeconds : std::max(5.0, FOptions.StallSeconds);
  // Only the time this process was there to take the audio counts. A check
  // that comes long after it was due means the process stood still (stopped
  // from a terminal, starved, a machine suspended): the device recorded on
  // meanwhile into its buffer and has had no chance yet to hand that over.
  const double t = Now();
  if (t <= FCheckDue + kLateCheck) FQuietFor += t - FWatchedSince;
  FWatchedSince = t;
  // A device that says it went away is waited for at once; a quiet one from
  // the stall limit on.
  const double Wait = FOptions.WaitForInputSeconds;
  if (!FAwaitingInput && Wait > 0 && (FQuietFor >= Limit || FRecorder.WaveIn().InputGone())) {
    FAwaitingInput = true;
    FGoneAfter = FQuietFor;
    FEvents.InputGone("the input is gone; waiting for it to come back");
  }
  const double Left = (FAwaitingInput ? FGoneAfter + Wait : Limit) - FQuietFor;
  if (Left > 0) {
    const double Next = std::min(Left, kCheckEvery);
    FCheckDue = t + Next;
    return Next;
  }
  char Seconds[32];
  std::snprintf(Seconds, sizeof Seconds, "%g", FAwaitingInput ? Wait : Limit);
  Fail(TSessionEnd::InputLost, Seconds);
  FRecorder.Stop();
  return 0.05;
}

bool TRecordingSession::Take(std::uint8_t* Data, std::uint32_t& Bytes) {
  // An end the recording found itself (the side's, the number of tracks) is
  // exact: what the device still hands over with the stop came after it.
  if (FEnd == TSessionEnd::TooShort || FEnd == TSessionEnd::Limit) {
    Bytes = 0;
    return false;
  }
  FStreamBytes += Bytes;
  // Waiting for sound, what is not sound yet goes nowhere (nor does what a
  // stop while waiting hands over).
  if (FWaiting && (FEnd != TSessionEnd::None || !StartOnSound(Data, Bytes))) {
    Bytes = 0;
    return false;
  }
  if (FEnd == TSessionEnd::None) {
    if (FNext)
      SwitchTrack(*FNext);
    else if (FTrackBytes > 0 && FTrackBytes + Bytes > FMaxTrackBytes)
      SwitchTrack(TTrackEnd::SizeLimit);
  }
  if (FOptions.AudioBytes)
    Bytes = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(*FOptions.AudioBytes - FTotalBytes, 0, Bytes));
  Count(Data, Bytes);
  FEvents.BufferTaken(Data, Bytes, FTrack);
  // Buffers that arrive while the recording stops (the user's stop, a
  // failing input) were recorded before it: kept, not judged.
  if (FEnd != TSessionEnd::None) return false;
  FRuleNow = FEvents.RuleSettings(FOptions.Rule);
  const double Gate = GateLevel(FRuleNow);
  // Measured once: the pause test and the rule read the same levels.
  const int Width = FOptions.Format.wBitsPerSample / 8;
  const TChannelLevels Levels = {ChannelLevel(Data, 0, static_cast<int>(Bytes), Width),
                                 ChannelLevel(Data, 1, static_cast<int>(Bytes), Width)};
  const bool Sound = Levels.Left >= Gate || Levels.Right >= Gate;
  if (FSinceSound >= 0)
    ++FSinceSound;
  else if (Sound)
    FSinceSound = 1;
  FQuietBytes = Sound ? 0 : FQuietBytes + Bytes;
  TTrackDecision d = FRule.BufferRecorded(Levels, FTrack.Ms, FSize.Shown(), FRuleNow);
  if (FOptions.AudioBytes && FTotalBytes >= *FOptions.AudioBytes) {
    FEnd = TSessionEnd::Limit;
    return true;
  }
  const int SideEnd = FOptions.SideEndSeconds;
  if (SideEnd > 0) {
    if (FQuietBytes >= SideEnd * std::int64_t{FOptions.Format.nAvgBytesPerSec}) {
      FEnd = TSessionEnd::TooShort;
      return true;
    }
    // A pause: its silence leads into the next sound, in this track. Only a
    // silence the time gate measured wholly after the track's first sound ends
    // it: the onset of a song after a pause can lie in too few buffers to lift
    // the gate's sum, and a split there would cut the song's start off.
    if (FSinceSound <= FRuleNow.TimeGate) d = TTrackDecision::None;
  }
  if (d == TTrackDecision::None) return false;
  if (d == TTrackDecision::EndTrack && !FOptions.KeepGoing && SideEnd <= 0) {
    FEnd = TSessionEnd::TooShort;
    return true;
  }
  if (FOptions.MaxTracks && FTracksDone + 1 >= *FOptions.MaxTracks) {
    FEnd = TSessionEnd::Limit;
    return true;
  }
  FNext = d == TTrackDecision::NextTrack ? TTrackEnd::Split : TTrackEnd::Silent;
  return false;
}

void TRecordingSession::BufferRecorded(PWaveHdr h) {
  WatchDiskTime();
  FAudioSeen = true;
  FQuietFor = 0;
  FWatchedSince = Now();
  // Audio the device held from before it went is no sign that it is back.
  if (FAwaitingInput && !FRecorder.WaveIn().InputGone()) FAwaitingInput = false;
  std::uint32_t Bytes = h->wh.dwBytesRecorded;
  bool Ends = false;
  try {
    Ends = Take(reinterpret_cast<std::uint8_t*>(h->wh.lpData), Bytes);
  } catch (const std::exception& e) {
    Fail(TSessionEnd::Failed, e.what());
    Ends = true;
  }
  h->wh.dwBytesRecorded = Bytes;  // a length limit ends on its exact frame
  TakeDropouts(Frames(FStreamBytes));
  if (Ends) FRecorder.Stop();  // completes after this delivery, with OnStop
}

void TRecordingSession::TakeDropouts(std::int64_t Before) {
  const TMMWaveIn& In = FRecorder.WaveIn();
  if (In.DropoutCount() <= FDropoutsTaken || !FTrackOpen) return;
  TInputDropout d;
  while (In.Dropout(FDropoutsTaken, d) && (Before < 0 || d.AtFrame < Before)) {
    ++FDropoutsTaken;
    const std::int64_t TrackStart = Frames(FStreamBytes - FTrackBytes);
    // A loss while the recording waited for sound lost nothing of it.
    if (FTracksDone == 0 && FOptions.WaitForSound && d.AtFrame < TrackStart) continue;
    // A loss placed before the current track (reported after a split) opens it.
    const TTrackDropout Dropout{
        .Frame = std::clamp<std::int64_t>(d.AtFrame - TrackStart, 0, Frames(FTrackBytes)),
        .LostFrames = d.LostFrames,
        .AwaySeconds = d.AwaySeconds,
        .Suspended = d.Suspended,
        .Gone = d.Gone,
        .Rate = FOptions.Format.nSamplesPerSec};
    ++FDropouts;
    if (d.LostFrames >= 0)
      FLostFrames += d.LostFrames;
    else
      FLossUnknown = true;
    const std::string Name = FileName(FTrack.Path);
    if (std::find(FDropoutTracks.begin(), FDropoutTracks.end(), Name) == FDropoutTracks.end())
      FDropoutTracks.push_back(Name);
    FTrackMarkers.push_back({static_cast<std::uint32_t>(Dropout.Frame), Dropout.Label()});
    FEvents.DropoutFound(FTrack, Dropout);
  }
}

void TRecordingSession::KeepMarkers(const std::string& Path, std::vector<TCueMarker>& Markers) {
  if (Markers.empty() || !FOptions.WriteFiles) return;
  std::string Error;
  if (!AppendCueMarkers(Path, Markers, Error))
    FMarkError = "; their marks could not be kept in " + FileName(Path) + ": " + Error;
  Markers.clear();
}

std::string TRecordingSession::DropoutSummary() const {
  if (FDropouts == 0) return {};
  char Lost[32];
  std::snprintf(Lost, sizeof Lost, "%.1f",
                static_cast<double>(FLostFrames) / FOptions.Format.nSamplesPerSec);
  std::string Tracks;
  for (std::size_t i = 0; i < FDropoutTracks.size(); ++i)
    Tracks += (i == 0 ? "" : i + 1 == FDropoutTracks.size() ? " and " : ", ") + FDropoutTracks[i];
  const std::string Count = std::to_string(FDropouts) + (FDropouts == 1 ? " dropout" : " dropouts");
  const std::string Amount = FLostFrames == 0 && FLossUnknown ? " (audio lost)"
                             : FLossUnknown ? std::string(", ") + Lost + " s lost and more"
                                            : std::string(", ") + Lost + " s lost";
  return Count + Amount + ", in " + Tracks + FMarkError;
}

std::string TRecordingSession::LevelNote() const {
  return FTracksDone == 0 ? std::string() : LevelAdvice(FLoudest, FClippedTracks);
}

void TRecordingSession::Stopped() {
  // The recorder stopped by itself: the device failed, or the file could
  // not be written.
  if (FEnd == TSessionEnd::None)
    FEnd = FDeviceFailed ? TSessionEnd::InputFailed : TSessionEnd::DiskFull;
  FWaiting = false;
  FSleep.Release();
  TakeDropouts(-1);
  TrackDone();
  if (FEndReported) return;
  FEndReported = true;
  FEvents.RecordingEnded(FEnd);
}

void TRecordingSession::Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt) {
  FFromDevice = false;
  FEnd = TSessionEnd::None;
  FError.clear();
  FNext.reset();
  FTracksDone = 0;
  FTotalBytes = FStreamBytes = FQuietBytes = 0;
  FLoudest = FClippedTracks = 0;
  FWaiting = false;
  UseFormat();
  if (FOptions.WriteFiles && !PrepareFolder()) {
    FEvents.RecordingEnded(FEnd);
    return;
  }
  FTrack.Number =
      FOptions.FirstNumber > 0 ? FOptions.FirstNumber : NextTrackNumber(FOptions.Folder);
  std::vector<std::uint8_t> Buffer(static_cast<std::size_t>(FBufferBytes));
  try {
    BeginFirstTrack();
    for (;;) {
      if (Interrupt) {
        FEnd = TSessionEnd::Interrupted;
        break;
      }
      const std::int64_t n = Read(Buffer.data(), FBufferBytes);
      if (n < 0) FEnd = TSessionEnd::Failed;
      if (n <= 0) break;
      auto Bytes = static_cast<std::uint32_t>(n);
      const bool Ends = Take(Buffer.data(), Bytes);
      if (Bytes > 0 && FOptions.WriteFiles &&
          FSplitWave.WriteData(Buffer.data(), static_cast<int>(Bytes)) != static_cast<int>(Bytes)) {
        Fail(TSessionEnd::DiskFull, {});
        break;
      }
      if (Ends) break;
    }
  } catch (const std::exception& x) {
    Fail(TSessionEnd::Failed, x.what());
  }
  FWaiting = false;
  TrackDone();
  FEvents.RecordingEnded(FEnd);
}

std::string TRecordingSession::Message(bool Brief) const {
  // In full: tracks by path, with the likely causes. Brief (a status line
  // under the folder): tracks by file name, in one short line.
  const std::string Name = FileName(FTrack.Path);
  const std::string Track = Brief ? Name : FTrack.Path;
  const std::string MinSec = std::to_string(FRuleNow.MinSec);
  switch (FEnd) {
    case TSessionEnd::TooShort:
      if (FOptions.SideEndSeconds > 0) {
        const std::string Quiet = std::to_string(FOptions.SideEndSeconds);
        return Brief ? "silent for " + Quiet + " s: the end of the side, in " + Name
                     : "the input was silent for " + Quiet +
                           " s, so the recording ended there, as at the end of a side (in " +
                           Track + ")";
      }
      return Brief ? Name + " was silent at the minimum length (" + MinSec +
                         " s), so the recording ended there"
                   : Name + " was silent when it reached the minimum length (" + MinSec +
                         " s), so the recording ended there, as at the end of a side";
    case TSessionEnd::InputLost:
      return Brief ? "no audio from the input for " + FError + " s: it is gone; " + Name +
                         " is complete"
                   : "no audio came from the input device for " + FError +
                         " s: it is gone (the sound server stopped or the device was "
                         "unplugged); " +
                         Track + " is complete";
    case TSessionEnd::InputFailed:
      return "the input device failed; " + Track + " is complete";
    case TSessionEnd::DiskFull:
      return (Brief ? "the disk is full (or the file failed): "
                    : "the disk is full or the file could not be written: ") +
             Track + " keeps its first " + TimeToText(FTrack.Ms);
    case TSessionEnd::Interrupted:
      return "interrupted after " + TimeToText(Ms(FTotalBytes)) + " of the input, in " +
             Name + "; the tracks written so far are complete";
    case TSessionEnd::Failed:
      return FError;
    case TSessionEnd::Stopped:
      if (FTracksDone == 0 && FOptions.WaitForSound)
        return "stopped while waiting for sound: no track was made";
      // Stopped in a quiet stretch: a track of a second or more of nothing
      // but that, said (a split a moment before Stop is not worth a word).
      return FSinceSound >= 0 || FTrack.Ms < 1000
                 ? std::string()
                 : Track + " holds only silence (" + TimeToText(FTrack.Ms) + ")";
    default:
      return {};
  }
}

}  // namespace velmar
