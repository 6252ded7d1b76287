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

constexpr int kMaxBuffers = 500;
constexpr std::uint32_t kWaitMs = 10;
const char* const kOpen = "WaveOutOpen:\n\r";

std::uint32_t DeviceNumber(TMMDeviceId Id) {
  return Id == MapperId ? WAVE_MAPPER : static_cast<std::uint32_t>(Id);
}

// Gives a header that is still out a last chance to come back, then takes it.
void AwaitDone(WAVEHDR& h) {
  for (int n = 0; n < 65000 && (h.dwFlags & WHDR_INQUEUE) && !(h.dwFlags & WHDR_DONE); ++n)
    std::this_thread::yield();
  if (h.dwFlags & WHDR_INQUEUE) h.dwFlags = (h.dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
}

}  // namespace

std::string WaveOutDeviceName(TMMDeviceId Device) {
  if (Device < MapperId || Device >= static_cast<TMMDeviceId>(waveOutGetNumDevs())) return {};
  WAVEOUTCAPS Caps{};
  if (waveOutGetDevCaps(DeviceNumber(Device), &Caps, sizeof Caps) != MMSYSERR_NOERROR) return {};
  return Caps.szPname;
}

TMMWaveOut::TMMWaveOut(TComponent* AOwner)
    : TMMCustomWaveOutComponent(AOwner), FNotify(*this, *this, kWaveOutMessages, true) {
  PublishLinks(true, true);
  FNumDevs = static_cast<int>(waveOutGetNumDevs());
  SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
  Destroying();
  Close();
  FAllocator.FreeAll();
}

void TMMWaveOut::Error(const std::string& Text) {
  if (OnError) OnError(this);
  throw EMMWaveOutError(Text);
}

void TMMWaveOut::Check(std::uint32_t Result, const char* Prefix) {
  FLastError = Result;
  if (Result == MMSYSERR_NOERROR) return;
  char Text[256] = {};
  Error(Prefix + (waveOutGetErrorText(Result, Text, 255) == MMSYSERR_NOERROR ? std::string(Text)
                                                                             : LibMessage(86)));
}

void TMMWaveOut::CheckReset(std::uint32_t Result) {
  if (static_cast<std::int32_t>(Result) > 0) Check(Result, "WaveOutReset:\n\r");
}

void TMMWaveOut::SetNumBuffers(int Value) {
  if (Value <= 1 || Value == FNumBuffers) return;
  if (Has(wosOpened)) Error(LibMessage(60));
  FNumBuffers = std::min(Value, kMaxBuffers);
}

void TMMWaveOut::SetBufferSize(int Value) {
  if (Value == TMMDSPComponent::BufferSize()) return;
  if (Has(wosOpened)) Error(LibMessage(60));
  FAllocator.FreeAll();
  TMMDSPComponent::SetBufferSize(std::max(Value, 32));
}

void TMMWaveOut::SetDeviceID(TMMDeviceId Value) {
  if (Has(wosOpened)) Error(LibMessage(60));
  FProductName = LibMessage(161);
  if (FNumDevs > 0 && Value >= MapperId && Value < FNumDevs) {
    WAVEOUTCAPS Caps{};
    if (waveOutGetDevCaps(DeviceNumber(Value), &Caps, sizeof Caps) == MMSYSERR_NOERROR)
      FProductName = Caps.szPname;
    FDeviceID = Value;
  } else {
    FDeviceID = InvalidId;
  }
}

