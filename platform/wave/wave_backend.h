// What a wave backend provides to the device function sets of wave_api.h: its
// devices and their capabilities, and streams that move the bytes. The function
// sets add the header queues, the I/O thread per open device and the
// notifications on top, the same for every backend.
//
// Streams are used by their device's I/O thread, except Interrupt, which any
// thread may call to make a waiting Read or Write return early.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mmresult.h"
#include "platform/wave/wave_format_ex.h"

namespace velmar {

struct TWaveDeviceCaps {
  std::string Name;       // cut to 31 characters in the capability records
  std::string WholeName;  // the same, never cut (empty: Name is whole)
  std::uint32_t Formats = 0;
  std::uint16_t Channels = 2;
  std::uint32_t DriverVersion = 0x0100;
};

// A stretch of the input that never reached the program: the device overran
// (it was not read in time and its buffer filled) or was suspended.
struct TInputDropout {
  std::int64_t AtFrame = 0;      // frames the stream had delivered since Start before it
  std::int64_t LostFrames = -1;  // how many frames were lost; -1 when the device cannot tell
  double AwaySeconds = 0;        // how long the stream was not read, or was suspended
  bool Suspended = false;        // the device was suspended (the machine slept), not overrun
  bool Gone = false;  // the device went away and came back; AwaySeconds is how long it was gone
};

// The dropouts of a capture stream since its Start, in order. Added by the
// stream's I/O thread, read by any thread; rare, so a lock does.
class TDropoutLog {
 public:
  void Clear() {
    std::lock_guard<std::mutex> L(FLock);
    FAll.clear();
    FCount = 0;
    FGone = false;
  }
  void Add(const TInputDropout& d) {
    std::lock_guard<std::mutex> L(FLock);
    FAll.push_back(d);
    FCount = FAll.size();
  }
  std::size_t Count() const { return FCount; }
  // The device is gone now and the stream waits for it to come back.
  void SetGone(bool Gone) { FGone = Gone; }
  bool Gone() const { return FGone; }
  TInputDropout At(std::size_t i) const {
    std::lock_guard<std::mutex> L(FLock);
    return i < FAll.size() ? FAll[i] : TInputDropout{};
  }

 private:
  mutable std::mutex FLock;
  std::vector<TInputDropout> FAll;
  std::atomic<std::size_t> FCount{0};
  std::atomic<bool> FGone{false};
};

class TCaptureStream {
 public:
  virtual ~TCaptureStream() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  // Waits for at least one frame (unless interrupted) and reads up to Max bytes
  // of whole frames; 0 when interrupted, -1 on an error the stream cannot recover.
  virtual int Read(char* Dest, std::uint32_t Max) = 0;
  virtual void Interrupt() = 0;
  virtual std::uint32_t Xruns() const { return 0; }
  // The input lost since Start (any thread; Count is cheap enough to ask per buffer).
  const TDropoutLog& Dropouts() const { return FDropouts; }
  // Injected faults: header number N (counted over the device's life) is never
  // returned; headers come back with at most this many bytes (0: full).
  virtual bool HoldsHeader(std::uint64_t) const { return false; }
  virtual std::uint32_t MaxBytesPerHeader() const { return 0; }
  // A source that fills the next header only after the one it returned last
  // was queued again: nothing is captured ahead of the chain, so a stop asked
  // for while a buffer is handled loses nothing (a file fed through a capture
  // device).
  virtual bool FillsOnDemand() const { return false; }
  // The next Reads wait until Requests reads of their size can be made (1 at
  // first): the audio of that many buffers then comes in one wake-up.
  virtual void SetBatch(std::uint32_t) {}
  // Whether Bytes can be read at once, without waiting (false when unknown).
  virtual bool Ready(std::uint32_t) { return false; }
  // At a stop: up to Max bytes of whole frames of what the stream has taken
  // in or the device holds now, without waiting (0: none, or a stream that
  // hands out its audio as it comes). What a batch was waiting to complete
  // was recorded before the stop and belongs to the recording.
  virtual int ReadHeld(char*, std::uint32_t) { return 0; }

 protected:
  TDropoutLog FDropouts;
};

class TPlaybackStream {
 public:
  virtual ~TPlaybackStream() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  // Plays up to Count bytes, waiting while the device is busy (unless
  // interrupted); returns the bytes taken, -1 on an unrecoverable error.
  virtual int Write(const char* Data, std::uint32_t Count) = 0;
  virtual void Interrupt() = 0;
  virtual std::uint32_t Xruns() const { return 0; }
  virtual bool HoldsHeader(std::uint64_t) const { return false; }
  // Frames taken but not yet heard (any thread); the position subtracts them.
  virtual std::int64_t Delay() { return 0; }
};

class TWaveBackend {
 public:
  virtual ~TWaveBackend() = default;
  virtual int CaptureCount() = 0;
  virtual TWaveDeviceCaps CaptureCaps(int Index) = 0;
  // With QueryOnly only tells whether the format can be opened.
  virtual MMRESULT OpenCapture(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                               std::unique_ptr<TCaptureStream>& Stream) = 0;
  virtual int PlaybackCount() = 0;
  virtual TWaveDeviceCaps PlaybackCaps(int Index) = 0;
  virtual MMRESULT OpenPlayback(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                                std::unique_ptr<TPlaybackStream>& Stream) = 0;
  // What a user should know before recording capture device Index at Rate
  // frames a second: a sound server in between that runs at another rate
  // (and resamples, not bit for bit), with how to avoid it; empty otherwise.
  virtual std::string CaptureRateNote(int /*Index*/, int /*Rate*/) { return {}; }
};

// CaptureRateNote of input device Device (-1 / WAVE_MAPPER: the first).
std::string WaveInRateNote(std::uint32_t Device, int Rate);

// The backends whose devices make up the device lists, in order (device 0 is the
// first device of the first backend; the wave mapper is device 0).
void SetWaveBackends(std::vector<std::shared_ptr<TWaveBackend>> Backends);
std::vector<std::shared_ptr<TWaveBackend>> WaveBackends();

}  // namespace velmar
