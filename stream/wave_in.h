// TMMWaveIn: the source of every recording. It opens a capture device through
// the wave function set, keeps a ring of buffers queued at the driver and
// pushes each filled buffer down its chain (BufferReady); MaxRecordTime stops it
// by itself after exactly that much audio.
//
// Threads: properties and the device operations (Open, Start, Pause, Restart,
// Stop, Close) run on the main thread. Buffers are handled on the thread that
// CallBackMode selects (the main thread, the driver's callback, or the device's
// worker thread); a stop requested while a handler runs completes after it, on
// the main thread (deferred stop). The device owns its buffer pool, hidden
// window and worker thread.
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

// The device state, a set of these bits.
enum TMMWaveInStateBits : unsigned { wisClosed = 1, wisOpened = 2, wisStarted = 4, wisPaused = 8 };

class TMMCustomWaveIn : public TMMCustomSoundComponent, private TMMDeviceSink {
 public:
  explicit TMMCustomWaveIn(TComponent* AOwner = nullptr);
  ~TMMCustomWaveIn() override;

  // Device properties.
  void SetNumBuffers(int Value) override;
  int NumBuffers() const override { return FNumBuffers; }
  void SetDeviceID(TMMDeviceId Value) override;
  TMMDeviceId DeviceID() const override { return FDeviceID; }
  void SetProductName(const std::string&) override {}  // writing has no effect
  std::string ProductName() const override { return FProductName; }
  void SetCallBackMode(TMMCBMode Value) override;
  TMMCBMode CallBackMode() const override { return FCallBackMode; }
  void SetBufferSize(int Value) override;

  TMMMode Mode() const { return FMode; }
  void SetMode(TMMMode Value);
  TMMBits BitLength() const { return FBitLength; }
  void SetBitLength(TMMBits Value);
  int SampleRate() const { return FSampleRate; }
  void SetSampleRate(int Value);
  TMMTimeFormats TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(TMMTimeFormats Value);
  int MaxRecordTime() const { return FMaxRecordTime; }
  void SetMaxRecordTime(int Value);
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority Value);

  int NumDevs() const { return FNumDevs; }
  std::uint32_t DriverVersion() const { return FDriverVersion; }
  unsigned State() const { return FState; }
  int LastError() const { return static_cast<int>(FLastError); }
  // Recording position in TimeFormat units.
  int Position();
  // Bytes delivered since Start.
  std::int64_t BytesRecorded() const { return FBytesRecorded; }

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

  // Device operations (main thread).
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();

  // The chain notifications drive the device operations.
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;
  void BufferReady(PWaveHdr lpWaveHdr) override;

 protected:
  // Fires OnError, then raises EMMWaveInError with Text.
  [[noreturn]] virtual void Error(const std::string& Text);

 private:
  // TMMDeviceSink
  std::uintptr_t NotifyHandle() const override { return FHandle; }
  void NotifyOpened() override { FState = wisOpened; }
  void NotifyClosed() override { FState = wisClosed; }
  void BufferDone(PWaveHdr Header) override;
  void DeferredStop() override;
  void CloseAfterError() override;
  TThreadPriority WorkerPriority() const override { return FPriority; }

  static void DriverCallback(std::uintptr_t Handle, UINT Message, std::uintptr_t Instance,
                             std::uintptr_t Param1, std::uintptr_t Param2);
  void CheckClosed() const;  // message 60 while opened
  void RebuildFormat();
  void ComputeMaxRecordBytes();
  bool FormatSupported();
  std::string ErrorText(std::uint32_t Result) const;
  void Check(std::uint32_t Result, const char* Prefix);
  void WaitForState(unsigned Bit);
  void QueueHeader(PWaveHdr h);
  void DeviceStopped();
  void DeviceClosed();
  void ReleaseHeaders();
  bool Has(unsigned Bit) const { return (FState & Bit) != 0; }

  TMMDeviceNotify FNotify;
  TMMAllocator FAllocator;
  std::atomic<std::uintptr_t> FHandle{0};
  std::atomic<unsigned> FState{wisClosed};
  std::array<PWaveHdr, 500> FHeaders{};
  int FBufIndex = 0;
  TMMCBMode FCallBackMode = TMMCBMode::cmWindow;
  std::atomic<std::uint32_t> FLastError{0};
  int FNumDevs = 0;
  TMMDeviceId FDeviceID = 0;
  std::string FProductName;
  std::uint32_t FDriverVersion = 0;
  std::atomic<bool> FCloseRequest{false}, FStopping{false}, FClosing{false}, FFlushing{false};
  std::atomic<std::int64_t> FBytesRecorded{0};
  std::uint32_t FLastPos = 0;
  std::int64_t FWrapCount = 0;
  std::uint32_t FWrapBase = 0;
  int FNumBuffers = 10;
  std::atomic<int> FQueued{0};
  TMMTimeFormats FTimeFormat = TMMTimeFormats::tfByte;
  WAVEFORMATEX FFormat{};
  TMMMode FMode = TMMMode::mMono;
  TMMBits FBitLength = TMMBits::b8Bit;
  int FSampleRate = 11025;
  int FMaxRecordTime = -1;
  std::atomic<std::int64_t> FMaxRecordBytes{INT32_MAX};
  bool FLimitReached = false;
  bool FInDeferredStop = false;  // main thread: completing a stop that a handler deferred
  TThreadPriority FPriority = TThreadPriority::tpHigher;
};

// The component placed on forms: publishes Output.
class TMMWaveIn : public TMMCustomWaveIn {
 public:
  explicit TMMWaveIn(TComponent* AOwner = nullptr) : TMMCustomWaveIn(AOwner) {
    PublishLinks(false, true);
  }
  using TMMDSPComponent::SetOutput;
};

// The product name of input device N, or "" when N is not -1 .. count - 1 or
// the query fails.
std::string WaveInDeviceName(TMMDeviceId Device);

}  // namespace velmar
