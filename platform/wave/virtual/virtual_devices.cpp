#include "platform/wave/virtual/virtual_devices.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace velmar {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes that a stream of AvgBytes per second produces in Elapsed, whole frames.
std::uint64_t BytesIn(Clock::duration Elapsed, std::uint32_t AvgBytes, std::uint32_t Block) {
  const auto Ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Elapsed).count();
  if (Ns <= 0) return 0;
  const auto n = static_cast<std::uint64_t>(Ns);
  const std::uint64_t Bytes = n / 1000000000u * AvgBytes + n % 1000000000u * AvgBytes / 1000000000u;
  return Bytes / Block * Block;
}

bool Acceptable(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM &&
         (f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 24) &&
         f.nChannels >= 1 && f.nChannels <= 8 && f.nSamplesPerSec >= 1000 &&
         f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
         f.nAvgBytesPerSec == f.nBlockAlign * f.nSamplesPerSec;
}

}  // namespace

struct TVirtualDeviceState {
  TVirtualDeviceSpec Spec;
  Clock::time_point Origin = Clock::now();  // the live clock starts with the device
  std::mutex Lock;
  std::uint64_t FileOffset = 0;  // where a file source goes on
};

namespace {

// The pacing both directions share: bytes come due as the clock runs; Interrupt
// makes a wait return at once.
class TPacer {
 public:
  TPacer(const WAVEFORMATEX& f, bool RealTime)
      : Block(f.nBlockAlign), Avg(f.nAvgBytesPerSec), FRealTime(RealTime) {}

  // Waits until Due() - Done >= one frame; returns the bytes then due beyond
  // Done (whole frames), or 0 when interrupted.
  template <typename DueFn>
  std::uint64_t WaitFor(std::uint64_t Done, DueFn Due) {
    std::unique_lock<std::mutex> L(M);
    for (;;) {
      if (FInterrupted) {
        FInterrupted = false;
        return 0;
      }
      if (!FRealTime) return UINT64_MAX / 2;
      const std::uint64_t d = Due();
      if (d >= Done + Block) return (d - Done) / Block * Block;
      // The time until the next frame is due, at least a millisecond.
      CV.wait_for(
          L, std::chrono::milliseconds(1) + std::chrono::microseconds(1000000ull * Block / Avg));
    }
  }

  void Interrupt() {
    std::lock_guard<std::mutex> L(M);
    FInterrupted = true;
    CV.notify_all();
  }

  // Waits for Time; an Interrupt ends it early and stays pending for the next wait.
  void Sleep(std::chrono::duration<double> Time) {
    std::unique_lock<std::mutex> L(M);
    CV.wait_for(L, Time, [&] { return FInterrupted; });
  }

  const std::uint32_t Block, Avg;

 private:
  bool FRealTime;
  std::mutex M;
  std::condition_variable CV;
  bool FInterrupted = false;
};

class TVirtualCapture : public TCaptureStream {
 public:
  TVirtualCapture(std::shared_ptr<TVirtualDeviceState> s, const WAVEFORMATEX& f)
      : D(std::move(s)), Format(f), Pacer(f, D->Spec.RealTime) {}

  void Start() override {
    std::lock_guard<std::mutex> L(D->Lock);
    Base = Clock::now();
    if (D->Spec.Live && D->Spec.RealTime)
      Offset = LiveDue();  // what played while we were away is gone
    else
      Offset = D->FileOffset;
    BaseOffset = Offset;
    Running = true;
    Suspended = false;
    FDropouts.Clear();
  }

  void Stop() override {
    std::lock_guard<std::mutex> L(D->Lock);
    Running = false;
    D->FileOffset = Offset;
  }

