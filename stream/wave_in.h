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

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "platform/wave/wave_backend.h"
#include "stream/allocator.h"
#include "stream/device_notify.h"
#include "stream/errors.h"
#include "stream/sound_component.h"
#include "stream/wave_device.h"

namespace velmar {

// The device state, a set of these bits.
enum TMMWaveInStateBits : unsigned {
  wisClosed = kDeviceClosed,
  wisOpened = kDeviceOpened,
  wisStarted = kDeviceStarted,
  wisPaused = kDevicePaused
};

class TMMCustomWaveIn : public TMMCustomWaveDevice {
 public:
  explicit TMMCustomWaveIn(TComponent* AOwner = nullptr);
  ~TMMCustomWaveIn() override;

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

  // Filled buffers the device reports together (1: each as soon as it is
  // full; at most 32). A program that stores the audio and shows none of it
  // wakes less often with a few; displays keep 1. Lowered while recording, the
  // device reports what it holds at once (before a stop, which drops it).
  int Batch() const { return FBatch; }
  void SetBatch(int Value);

  // Recording position in TimeFormat units.
  int Position();
  // Bytes delivered since Start.
  std::int64_t BytesRecorded() const { return FBytesRecorded; }
  // The input the device lost since Start (overruns, a suspension): how many
  // stretches, and stretch i, placed by the bytes delivered before it (any thread).
  std::size_t DropoutCount() const;
  bool Dropout(std::size_t Index, TInputDropout& Dropout) const;
  // The device failed, or went away and is waited for (any thread).
  bool InputGone() const;

  TNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

  // Device operations (main thread).
  virtual void Open();
  void Close() override;
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  void Stop() override;

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
  bool QueryCaps(TMMDeviceId Device, std::string& Name, std::uint32_t& Version) override;
  std::string PlatformErrorText(std::uint32_t Result) override;
  [[noreturn]] void Raise(const std::string& Text) override;

 private:
  void BufferDone(PWaveHdr Header) override;

  void RebuildFormat();
  void ComputeMaxRecordBytes();
  bool FormatSupported();
  void QueueHeader(PWaveHdr h);
  void DeviceStopped();
  void DeviceClosed();

  int FBufIndex = 0;
  std::atomic<bool> FCloseRequest{false}, FStopping{false}, FClosing{false}, FFlushing{false};
  // While the chain opens, the device counts as closed to calls from the chain
  // (a wave file that reports its new file stops and closes its source).
  bool FOpening = false;
  std::atomic<std::int64_t> FBytesRecorded{0};
  std::uint32_t FLastPos = 0;
  std::int64_t FWrapCount = 0;
  std::uint32_t FWrapBase = 0;
  std::atomic<int> FQueued{0};
  TMMTimeFormats FTimeFormat = TMMTimeFormats::tfByte;
  WAVEFORMATEX FFormat{};
  TMMMode FMode = TMMMode::mMono;
  TMMBits FBitLength = TMMBits::b8Bit;
  int FSampleRate = 11025;
  int FMaxRecordTime = -1;
  std::atomic<std::int64_t> FMaxRecordBytes{INT32_MAX};
  bool FLimitReached = false;
  int FBatch = 1;
};

// The component placed on forms: publishes Output.
class TMMWaveIn : public TMMCustomWaveIn {
 public:
  explicit TMMWaveIn(TComponent* AOwner = nullptr) : TMMCustomWaveIn(AOwner) {
    PublishLinks(false, true);
  }
  // Closes before any part of the object goes: a handler still running on the
  // worker thread must not see the object change under it.
  ~TMMWaveIn() override {
    Destroying();
    CloseBeforeDestruction();
  }
  using TMMDSPComponent::SetOutput;
};

// The product name of input device N, or "" when N is not -1 .. count - 1 or
// the query fails.
std::string WaveInDeviceName(TMMDeviceId Device);

// True when input device N says it does not record Format (asked, not
// opened; a busy or missing device refuses nothing here).
bool WaveInRefusesFormat(TMMDeviceId Device, const WAVEFORMATEX& Format);

// True when input device N opens for recording at Format (stereo PCM; by
// default 44100 Hz, 16 bit).
bool WaveInOpensForRecording(TMMDeviceId Device, const WAVEFORMATEX* Format = nullptr);

}  // namespace velmar
