// TMMCustomWaveDevice: what the wave input and output devices share - device
// selection and product names, the ring settings and its header pool, the
// notification plumbing with the deferred stop, the driver callback, and error
// reporting through OnError and the device family's exception.
//
// Threads: as the devices (wave_in.h, wave_out.h); setters on the main thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "stream/allocator.h"
#include "stream/device_notify.h"
#include "stream/sound_component.h"

namespace velmar {

// Device state bits shared by both devices.
inline constexpr unsigned kDeviceClosed = 1, kDeviceOpened = 2, kDeviceStarted = 4,
                          kDevicePaused = 8;

class TMMCustomWaveDevice : public TMMCustomSoundComponent, protected TMMDeviceSink {
 public:
  ~TMMCustomWaveDevice() override;

  void SetNumBuffers(int Value) override;
  int NumBuffers() const override { return FNumBuffers; }
  void SetDeviceID(TMMDeviceId Value) override;
  TMMDeviceId DeviceID() const override { return FDeviceID; }
  void SetProductName(const std::string&) override {}  // writing has no effect
  std::string ProductName() const override { return FProductName; }
  void SetCallBackMode(TMMCBMode Value) override;
  TMMCBMode CallBackMode() const override { return FCallBackMode; }
  void SetBufferSize(int Value) override;
  TThreadPriority Priority() const { return FPriority; }
  // Applied to a running worker thread at once.
  void SetPriority(TThreadPriority Value);

  int NumDevs() const { return FNumDevs; }
  std::uint32_t DriverVersion() const { return FDriverVersion; }
  unsigned State() const { return FState; }
  int LastError() const { return static_cast<int>(FLastError); }

  TNotifyEvent OnError;

  virtual void Stop() = 0;

 protected:
  struct TKind {
    TMMNotifyMessages Messages;
    bool WithFlush;       // the output device's FlushEvent
    int NoDeviceMessage;  // library message naming a missing device
  };
  TMMCustomWaveDevice(TComponent* AOwner, const TKind& Kind);

  // Called by the device's constructor: the device count and device 0.
  void InitDevices(int Count);
  // Called by the device's destructor: closes the device; when a handler still
  // runs on another thread (its close deferred), waits for it without a limit
  // and completes the deferred stop and close, so that nothing of the device
  // goes while its worker or the platform's thread may still use it.
  void CloseBeforeDestruction();
  // The platform's capabilities of a device: false when the query fails.
  virtual bool QueryCaps(TMMDeviceId Device, std::string& Name, std::uint32_t& Version) = 0;
  virtual std::string PlatformErrorText(std::uint32_t Result) = 0;
  // Raises the family's exception with Text.
  [[noreturn]] virtual void Raise(const std::string& Text) = 0;

  // Fires OnError, then raises the family's exception.
  [[noreturn]] void Error(const std::string& Text);
  // Runs a device operation: on an error OnError fires and the device closes
  // before the error leaves. Bits are set in State (or replace it) for the
  // close, and State is closed afterwards.
  template <typename F>
  void Guarded(F&& Operation, unsigned Bits = 0, bool Replace = false) {
    try {
      Operation();
    } catch (...) {
      if (OnError) OnError(this);
      if (Bits) FState = Replace ? Bits : (FState | Bits);
      Close();
      if (Bits) FState = kDeviceClosed;
      throw;
    }
  }
  // A non-zero platform result becomes Error(Prefix + its text).
  void Check(std::uint32_t Result, const char* Prefix);
  void WaitForState(unsigned Bit, int Rounds);
  bool Has(unsigned Bit) const { return (FState & Bit) != 0; }
  // Ring slot i, allocated on first use with its data right after the header.
  PWaveHdr RingHeader(int i);
  void ReleaseHeaders();
  static void DriverCallback(std::uintptr_t Handle, UINT Message, std::uintptr_t Instance,
                             std::uintptr_t Param1, std::uintptr_t Param2);
  static std::uint32_t DeviceNumber(TMMDeviceId Id);

  // TMMDeviceSink
  std::uintptr_t NotifyHandle() const override { return FHandle; }
  void NotifyOpened() override { FState = kDeviceOpened; }
  void NotifyClosed() override { FState = kDeviceClosed; }
  void DeferredStop() override;
  void HandlerFailed() override {
    if (OnError) OnError(this);
  }
  void CloseAfterError() override;
  TThreadPriority WorkerPriority() const override { return FPriority; }
  virtual void Close() = 0;

  TMMDeviceNotify FNotify;
  TMMAllocator FAllocator;
  std::atomic<std::uintptr_t> FHandle{0};
  std::atomic<unsigned> FState{kDeviceClosed};
  std::array<PWaveHdr, 500> FHeaders{};
  std::atomic<std::uint32_t> FLastError{0};
  int FNumDevs = 0;
  TMMCBMode FCallBackMode = TMMCBMode::cmWindow;
  // Main thread: completing a stop that a handler deferred. Headers still coming
  // back from the reset meanwhile do not defer it again.
  bool FInDeferredStop = false;

 private:
  TKind FKind;
  TMMDeviceId FDeviceID = 0;
  std::string FProductName;
  std::uint32_t FDriverVersion = 0;
  int FNumBuffers = 10;
  TThreadPriority FPriority = TThreadPriority::tpHigher;
};

// Gives a header that is still out a last chance to come back (65000 checks),
// then takes it as done.
void AwaitHeaderDone(WAVEHDR& Header);

}  // namespace velmar
