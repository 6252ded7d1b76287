#include "cli/track_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <vector>

#include "cli/commands.h"
#include "platform/application.h"
#include "stream/errors.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/wave_file_io.h"
#include "wavefile/wave_scan.h"

namespace velmar::cli {

namespace {

constexpr int kBufferSize = 8096;
constexpr int kNumBuffers = 36;  // a batch being stored, the next being filled, and spares
// Buffers the input reports together: nothing here shows the audio as it comes,
// so sixteen a wake-up (0.74 s apart) cost a sixteenth of the wake-ups. Ctrl-C
// first has the input report what it holds, which a stop would drop.
constexpr int kBatch = 16;
constexpr double kStatusSeconds = 0.1;
// After Ctrl-C, how long the input has to report what it holds before the stop.
constexpr double kDrainSeconds = 0.3;
constexpr int kSplitIOBuffer = 1 << 19;

const WAVEFORMATEX& CdFormat() {
  static const WAVEFORMATEX f = [] {
    WAVEFORMATEX x{};
    return *BuildPCMFormat(&x, 16, 2, 44100);
  }();
  return f;
}

std::int64_t BytesToMs(std::int64_t Bytes) {
  return SamplesToTime64(&CdFormat(), Bytes / CdFormat().nBlockAlign);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A text bar of a channel's peak, on a 48 dB scale.
std::string Meter(const std::uint8_t* Data, std::uint32_t Bytes, int Channel) {
  int Peak = 0;
  for (std::uint32_t i = 2 * Channel; i + 1 < Bytes; i += 4)
    Peak = std::max(Peak, std::abs(static_cast<std::int16_t>(Data[i] | Data[i + 1] << 8)));
  constexpr int kWidth = 20;
  const double Db = Peak > 0 ? 20 * std::log10(Peak / 32768.0) : -100;
  const int Filled = std::clamp(static_cast<int>((Db + 48) / 48 * kWidth), 0, kWidth);
  return std::string(Filled, '#') + std::string(kWidth - Filled, '-');
}

}  // namespace

int NextTrackNumber(const std::string& Folder) {
  static const std::regex Name(R"(Track(\d+)\.wav)");
  int Highest = 0;
  std::error_code e;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder, e)) {
    std::smatch m;
    const std::string File = Entry.path().filename().string();
    if (std::regex_match(File, m, Name) && m[1].length() < 9)
      Highest = std::max(Highest, std::stoi(m[1].str()));
  }
  return Highest + 1;
}

TTrackSession::TTrackSession(TSessionOptions Options) : FOptions(std::move(Options)) {
  FRecorder.SetDeviceID(FOptions.Device);
  FRecorder.SetBufferSize(kBufferSize);
  FRecorder.SetNumBuffers(kNumBuffers);
  FRecorder.SetBatch(kBatch);
  FRecorder.SetCallBackMode(TMMCBMode::cmWindow);
  FRecorder.SetMode(TMMMode::mStereo);
  FRecorder.SetBitLength(TMMBits::b16Bit);
  FRecorder.SetSampleRate(44100);
  FRecorder.SetTimeFormat(TMMTimeFormats::tfByte);
  FRecorder.SetOverwriteExisting(true);
  FRecorder.SetCreateNew(true);
  FRecorder.OnData = [this](TObject*, PWaveHdr h) { BufferRecorded(h); };
  FRecorder.OnStop = [this](TObject*) { Stopped(); };
  FRecorder.WaveIn().OnError = [this](TObject*) { FDeviceFailed = true; };
  // A split copies a file that stays: written as fast as the page cache takes it.
  FSplitWave.SetIOBufferSize(kSplitIOBuffer);
  FSplitWave.SetSyncWhileWriting(false);
}

std::string TTrackSession::TrackPath() const {
  return (std::filesystem::path(FOptions.Folder) / TrackFileName(FNumber)).string();
}

std::string TTrackSession::OpenPath() const {
  return FFromDevice ? FRecorder.Wave()->FileName() : FSplitWave.FileName();
}

bool TTrackSession::PrepareFolder() {
  const std::string& Folder = FOptions.Folder;
  std::error_code e;
  if (std::filesystem::exists(Folder, e) && !std::filesystem::is_directory(Folder, e))
    Fail(Folder + " is not a folder");
  else if (std::filesystem::create_directories(Folder, e); e)
    Fail("cannot create the folder " + Folder + ": " + e.message());
  else if (::access(Folder.c_str(), W_OK | X_OK) != 0)
    Fail("cannot write in the folder " + Folder + ": " + std::strerror(errno));
  return FError.empty();
}

void TTrackSession::ClaimTrack() {
  for (int Taken = 0;; ++FNumber, ++Taken) {
    const std::string Path = TrackPath();
    std::error_code e;
    if (std::filesystem::exists(Path, e) || e) continue;
    try {
      if (!FFromDevice) {
        FSplitWave.CreateFile(Path, &CdFormat(), true);
      } else if (FRecorder.State() & wisStarted) {
        FRecorder.ContinueIn(Path);
      } else {
        FRecorder.Wave()->SetFileName(Path);
        FRecorder.Start();
      }
    } catch (const std::exception&) {
      // Another program created it in between: go on with the next number.
      if (!std::filesystem::exists(Path, e) || Taken > 1000) throw;
      if (FFromDevice && !(FRecorder.State() & wisStarted)) FRecorder.Stop();
      continue;
    }
    FTrackOpen = true;
    FTrackBytes = 0;
    FSize.Reset();
    return;
  }
}

