#include "stream/wave_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/application.h"
#include "platform/wave/wave_api.h"
#include "stream/messages.h"

namespace velmar {

namespace {
constexpr int kMaxBuffers = 500;
constexpr std::uint32_t kWaitMs = 10;
}  // namespace

void AwaitHeaderDone(WAVEHDR& h) {
  auto Out = [&] {
    const std::uint32_t f = LoadHeaderFlags(h);
    return (f & WHDR_INQUEUE) && !(f & WHDR_DONE);
  };
  for (int n = 0; n < 65000 && Out(); ++n) std::this_thread::yield();
  if (const std::uint32_t f = LoadHeaderFlags(h); f & WHDR_INQUEUE)
    StoreHeaderFlags(h, (f | WHDR_DONE) & ~WHDR_INQUEUE);
}

TMMCustomWaveDevice::TMMCustomWaveDevice(TComponent* AOwner, const TKind& Kind)
    : TMMCustomSoundComponent(AOwner),
      FNotify(*this, *this, Kind.Messages, Kind.WithFlush),
      FKind(Kind) {
  FNotify.Window();
}

TMMCustomWaveDevice::~TMMCustomWaveDevice() {
  FAllocator.FreeAll();
}

void TMMCustomWaveDevice::SetPriority(TThreadPriority Value) {
  FPriority = Value;
  FNotify.SetWorkerPriority(Value);
}

void TMMCustomWaveDevice::CloseBeforeDestruction() {
  Close();
  if (!FNotify.StopRequested()) return;
  FNotify.WaitForHandlers(INFINITE, InMainThread());
  DeferredStop();  // what the posted stop message would have done
}

void TMMCustomWaveDevice::InitDevices(int Count) {
  FNumDevs = Count;
  SetDeviceID(0);
}

std::uint32_t TMMCustomWaveDevice::DeviceNumber(TMMDeviceId Id) {
  return Id == MapperId ? WAVE_MAPPER : static_cast<std::uint32_t>(Id);
}

void TMMCustomWaveDevice::Error(const std::string& Text) {
  if (OnError) OnError(this);
  Raise(Text);
  std::abort();  // Raise always throws
}

void TMMCustomWaveDevice::Check(std::uint32_t Result, const char* Prefix) {
  FLastError = Result;
  if (Result != MMSYSERR_NOERROR) Error(Prefix + PlatformErrorText(Result));
}

void TMMCustomWaveDevice::SetNumBuffers(int Value) {
  if (Value <= 1 || Value == FNumBuffers) return;
  if (Has(kDeviceOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FNumBuffers = std::min(Value, kMaxBuffers);
}

void TMMCustomWaveDevice::SetBufferSize(int Value) {
  if (Value == TMMDSPComponent::BufferSize()) return;
  if (Has(kDeviceOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FAllocator.FreeAll();
  TMMDSPComponent::SetBufferSize(std::max(Value, 32));
}

void TMMCustomWaveDevice::SetDeviceID(TMMDeviceId Value) {
  if (Has(kDeviceOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FProductName = LibMessage(FKind.NoDeviceMessage);
  FDriverVersion = 0;
  if (FNumDevs > 0 && Value >= MapperId && Value < FNumDevs) {
    std::string Name;
    std::uint32_t Version = 0;
    if (QueryCaps(Value, Name, Version)) {
      FProductName = Name;
      FDriverVersion = Version;
    }
    FDeviceID = Value;
  } else {
    FDeviceID = InvalidId;
  }
}

void TMMCustomWaveDevice::SetCallBackMode(TMMCBMode Value) {
  if (Value == FCallBackMode) return;
  if (Has(kDeviceOpened)) Error(LibMessage(kMsgChangeWhileOpen));
  FCallBackMode = Value;  // a callback thread is an ordinary thread here: every mode is accepted
  FNotify.SetCallBackMode(Value);
}

void TMMCustomWaveDevice::WaitForState(unsigned Bit, int Rounds) {
  for (int i = 0; i < Rounds && !Has(Bit); ++i) Wait(kWaitMs, false);
}

PWaveHdr TMMCustomWaveDevice::RingHeader(int i) {
  const auto Size = static_cast<std::uint32_t>(RealBufferSize());
  if (!FHeaders[i]) {
    auto* h = static_cast<PWaveHdr>(FAllocator.Allocate(GMEM_ZEROINIT, Size + sizeof(TMMWaveHdr)));
    if (!h) Error(LibMessage(64));
    FHeaders[i] = h;
  }
  PWaveHdr h = FHeaders[i];
  std::memset(h, 0, sizeof(TMMWaveHdr));
  h->wh.lpData = reinterpret_cast<char*>(h) + sizeof(TMMWaveHdr);
  h->wh.dwBufferLength = Size;
  return h;
}

void TMMCustomWaveDevice::ReleaseHeaders() {
  for (PWaveHdr& h : FHeaders) {
    if (!h) continue;
    void* Block = h;
    FAllocator.Release(Block);
    h = nullptr;
  }
}

void TMMCustomWaveDevice::DriverCallback(std::uintptr_t Handle, UINT Message,
                                         std::uintptr_t Instance, std::uintptr_t Param1,
                                         std::uintptr_t) {
  reinterpret_cast<TMMCustomWaveDevice*>(Instance)->FNotify.Callback(Handle, Message, Handle,
                                                                     static_cast<LPARAM>(Param1));
}

void TMMCustomWaveDevice::DeferredStop() {
  FInDeferredStop = true;
  struct TDone {
    bool& f;
    ~TDone() { f = false; }
  } Done{FInDeferredStop};
  Stop();
}

void TMMCustomWaveDevice::CloseAfterError() {
  if (InMainThread())
    Close();
  else  // closing joins the delivery threads: the main thread does it
    PostMessage(FNotify.Window(), FKind.Messages.Stop, FHandle, kCloseAfterError);
}

}  // namespace velmar
