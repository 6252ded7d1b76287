#include "stream/wave_out.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/application.h"
#include "platform/wave/wave_api.h"
#include "stream/arith.h"
#include "stream/messages.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr std::uint32_t kWaitMs = 10;
const char* const kOpen = "WaveOutOpen:\n\r";

}  // namespace

std::string WaveOutDeviceName(TMMDeviceId Device) {
  if (Device < MapperId || Device >= static_cast<TMMDeviceId>(waveOutGetNumDevs())) return {};
  WAVEOUTCAPS Caps{};
  if (waveOutGetDevCaps(Device == MapperId ? WAVE_MAPPER : static_cast<std::uint32_t>(Device),
                        &Caps, sizeof Caps) != MMSYSERR_NOERROR)
    return {};
  return Caps.szPname;
}

TMMWaveOut::TMMWaveOut(TComponent* AOwner)
    : TMMCustomWaveOutComponent(AOwner, {kWaveOutMessages, true, 161}) {
  PublishLinks(true, true);
  InitDevices(static_cast<int>(waveOutGetNumDevs()));
}

TMMWaveOut::~TMMWaveOut() {
  Destroying();
  CloseBeforeDestruction();
}

void TMMWaveOut::Raise(const std::string& Text) {
  throw EMMWaveOutError(Text);
}

bool TMMWaveOut::QueryCaps(TMMDeviceId Device, std::string& Name, std::uint32_t& Version) {
  WAVEOUTCAPS Caps{};
  if (waveOutGetDevCaps(DeviceNumber(Device), &Caps, sizeof Caps) != MMSYSERR_NOERROR) return false;
  Name = Caps.szPname;
  Version = Caps.vDriverVersion;
  return true;
}

std::string TMMWaveOut::PlatformErrorText(std::uint32_t Result) {
  char Text[256] = {};
  if (waveOutGetErrorText(Result, Text, 255) != MMSYSERR_NOERROR) return LibMessage(86);
  return Text;
}

void TMMWaveOut::CheckReset(std::uint32_t Result) {
  if (static_cast<std::int32_t>(Result) > 0) Check(Result, "WaveOutReset:\n\r");
}

void TMMWaveOut::SetLooping(bool Value) {
  if (Value == FLooping) return;
  FLooping = Value;
  FLoopsLeft = FLoopCount;
}

void TMMWaveOut::SetLoopCount(int Value) {
  Value = Clamp(Value, 0, 65535);
  if (Value == FLoopCount) return;
  FLoopCount = Value;
  FLoopsLeft = FLoopCount;
}

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(fmt);
}

void TMMWaveOut::Open() {
  if (FNumDevs == 0) Error(LibMessage(161));
  if (DeviceID() == InvalidId) Error(LibMessage(61));
  if (!PWaveFormat()) Error(kOpen + LibMessage(89));
  if (Has(wosOpened)) Close();
  if (Has(wosOpened) || FClosing) return;
  FClosing = FFlushing = FStopping = false;
  FNotify.ClearStop();
  Guarded(
      [&] {
        if (DeviceID() < MapperId || DeviceID() >= FNumDevs) Error(kOpen + LibMessage(70));
        // A device that cannot be opened at all (its sound server is gone)
        // says so, not that the format is wrong.
        const MMRESULT Query = waveOutOpen(nullptr, DeviceNumber(DeviceID()), PWaveFormat(), 0, 0,
                                           WAVE_FORMAT_QUERY);
        if (Query == WAVERR_BADFORMAT) Error(kOpen + LibMessage(70));
        Check(Query, kOpen);
        FNotify.Window();
        FHandle = 0;
        FCloseRequest = false;
        TMMCustomSoundComponent::Opened();  // the chain opens before the platform device
        FNotify.InitLock();
        if (FCallBackMode == TMMCBMode::cmThread && !FNotify.StartThread())
          Error("WaveOut:\n\r" + LibMessage(88));
        const std::uint32_t Flags =
            CALLBACK_FUNCTION | (FMapped && DeviceID() >= 0 ? WAVE_MAPPED : 0);
        HWAVEOUT h = 0;
        Check(waveOutOpen(&h, DeviceNumber(DeviceID()), PWaveFormat(),
                          reinterpret_cast<std::uintptr_t>(&DriverCallback),
                          reinterpret_cast<std::uintptr_t>(this), Flags),
              kOpen);
        FHandle = h;
        WaitForState(wosOpened, 500);
        if (!Has(wosOpened)) Error(kOpen + LibMessage(162));
        if (OnOpen) OnOpen(this);
      },
      wosOpened, true);
}

