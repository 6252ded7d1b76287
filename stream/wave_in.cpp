#include "stream/wave_in.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/application.h"
#include "platform/wave/wave_api.h"
#include "stream/arith.h"
#include "stream/messages.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr int kWaitRounds = 100;
constexpr std::uint32_t kWaitMs = 10;
const char* const kOpen = "WaveInOpen:\n\r";

// The standard-format bit of a capability record for a rate, channels and width.
std::uint32_t FormatBit(const WAVEFORMATEX& f, bool& Known) {
  const std::uint32_t Rate = f.nSamplesPerSec % 65536;
  int Class = -1;
  if (Rate >= 8000 && Rate <= 11025)
    Class = 0;
  else if (Rate >= 11026 && Rate <= 22050)
    Class = 1;
  else if (Rate >= 22051 && Rate <= 48000)
    Class = 2;
  Known = Class >= 0 && (f.nChannels == 1 || f.nChannels == 2) &&
          (f.wBitsPerSample == 8 || f.wBitsPerSample == 16);
  if (!Known) return 0;
  // In each class: mono 8, stereo 8, mono 16, stereo 16.
  const int Within = (f.wBitsPerSample == 16 ? 2 : 0) + (f.nChannels == 2 ? 1 : 0);
  return 1u << (Class * 4 + Within);
}

}  // namespace

std::string WaveInDeviceName(TMMDeviceId Device) {
  if (Device < MapperId || Device >= static_cast<TMMDeviceId>(waveInGetNumDevs())) return {};
  WAVEINCAPS Caps{};
  if (waveInGetDevCaps(Device == MapperId ? WAVE_MAPPER : static_cast<std::uint32_t>(Device), &Caps,
                       sizeof Caps) != MMSYSERR_NOERROR)
    return {};
  return Caps.szPname;
}

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* AOwner)
    : TMMCustomWaveDevice(AOwner, {kWaveInMessages, false, 160}) {
  InitDevices(static_cast<int>(waveInGetNumDevs()));
  RebuildFormat();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  Destroying();
  CloseBeforeDestruction();
}

void TMMCustomWaveIn::Raise(const std::string& Text) {
  throw EMMWaveInError(Text);
}

bool TMMCustomWaveIn::QueryCaps(TMMDeviceId Device, std::string& Name, std::uint32_t& Version) {
  WAVEINCAPS Caps{};
  if (waveInGetDevCaps(DeviceNumber(Device), &Caps, sizeof Caps) != MMSYSERR_NOERROR) return false;
  Name = Caps.szPname;
  Version = Caps.vDriverVersion;
  return true;
}

std::string TMMCustomWaveIn::PlatformErrorText(std::uint32_t Result) {
  char Text[256] = {};
  if (waveInGetErrorText(Result, Text, 255) != MMSYSERR_NOERROR) return LibMessage(86);
  return Text;
}