void TMMWaveOut::SetCallBackMode(TMMCBMode Value) {
  if (Value == FCallBackMode) return;
  if (Has(wosOpened)) Error(LibMessage(60));
  FCallBackMode = Value;
  FNotify.SetCallBackMode(Value);
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

void TMMWaveOut::DriverCallback(std::uintptr_t Handle, UINT Message, std::uintptr_t Instance,
                                std::uintptr_t Param1, std::uintptr_t) {
  reinterpret_cast<TMMWaveOut*>(Instance)->FNotify.Callback(Handle, Message, Handle,
                                                            static_cast<LPARAM>(Param1));
}

void TMMWaveOut::WaitForState(unsigned Bit, int Rounds) {
  for (int i = 0; i < Rounds && !Has(Bit); ++i) Wait(kWaitMs, false);
}

void TMMWaveOut::Open() {
  if (FNumDevs == 0) Error(LibMessage(161));
  if (FDeviceID == InvalidId) Error(LibMessage(61));
  if (!PWaveFormat()) Error(kOpen + LibMessage(89));
  if (Has(wosOpened)) Close();
  if (Has(wosOpened) || FClosing) return;
  FClosing = FFlushing = FStopping = false;
  FNotify.ClearStop();
  try {
    if (FDeviceID < MapperId || FDeviceID >= FNumDevs ||
        waveOutOpen(nullptr, DeviceNumber(FDeviceID), PWaveFormat(), 0, 0, WAVE_FORMAT_QUERY) !=
            MMSYSERR_NOERROR)
      Error(kOpen + LibMessage(70));
    FNotify.Window();
    FHandle = 0;
    FCloseRequest = false;
    TMMCustomSoundComponent::Opened();  // the chain opens before the platform device
    FNotify.InitLock();
    if (FCallBackMode == TMMCBMode::cmThread && !FNotify.StartThread())
      Error("WaveOut:\n\r" + LibMessage(88));
    const std::uint32_t Flags = CALLBACK_FUNCTION | (FMapped && FDeviceID >= 0 ? WAVE_MAPPED : 0);
    HWAVEOUT h = 0;
    Check(waveOutOpen(&h, DeviceNumber(FDeviceID), PWaveFormat(),
                      reinterpret_cast<std::uintptr_t>(&DriverCallback),
                      reinterpret_cast<std::uintptr_t>(this), Flags),
          kOpen);
    FHandle = h;
    WaitForState(wosOpened, 500);
    if (!Has(wosOpened)) Error(kOpen + LibMessage(162));
    if (OnOpen) OnOpen(this);
  } catch (...) {
    if (OnError) OnError(this);
    FState = wosOpened;
    Close();
    FState = wosClosed;
    throw;
  }
}

PWaveHdr TMMWaveOut::RingHeader(int i) {
  const auto Size = static_cast<std::uint32_t>(RealBufferSize());
  if (!FHeaders[i]) {
    auto* h = static_cast<PWaveHdr>(FAllocator.Allocate(GMEM_ZEROINIT, Size + sizeof(TMMWaveHdr)));
    if (!h) Error(LibMessage(64));
    std::memset(h, 0, sizeof(TMMWaveHdr));
    h->wh.lpData = reinterpret_cast<char*>(h) + sizeof(TMMWaveHdr);
    h->wh.dwBufferLength = Size;
    FHeaders[i] = h;
  }
  return FHeaders[i];
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
  try {
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
    FBusy = FShowHourGlass && static_cast<std::int64_t>(BufferSize()) * FNumBuffers > 100000;
    struct TIdle {
      std::atomic<bool>& b;
      ~TIdle() { b = false; }
    } Idle{FBusy};
    Check(waveOutPause(FHandle), "WaveOutPause:\n\r");  // nothing plays while the ring fills
    TMMCustomSoundComponent::Started();
    FMoreBuffers = true;
    int Used = 0;
    for (int i = 0; i < FNumBuffers && FMoreBuffers; ++i) {
      PWaveHdr h = RingHeader(i);
      Check(waveOutPrepareHeader(FHandle, &h->wh, sizeof(WAVEHDR)), "WaveOutPrepareHeader:\n\r");
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
  } catch (...) {
    if (OnError) OnError(this);
    FState |= wosStarted;
    Close();
    FState = wosClosed;
    throw;
  }
}

bool TMMWaveOut::AcceptBufferDone() {
  FNotify.Enter();
  const int Left = --FQueued;
  const bool Flushing = FFlushing;
  if (Flushing && Left <= 0) FFlushing = false;
  FNotify.Leave();
  const bool Accept = !Flushing && !FStopping;
  if (Accept) ++FPendingDone;
  return Accept;
}

// The stream has ended when nothing is queued and every returned buffer has been
// handled (pushed on), not merely counted: displays see the last buffers too.
bool TMMWaveOut::StreamEnded() const { return FQueued <= 0 && FPendingDone <= 0; }

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
  AwaitDone(h->wh);
  if (!LoadHeader(h)) {
    if (!FNotify.StopRequested()) Error(LibMessage(81));
    return;
  }
  if (!FNotify.StopRequested()) QueueHeader(h);
}

void TMMWaveOut::Pause() {
  try {
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
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMWaveOut::Restart() {
  if (!Has(wosStarted) || !Has(wosPaused)) return;
  try {
    FFlushing = false;
    TMMCustomSoundComponent::Restarted();
    Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
    FState &= ~wosPaused;
    if (OnRestart) OnRestart(this);
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMWaveOut::Reset() {
  if ((!Has(wosStarted) && !Has(wosPaused)) || FFlushing) return;
  try {
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
    for (int i = 0; i < FNumBuffers && FMoreBuffers && FHeaders[i]; ++i) {
      if (!LoadHeader(FHeaders[i])) break;
      QueueHeader(FHeaders[i]);
      ++Used;
    }
    FInUse = Used;
    if (!Has(wosPaused)) Check(waveOutRestart(FHandle), "WaveOutRestart:\n\r");
    if (Used == 0) Stop();
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMWaveOut::Stop() {
  if (!Has(wosStarted) && !Has(wosPaused)) return;
  try {
    FNotify.Enter();
    FStopping = true;
    FFlushing = true;
    FNotify.Leave();
    FStopPosition = Position();
    FWrapCount = 0;
    FWrapBase = 0;
    CheckReset(waveOutReset(FHandle));
    DeviceStopped();
  } catch (...) {
    if (OnError) OnError(this);
    Close();
    throw;
  }
}

void TMMWaveOut::DeferredStop() {
  FInDeferredStop = true;
  struct TDone {
    bool& f;
    ~TDone() { f = false; }
  } Done{FInDeferredStop};
  Stop();
}

void TMMWaveOut::DeviceStopped() {
  if (!Has(wosStarted) && !Has(wosPaused)) return;
  if (!FInDeferredStop && FNotify.RequestStop()) return;  // finished by the deferred stop
  FState &= ~(wosStarted | wosPaused);
  for (int i = 0; i < 500 && FQueued > 0; ++i) Wait(kWaitMs, false);
  TMMCustomSoundComponent::Stopped();
  for (int i = 0; i < FInUse; ++i) {
    if (!FHeaders[i]) continue;
    AwaitDone(FHeaders[i]->wh);
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

void TMMWaveOut::ReleaseHeaders() {
  for (PWaveHdr& h : FHeaders) {
    if (!h) continue;
    void* Block = h;
    FAllocator.Release(Block);
    h = nullptr;
  }
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

void TMMWaveOut::CloseAfterError() {
  if (InMainThread())
    Close();
  else
    PostMessage(FNotify.Window(), MM_WOM_STOP, FHandle, kCloseAfterError);
}

std::int64_t TMMWaveOut::Position() {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!Has(wosOpened) || !f || FCloseRequest || FHandle == 0) return 0;
  const std::int64_t Samples = FWrapCount * FWrapBase + DriverPosition() + FPauseBase - FLoopBase;
  return SamplesToTimeFormat64(f, FTimeFormat, Samples);
}

}  // namespace velmar