  int Read(char* Dest, std::uint32_t Max) override {
    Max = Max / Pacer.Block * Pacer.Block;
    if (D->Spec.FailAfter >= 0) {
      const auto Left = static_cast<std::int64_t>(BaseOffset) + D->Spec.FailAfter -
                        static_cast<std::int64_t>(Offset);
      if (Left <= 0) return -1;
      Max = static_cast<std::uint32_t>(std::min<std::int64_t>(Max, Left));
    }
    if (Max == 0) return 0;
    if (D->Spec.SuspendAfter >= 0 && !Suspended) {
      const auto Left = D->Spec.SuspendAfter - static_cast<std::int64_t>(Offset - BaseOffset);
      if (Left <= 0) {
        Suspend();
        return 0;  // as an interrupted wait: the device thread asks again
      }
      Max = static_cast<std::uint32_t>(std::min<std::int64_t>(Max, Left));
    }
    const std::uint64_t Avail = Pacer.WaitFor(Offset, [this] { return Due(); });
    if (Avail == 0) return 0;
    std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(Max, Avail));
    if (D->Spec.Live && D->Spec.RealTime && Avail > Pacer.Avg) {
      // The reader fell more than a second behind: the card overran, and what
      // it could not hold is gone.
      ++FXruns;
      const std::uint64_t Lost = Avail - Pacer.Avg;
      FDropouts.Add({.AtFrame = static_cast<std::int64_t>((Offset - BaseOffset) / Pacer.Block),
                     .LostFrames = static_cast<std::int64_t>(Lost / Pacer.Block),
                     .AwaySeconds = static_cast<double>(Avail) / Pacer.Avg});
      Offset += Lost;
      BaseOffset += Lost;  // the stream's frames count what it delivered
    }
    auto* Out = reinterpret_cast<std::uint8_t*>(Dest);
    if (D->Spec.Generator)
      D->Spec.Generator(Out, n, Offset, Format);
    else
      std::memset(Out, Format.wBitsPerSample == 8 ? 128 : 0, n);
    Offset += n;
    return static_cast<int>(n);
  }

  void Interrupt() override { Pacer.Interrupt(); }
  std::uint32_t Xruns() const override { return FXruns; }
  bool HoldsHeader(std::uint64_t n) const override {
    return D->Spec.HoldHeader >= 0 && n == static_cast<std::uint64_t>(D->Spec.HoldHeader);
  }
  std::uint32_t MaxBytesPerHeader() const override { return D->Spec.ShortBuffers; }
  bool FillsOnDemand() const override { return D->Spec.OnDemand; }

 private:
  // The machine sleeps: the live source plays on unheard; the stream then
  // goes on from the present, as a resumed device does.
  void Suspend() {
    Suspended = true;
    const auto From = Clock::now();
    Pacer.Sleep(std::chrono::duration<double>(D->Spec.SuspendSeconds));
    const double Away = std::chrono::duration<double>(Clock::now() - From).count();
    const std::uint64_t Now = D->Spec.Live && D->Spec.RealTime ? LiveDue() : Offset;
    FDropouts.Add({.AtFrame = static_cast<std::int64_t>((Offset - BaseOffset) / Pacer.Block),
                   .AwaySeconds = Away,
                   .Suspended = true});
    BaseOffset += Now - Offset;
    Offset = Now;
  }

  std::uint64_t LiveDue() const {
    return BytesIn(Clock::now() - D->Origin, Pacer.Avg, Pacer.Block);
  }
  std::uint64_t Due() const {
    if (D->Spec.Live) return LiveDue();
    return BaseOffset + BytesIn(Clock::now() - Base, Pacer.Avg, Pacer.Block);
  }

  std::shared_ptr<TVirtualDeviceState> D;
  WAVEFORMATEX Format;
  TPacer Pacer;
  std::uint64_t Offset = 0, BaseOffset = 0;
  Clock::time_point Base = Clock::now();
  bool Running = false;
  bool Suspended = false;  // once a stream
  std::atomic<std::uint32_t> FXruns{0};
};

class TVirtualPlayback : public TPlaybackStream {
 public:
  TVirtualPlayback(std::shared_ptr<TVirtualDeviceState> s, const WAVEFORMATEX& f)
      : D(std::move(s)),
        Pacer(f, D->Spec.RealTime),
        Lead(std::max<std::uint32_t>(f.nAvgBytesPerSec / 50, f.nBlockAlign)) {}