void TMMCustomWaveIn::SetMode(TMMMode Value) {
  if (Has(wisOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  if (Ord(Value) != 0 && Ord(Value) != 1) return;
  FMode = Value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits Value) {
  if (Has(wisOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FBitLength = Value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int Value) {
  if (Has(wisOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FSampleRate = Clamp(Value, 8000, 100000);
  RebuildFormat();
}

void TMMCustomWaveIn::RebuildFormat() {
  BuildPCMFormat(&FFormat, static_cast<std::uint16_t>(BitsOf(FBitLength)),
                 static_cast<std::uint16_t>(ChannelsOf(FMode)),
                 static_cast<std::uint32_t>(FSampleRate));
  SetPWaveFormat(&FFormat);
}

void TMMCustomWaveIn::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  Close();
  if (IsValidPCMFormat(fmt)) {
    FSampleRate = static_cast<int>(fmt->nSamplesPerSec);
    FBitLength = BitsFromFormat(*fmt);
    FMode = ModeFromFormat(*fmt);
    BuildPCMFormat(&FFormat, fmt->wBitsPerSample, fmt->nChannels, fmt->nSamplesPerSec);
  }
  TMMCustomSoundComponent::SetPWaveFormat(fmt);
  ComputeMaxRecordBytes();
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats Value) {
  if (Value == FTimeFormat) return;
  FTimeFormat = Value;
  if (FMaxRecordTime >= 0 && PWaveFormat()) {
    const auto Bytes =
        static_cast<std::int32_t>(std::min<std::int64_t>(FMaxRecordBytes, INT32_MAX));
    FMaxRecordTime = BytesToTimeFormat(PWaveFormat(), Value, Bytes);
  }
}

void TMMCustomWaveIn::SetMaxRecordTime(int Value) {
  if (Value == FMaxRecordTime) return;
  FMaxRecordTime = Value;
  ComputeMaxRecordBytes();
}

void TMMCustomWaveIn::ComputeMaxRecordBytes() {
  const WAVEFORMATEX* f = PWaveFormat();
  std::int64_t Bytes = INT32_MAX;
  if (FMaxRecordTime >= 0 && f) {
    try {
      Bytes = TimeFormatToBytes(f, FTimeFormat, FMaxRecordTime);
    } catch (...) {
      Bytes = INT32_MAX;
    }
  }
  if (f && f->nBlockAlign) Bytes -= Bytes % f->nBlockAlign;
  FMaxRecordBytes = Bytes;
}

bool TMMCustomWaveIn::FormatSupported() {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!f || DeviceID() < MapperId || DeviceID() >= FNumDevs) return false;
  if (waveInOpen(nullptr, DeviceNumber(DeviceID()), f, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
    return false;
  if (f->wFormatTag != WAVE_FORMAT_PCM) return true;
  bool Known = false;
  const std::uint32_t Bit = FormatBit(*f, Known);
  if (!Known) return true;
  WAVEINCAPS Caps{};
  return waveInGetDevCaps(DeviceNumber(DeviceID()), &Caps, sizeof Caps) == MMSYSERR_NOERROR &&
         (Caps.dwFormats & Bit) != 0;
}

void TMMCustomWaveIn::Open() {
  if (FNumDevs == 0) Error(LibMessage(160));
  if (DeviceID() == InvalidId) Error(LibMessage(61));
  if (!PWaveFormat()) Error(LibMessage(89));
  if (Has(wisOpened)) Close();
  if (Has(wisOpened) || FClosing) return;
  FClosing = FFlushing = FStopping = false;
  FNotify.ClearStop();
  Guarded(
      [&] {
        if (!FormatSupported()) Error(kOpen + LibMessage(87));
        FNotify.Window();
        FHandle = 0;
        FCloseRequest = false;
        if (FCallBackMode != TMMCBMode::cmWindow) FNotify.InitLock();
        if (FCallBackMode == TMMCBMode::cmThread && !FNotify.StartThread())
          Error("WaveIn:\n\r" + LibMessage(88));
        HWAVEIN h = 0;
        Check(waveInOpen(&h, DeviceNumber(DeviceID()), PWaveFormat(),
                         reinterpret_cast<std::uintptr_t>(&DriverCallback),
                         reinterpret_cast<std::uintptr_t>(this), CALLBACK_FUNCTION),
              kOpen);
        FHandle = h;
        if (FBatch > 1) waveInSetBatch(h, static_cast<std::uint32_t>(FBatch));
        struct TOpening {
          bool& Flag;
          explicit TOpening(bool& f) : Flag(f) { Flag = true; }
          ~TOpening() { Flag = false; }
        } Opening{FOpening};
        TMMCustomSoundComponent::Opened();  // the chain opens, from the source down
        WaitForState(wisOpened, kWaitRounds);
        if (!Has(wisOpened)) Error(kOpen + LibMessage(162));
        for (int i = 0; i < NumBuffers(); ++i)
          Check(waveInPrepareHeader(FHandle, &RingHeader(i)->wh, sizeof(WAVEHDR)),
                "WaveInPrepareHeader:\n\r");
        if (OnOpen) OnOpen(this);
      },
      wisOpened, true);
}

void TMMCustomWaveIn::QueueHeader(PWaveHdr h) {
  h->wh.dwFlags = (h->wh.dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
  h->wh.dwBytesRecorded = 0;
  Check(waveInAddBuffer(FHandle, &h->wh, sizeof(WAVEHDR)), "WaveInAddBuffer:\n\r");
  ++FQueued;
}

void TMMCustomWaveIn::Start() {
  Guarded(
      [&] {
        if (!Has(wisOpened)) Open();
        if (!Has(wisOpened) || Has(wisStarted)) return;
        FBytesRecorded = 0;
        FBufIndex = 0;
        FNotify.ClearStop();
        FStopping = FFlushing = false;
        FQueued = 0;
        FLastPos = 0;
        FWrapCount = 0;
        FWrapBase = 0;
        FLimitReached = false;
        ComputeMaxRecordBytes();
        for (int i = 0; i < NumBuffers(); ++i) QueueHeader(FHeaders[i]);
        FState |= wisStarted;
        if (!Has(wisPaused)) Check(waveInStart(FHandle), "WaveInStart:\n\r");
        TMMCustomSoundComponent::Started();
        if (OnStart) OnStart(this);
      },
      wisStarted);
}

void TMMCustomWaveIn::Pause() {
  Guarded([&] {
    if (!Has(wisOpened)) Open();
    if (!Has(wisOpened) || Has(wisPaused)) return;
    if (Has(wisStarted)) Check(waveInStop(FHandle), "WaveInPause:\n\r");
    FState |= wisPaused;
    TMMCustomSoundComponent::Paused();
    if (OnPause) OnPause(this);
  });
}

void TMMCustomWaveIn::Restart() {
  if (!Has(wisStarted) || !Has(wisPaused)) return;
  Guarded([&] {
    Check(waveInStart(FHandle), "WaveInRestart:\n\r");
    FState &= ~wisPaused;
    TMMCustomSoundComponent::Restarted();
    if (OnRestart) OnRestart(this);
  });
}

void TMMCustomWaveIn::SetBatch(int Value) {
  FBatch = std::clamp(Value, 1, 32);
  if (FHandle != 0) waveInSetBatch(FHandle, static_cast<std::uint32_t>(FBatch));
}

void TMMCustomWaveIn::Stop() {
  if ((!Has(wisStarted) && !Has(wisPaused)) || FOpening) return;
  Guarded([&] {
    FNotify.Enter();
    struct TLeave {
      TMMDeviceNotify& n;
      ~TLeave() { n.Leave(); }
    } Leave{FNotify};
    FStopping = true;
    Check(waveInStop(FHandle), "WaveInStop:\n\r");
    FWrapCount = 0;
    FWrapBase = 0;
    FFlushing = true;
    Check(waveInReset(FHandle), "WaveInReset:\n\r");
  });
  if (FNotify.InHandler() == 0) {
    const bool Pump = FCallBackMode == TMMCBMode::cmWindow;
    for (int i = 0; i < kWaitRounds && FQueued > 0; ++i) Wait(kWaitMs, Pump);
  }
  DeviceStopped();
}

void TMMCustomWaveIn::DeviceStopped() {
  if (!Has(wisStarted) && !Has(wisPaused)) return;
  // A handler runs: the deferred stop finishes this on the main thread. So
  // also for a handler that the deferred stop's own wait delivered: the stop
  // completes after it, not inside it.
  if ((!FInDeferredStop || FNotify.InHandlerHere()) && FNotify.RequestStop()) return;
  FState &= ~(wisStarted | wisPaused);
  FBufIndex = 0;
  FQueued = 0;
  FNotify.ClearStop();
  TMMCustomSoundComponent::Stopped();
  if (OnStop && !HasState(csDestroying)) OnStop(this);
  if (FCloseRequest) Close();
}

void TMMCustomWaveIn::Close() {
  if (!Has(wisOpened) || FOpening || (FClosing && !FCloseRequest)) return;
  bool ReportTimeout = false;
  try {
    FClosing = true;
    if (Has(wisStarted) || Has(wisPaused)) Stop();
    if (FNotify.StopRequested()) {
      FCloseRequest = true;
      return;
    }
    FCloseRequest = false;
    if (FHandle != 0) {
      waveInStop(FHandle);
      waveInReset(FHandle);
      for (int i = 0; i < NumBuffers(); ++i) {
        PWaveHdr h = FHeaders[i];
        if (!h) continue;
        AwaitHeaderDone(h->wh);
        Check(waveInUnprepareHeader(FHandle, &h->wh, sizeof(WAVEHDR)),
              "WaveInUnprepareHeader:\n\r");
      }
      Check(waveInClose(FHandle), "WaveInClose:\n\r");
      WaitForState(wisClosed, kWaitRounds);
      ReportTimeout = !Has(wisClosed);
      FWrapCount = 0;
      FWrapBase = 0;
    } else {
      FState = wisClosed;
    }
    TMMCustomSoundComponent::Closed();
    if (FCallBackMode == TMMCBMode::cmThread) FNotify.StopThread();
    FNotify.DoneLock();
    DeviceClosed();
    if (ReportTimeout) Error("WaveInClose:\n\r" + LibMessage(163));
  } catch (...) {
    FClosing = false;  // Close never raises; OnError has been fired
  }
}

void TMMCustomWaveIn::DeviceClosed() {
  FHandle = 0;
  FState = wisClosed;
  ReleaseHeaders();
  FClosing = false;
  if (OnClose && !HasState(csDestroying)) OnClose(this);
}

void TMMCustomWaveIn::BufferDone(PWaveHdr h) {
  if (!Has(wisStarted)) return;
  if (FStopping || FFlushing) {
    // Audio recorded before the stop (a partly filled buffer, a batch the
    // device was completing) goes on. Posted to the main thread, the reports
    // always come after the reset, on the thread that completes the stop; the
    // reset's own buffers come back empty. Reported on another thread, they
    // would race with the stop's completion: those go on only before the reset.
    if (h->wh.dwBytesRecorded > 0 && (!FFlushing || FCallBackMode == TMMCBMode::cmWindow))
      TMMCustomWaveIn::BufferReady(h);
    FNotify.Enter();
    if (--FQueued <= 0) FFlushing = false;
    FNotify.Leave();
    return;
  }
  FNotify.Enter();
  --FQueued;
  FNotify.Leave();
  BufferReady(h);
  if (FNotify.StopRequested() || FStopping) return;
  MMTIME t{TIME_SAMPLES, {0}, 0};
  if (waveInGetPosition(FHandle, &t, sizeof t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    const std::uint32_t p = t.u.sample;
    if (p != 0 && p < FLastPos && FLastPos - p >= 0xFFFF) {
      FWrapBase = FLastPos | 0xFFFFF;
      ++FWrapCount;
    }
    FLastPos = p;
  }
  QueueHeader(h);
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr) {
  FBytesRecorded += lpWaveHdr->wh.dwBytesRecorded;
  bool Reached = false;
  if (FMaxRecordTime > 0 && FBytesRecorded >= FMaxRecordBytes) {
    const std::int64_t Excess = FBytesRecorded - FMaxRecordBytes;
    lpWaveHdr->wh.dwBytesRecorded -= static_cast<std::uint32_t>(Excess);
    FBytesRecorded = FMaxRecordBytes.load();
    Reached = !FLimitReached;
    FLimitReached = true;
  }
  FBufIndex = (FBufIndex + 1) % NumBuffers();
  TMMCustomSoundComponent::BufferReady(lpWaveHdr);
  if (Reached) Stop();
}

std::size_t TMMCustomWaveIn::DropoutCount() const {
  return FHandle ? waveInDropoutCount(FHandle) : 0;
}

bool TMMCustomWaveIn::Dropout(std::size_t Index, TInputDropout& Dropout) const {
  return FHandle && waveInGetDropout(FHandle, Index, &Dropout);
}

bool TMMCustomWaveIn::InputGone() const {
  return FHandle && waveInInputGone(FHandle);
}

int TMMCustomWaveIn::Position() {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!Has(wisOpened) || !f || FCloseRequest) return 0;
  MMTIME t{TIME_SAMPLES, {0}, 0};
  std::int64_t Samples = 0;
  if (waveInGetPosition(FHandle, &t, sizeof t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    Samples = t.u.sample;
  } else {
    t.wType = TIME_BYTES;
    Check(waveInGetPosition(FHandle, &t, sizeof t), "WaveInGetPosition:\n\r");
    Samples = BytesToSamples(f, static_cast<std::int32_t>(t.u.cb));
  }
  Samples += FWrapCount * FWrapBase;
  std::int64_t Value = SamplesToTimeFormat64(f, FTimeFormat, Samples);
  if (FMaxRecordTime > 0) Value = std::min<std::int64_t>(Value, FMaxRecordTime);
  return static_cast<int>(std::min<std::int64_t>(Value, INT32_MAX));
}

void TMMCustomWaveIn::Opened() {
  if (!Has(wisOpened)) Open();
}
void TMMCustomWaveIn::Closed() {
  Close();
}
void TMMCustomWaveIn::Started() {
  Start();
}
void TMMCustomWaveIn::Paused() {
  Pause();
}
void TMMCustomWaveIn::Restarted() {
  Restart();
}
void TMMCustomWaveIn::Stopped() {
  Stop();
}

bool WaveInRefusesFormat(TMMDeviceId Device, const WAVEFORMATEX& Format) {
  if (Device < MapperId || Device >= static_cast<TMMDeviceId>(waveInGetNumDevs())) return false;
  const std::uint32_t Number =
      Device == MapperId ? WAVE_MAPPER : static_cast<std::uint32_t>(Device);
  return waveInOpen(nullptr, Number, &Format, 0, 0, WAVE_FORMAT_QUERY) == WAVERR_BADFORMAT;
}

bool WaveInOpensForRecording(TMMDeviceId Device, const WAVEFORMATEX* Format) {
  try {
    TMMWaveIn Probe;
    Probe.SetDeviceID(Device);
    Probe.SetMode(TMMMode::mStereo);
    Probe.SetBitLength(TMMBits::b16Bit);
    Probe.SetSampleRate(44100);
    if (Format) Probe.SetPWaveFormat(Format);
    Probe.Open();
    Probe.Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velmar