void TTrackSession::PrintTrack(const std::string& Path, std::int64_t Bytes,
                               const std::string& Why) {
  // What the file holds, which is less than was captured when a write failed.
  TWaveScan Scan;
  std::string Error;
  const std::int64_t Ms = ScanWaveFile(Path, Scan, Error)
                              ? SamplesToTime64(&CdFormat(), Scan.Frames())
                              : BytesToMs(Bytes);
  ClearStatus();
  const std::string Note = Why.empty() ? "" : "  (" + Why + ")";
  std::printf("%s  %s  %lld kB%s\n", std::filesystem::path(Path).filename().c_str(),
              TimeToText(Ms).c_str(), static_cast<long long>(MsToKBytes(Ms)), Note.c_str());
  std::fflush(stdout);
  ++FTracksDone;
}

void TTrackSession::TrackDone() {
  if (!FTrackOpen) return;
  FTrackOpen = false;
  const std::string Path = OpenPath();
  if (!FFromDevice) FSplitWave.CloseFile();
  PrintTrack(Path, FTrackBytes, {});
}

void TTrackSession::SwitchTrack(const std::string& Why) {
  if (FRuleSplit) FRule.NextTrackStarted();
  FNextPending = FRuleSplit = false;
  const std::string Old = OpenPath();
  const std::int64_t OldBytes = FTrackBytes;
  FTrackOpen = false;
  if (!FFromDevice) FSplitWave.CloseFile();
  ++FNumber;
  try {
    ClaimTrack();  // the recorder finalises the old file first
  } catch (...) {
    PrintTrack(Old, OldBytes, Why);
    throw;
  }
  PrintTrack(Old, OldBytes, Why.empty() ? "" : Why + ", continued in " + TrackFileName(FNumber));
}

bool TTrackSession::Take(std::uint8_t* Data, std::uint32_t& Bytes) {
  if (FEnd == TEnd::None) {
    if (FNextPending)
      SwitchTrack({});
    else if (FTrackBytes > 0 && FTrackBytes + Bytes > FMaxTrackBytes)
      SwitchTrack("the largest size of a WAV file");
  }
  if (FOptions.AudioBytes)
    Bytes = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(*FOptions.AudioBytes - FTotalBytes, 0, Bytes));
  const std::int64_t Before = BytesToMs(FTrackBytes);
  FTrackBytes += Bytes;
  FTotalBytes += Bytes;
  // The last batch before --duration's end comes a buffer at a time, so the
  // recording ends when its audio is in, not up to a batch later.
  // Lowered once: each lowering wakes the input.
  if (FFromDevice && FOptions.AudioBytes && FRecorder.Batch() > 1 &&
      *FOptions.AudioBytes - FTotalBytes < kBatch * kBufferSize)
    FRecorder.SetBatch(1);
  const std::int64_t Position = BytesToMs(FTrackBytes);
  FSize.Advance(Before, Position);
  ShowStatus(Data, Bytes);
  // Buffers that arrive while the recording stops are kept, not judged.
  if (FEnd != TEnd::None) return false;
  const TTrackDecision d =
      FRule.BufferRecorded(Data, static_cast<int>(Bytes), Position, FSize.Shown(), FOptions.Rule);
  if (FOptions.AudioBytes && FTotalBytes >= *FOptions.AudioBytes) {
    FEnd = TEnd::Limit;
    return true;
  }
  if (d == TTrackDecision::None) return false;
  if (d == TTrackDecision::EndTrack && !FOptions.KeepGoing) {
    FEnd = TEnd::TooShort;
    return true;
  }
  if (FOptions.MaxTracks && FTracksDone + 1 >= *FOptions.MaxTracks) {
    FEnd = TEnd::Limit;
    return true;
  }
  FNextPending = true;
  FRuleSplit = d == TTrackDecision::NextTrack;
  return false;
}

void TTrackSession::BufferRecorded(PWaveHdr h) {
  FLastBuffer = Now();
  FAudioSeen = true;
  std::uint32_t Bytes = h->wh.dwBytesRecorded;
  bool Ends = false;
  try {
    Ends = Take(reinterpret_cast<std::uint8_t*>(h->wh.lpData), Bytes);
  } catch (const std::exception& e) {
    Fail(e.what());
    FEnd = TEnd::Failed;
    Ends = true;
  }
  h->wh.dwBytesRecorded = Bytes;  // a duration ends on its exact frame
  if (Ends) FRecorder.Stop();     // completes after this handler, with OnStop
}

void TTrackSession::Stopped() {
  TrackDone();
  if (FEnd == TEnd::None) {
    // The recorder stopped by itself.
    FEnd = TEnd::Failed;
    if (FDeviceFailed)
      Fail("the input device failed; " + OpenPath() + " is complete");
    else
      Fail("the disk is full or the file could not be written: " + OpenPath());
  }
}

