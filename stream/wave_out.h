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
#include "stream/wave_device.h"

namespace velmar {

enum TMMWaveOutStateBits : unsigned {
  wosClosed = kDeviceClosed,
  wosOpened = kDeviceOpened,
  wosStarted = kDeviceStarted,
  wosPaused = kDevicePaused
};

// The abstract output device: its operations, which the chain notifications call.
class TMMCustomWaveOutComponent : public TMMCustomWaveDevice {
 public:
  using TMMCustomWaveDevice::TMMCustomWaveDevice;
  virtual std::int64_t Position() = 0;
  virtual void Open() = 0;
  void Close() override = 0;
  virtual void Reset() = 0;
  virtual void Start() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
};

class TMMWaveOut : public TMMCustomWaveOutComponent {
 public:
  explicit TMMWaveOut(TComponent* AOwner = nullptr);
  ~TMMWaveOut() override;

  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

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

  int InUse() const { return FInUse; }
  std::int64_t PlayedBytes() const { return FPlayedBytes; }
  // True while the first fill of a large ring runs (the busy indication).
  bool Busy() const { return FBusy; }

  TNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
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
  bool QueryCaps(TMMDeviceId Device, std::string& Name, std::uint32_t& Version) override;
  std::string PlatformErrorText(std::uint32_t Result) override;
  [[noreturn]] void Raise(const std::string& Text) override;

 private:
  bool AcceptBufferDone() override;
  bool StreamEnded() const override;
  void StopPosting() override;
  void BufferDone(PWaveHdr Header) override;

  void CheckReset(std::uint32_t Result);
  bool LoadHeader(PWaveHdr h);
  void QueueHeader(PWaveHdr h);
  void DeviceStopped();
  std::uint32_t DriverPosition();

  int FBufIndex = 0;
  std::atomic<bool> FCloseRequest{false}, FStopping{false}, FClosing{false}, FFlushing{false};
  std::atomic<bool> FMoreBuffers{false}, FBusy{false};
  std::int32_t FLoopsLeft = 0;
  std::atomic<std::int64_t> FLoopBase{0}, FPauseBase{0}, FPlayedBytes{0}, FStopPosition{0};
  std::uint32_t FLastPos = 0;
  std::int64_t FWrapCount = 0;
  std::uint32_t FWrapBase = 0;
  std::atomic<int> FInUse{0}, FQueued{0};
  std::atomic<int> FPendingDone{0};  // accepted notifications not yet handled
  TMMTimeFormats FTimeFormat = TMMTimeFormats::tfByte;
  bool FLooping = false;
  int FLoopCount = 0;
  bool FShowHourGlass = true;
  bool FMapped = false;
};

// The product name of output device N, or "" when N is not -1 .. count - 1 or
// the query fails.
std::string WaveOutDeviceName(TMMDeviceId Device);

}  // namespace velmar
