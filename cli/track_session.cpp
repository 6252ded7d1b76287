#include "cli/track_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "platform/application.h"
#include "platform/wave/wave_backend.h"

namespace velmar::cli {

namespace {

constexpr int kNumBuffers = 36;  // a batch being stored, the next being filled, and spares
// Buffers the input reports together: nothing here shows the audio as it comes,
// so sixteen a wake-up (0.74 s apart) cost a sixteenth of the wake-ups. Ctrl-C
// first has the input report what it holds, which a stop would drop.
constexpr int kBatch = 16;
constexpr double kStatusSeconds = 0.1;
// After Ctrl-C, how long the input has to report what it holds before the stop.
constexpr double kDrainSeconds = 0.3;

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

TTrackSession::TTrackSession(TSessionOptions Options, bool Status)
    : FSession(std::move(Options), *this), FStatus(Status) {
  TMMWaveRecorder& Recorder = FSession.Recorder();
  Recorder.SetNumBuffers(kNumBuffers);
  Recorder.SetBatch(kBatch);
  Recorder.SetTimeFormat(TMMTimeFormats::tfByte);
}

void TTrackSession::TrackEnded(const TTrackInfo& Track, TTrackEnd Why, const TTrackInfo* Next) {
  ClearStatus();
  if (FCollect) {
    FCollect->push_back(Track.Frames);
    return;
  }
  if (!FSession.Options().WriteFiles) {  // a dry run: where each track lies
    std::printf("%s  %s - %s  %s\n", std::filesystem::path(Track.Path).filename().c_str(),
                TimeToText(FDoneMs).c_str(), TimeToText(FDoneMs + Track.Ms).c_str(),
                TimeToText(Track.Ms).c_str());
    FDoneMs += Track.Ms;
    return;
  }
  std::string Note = Why == TTrackEnd::SizeLimit && Next
                         ? "  (the largest size of a WAV file, continued in " +
                               std::filesystem::path(Next->Path).filename().string() + ")"
                         : "";
  if (const std::string Clips = Track.ClipText(); !Clips.empty())
    Note += "  (" + Clips.substr(Clips.find(": ") + 2) + ")";
  std::printf("%s  %s  %lld kB%s\n", std::filesystem::path(Track.Path).filename().c_str(),
              TimeToText(Track.Ms).c_str(), static_cast<long long>(Track.KBytes), Note.c_str());
  std::fflush(stdout);
  if (Track.OnlyNoise) std::fprintf(stderr, "velmar-rec: %s\n", Track.NoiseText().c_str());
}

void TTrackSession::BufferTaken(const std::uint8_t* Data, std::uint32_t Bytes,
                                const TTrackInfo& Track) {
  // The last batch before a length limit comes a buffer at a time, so the
  // recording ends when its audio is in, not up to a batch later. Lowered
  // once: each lowering wakes the input.
  const TSessionOptions& o = FSession.Options();
  TMMWaveRecorder& Recorder = FSession.Recorder();
  if (o.AudioBytes && Recorder.Batch() > 1 &&
      *o.AudioBytes - Recorder.WaveIn().BytesRecorded() < kBatch * TRecordingSession::kBufferSize)
    Recorder.SetBatch(1);
  if (!FStatus) return;
  const double t = Now();
  if (t - FLastStatus < kStatusSeconds) return;
  FLastStatus = t;
  std::fprintf(stderr, "\r%s  %s  %lld kB  L %s  R %s ",
               std::filesystem::path(Track.Path).filename().c_str(), TimeToText(Track.Ms).c_str(),
               static_cast<long long>(Track.KBytes), Meter(Data, Bytes, 0).c_str(),
               Meter(Data, Bytes, 1).c_str());
  std::fflush(stderr);
  FStatusShown = true;
}

void TTrackSession::DropoutFound(const TTrackInfo& Track, const TTrackDropout& Dropout) {
  ClearStatus();
  std::fprintf(stderr, "velmar-rec: %s\n",
               Dropout.Text(std::filesystem::path(Track.Path).filename().string()).c_str());
  std::fflush(stderr);
}

void TTrackSession::SleepNotHeldOff(const std::string& Why) {
  ClearStatus();
  std::fprintf(stderr, "velmar-rec: the machine may sleep while recording: %s\n", Why.c_str());
  std::fflush(stderr);
}

void TTrackSession::InputGone(const std::string& Text) {
  Say(Text);
}

void TTrackSession::DiskTimeShort(const std::string& Text) {
  Say(Text);
}

void TTrackSession::Say(const std::string& Text) {
  ClearStatus();
  std::fprintf(stderr, "velmar-rec: %s\n", Text.c_str());
  std::fflush(stderr);
}

void TTrackSession::ClearStatus() {
  if (!FStatusShown) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  FStatusShown = false;
}

int TTrackSession::Result() {
  ClearStatus();
  const TSessionEnd End = FSession.End();
  const std::string Message = FSession.Message();
  // A track silent at the minimum length may not be the side's end: say how
  // to go on. An end of side by --side-end was asked for.
  if (End == TSessionEnd::TooShort && FSession.Options().SideEndSeconds <= 0)
    std::fprintf(stderr, "velmar-rec: %s (--keep-going starts the next track instead)\n",
                 Message.c_str());
  else if (!Message.empty())
    std::fprintf(stderr, "velmar-rec: %s\n", OneLine(Message).c_str());
  if (const std::string Lost = FSession.DropoutSummary(); !Lost.empty())
    std::fprintf(stderr, "velmar-rec: %s\n", Lost.c_str());

  const bool Ok = End == TSessionEnd::None || End == TSessionEnd::Stopped ||
                  End == TSessionEnd::Limit || End == TSessionEnd::TooShort;
  return Ok ? 0 : 2;
}

int TTrackSession::Run(const std::atomic<bool>& Interrupt) {
  // First, the time the disk has room for.
  if (const std::string Left = FSession.TimeLeftText(); !Left.empty())
    std::fprintf(stderr, "velmar-rec: recording time: %s\n", Left.c_str());
  if (!FSession.Start()) return Result();
  // Once, before the first track: a sound server that resamples the input.
  if (const std::string Note = WaveInRateNote(static_cast<std::uint32_t>(FSession.Options().Device),
                                              FSession.Options().Format.nSamplesPerSec);
      !Note.empty())
    std::fprintf(stderr, "velmar-rec: %s\n", Note.c_str());
  if (FSession.Waiting()) {
    std::fprintf(stderr, "velmar-rec: waiting for sound on %s...\n",
                 FSession.Recorder().ProductName().c_str());
    std::fflush(stderr);
  }
  double DrainStart = -1;
  while (FSession.Recording()) {
    // Buffers and Ctrl-C wake the loop as they come; otherwise it wakes when
    // the input would count as lost. Ending or draining, it looks often: those
    // take a moment, not seconds.
    const double Lost = FSession.CheckInput();
    WaitForMessage(FSession.End() == TSessionEnd::None && DrainStart < 0
                       ? static_cast<std::uint32_t>(std::clamp(Lost * 1000 + 1, 1.0, 60000.0))
                       : 50);
    if (FSession.End() != TSessionEnd::None || !Interrupt) continue;
    if (DrainStart < 0) {
      DrainStart = Now();
      FSession.Recorder().SetBatch(1);
    }
    if (Now() - DrainStart >= kDrainSeconds) FSession.Stop();
  }
  const int Status = Result();
  // How the input's level was, for the next side.
  if (const std::string Level = FSession.LevelNote(); !Level.empty())
    std::fprintf(stderr, "velmar-rec: %s\n", Level.c_str());
  return Status;
}

int TTrackSession::Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt) {
  FSession.Split(Read, Interrupt);
  return Result();
}

}  // namespace velmar::cli