void TTrackSession::Fail(const std::string& Error) {
  if (FError.empty()) FError = Error;
}

void TTrackSession::ShowStatus(const std::uint8_t* Data, std::uint32_t Bytes) {
  if (!FOptions.Status) return;
  const double t = Now();
  if (t - FLastStatus < kStatusSeconds) return;
  FLastStatus = t;
  const std::int64_t Ms = BytesToMs(FTrackBytes);
  std::fprintf(stderr, "\r%s  %s  %lld kB  L %s  R %s ", TrackFileName(FNumber).c_str(),
               TimeToText(Ms).c_str(), static_cast<long long>(MsToKBytes(Ms)),
               Meter(Data, Bytes, 0).c_str(), Meter(Data, Bytes, 1).c_str());
  std::fflush(stderr);
  FStatusShown = true;
}

void TTrackSession::ClearStatus() {
  if (!FStatusShown) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  FStatusShown = false;
}

int TTrackSession::Result() {
  ClearStatus();
  if (FEnd == TEnd::TooShort)
    std::fprintf(stderr,
                 "velmar-rec: the input fell silent before %s reached the minimum length "
                 "(%d s), so the recording ended (--keep-going starts the next track instead)\n",
                 TrackFileName(FNumber).c_str(), FOptions.Rule.MinSec);
  if (FError.empty()) return FEnd == TEnd::Failed ? 2 : 0;
  std::fprintf(stderr, "velmar-rec: %s\n", OneLine(FError).c_str());
  return 2;
}

int TTrackSession::Run(const std::atomic<bool>& Interrupt) {
  FFromDevice = true;
  if (!PrepareFolder()) return Result();
  FNumber = NextTrackNumber(FOptions.Folder);
  try {
    ClaimTrack();
  } catch (const std::exception& x) {
    Fail(x.what());
    FEnd = TEnd::Failed;
  }
  FLastBuffer = Now();
  const double FirstAudio = std::max(5.0, FOptions.StallSeconds);
  double DrainStart = -1;
  const auto StallLimit = [&] { return FAudioSeen ? FOptions.StallSeconds : FirstAudio; };
  while (FEnd == TEnd::None || (FRecorder.State() & wisStarted)) {
    // Buffers and Ctrl-C wake the loop as they come; otherwise it wakes when
    // the input would count as lost. Ending or draining, it looks often: those
    // take a moment, not seconds.
    const double Lost = FLastBuffer + StallLimit() - Now();
    WaitForMessage(FEnd == TEnd::None && DrainStart < 0
                       ? static_cast<std::uint32_t>(std::clamp(Lost * 1000 + 1, 1.0, 60000.0))
                       : 50);
    if (FEnd != TEnd::None) continue;
    if (Interrupt) {
      if (DrainStart < 0) {
        DrainStart = Now();
        FRecorder.SetBatch(1);
      }
      if (Now() - DrainStart < kDrainSeconds) continue;
      FEnd = TEnd::Interrupted;
      FRecorder.Stop();
    } else if (const double Limit = StallLimit(); Now() - FLastBuffer > Limit) {
      FEnd = TEnd::Stalled;
      char Seconds[32];
      std::snprintf(Seconds, sizeof Seconds, "%g", Limit);
      Fail(std::string("no audio came from the input device for ") + Seconds +
           " s: it is gone (the sound server stopped or the device was unplugged); " + OpenPath() +
           " is complete");
      FRecorder.Stop();
    }
  }
  FRecorder.Stop();  // a failed start may have left the device open
  TrackDone();
  return Result();
}

int TTrackSession::Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt) {
  FFromDevice = false;
  if (!PrepareFolder()) return Result();
  FNumber = NextTrackNumber(FOptions.Folder);
  std::vector<std::uint8_t> Buffer(kBufferSize);
  try {
    ClaimTrack();
    for (;;) {
      if (Interrupt) {
        FEnd = TEnd::Interrupted;
        break;
      }
      const std::int64_t n = Read(Buffer.data(), kBufferSize);
      if (n < 0) FEnd = TEnd::Failed;
      if (n <= 0) break;
      auto Bytes = static_cast<std::uint32_t>(n);
      const bool Ends = Take(Buffer.data(), Bytes);
      if (Bytes > 0 &&
          FSplitWave.WriteData(Buffer.data(), static_cast<int>(Bytes)) != static_cast<int>(Bytes)) {
        FEnd = TEnd::Failed;
        Fail("the disk is full or the file could not be written: " + OpenPath());
        break;
      }
      if (Ends) break;
    }
  } catch (const std::exception& x) {
    Fail(x.what());
    FEnd = TEnd::Failed;
  }
  TrackDone();
  if (FEnd == TEnd::Interrupted) {
    FEnd = TEnd::Failed;
    Fail("interrupted after " + TimeToText(BytesToMs(FTotalBytes)) + " of the input, in " +
         TrackFileName(FNumber) + "; the tracks written so far are complete");
  }
  return Result();
}

}  // namespace velmar::cli