  void Start() override {
    Base = Clock::now();
    BaseOffset = Played;
  }
  void Stop() override {}

  int Write(const char* Data, std::uint32_t Count) override {
    Count = Count / Pacer.Block * Pacer.Block;
    if (D->Spec.FailAfter >= 0) {
      const auto Left = D->Spec.FailAfter - static_cast<std::int64_t>(Played);
      if (Left <= 0) return -1;
      Count = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, Left));
    }
    if (Count == 0) return 0;
    // The device takes bytes as they come due, a little ahead of the clock.
    const std::uint64_t Room = Pacer.WaitFor(Played, [this] {
      return BaseOffset + Lead + BytesIn(Clock::now() - Base, Pacer.Avg, Pacer.Block);
    });
    if (Room == 0) return 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(Count, Room));
    if (D->Spec.Sink) D->Spec.Sink(reinterpret_cast<const std::uint8_t*>(Data), n);
    Played += n;
    return static_cast<int>(n);
  }

  void Interrupt() override { Pacer.Interrupt(); }
  bool HoldsHeader(std::uint64_t n) const override {
    return D->Spec.HoldHeader >= 0 && n == static_cast<std::uint64_t>(D->Spec.HoldHeader);
  }

 private:
  std::shared_ptr<TVirtualDeviceState> D;
  TPacer Pacer;
  std::uint32_t Lead;
  std::uint64_t Played = 0, BaseOffset = 0;
  Clock::time_point Base = Clock::now();
};

TWaveDeviceCaps CapsOf(const TVirtualDeviceSpec& s) {
  TWaveDeviceCaps c;
  c.Name = s.Name.substr(0, 31);
  c.Formats = s.Formats;
  c.Channels = s.Channels;
  return c;
}

}  // namespace

int TVirtualBackend::AddCapture(TVirtualDeviceSpec Spec) {
  std::lock_guard<std::mutex> L(FLock);
  auto s = std::make_shared<TVirtualDeviceState>();
  s->Spec = std::move(Spec);
  FCapture.push_back(s);
  return static_cast<int>(FCapture.size()) - 1;
}

int TVirtualBackend::AddPlayback(TVirtualDeviceSpec Spec) {
  std::lock_guard<std::mutex> L(FLock);
  auto s = std::make_shared<TVirtualDeviceState>();
  s->Spec = std::move(Spec);
  FPlayback.push_back(s);
  return static_cast<int>(FPlayback.size()) - 1;
}

void TVirtualBackend::Clear() {
  std::lock_guard<std::mutex> L(FLock);
  FCapture.clear();
  FPlayback.clear();
}

int TVirtualBackend::CaptureCount() {
  std::lock_guard<std::mutex> L(FLock);
  return static_cast<int>(FCapture.size());
}

int TVirtualBackend::PlaybackCount() {
  std::lock_guard<std::mutex> L(FLock);
  return static_cast<int>(FPlayback.size());
}

TWaveDeviceCaps TVirtualBackend::CaptureCaps(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return CapsOf(FCapture.at(static_cast<size_t>(Index))->Spec);
}

TWaveDeviceCaps TVirtualBackend::PlaybackCaps(int Index) {
  std::lock_guard<std::mutex> L(FLock);
  return CapsOf(FPlayback.at(static_cast<size_t>(Index))->Spec);
}

MMRESULT TVirtualBackend::OpenCapture(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                                      std::unique_ptr<TCaptureStream>& Stream) {
  std::shared_ptr<TVirtualDeviceState> s;
  {
    std::lock_guard<std::mutex> L(FLock);
    if (Index < 0 || Index >= static_cast<int>(FCapture.size())) return MMSYSERR_BADDEVICEID;
    s = FCapture[static_cast<size_t>(Index)];
  }
  if (!Acceptable(Format) || Format.wBitsPerSample > s->Spec.MostBits ||
      Format.nSamplesPerSec > s->Spec.MostRate)
    return WAVERR_BADFORMAT;
  if (s->Spec.OpenError != MMSYSERR_NOERROR) return s->Spec.OpenError;
  if (!QueryOnly) Stream = std::make_unique<TVirtualCapture>(s, Format);
  return MMSYSERR_NOERROR;
}