bool TMMWaveOut::LoadHeader(PWaveHdr h) {
  h->Looping = FLooping ? kHdrTrue : 0;
  if (FLooping) {
    h->LoopCount = static_cast<std::uint32_t>(FLoopCount);
    h->LoopsLeft = FLoopsLeft;
    h->Looped = 0;
  }
  FMoreBuffers = PullBuffer(*this, h, static_cast<std::uint32_t>(RealBufferSize()));
  h->wh.dwBufferLength = h->wh.dwBytesRecorded;
  if (FLooping) FLoopsLeft = h->LoopsLeft;
  return h->wh.dwBytesRecorded > 0;
}

void TMMWaveOut::QueueHeader(PWaveHdr h) {
  if (OnBufferFilled) OnBufferFilled(this, h);
  if (FStopping) return;
  h->wh.dwFlags = (h->wh.dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
  h->SavedLength = h->wh.dwBytesRecorded;
  Check(waveOutWrite(FHandle, &h->wh, sizeof(WAVEHDR)), "WaveOutWrite:\n\r");
  h->wh.dwBytesRecorded = h->SavedLength;
  FNotify.Enter();
  ++FQueued;
  FNotify.Leave();
}

void TMMWaveOut::Start() {
  Guarded(
      [&] {
        if (!Has(wosOpened)) Open();
        if (!Has(wosOpened) || Has(wosStarted)) return;
        FPlayedBytes = 0;
        FPauseBase = 0;
        FLastPos = 0;
        FWrapCount = 0;
        FWrapBase = 0;
        FLoopBase = 0;
        FLoopsLeft = FLoopCount;
        FNotify.ClearStop();
        FFlushing = FStopping = false;
        FBufIndex = 0;
        FQueued = 0;
        FPendingDone = 0;
        FBusy = FShowHourGlass && static_cast<std::int64_t>(BufferSize()) * NumBuffers() > 100000;
        struct TIdle {
          std::atomic<bool>& b;
          ~TIdle() { b = false; }
        } Idle{FBusy};
        Check(waveOutPause(FHandle), "WaveOutPause:\n\r");  // nothing plays while the ring fills
        TMMCustomSoundComponent::Started();
        FMoreBuffers = true;
        int Used = 0;
        for (int i = 0; i < NumBuffers() && FMoreBuffers; ++i) {
          PWaveHdr h = RingHeader(i);
          Check(waveOutPrepareHeader(FHandle, &h->wh, sizeof(WAVEHDR)),
                "WaveOutPrepareHeader:\n\r");
          if (!LoadHeader(h)) break;
          QueueHeader(h);
          ++Used;
        }
        FInUse = Used;
        FState |= wosStarted;
        FBusy = false;
        if (Used == 0) {
          TMMCustomSoundComponent::Stopped();
          Error("WaveOutStart:\n\r" + LibMessage(80));
        }
        if (!Has(wosPaused)) Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
        if (OnStart) OnStart(this);
      },
      wosStarted);
}

bool TMMWaveOut::AcceptBufferDone() {
  FNotify.Enter();
  const bool Flushing = FFlushing;
  const bool Accept = !Flushing && !FStopping;
  // Counted as pending before it leaves the queue: in between, the stream would
  // look ended to a handler finishing the buffer before, and stop early.
  if (Accept) ++FPendingDone;
  const int Left = --FQueued;
  if (Flushing && Left <= 0) FFlushing = false;
  FNotify.Leave();
  return Accept;
}

// The stream has ended when nothing is queued and every returned buffer has been
// handled (pushed on), not merely counted: displays see the last buffers too.
bool TMMWaveOut::StreamEnded() const {
  return FQueued <= 0 && FPendingDone <= 0;
}

void TMMWaveOut::StopPosting() {
  FStopping = true;
  waveOutPause(FHandle);
}

std::uint32_t TMMWaveOut::DriverPosition() {
  MMTIME t{TIME_SAMPLES, {0}, 0};
  if (waveOutGetPosition(FHandle, &t, sizeof t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES)
    return t.u.sample;
  t.wType = TIME_BYTES;
  Check(waveOutGetPosition(FHandle, &t, sizeof t), "WaveOutGetPosition:\n\r");
  return static_cast<std::uint32_t>(
      BytesToSamples(PWaveFormat(), static_cast<std::int32_t>(t.u.cb)));
}

void TMMWaveOut::BufferDone(PWaveHdr) {
  struct THandled {
    std::atomic<int>& n;
    ~THandled() { --n; }
  } Handled{FPendingDone};
  if (!Has(wosStarted) || FFlushing || FStopping || FInUse == 0) return;
  PWaveHdr h = FHeaders[FBufIndex];  // headers come back in queue order
  FNotify.Enter();
  FPlayedBytes += h->wh.dwBufferLength;
  FNotify.Leave();
  FBufIndex = (FBufIndex + 1) % FInUse;
  h->wh.dwBytesRecorded = h->SavedLength;
  PWaveHdr Next = FHeaders[FBufIndex];
  Next->wh.dwBytesRecorded = Next->SavedLength;
  h->NextHdr = Next;
  TMMDSPComponent::BufferReady(h);  // the played buffer goes on down
  const std::uint32_t p = DriverPosition();
  if (p < FLastPos && FLastPos - p >= 0xFFFF) {
    FWrapBase = FLastPos | 0xFFFFF;
    ++FWrapCount;
  }
  FLastPos = p;
  // A buffer that carried a wrap of the source reports the loop when it has been
  // heard, also when the source has ended meanwhile (a ring longer than the data).
  if (FLooping && h->Looped) {
    FNotify.Enter();
    FLoopBase = p;
    h->Looped = 0;
    FNotify.Leave();
    TMMCustomSoundComponent::Looped();
    if (OnLooping) OnLooping(this);
  }
  if (!FMoreBuffers || FNotify.StopRequested()) return;
  AwaitHeaderDone(h->wh);
  if (!LoadHeader(h)) {
    if (!FNotify.StopRequested()) Error(LibMessage(81));
    return;
  }
  if (!FNotify.StopRequested()) QueueHeader(h);
}

void TMMWaveOut::Pause() {
  Guarded([&] {
    if (!Has(wosOpened)) Open();
    if (!Has(wosOpened) || Has(wosPaused)) return;
    if (Has(wosStarted)) {
      FNotify.Enter();
      struct TLeave {
        TMMDeviceNotify& n;
        ~TLeave() { n.Leave(); }
      } Leave{FNotify};
      Check(waveOutPause(FHandle), "WaveOutPause:\n\r");
      FState |= wosPaused;
      if (HasSourceDevice()) {  // a live stream: what is queued would be stale
        FPauseBase += DriverPosition();
        FFlushing = true;
        CheckReset(waveOutReset(FHandle));
        FBufIndex = 0;
        FQueued = 0;
      }
    }
    FState |= wosPaused;
    TMMCustomSoundComponent::Paused();
    if (OnPause) OnPause(this);
  });
}

void TMMWaveOut::Restart() {
  if (!Has(wosStarted) || !Has(wosPaused)) return;
  Guarded([&] {
    FFlushing = false;
    TMMCustomSoundComponent::Restarted();
    Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
    FState &= ~wosPaused;
    if (OnRestart) OnRestart(this);
  });
}

void TMMWaveOut::Reset() {
  if ((!Has(wosStarted) && !Has(wosPaused)) || FFlushing) return;
  Guarded([&] {
    FFlushing = true;
    Check(waveOutPause(FHandle), "WaveOutPause:\n\r");
    if (FCallBackMode == TMMCBMode::cmWindow) {
      RemoveMessages(FNotify.Window(), MM_WOM_DONE);
    } else if (FCallBackMode == TMMCBMode::cmThread) {
      FNotify.Flush();
      for (int i = 0; i < 5000 && !FNotify.Flushed(); ++i) Wait(1, false);
    }
    CheckReset(waveOutReset(FHandle));
    for (int i = 0; i < 100 && FFlushing; ++i) Wait(kWaitMs, false);
    Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
    Check(waveOutPause(FHandle), "WaveOutPause:\n\r");
    FBufIndex = 0;
    FQueued = 0;
    FPauseBase = 0;
    FLastPos = 0;
    FWrapCount = 0;
    FWrapBase = 0;
    FLoopBase = 0;
    FFlushing = false;
    TMMCustomSoundComponent::Resetting();  // the source goes back to its position
    FMoreBuffers = true;
    int Used = 0;
    // The whole ring again: a start near the end may have needed fewer headers
    // than a position further back does (missing ones are made here, on the
    // main thread, not while streaming).
    for (int i = 0; i < NumBuffers() && FMoreBuffers; ++i) {
      if (!FHeaders[i])
        Check(waveOutPrepareHeader(FHandle, &RingHeader(i)->wh, sizeof(WAVEHDR)),
              "WaveOutPrepareHeader:\n\r");
      if (!LoadHeader(FHeaders[i])) break;
      QueueHeader(FHeaders[i]);
      ++Used;
    }
    FInUse = Used;
    if (!Has(wosPaused)) Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
    if (Used == 0) Stop();
  });
}

void TMMWaveOut::Stop() {
  if (!Has(wosStarted) && !Has(wosPaused)) return;
  Guarded([&] {
    FNotify.Enter();
    FStopping = true;
    FFlushing = true;
    FNotify.Leave();
    FStopPosition = Position();
    FWrapCount = 0;
    FWrapBase = 0;
    CheckReset(waveOutReset(FHandle));
    DeviceStopped();
  });
}

void TMMWaveOut::DeviceStopped() {
  if (!Has(wosStarted) && !Has(wosPaused)) return;
  // Finished by the deferred stop, also when a handler that its own wait
  // delivered asks (after that handler, not inside it).
  if ((!FInDeferredStop || FNotify.InHandlerHere()) && FNotify.RequestStop()) return;
  FState &= ~(wosStarted | wosPaused);
  for (int i = 0; i < 500 && FQueued > 0; ++i) Wait(kWaitMs, false);
  TMMCustomSoundComponent::Stopped();
  for (int i = 0; i < FInUse; ++i) {
    if (!FHeaders[i]) continue;
    AwaitHeaderDone(FHeaders[i]->wh);
    waveOutUnprepareHeader(FHandle, &FHeaders[i]->wh, sizeof(WAVEHDR));
  }
  ReleaseHeaders();
  FInUse = 0;
  FQueued = 0;
  FBufIndex = 0;
  FNotify.ClearStop();
  if (OnStop && !HasState(csDestroying)) OnStop(this);
  if (FCloseRequest) Close();
}

void TMMWaveOut::Close() {
  if (!Has(wosOpened) || (FClosing && !FCloseRequest)) return;
  bool ReportTimeout = false;
  try {
    FClosing = true;
    if (Has(wosStarted) || Has(wosPaused)) Stop();
    if (FNotify.StopRequested()) {
      FCloseRequest = true;
      return;
    }
    FCloseRequest = false;
    if (FHandle != 0) {
      Check(waveOutClose(FHandle), "WaveOutClose:\n\r");
      WaitForState(wosClosed, 500);
      ReportTimeout = !Has(wosClosed);
      FStopPosition = 0;
      FWrapCount = 0;
      FWrapBase = 0;
    } else {
      FState = wosClosed;
    }
    TMMCustomSoundComponent::Closed();
    if (FCallBackMode == TMMCBMode::cmThread) FNotify.StopThread();
    FNotify.DoneLock();
    FHandle = 0;
    FState = wosClosed;
    ReleaseHeaders();
    FClosing = false;
    if (OnClose && !HasState(csDestroying)) OnClose(this);
    if (ReportTimeout) Error("WaveOutClose:\n\r" + LibMessage(163));
  } catch (...) {
    FClosing = false;
  }
}

std::int64_t TMMWaveOut::Position() {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!Has(wosOpened) || !f || FCloseRequest || FHandle == 0) return 0;
  const std::int64_t Samples = FWrapCount * FWrapBase + DriverPosition() + FPauseBase - FLoopBase;
  return SamplesToTimeFormat64(f, FTimeFormat, Samples);
}

}  // namespace velmar
