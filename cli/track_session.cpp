#include "cli/track_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>

#include "platform/application.h"
#include "stream/errors.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/wave_file_io.h"

namespace velmar::cli {

namespace {

constexpr int kBufferSize = 8096;
constexpr int kNumBuffers = 10;
constexpr double kStatusSeconds = 0.1;

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
  FRecorder.SetCallBackMode(TMMCBMode::cmWindow);
  FRecorder.SetMode(TMMMode::mStereo);
  FRecorder.SetBitLength(TMMBits::b16Bit);
  FRecorder.SetSampleRate(44100);
  // Limits are counted in bytes, so that a duration ends on the exact frame.
  FRecorder.SetTimeFormat(TMMTimeFormats::tfByte);
  FRecorder.SetOverwriteExisting(true);
  FRecorder.OnData = [this](TObject*, PWaveHdr h) { BufferRecorded(h); };
  FRecorder.OnStop = [this](TObject*) { Stopped(); };
  FRecorder.WaveIn().OnError = [this](TObject*) { FDeviceFailed = true; };
}

void TTrackSession::StartNewTrack() {
  FTrackBytes = 0;
  FSize.Reset();
  FRuleEnded = false;
  if (FOptions.AudioBytes) {
    const std::int64_t Left = *FOptions.AudioBytes - FTotalBytes;
    FRecorder.SetMaxRecordTime(static_cast<int>(std::min<std::int64_t>(Left, kMaxWaveFileBytes)));
  }
  FRecorder.Wave()->SetFileName(
      (std::filesystem::path(FOptions.Folder) / TrackFileName(FNumber)).string());
  FRecorder.Start();
}

void TTrackSession::BufferRecorded(PWaveHdr h) {
  const auto* Data = reinterpret_cast<const std::uint8_t*>(h->wh.lpData);
  const std::uint32_t Bytes = h->wh.dwBytesRecorded;
  const std::int64_t Before = BytesToMs(FTrackBytes);
  FTrackBytes += Bytes;
  FTotalBytes += Bytes;
  const std::int64_t Position = BytesToMs(FTrackBytes);
  FSize.Advance(Before, Position);
  const TTrackDecision d =
      FRule.BufferRecorded(Data, static_cast<int>(Bytes), Position, FSize.Shown(), FOptions.Rule);
  ShowStatus(Data, Bytes, false);
  if (d == TTrackDecision::None || FRuleEnded) return;
  FRuleEnded = true;
  FSplitPending = d == TTrackDecision::NextTrack;
  FRecorder.Stop();  // completes after this handler, with OnStop
}

void TTrackSession::Stopped() {
  ClearStatus();
  const std::int64_t Ms = BytesToMs(FTrackBytes);
  std::printf("%s  %s  %lld kB\n", TrackFileName(FNumber).c_str(), TimeToText(Ms).c_str(),
              static_cast<long long>(MsToKBytes(Ms)));
  std::fflush(stdout);
  ++FTracksDone;
  const bool Split = FSplitPending;
  FSplitPending = false;
  if (FInterrupted || (FOptions.AudioBytes && FTotalBytes >= *FOptions.AudioBytes) ||
      (FOptions.MaxTracks && FTracksDone >= *FOptions.MaxTracks)) {
    Finish();
    return;
  }
  if (!FRuleEnded && FDeviceFailed) {
    Finish("the input device failed; " + FRecorder.Wave()->FileName() + " is complete");
    return;
  }
  if (!FRuleEnded && FTrackBytes < kMaxWaveFileBytes - 2 * kBufferSize) {
    // The recorder stopped by itself: its file could not take more.
    Finish("the disk is full or the file could not be written: " + FRecorder.Wave()->FileName());
    return;
  }
  if (FRuleEnded && !Split && !FOptions.KeepAllInput) {
    Finish();  // silence before the track was long enough: the recording ends
    return;
  }
  // An automatic split, or a track that reached the largest WAV size.
  if (Split) FRule.NextTrackStarted();
  ++FNumber;
  try {
    StartNewTrack();
  } catch (const std::exception& e) {
    Finish(e.what());
  }
}

void TTrackSession::Finish(const std::string& Error) {
  FDone = true;
  if (FError.empty()) FError = Error;
}

void TTrackSession::ShowStatus(const std::uint8_t* Data, std::uint32_t Bytes, bool Force) {
  if (!FOptions.Status) return;
  const double t = Now();
  if (!Force && t - FLastStatus < kStatusSeconds) return;
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

int TTrackSession::Run(const std::atomic<bool>& Interrupt) {
  std::error_code e;
  std::filesystem::create_directories(FOptions.Folder, e);
  FNumber = NextTrackNumber(FOptions.Folder);
  try {
    StartNewTrack();
  } catch (const std::exception& x) {
    Finish(x.what());
  }
  while (!FDone) {
    Wait(20, true);
    if (Interrupt && !FInterrupted) {
      FInterrupted = true;
      FRecorder.Stop();
      if (!(FRecorder.State() & wisStarted) && !FDone) Finish();
    }
  }
  FRecorder.Stop();  // a failed start may have left the device open
  ClearStatus();
  if (FError.empty()) return 0;
  // Device errors carry line breaks after their operation: one line here.
  std::string Line = std::regex_replace(FError, std::regex("[\r\n]+"), " ");
  std::fprintf(stderr, "velmar-rec: %s\n", Line.c_str());
  return 2;
}

}  // namespace velmar::cli