MMRESULT TVirtualBackend::OpenPlayback(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                                       std::unique_ptr<TPlaybackStream>& Stream) {
  std::shared_ptr<TVirtualDeviceState> s;
  {
    std::lock_guard<std::mutex> L(FLock);
    if (Index < 0 || Index >= static_cast<int>(FPlayback.size())) return MMSYSERR_BADDEVICEID;
    s = FPlayback[static_cast<size_t>(Index)];
  }
  if (!Acceptable(Format)) return WAVERR_BADFORMAT;
  if (s->Spec.OpenError != MMSYSERR_NOERROR) return s->Spec.OpenError;
  if (!QueryOnly) Stream = std::make_unique<TVirtualPlayback>(s, Format);
  return MMSYSERR_NOERROR;
}

namespace {

// A sample of value v (-1..1) as 8-bit offset binary or 16-bit little-endian.
void StoreSample(std::uint8_t* Dest, std::uint32_t Width, double v) {
  if (Width == 1) {
    Dest[0] = static_cast<std::uint8_t>(std::lround(128 + 127 * v));
  } else {
    // Full scale at the sample's own width, little-endian.
    const std::int32_t Most = (1 << (8 * Width - 1)) - 1;
    const auto s = static_cast<std::int32_t>(std::lround(Most * v));
    for (std::uint32_t b = 0; b < Width; ++b) Dest[b] = static_cast<std::uint8_t>(s >> (8 * b));
  }
}

}  // namespace

TSignalGenerator CounterSignal() {
  return [](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset, const WAVEFORMATEX&) {
    for (std::uint32_t i = 0; i < Count; ++i) {
      const std::uint64_t Byte = Offset + i;
      const auto Sample = static_cast<std::uint16_t>(Byte / 2);
      Dest[i] = static_cast<std::uint8_t>(Byte % 2 ? Sample >> 8 : Sample & 0xFF);
    }
  };
}

TSignalGenerator ToneSignal(double Frequency, double Amplitude) {
  return [=](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset, const WAVEFORMATEX& f) {
    const std::uint32_t Width = f.wBitsPerSample / 8;
    for (std::uint32_t i = 0; i + Width <= Count; i += Width) {
      const std::uint64_t Frame = (Offset + i) / f.nBlockAlign;
      const double v = Amplitude * std::sin(2 * M_PI * Frequency * static_cast<double>(Frame) /
                                            f.nSamplesPerSec);
      StoreSample(Dest + i, Width, v);
    }
  };
}

TSignalGenerator DemoSignal() {
  // Three sounds of ten seconds (a chord that swells and fades a little, one
  // pitch each), two seconds of silence after each, then silence for good.
  constexpr double kSound = 10, kPeriod = 12;
  constexpr double kPitch[3] = {220.0, 277.18, 329.63};
  return [=](std::uint8_t* Dest, std::uint32_t Count, std::uint64_t Offset, const WAVEFORMATEX& f) {
    const std::uint32_t Width = f.wBitsPerSample / 8;
    for (std::uint32_t i = 0; i + Width <= Count; i += Width) {
      const std::uint64_t Frame = (Offset + i) / f.nBlockAlign;
      const double t = static_cast<double>(Frame) / f.nSamplesPerSec;
      const auto Piece = static_cast<int>(t / kPeriod);
      const double In = t - Piece * kPeriod;
      double v = 0;
      if (Piece < 3 && In < kSound) {
        const double Swell = 0.6 + 0.4 * std::sin(M_PI * In / kSound);
        const double p = kPitch[Piece];
        v = 0.12 * Swell *
            (std::sin(2 * M_PI * p * t) + std::sin(2 * M_PI * p * 1.5 * t) +
             0.5 * std::sin(2 * M_PI * p * 2 * t));
      }
      StoreSample(Dest + i, Width, v);
    }
  };
}

}  // namespace velmar
