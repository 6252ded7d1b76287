// TMMWaveOut: plays a PCM stream on an output device. It pulls each buffer from
// its Input chain (BufferLoad), queues the filled buffers at the driver and, as
// each one has played, pushes it down its own Output chain (so that displays
// follow what is heard) and refills it. Buffers pushed into it from above are
// ignored. It loops a looping-capable source through the header's loop fields;
// the end of the source ends playback (OnStop on the main thread).
//
// Threads: as TMMWaveIn - properties and operations on the main thread, buffers
// on the thread CallBackMode selects, the source's BufferLoad on that thread too.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "stream/allocator.h"
#include "stream/device_notify.h"
#include "stream/errors.h"
#include "stream/sound_component.h"

namespace velmar {

enum TMMWaveOutStateBits : unsigned { wosClosed = 1, wosOpened = 2, wosStarted = 4, wosPaused = 8 };

class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;
  virtual std::int64_t Position() = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void Reset() = 0;
  virtual void Start() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  virtual void Stop() = 0;
};

class TMMWaveOut : public TMMCustomWaveOutComponent, private TMMDeviceSink {
 public:
  explicit TMMWaveOut(TComponent* AOwner = nullptr);
  ~TMMWaveOut() override;

  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

  void SetNumBuffers(int Value) override;
  int NumBuffers() const override { return FNumBuffers; }
  void SetDeviceID(TMMDeviceId Value) override;
  TMMDeviceId DeviceID() const override { return FDeviceID; }
  void SetProductName(const std::string&) override {}
  std::string ProductName() const override { return FProductName; }
  void SetCallBackMode(TMMCBMode Value) override;
  TMMCBMode CallBackMode() const override { return FCallBackMode; }
  void SetBufferSize(int Value) override;

  TMMTimeFormats TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(TMMTimeFormats Value) { FTimeFormat = Value; }
  bool Looping() const { return FLooping; }
  void SetLooping(bool Value);
  int LoopCount() const { return FLoopCount; }
  void SetLoopCount(int Value);
  bool ShowHourGlass() const { return FShowHourGlass; }
  void SetShowHourGlass(bool Value) { FShowHourGlass = Value; }
  bool Mapped() const { return FMapped; }
  void SetMapped(bool Value) { FMapped = Value; }
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority Value) { FPriority = Value; }

  int NumDevs() const { return FNumDevs; }
  unsigned State() const { return FState; }
  int InUse() const { return FInUse; }
  std::int64_t PlayedBytes() const { return FPlayedBytes; }
  // True while the first fill of a large ring runs (the busy indication).
  bool Busy() const { return FBusy; }

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
  TMMBufferEvent OnBufferFilled;

  std::int64_t Position() override;
  void Open() override;
  void Close() override;
  void Reset() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  void Opened() override { Open(); }
  void Closed() override { Close(); }
  void Started() override { Start(); }
  void Paused() override { Pause(); }
  void Restarted() override { Restart(); }
  void Stopped() override { Stop(); }
  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;
  // Pushes from above are ignored: this device pulls.
  void BufferReady(PWaveHdr) override {}

 protected:
  [[noreturn]] virtual void Error(const std::string& Text);

 private:
  std::uintptr_t NotifyHandle() const override { return FHandle; }
  void NotifyOpened() override { FState = wosOpened; }
  void NotifyClosed() override { FState = wosClosed; }
  bool AcceptBufferDone() override;
  bool StreamEnded() const override;
  void StopPosting() override;
  void BufferDone(PWaveHdr Header) override;
  void DeferredStop() override;
  void CloseAfterError() override;
  TThreadPriority WorkerPriority() const override { return FPriority; }

  static void DriverCallback(std::uintptr_t Handle, UINT Message, std::uintptr_t Instance,
                             std::uintptr_t Param1, std::uintptr_t Param2);
  void Check(std::uint32_t Result, const char* Prefix);
  void CheckReset(std::uint32_t Result);
  void WaitForState(unsigned Bit, int Rounds);
  bool LoadHeader(PWaveHdr h);
  void QueueHeader(PWaveHdr h);
  PWaveHdr RingHeader(int i);
  void DeviceStopped();
  void ReleaseHeaders();
  std::uint32_t DriverPosition();
  bool Has(unsigned Bit) const { return (FState & Bit) != 0; }

  TMMDeviceNotify FNotify;
  TMMAllocator FAllocator;
  std::atomic<std::uintptr_t> FHandle{0};
  std::atomic<unsigned> FState{wosClosed};
  std::array<PWaveHdr, 500> FHeaders{};
  int FBufIndex = 0;
  TMMCBMode FCallBackMode = TMMCBMode::cmWindow;
  std::atomic<std::uint32_t> FLastError{0};
  int FNumDevs = 0;
  TMMDeviceId FDeviceID = 0;
  std::string FProductName;
  std::atomic<bool> FCloseRequest{false}, FStopping{false}, FClosing{false}, FFlushing{false};
  std::atomic<bool> FMoreBuffers{false}, FBusy{false};
  bool FInDeferredStop = false;
  std::int32_t FLoopsLeft = 0;
  std::atomic<std::int64_t> FLoopBase{0}, FPauseBase{0}, FPlayedBytes{0}, FStopPosition{0};
  std::uint32_t FLastPos = 0;
  std::int64_t FWrapCount = 0;
  std::uint32_t FWrapBase = 0;
  std::atomic<int> FInUse{0}, FQueued{0};
  std::atomic<int> FPendingDone{0};  // accepted notifications not yet handled
  int FNumBuffers = 10;
  TMMTimeFormats FTimeFormat = TMMTimeFormats::tfByte;
  bool FLooping = false;
  int FLoopCount = 0;
  bool FShowHourGlass = true;
  bool FMapped = false;
  TThreadPriority FPriority = TThreadPriority::tpHigher;
};

// The product name of output device N, or "" when N is not -1 .. count - 1 or
// the query fails.
std::string WaveOutDeviceName(TMMDeviceId Device);

}  // namespace velmar
